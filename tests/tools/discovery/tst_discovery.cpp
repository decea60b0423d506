// discovery run as a real process in the sandbox's private network namespace: the datagram a
// real listener on port 52500 receives, the broadcast over an interface made here, and the
// sends the system refuses.
#include "sandbox.h"

#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

static const QByteArray PAYLOAD = QByteArray::fromHex("5854435201 4C4F46");

class TstDiscovery : public QObject
{
    Q_OBJECT

    QUdpSocket *listener = nullptr;

    // Everything that arrived, after a moment for a late or second copy to show up.
    QList<QByteArray> received()
    {
        QList<QByteArray> datagrams;
        listener->waitForReadyRead(2000);
        QThread::msleep(200);
        while (listener->hasPendingDatagrams()) {
            QByteArray d(int(listener->pendingDatagramSize()), '\0');
            d.truncate(int(listener->readDatagram(d.data(), d.size())));
            datagrams << d;
        }
        return datagrams;
    }

    static bool ip(const QString &args)
    {
        return Sandbox::run("ip", args.split(' ')).exitCode == 0;
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QCOMPARE(PAYLOAD.size(), 8);
        listener = new QUdpSocket(this);
        QVERIFY(listener->bind(QHostAddress(QHostAddress::AnyIPv4), 52500));
    }

    void directedToLoopback()
    {
        const Sandbox::Result r = Sandbox::run("discovery", {"127.0.0.1", "ignored"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("sent discovery to '127.0.0.1' - 8 bytes\n"));
        QCOMPARE(received(), QList<QByteArray>{PAYLOAD});
    }

    // Only loopback exists yet: the broadcast has no way out, the send fails and says -1.
    void broadcastWithoutNetwork()
    {
        const Sandbox::Result r = Sandbox::run("discovery", {});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("sent discovery broadcast - -1 bytes\n"));
        QCOMPARE(received(), QList<QByteArray>());
    }

    // A veth pair with a link-local address and a default route through it: the limited
    // broadcast goes out there, and the host's own copy reaches the listener once.
    void broadcastOnALink()
    {
        QVERIFY(ip("link add bcast0 type veth peer name bcast1"));
        QVERIFY(ip("addr add 169.254.77.1/16 dev bcast0"));
        QVERIFY(ip("link set bcast0 up"));
        QVERIFY(ip("link set bcast1 up"));
        QVERIFY(ip("route add default dev bcast0"));

        const Sandbox::Result r = Sandbox::run("discovery", {});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("sent discovery broadcast - 8 bytes\n"));
        QCOMPARE(received(), QList<QByteArray>{PAYLOAD});
    }

    void refusedDirectedSend_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("limited broadcast") << "255.255.255.255";
        QTest::newRow("subnet broadcast") << "169.254.255.255";
        QTest::newRow("unparsable, read as broadcast") << "no-such-host";
    }

    // A directed send sets no broadcast permission: the system refuses it, the line reports
    // -1 and the tool still exits 0.
    void refusedDirectedSend()
    {
        QFETCH(QString, address);
        const Sandbox::Result r = Sandbox::run("discovery", {address});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromLatin1(r.out), QStringLiteral("sent discovery to '%1' - -1 bytes\n").arg(address));
        QCOMPARE(received(), QList<QByteArray>());
    }

    void cleanupTestCase()
    {
        if (Sandbox::active())
            ip("link del bcast0");
    }
};

QTEST_GUILESS_MAIN(TstDiscovery)
#include "tst_discovery.moc"
