// vaultine's command line and run control, run as a real process in the sandbox: options and
// exit statuses, the single-instance protection, the debug log's run header, the status-socket
// test mode and the delete command.
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QtTest>

static const QString STAMP = QStringLiteral("\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");
static const QString DIVLINE(86, '-');

class TstVaultine : public QObject
{
    Q_OBJECT

    static QString debugLog() { return QString::fromLocal8Bit(Sandbox::readFile("/var/log/vtl_debug.log")); }

    static void touch(const QString &path, const QByteArray &content = "x")
    {
        QVERIFY(Sandbox::writeFile(path, content));
    }

    static QStringList filesIn(const QString &dir)
    {
        return QDir(dir).entryList(QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho loop9\n");
    }

    void init()
    {
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_status",
                                 "/var/log/vtl_pid", "/tmp/stop-udp"})
            QFile::remove(f);
        QFile::remove(Sandbox::doublesDir() + "/sync");
    }

    void helpPrintsTheOptionTable()
    {
        const Sandbox::Result r = Sandbox::run("vaultine", {"--help"});
        QCOMPARE(r.exitCode, 0);
        const QString help = QString::fromLocal8Bit(r.out).simplified();
        for (const char *text : {"Backup/Restore Utility",
                                 "-b, --backup <type> Backup drive to image <bim/bin>(do not resize partition)",
                                 "-r, --restore <type> Restore drive from image <bim/bin> without reordering partition or expansion.",
                                 "-c, --clone <type> Clone/Backup drive to image <bim/bin> (resize ntfs partition)",
                                 "-d, --deploy <type> Deploy/Restore image <bim/bin> to drive Partition table may be reordered and data partition will be expanded.",
                                 "-a, --analyze Analyze bim/gptb <file>.", "-s, --show Show current Partition Table.",
                                 "-u, --udp Test udpsocket.",
                                 "-t, --trash Delete specified image. USE WITH CAUTION it will not prompt",
                                 "image name of image to be processed",
                                 "chunk-Size: For Backup/Clone, Size in MB of chunks for splitting backup files",
                                 "part-table: For Restore, Restore partition table only (Y/N)"})
            QVERIFY2(help.contains(QString(text).simplified()), text);
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("pidFileLeft");
        QTest::newRow("unknown option") << QStringList{"-z"} << 1 << false;
        QTest::newRow("no image name") << QStringList{"-b", "bim"} << 0 << false;
        QTest::newRow("type word alone") << QStringList{"-a", "bim"} << 0 << false;
        // The help ends the run: no pid file of a finished process is left behind.
        QTest::newRow("bad type word") << QStringList{"-b", "xyz", "/tmp/x.bim"} << 0 << false;
        QTest::newRow("bad type case") << QStringList{"-r", "BIM", "/tmp/x.bim"} << 0 << false;
        QTest::newRow("no operation") << QStringList{"/tmp/x.bim"} << 0 << false;
        QTest::newRow("trash of nothing") << QStringList{"-t", "/tmp/none.bim"} << 0 << false;
    }
    void exitStatuses()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(bool, pidFileLeft);
        const Sandbox::Result r = Sandbox::run("vaultine", args);
        QCOMPARE(r.exitCode, status);
        QCOMPARE(QFile::exists("/var/log/vtl_pid"), pidFileLeft);
    }

    // The first option set wins in the order deploy, restore, backup, clone. Each run here fails
    // before any drive is written (no such set, no such drive), and the shell sees the low 8 bits
    // of the engine's code.
    void operationsDispatchAndFail_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("backup") << QStringList{"-b", "bim", "/tmp/x.bim"} << (1012 & 255) << "Backing up nosuchdisk";
        QTest::newRow("clone") << QStringList{"-c", "bin", "/tmp/x.bin"} << (1012 & 255) << "Cloning nosuchdisk";
        QTest::newRow("restore") << QStringList{"-r", "bim", "/tmp/x.bim"} << (1004 & 255) << "Restoring x.bim to /dev/nosuchdisk";
        QTest::newRow("deploy before backup") << QStringList{"-b", "bim", "-d", "bim", "/tmp/x.bim"} << (1004 & 255)
                                              << "Deploying x.bim to /dev/nosuchdisk";
        QTest::newRow("restore before clone") << QStringList{"-c", "bim", "-r", "bim", "/tmp/x.bim"} << (1004 & 255)
                                              << "Restoring x.bim to /dev/nosuchdisk";
        QTest::newRow("binary restore") << QStringList{"-r", "bin", "/tmp/x.bin.000"} << (1004 & 255) << "Could not find x.bin";
    }
    void operationsDispatchAndFail()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho nosuchdisk\n");
        const Sandbox::Result r = Sandbox::run("vaultine", args, QByteArray(), {"GUI_TYPE=Q", "-HDD"});
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho loop9\n");
        QCOMPARE(r.exitCode, status);
        QVERIFY2(r.out.contains(message.toLatin1()), r.out.constData());
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
        QVERIFY(!QFile::exists("/var/log/vtl_pid"));
    }

    void runHeaderAndEnvironment()
    {
        // sync is the first program the delete command runs: let it report what it inherited.
        Sandbox::writeDouble("sync", "#!/bin/sh\necho \"$RCV_STATUS|$RCV_LOG\" >> /tmp/sync-env\n");
        QFile::remove("/tmp/sync-env");
        const Sandbox::Result r = Sandbox::run("vaultine", {"-t", "/tmp/none.bim"}, QByteArray(),
                                               {"-RCV_STATUS", "RCV_LOG="});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Sandbox::readFile("/tmp/sync-env"),
                 QByteArray("/var/log/rcv_status|/var/log/recovery.log\n/var/log/rcv_status|/var/log/recovery.log\n"));
        QVERIFY(r.err.contains("Could not delete /tmp/none.bim*"));

        const QString bin = Sandbox::binDir() + "/vaultine";
        const QRegularExpression log(QStringLiteral("\\A\n\n\n") + DIVLINE + "\n" + STAMP
                                     + QRegularExpression::escape(bin) + " -t /tmp/none.bim\n"
                                     + "My IP =127\\.0\\.0\\.1, Address=00:00:00:00:00:00\n"
                                     + STAMP + QRegularExpression::escape(bin) + " DONE \n" + DIVLINE + "\n\\z");
        QVERIFY2(log.match(debugLog()).hasMatch(), qPrintable(debugLog()));

        // Another environment is passed on untouched.
        QFile::remove("/tmp/sync-env");
        Sandbox::run("vaultine", {"-t", "/tmp/none.bim"}, QByteArray(), {"RCV_STATUS=/tmp/st", "RCV_LOG=/tmp/lg"});
        QCOMPARE(Sandbox::readFile("/tmp/sync-env"), QByteArray("/tmp/st|/tmp/lg\n/tmp/st|/tmp/lg\n"));
    }

    void livePidFileStopsTheRun()
    {
        QProcess other;
        other.start("sleep", {"30"});
        QVERIFY(other.waitForStarted());
        const QByteArray pidLine = QByteArray::number(other.processId()) + "\n";
        Sandbox::writeFile("/var/log/vtl_pid", pidLine);
        Sandbox::writeFile("/var/log/recovery.log", "earlier run\n");
        Sandbox::writeFile("/var/log/rcv_status", "Completed successfully\n");
        Sandbox::writeFile("/tmp/y.bim", "keep");

        const Sandbox::Result r = Sandbox::run("vaultine", {"-t", "/tmp/y.bim"});
        other.kill();
        other.waitForFinished();
        const QString bin = Sandbox::binDir() + "/vaultine";
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(QString::fromLocal8Bit(r.err), bin + " is running another process\n");
        QVERIFY(QFile::exists("/tmp/y.bim"));
        QCOMPARE(Sandbox::readFile("/var/log/recovery.log"), QByteArray("earlier run\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Completed successfully\n"));
        QCOMPARE(Sandbox::readFile("/var/log/vtl_pid"), pidLine);
        QVERIFY(debugLog().contains(QRegularExpression(STAMP + QRegularExpression::escape(bin)
                                                       + " -- Another process is already running \n" + DIVLINE + "\n\\z")));
    }

    void stalePidFileIsTakenOver()
    {
        QProcess ended;
        ended.start("true", QStringList());
        QVERIFY(ended.waitForFinished());
        Sandbox::writeFile("/var/log/vtl_pid", QByteArray::number(ended.processId()) + "\n");
        Sandbox::writeFile("/tmp/z.bim", "gone");
        const Sandbox::Result r = Sandbox::run("vaultine", {"-t", "/tmp/z.bim"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!QFile::exists("/tmp/z.bim"));
        QVERIFY(!QFile::exists("/var/log/vtl_pid"));   // removed at the end of the run
    }

    void twoEnginesAtTheSameMomentOneRuns()
    {
        // ahd.sh, run just before the single-instance check, is a barrier: both engines leave it
        // together and reach the check at the same moment. The winner's sync then holds it until
        // the loser has ended (however slow the machine), so the two runs always overlap.
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\ntouch /tmp/barrier/$$\n"
                                       "while [ $(ls /tmp/barrier | wc -l) -lt 2 ]; do sleep 0.01; done\necho loop9\n");
        Sandbox::writeDouble("sync", "#!/bin/sh\nwhile [ ! -e /tmp/release ]; do sleep 0.05; done\n");
        for (int round = 0; round < 3; ++round) {
            QDir("/tmp/barrier").removeRecursively();
            QDir().mkpath("/tmp/barrier");
            QFile::remove("/tmp/release");
            QProcess a, b;
            a.start("vaultine", {"-t", "/tmp/none.bim"});
            b.start("vaultine", {"-t", "/tmp/none.bim"});
            // One of them ends (the loser) while the other waits in sync; two winners would both
            // wait there until the ceiling, and the exit codes below tell.
            QElapsedTimer t;
            t.start();
            while (a.state() != QProcess::NotRunning && b.state() != QProcess::NotRunning && t.elapsed() < 60000)
                if (!a.waitForFinished(50))
                    b.waitForFinished(50);
            Sandbox::writeFile("/tmp/release", "");
            for (QProcess *p : {&a, &b})
                QVERIFY(p->state() == QProcess::NotRunning || p->waitForFinished(60000));
            const QList<int> codes{a.exitCode(), b.exitCode()};
            QVERIFY2(codes.count(0) == 1 && codes.count(1) == 1,
                     qPrintable(QStringLiteral("round %1: exit codes %2 and %3").arg(round).arg(codes[0]).arg(codes[1])));
            QProcess &loser = a.exitCode() == 1 ? a : b;
            QVERIFY(loser.readAllStandardError().contains("is running another process"));
        }
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho loop9\n");
    }

    void showWorksWhileAnotherEngineRuns()
    {
        VirtualDrive drive("show", "64M");
        QVERIFY(drive.makeGpt({"-n", "1:2048:+16M", "-t", "1:0700"}));
        QVERIFY(drive.setAsSystemDrive());
        QProcess other;
        other.start("sleep", {"30"});
        QVERIFY(other.waitForStarted());
        const QByteArray pidLine = QByteArray::number(other.processId()) + "\n";
        Sandbox::writeFile("/var/log/vtl_pid", pidLine);
        const Sandbox::Result r = Sandbox::run("vaultine", {"-s"});
        other.kill();
        other.waitForFinished();
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho loop9\n");
        // The show ran to its end and listed the drive, without touching the other run's pid.
        QVERIFY2(r.started && !r.timedOut, r.err.constData());
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!r.err.contains("is running another process"));
        QCOMPARE(QString::fromLatin1(r.out),
                 "Device: " + drive.device() + "  Sectors: 131072  bytes: 67108864 67.1Mb \n"
                 "Table type: GPT\n"
                 "Device Boot  Start Sector    End Sector       Sectors    Size            Type Type info\n"
                 "     1               2048         34815         32768  16.8Mb         MS-Data EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                 "\n");
        QCOMPARE(Sandbox::readFile("/var/log/vtl_pid"), pidLine);
    }

    void udpTestMode()
    {
        QProcess engine;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("GUI_TYPE", "Q");
        engine.setProcessEnvironment(env);
        engine.start("vaultine", {"-u"});
        QVERIFY(engine.waitForStarted());
        QElapsedTimer t;
        t.start();
        QByteArray err;
        while (!err.contains("touch /tmp/stop-udp to end") && t.elapsed() < 10000) {
            engine.waitForReadyRead(200);
            err += engine.readAllStandardError();
        }
        QVERIFY(err.contains("touch /tmp/stop-udp to end\n"));

        QUdpSocket sender;
        const auto send = [&](const QByteArray &d) {
            QCOMPARE(sender.writeDatagram(d, QHostAddress::LocalHost, 43850), qint64(d.size()));
        };
        send(" 7 percent completed");
        send("45.00 percent complete");
        send("Failed to read block #12 (ERROR: 5 - Input/output error)");
        send("a\n\nb");
        send(" 100 percent completed");

        QByteArray gauge;
        t.restart();
        while (!gauge.contains("100\n") && t.elapsed() < 10000) {
            engine.waitForReadyRead(200);
            gauge += engine.readAllStandardError();
        }
        QCOMPARE(gauge, QByteArray("XXX \n7\nXXX \n100\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("a\nb\n"));

        Sandbox::writeFile("/tmp/stop-udp", "");
        QVERIFY(engine.waitForFinished(5000));
        QCOMPARE(engine.exitCode(), 0);
    }

    void trashDeletesOnlyTheSet()
    {
        QDir().mkpath("/tmp/usb");
        const QStringList members{"x.bim", "x.bim.gptb", "x.bim.orig.gptb", "x.bim.p1", "x.bim.p2.000",
                                  "x.bim.p2.001", "x.bim.txt", "x.bim.sums", "x.bim.000", "x.bim.100",
                                  "x.bim.999", "x.bim.1000", "x.bim.p2.1000"};
        const QStringList others{"x.bimfoo.gptb", "x.bim.old.gptb", "x.bim.pdf", "x.bim.0ab", "x.bin", "y.bim",
                                 "x.bim.p1.bak"};
        for (const QString &f : members + others)
            touch("/tmp/usb/" + f);
        QDir().mkpath("/tmp/usb/x.bim.p9");   // a folder is not a member file

        const Sandbox::Result r = Sandbox::run("vaultine", {"-t", "/tmp/usb/x.bim"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.contains("Deleting /tmp/usb/x.bim*"));
        QStringList expected = others;
        expected.sort();
        QCOMPARE(filesIn("/tmp/usb"), expected);
        QVERIFY(QDir("/tmp/usb/x.bim.p9").exists());
        QVERIFY(debugLog().contains(QRegularExpression(STAMP + "Deleting image file\\(s\\) /tmp/usb/x\\.bim\n")));
    }

    void trashOfASetWithoutPiecesAndOfOddNames()
    {
        QDir().mkpath("/tmp/odd");
        const QString stem = "a*'$(touch pwned) `touch pwned2`.bim";
        for (const QString &f : {stem, stem + ".p1", stem + ".txt", QString("ab.bim"), QString("a.bim.p1")})
            touch("/tmp/odd/" + f);
        QDir::setCurrent("/tmp/odd");
        const Sandbox::Result r = Sandbox::run("vaultine", {"-t", "/tmp/odd/" + stem});
        QDir::setCurrent("/tmp");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(filesIn("/tmp/odd"), QStringList({"a.bim.p1", "ab.bim"}));

        // A folder or a missing name deletes nothing.
        QDir().mkpath("/tmp/odd/dir.bim");
        touch("/tmp/odd/dir.bim.p1");
        const Sandbox::Result d = Sandbox::run("vaultine", {"-t", "/tmp/odd/dir.bim"});
        QCOMPARE(d.exitCode, 0);
        QVERIFY(d.err.contains("Could not delete /tmp/odd/dir.bim*"));
        QVERIFY(QFile::exists("/tmp/odd/dir.bim.p1"));
    }
};

QTEST_GUILESS_MAIN(TstVaultine)
#include "tst_vaultine.moc"
