// SystemUtils: logs, messages, status files, gauge forms, programs and generated pipeline scripts,
// pid files and the error table, on the sandbox's private /var/log and /tmp.
#include "capture.h"
#include "imageset.h"
#include "sandbox.h"
#include "systemutils.h"
#include "udpsockethandler.h"
#include "virtualdrive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

static const QString STAMP = QStringLiteral("\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ");

static void expectMatch(const QByteArray &text, const QString &pattern)
{
    const QRegularExpression re(QStringLiteral("\\A") + pattern + QStringLiteral("\\z"));
    if (!re.match(QString::fromLocal8Bit(text)).hasMatch())
        QFAIL(qPrintable(QStringLiteral("'%1' does not match '%2'").arg(QString::fromLocal8Bit(text), pattern)));
}

class TstSystemUtils : public QObject
{
    Q_OBJECT
    SystemUtils *utils = nullptr;

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        utils = new SystemUtils;
    }

    void init()
    {
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task",
                                 "/var/log/rcv_status", "/tmp/gauge.log", "/tmp/dialog.txt", "/var/log/vtl_pid"})
            QFile::remove(f);
        SystemUtils::guiType = 3;
    }

    void logLinesAndStamps()
    {
        utils->LogMessage("abc", "/tmp/one.log", true);
        expectMatch(Sandbox::readFile("/tmp/one.log"), STAMP + "abc\n");
        utils->LogMessage("def\n", "/tmp/one.log", false);
        expectMatch(Sandbox::readFile("/tmp/one.log"), STAMP + "abc\ndef\n");
        utils->LogMessage("nowhere", QString(), true);   // an empty file name writes nothing

        utils->ErrorMesg("broken");
        QCOMPARE(Sandbox::readFile("/var/log/recovery.log"), QByteArray("broken\n"));
        QCOMPARE(Sandbox::readFile("/var/log/vtl_debug.log"), QByteArray("broken\n"));

        const QByteArray out = captureFd(1, [&] { utils->ShowMessage("", true, ""); });
        expectMatch(out, STAMP + "\n");
        expectMatch(Sandbox::readFile("/var/log/recovery.log"), "broken\n" + STAMP + "\n");

        utils->LogPrep();
        QVERIFY(!QFile::exists("/var/log/recovery.log"));
        QVERIFY(!QFile::exists("/var/log/vtl_debug.log"));
    }

    void showVersion()
    {
        Sandbox::writeFile("/etc/version", "Brenlow 1.0 test\n");
        const QByteArray out = captureFd(1, [&] { utils->ShowVersion(); });
        expectMatch(out, STAMP + "\nBrenlow 1.0 test\n\n");
    }

    void statusFilesAreReplacedWhole()
    {
        utils->UpdateTaskInfo("Backing up /dev/sda");
        utils->UpdateTaskInfo("Compressed image backup");
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Compressed image backup\n"));
        utils->UpdateStatusInfo("Completed successfully\n");
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Completed successfully\n"));
    }

    void guiTypeFromEnvironment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("console") << QByteArray("Q") << 2;
        QTest::newRow("dialog") << QByteArray("G") << 0;
        QTest::newRow("M") << QByteArray("M") << 1;
        QTest::newRow("lower case q") << QByteArray("q") << 3;
        QTest::newRow("unset") << QByteArray() << 3;
    }
    void guiTypeFromEnvironment()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        if (value.isNull())
            qunsetenv("GUI_TYPE");
        else
            qputenv("GUI_TYPE", value);
        utils->initEvironmentVariables();
        QCOMPARE(SystemUtils::guiType, expected);
        qunsetenv("GUI_TYPE");
    }

    void gaugeFormQ()
    {
        SystemUtils::guiType = 2;
        QByteArray err = captureFd(2, [&] { utils->UpdateGauge(0, "x.bim", "Backing up partition 2", ""); });
        QCOMPARE(err, QByteArray("XXX x.bim\n0\nTTT Backing up partition 2\n"));
        err = captureFd(2, [&] { utils->UpdateGauge(55, "", "", "second line"); });
        QCOMPARE(err, QByteArray("XXX \n55\nYYY second line\n"));
        QVERIFY(!QFile::exists("/tmp/gauge.log"));
    }

    void gaugeFormG()
    {
        SystemUtils::guiType = 0;
        const QByteArray err = captureFd(2, [&] {
            utils->UpdateGauge(40, "T", "", "");
            utils->UpdateGauge(41, "T", "copying", "");
        });
        QVERIFY(err.isEmpty());
        QCOMPARE(Sandbox::readFile("/tmp/dialog.txt"),
                 QByteArray("XXX\n\n40\nT%\nXXX\nXXX\n\n41\nT%\n    copying\nXXX\n"));
        expectMatch(Sandbox::readFile("/tmp/gauge.log"),
                    STAMP + "XXX\n\n40\nT%\nXXX\n\n" + STAMP + "XXX\n\n41\nT%\n    copying\nXXX\n\n");
    }

    void gaugeFormsMAndNone_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("M") << 1;
        QTest::newRow("none") << 3;
    }
    void gaugeFormsMAndNone()
    {
        QFETCH(int, type);
        SystemUtils::guiType = type;
        const QByteArray err = captureFd(2, [&] { utils->UpdateGauge(12, "title", "text", "extra"); });
        QCOMPARE(err, QByteArray("UpdateGauge: 12, title, text\n"));
        expectMatch(Sandbox::readFile("/tmp/gauge.log"), STAMP + "UpdateGauge: 12, title, text\n");
        QVERIFY(!QFile::exists("/tmp/dialog.txt"));
    }

    void datagramsBecomeGaugeOrStatus()
    {
        SystemUtils::guiType = 2;
        QCOMPARE(UdpSocketHandler::SplitDatagram(QByteArray("a\n\nb\n")), QStringList({"a", "b"}));
        QCOMPARE(UdpSocketHandler::SplitDatagram(QByteArray("c\n\0d", 4)), QStringList({"c"}));

        QByteArray err = captureFd(2, [&] { utils->onUdpDataReady({" 7 percent completed"}); });
        QCOMPARE(err, QByteArray("XXX \n7\n"));
        err = captureFd(2, [&] { utils->onUdpDataReady({"45.00 percent complete"}); });
        QVERIFY(err.isEmpty());
        QVERIFY(!QFile::exists("/var/log/rcv_status"));
        utils->onUdpDataReady({"Failed to read block #5 (ERROR: 5 - Input/output error)"});
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"),
                 QByteArray("Failed to read block #5 (ERROR: 5 - Input/output error)\n"));
        utils->onUdpDataReady({"first", "second"});
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("first\nsecond\n"));
    }

    void runningPrograms()
    {
        Sandbox::writeDouble("talk", "#!/bin/sh\necho \"out $*\"\necho err >&2\nprintf 'a\\0b'\n");
        QCOMPARE(utils->ExecuteCommand("talk \"two words\" x"), QString("out two words x\na"));
        QVERIFY(utils->ExecuteCommandDebug("talk").contains("err"));
        QCOMPARE(utils->ExecuteShell("echo", {" a ", "b"}), QStringList({"a  b"}));
        QCOMPARE(utils->ExecuteShell("printf \"x\\n\\ny\""), QStringList({"x", "", "y"}));
        QCOMPARE(utils->ExecuteCommand("no-such-program-here"), QString());
        // A name holding a double quote and blanks stays one word on a whole command line.
        const QString odd = "we\"ird name";
        QCOMPARE(utils->ExecuteCommand("echo " + SystemUtils::CommandQuote(odd)), odd + '\n');

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(utils->ExecuteCommand("sh -c \"echo early; sleep 30\"", 500), QString("early\n"));
        QVERIFY(timer.elapsed() < 10000);

        QFile::remove("/var/log/recovery.log");
        utils->ExecuteShellDebug("true", {"-x", "y"});
        QCOMPARE(Sandbox::readFile("/var/log/recovery.log"), QByteArray("true -x y\n"));
    }

    void adjustDeviceName_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sda 2") << "/dev/sda" << 2 << "/dev/sda2";
        QTest::newRow("sda2 2") << "/dev/sda2" << 2 << "/dev/sda2";
        QTest::newRow("sda1 1") << "/dev/sda1" << 1 << "/dev/sda1";
        QTest::newRow("sda 10") << "/dev/sda" << 10 << "/dev/sda10";
        QTest::newRow("sda1 11") << "/dev/sda1" << 11 << "/dev/sda111";
        QTest::newRow("nvme") << "/dev/nvme0n1" << 1 << "/dev/nvme0n1p1";
        QTest::newRow("mmcblk 1") << "/dev/mmcblk0" << 1 << "/dev/mmcblk0p1";
        QTest::newRow("mmcblk 10") << "/dev/mmcblk0" << 10 << "/dev/mmcblk0p10";
        QTest::newRow("loop3 3") << "/dev/loop3" << 3 << "/dev/loop3p3";
        QTest::newRow("loop3p2 2") << "/dev/loop3p2" << 2 << "/dev/loop3p2";
        QTest::newRow("from ahd.sh") << "" << 2 << "/dev/loop7p2";
    }
    void adjustDeviceName()
    {
        QFETCH(QString, device);
        QFETCH(int, number);
        QFETCH(QString, expected);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho ' loop7 '\n");
        QCOMPARE(utils->AdjustDeviceName(device, number), expected);
    }

    void pipelineScript()
    {
        QList<myProcess> list;
        list << myProcess{"export E=1", {}} << myProcess{"A", {"x", "y"}} << myProcess{"B", {"z"}};
        const QString path = utils->CreateExecutableFile(list);
        QVERIFY(path.startsWith("/tmp/.pxe-exec/"));
        QCOMPARE(QFileInfo(path).fileName().size(), 8);
        QCOMPARE(Sandbox::readFile(path),
                 QByteArray("#!/bin/bash\n\nexport E=1\nA x y | B z\necho \"${PIPESTATUS[@]}\" > /tmp/.pxe-exec/pipe-status\n"));
        QCOMPARE(int(QFileInfo(path).permissions() & 0x7077),
                 int(QFileDevice::WriteOwner | QFileDevice::ReadOther | QFileDevice::ExeOther));

        const QString onlyExports = utils->CreateExecutableFile({myProcess{"export A=1", {}}});
        QCOMPARE(Sandbox::readFile(onlyExports),
                 QByteArray("#!/bin/bash\n\nexport A=1\n\necho \"${PIPESTATUS[@]}\" > /tmp/.pxe-exec/pipe-status\n"));
    }

    void pipelineScriptRecordsEveryStage()
    {
        const QString path = utils->CreateExecutableFile(
            {myProcess{"true", {}}, myProcess{"sh", {"-c", "'cat >/dev/null; exit 7'"}}, myProcess{"false", {}}});
        const Sandbox::Result r = Sandbox::run("bash", {path});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(Sandbox::readFile(SystemUtils::pipeStatus), QByteArray("0 7 1\n"));
    }

    void injectedNameRunsNothing()
    {
        // Run from /tmp/images, so that a command slipping through would leave its mark there.
        QDir().mkpath("/tmp/images");
        QDir::setCurrent("/tmp/images");
        const QString name = "/tmp/images/x'$(touch pwned1)`touch pwned2`\"; touch pwned3 #.bim";
        const QString path = utils->CreateExecutableFile(
            {myProcess{"echo", {"data"}},
             myProcess{"gzip", {"-c", ">", SystemUtils::ShellQuote(name + ".p1")}}});
        QCOMPARE(Sandbox::run("bash", {path}).exitCode, 0);
        QCOMPARE(Sandbox::readFile(SystemUtils::pipeStatus), QByteArray("0 0\n"));
        QVERIFY(QFile::exists(name + ".p1"));
        for (const char *marker : {"/tmp/images/pwned1", "/tmp/images/pwned2", "/tmp/images/pwned3"})
            QVERIFY2(!QFile::exists(marker), marker);
        // The chunk glob stays outside the quotes and still expands.
        Sandbox::writeFile(name + ".p2.000", "A");
        Sandbox::writeFile(name + ".p2.001", "B");
        const QString cat = utils->CreateExecutableFile(
            {myProcess{"cat", {SystemUtils::ShellQuote(name + ".p2.") + SystemUtils::DGS3}},
             myProcess{"cat", {">", "/tmp/joined"}}});
        QCOMPARE(Sandbox::run("bash", {cat}).exitCode, 0);
        QCOMPARE(Sandbox::readFile("/tmp/joined"), QByteArray("AB"));
        QDir::setCurrent("/tmp");
    }

    void pidFiles()
    {
        QVERIFY(!utils->pidFileExists());
        utils->createPidFile();
        QCOMPARE(Sandbox::readFile(SystemUtils::PID_FILE),
                 QByteArray::number(QCoreApplication::applicationPid()) + "\n");
        QVERIFY(utils->pidFileExists());

        QProcess ended;
        ended.start("true", QStringList());
        QVERIFY(ended.waitForFinished());
        Sandbox::writeFile(SystemUtils::PID_FILE, QByteArray::number(ended.processId()) + "\n");
        QVERIFY(!utils->pidFileExists());
        Sandbox::writeFile(SystemUtils::PID_FILE, "garbage\n");
        QVERIFY(!utils->pidFileExists());
        utils->removePidFile();
        QVERIFY(!QFile::exists(SystemUtils::PID_FILE));

        Sandbox::writeFile(SystemUtils::ABORT_FILE, "");
        QVERIFY(utils->abortFileExists());
        utils->removeAbortFile();
        QVERIFY(!utils->abortFileExists());
    }

    void md5AndErrorTable()
    {
        Sandbox::writeFile("/tmp/abc", "abc");
        QCOMPARE(utils->GetMd5Sum("/tmp/abc"), QString("900150983cd24fb0d6963f7d28e17f72"));
        QCOMPARE(utils->GetMd5Sum("/tmp/missing"), QString());
        QCOMPARE(SystemUtils::ErrorDescriptions.size(), 20);
        QCOMPARE(SystemUtils::ErrorDescriptions.value(0), QString("No Error"));
        QCOMPARE(SystemUtils::ErrorDescriptions.value(1011), QString("Could not expandthe NTFS Volume"));
        QCOMPARE(SystemUtils::ErrorDescriptions.value(1018), QString("The checksum failed"));
        QCOMPARE(SystemUtils::ErrorDescriptions.value(999), QString());
    }

    void imageSetMembers_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("member");
        for (const char *f : {"x.bim", "x.bim.gptb", "x.bim.orig.gptb", "x.bim.orig", "x.bim.p1", "x.bim.p12",
                              "x.bim.p2.000", "x.bim.p2.001", "x.bim.000", "x.bim.099", "x.bim.100", "x.bim.txt",
                              "x.bim.sums", "x.bim.p2.log"})
            QTest::newRow(f) << QString(f) << true;
        for (const char *f : {"x.bimfoo.gptb", "x.bim.old.gptb", "x.bim.pdf", "x.bim.0ab", "x.bim2", "y.bim",
                              "x.bi", "x.bim.p1.bak", "x.bim.txt.old", "x.bim.0000"})
            QTest::newRow(f) << QString(f) << false;
    }
    void imageSetMembers()
    {
        QFETCH(QString, file);
        QFETCH(bool, member);
        QCOMPARE(ImageSet("/mnt/usb/x.bim").isMember(file), member);
    }

    void wildcardsInAStemAreLiteral()
    {
        const ImageSet set("/mnt/usb/a*");
        QVERIFY(set.isMember("a*.txt"));
        QVERIFY(!set.isMember("ab.txt"));
        QVERIFY(!ImageSet("/mnt/usb/x?.bim").isMember("xy.bim"));
    }

    void mountingPartitions()
    {
        VirtualDrive drive("mounts", "64M");
        QVERIFY(drive.makeGpt({"-n", "1:2048:+20M", "-t", "1:ef00", "-n", "2:0:0", "-t", "2:8300"}));
        QVERIFY(drive.makeFileSystem(1, "vfat"));
        QVERIFY(drive.makeFileSystem(2, "ext4"));

        // FAT goes through FUSE here; everything written must be on the partition once the
        // unmount returns, for the next program (mtools here) to read.
        QVERIFY(utils->MountPartition(drive.partition(1), "/mnt/fat"));
        QVERIFY(SystemUtils::isMountPoint("/mnt/fat"));
        Sandbox::run("sh", {"-c", "head -c 3000000 /dev/urandom > /mnt/fat/blob && md5sum < /mnt/fat/blob > /tmp/blob.md5"});
        utils->UnmountPartition("/mnt/fat");
        QVERIFY(!SystemUtils::isMountPoint("/mnt/fat"));
        // Another writer follows at once (as install_syslinux.sh follows the Linux restore); a
        // late write of the FUSE daemon would now undo it.
        const QString part = drive.partition(1);
        QCOMPARE(Sandbox::sh("export MTOOLS_SKIP_CHECK=1; echo next | mcopy -i " + part + " - ::/next.txt").exitCode, 0);
        QTest::qWait(1500);
        const Sandbox::Result back = Sandbox::sh("MTOOLS_SKIP_CHECK=1 mtype -i " + part + " ::/blob | md5sum");
        QCOMPARE(back.out, Sandbox::readFile("/tmp/blob.md5"));
        QCOMPARE(Sandbox::sh("MTOOLS_SKIP_CHECK=1 mtype -i " + part + " ::/next.txt").out, QByteArray("next\n"));
        QCOMPARE(Sandbox::sh("fsck.fat -n " + part).exitCode, 0);

        QVERIFY(utils->MountPartition(drive.partition(2), "/mnt/with blank"));
        QVERIFY(SystemUtils::isMountPoint("/mnt/with blank"));
        utils->UnmountPartition("/mnt/with blank");
        QVERIFY(!SystemUtils::isMountPoint("/mnt/with blank"));

        QVERIFY(!utils->MountPartition("/dev/no-such-partition", "/mnt/none"));
    }

    void lastSixOfMac()
    {
        // The first interface with an address ends the search: here loopback, which has no MAC.
        SystemUtils::ipAddress.clear();
        QCOMPARE(utils->GetLastSixofMac(), QString("000000"));

        // Without any address the MAC of the last Ethernet interface seen is kept.
        QCOMPARE(Sandbox::run("ip", {"link", "add", "eth9", "address", "00:1a:2b:3c:4d:5e", "type", "veth", "peer", "name", "eth8"}).exitCode, 0);
        QCOMPARE(Sandbox::run("ip", {"addr", "flush", "dev", "lo"}).exitCode, 0);
        SystemUtils::ipAddress.clear();
        const QString six = utils->GetLastSixofMac();
        Sandbox::run("ip", {"addr", "add", "127.0.0.1/8", "dev", "lo"});
        Sandbox::run("ip", {"link", "del", "eth9"});
        QCOMPARE(six, QString("3C4D5E"));
        QCOMPARE(SystemUtils::myMac, QString("001A2B3C4D5E"));
    }
};

QTEST_GUILESS_MAIN(TstSystemUtils)
#include "tst_systemutils.moc"
