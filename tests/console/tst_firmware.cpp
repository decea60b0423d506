// Firmware installation end to end: the real console classes against a real production server
// (HTTP on 127.0.0.1:80 in the test's own network), the real service scripts (qt_part_10.sh,
// check_firmware_fit.sh, qt_install_16.sh), tar, wget, sgdisk and mkfs on a loop drive. The
// scripts are wrapped only to record their arguments and whether the busy marker was set.
#include "consolefixture.h"
#include "dialogdriver.h"
#include "diskhandler.h"
#include "pxeclient.h"
#include "sandbox.h"
#include "serverhandler.h"
#include "utils.h"
#include "virtualdrive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace ConsoleFixture;

static const QString SERVER = QStringLiteral("/srv/prod");   // under the sandbox root
static const QString RCV_PID_FILE = QStringLiteral("/var/log/rcv_pid");

class TestFirmware : public QObject
{
    Q_OBJECT
    QString serverRoot;
    QProcess server;
    VirtualDrive *unit = nullptr;
    VirtualDrive *stick = nullptr;
    QString work;

    static QString md5(const QByteArray &data)
    {
        return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
    }
    // A firmware archive NAME.tar holding files (relative name -> content) and the files.md5
    // list (extra raw lines appended); written to dest.
    void makeArchive(const QString &dest, const QMap<QString, QByteArray> &files, const QStringList &extraLines = {},
                     bool withList = true)
    {
        const QString dir = work + "/archive";
        QDir(dir).removeRecursively();
        QString list = "# checksum name size\n";
        for (auto it = files.begin(); it != files.end(); ++it) {
            Sandbox::writeFile(dir + "/" + it.key(), it.value());
            list += QStringLiteral("%1  %2 %3\n").arg(md5(it.value()), it.key()).arg(it.value().size());
        }
        for (const QString &line : extraLines)
            list += line + "\n";
        if (withList)
            Sandbox::writeFile(dir + "/files.md5", list.toUtf8());
        QDir().mkpath(QFileInfo(dest).absolutePath());
        QVERIFY(Sandbox::run("tar", {"-C", dir, "-cf", dest, "."}).exitCode == 0);
    }
    // Every recorded script call, "name|arg|arg|...|busy=yes".
    static QStringList calls()
    {
        return QString::fromUtf8(Sandbox::readFile(Sandbox::root() + "/calls.log")).split('\n', Qt::SkipEmptyParts);
    }
    static void clearCalls() { Sandbox::writeFile(Sandbox::root() + "/calls.log", QByteArray()); }
    // Partition number's content, read through a mount of our own.
    QByteArray readFromPartition(int number, const QString &path)
    {
        const QString dir = work + "/look";
        QDir().mkpath(dir);
        if (Sandbox::run("mount", {unit->partition(number), dir}).exitCode != 0)
            return "(partition not mountable)";
        const QByteArray data = QFile::exists(dir + "/" + path) ? Sandbox::readFile(dir + "/" + path) : "(missing)";
        Sandbox::run("umount", {dir});
        return data;
    }
    static int count(const QString &haystack, const QString &needle) { return haystack.count(needle); }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        Utils::InitLogger(2);
        work = Sandbox::root() + "/work";
        serverRoot = Sandbox::root() + SERVER;
        QDir().mkpath(serverRoot + "/firmware");
        writeStyleSheet();
        QVERIFY(setKernelCommandLine("quiet"));

        // The scripts, each wrapped to record its arguments (one per field) and the busy marker;
        // a file fail-NAME makes the wrapper fail without running the script.
        for (const char *name : {"qt_part_10.sh", "check_firmware_fit.sh", "qt_install_16.sh", "reboot"}) {
            const QString script = QStringLiteral(
                "#!/bin/bash\n"
                "{ printf '%1'; for a in \"$@\"; do printf '|%s' \"$a\"; done; [ -e /var/log/rcv_pid ] && echo '|busy=yes' || echo '|busy=no'; } >> \"$BRENLOW_SANDBOX/calls.log\"\n"
                "[ -e \"$BRENLOW_SANDBOX/fail-%1\" ] && exit 1\n"
                "[ %1 = reboot ] && exit 0\n"
                "exec \"$BRENLOW_BIN/%1\" \"$@\"\n").arg(QString::fromLatin1(name));
            QVERIFY(!Sandbox::writeDouble(name, script).isEmpty());
        }

