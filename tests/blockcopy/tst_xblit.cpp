// xblit run as a real process in the sandbox: the bytes it copies, the datagrams a real socket
// bound to 127.0.0.1:43850 receives, the status file, the operation log and the send log, for
// complete copies, short inputs, open failures and real read and write errors.
#include "refusingdrive.h"
#include "resetsource.h"
#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

static const QString STAMP = QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");
static const QString STATUS = QStringLiteral("/var/log/rcv_status");
static const QString LOG = QStringLiteral("/var/log/recovery.log");
static const QString SEND_LOG = QStringLiteral("/tmp/qudp-send.log");

class TstXblit : public QObject
{
    Q_OBJECT

    QUdpSocket *engine = nullptr;   // stands where the engine listens

    static QByteArray randomBytes(int size)
    {
        QByteArray bytes(size, '\0');
        QFile urandom("/dev/urandom");
        if (!urandom.open(QIODevice::ReadOnly) || urandom.read(bytes.data(), size) != size)
            return QByteArray();
        return bytes;
    }

    static QStringList percents(std::initializer_list<int> values)
    {
        QStringList lines;
        for (int v : values)
            lines << QStringLiteral(" %1 percent completed").arg(v);
        return lines;
    }

    // Every whole percentage reached while copying block by block, worked out the slow way.
    static QStringList percentsOf(quint64 count)
    {
        QStringList lines;
        qint64 last = -1;
        for (quint64 i = 0; i < count; ++i) {
            const qint64 p = qint64(i * 100 / count);
            if (p != last)
                lines << QStringLiteral(" %1 percent completed").arg(p);
            last = p;
        }
        lines << QStringLiteral(" 100 percent completed");
        return lines;
    }

    QStringList datagrams()
    {
        QStringList received;
        while (engine->hasPendingDatagrams()) {
            QByteArray d(int(engine->pendingDatagramSize()), '\0');
            d.truncate(int(engine->readDatagram(d.data(), d.size())));
            received << QString::fromLatin1(d);
        }
        return received;
    }

    static QStringList logLines(const QString &path = LOG)
    {
        return QString::fromLocal8Bit(Sandbox::readFile(path)).split('\n', Qt::SkipEmptyParts);
    }

    // The log lines without their time stamps, after checking that each has one.
    static QStringList unstamped(const QStringList &lines)
    {
        QStringList texts;
        const QRegularExpression stamp(STAMP);
        for (const QString &line : lines) {
            if (!stamp.match(line).hasMatch())
                return {"no time stamp: " + line};
            texts << QString(line).remove(stamp);
        }
        return texts;
    }

    static Sandbox::Result xblit(const QStringList &args, const QByteArray &input = QByteArray(),
                                 const QStringList &env = {"-RCV_STATUS", "-RCV_LOG"})
    {
        return Sandbox::run("xblit", args, input, env);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        engine = new QUdpSocket(this);
        QVERIFY(engine->bind(QHostAddress(QHostAddress::LocalHost), 43850));
        QVERIFY(Sandbox::writeFile("/tmp/in", randomBytes(1000 * 512)));
    }

    void init()
    {
        for (const QString &f : {STATUS, LOG, SEND_LOG, QStringLiteral("/tmp/out")})
            QFile::remove(f);
        datagrams();   // whatever an earlier case left
    }

    // Count 1000 to standard output: 512000 bytes, the percentages 0 to 99 once each, then 100;
    // each report a datagram, a send log line, and the last one the status file.
    void thousandBlocksToStandardOutput()
    {
        const Sandbox::Result r = xblit({"/tmp/in", "-", "1000"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.size(), 512000);
        QVERIFY(r.out == Sandbox::readFile("/tmp/in"));

        QStringList expected;
        for (int p = 0; p <= 100; ++p)
            expected << QStringLiteral(" %1 percent completed").arg(p);
        QCOMPARE(datagrams(), expected);
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray(" 100 percent completed\n"));
        QCOMPARE(unstamped(logLines()), QStringList{"BlockCopy done, 1000 blocks Written"});

        const QStringList sent = logLines(SEND_LOG);
        QCOMPARE(sent.size(), 102);
        QVERIFY2(QRegularExpression("^\\S*xblit /tmp/in - 1000$").match(sent.first()).hasMatch(), qPrintable(sent.first()));
        QCOMPARE(sent.at(1), QStringLiteral("Sent  0 percent completed 20 byte(s)"));
        QCOMPARE(sent.at(51), QStringLiteral("Sent  50 percent completed 21 byte(s)"));
        QCOMPARE(sent.last(), QStringLiteral("Sent  100 percent completed 22 byte(s)"));
    }

