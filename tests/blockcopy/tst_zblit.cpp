// zblit run as a real process in the sandbox: its gauge blocks on the error output, the status
// file, the LOG_FILE lines and the bytes it writes, for complete copies, invalid counts, open
// failures and real read and write errors.
#include "refusingdrive.h"
#include "resetsource.h"
#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

static const QString STATUS = QStringLiteral("/tmp/zstatus");
static const QString LOG = QStringLiteral("/tmp/zblit.log");
static const QStringList ENV{"RCV_STATUS=/tmp/zstatus", "LOG_FILE=/tmp/zblit.log", "-ZBLIT_MSG"};

class TstZblit : public QObject
{
    Q_OBJECT

    static QByteArray gauges(std::initializer_list<int> percents, const QByteArray &extra = QByteArray())
    {
        QByteArray text;
        for (int p : percents)
            text += "XXX\n" + QByteArray::number(p) + "\n" + (extra.isEmpty() ? QByteArray() : extra + "\n") + "XXX\n";
        return text;
    }

    static QByteArray complete(const QByteArray &extra = QByteArray())
    {
        return "XXX\n100\n" + extra + "  Complete\nXXX\n";
    }

    // The log's texts after checking the "[%m/%d/%y %H:%M:%S]  " stamp of every line; a text
    // that ends with its own line end leaves an empty line, kept here as "".
    static QStringList logTexts()
    {
        QStringList texts;
        const QRegularExpression stamp("^\\[\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\]  ");
        QStringList lines = QString::fromLocal8Bit(Sandbox::readFile(LOG)).split('\n');
        if (lines.last().isEmpty())
            lines.removeLast();
        for (const QString &line : lines) {
            if (line.isEmpty()) {
                texts << QString();
                continue;
            }
            if (!stamp.match(line).hasMatch())
                return {"no time stamp: " + line};
            texts << QString(line).remove(stamp);
        }
        return texts;
    }

    static Sandbox::Result zblit(const QStringList &args, const QStringList &env = ENV)
    {
        return Sandbox::run("zblit", args, QByteArray(), env);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        QVERIFY(Sandbox::run("bash", {"-c", "head -c 512000 /dev/urandom > /tmp/in"}).exitCode == 0);
    }

    void init()
    {
        for (const QString &f : {STATUS, LOG, QStringLiteral("/tmp/out")})
            QFile::remove(f);
    }

    // Count 4: the blocks 25, 50, 75 (0 is not shown), then 100 and Complete.
    void fourBlocks()
    {
        const Sandbox::Result r = zblit({"/dev/zero", "/tmp/out", "4"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, gauges({25, 50, 75}) + complete());
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(Sandbox::readFile("/tmp/out"), QByteArray(2048, '\0'));
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("75 percent completed"));
        QCOMPARE(logTexts(), (QStringList{"BlockCopy done, 4 blocks Written", "zblit complete result = 0", ""}));
    }

    // Count 1: no intermediate percentage, no status report.
    void oneBlock()
    {
        const Sandbox::Result r = zblit({"/dev/zero", "/tmp/out", "1"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, complete());
        QCOMPARE(Sandbox::readFile("/tmp/out"), QByteArray(512, '\0'));
        QVERIFY(!QFile::exists(STATUS));
        QCOMPARE(logTexts(), (QStringList{"BlockCopy done, 1 blocks Written", "zblit complete result = 0", ""}));
    }

    void thousandBlocksWithMessage()
    {
        const Sandbox::Result r = zblit({"/tmp/in", "/tmp/out", "1000"}, ENV + QStringList{"ZBLIT_MSG=Zeroing sda"});
        QCOMPARE(r.exitCode, 0);
        QByteArray expected;
        for (int p = 1; p <= 99; ++p)
            expected += gauges({p}, "Zeroing sda");
        QCOMPARE(r.err, expected + complete("Zeroing sda"));
        QVERIFY(Sandbox::readFile("/tmp/out") == Sandbox::readFile("/tmp/in"));
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("99 percent completed"));
    }

    void percentagesForAnyCount_data()
    {
        QTest::addColumn<qint64>("count");
        for (qint64 count : {3ll, 99ll, 101ll, 2049ll, 250007ll})
            QTest::newRow(qPrintable(QString::number(count))) << count;
    }

