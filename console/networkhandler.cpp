#include "networkhandler.h"

#include "logging.h"
#include "utils.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>

const QString NetworkHandler::PRIMARY_SERVER_IP = QStringLiteral("192.168.10.2");
const QString NetworkHandler::SECONDARY_SERVER_IP = QStringLiteral("192.168.10.3");
const QStringList NetworkHandler::PRODUCTION_PREFIXES = {QStringLiteral("192.168.10."), QStringLiteral("10.20.")};

NetworkHandler *NetworkHandler::GetInstance()
{
    static NetworkHandler *instance = new NetworkHandler();
    return instance;
}

NetworkHandler::NetworkHandler()
{
    GetNetworkInformation();
}

void NetworkHandler::GetNetworkInformation()
{
    const QByteArray name = Utils::ReadFileHead(QStringLiteral("/tmp/eth"), 256).trimmed();
    if (!name.isEmpty())
        interfaceName = QString::fromLatin1(name);
    const QStringList lines = Utils::ExecuteShell(QStringLiteral("ifconfig"), {interfaceName}, 60000);
    for (const QString &line : lines) {
        const QStringList words = line.trimmed().split(' ', Qt::SkipEmptyParts);
        if (line.contains(QLatin1String("netmask"))) {
            ipAddress = words.value(1);
            netmask = words.value(3);
        } else if (line.trimmed().startsWith(QLatin1String("ether"))) {
            macAddress = words.value(1);
        }
    }
    Utils::LogMsg(lines.join('\n') + "\n");
}

bool NetworkHandler::CheckServerIP(const QString &address)
{
    // Only a server address is checked: an empty one would ping the unit itself and pass, and
    // a word that is no address could read as one of ping's options.
    const QString target = address.trimmed();
    if (QHostAddress(target).isNull()) {
        Logging(2) << "CheckServerIP: no valid server address" << target;
        return false;
    }
    const QStringList lines = Utils::ExecuteShell(QStringLiteral("ping"),
        {QStringLiteral("-i1"), QStringLiteral("-c1"), QStringLiteral("-w1"), target}, 3000);
    return lines.join('\n').contains(QLatin1String("1 received, 0% packet loss"));
}

void NetworkHandler::QueryPxeServerIp()
{
    QString address = PRIMARY_SERVER_IP;
    defaultServerIp = PRIMARY_SERVER_IP;
    QFile file(QStringLiteral("/proc/cmdline"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString commandLine = QString::fromLatin1(file.readAll());
        static const QRegularExpression serverWord(QStringLiteral("prod[-_]server"));
        if (serverWord.match(commandLine).hasMatch()) {
            for (const QString &word : commandLine.split(' ')) {
                const int equals = word.indexOf('=');
                if (serverWord.match(word).hasMatch() && equals >= 0)
                    address = word.mid(equals + 1).trimmed();
            }
        }
    }
    if (address == PRIMARY_SERVER_IP) {
        const QString fromScript = Utils::ExecuteShell(QStringLiteral("server_ip.sh"), 60000).value(0);
        if (!fromScript.isEmpty())
            address = fromScript;
    }
    pxeServerIp = address;
}

QString NetworkHandler::GetPxeServerIp()
{
    QueryPxeServerIp();
    return pxeServerIp;
}
