// xblit src dst [size]: copies size 512-byte blocks from src to dst ("-" for standard input or
// output) and reports its progress to the engine over the status channel.
#include "blockcopy.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>

#include <csignal>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    if (args.size() < 3) {
        qDebug() << "arguments" << args;
        qDebug().noquote() << QStringLiteral("Usage : %1 src dst [size]").arg(args.value(0));
        return 1;
    }

    // A reader that goes away (gzip failing) must end in a reported write error, not in a
    // silent death by signal.
    signal(SIGPIPE, SIG_IGN);

    BlockCopy copy;
    copy.WriteToLog(args.join(QLatin1Char(' ')), copy.sendLogPath(), false);

    quint32 count = 0;
    if (args.size() > 3) {
        bool ok = false;
        count = args.at(3).toUInt(&ok, 10);
        if (!ok) {
            qDebug().noquote() << "Invalid size "
                               << QStringLiteral("Usage : %1 src dst [size in 512 byte blocks]").arg(args.value(0));
            return 1;
        }
    }
    return copy.Start(args.at(1), args.at(2), count) ? 0 : 1;
}
