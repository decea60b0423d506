#pragma once
// One end of the loopback status channel. The engine binds 43850: xblit sends each of its status
// lines there as one datagram, and the engine turns percentages into gauge output and anything
// else into the status file. The console binds 43860 for status lines from outside senders and
// feeds them into its progress line protocol. Both bind 127.0.0.1 only: no other host may drive
// either.

#include <QObject>
#include <QStringList>

class QUdpSocket;

class UdpSocketHandler : public QObject
{
    Q_OBJECT
public:
    static const quint16 BindPort = 43850;
    static const quint16 PeerPort = 43851;
    static const quint16 ConsolePort = 43860;

    explicit UdpSocketHandler(QObject *parent = nullptr, quint16 bindPort = BindPort);
    // The engine's process-wide instance (bound to BindPort).
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
