#pragma once
// The engine's end of the loopback status channel: xblit sends each of its status lines as one
// datagram to 127.0.0.1:43850, where the engine turns percentages into gauge output and anything
// else into the status file.

#include <QObject>
#include <QStringList>

class QUdpSocket;

class UdpSocketHandler : public QObject
{
    Q_OBJECT
public:
    static const quint16 BindPort = 43850;
    static const quint16 PeerPort = 43851;

    explicit UdpSocketHandler(QObject *parent = nullptr);
    static UdpSocketHandler *instance();

    void SendMessageToPxeClient(const QString &text);
    bool isBound() const;
    // A datagram's bytes up to the first zero byte, as Latin-1, split at line ends with empty
    // pieces dropped.
    static QStringList SplitDatagram(const QByteArray &datagram);

signals:
    void UdpDataReady(QStringList lines);

public slots:
    void onUdpData();

private:
    QUdpSocket *socket;
    quint16 localPort;
    quint16 peerPort;
};
