#pragma once
// The production server in use: its address (from /tmp/serverip, else as the boot told it), and
// the models and firmware versions it offers.

#include <QObject>
#include <QString>
#include <QStringList>

class Logging;

class ServerHandler : public QObject
{
    Q_OBJECT
public:
    static ServerHandler *GetInstance();

    QString GetServerIp(bool refresh);
    void SetServerIp(const QString &address);
    bool VerifyServerIp(const QString &address);
    // What the production server offers: its models, and the firmware versions of one model.
    QStringList GetModels();
    QStringList GetVersions(const QString &model);
    // An IPv4 address in full dotted form (four numbers up to 255) or an IPv6 address; the
    // shorthand forms inet_aton takes ("10.1.2" for 10.1.0.2) are typing mistakes here.
    static bool IsValidAddress(const QString &address);
    // The server's address for a URL (an IPv6 address in brackets).
    QString UrlHost() const;

    QString serverIp;

private:
    ServerHandler();
    Logging *logger = nullptr;
};