    void smallCounts_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("done");
        QTest::newRow("3") << "3" << percents({0, 33, 66, 100}) << 1536 << "BlockCopy done, 3 blocks Written";
        QTest::newRow("1") << "1" << percents({0, 100}) << 512 << "BlockCopy done, 1 blocks Written";
        QTest::newRow("0") << "0" << percents({100}) << 0 << "BlockCopy done, 0 blocks Written";
        QTest::newRow("no size") << "" << percents({100}) << 0 << "BlockCopy done, 0 blocks Written";
    }

    // Count 0 (or no count) copies nothing but still ends as a complete copy.
    void smallCounts()
    {
        QFETCH(QString, count);
        QFETCH(QStringList, reports);
        QFETCH(int, bytes);
        QFETCH(QString, done);
        QVERIFY(Sandbox::writeFile("/tmp/out", "old content"));
        QStringList args{"/tmp/in", "/tmp/out"};
        if (!count.isEmpty())
            args << count;
        const Sandbox::Result r = xblit(args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(datagrams(), reports);
        QCOMPARE(Sandbox::readFile("/tmp/out"), Sandbox::readFile("/tmp/in").left(bytes));
        QCOMPARE(Sandbox::readFile(STATUS), (reports.last() + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), QStringList{done});
    }

    void percentagesForAnyCount_data()
    {
        QTest::addColumn<quint64>("count");
        for (quint64 count : {7ull, 99ull, 100ull, 101ull, 333ull, 2049ull, 4097ull, 250007ull})
            QTest::newRow(qPrintable(QString::number(count))) << count;
    }

    // Large counts move in chunks internally; the reports must not show it.
    void percentagesForAnyCount()
    {
        QFETCH(quint64, count);
        const Sandbox::Result r =
            Sandbox::run("bash", {"-c", QStringLiteral("head -c %1 /dev/urandom | tee /tmp/big | xblit - /tmp/out %2")
                                            .arg(count * 512).arg(count)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(datagrams(), percentsOf(count));
        QVERIFY(Sandbox::readFile("/tmp/out") == Sandbox::readFile("/tmp/big"));
        QCOMPARE(unstamped(logLines()), QStringList{QStringLiteral("BlockCopy done, %1 blocks Written").arg(count)});
        QFile::remove("/tmp/big");
    }

    void statusAndLogPaths_data()
    {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("log");
        QTest::newRow("RCV_STATUS empty") << QStringList{"RCV_STATUS=", "RCV_LOG="} << STATUS << LOG;
        QTest::newRow("unset") << QStringList{"-RCV_STATUS", "-RCV_LOG"} << STATUS << LOG;
        QTest::newRow("set") << QStringList{"RCV_STATUS=/tmp/st", "RCV_LOG=/tmp/op.log"} << "/tmp/st" << "/tmp/op.log";
    }

    void statusAndLogPaths()
    {
        QFETCH(QStringList, env);
        QFETCH(QString, status);
        QFETCH(QString, log);
        const Sandbox::Result r = xblit({"/tmp/in", "/tmp/out", "2"}, QByteArray(), env);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(datagrams(), percents({0, 50, 100}));
        QCOMPARE(Sandbox::readFile(status), QByteArray(" 100 percent completed\n"));
        QCOMPARE(unstamped(logLines(log)), QStringList{"BlockCopy done, 2 blocks Written"});
        if (status != STATUS)
            QVERIFY(!QFile::exists(STATUS));
        if (log != LOG)
            QVERIFY(!QFile::exists(LOG));
    }

    // The input ends before the count: the copy ends there, writes exactly what was read (never
    // stale bytes of the block before) and reports no 100.
    void shortInput_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fromPipe");
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<QString>("done");
        QTest::newRow("2.5 blocks, file") << 1280 << false << percents({0, 10, 20}) << "BlockCopy done, 3 blocks Written";
        QTest::newRow("2.5 blocks, pipe") << 1280 << true << percents({0, 10, 20}) << "BlockCopy done, 3 blocks Written";
        QTest::newRow("2 blocks, file") << 1024 << false << percents({0, 10}) << "BlockCopy done, 2 blocks Written";
        QTest::newRow("empty, pipe") << 0 << true << QStringList() << "BlockCopy done, 0 blocks Written";
    }

    void shortInput()
    {
        QFETCH(int, size);
        QFETCH(bool, fromPipe);
        QFETCH(QStringList, reports);
        QFETCH(QString, done);
        const QByteArray data = Sandbox::readFile("/tmp/in").left(size);
        QVERIFY(Sandbox::writeFile("/tmp/short", data));
        const Sandbox::Result r = fromPipe ? xblit({"-", "/tmp/out", "10"}, data) : xblit({"/tmp/short", "/tmp/out", "10"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Sandbox::readFile("/tmp/out"), data);
        QCOMPARE(datagrams(), reports);
        QCOMPARE(unstamped(logLines()), QStringList{done});
    }

    void usageAndInvalidSize_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no argument") << QStringList() << "Usage : ";
        QTest::newRow("one argument") << QStringList{"/tmp/in"} << "Usage : ";
        QTest::newRow("letters") << QStringList{"/tmp/in", "/tmp/out", "ten"} << "Invalid size";
        QTest::newRow("negative") << QStringList{"/tmp/in", "/tmp/out", "-1"} << "Invalid size";
        QTest::newRow("over 32 bits") << QStringList{"/tmp/in", "/tmp/out", "4294967296"} << "Invalid size";
        QTest::newRow("fraction") << QStringList{"/tmp/in", "/tmp/out", "1.5"} << "Invalid size";
    }

    // Messages on the debug output only; nothing opened, copied or reported.
    void usageAndInvalidSize()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Sandbox::Result r = xblit(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message.toLatin1()), r.err.constData());
        QVERIFY2(r.err.contains("src dst [size"), r.err.constData());
        QVERIFY(!QFile::exists("/tmp/out"));
        QVERIFY(!QFile::exists(STATUS));
        QVERIFY(!QFile::exists(LOG));
        QCOMPARE(datagrams(), QStringList());
    }

    void openFailure_data()
    {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<QString>("line");
        QTest::newRow("source") << "/tmp/no such file" << "/tmp/out" << "Could Not open /tmp/no such file";
        QTest::newRow("destination") << "/tmp/in" << "/tmp/no/dir/out" << "Could Not open /tmp/no/dir/out";
    }

    // One log line, the status file untouched, no datagram, exit 1.
    void openFailure()
    {
        QFETCH(QString, src);
        QFETCH(QString, dst);
        QFETCH(QString, line);
        QVERIFY(Sandbox::writeFile(STATUS, "earlier status\n"));
        const Sandbox::Result r = xblit({src, dst, "10"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(unstamped(logLines()), QStringList{line});
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("earlier status\n"));
        QCOMPARE(datagrams(), QStringList());
    }

    void readErrorAtFirstBlock()
    {
        QVERIFY(QDir().mkpath("/tmp/a-directory"));
        const Sandbox::Result r = xblit({"/tmp/a-directory", "/tmp/out", "10"});
        QCOMPARE(r.exitCode, 1);
        const QString failure = "Failed to read block #0 (ERROR: 21 - Is a directory)";
        QCOMPARE(datagrams(), QStringList{failure});
        QCOMPARE(Sandbox::readFile(STATUS), (failure + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), QStringList{failure});
        QCOMPARE(Sandbox::readFile("/tmp/out"), QByteArray());
    }

    // The connection delivers 40 blocks, then is reset: those 40 are copied and reported, the
    // 41st fails with the block number, errno and text.
    void readErrorMidCopy()
    {
        const QByteArray data = Sandbox::readFile("/tmp/in").left(40 * 512);
        const Sandbox::Result r = runWithResetInput("xblit - /tmp/out 100", data);
        QCOMPARE(r.exitCode, 1);
        QStringList expected;
        for (int p = 0; p < 40; ++p)
            expected << QStringLiteral(" %1 percent completed").arg(p);
        const QString failure = "Failed to read block #40 (ERROR: 104 - Connection reset by peer)";
        expected << failure;
        QCOMPARE(datagrams(), expected);
        QCOMPARE(Sandbox::readFile(STATUS), (failure + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), QStringList{failure});
        QVERIFY(Sandbox::readFile("/tmp/out") == data);
    }

    void writeErrorDeviceFull()
    {
        const Sandbox::Result r = xblit({"/tmp/in", "/dev/full", "10"});
        QCOMPARE(r.exitCode, 1);
        const QString failure = "Failed to write block #0 (ERROR: 28 - No space left on device)";
        QCOMPARE(datagrams(), QStringList{failure});
        QCOMPARE(Sandbox::readFile(STATUS), (failure + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), (QStringList{"0 blocks Written", failure}));
    }

    // A drive that refuses the data past its first 256 KiB once it leaves the page cache: every
    // write() call succeeds, so only the flush before "done" can tell. Nothing is complete.
    void writeRefusedByTheDrive()
    {
        const RefusingDrive drive("refusing", 1024 * 1024, 256 * 1024);
        QVERIFY2(!drive.device().isEmpty(), "no loop device over readfault's file");
        const Sandbox::Result r = xblit({"/tmp/in", drive.device(), "1000"});
        QCOMPARE(r.exitCode, 1);
        const QString failure = "Failed to write block #1000 (ERROR: 5 - Input/output error)";
        const QStringList sent = datagrams();
        QCOMPARE(sent.value(sent.size() - 1), failure);
        QVERIFY(!sent.contains(" 100 percent completed"));
        QCOMPARE(Sandbox::readFile(STATUS), (failure + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), (QStringList{"1000 blocks Written", failure}));
    }

    // A 64 KiB file system holds 128 blocks: the 129th write fails.
    void writeErrorFileSystemFull()
    {
        QVERIFY(QDir().mkpath("/mnt/tiny"));
        QCOMPARE(Sandbox::run("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", "/mnt/tiny"}).exitCode, 0);
        const Sandbox::Result r = xblit({"/tmp/in", "/mnt/tiny/out", "1000"});
        const QByteArray written = Sandbox::readFile("/mnt/tiny/out");
        Sandbox::run("umount", {"/mnt/tiny"});
        QCOMPARE(r.exitCode, 1);
        QStringList expected;
        for (int p = 0; p <= 12; ++p)
            expected << QStringLiteral(" %1 percent completed").arg(p);
        const QString failure = "Failed to write block #128 (ERROR: 28 - No space left on device)";
        expected << failure;
        QCOMPARE(datagrams(), expected);
        QCOMPARE(Sandbox::readFile(STATUS), (failure + "\n").toLatin1());
        QCOMPARE(unstamped(logLines()), (QStringList{"128 blocks Written", failure}));
        QVERIFY(written == Sandbox::readFile("/tmp/in").left(128 * 512));
    }

    // A reader that goes away is a write error the engine hears about, not a silent death.
    void readerGoesAway()
    {
        const Sandbox::Result r = Sandbox::run(
            "bash", {"-c", "head -c 10000000 /dev/zero | xblit - - 20000 | head -c 1000 >/dev/null; exit ${PIPESTATUS[1]}"});
        QCOMPARE(r.exitCode, 1);
        const QString status = QString::fromLatin1(Sandbox::readFile(STATUS));
        QVERIFY2(QRegularExpression("^Failed to write block #\\d+ \\(ERROR: 32 - Broken pipe\\)\n$").match(status).hasMatch(),
                 qPrintable(status));
        const QStringList received = datagrams();
        QVERIFY(!received.isEmpty());
        QCOMPARE(received.last() + "\n", status);
    }
};

QTEST_GUILESS_MAIN(TstXblit)
#include "tst_xblit.moc"
