// Backup, clone, restore and deploy end to end: the real vaultine on loop drives in the sandbox,
// with the real sgdisk, sfdisk, ntfsclone, ntfsresize, gzip, split, tar and xblit. Oracles are
// the tools themselves: sgdisk -p / sfdisk -d for tables, md5 of partitions, files on NTFS
// volumes mounted with ntfs-3g, ntfsfix -n.
#include "enginerun.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {

const QString SET_DIR = QStringLiteral("/mnt/usb");

using enginerun::EngineRun;
using enginerun::engine;
using enginerun::md5Of;
using enginerun::sh;

// sgdisk -p without the first line (it names the device) and the disk identifier.
QString gptListing(const QString &device)
{
    return sh("sgdisk -p " + device + " | tail -n +2 | grep -v 'Disk identifier'");
}

// sfdisk -d with the device names taken out, so two drives can be compared.
QString dosDump(const QString &device)
{
    QString dump = sh("sfdisk -d " + device);
    dump.replace(device, "DEV");
    return dump;
}

// ntfsresize's "Current volume size" or "Current device size" of an NTFS partition, in bytes.
qint64 ntfsSize(const QString &partition, const QString &which)
{
    return sh("ntfsresize -f -i " + partition + " | sed -n 's/^Current " + which + " size: \\([0-9]*\\).*/\\1/p'").toLongLong();
}

// ntfsfix's read-only check of a volume.
bool ntfsClean(const QString &partition)
{
    int status = -1;
    sh("ntfsfix -n " + partition, &status);
    return status == 0;
}

// name -> md5 of every file below dir.
QMap<QString, QString> fileHashes(const QString &dir)
{
    QMap<QString, QString> hashes;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains("System Volume Information") || path.contains("$RECYCLE"))
            continue;
        hashes.insert(path.mid(dir.size()), md5Of(path));
    }
    return hashes;
}

// One engine run on drive that must end with code: QVERIFY_ENGINE(0, drive, "-b", "bim", name).
#define QVERIFY_ENGINE(code, drive, ...)                                  \
    do {                                                                  \
        const EngineRun run_ = engine(QStringList{__VA_ARGS__}, drive);   \
        QCOMPARE_STATUS(run_, code);                                      \
    } while (0)

}

class TstBackupRestore : public QObject
{
    Q_OBJECT

    // A Windows-style GPT drive: EFI (FAT), MS-Reserved, NTFS data with files, MS-Recovery.
    static void makeWindowsGpt(VirtualDrive &d, const QString &dataSize, bool dataLast)
    {
        QStringList args{"-n", "1:2048:+32M", "-t", "1:ef00", "-c", "1:EFI system partition",
                         "-n", "2:0:+16M", "-t", "2:0c01", "-c", "2:Microsoft reserved partition"};
        if (dataLast)
            args << "-n" << "3:0:+24M" << "-t" << "3:2700" << "-c" << "3:Recovery"
                 << "-n" << "4:0:" + dataSize << "-t" << "4:0700" << "-c" << "4:Basic data partition";
        else
            args << "-n" << "3:0:" + dataSize << "-t" << "3:0700" << "-c" << "3:Basic data partition"
                 << "-n" << "4:0:0" << "-t" << "4:2700" << "-c" << "4:Recovery";
        QVERIFY(d.makeGpt(args));
        QVERIFY(d.makeFileSystem(1, "vfat", "EFI"));
        const int data = dataLast ? 4 : 3;
        QVERIFY(d.makeFileSystem(data, "ntfs", "Windows"));
        const int recovery = dataLast ? 3 : 4;
        sh("head -c 8M /dev/urandom | dd of=" + d.partition(recovery) + " conv=notrunc 2>/dev/null");
        sh("MTOOLS_SKIP_CHECK=1 mmd -i " + d.partition(1) + " ::/EFI; echo boot | MTOOLS_SKIP_CHECK=1 mcopy -i "
           + d.partition(1) + " - ::/EFI/boot.txt");
        fillNtfs(d, data);
    }

    static void fillNtfs(VirtualDrive &d, int n)
    {
        QVERIFY(d.mount(n, "ntfs", "/mnt/fill"));
        int status = -1;
        sh("mkdir -p '/mnt/fill/Users/Tech Name' /mnt/fill/Windows/System32 && "
           "head -c 3M /dev/urandom > '/mnt/fill/Users/Tech Name/report.bin' && "
           "echo settings > /mnt/fill/Windows/System32/config.ini && "
           "seq 1 200000 > /mnt/fill/Windows/numbers.txt", &status);
        QVERIFY(VirtualDrive::unmount("/mnt/fill"));
        QCOMPARE(status, 0);
    }