    // Large counts move in chunks internally; the gauge must not show it.
    void percentagesForAnyCount()
    {
        QFETCH(qint64, count);
        const Sandbox::Result r = zblit({"/dev/zero", "/tmp/out", QString::number(count)});
        QCOMPARE(r.exitCode, 0);
        QByteArray expected;
        qint64 max = 0;
        for (qint64 n = 0; n < count; ++n) {
            if (n * 100 / count > max) {
                max = n * 100 / count;
                expected += gauges({int(max)});
            }
        }
        QCOMPARE(r.err, expected + complete());
        QCOMPARE(QFileInfo("/tmp/out").size(), count * 512);
        QCOMPARE(logTexts().first(), QStringLiteral("BlockCopy done, %1 blocks Written").arg(count));
    }

    void invalidCount_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("missing") << QStringList{"/dev/zero", "/tmp/out"};
        QTest::newRow("zero") << QStringList{"/dev/zero", "/tmp/out", "0"};
        QTest::newRow("negative") << QStringList{"/dev/zero", "/tmp/out", "-5"};
        QTest::newRow("not a number") << QStringList{"/dev/zero", "/tmp/out", "abc"};
        QTest::newRow("four arguments") << QStringList{"/dev/zero", "/tmp/out", "10", "extra"};
        QTest::newRow("over 32 bits") << QStringList{"/dev/zero", "/tmp/out", "4294967297"};
    }

    // The invalid-size block and exit 1; a destination file keeps what it held.
    void invalidCount()
    {
        QFETCH(QStringList, args);
        QVERIFY(Sandbox::writeFile("/tmp/out", "precious"));
        const Sandbox::Result r = zblit(args);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QByteArray("XXX\n0\n\nInvalid file size.\nXXX\n"));
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("Invalid file size."));
        QCOMPARE(logTexts(), (QStringList{"Invalid file size.", "zblit complete result = 1", ""}));
        QCOMPARE(Sandbox::readFile("/tmp/out"), QByteArray("precious"));
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList{"/dev/zero"};
    }

    void usage()
    {
        QFETCH(QStringList, args);
        const Sandbox::Result r = zblit(args);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray("Usage : blit src dst [size]\n"));
        QVERIFY(!QFile::exists(STATUS));
        QVERIFY(!QFile::exists(LOG));
    }

    void openFailure_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("text");
        QTest::newRow("source") << QStringList{"/tmp/missing", "/tmp/out", "4"} << "Cannot open source '/tmp/missing'\n";
        QTest::newRow("destination") << QStringList{"/dev/zero", "/tmp/no/dir", "4"}
                                     << "Cannot open destination '/tmp/no/dir'\n";
    }

    // The message on standard output, in the status file as it is and in the log; the run never
    // got to the copy, so no result line.
    void openFailure()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, text);
        const Sandbox::Result r = zblit(args);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(QString::fromLocal8Bit(r.out), text);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(QString::fromLocal8Bit(Sandbox::readFile(STATUS)), text);
        QCOMPARE(logTexts(), (QStringList{text.trimmed(), ""}));
    }

    void withoutStatusOrLog()
    {
        const Sandbox::Result r = zblit({"/dev/zero", "/tmp/out", "2"}, {"-RCV_STATUS", "-LOG_FILE", "-ZBLIT_MSG"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, gauges({50}) + complete());
        QCOMPARE(QFileInfo("/tmp/out").size(), 1024);
        QVERIFY(!QFile::exists(STATUS));
        QVERIFY(!QFile::exists(LOG));
    }

    // The input ends first: what was read is written, nothing more, and the copy completes.
    void shortInput_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("gauge");
        QTest::addColumn<QString>("done");
        QTest::newRow("2.5 blocks") << 1280 << gauges({10, 20}) << "BlockCopy done, 3 blocks Written";
        QTest::newRow("2 blocks") << 1024 << gauges({10}) << "BlockCopy done, 2 blocks Written";
        QTest::newRow("empty") << 0 << QByteArray() << "BlockCopy done, 0 blocks Written";
    }

    void shortInput()
    {
        QFETCH(int, size);
        QFETCH(QByteArray, gauge);
        QFETCH(QString, done);
        const QByteArray data = Sandbox::readFile("/tmp/in").left(size);
        QVERIFY(Sandbox::writeFile("/tmp/short", data));
        const Sandbox::Result r = zblit({"/tmp/short", "/tmp/out", "10"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, gauge + complete());
        QCOMPARE(Sandbox::readFile("/tmp/out"), data);
        QCOMPARE(logTexts().first(), done);
    }

    void readErrors()
    {
        QVERIFY(QDir().mkpath("/tmp/a-directory"));
        Sandbox::Result r = zblit({"/tmp/a-directory", "/tmp/out", "10"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QByteArray("XXX\n0\nFailed to read block #0\nXXX\n"));
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("Failed to read block #0 (ERROR: 21 - Is a directory)"));
        QCOMPARE(logTexts(), (QStringList{"Failed to read block #0 (ERROR: 21 - Is a directory)",
                                          "zblit complete result = 1", ""}));

        // A connection that delivers 40 blocks and is then reset.
        init();
        const QByteArray data = Sandbox::readFile("/tmp/in").left(40 * 512);
        r = runWithResetInput("zblit - /tmp/out 100", data, ENV.mid(0, 2));
        QCOMPARE(r.exitCode, 1);
        QByteArray expected;
        for (int p = 1; p < 40; ++p)
            expected += gauges({p});
        QCOMPARE(r.err, expected + "XXX\n40\nFailed to read block #40\nXXX\n");
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("Failed to read block #40 (ERROR: 104 - Connection reset by peer)"));
        QVERIFY(Sandbox::readFile("/tmp/out") == data);
    }

    void writeErrorDeviceFull()
    {
        const Sandbox::Result r = zblit({"/dev/zero", "/dev/full", "10"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, QByteArray("XXX\n0\nFailed to write block #0\nXXX\n"));
        const QString failure = "Failed to write block #0 (ERROR: 28 - No space left on device)";
        QCOMPARE(QString::fromLatin1(Sandbox::readFile(STATUS)), failure);
        QCOMPARE(logTexts(), (QStringList{failure, "zblit complete result = 1", ""}));
    }

    // A wipe of a drive that refuses the data past its first 256 KiB once it leaves the page
    // cache: every write() succeeds, so only the flush can tell. The gauge never says Complete.
    void writeRefusedByTheDrive()
    {
        const RefusingDrive drive("refusing", 1024 * 1024, 256 * 1024);
        QVERIFY2(!drive.device().isEmpty(), "no loop device over readfault's file");
        const Sandbox::Result r = zblit({"/tmp/in", drive.device(), "1000"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(!r.err.contains("Complete"), r.err.right(200).constData());
        QVERIFY(r.err.endsWith("XXX\n99\nFailed to write block #1000\nXXX\n"));
        const QString failure = "Failed to write block #1000 (ERROR: 5 - Input/output error)";
        QCOMPARE(QString::fromLatin1(Sandbox::readFile(STATUS)), failure);
        QCOMPARE(logTexts(), (QStringList{failure, "zblit complete result = 1", ""}));
    }

    // A 64 KiB file system holds 128 blocks: the 129th write fails, at 12 percent of 1000.
    void writeErrorFileSystemFull()
    {
        QVERIFY(QDir().mkpath("/mnt/tiny"));
        QCOMPARE(Sandbox::run("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", "/mnt/tiny"}).exitCode, 0);
        const Sandbox::Result r = zblit({"/tmp/in", "/mnt/tiny/out", "1000"});
        const QByteArray written = Sandbox::readFile("/mnt/tiny/out");
        Sandbox::run("umount", {"/mnt/tiny"});
        QCOMPARE(r.exitCode, 1);
        QByteArray expected;
        for (int p = 1; p <= 12; ++p)
            expected += gauges({p});
        QCOMPARE(r.err, expected + "XXX\n12\nFailed to write block #128\nXXX\n");
        QCOMPARE(Sandbox::readFile(STATUS), QByteArray("Failed to write block #128 (ERROR: 28 - No space left on device)"));
        QVERIFY(written == Sandbox::readFile("/tmp/in").left(128 * 512));
    }
};

QTEST_GUILESS_MAIN(TstZblit)
#include "tst_zblit.moc"
