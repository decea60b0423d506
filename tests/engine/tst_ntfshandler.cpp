// NtfsHandler with the real ntfs-3g tools on loop drives: ntfsclone images round trip (files and
// hashes checked through an ntfs-3g mount, ntfsfix -n clean), a sparse 12 GB data partition is
// shrunk to the planned size and grown back to the disk's end, and the failure paths (dirty
// volume, failing test runs, no NTFS at all) report what they must.
#include "capture.h"
#include "ntfshandler.h"
#include "resizeinformation.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

static const QString FILES_SCRIPT = QStringLiteral(
    "mkdir -p \"$1/Windows/System32\" \"$1/Users/tech\" && head -c 3000000 /dev/urandom > \"$1/Windows/System32/big.dll\" && "
    "head -c 123457 /dev/urandom > \"$1/Users/tech/Grüße.txt\" && echo hello > \"$1/readme.txt\" && "
    "head -c 1048576 /dev/urandom > \"$1/pagefile.sys\"");

static QByteArray treeHashes(const QString &dir)
{
    return Sandbox::sh("cd '" + dir + "' && find . -type f | sort | while read -r f; do md5sum \"$f\"; done").out;
}

// Files written through an ntfs-3g mount; returns their hashes.
static QByteArray populate(VirtualDrive &drive, int number)
{
    const QString mnt = "/tmp/mnt-" + drive.kernelName();
    if (!drive.mount(number, "ntfs", mnt))
        return QByteArray();
    Sandbox::writeFile("/tmp/populate.sh", FILES_SCRIPT.toUtf8());
    if (Sandbox::sh("bash /tmp/populate.sh '" + mnt + "'").exitCode != 0)
        return QByteArray();
    const QByteArray hashes = treeHashes(mnt);
    VirtualDrive::unmount(mnt);
    return hashes;
}

static QByteArray hashesOf(VirtualDrive &drive, int number)
{
    const QString mnt = "/tmp/check-" + drive.kernelName();
    if (!drive.mount(number, "ntfs", mnt))
        return QByteArray("<no mount>");
    const QByteArray hashes = treeHashes(mnt);
    VirtualDrive::unmount(mnt);
    return hashes;
}

static bool ntfsfixClean(const QString &partition)
{
    const Sandbox::Result r = Sandbox::sh("ntfsfix -n " + partition + " 2>&1");
    return r.exitCode == 0 && r.out.contains("processed successfully") && !r.out.contains("BAD");
}

// Start and size of a partition as sfdisk reports them.
static QPair<quint64, quint64> extent(const QString &device, int number)
{
    const QJsonObject table = QJsonDocument::fromJson(Sandbox::sh("sfdisk --json " + device).out)
                                  .object().value("partitiontable").toObject();
    for (const QJsonValue &v : table.value("partitions").toArray()) {
        const QJsonObject p = v.toObject();
        if (p.value("node").toString().endsWith(QString::number(number)))
            return {quint64(p.value("start").toDouble()), quint64(p.value("size").toDouble())};
    }
    return {0, 0};
}

static quint64 reportValue(const QString &partition, const QString &field)
{
    return ResizeInformation(QString::fromLocal8Bit(Sandbox::sh("ntfsresize -if " + partition).out)).*(
        field == "volume" ? &ResizeInformation::volumeSize
                          : field == "device" ? &ResizeInformation::deviceSize : &ResizeInformation::spaceInUse);
}

static QStringList traceLines()
{
    QStringList lines;
    for (QString line : QString::fromUtf8(Sandbox::readFile(NtfsHandler::shrinkLog2c)).split('\n'))
        lines << line.remove(QRegularExpression("^\\[[0-9/: ]+\\] "));
    return lines;
}

