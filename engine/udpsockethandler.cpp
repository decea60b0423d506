#include "udpsockethandler.h"

#include <QHostAddress>
#include <QUdpSocket>

UdpSocketHandler::UdpSocketHandler(QObject *parent, quint16 bindPort)
    : QObject(parent), socket(new QUdpSocket(this)), localPort(bindPort), peerPort(PeerPort)
{
    // A port already taken (another engine or console) leaves this one deaf, nothing more.
    socket->bind(QHostAddress(QHostAddress::LocalHost), localPort);
    connect(socket, &QUdpSocket::readyRead, this, &UdpSocketHandler::onUdpData);
}

UdpSocketHandler *UdpSocketHandler::instance()
{
    static UdpSocketHandler *handler = new UdpSocketHandler();
    return handler;
}

bool UdpSocketHandler::isBound() const
{
    return socket->state() == QAbstractSocket::BoundState;
}

QStringList UdpSocketHandler::SplitDatagram(const QByteArray &datagram)
{
    const int zero = datagram.indexOf('\0');
    const QByteArray text = zero < 0 ? datagram : datagram.left(zero);
    return QString::fromLatin1(text).split('\n', Qt::SkipEmptyParts);
}

void UdpSocketHandler::onUdpData()
{
    // One datagram per notification; Qt signals again while more are pending.
    while (socket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(socket->pendingDatagramSize(), 0)), '\0');
        const qint64 got = socket->readDatagram(datagram.data(), datagram.size());
        if (got < 0)
            return;
        datagram.truncate(int(got));
        emit UdpDataReady(SplitDatagram(datagram));
    }
}

void UdpSocketHandler::SendMessageToPxeClient(const QString &text)
{
    socket->writeDatagram(text.toLatin1(), QHostAddress(QHostAddress::LocalHost), peerPort);
}