    // The files of fillNtfs as ntfsFiles lists them, so that a round trip never compares two
    // empty lists: report.bin is random, the other two have known digests (md5sum of
    // "settings\n" and of seq 1 200000).
    static void verifyFilled(const QMap<QString, QString> &files)
    {
        QVERIFY2(files.contains("/Users/Tech Name/report.bin"), qPrintable(QStringList(files.keys()).join(", ")));
        QCOMPARE(files.value("/Windows/System32/config.ini"), QString("e78e7faf2c91332782285f057698f37f"));
        QCOMPARE(files.value("/Windows/numbers.txt"), QString("0e10426a1d5bddffcef02f1345787128"));
    }

    static QMap<QString, QString> ntfsFiles(VirtualDrive &d, int n)
    {
        if (!d.mount(n, "ntfs", "/mnt/check"))
            return {{"<mount failed>", d.partition(n)}};
        const QMap<QString, QString> hashes = fileHashes("/mnt/check");
        VirtualDrive::unmount("/mnt/check");
        return hashes;
    }

    static QStringList setFiles()
    {
        return QDir(SET_DIR).entryList(QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void init()
    {
        enginerun::freshStart(SET_DIR, {"/tmp/forceClone", "/tmp/.nosums", "/tmp/abort-vtl", "/var/log/vtl_pid", "/tmp/restore-info.log"});
        for (const char *d : {"gzip", "gunzip", "pigz"})
            QFile::remove(Sandbox::doublesDir() + "/" + d);
    }

    void compressedGptRoundTrip()
    {
        VirtualDrive source("gpt-src", "160M");
        makeWindowsGpt(source, "+80M", false);
        const QMap<QString, QString> files = ntfsFiles(source, 3);
        verifyFilled(files);

        const EngineRun b = engine({"-b", "bim", SET_DIR + "/x.bim"}, source.device());
        QCOMPARE_STATUS(b, 0);
        QCOMPARE(setFiles(), QStringList({"x.bim", "x.bim.gptb", "x.bim.p1", "x.bim.p2", "x.bim.p3.000", "x.bim.p4",
                                          "x.bim.sums", "x.bim.txt"}));
        QCOMPARE(QFileInfo(SET_DIR + "/x.bim").size(), 17408);
        QCOMPARE(QFileInfo(SET_DIR + "/x.bim.gptb").size(), 17920);
        // The console's view: gauge blocks per partition on the error output, the status files.
        QVERIFY(b.err.contains("XXX " + SET_DIR + "/x.bim\n0\nTTT Backing up partition 3\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Completed successfully\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Compressed image backup\n"));
        QVERIFY(b.out.contains("Backing up " + source.kernelName() + " succeeded"));
        // The checksum list: "digest : name" in name order, checked against md5sum.
        QString expected;
        for (const char *m : {"x.bim", "x.bim.gptb", "x.bim.p1", "x.bim.p2", "x.bim.p3.000", "x.bim.p4"})
            expected += md5Of(SET_DIR + "/" + m) + " : " + m + "\n";
        QCOMPARE(QString::fromLatin1(Sandbox::readFile(SET_DIR + "/x.bim.sums")), expected);

        VirtualDrive target("gpt-dst", "160M");
        const EngineRun r = engine({"-r", "bim", SET_DIR + "/x.bim"}, target.device());
        QCOMPARE_STATUS(r, 0);
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("Completed successfully\n"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_task"), QByteArray("Compressed image restore\n"));
        QVERIFY(r.err.contains("XXX x.bim\n0\nTTT Restoring partition 3\n"));
        QVERIFY(r.out.contains("Restoring x.bim to " + target.device() + " succeeded"));
        QCOMPARE(Sandbox::readFile("/tmp/restore-info.log"), QByteArray("Completed successfully\n"));
        QCOMPARE(gptListing(target.device()), gptListing(source.device()));
        for (int n : {1, 2, 4})
            QCOMPARE(md5Of(target.partition(n)), md5Of(source.partition(n)));
        QCOMPARE(ntfsFiles(target, 3), files);
        QVERIFY(ntfsClean(target.partition(3)));
    }

    void compressedDosRoundTrip()
    {
        VirtualDrive source("dos-src", "128M");
        QVERIFY(source.makeDos("label: dos\nstart=2048, size=180224, type=7, bootable\ntype=27\n"));
        QVERIFY(source.makeFileSystem(1, "ntfs"));
        fillNtfs(source, 1);
        sh("head -c 440 /dev/urandom | dd of=" + source.device() + " conv=notrunc 2>/dev/null");
        sh("head -c 4M /dev/urandom | dd of=" + source.partition(2) + " conv=notrunc 2>/dev/null");
        const QMap<QString, QString> files = ntfsFiles(source, 1);
        verifyFilled(files);

        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/d.bim");
        QCOMPARE(QFileInfo(SET_DIR + "/d.bim").size(), 512);
        QVERIFY(!QFile::exists(SET_DIR + "/d.bim.gptb"));

        VirtualDrive target("dos-dst", "128M");
        QVERIFY_ENGINE(0, target.device(), "-r", "bim", SET_DIR + "/d.bim");
        QCOMPARE(dosDump(target.device()), dosDump(source.device()));
        QCOMPARE(sh("head -c 440 " + target.device() + " | md5sum"), sh("head -c 440 " + source.device() + " | md5sum"));
        QCOMPARE(md5Of(target.partition(2)), md5Of(source.partition(2)));
        QCOMPARE(ntfsFiles(target, 1), files);
    }

    void cloneShrinksAndDeployFillsASmallerDrive()
    {
        // A data partition over 10 GB is shrunk for the clone; sparse images cost no space.
        VirtualDrive source("clone-src", "16G");
        makeWindowsGpt(source, "-600M", false);
        const QString before = gptListing(source.device());
        const QMap<QString, QString> files = ntfsFiles(source, 3);
        verifyFilled(files);

        const EngineRun c = engine({"-c", "bim", SET_DIR + "/c.bim"}, source.device());
        QCOMPARE_STATUS(c, 0);
        QVERIFY(c.out.contains("Cloning " + source.kernelName()));
        QVERIFY(QFile::exists(SET_DIR + "/c.bim.orig.gptb"));
        // The drive is back to its original table, its volume grown again, its files intact.
        QCOMPARE(gptListing(source.device()), before);
        QCOMPARE(ntfsFiles(source, 3), files);
        // The set's table holds the shrunk data partition.
        QVERIFY(Sandbox::writeFile("/tmp/scratch.img", QByteArray()));
        sh("truncate -s 16G /tmp/scratch.img && sgdisk -l " + SET_DIR + "/c.bim.gptb /tmp/scratch.img");
        const qint64 shrunkEnd = sh("sgdisk -i 3 /tmp/scratch.img | sed -n 's/^Last sector: \\([0-9]*\\).*/\\1/p'").toLongLong();
        const qint64 originalEnd = sh("sgdisk -i 3 " + source.device() + " | sed -n 's/^Last sector: \\([0-9]*\\).*/\\1/p'").toLongLong();
        QVERIFY2(shrunkEnd > 0 && shrunkEnd < originalEnd - 4000000, qPrintable(QString("%1 %2").arg(shrunkEnd).arg(originalEnd)));

        // Deploy onto a smaller drive: data partition moved last, grown to the end, volume grown.
        VirtualDrive small("clone-dst", "11G");
        const EngineRun d = engine({"-d", "bim", SET_DIR + "/c.bim"}, small.device());
        QCOMPARE_STATUS(d, 0);
        QVERIFY(d.err.contains("XXX Adjusting partition table\n0\nTTT Deploying to drive\n"));
        QVERIFY(d.out.contains("Deploying partition 4 from 3"));
        const QString types = sh("sfdisk -l -q -o Device,Type " + small.device());
        QVERIFY2(types.contains(QRegularExpression("p3 +Windows recovery")) && types.contains(QRegularExpression("p4 +Microsoft basic data")),
                 qPrintable(types));
        const qint64 lastUsable = sh("sgdisk -p " + small.device() + " | sed -n 's/.*last usable sector is \\([0-9]*\\).*/\\1/p'").toLongLong();
        const qint64 dataEnd = sh("sgdisk -i 4 " + small.device() + " | sed -n 's/^Last sector: \\([0-9]*\\).*/\\1/p'").toLongLong();
        // Grown to the drive's end, within the table tool's 1 MiB alignment.
        QVERIFY2(dataEnd <= lastUsable && lastUsable - dataEnd < 2048, qPrintable(QString("%1 %2").arg(dataEnd).arg(lastUsable)));
        const qint64 volume = ntfsSize(small.partition(4), "volume");
        const qint64 device = ntfsSize(small.partition(4), "device");
        QVERIFY2(volume > 0 && device - volume < 1024 * 1024, qPrintable(QString("%1 %2").arg(volume).arg(device)));
        QCOMPARE(ntfsFiles(small, 4), files);
        QVERIFY(ntfsClean(small.partition(4)));
    }

    // A DOS drive: the set's table is the shrunk drive's first sector, N.orig the original one.
    void dosCloneAndDeploy()
    {
        VirtualDrive source("dos-clone", "16G");
        QVERIFY(source.makeDos("label: dos\nstart=2048, size=32317440, type=7, bootable\ntype=27\n"));
        QVERIFY(source.makeFileSystem(1, "ntfs"));
        fillNtfs(source, 1);
        const QMap<QString, QString> files = ntfsFiles(source, 1);
        verifyFilled(files);
        const QString before = dosDump(source.device());
        const QByteArray firstSector = sh("head -c 512 " + source.device() + " | base64 -w0").toLatin1();

        QVERIFY_ENGINE(0, source.device(), "-c", "bim", SET_DIR + "/dc.bim");
        QCOMPARE(sh("base64 -w0 < " + SET_DIR + "/dc.bim.orig").toLatin1(), firstSector);
        QCOMPARE(QFileInfo(SET_DIR + "/dc.bim").size(), 512);
        QVERIFY(Sandbox::readFile(SET_DIR + "/dc.bim") != Sandbox::readFile(SET_DIR + "/dc.bim.orig"));
        QCOMPARE(dosDump(source.device()), before);
        QCOMPARE(ntfsFiles(source, 1), files);

        // Deployed onto a smaller drive: the data partition keeps its slot but moves behind the
        // recovery partition and fills the drive; its volume grows with it.
        VirtualDrive small("dos-small", "11G");
        QVERIFY_ENGINE(0, small.device(), "-d", "bim", SET_DIR + "/dc.bim");
        const QStringList starts = sh("sfdisk -l -q -o Start " + small.device() + " | tail -n +2").split('\n', Qt::SkipEmptyParts);
        const QStringList ends = sh("sfdisk -l -q -o End " + small.device() + " | tail -n +2").split('\n', Qt::SkipEmptyParts);
        QCOMPARE(starts.size(), 2);
        QVERIFY2(starts[0].trimmed().toLongLong() > ends[1].trimmed().toLongLong(), qPrintable(starts.join(',') + ' ' + ends.join(',')));
        QVERIFY2(11LL * 1024 * 1024 * 2 - ends[0].trimmed().toLongLong() < 4096, qPrintable(ends[0]));
        QCOMPARE(ntfsFiles(small, 1), files);
        QVERIFY(ntfsClean(small.partition(1)));
        QCOMPARE(md5Of(small.partition(2)), md5Of(source.partition(2)));
        const qint64 volume = ntfsSize(small.partition(1), "volume");
        QVERIFY2(volume > 10LL * 1000 * 1000 * 1000, qPrintable(QString::number(volume)));
    }

    void deployReordersAndRestoreKeepsOrder()
    {
        VirtualDrive source("order-src", "200M");
        makeWindowsGpt(source, "+100M", false);   // data is partition 3 of 4, free space after 4
        const QMap<QString, QString> files = ntfsFiles(source, 3);
        verifyFilled(files);
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/o.bim");

        // A clone whose data partition is at most 10 GB images it as it is: no original table kept.
        QVERIFY_ENGINE(0, source.device(), "-c", "bim", SET_DIR + "/small-clone.bim");
        QVERIFY(!QFile::exists(SET_DIR + "/small-clone.bim.orig.gptb"));
        QCOMPARE(Sandbox::readFile(SET_DIR + "/small-clone.bim.gptb"), Sandbox::readFile(SET_DIR + "/o.bim.gptb"));

        // A restore onto a larger drive puts the set back as it was: same partitions, same
        // volume size, the rest of the drive left free.
        VirtualDrive restored("order-r", "300M");
        QVERIFY_ENGINE(0, restored.device(), "-r", "bim", SET_DIR + "/o.bim");
        const QString partitionLines = "sgdisk -p %1 | sed -n '/^Number/,$p'";
        QCOMPARE(sh(partitionLines.arg(restored.device())), sh(partitionLines.arg(source.device())));
        QCOMPARE(ntfsSize(restored.partition(3), "volume"), ntfsSize(source.partition(3), "volume"));
        QCOMPARE(ntfsFiles(restored, 3), files);

        VirtualDrive deployed("order-d", "300M");
        QVERIFY_ENGINE(0, deployed.device(), "-d", "bim", SET_DIR + "/o.bim");
        const QString types = sh("sfdisk -l -q -o Device,Type " + deployed.device());
        QVERIFY2(types.contains(QRegularExpression("p4 +Microsoft basic data")), qPrintable(types));
        QCOMPARE(md5Of(deployed.partition(3)), md5Of(source.partition(4)));   // recovery, moved up
        QCOMPARE(ntfsFiles(deployed, 4), files);
        const qint64 volume = ntfsSize(deployed.partition(4), "volume");
        QVERIFY2(volume > 200LL * 1000 * 1000, qPrintable(QString::number(volume)));
    }

    // A GPT whose entry 2 was deleted (partitions 1, 3 and 4 remain): the data partition 3 is
    // imaged under its own number and comes back with every file.
    void deletedEntryKeepsItsPartition()
    {
        VirtualDrive source("gap-src", "160M");
        makeWindowsGpt(source, "+80M", false);
        sh("sgdisk -d 2 " + source.device() + " >/dev/null && sbx_probe " + source.device());
        const QMap<QString, QString> files = ntfsFiles(source, 3);
        verifyFilled(files);

        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/gap.bim");
        QCOMPARE(setFiles(), QStringList({"gap.bim", "gap.bim.gptb", "gap.bim.p1", "gap.bim.p3.000", "gap.bim.p4",
                                          "gap.bim.sums", "gap.bim.txt"}));
        VirtualDrive target("gap-dst", "160M");
        QVERIFY_ENGINE(0, target.device(), "-r", "bim", SET_DIR + "/gap.bim");
        QCOMPARE(gptListing(target.device()), gptListing(source.device()));
        QCOMPARE(ntfsFiles(target, 3), files);
        QCOMPARE(md5Of(target.partition(4)), md5Of(source.partition(4)));
    }

    // Two NTFS data partitions before the recovery partition: the deploy moves both behind it
    // and grows the one that now lies last; the other keeps its size and files.
    void deployGrowsTheLastDataPartition()
    {
        VirtualDrive source("twodata-src", "200M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+16M", "-t", "1:ef00", "-n", "2:0:+40M", "-t", "2:0700",
                                "-n", "3:0:+60M", "-t", "3:0700", "-n", "4:0:+16M", "-t", "4:2700"}));
        QVERIFY(source.makeFileSystem(1, "vfat", "EFI"));
        QVERIFY(source.makeFileSystem(2, "ntfs", "First"));
        QVERIFY(source.makeFileSystem(3, "ntfs", "Windows"));
        fillNtfs(source, 3);
        const QMap<QString, QString> first = ntfsFiles(source, 2), files = ntfsFiles(source, 3);
        verifyFilled(files);
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/two.bim");

        VirtualDrive deployed("twodata-d", "400M");
        QVERIFY_ENGINE(0, deployed.device(), "-d", "bim", SET_DIR + "/two.bim");
        const QJsonArray parts = QJsonDocument::fromJson(sh("sfdisk --json " + deployed.device()).toLatin1())
                                     .object().value("partitiontable").toObject().value("partitions").toArray();
        QCOMPARE(parts.size(), 4);
        const QString dataType = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
        QCOMPARE(parts.at(1).toObject().value("type").toString(), QString("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"));
        QCOMPARE(parts.at(2).toObject().value("type").toString(), dataType);
        QCOMPARE(parts.at(3).toObject().value("type").toString(), dataType);
        QCOMPARE(parts.at(2).toObject().value("size").toInt(), 40 * 2048);
        // the last partition reaches the drive's end (its last usable sector, less two)
        const QJsonObject last = parts.at(3).toObject();
        QCOMPARE(last.value("start").toInt() + last.value("size").toInt(), 400 * 2048 - 34 - 1);
        QCOMPARE(ntfsFiles(deployed, 3), first);
        QCOMPARE(ntfsFiles(deployed, 4), files);
        QVERIFY(ntfsSize(deployed.partition(4), "volume") > 300LL * 1000 * 1000);
    }

    void binarySets()
    {
        // At most 1 GiB: the set is the drive's bytes in one file.
        VirtualDrive small("bin-small", "48M");
        QVERIFY(small.makeDos("label: dos\n,,83\n"));
        sh("head -c 20M /dev/urandom | dd of=" + small.partition(1) + " conv=notrunc 2>/dev/null");
        QVERIFY_ENGINE(0, small.device(), "-b", "bin", SET_DIR + "/s.bin");
        QCOMPARE(md5Of(SET_DIR + "/s.bin"), md5Of(small.device()));
        VirtualDrive smallTarget("bin-small-t", "48M");
        QVERIFY_ENGINE(0, smallTarget.device(), "-r", "bin", SET_DIR + "/s.bin");
        QCOMPARE(md5Of(smallTarget.device()), md5Of(small.device()));

        // Larger: the table copy plus 1 GiB pieces; chosen by its first piece.
        VirtualDrive big("bin-big", "1100M");
        QVERIFY(big.makeGpt({"-n", "1:2048:0", "-t", "1:8300"}));
        sh("head -c 16M /dev/urandom | dd of=" + big.device() + " bs=1M seek=1080 conv=notrunc 2>/dev/null");
        QVERIFY_ENGINE(0, big.device(), "-b", "bin", SET_DIR + "/b.bin");
        QCOMPARE(QFileInfo(SET_DIR + "/b.bin.000").size(), 1073741824);
        QCOMPARE(QFileInfo(SET_DIR + "/b.bin.001").size(), 1100LL * 1048576 - 1073741824);
        VirtualDrive bigTarget("bin-big-t", "1100M");
        QVERIFY_ENGINE(0, bigTarget.device(), "-r", "bin", SET_DIR + "/b.bin.000");
        QCOMPARE(md5Of(bigTarget.device()), md5Of(big.device()));
        // Chosen through its first piece, the set is still checked against its list.
        sh("echo changed >> " + SET_DIR + "/b.bin.001");
        const EngineRun changed = engine({"-r", "bin", SET_DIR + "/b.bin.000"}, bigTarget.device());
        QCOMPARE_STATUS(changed, 1018);
        QVERIFY(changed.out.contains("The checksum for b.bin.001 does not match"));
    }

    // Pieces of 1 MiB (SPLIT_SIZE 1) make a set of more than a thousand: x.1000 and on are in the
    // checksum list, are restored after x.999, and go with the rest when the set is deleted.
    void binarySetPastThreeDigits()
    {
        VirtualDrive drive("bin-many", "1002M");
        QVERIFY(drive.makeGpt({"-n", "1:2048:0", "-t", "1:8300"}));
        // Marks in the pieces x.998, x.999 and x.1000 (the last MiB holds the backup table).
        sh("for mib in 998 999 1000; do head -c 1M /dev/urandom | dd of=" + drive.device()
           + " bs=1M seek=$mib conv=notrunc status=none; done");
        QCOMPARE_STATUS(engine({"-b", "bin", SET_DIR + "/m.bin"}, drive.device(), {"SPLIT_SIZE=1"}), 0);
        QCOMPARE(QFileInfo(SET_DIR + "/m.bin.999").size(), 1048576);
        QCOMPARE(QFileInfo(SET_DIR + "/m.bin.1001").size(), 1048576);
        QVERIFY(!QFile::exists(SET_DIR + "/m.bin.1002"));
        const QString sums = QString::fromUtf8(Sandbox::readFile(SET_DIR + "/m.bin.sums"));
        QVERIFY(sums.contains(QRegularExpression("\\n[0-9a-f]{32} : m\\.bin\\.1000\\n")));
        QVERIFY(sums.contains(QRegularExpression("\\n[0-9a-f]{32} : m\\.bin\\.1001\\n")));

        VirtualDrive target("bin-many-t", "1002M");
        QCOMPARE_STATUS(engine({"-r", "bin", SET_DIR + "/m.bin.000"}, target.device()), 0);
        QCOMPARE(md5Of(target.device()), md5Of(drive.device()));

        QCOMPARE_STATUS(engine({"-t", SET_DIR + "/m.bin"}, target.device()), 0);
        QCOMPARE(setFiles(), QStringList());
    }

    void linuxDriveAsTarPieces()
    {
        VirtualDrive source("linux-src", "96M");
        QVERIFY(source.makeGpt({"-n", "1:2048:0", "-t", "1:ef00"}));
        QVERIFY(source.makeFileSystem(1, "vfat"));
        const QString p = source.partition(1);
        sh("export MTOOLS_SKIP_CHECK=1; echo 'DEFAULT linux' | mcopy -i " + p + " - ::/syslinux.cfg; mmd -i " + p
           + " ::/packages; head -c 2M /dev/urandom > /tmp/pkg.bin; mcopy -i " + p + " /tmp/pkg.bin ::/packages/pkg.bin");
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/l.bim");
        QVERIFY(QFile::exists(SET_DIR + "/l.bim.000"));
        QVERIFY(QFileInfo(SET_DIR + "/l.bim").size() < 512);

        VirtualDrive target("linux-dst", "96M");
        QVERIFY_ENGINE(0, target.device(), "-r", "bim", SET_DIR + "/l.bim");
        const QString t = target.partition(1);
        QCOMPARE(sh("MTOOLS_SKIP_CHECK=1 mtype -i " + t + " ::/packages/pkg.bin | md5sum"), sh("md5sum < /tmp/pkg.bin"));
        QVERIFY(sh("MTOOLS_SKIP_CHECK=1 mtype -i " + t + " ::/syslinux.cfg").contains("DEFAULT linux"));
        QVERIFY(sh("sgdisk -i 1 " + target.device()).contains("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"));
    }

    void driveSizeCheck()
    {
        VirtualDrive source("size-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+20M", "-t", "1:8300", "-n", "2:0:+30M", "-t", "2:8300"}));
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/z.bim");
        // Packed partitions from sector 2048, plus the backup table at the end of the drive.
        const qint64 needed = 2048 + 20 * 2048 + 30 * 2048 + 33;
        {
            VirtualDrive tooSmall("size-small", QString::number((needed - 1) * 512));
            const QString before = md5Of(tooSmall.device());
            const EngineRun r = engine({"-r", "bim", SET_DIR + "/z.bim"}, tooSmall.device());
            QCOMPARE_STATUS(r, 1001 & 255);
            QVERIFY(r.out.contains("Drive is too small for this image, Aborting"));
            QCOMPARE(md5Of(tooSmall.device()), before);
        }
        VirtualDrive exact("size-exact", QString::number(needed * 512));
        QVERIFY_ENGINE(0, exact.device(), "-r", "bim", SET_DIR + "/z.bim");
        QCOMPARE(md5Of(exact.partition(2)), md5Of(source.partition(2)));
    }

    void failuresLeaveTheDriveUntouched()
    {
        VirtualDrive source("fail-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+20M", "-t", "1:8300", "-n", "2:0:+20M", "-t", "2:8300"}));
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/f.bim");
        VirtualDrive target("fail-dst", "64M");
        const QString pristine = md5Of(target.device());

        // Two changed members: both named, 1018, nothing written.
        sh("echo changed >> " + SET_DIR + "/f.bim.p1; echo changed >> " + SET_DIR + "/f.bim.gptb");
        EngineRun r = engine({"-r", "bim", SET_DIR + "/f.bim"}, target.device());
        QCOMPARE_STATUS(r, 1018 & 255);
        QVERIFY(r.out.contains("The checksum for f.bim.p1 does not match"));
        QVERIFY(r.out.contains("The checksum for f.bim.gptb does not match"));
        QVERIFY(!r.out.contains("The checksum for f.bim.p2 does not match"));
        QCOMPARE(md5Of(target.device()), pristine);
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));

        // Missing main member: 1004.
        r = engine({"-r", "bim", SET_DIR + "/none.bim"}, target.device());
        QCOMPARE_STATUS(r, 1004 & 255);

        // A main member that is no table at all: 1003 before the drive is touched.
        for (int size : {700, 17408, 20000}) {
            sh(QString("head -c %1 /dev/zero > %2/junk.bim").arg(size).arg(SET_DIR));
            r = engine({"-r", "bim", SET_DIR + "/junk.bim"}, target.device());
            QCOMPARE_STATUS(r, 1003 & 255);
            QCOMPARE(md5Of(target.device()), pristine);
        }

        // With /tmp/.nosums the list is not read: a set whose list no longer matches restores.
        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/g.bim");
        sh("sed -i 's/^[0-9a-f]* : g.bim.p2$/00000000000000000000000000000000 : g.bim.p2/' " + SET_DIR + "/g.bim.sums");
        QVERIFY(Sandbox::readFile(SET_DIR + "/g.bim.sums").contains("00000000000000000000000000000000 : g.bim.p2"));
        Sandbox::writeFile("/tmp/.nosums", "");
        r = engine({"-r", "bim", SET_DIR + "/g.bim"}, target.device());
        QCOMPARE_STATUS(r, 0);
        QVERIFY(!r.out.contains("Verifying checksums"));
        QCOMPARE(md5Of(target.partition(2)), md5Of(source.partition(2)));

        // A saved table whose headers were zeroed is refused with its reason, not written to the
        // drive as an empty table.
        const QString restored = md5Of(target.device());
        sh("dd if=/dev/zero of=" + SET_DIR + "/g.bim.gptb bs=512 seek=1 count=2 conv=notrunc status=none");
        r = engine({"-r", "bim", SET_DIR + "/g.bim"}, target.device());
        QCOMPARE_STATUS(r, 1003 & 255);
        QVERIFY2(r.err.contains("The GPT in " + SET_DIR + "/g.bim.gptb cannot be read: no GPT header"), qPrintable(r.err));
        QCOMPARE(md5Of(target.device()), restored);
    }

    // The console stops a run by creating the abort file; the engine looks at it between
    // partitions. Partition 2 holds NTFS, so the restore goes through the Windows set's loop.
    void abortBetweenPartitions()
    {
        VirtualDrive source("abort-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300", "-n", "2:0:+10M", "-t", "2:0700",
                                "-n", "3:0:+10M", "-t", "3:8300"}));
        QVERIFY(source.makeFileSystem(2, "ntfs"));
        // The operator asks to stop while the second partition is being written.
        // The compressor is pigz where it is installed, gzip otherwise: both names count.
        for (const QString z : {"gzip", "pigz"})
            Sandbox::writeDouble(z, "#!/bin/sh\necho x >> /tmp/gzip-runs\n"
                                    "[ $(wc -l < /tmp/gzip-runs) -eq 2 ] && touch /tmp/abort-vtl\nexec /bin/" + z + " \"$@\"\n");
        QFile::remove("/tmp/gzip-runs");
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/a.bim"}, source.device());
        QCOMPARE_STATUS(b, 255);
        QVERIFY(b.out.contains("Abort Requested"));
        QVERIFY(b.out.contains("Backing up " + source.kernelName() + " FAILED"));
        QCOMPARE(setFiles(), QStringList({"a.bim", "a.bim.gptb", "a.bim.p1", "a.bim.p2.000", "a.bim.txt"}));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
        QFile::remove(Sandbox::doublesDir() + "/gzip");
        QFile::remove(Sandbox::doublesDir() + "/pigz");

        QVERIFY_ENGINE(0, source.device(), "-b", "bim", SET_DIR + "/a.bim");
        VirtualDrive target("abort-dst", "64M");
        for (const QString z : {"gunzip", "pigz"})
            Sandbox::writeDouble(z, "#!/bin/sh\ntouch /tmp/abort-vtl\nexec /bin/" + z + " \"$@\"\n");
        const EngineRun r = engine({"-r", "bim", SET_DIR + "/a.bim"}, target.device());
        QCOMPARE_STATUS(r, 1000);
        QVERIFY(r.out.contains("Abort Requested"));
        QCOMPARE(md5Of(target.partition(1)), md5Of(source.partition(1)));
        const QString zeros = sh("head -c 10M /dev/zero | md5sum | cut -d' ' -f1").trimmed();
        QCOMPARE(md5Of(target.partition(2)), zeros);
        QCOMPARE(md5Of(target.partition(3)), zeros);
        QCOMPARE(Sandbox::readFile("/tmp/restore-info.log"), QByteArray("FAILED\n"));
    }

    // Cancel while a tool hangs (here the compressor, asleep as on a dead share): the engine
    // stops the pipeline within seconds and ends as an aborted run, without a checksum list.
    void abortStopsTheRunningTool()
    {
        VirtualDrive source("abort-now", "32M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300"}));
        for (const QString z : {"gzip", "pigz"})
            Sandbox::writeDouble(z, "#!/bin/sh\ntouch /tmp/abort-vtl\nexec sleep 127\n");
        QElapsedTimer t;
        t.start();
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/n.bim"}, source.device());
        const qint64 took = t.elapsed();
        QFile::remove(Sandbox::doublesDir() + "/gzip");
        QFile::remove(Sandbox::doublesDir() + "/pigz");
        QCOMPARE_STATUS(b, 255);
        QVERIFY2(took < 30000, qPrintable(QString::number(took)));
        QCOMPARE(Sandbox::sh("pgrep -f '^sleep 127$'").exitCode, 1);   // nothing of the pipeline left
        QVERIFY(b.out.contains("Abort Requested"));
        QVERIFY(!QFile::exists(SET_DIR + "/n.bim.sums"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
    }

    void markerFiles()
    {
        VirtualDrive source("marker-src", "48M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300"}));
        Sandbox::writeFile("/tmp/forceClone", "");
        Sandbox::writeFile("/tmp/.nosums", "");
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/m.bim"}, source.device());
        QCOMPARE_STATUS(b, 0);
        QVERIFY(b.out.contains("Cloning " + source.kernelName()));
        QVERIFY(b.err.contains("TTT Cloning partition 1"));
        QVERIFY(!QFile::exists(SET_DIR + "/m.bim.sums"));
    }

    void failingPartitionFailsTheRun()
    {
        VirtualDrive source("part-fail", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300", "-n", "2:0:+10M", "-t", "2:8300"}));
        // The first compression fails; nothing after it may report success.
        for (const QString z : {"gzip", "pigz"})
            Sandbox::writeDouble(z, "#!/bin/sh\nif [ ! -e /tmp/gzip-failed ]; then touch /tmp/gzip-failed; cat >/dev/null; exit 1; fi\n"
                                    "exec /bin/" + z + " \"$@\"\n");
        QFile::remove("/tmp/gzip-failed");
        const EngineRun b = engine({"-b", "bim", SET_DIR + "/p.bim"}, source.device());
        QCOMPARE_STATUS(b, 1015 & 255);
        QVERIFY(!QFile::exists(SET_DIR + "/p.bim.p2"));
        QVERIFY(!QFile::exists(SET_DIR + "/p.bim.sums"));
        QCOMPARE(Sandbox::readFile("/var/log/rcv_status"), QByteArray("FAILED\n"));
    }

    void injectedImageNameRunsNothing()
    {
        VirtualDrive source("inject", "48M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+10M", "-t", "1:8300"}));
        QDir().mkpath("/tmp/cwd");
        const QString name = SET_DIR + "/x'$(touch pwned1)`touch pwned2`\"; touch pwned3 #.bim";
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + source.kernelName() + "\n");
        QProcess p;
        p.setWorkingDirectory("/tmp/cwd");
        p.start("vaultine", {"-b", "bim", name});
        QVERIFY(p.waitForFinished(600000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFile::exists(name + ".p1"));
        QVERIFY(QFile::exists(name + ".sums"));
        QCOMPARE(QDir("/tmp/cwd").entryList(QDir::Files), QStringList());
        QVERIFY(!QFile::exists(SET_DIR + "/pwned1"));
    }
};

QTEST_GUILESS_MAIN(TstBackupRestore)
#include "tst_backuprestore.moc"
