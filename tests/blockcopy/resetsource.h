#pragma once
// A real read error in the middle of a copy: the tool's standard input is a TCP connection whose
// peer sends some bytes and then resets it, so that the reads return those bytes and then fail
// with ECONNRESET.

#include "sandbox.h"

#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

// Runs the bash command line `command` with standard input connected to such a connection.
inline Sandbox::Result runWithResetInput(const QString &command, const QByteArray &data,
                                         const QStringList &env = QStringList())
{
    QTcpServer server;
    if (!server.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return Sandbox::Result();
    QProcess p;
    p.setProcessEnvironment(Sandbox::environment(env));
    p.start("bash", {"-c", QStringLiteral("exec %1 < /dev/tcp/127.0.0.1/%2").arg(command).arg(server.serverPort())});
    if (!p.waitForStarted(30000))
        return Sandbox::Result();
    if (server.waitForNewConnection(30000)) {
        QTcpSocket *peer = server.nextPendingConnection();
        peer->write(data);
        while (peer->bytesToWrite() > 0 && peer->waitForBytesWritten(10000)) {
        }
        // Closing with a zero linger time resets the connection instead of ending it.
        const struct linger abortive = {1, 0};
        setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        peer->abort();
    }
    return Sandbox::collect(p, 60000);
}
