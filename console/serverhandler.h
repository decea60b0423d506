#pragma once
// The production server in use: its address (from /tmp/serverip, else as the boot told it).

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

    QString serverIp;

private:
    ServerHandler();
    Logging *logger = nullptr;
};
