// BlockCopy on real loop drives and files: a drive into one file and into 1 GiB pieces and back
// (sparse drives keep it fast), the list copy's percentages over the combined size, and every
// way a copy can fail: unopenable ends, a source that ends early, a full destination.
#include "blockcopy.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

static const quint64 GiB = 1073741824ULL;

struct Run {
    int status = 0;
    int finished = 0;
    QStringList lines;
};

static Run runCopy(BlockCopy &copy)
{
    Run r;
    QSignalSpy finished(&copy, &BlockCopy::RunFinished);
    QObject ctx;
    QObject::connect(&copy, &BlockCopy::StatusReady, &ctx, [&](const QString &line) { r.lines << line; });
    copy.run();
    r.status = copy.getLastRunStatus();
    r.finished = finished.size();
    return r;
}

static bool sameBytes(const QString &a, const QString &b)
{
    return Sandbox::sh("cmp -s '" + a + "' '" + b + "'").exitCode == 0;
}

// Writes recognisable data at byte offsets of a file or device without touching the rest.
static void stamp(const QString &path, const QList<quint64> &offsets)
{
    for (quint64 off : offsets) {
        const QString cmd = QStringLiteral("head -c 70000 /dev/urandom | dd of='%1' bs=70000 count=1 iflag=fullblock seek=%2 conv=notrunc,nocreat "
                                           "status=none oflag=seek_bytes").arg(path).arg(off);
        QCOMPARE(Sandbox::sh(cmd).exitCode, 0);
    }
}

static QStringList percentLines(int from, int to, const QString &format)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << format.arg(i);
    return lines;
}

class TstBlockCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void driveToOneFileAndBack()
    {
        VirtualDrive drive("small", "64M");
        QVERIFY(drive.isValid());
        stamp(drive.device(), {0, 1000000, 64 * 1048576 - 70000});
        const quint64 size = 64 * 1048576ULL;

        BlockCopy copy;
        copy.SetParams(drive.device(), "/tmp/small.bin", size);
        Run r = runCopy(copy);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.finished, 1);
        QCOMPARE(r.lines, percentLines(1, 100, "%1.00 percent complete"));
        QVERIFY(sameBytes(drive.device(), "/tmp/small.bin"));
        QCOMPARE(QFileInfo("/tmp/small.bin").size(), qint64(size));
        // The empty stretches of the drive stay holes in the image.
        QVERIFY(Sandbox::sh("test $(du -k /tmp/small.bin | cut -f1) -lt 2048").exitCode == 0);

        // Back onto a blank drive.
        VirtualDrive blank("blank", "64M");
        QVERIFY(blank.isValid());
        QCOMPARE(Sandbox::sh("test -b " + blank.device() + " && head -c 67108864 /dev/zero | tr '\\0' 'x' | "
                             "dd of=" + blank.device() + " bs=1M iflag=fullblock conv=nocreat status=none").exitCode, 0);
        copy.SetParams("/tmp/small.bin", blank.device(), size);
        r = runCopy(copy);
        QCOMPARE(r.status, 0);
        QVERIFY(sameBytes(drive.device(), blank.device()));   // zeros written over the old x's too
    }

    void pieceBoundary()
    {
        // Exactly 1 GiB from a drive is one file; one block more makes pieces.
        VirtualDrive drive("edge", "1025M");
        QVERIFY(drive.isValid());
        stamp(drive.device(), {GiB - 70000, GiB});
        BlockCopy copy;
        copy.SetParams(drive.device(), "/tmp/edge.bin", GiB);
        QCOMPARE(runCopy(copy).status, 0);
        QCOMPARE(QFileInfo("/tmp/edge.bin").size(), qint64(GiB));
        QVERIFY(!QFile::exists("/tmp/edge.bin.000"));
        QFile::remove("/tmp/edge.bin");

        copy.SetParams(drive.device(), "/tmp/edge.bin", GiB + 512);
        const Run r = runCopy(copy);
        QCOMPARE(r.status, 0);
        QVERIFY(!QFile::exists("/tmp/edge.bin"));
        QCOMPARE(QFileInfo("/tmp/edge.bin.000").size(), qint64(GiB));
        QCOMPARE(QFileInfo("/tmp/edge.bin.001").size(), qint64(512));
        QVERIFY(!QFile::exists("/tmp/edge.bin.002"));
        QCOMPARE(r.lines, QStringList{"0 percent complete"} + percentLines(1, 100, "%1 percent complete"));
        QCOMPARE(Sandbox::sh("cat /tmp/edge.bin.000 /tmp/edge.bin.001 | cmp -s -n " + QString::number(GiB + 512)
                             + " - " + drive.device()).exitCode, 0);
        Sandbox::sh("rm -f /tmp/edge.bin.*");
    }

    void driveToPiecesAndBack()
    {
        // 2 GiB and 1 MiB: two whole pieces and a last one of 1 MiB, data across both borders.
        const quint64 size = 2 * GiB + 1048576;
        VirtualDrive drive("big", "2049M");
        QVERIFY(drive.isValid());
        stamp(drive.device(), {0, GiB - 30000, 2 * GiB - 30000, size - 70000});
        BlockCopy copy;
        copy.SetParams(drive.device(), "/tmp/big.bin", size);
        QElapsedTimer t;
        t.start();
        Run r = runCopy(copy);
        qInfo("2 GiB drive into pieces: %lld ms", t.elapsed());
        QCOMPARE(r.status, 0);
        QCOMPARE(QFileInfo("/tmp/big.bin.000").size(), qint64(GiB));
        QCOMPARE(QFileInfo("/tmp/big.bin.001").size(), qint64(GiB));
        QCOMPARE(QFileInfo("/tmp/big.bin.002").size(), qint64(1048576));
        QVERIFY(!QFile::exists("/tmp/big.bin.003"));
        // The pieces hold the drive's bytes: compared against the drive's image file.
        QCOMPARE(Sandbox::sh("cat /tmp/big.bin.000 /tmp/big.bin.001 /tmp/big.bin.002 | cmp -s - '"
                             + drive.image() + "'").exitCode, 0);

        // Back, by the list copy, into one file (holes kept): the same bytes again.
        copy.SetParams(QStringList{"/tmp/big.bin.000", "/tmp/big.bin.001", "/tmp/big.bin.002"}, "/tmp/big.back",
                       size, "/tmp/big.bin");
        r = runCopy(copy);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.lines, QStringList{"0 percent complete"} + percentLines(1, 100, "%1 percent complete"));
        QVERIFY(sameBytes("/tmp/big.back", drive.image()));
        Sandbox::sh("rm -f /tmp/big.bin.* /tmp/big.back");
    }

    void listCopyOntoADriveInOrder()
    {
        // Three pieces of different sizes: written in list order, percentages over the total.
        QCOMPARE(Sandbox::sh("head -c 100000 /dev/urandom > /tmp/l.000; head -c 200000 /dev/urandom > /tmp/l.001; "
                             "head -c 212000 /dev/urandom > /tmp/l.002").exitCode, 0);
        VirtualDrive drive("list", "1M");
        QVERIFY(drive.isValid());
        BlockCopy copy(QStringList{"/tmp/l.000", "/tmp/l.001", "/tmp/l.002"}, drive.device(), 512000);
        Run r = runCopy(copy);
        QVERIFY2(r.status == 0, qPrintable(r.lines.join(" | ")));
        QCOMPARE(r.lines, QStringList{"0 percent complete"} + percentLines(1, 100, "%1 percent complete"));
        QCOMPARE(Sandbox::sh("cat /tmp/l.000 /tmp/l.001 /tmp/l.002 | cmp -s -n 512000 - " + drive.device()).exitCode, 0);

        // A piece that cannot be read ends the copy: later bytes would land in the wrong place.
        copy.SetParams(QStringList{"/tmp/l.000", "/tmp/missing.001", "/tmp/l.002"}, drive.device(), 512000,
                       "/tmp/l");
        r = runCopy(copy);
        QCOMPARE(r.status, int(BlockCopy::SourceFailed));
        QVERIFY(r.lines.last().startsWith("ERROR Could not open source /tmp/missing.001"));
    }

    void failuresAreReported_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no source") << "/tmp/nothing" << "/tmp/out" << quint64(4096) << int(BlockCopy::SourceFailed)
                                   << "ERROR Could not open source /tmp/nothing";
        QTest::newRow("no destination") << "/tmp/src" << "/tmp/no/such/dir/out" << quint64(4096)
                                        << int(BlockCopy::CannotCreate) << "ERROR Could not open destination /tmp/no/such/dir/out";
        QTest::newRow("missing drive") << "/tmp/src" << "/dev/brenlow-no-such-drive" << quint64(4096)
                                       << int(BlockCopy::CannotCreate) << "ERROR Could not open destination /dev/brenlow-no-such-drive";
        QTest::newRow("short source") << "/tmp/src" << "/tmp/out" << quint64(1048576) << int(BlockCopy::SourceShort)
                                      << "ERROR /tmp/src ended after 300000 of 1048576 bytes";
        QTest::newRow("empty source") << "/tmp/empty" << "/tmp/out" << quint64(512) << int(BlockCopy::SourceShort)
                                      << "ERROR /tmp/empty ended after 0 of 512 bytes";
        QTest::newRow("unreadable source") << "/tmp" << "/tmp/out" << quint64(512) << int(BlockCopy::SourceFailed)
                                           << "ERROR Could not read /tmp after 0 bytes";
        QTest::newRow("nothing to copy") << "/tmp/src" << "/tmp/out" << quint64(0) << int(BlockCopy::SourceShort)
                                         << "ERROR No data to copy from /tmp/src";
        QTest::newRow("no source of pieces") << "/dev/nonexistent" << "/tmp/out" << GiB + 1 << int(BlockCopy::SourceFailed)
                                             << "ERROR Could not open source /dev/nonexistent";
        QTest::newRow("piece not creatable") << "/dev/zero" << "/tmp/no/dir/out" << GiB + 1 << int(BlockCopy::CannotCreate)
                                             << "ERROR Could not create /tmp/no/dir/out.000";
        QTest::newRow("list without destination") << "/tmp/src" << "/tmp/no/dir/out" << GiB + 1
                                                  << int(BlockCopy::CannotCreate) << "ERROR Could not open destination /tmp/no/dir/out";
    }
    void failuresAreReported()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(quint64, bytes);
        QFETCH(int, status);
        QFETCH(QString, message);
        QCOMPARE(Sandbox::sh("head -c 300000 /dev/urandom > /tmp/src; : > /tmp/empty").exitCode, 0);
        BlockCopy copy;
        if (QByteArray(QTest::currentDataTag()) == "list without destination")
            copy.SetParams(QStringList{"/tmp/src", "/tmp/src"}, destination, bytes, "/tmp/x");
        else
            copy.SetParams(source, destination, bytes);
        QElapsedTimer t;
        t.start();
        const Run r = runCopy(copy);
        QVERIFY(t.elapsed() < 10000);   // ends, never spins
        QCOMPARE(r.status, status);
        QCOMPARE(r.finished, 1);
        QVERIFY(!r.lines.isEmpty());
        QVERIFY2(r.lines.last().startsWith(message), qPrintable(r.lines.join(" | ")));
        QVERIFY(!QFile::exists("/dev/brenlow-no-such-drive"));
    }

    void fullDestinationIsAnOverrun()
    {
        VirtualDrive drive("tiny", "1M");
        QVERIFY(drive.isValid());
        QCOMPARE(Sandbox::sh("head -c 2097152 /dev/urandom > /tmp/two").exitCode, 0);
        BlockCopy copy("/tmp/two", drive.device(), 2097152);
        Run r = runCopy(copy);
        QCOMPARE(r.status, int(BlockCopy::Overrun));
        QCOMPARE(r.lines.last(), QString("ERROR DESTINATION OVERRUN"));

        copy.SetParams(QStringList{"/tmp/two", "/tmp/two"}, drive.device(), GiB + 1, "/tmp/two");
        r = runCopy(copy);
        QCOMPARE(r.status, int(BlockCopy::Overrun));
        QCOMPARE(r.lines.filter("OVERRUN").size(), 1);   // stops at the first
    }

    void smallByteCounts_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::newRow("1 byte") << quint64(1);
        QTest::newRow("1000 bytes") << quint64(1000);
        QTest::newRow("51199 bytes") << quint64(51199);
        QTest::newRow("51200 bytes") << quint64(51200);
        QTest::newRow("3 MiB") << quint64(3 * 1048576);
    }
    void smallByteCounts()
    {
        QFETCH(quint64, bytes);
        QCOMPARE(Sandbox::sh(QStringLiteral("head -c %1 /dev/urandom > /tmp/in").arg(bytes)).exitCode, 0);
        BlockCopy copy("/tmp/in", "/tmp/out", bytes);
        const Run r = runCopy(copy);
        QCOMPARE(r.status, 0);
        QVERIFY(sameBytes("/tmp/in", "/tmp/out"));
        // At most one line per percent, rising, ending at 100.
        QVERIFY(!r.lines.isEmpty() && r.lines.size() <= 100);
        int last = 0;
        for (const QString &line : r.lines) {
            QVERIFY(line.endsWith(".00 percent complete"));
            const int pct = line.section('.', 0, 0).toInt();
            QVERIFY(pct > last);
            last = pct;
        }
        QCOMPARE(last, 100);
    }

    void emptyDestination()
    {
        BlockCopy copy("/tmp/src", QString(), 512);
        const Run r = runCopy(copy);
        QCOMPARE(r.lines, QStringList{"ERROR: No destination specified"});
        QCOMPARE(r.finished, 0);
        QVERIFY(r.status != 0);
    }
};

QTEST_GUILESS_MAIN(TstBlockCopy)
#include "tst_blockcopy.moc"
