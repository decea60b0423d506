#include "serverhandler.h"

#include "constants.h"
#include "logging.h"
#include "networkhandler.h"
#include "utils.h"

#include <QFile>
#include <QHostAddress>

ServerHandler *ServerHandler::GetInstance()
{
    static ServerHandler *instance = new ServerHandler();
    return instance;
}

ServerHandler::ServerHandler() : logger(Logging::GetInstance(7, false))
{
    GetServerIp(false);
}

QString ServerHandler::GetServerIp(bool refresh)
{
    if (refresh) {
        serverIp.clear();
        for (const QString &path : {SERVER_IP_FILE, SERVER_LIST_FILE, SERVER_ALT_LIST_FILE})
            QFile::remove(path);
        Utils::ExecuteShell(QStringLiteral("rm"), {QStringLiteral("-rf"), SERVER_IP_FILE, SERVER_LIST_FILE,
                                                   SERVER_ALT_LIST_FILE}, 60000);
    }
    Logging(2) << "start server ip " << serverIp;
    if (serverIp.isEmpty()) {
        Logging(2) << "Get Server IP";
        QFile file(SERVER_IP_FILE);
        if (file.open(QIODevice::ReadOnly)) {
            Logging(2) << "Read server IP from SERVER_IP_FILE";
            const QString content = QString::fromLatin1(file.read(4096));
            Logging(2) << "server file" << content;
            const QString first = content.split('\n').value(0).trimmed();
            QHostAddress address;
            if (address.setAddress(first))
                serverIp = first;
        } else {
            serverIp = NetworkHandler::GetInstance()->GetPxeServerIp();
        }
    }
    Logging(2) << "server ip " << serverIp;
    return serverIp;
}

void ServerHandler::SetServerIp(const QString &address)
{
    serverIp = address;
}

bool ServerHandler::VerifyServerIp(const QString &address)
{
    return NetworkHandler::GetInstance()->CheckServerIP(address.isEmpty() ? serverIp : address);
}