class TstNtfsHandler : public QObject
{
    Q_OBJECT
    NtfsHandler *ntfs = nullptr;
    VirtualDrive *source = nullptr;
    QByteArray sourceHashes;
    const QStringList layout{"-n", "1:2048:+16M", "-t", "1:ef00", "-n", "2:0:+100M", "-t", "2:0700",
                             "-n", "3:0:+100M", "-t", "3:0700"};

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
        ntfs = new NtfsHandler;
        source = new VirtualDrive("win", "256M");
        QVERIFY(source->isValid());
        QVERIFY(source->makeGpt(layout));
        QVERIFY(source->makeFileSystem(2, "ntfs", "Windows"));
        sourceHashes = populate(*source, 2);
        QVERIFY(sourceHashes.contains("big.dll"));
    }

    void cleanupTestCase()
    {
        delete source;
    }

    void init()
    {
        for (const char *f : {"/var/log/recovery.log", "/var/log/vtl_debug.log", "/var/log/rcv_task", "/var/log/rcv_status"})
            QFile::remove(f);
        ntfs->setSplitSizes(1024);
    }

    void resizeInformation()
    {
        const ResizeInformation r(QStringLiteral(
            "ntfsresize v2022.10.3 (libntfs-3g)\nDevice name        : /dev/loop1\nNTFS volume version: 3.1\n"
            "Cluster size       : 4096 bytes\nCurrent volume size: 12884898304 bytes (12885 MB)\n"
            "Current device size: 12884901888 bytes (12885 MB)\nChecking filesystem consistency ...\n"
            "Space in use       : 66 MB (0.5%)\nPlease make a test run using both the -n and -s options before real resizing!\n"));
        QCOMPARE(r.deviceName, QString("/dev/loop1"));
        QCOMPARE(r.volumeVersion, QString("3.1"));
        QCOMPARE(r.clusterSize, quint64(4096));
        QCOMPARE(r.volumeSize, quint64(12884898304));
        QCOMPARE(r.deviceSize, quint64(12884901888));
        QCOMPARE(r.spaceInUse, quint64(66));
        QCOMPARE(r.freeBytes, quint64(12884898304 - 66000000));
        QVERIFY(r.hasInfo);
        QVERIFY(!r.hasError);
        const ResizeInformation bad(QStringLiteral("ERROR: Volume is scheduled for check.\nno colon here"));
        QVERIFY(bad.hasError);
        QVERIFY(bad.hasInfo);
        QCOMPARE(bad.freeBytes, quint64(0));
        QVERIFY(!ResizeInformation(QStringLiteral("nothing")).hasInfo);

        // Against the real tool on a real volume.
        QCOMPARE(reportValue(source->partition(2), "device"), quint64(100 * 1048576));
    }

    void shrinkPlan_data()
    {
        QTest::addColumn<quint64>("inUse");
        QTest::addColumn<quint64>("other");
        QTest::addColumn<quint64>("device");
        QTest::addColumn<quint64>("otherAlloc");
        QTest::addColumn<quint64>("roomM");
        QTest::addColumn<quint64>("domMax");
        QTest::addColumn<quint64>("testSizeM");
        QTest::newRow("20000 MB in use") << quint64(20000) << quint64(1000000) << quint64(100000000000) << quint64(509)
                                         << quint64(99491) << quint64(31996) << quint64(25998);
        QTest::newRow("small device") << quint64(20000) << quint64(1000000) << quint64(25000000000) << quint64(509)
                                      << quint64(24491) << quint64(31996) << quint64(24091);
        QTest::newRow("15998 in use") << quint64(15998) << quint64(0) << quint64(100000000000) << quint64(0)
                                      << quint64(99500) << quint64(15998) << quint64(15598);
        QTest::newRow("15999 in use") << quint64(15999) << quint64(0) << quint64(100000000000) << quint64(0)
                                      << quint64(99500) << quint64(31996) << quint64(23997);
        QTest::newRow("900000 other") << quint64(1000) << quint64(900000) << quint64(12000000000) << quint64(458)
                                      << quint64(11500) << quint64(15998) << quint64(8499);
        QTest::newRow("no room") << quint64(50) << quint64(0) << quint64(300000000) << quint64(0)
                                 << quint64(0) << quint64(15998) << quint64(0);
    }
    void shrinkPlan()
    {
        QFETCH(quint64, inUse);
        QFETCH(quint64, other);
        QFETCH(quint64, device);
        QFETCH(quint64, otherAlloc);
        QFETCH(quint64, roomM);
        QFETCH(quint64, domMax);
        QFETCH(quint64, testSizeM);
        ResizeInformation r;
        r.spaceInUse = inUse;
        r.deviceSize = device;
        const NtfsHandler::ShrinkPlan p = NtfsHandler::PlanShrink(r, other);
        QCOMPARE(p.otherAlloc, otherAlloc);
        QCOMPARE(p.roomM, roomM);
        QCOMPARE(p.domMax, domMax);
        QCOMPARE(p.testSizeM, testSizeM);
        if (QByteArray(QTest::currentDataTag()) == "20000 MB in use") {
            QCOMPARE(p.adjust, quint64(5998));
            QCOMPARE(p.cap, quint64(31596));
            QCOMPARE(NtfsHandler::PartitionSectors(25998, 4096, 512), quint64(50777348));
        }
    }

    void roundTripSplit()
    {
        // 1 MiB pieces of the gzip stream; restored onto a blank drive from the pieces.
        VirtualDrive target("target", "256M");
        QVERIFY(target.makeGpt(layout));
        ntfs->setSplitSizes(1);
        const QString base = "/tmp/win set/it's $(touch pwned) x.bim";
        QDir().mkpath("/tmp/win set");
        const quint64 bytes = 100 * 1048576ULL;
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->BackupNtfsImage(base, source->device(), 2, bytes), 0); });
        QVERIFY(out.contains("Backup NTFS Image() '" + base.toUtf8() + "' " + source->partition(2).toUtf8()));
        QVERIFY(out.contains("Backup NTFS Image Finished"));
        QVERIFY(!QFile::exists(base + ".p2"));
        QVERIFY(QFile::exists(base + ".p2.003"));
        QCOMPARE(QFileInfo(base + ".p2.000").size(), qint64(1048576));
        QVERIFY(!QFile::exists("pwned") && !QFile::exists("/tmp/win set/pwned"));

        out = captureFd(1, [&] { QCOMPARE(ntfs->RestoreNtfsImage(base, target.device(), true, 2, 0), 0); });
        QVERIFY(out.contains("Restore NTFS Image Finished"));
        QVERIFY(ntfsfixClean(target.partition(2)));
        QCOMPARE(hashesOf(target, 2), sourceHashes);
    }

    void roundTripWholeOntoAnotherNumber()
    {
        // Default split size: one piece; joined into a whole image, set partition 2 goes onto
        // drive partition 3.
        VirtualDrive target("target3", "256M");
        QVERIFY(target.makeGpt(layout));
        const QString base = "/tmp/whole/w.bim";
        QDir().mkpath("/tmp/whole");
        captureFd(1, [&] { QCOMPARE(ntfs->BackupNtfsImage(base, source->device(), 2, 100 * 1048576ULL), 0); });
        QVERIFY(QFile::exists(base + ".p2.000"));
        QVERIFY(!QFile::exists(base + ".p2.001"));
        QVERIFY(QFile::rename(base + ".p2.000", base + ".p2"));
        const QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->RestoreNtfsImage(base, target.device(), false, 3, 2), 0); });
        QVERIFY(out.contains(QString("Restore NTFS Image %1.p2 %2").arg(base, target.partition(3)).toUtf8()));
        QVERIFY(ntfsfixClean(target.partition(3)));
        QCOMPARE(hashesOf(target, 3), sourceHashes);
    }

    void backupAndRestoreFailures()
    {
        QDir().mkpath("/tmp/fail");
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->BackupNtfsImage("/tmp/fail/f.bim", source->device(), 1, 16 * 1048576ULL), 1013); });
        QVERIFY(out.contains("Backup NTFS Image Finished"));
        QVERIFY2(out.contains(" ERROR"), out.constData());   // the tool's own error line, shown
        out = captureFd(1, [&] { QCOMPARE(ntfs->RestoreNtfsImage("/tmp/fail/none.bim", source->device(), false, 3, 2), 1014); });
        QVERIFY(out.contains("Restore NTFS Image Failed"));
        QCOMPARE(hashesOf(*source, 2), sourceHashes);
        // A partition the drive does not have: no plain file appears under /dev in its place.
        Sandbox::sh("cat /dev/zero | head -c 1000 | gzip -c > /tmp/fail/zero.bim.p2");
        out = captureFd(1, [&] { QCOMPARE(ntfs->RestoreNtfsImage("/tmp/fail/zero.bim", source->device(), false, 7, 2), 1014); });
        QVERIFY(out.contains("ERROR: " + source->partition(7).toUtf8() + " is not a block device"));
        QVERIFY(!QFile::exists(source->partition(7)));
    }

    void errorSearch()
    {
        QStringList shown;
        QByteArray out = captureFd(1, [&] {
            ntfs->FindErrorMessage(QStringLiteral("fine\nerror: a\nERROR(5): b\nError opening c\nNTFS is inconsistent. Run chkdsk\n"
                                                  "  error later\nNTFS is fine"));
        });
        QCOMPARE(QString::fromUtf8(out), QString(" ERROR: a\n ERROR(5): b\n ERROR opening c\n ERROR: NTFS is inconsistent. Run chkdsk\n"));
        // From a file only its last ten lines count.
        QStringList lines{"ERROR: too early"};
        for (int i = 0; i < 10; ++i)
            lines << QString("line %1").arg(i);
        lines.insert(5, "error: inside");
        Sandbox::writeFile("/tmp/tool.log", lines.join('\n').toUtf8() + "\n");
        out = captureFd(1, [&] { ntfs->FindErrorMessage(QStringLiteral("/tmp/tool.log")); });
        QCOMPARE(QString::fromUtf8(out), QString(" ERROR: inside\n"));
    }

    void testRuns()
    {
        QFile::remove(NtfsHandler::shrinkLog2c);
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->TestShrinkImage(source->partition(2), 60), 0); });
        QVERIFY(Sandbox::readFile(NtfsHandler::shrinkLog).contains("successfully"));
        QStringList trace = traceLines();
        QCOMPARE(trace.mid(0, 2), (QStringList{"Processes To Run",
                                               "0 -- ntfsresize --force --force -n -s 60M '" + source->partition(2) + "'"}));
        QVERIFY(trace.filter(QRegularExpression("^raw had \\d+ lines$")).size() == 1);
        // Less room than the data needs: the tool refuses.
        out = captureFd(1, [&] { QCOMPARE(ntfs->TestShrinkImage(source->partition(2), 2), -1); });
        QVERIFY(out.contains("ntfsresize of " + source->partition(2).toUtf8() + " Failed"));

        // No report at all.
        QFile::remove(NtfsHandler::shrinkLog2c);
        Sandbox::writeDouble("ntfsresize", "#!/bin/sh\nexit 0\n");
        captureFd(1, [&] { QCOMPARE(ntfs->TestShrinkImage(source->partition(2), 60), -1); });
        QFile::remove(Sandbox::doublesDir() + "/ntfsresize");
        trace = traceLines();
        QVERIFY(trace.contains("raw had 1 lines"));
        QVERIFY(trace.contains("0 -- "));
        QVERIFY(Sandbox::readFile("/var/log/vtl_debug.log").contains("Logfile /var/log/shrink_ntfs.log not found"));
    }

    void failingTestRunsGiveUp()
    {
        // Every read-only test run fails (the real tool answers everything else).
        Sandbox::writeDouble("ntfsresize", "#!/bin/sh\ncase \" $* \" in *' -n '*) echo 'ERROR: simulated test failure'; exit 1;; esac\n"
                                           "exec /usr/sbin/ntfsresize \"$@\"\n");
        QFile::remove(NtfsHandler::shrinkLog2c);
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->ShrinkNtfsImage(source->device(), 2, true, 100000), 1009); });
        QFile::remove(Sandbox::doublesDir() + "/ntfsresize");
        const QStringList tests = traceLines().filter(QRegularExpression("^ Test Shrink , "));
        QCOMPARE(tests.size(), 4);
        // 100 MB device: no room beyond the reserve, so the plan is 0 MB, then 1000 MB steps up to the cap.
        const QString p = source->partition(2);
        QCOMPARE(tests, (QStringList{" Test Shrink , " + p + ", 0, 0", " Test Shrink , " + p + ", 1000, 1",
                                     " Test Shrink , " + p + ", 2000, 2", " Test Shrink , " + p + ", 3000, 3"}));
        QVERIFY(out.contains("ntfsresize of " + p.toUtf8() + " Failed"));
        QVERIFY(out.contains(" ERROR: simulated test failure"));
        QVERIFY(out.endsWith("Please beboot into Windows and force chkdsk to run on next boot.\nReboot and then Optimaze the drive\n"));
        QVERIFY(!ntfs->volumeShrunk);
        QCOMPARE(hashesOf(*source, 2), sourceHashes);
    }

    // The test runs pass, the real shrink fails: 1010, the tool's error shown, nothing adjusted.
    void failingRealShrink()
    {
        Sandbox::writeDouble("ntfsresize", "#!/bin/sh\ncase \" $* \" in\n"
                                           "*' -n '*) echo 'The read-only test run ended successfully.'; exit 0;;\n"
                                           "*' -s '*) echo 'ERROR: simulated shrink failure'; exit 1;;\nesac\n"
                                           "exec /usr/sbin/ntfsresize \"$@\"\n");
        const QString table = Sandbox::sh("sfdisk -d " + source->device()).out;
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->ShrinkNtfsImage(source->device(), 2, true, 100000), 1010); });
        QFile::remove(Sandbox::doublesDir() + "/ntfsresize");
        QVERIFY(out.contains("ntfsresize of " + source->partition(2).toUtf8() + " Failed"));
        QVERIFY(out.contains(" ERROR: simulated shrink failure"));
        QVERIFY(!ntfs->volumeShrunk);
        QCOMPARE(Sandbox::sh("sfdisk -d " + source->device()).out, table);
        QCOMPARE(hashesOf(*source, 2), sourceHashes);
    }

    void refusedShrinks()
    {
        // Not NTFS at all: 1017 with the tool's error shown.
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->ShrinkNtfsImage(source->device(), 1, true, 0), 1017); });
        QVERIFY(out.contains("Initial check for resize failed"));
        QVERIFY(out.contains("We are not able to shrink the image due to problems with the NTFS Volume"));
        QVERIFY(out.contains(" ERROR"));

        // A volume scheduled for a check: 1007, and its flag is cleared for the next attempt.
        VirtualDrive dirty("dirty", "256M");
        QVERIFY(dirty.makeGpt(layout) && dirty.makeFileSystem(2, "ntfs"));
        QCOMPARE(Sandbox::sh("ntfsresize --force --force -s 90M " + dirty.partition(2) + " >/dev/null").exitCode, 0);
        QVERIFY(Sandbox::sh("ntfsresize -i " + dirty.partition(2)).out.contains("ERROR: Volume is scheduled for check"));
        out = captureFd(1, [&] { QCOMPARE(ntfs->ShrinkNtfsImage(dirty.device(), 2, true, 0), 1007); });
        QVERIFY(out.contains("Drive is scheduled to run chkdsk on next boot"));
        QVERIFY(Sandbox::sh("ntfsresize -i " + dirty.partition(2)).out.contains("Please make a test run"));
    }

    void shrinkAndExpandALargeDataPartition()
    {
        // 12 GiB sparse drive: a 100 MiB partition, then the data partition (over 10 GB) to the end.
        VirtualDrive drive("dom", "12G");
        QVERIFY(drive.isValid());
        QVERIFY(drive.makeGpt({"-n", "1:2048:+100M", "-t", "1:ef00", "-n", "2:0:0", "-t", "2:0700"}));
        QVERIFY(drive.setAsSystemDrive());
        QVERIFY(drive.makeFileSystem(2, "ntfs", "Data"));
        const QByteArray hashes = populate(drive, 2);
        QVERIFY(!hashes.isEmpty());
        const QString part = drive.partition(2);
        const QPair<quint64, quint64> before = extent(drive.device(), 2);
        QVERIFY(before.second * 512 > 10000000000ULL);

        // The plan follows the tool's own report of the volume.
        ResizeInformation report(QString::fromLocal8Bit(Sandbox::sh("ntfsresize -if " + part).out));
        QCOMPARE(report.deviceSize, before.second * 512);
        const quint64 other = 34 + 34 + extent(drive.device(), 1).second;
        const NtfsHandler::ShrinkPlan plan = NtfsHandler::PlanShrink(report, other);
        QVERIFY(plan.testSizeM > report.spaceInUse && plan.testSizeM < before.second * 512 / 1000000);

        QFile::remove(NtfsHandler::shrinkLog2c);
        QByteArray out = captureFd(1, [&] { QCOMPARE(ntfs->ShrinkNtfsImage(drive.device(), 2, true, other), 0); });
        QVERIFY(ntfs->volumeShrunk);
        QVERIFY(out.contains("Start resize NTFS Data Partition"));

        const QStringList trace = traceLines();
        for (const QString &expected : {
                 QString("NtfsHandler::ShrinkNtfsImage initial resize check"),
                 QString("NtfsHandler::ShrinkNtfsImage Initial --  deviceSize=%1(bytes), partSize=%2(bytes)")
                     .arg(report.deviceSize).arg(report.volumeSize),
                 QString("NtfsHandler::ShrinkNtfsImage Initial -- inUse=%1, adjust=%2, testSizeM=%3, domMax=%4")
                     .arg(plan.inUse).arg(plan.adjust).arg(plan.firstTestSizeM).arg(plan.domMax),
                 QString("NtfsHandler::ShrinkNtfsImage Adjusted  -- inUse=%1, adjust=%2, testSizeM=%3, domMax=%4, otherAlloc=%5")
                     .arg(plan.inUse).arg(plan.adjust).arg(plan.testSizeM).arg(plan.cap).arg(plan.otherAlloc),
                 QString("Start trying to shrink drive, %1, %2").arg(part).arg(plan.testSizeM),
                 QString(" Test Shrink , %1, %2, 0").arg(part).arg(plan.testSizeM)})
            QVERIFY2(trace.contains(expected), qPrintable(expected + "\n--- trace:\n" + trace.join('\n')));
        QCOMPARE(trace.filter(" Test Shrink , ").size(), 1);
        // The same lines worked out by hand for this drive: the data partition holds 24958943
        // sectors, mkntfs's volume is 3072 bytes smaller, and the volume with its files uses 69 MB.
        // Module 15998 MB: adjust (15998 - 69) / 2 = 7964, test size 69 + 7964 = 8033, cap
        // 15998 - 400 = 15598; the other partitions' 34 + 34 + 204800 sectors / 1963 = 104.
        for (const QString &expected : {
                 QString("NtfsHandler::ShrinkNtfsImage Initial --  deviceSize=12778978816(bytes), partSize=12778975744(bytes)"),
                 QString("NtfsHandler::ShrinkNtfsImage Initial -- inUse=69, adjust=7964, testSizeM=8033, domMax=15998"),
                 QString("NtfsHandler::ShrinkNtfsImage Adjusted  -- inUse=69, adjust=7964, testSizeM=8033, domMax=15598, otherAlloc=104"),
                 QString("Start trying to shrink drive, %1, 8033").arg(part),
                 QString(" Test Shrink , %1, 8033, 0").arg(part)})
            QVERIFY2(trace.contains(expected), qPrintable(expected + "\n--- trace:\n" + trace.join('\n')));
        QVERIFY(Sandbox::readFile("/var/log/vtl_debug.log")
                    .contains(QString("0 -- ntfsresize --force --force -s %1M '%2'").arg(plan.testSizeM).arg(part).toUtf8()));

        // The partition now ends where the shrunk volume (plus a cluster, in 2048-byte steps) does.
        const QPair<quint64, quint64> shrunk = extent(drive.device(), 2);
        QCOMPARE(shrunk.first, before.first);
        QCOMPARE(shrunk.second, NtfsHandler::PartitionSectors(plan.testSizeM, report.clusterSize, 512));
        // By hand: 8033000000 bytes are 1961181 whole 4096-byte clusters, one more is 1961182,
        // 8033001472 bytes = 15689456 sectors (a multiple of 4 already), plus 4.
        QCOMPARE(shrunk.second, quint64(15689460));
        const quint64 volume = reportValue(part, "volume");
        QVERIFY(volume <= plan.testSizeM * 1000000 && volume + report.clusterSize > plan.testSizeM * 1000000);
        QVERIFY(volume < shrunk.second * 512);
        QVERIFY(ntfsfixClean(part));
        QCOMPARE(hashesOf(drive, 2), hashes);

        // Grown back to the end of the disk's usable area, the volume filling its partition.
        QFile::remove(NtfsHandler::expandLog);
        out = captureFd(1, [&] { QCOMPARE(ntfs->ExpandNtfsImage(drive.device(), 2, true, true), 0); });
        const QPair<quint64, quint64> grown = extent(drive.device(), 2);
        const quint64 diskSectors = Sandbox::sh("blockdev --getsz " + drive.device()).out.trimmed().toULongLong();
        const quint64 lastUsable = Sandbox::sh("sgdisk -p " + drive.device() + " | sed -n 's/.*last usable sector is \\([0-9]*\\).*/\\1/p'")
                                      .out.trimmed().toULongLong();
        QVERIFY(lastUsable > 0);
        QCOMPARE(grown.first, before.first);
        QCOMPARE(grown.first + grown.second - 1, qMin(lastUsable, diskSectors - 34) - 2);
        const quint64 grownVolume = reportValue(part, "volume");
        QVERIFY(grownVolume <= grown.second * 512 && grownVolume + report.clusterSize + 512 > grown.second * 512);
        QVERIFY(Sandbox::readFile(NtfsHandler::expandLog).contains("Schedule chkdsk"));
        QVERIFY(ntfsfixClean(part));
        QCOMPARE(hashesOf(drive, 2), hashes);

        // A later expansion that fails is a failure, whatever earlier runs left in the log.
        out = captureFd(1, [&] { QCOMPARE(ntfs->ExpandNtfsImage(drive.device(), 1, true, false), 1011); });
        QVERIFY(Sandbox::readFile(NtfsHandler::expandLog).contains("Schedule chkdsk"));
    }
};

QTEST_GUILESS_MAIN(TstNtfsHandler)
#include "tst_ntfshandler.moc"
