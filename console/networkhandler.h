#pragma once
// The unit's own network settings (as ifconfig prints them) and the production server's address
// as the boot told it: a kernel command-line word prod-server=/prod_server=, else server_ip.sh,
// else the built-in address.

#include <QObject>
#include <QString>

class NetworkHandler : public QObject
{
    Q_OBJECT
public:
    static NetworkHandler *GetInstance();

    void GetNetworkInformation();
    bool CheckServerIP(const QString &address);
    void QueryPxeServerIp();
    QString GetPxeServerIp();

    QString interfaceName = QStringLiteral("eth0");
    QString macAddress;
    QString ipAddress;
    QString netmask;
    QString pxeServerIp;
    QString defaultServerIp;

    // The production network's built-in addresses.
    static const QString PRIMARY_SERVER_IP;
    static const QString SECONDARY_SERVER_IP;
    static const QStringList PRODUCTION_PREFIXES;

private:
    NetworkHandler();
};
