#include "serverhandler.h"

#include "constants.h"
#include "logging.h"
#include "networkhandler.h"
#include "utils.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

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
            if (IsValidAddress(first))
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

QString ServerHandler::UrlHost() const
{
    return serverIp.contains(':') ? QStringLiteral("[%1]").arg(serverIp) : serverIp;
}

static QStringList fetchLines(const QString &url)
{
    // The URL is one argument: nothing in it can become another argument or an option.
    QStringList lines = Utils::ExecuteShell(QStringLiteral("wget"), {QStringLiteral("-q"), QStringLiteral("-O"),
                                                                     QStringLiteral("-"), url}, 60000);
    for (QString &line : lines)
        line = line.trimmed();   // servers answering with CR LF line ends
    return lines;
}

QStringList ServerHandler::GetModels()
{
    return fetchLines(QStringLiteral("http://%1/model.php").arg(UrlHost()));
}

QStringList ServerHandler::GetVersions(const QString &model)
{
    // A model name is data: percent-encoded, a blank or "&" in it stays part of the name.
    return fetchLines(QStringLiteral("http://%1/version.php?model=%2")
                          .arg(UrlHost(), QString::fromLatin1(QUrl::toPercentEncoding(model))));
}

bool ServerHandler::IsValidAddress(const QString &address)
{
    if (address.contains(':'))
        return QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol;
    static const QRegularExpression dotted(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = dotted.match(address);
    if (!match.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i)
        if (match.captured(i).toInt() > 255)
            return false;
    return true;
}