        unit = new VirtualDrive("unit", "1200M");
        QVERIFY(unit->isValid());
        QVERIFY(unit->setAsSystemDrive());

        Sandbox::writeFile(serverRoot + "/models.txt", "T10\nLYX-64X\nAB-12\n");
        Sandbox::writeFile(serverRoot + "/versions.json",
                           R"({"LYX-64X": ["16.5.0", "16.4.0"], "-LYX 64&x": ["16.5.1"]})");
        makeArchive(serverRoot + "/firmware/LYX-64X_16.5.0.tar", {{"bin/app", "application 16.5\n"}, {"etc/release", "16.5.0\n"}});
        makeArchive(serverRoot + "/firmware/LYX-64X_16.4.0.tar", {{"bin/app", "application 16.4\n"}, {"etc/release", "16.4.0\n"}});
        makeArchive(serverRoot + "/firmware/-LYX 64&x_16.5.1.tar", {{"bin/app", "odd name\n"}});

        server.setProgram("/usr/bin/python3");
        server.setArguments({Sandbox::sourceDir() + "/tests/console/prodserver.py", serverRoot});
        server.setProcessChannelMode(QProcess::ForwardedChannels);
        server.start();
        QVERIFY(server.waitForStarted());
        QVERIFY(waitFor([] { return Sandbox::run("wget", {"-q", "-O", "-", "http://127.0.0.1/model.php"}).out.startsWith("T10"); }, 20000));
        Sandbox::writeFile("/tmp/serverip", "127.0.0.1\n");
        DiskHandler::GetInstance()->InitBootDiskInfo();
        QCOMPARE(DiskHandler::GetInstance()->activeDrive, unit->kernelName());
        QCOMPARE(ServerHandler::GetInstance()->GetServerIp(false), QString("127.0.0.1"));
    }

    void cleanupTestCase()
    {
        server.kill();
        server.waitForFinished();
        Sandbox::run("sh", {"-c", "umount /mnt/usb /mnt/hd/p1 /mnt/hd/p4 /boot 2>/dev/null"});
        delete stick;
        delete unit;
    }

    // Install Image: model and version chosen in the dialogs (once going Back), family 16's
    // scripts with their arguments, the firmware on partition 1 and, from 16.5 on, the modality.
    void serverInstallThroughDialogs()
    {
        clearCalls();
        Sandbox::writeFile(serverRoot + "/requests.log", QByteArray());
        PxeClient window;
        // scripts/screenshots asks for the model dialog's picture (BRENLOW_SCREENSHOTS); tests
        // never write one on their own.
        const QString pictures = qEnvironmentVariable("BRENLOW_SCREENSHOTS");
        auto pictureThenChoose = [pictures](QWidget *dialog) {
            if (!pictures.isEmpty()) {
                DialogDriver::check(dialog, "LYX-64X");
                dialog->grab().save(pictures + "/console-models.png");
            }
            DialogDriver::choose("LYX-64X", "OK")(dialog);
        };
        DialogDriver driver({pictureThenChoose, DialogDriver::press("Back"),
                             DialogDriver::choose("LYX-64X", "OK"), DialogDriver::choose("16.5.0", "OK"),
                             DialogDriver::press("OK")});
        window.on_pbInstallImage_clicked();
        QCOMPARE(driver.seen, QStringList({"ModelsDialog", "VersionsDialog", "ModelsDialog", "VersionsDialog",
                                           "Success: Firmware Installation Successful."}));
        const QString drive = unit->kernelName();
        QCOMPARE(calls(), QStringList({"check_firmware_fit.sh|" + drive + "|LYX-64X|16.5.0|busy=yes",
                                       "qt_part_10.sh|" + drive + "|660|busy=yes",
                                       "qt_install_16.sh|" + drive + "|LYX-64X|16.5.0|busy=yes"}));
        const QString requests = QString::fromUtf8(Sandbox::readFile(serverRoot + "/requests.log"));
        QCOMPARE(count(requests, "GET /model.php"), 2);
        QCOMPARE(count(requests, "GET /version.php?model=LYX-64X"), 2);
        QVERIFY(requests.contains("GET /firmware/LYX-64X_16.5.0.tar"));
        QCOMPARE(readFromPartition(1, "bin/app"), QByteArray("application 16.5\n"));
        QCOMPARE(readFromPartition(1, "modality.install"), QByteArray("LYX-X\n"));
        QCOMPARE(readFromPartition(1, "modality.factory"), QByteArray("LYX-X\n"));
        QVERIFY(!QFile::exists(RCV_PID_FILE));
        QVERIFY(mainLog().contains("Install image  LYX-64X   16.5.0  Result  0 "));
    }

    // A management request: installed without a dialog, the third word ignored, no modality
    // before 16.5.
    void managementRequestInstalls()
    {
        clearCalls();
        PxeClient window;
        DialogDriver watcher({});
        Sandbox::writeFile("/tmp/mgr-requested-install", "LYX-64X 16.4.0 ignored\n");
        QVERIFY(waitFor([] { return mainLog().contains("Install of  LYX-64X   16.4.0  returned 0 "); }, 120000));
        QVERIFY(!QFile::exists("/tmp/mgr-requested-install"));
        QCOMPARE(watcher.seen, QStringList());
        QCOMPARE(calls().size(), 3);
        QCOMPARE(calls().last(), "qt_install_16.sh|" + unit->kernelName() + "|LYX-64X|16.4.0|busy=yes");
        QCOMPARE(readFromPartition(1, "bin/app"), QByteArray("application 16.4\n"));
        QCOMPARE(readFromPartition(1, "modality.install"), QByteArray("(missing)"));
    }

    // Mend: server texts are data. A model with blanks, "&" and a leading "-" reaches wget
    // percent-encoded in one URL and the scripts as one argument each.
    void oddModelNameStaysOneArgument()
    {
        clearCalls();
        Sandbox::writeFile(serverRoot + "/requests.log", QByteArray());
        QCOMPARE(ServerHandler::GetInstance()->GetVersions("-LYX 64&x"), QStringList({"16.5.1"}));
        QVERIFY(QString::fromUtf8(Sandbox::readFile(serverRoot + "/requests.log")).contains("GET /version.php?model=-LYX%2064%26x"));
        // "?", "#", "/" and "%" stay in the name too: the server is asked for exactly that model.
        Sandbox::writeFile(serverRoot + "/versions.json",
                           "{\"LYX-64X\": [\"16.5.0\", \"16.4.0\"], \"-LYX 64&x\": [\"16.5.1\"], \"A?b#c/d%e\": [\"16.7.1\"]}");
        QCOMPARE(ServerHandler::GetInstance()->GetVersions("A?b#c/d%e"), QStringList({"16.7.1"}));
        QVERIFY(QString::fromUtf8(Sandbox::readFile(serverRoot + "/requests.log")).contains("GET /version.php?model=A%3Fb%23c%2Fd%25e\n"));
        QCOMPARE(DiskHandler::GetInstance()->InstallImage("-LYX 64&x", "16.5.1"), 0);
        QCOMPARE(calls().last(), "qt_install_16.sh|" + unit->kernelName() + "|-LYX 64&x|16.5.1|busy=yes");
        QCOMPARE(readFromPartition(1, "bin/app"), QByteArray("odd name\n"));
    }

    // Mend: the busy marker goes on every way out; an unknown version is a failure.
    void busyMarkerClearedOnEveryWayOut()
    {
        DiskHandler *disks = DiskHandler::GetInstance();
        clearCalls();
        QVERIFY(disks->InstallImage("LYX-64X", "7.1.0") != 0);
        QVERIFY(!QFile::exists(RCV_PID_FILE));
        QCOMPARE(calls(), QStringList());

        Sandbox::writeFile(Sandbox::root() + "/fail-qt_part_10.sh", QByteArray());
        const int failed = disks->InstallImage("LYX-64X", "16.5.0");
        QFile::remove(Sandbox::root() + "/fail-qt_part_10.sh");
        QCOMPARE(failed, 1);
        QCOMPARE(calls().size(), 2);   // size check, partitioning; no install
        QVERIFY(calls().last().endsWith("busy=yes"));
        QVERIFY(!QFile::exists(RCV_PID_FILE));

        // A version the server does not have fails the size check before the drive is touched.
        clearCalls();
        QVERIFY(disks->InstallImage("LYX-64X", "16.9.9") != 0);
        QCOMPARE(calls().size(), 1);
        QVERIFY(!QFile::exists(RCV_PID_FILE));
    }

    // From a USB stick: unpacked once; again while the archive is younger than the rule's 300
    // seconds at unpacking, not again once it is older; files.md5 names outside the folder refused.
    void usbArchiveUnpackRuleAndRefusedNames()
    {
        stick = new VirtualDrive("stick", "64M");
        QVERIFY(stick->isValid());
        QVERIFY(Sandbox::run("mkfs.ext4", {"-q", "-F", stick->device()}).exitCode == 0);
        QDir().mkpath("/mnt/usb");
        QVERIFY(Sandbox::run("mount", {stick->device(), "/mnt/usb"}).exitCode == 0);
        const QString archive = "/mnt/usb/firmware/LYX-64X_16.5.2.tar";
        makeArchive(archive, {{"bin/app", "from usb\n"}, {"packages/base.squash", "squash\n"}},
                    {"d41d8cd98f00b204e9800998ecf8427e  /etc/passwd 10",
                     "d41d8cd98f00b204e9800998ecf8427e  ../escaped.txt 10",
                     "d41d8cd98f00b204e9800998ecf8427e  bin/../../escaped2.txt 10",
                     "d41d8cd98f00b204e9800998ecf8427e  remove 0"});
        // What those names point at exists, so that only the refusal keeps them out.
        Sandbox::writeFile("/mnt/usb/firmware/upgrade/escaped.txt", "outside\n");
        Sandbox::writeFile("/mnt/usb/firmware/upgrade/escaped2.txt", "outside\n");

        DiskHandler *disks = DiskHandler::GetInstance();
        QCOMPARE(disks->InstallFromUsb(archive), 0);
        QCOMPARE(count(mainLog(), "tar returned"), 1);
        QCOMPARE(readFromPartition(1, "bin/app"), QByteArray("from usb\n"));
        QCOMPARE(readFromPartition(1, "packages/base.squash"), QByteArray("squash\n"));
        QCOMPARE(readFromPartition(1, "modality.install"), QByteArray("LYX-X\n"));
        QVERIFY(!QFile::exists("/mnt/hd/escaped.txt"));
        QVERIFY(!QFile::exists("/mnt/hd/escaped2.txt"));
        QCOMPARE(count(mainLog(), "refused"), 3);
        QVERIFY(!QFile::exists(RCV_PID_FILE));

        // Unpacked within 300 seconds of the archive's change time: unpacked again.
        QCOMPARE(disks->InstallFromUsb(archive), 0);
        QCOMPARE(count(mainLog(), "tar returned"), 2);

        // The archive an hour older than its unpacked list: the list is trusted.
        QVERIFY(Sandbox::run("umount", {"/mnt/usb"}).exitCode == 0);
        const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
        const Sandbox::Result set = Sandbox::run("debugfs", {"-w", "-R",
            QStringLiteral("set_inode_field /firmware/LYX-64X_16.5.2.tar ctime @%1").arg(hourAgo), stick->device()});
        QVERIFY2(set.exitCode == 0, set.err.constData());
        QVERIFY(Sandbox::run("mount", {stick->device(), "/mnt/usb"}).exitCode == 0);
        QCOMPARE(disks->InstallFromUsb(archive), 0);
        QCOMPARE(count(mainLog(), "tar returned"), 2);
        QCOMPARE(readFromPartition(1, "bin/app"), QByteArray("from usb\n"));

        // A truncated archive (tar exits 2) is not unpacked, though its list came out whole:
        // nothing is partitioned or copied, and the list goes so that the next install unpacks.
        const QString dir = work + "/cut";
        const QByteArray big(4 << 20, 'x');
        Sandbox::writeFile(dir + "/bin/big", big);
        Sandbox::writeFile(dir + "/files.md5", QStringLiteral("%1  bin/big %2\n").arg(md5(big)).arg(big.size()).toLatin1());
        const QString cut = "/mnt/usb/firmware/LYX-64X_16.5.3.tar";
        QCOMPARE(Sandbox::run("tar", {"-C", dir, "-cf", cut, "files.md5", "bin"}).exitCode, 0);
        QCOMPARE(Sandbox::run("truncate", {"-s", "2M", cut}).exitCode, 0);
        clearCalls();
        QCOMPARE(disks->InstallFromUsb(cut), -6);
        QVERIFY(mainLog().contains("tar returned 2 "));
        QCOMPARE(calls(), QStringList());
        QVERIFY(!QFile::exists("/mnt/usb/firmware/upgrade/LYX-64X_16.5.3/files.md5"));
        QFile::remove(cut);
    }

    // Mend: sizes add up in 64 bits. 2 + 2 + 1 GB (each a valid 32-bit number) wrap round to
    // 0.7 GB in 32 bits, which would pass on this 1.2 GB drive; the drive is not touched.
    void firmwareOverTwoGigabytesDoesNotFit()
    {
        const QString archive = "/mnt/usb/firmware/LYX-64X_16.6.0.tar";
        makeArchive(archive, {{"bin/app", "big\n"}},
                    {"d41d8cd98f00b204e9800998ecf8427e  huge1.img 2000000000",
                     "d41d8cd98f00b204e9800998ecf8427e  huge2.img 2000000000",
                     "d41d8cd98f00b204e9800998ecf8427e  huge3.img 1000000000"});
        clearCalls();
        QCOMPARE(DiskHandler::GetInstance()->InstallFromUsb(archive), -2);
        QVERIFY(mainLog().contains("CheckFirmwareSize, fw size=5000000004"));
        QCOMPARE(calls(), QStringList());
        // The busy marker is gone on this way out too.
        QVERIFY(!QFile::exists(RCV_PID_FILE));
        QFile::remove(archive);
    }

    // The older layout (family 10): root archive unpacked (a warning of tar is no failure), packages copied to partition 4 when
    // their checksums agree, a mismatch skipped.
    void olderLayoutSkipsChecksumMismatch()
    {
        const QString dir = work + "/older";
        QDir(dir).removeRecursively();
        Sandbox::writeFile(dir + "/rootfs/etc/issue", "older firmware\n");
        // tar warns about a time stamp in the future and still unpacks: its exit status, not its
        // silence, says whether the root archive was unpacked.
        QCOMPARE(Sandbox::run("touch", {"-d", "2099-01-01", dir + "/rootfs/etc/issue"}).exitCode, 0);
        QDir().mkpath(dir + "/packages");
        QVERIFY(Sandbox::run("tar", {"-C", dir + "/rootfs", "-cf", dir + "/packages/root.tar", "."}).exitCode == 0);
        const QByteArray rootTar = Sandbox::readFile(dir + "/packages/root.tar");
        Sandbox::writeFile(dir + "/packages/root.md5", (md5(rootTar) + "  root.tar\n").toLatin1());
        Sandbox::writeFile(dir + "/packages/good.squash", "good package\n");
        Sandbox::writeFile(dir + "/packages/good.md5", (md5("good package\n") + "  good.squash\n").toLatin1());
        Sandbox::writeFile(dir + "/packages/bad.squash", "tampered package\n");
        Sandbox::writeFile(dir + "/packages/bad.md5", (md5("original package\n") + "  bad.squash\n").toLatin1());
        Sandbox::writeFile(dir + "/packages/packages", "# packages\ngood\nbad\n");
        Sandbox::writeFile(dir + "/packages/manifest.txt", "root good bad\n");
        QDir(dir + "/rootfs").removeRecursively();
        const QString archive = "/mnt/usb/firmware/T10_10.2.0.tar";
        QVERIFY(Sandbox::run("tar", {"-C", dir, "-cf", archive, "."}).exitCode == 0);

        clearCalls();
        QCOMPARE(DiskHandler::GetInstance()->InstallFromUsb(archive), 0);
        QCOMPARE(calls(), QStringList({"qt_part_10.sh|" + unit->kernelName() + "|660|320|busy=yes"}));
        QCOMPARE(readFromPartition(1, "etc/issue"), QByteArray("older firmware\n"));
        QCOMPARE(readFromPartition(4, "good.squash"), QByteArray("good package\n"));
        QCOMPARE(readFromPartition(4, "bad.squash"), QByteArray("(missing)"));
        QVERIFY(mainLog().contains("MD5 comparison failed"));
        QFile::remove(archive);
    }

    // The automatic install at start-up: the one archive on the stick, then a reboot.
    void automaticInstallAtStartUpReboots()
    {
        QVERIFY(setKernelCommandLine("quiet auto-install-reboot"));
        const QString archive = "/mnt/usb/firmware/LYX-64X_16.5.2.tar";
        QCOMPARE(QDir("/mnt/usb/firmware").entryList({"*.tar"}, QDir::Files), QStringList({"LYX-64X_16.5.2.tar"}));
        clearCalls();
        PxeClient window;
        QVERIFY(waitFor([] { return mainLog().contains("AutoInstallFirmware complete"); }, 120000));
        QVERIFY(mainLog().contains("installing /mnt/usb/firmware/LYX-64X_16.5.2.tar"));
        QCOMPARE(calls().last(), QString("reboot|busy=no"));
        QVERIFY(setKernelCommandLine("quiet"));
        Q_UNUSED(archive);
    }
};

QTEST_MAIN(TestFirmware)
#include "tst_firmware.moc"
