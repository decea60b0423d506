// The partition model on real loop drives, against the real tools as oracles: what our model reads
// equals sfdisk --json for every layout; the show listing letter for letter (library and vaultine
// -s); saved tables brought back onto zapped drives (sgdisk -p / sfdisk -d identical); the GPT and
// DOS reorders written to the drive; the data partition widened to the disk's end by libfdisk;
// and the Linux layout, including its bounded zap.
#include "fdiskhandler.h"
#include "gpthandler.h"
#include "mbrhandler.h"
#include "partitiontable.h"
#include "sandbox.h"
#include "virtualdrive.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

const QString EFI_GUID = QStringLiteral("C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
const QString MSR_GUID = QStringLiteral("E3C9E316-0B5C-4DB8-817D-F92DF00215AE");
const QString DATA_GUID = QStringLiteral("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
const QString RECOVERY_GUID = QStringLiteral("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC");

const QStringList GPT_WINDOWS = {"-n", "1:2048:+8M", "-t", "1:EF00", "-c", "1:EFI system partition",
                                 "-n", "2:0:+2M",    "-t", "2:0C01", "-n", "3:0:+40M", "-t", "3:0700",
                                 "-c", "3:Basic data", "-n", "4:0:0", "-t", "4:2700", "-A", "4:set:0",
                                 "-A", "4:set:63"};
const QStringList GPT_DATA_NOT_LAST = {"-n", "1:2048:+8M", "-t", "1:EF00", "-n", "2:0:+30M", "-t", "2:0700",
                                       "-c", "2:Basic data", "-n", "3:0:+20M", "-t", "3:2700", "-c", "3:Recovery"};
// The recovery partition fills the drive with a size that is no multiple of 2048 sectors: packed
// behind it on 2048-sector boundaries, the data partition no longer fits.
const QStringList GPT_DATA_NOT_LAST_FULL = {"-n", "1:2048:+8M", "-t", "1:EF00", "-n", "2:0:+30M", "-t", "2:0700",
                                            "-n", "3:0:0", "-t", "3:2700"};
const QString DOS_DATA_RECOVERY = "start=2048,size=40M,type=7,bootable\nsize=10M,type=27\n";
const QString DOS_LOGICALS = "start=2048,size=10M,type=7\nstart=22528,size=40M,type=f\nstart=24576,size=10M,type=83\n"
                             "start=47104,size=10M,type=82\nstart=69632,size=10M,type=7\n";

QString sh(const QString &command)
{
    const Sandbox::Result r = Sandbox::sh(command);
    return QString::fromLatin1(r.out);
}

QJsonArray sfdiskPartitions(const QString &device, QString *label = nullptr)
{
    const QJsonObject table = QJsonDocument::fromJson(Sandbox::sh("sfdisk --json " + device).out)
                                  .object().value("partitiontable").toObject();
    if (label)
        *label = table.value("label").toString();
    return table.value("partitions").toArray();
}

// Our records against what sfdisk reads from the same drive.
void compareWithSfdisk(const QList<PartitionEntry *> &entries, const QString &device, bool gpt)
{
    QString label;
    const QJsonArray parts = sfdiskPartitions(device, &label);
    QCOMPARE(entries.size(), parts.size());
    if (!parts.isEmpty())
        QCOMPARE(label, gpt ? QString("gpt") : QString("dos"));
    for (int i = 0; i < parts.size(); ++i) {
        const QJsonObject p = parts.at(i).toObject();
        const PartitionEntry *e = entries.at(i);
        const QString node = p.value("node").toString();
        QCOMPARE(QString::number(e->number), node.mid(node.lastIndexOf('p') + 1));
        QCOMPARE(e->startSector, quint64(p.value("start").toDouble()));
        QCOMPARE(e->sectorCount, quint64(p.value("size").toDouble()));
        QCOMPARE(e->endSector, e->startSector + e->sectorCount - 1);
        if (gpt) {
            QCOMPARE(e->typeInfo, p.value("type").toString());
            QCOMPARE(e->uniqueGuid, p.value("uuid").toString());
            QCOMPARE(e->name, p.value("name").toString());
        } else {
            QCOMPARE(e->typeInfo, QStringLiteral("0x%1").arg(p.value("type").toString().rightJustified(2, '0')));
            QCOMPARE(e->bootable, p.value("bootable").toBool());
        }
    }
}

QByteArray firstBytes(const QString &device, int count)
{
    QFile f(device);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(count);
}

} // namespace

class TstPartitionDrives : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { BRENLOW_REQUIRE_SANDBOX(); }
    void init()
    {
        for (const char *f : {"/var/log/vtl_debug.log", "/var/log/recovery.log"})
            QFile::remove(f);
        QFile::remove(Sandbox::doublesDir() + "/sgdisk");
    }

    void modelMatchesSfdisk_data()
    {
        QTest::addColumn<bool>("gpt");
        QTest::addColumn<QStringList>("sgdiskArgs");
        QTest::addColumn<QString>("sfdiskScript");
        QTest::addColumn<int>("dataNumber");
        QTest::addColumn<bool>("dataIsLast");
        QTest::newRow("GPT: EFI, MS-Reserved, MS-Data, MS-Recovery") << true << GPT_WINDOWS << QString() << 3 << false;
        QTest::newRow("GPT: data partition not last") << true << GPT_DATA_NOT_LAST << QString() << 2 << false;
        QTest::newRow("DOS: data and recovery") << false << QStringList() << DOS_DATA_RECOVERY << -1 << false;
        QTest::newRow("DOS: extended with logical partitions") << false << QStringList() << DOS_LOGICALS << -1 << false;
        QTest::newRow("no table") << true << QStringList() << QString() << 0 << true;
    }
    void modelMatchesSfdisk()
    {
        QFETCH(bool, gpt);
        QFETCH(QStringList, sgdiskArgs);
        QFETCH(QString, sfdiskScript);
        QFETCH(int, dataNumber);
        QFETCH(bool, dataIsLast);
        VirtualDrive drive("layout", "64M");
        QVERIFY(drive.isValid());
        if (!sgdiskArgs.isEmpty())
            QVERIFY(drive.makeGpt(sgdiskArgs));
        else if (!sfdiskScript.isEmpty())
            QVERIFY(drive.makeDos(sfdiskScript));
        QVERIFY(drive.setAsSystemDrive());

        partitionTable table(QString(), drive.device(), false);   // what vaultine -s builds
        QVERIFY2(table.handler != nullptr, Sandbox::readFile("/var/log/vtl_debug.log").constData());
        QCOMPARE(table.device, drive.device());
        QCOMPARE(table.isGpt, gpt);
        compareWithSfdisk(table.entries, drive.device(), gpt);
        QCOMPARE(table.isDataPartitionLast(), dataIsLast);
        if (gpt)
            QCOMPARE(table.gptHandler->dataNumber, dataNumber);
        else
            QCOMPARE(table.mbrHandler->dataNumber, dataNumber);
        QCOMPARE(table.handler->diskSectors, quint64(131072));
        QCOMPARE(table.handler->diskBytes, quint64(67108864));
    }

    // Tables as other tools leave them on real machines: our rows equal sfdisk's, and vaultine -s
    // lists every one of them.
    void fieldTablesMatchSfdisk_data()
    {
        QTest::addColumn<bool>("gpt");
        QTest::addColumn<QString>("make");   // a shell command; %1 is the drive
        const QString efi = "type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B", data = "type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
        QTest::newRow("GPT: entry 2 deleted")
            << true << "sbx_gpt %1 -n 1:2048:+8M -t 1:EF00 -n 2:0:+2M -t 2:0C01 -n 3:0:+30M -t 3:0700 -n 4:0:+10M -t 4:2700"
                       " && sgdisk -d 2 %1 >/dev/null && sbx_probe %1";
        QTest::newRow("GPT: 32 entries") << true << "sbx_gpt %1 -S 32 -n 1:2048:+8M -t 1:EF00 -n 3:0:+30M -t 3:0700";
        QTest::newRow("GPT: first usable sector 2048")
            << true << "printf 'label: gpt\\nfirst-lba: 2048\\nsize=8M," + efi + "\\nsize=30M," + data + "\\n' | sbx_dos %1";
        QTest::newRow("GPT: first usable sector 34") << true << "sbx_gpt %1 -a 1 -n 1:34:+8M -t 1:EF00 -n 2:0:+30M -t 2:0700";
        QTest::newRow("GPT: first usable sector 6, 16 entries")
            << true << "printf 'label: gpt\\nfirst-lba: 6\\ntable-length: 16\\nstart=6,size=2042," + efi + "\\nstart=2048,size=30M," + data + "\\n' | sbx_dos %1";
        QTest::newRow("GPT: entries out of disk order") << true << "sbx_gpt %1 -n 1:40960:+8M -t 1:0700 -n 2:2048:+8M -t 2:EF00";
        QTest::newRow("GPT with a hybrid MBR") << true << "sbx_gpt %1 -n 1:2048:+8M -t 1:0700 -n 2:0:+8M -t 2:8300 -h 1:2";
        QTest::newRow("DOS: a gap in the table")
            << false << "printf 'start=2048,size=8M,type=7\\nsize=8M,type=83\\nsize=8M,type=27\\n' | sbx_dos %1"
                        " && sfdisk -q --delete %1 2 && sbx_probe %1";
        QTest::newRow("DOS: entries out of disk order") << false << "printf 'start=40960,size=8M,type=7\\nstart=2048,size=8M,type=83\\n' | sbx_dos %1";
        // The second extended boot record moved to sector 30000, inside logical partition 5
        // (24576-45055); the links are patched so that partition 6 stays where it was.
        QTest::newRow("DOS: second EBR inside a logical partition")
            << false << "printf 'start=2048,size=10M,type=7\\nstart=22528,size=40M,type=f\\nstart=24576,size=10M,type=83\\n"
                        "start=47104,size=10M,type=82\\n' | sbx_dos %1 && e=22528 new=30000"
                        " && old=$((e + $(od -An -tu4 -j $((e * 512 + 470)) -N4 %1)))"
                        " && abs=$((old + $(od -An -tu4 -j $((old * 512 + 454)) -N4 %1)))"
                        " && dd if=%1 of=%1 bs=512 skip=$old seek=$new count=1 conv=notrunc status=none"
                        " && sbx_le32 $((abs - new)) | dd of=%1 bs=1 seek=$((new * 512 + 454)) conv=notrunc status=none"
                        " && sbx_le32 $((new - e)) | dd of=%1 bs=1 seek=$((e * 512 + 470)) conv=notrunc status=none"
                        " && dd if=/dev/zero of=%1 bs=512 seek=$old count=1 conv=notrunc status=none && sbx_probe %1";
    }
    void fieldTablesMatchSfdisk()
    {
        QFETCH(bool, gpt);
        QFETCH(QString, make);
        VirtualDrive drive("field", "64M");
        const Sandbox::Result made = Sandbox::sh(make.arg(drive.device()));
        QVERIFY2(made.exitCode == 0, made.err.constData());
        QVERIFY(drive.setAsSystemDrive());
        QVERIFY(sfdiskPartitions(drive.device()).size() >= 2);

        partitionTable table(QString(), drive.device(), false);
        QVERIFY2(table.handler != nullptr, qPrintable(table.refusal));
        QCOMPARE(table.isGpt, gpt);
        compareWithSfdisk(table.entries, drive.device(), gpt);

        const Sandbox::Result shown = Sandbox::run("vaultine", {"-s"});
        QCOMPARE(shown.exitCode, 0);
        QCOMPARE(QString::fromLatin1(shown.out), table.PrintTableString());
    }

    // Drives the engine does not work on are named and refused, before anything is written:
    // vaultine -s, a backup and a restore each end with 1003 and say why.
    void unsupportedDrivesAreRefused_data()
    {
        QTest::addColumn<QString>("sector");
        QTest::addColumn<QString>("make");
        QTest::addColumn<QString>("reason");
        QTest::newRow("Sun label") << QString() << "printf 's\\nw\\n' | fdisk %1; sfdisk -l %1 | grep -q 'Disklabel type: sun'" << "has a sun disk label: the engine reads only dos and gpt";
        QTest::newRow("SGI label") << QString() << "printf 'G\\nw\\n' | fdisk %1; sfdisk -l %1 | grep -q 'Disklabel type: sgi'" << "has a sgi disk label";
        QTest::newRow("4096-byte sectors") << "4096" << "sgdisk -o -n 1:0:+100M -t 1:0700 %1"
                                           << "has 4096-byte logical sectors: the engine works only on drives with 512-byte sectors";
    }
    void unsupportedDrivesAreRefused()
    {
        QFETCH(QString, sector);
        QFETCH(QString, make);
        QFETCH(QString, reason);
        // A set made from a drive the engine reads, to be restored onto the refused one.
        VirtualDrive source("refuse-src", "64M");
        QVERIFY(source.makeGpt({"-n", "1:2048:+8M", "-t", "1:8300"}));
        QVERIFY(source.setAsSystemDrive());
        QCOMPARE(Sandbox::run("vaultine", {"-b", "bim", "/mnt/set.bim"}, {}, {"GUI_TYPE=Q"}).exitCode, 0);

        QDir().mkpath("/mnt/usb");
        const QString device = sh("sbx_drive refused 512M " + sector).trimmed();
        QVERIFY(device.startsWith("/dev/loop"));
        QCOMPARE(Sandbox::sh(make.arg(device)).exitCode, 0);
        Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + device.mid(5) + "\n");
        const QString before = sh("md5sum < " + device);

        Sandbox::Result r = Sandbox::run("vaultine", {"-s"});
        QCOMPARE(r.exitCode, 1003 & 255);
        QVERIFY2(r.err.contains((device + " " + reason).toLatin1()), r.err.constData());
        QVERIFY(r.out.isEmpty());

        r = Sandbox::run("vaultine", {"-b", "bim", "/mnt/usb/refused.bim"}, {}, {"GUI_TYPE=Q"});
        QCOMPARE(r.exitCode, 1003 & 255);
        QVERIFY2(r.out.contains(reason.toLatin1()), r.out.constData());
        QVERIFY(QDir("/mnt/usb").entryList(QDir::Files).isEmpty());

        r = Sandbox::run("vaultine", {"-r", "bim", "/mnt/set.bim"}, {}, {"GUI_TYPE=Q"});
        QCOMPARE(r.exitCode, 1003 & 255);
        QVERIFY2(r.out.contains(reason.toLatin1()), r.out.constData());
        QCOMPARE(sh("md5sum < " + device), before);
    }

    void savedTableThatSgdiskCannotLoad()
    {
        // sgdisk says it could not load the file and leaves the drive as it was: status 4 and
        // "Error loading backup file!" are a table not restored.
        VirtualDrive drive("noload", "64M");
        QVERIFY(drive.makeGpt(GPT_WINDOWS));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable table(QString(), drive.device(), false);
        QVERIFY(!table.BackupParitionTable(drive.device(), "/tmp/t.bim").isEmpty());
        Sandbox::writeDouble("sgdisk", "#!/bin/sh\ncase \" $* \" in *\" -l \"*) echo 'Error loading backup file!'; exit 4;; esac\n"
                                       "exec /usr/sbin/sgdisk \"$@\"\n");
        QVERIFY(!table.RestoreParitionTable(drive.device(), "/tmp/t.bim"));
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains("sgdisk could not load the table /tmp/t.bim.gptb onto "
                                                                    + drive.device().toLatin1() + " (status 4)"));
    }

    void showKeepsItsOwnScratchFiles()
    {
        // vaultine -s may run beside a working engine: its table copies carry its own process and
        // go with it, never the engine's.
        VirtualDrive drive("scratch", "64M");
        QVERIFY(drive.makeDos(DOS_LOGICALS));
        QVERIFY(drive.setAsSystemDrive());
        const QStringList fixed = {"/tmp/gpt-backup.gptb", "/tmp/mbr-backup.bin", "/tmp/fat-ebr.bin"};
        for (const QString &f : fixed)
            QVERIFY(Sandbox::writeFile(f, "another engine's"));
        QCOMPARE(Sandbox::run("vaultine", {"-s"}).exitCode, 0);
        for (const QString &f : fixed)
            QCOMPARE(Sandbox::readFile(f), QByteArray("another engine's"));
        QCOMPARE(QDir("/tmp").entryList({"gpt-backup-*", "mbr-backup-*", "fat-ebr-*"}, QDir::Files), QStringList());
        {
            partitionTable table(QString(), drive.device(), false);
            QVERIFY(table.mbrHandler->tableFile.startsWith(QStringLiteral("/tmp/mbr-backup-%1-").arg(QCoreApplication::applicationPid())));
            QVERIFY(QFile::exists(table.mbrHandler->tableFile));
        }
        QCOMPARE(QDir("/tmp").entryList({"mbr-backup-*"}, QDir::Files), QStringList());
    }

    void logicalPartitionsFollowTheChain()
    {
        VirtualDrive drive("logicals", "64M");
        QVERIFY(drive.makeDos(DOS_LOGICALS));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable table(QString(), drive.device(), false);
        QCOMPARE(table.entries.size(), 5);
        QCOMPARE(table.entries.at(1)->typeName, QString("Extended-LBA"));
        QCOMPARE(table.entries.at(2)->number, 5);
        QCOMPARE(table.entries.at(2)->typeName, QString("Linux-Data"));
        QCOMPARE(table.entries.at(3)->typeName, QString("Linux-Swap"));
        QCOMPARE(table.entries.at(4)->number, 7);
        QCOMPARE(table.entries.at(4)->typeName, QString("HPFS-NTFS"));
    }

    void showListingLetterForLetter()
    {
        VirtualDrive drive("show", "64M");
        QVERIFY(drive.makeGpt(GPT_WINDOWS));
        QVERIFY(drive.setAsSystemDrive());
        const QString expected =
            "Device: " + drive.device() + "  Sectors: 131072  bytes: 67108864 67.1Mb \n"
            "Table type: GPT\n"
            "Device Boot  Start Sector    End Sector       Sectors    Size            Type Type info\n"
            "     1               2048         18431         16384   8.4Mb      EFI-System C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n"
            "     2              18432         22527          4096   2.1Mb     MS-Reserved E3C9E316-0B5C-4DB8-817D-F92DF00215AE\n"
            "     3              22528        104447         81920  41.9Mb         MS-Data EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
            "     4             104448        131038         26591  13.6Mb     MS-Recovery DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\n"
            "\n";
        partitionTable table(QString(), QString(), false);
        QCOMPARE(table.PrintTableString(), expected);

        const Sandbox::Result r = Sandbox::run("vaultine", {"-s"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromLatin1(r.out), expected);

        // A DOS drive: the boot flag column and the byte type.
        VirtualDrive dos("showdos", "64M");
        QVERIFY(dos.makeDos(DOS_DATA_RECOVERY));
        QVERIFY(dos.setAsSystemDrive());
        const Sandbox::Result d = Sandbox::run("vaultine", {"-s"});
        QCOMPARE(QString::fromLatin1(d.out),
                 "Device: " + dos.device() + "  Sectors: 131072  bytes: 67108864 67.1Mb \n"
                 "Table type: dos\n"
                 "Device Boot  Start Sector    End Sector       Sectors    Size            Type Type info\n"
                 "     1    *          2048         83967         81920  41.9Mb       HPFS-NTFS 0x07\n"
                 "     2              83968        104447         20480  10.5Mb     MS-Recovery 0x27\n"
                 "\n");
    }

    void analyzeSavedTables()
    {
        // vaultine -a on the table copies the engine makes: the estimated size of a lone DOS
        // sector, and the GPT copy in both forms (34 raw sectors and the sgdisk backup).
        VirtualDrive drive("analyze", "64M");
        QVERIFY(drive.makeDos(DOS_DATA_RECOVERY));
        sh("dd if=" + drive.device() + " of=/tmp/dos.bin bs=512 count=1 status=none");
        Sandbox::Result r = Sandbox::run("vaultine", {"-a", "bim", "/tmp/dos.bin"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("Device:   Sectors: 104448  bytes: 0 53.5Mb estimated\nTable type: dos\n"), r.out);

        VirtualDrive gdrive("analyzegpt", "64M");
        QVERIFY(gdrive.makeGpt(GPT_WINDOWS));
        sh("dd if=" + gdrive.device() + " of=/tmp/raw.bim bs=512 count=34 status=none; sgdisk -b /tmp/copy.gptb "
           + gdrive.device());
        const QByteArray raw = Sandbox::run("vaultine", {"-a", "/tmp/raw.bim"}).out;
        const QByteArray gptb = Sandbox::run("vaultine", {"-a", "/tmp/copy.gptb"}).out;
        QVERIFY2(raw.contains("     4             104448        131038         26591  13.6Mb     MS-Recovery"), raw);
        QCOMPARE(raw, gptb);
    }

    void gptTableBroughtBack()
    {
        VirtualDrive drive("gptback", "64M");
        QVERIFY(drive.makeGpt(GPT_WINDOWS));
        QVERIFY(drive.setAsSystemDrive());
        const QString before = sh("sgdisk -p " + drive.device());
        QVERIFY(before.contains("Basic data"));

        partitionTable table(QString(), drive.device(), false);
        QCOMPARE(table.BackupParitionTable(drive.device(), "/tmp/set.bim.gptb"), QString("/tmp/set.bim"));
        QCOMPARE(QFileInfo("/tmp/set.bim").size(), 17408);
        QCOMPARE(QFileInfo("/tmp/set.bim.gptb").size(), 17920);
        QCOMPARE(table.BackupParitionTable(drive.device(), "/tmp/other"), QString("/tmp/other"));
        QVERIFY(QFile::exists("/tmp/other.gptb"));

        sh("sgdisk -Z " + drive.device());
        QCOMPARE(sfdiskPartitions(drive.device()).size(), 0);

        partitionTable saved("/tmp/set.bim", QString(), false);
        QCOMPARE(saved.entries.size(), 4);
        QVERIFY(saved.RestoreParitionTable(drive.device(), "/tmp/set.bim"));
        QCOMPARE(sh("sgdisk -p " + drive.device()), before);
        QVERIFY(QFile::exists(drive.partition(4)));
    }

    void dosTableBroughtBack_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("data and recovery") << DOS_DATA_RECOVERY;
        QTest::newRow("extended with logical partitions") << DOS_LOGICALS;
    }
    void dosTableBroughtBack()
    {
        QFETCH(QString, script);
        VirtualDrive drive("dosback", "64M");
        QVERIFY(drive.makeDos(script));
        QVERIFY(drive.setAsSystemDrive());
        const QString before = sh("sfdisk -d " + drive.device());
        partitionTable table(QString(), drive.device(), false);   // reads through its own copy of the sector
        QVERIFY(table.mbrHandler->tableFile.startsWith("/tmp/mbr-backup-"));
        sh("sgdisk -Z " + drive.device());
        QVERIFY(sh("sfdisk -d " + drive.device()) != before);
        QVERIFY(table.RestoreParitionTable(drive.device(), QString()));
        QCOMPARE(sh("sfdisk -d " + drive.device()), before);
    }

    void dosReorderRewritesTheDrive()
    {
        VirtualDrive drive("dosreorder", "2G");   // sparse; the data partition must exceed 1 GiB
        QVERIFY(drive.makeDos("start=2048,size=3000000,type=7,bootable\nstart=3002048,size=200000,type=27\n"));
        QVERIFY(drive.setAsSystemDrive());
        // boot code and disk signature the rewrite must keep
        sh("head -c 440 /dev/urandom > /tmp/boot; dd if=/tmp/boot of=" + drive.device()
           + " bs=440 count=1 conv=notrunc status=none; dd if=" + drive.device()
           + " of=/tmp/image.bim bs=512 count=1 status=none");
        const QByteArray saved = Sandbox::readFile("/tmp/image.bim");
        QCOMPARE(saved.size(), 512);

        partitionTable table("/tmp/image.bim", drive.device(), true);   // as the deploy builds it
        QVERIFY(!table.isGpt);
        QVERIFY(table.mbrHandler->reordered);
        QVERIFY(!table.isDataPartitionLast());
        // the records keep describing the table as read
        QCOMPARE(table.entries.at(0)->startSector, quint64(2048));

        const QJsonArray parts = sfdiskPartitions(drive.device());
        QCOMPARE(parts.size(), 2);
        const QJsonObject data = parts.at(0).toObject(), recovery = parts.at(1).toObject();
        QCOMPARE(data.value("node").toString(), drive.partition(1));
        QCOMPARE(data.value("type").toString(), QString("7"));
        QCOMPARE(data.value("start").toInt(), 202752);      // 2048 + 200000 rounded up to 2048
        QCOMPARE(data.value("size").toInt(), 3000000);
        QVERIFY(data.value("bootable").toBool());
        QCOMPARE(recovery.value("type").toString(), QString("27"));
        QCOMPARE(recovery.value("start").toInt(), 2048);
        QCOMPARE(recovery.value("size").toInt(), 200000);
        QCOMPARE(firstBytes(drive.device(), 446), saved.left(446));
        QCOMPARE(firstBytes(drive.device(), 512).mid(510), QByteArray("\x55\xAA"));
    }

    void dosReorderThatDoesNotFitKeepsTheTable()
    {
        // The recovery partition ends at the disk's end: moved behind it on a 2048-sector boundary,
        // the data partition would run past the end. The drive must keep its table as it was.
        VirtualDrive drive("dosfull", QString::number(3202048LL * 512));
        QVERIFY(drive.makeDos("start=2048,size=3000000,type=7\nstart=3002048,size=200000,type=27\n"));
        QVERIFY(drive.setAsSystemDrive());
        sh("dd if=" + drive.device() + " of=/tmp/full.bim bs=512 count=1 status=none");
        const QString before = sh("sfdisk -d " + drive.device());
        partitionTable table("/tmp/full.bim", drive.device(), true);
        QVERIFY(!table.mbrHandler->reordered);
        QVERIFY(Sandbox::readFile("/var/log/vtl_debug.log").contains("fdisk_add_partition returned"));
        QCOMPARE(sh("sfdisk -d " + drive.device()), before);
        QCOMPARE(firstBytes(drive.device(), 512), Sandbox::readFile("/tmp/full.bim"));
    }

    void dosTableWrittenFromRecords()
    {
        // No saved sector known: the records in memory are written as a fresh DOS label.
        VirtualDrive drive("dosrecords", "64M");
        QVERIFY(drive.makeDos(DOS_DATA_RECOVERY));
        QVERIFY(drive.setAsSystemDrive());
        const QJsonArray before = sfdiskPartitions(drive.device());
        QFile disk(drive.device());
        QVERIFY(disk.open(QIODevice::ReadOnly));
        const QByteArray sector = disk.read(512);
        disk.close();
        MbrHandler handler(false);
        handler.ProcessMbr(sector, QString());
        sh("sgdisk -Z " + drive.device());
        QCOMPARE(sfdiskPartitions(drive.device()).size(), 0);
        QVERIFY(handler.RestoreParitionTable(drive.device(), QString()));
        const QJsonArray after = sfdiskPartitions(drive.device());
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < before.size(); ++i) {
            for (const char *key : {"node", "start", "size", "type", "bootable"})
                QCOMPARE(after.at(i).toObject().value(key), before.at(i).toObject().value(key));
        }
    }

    void gptReorderWrittenByRestore()
    {
        VirtualDrive drive("gptreorder", "64M");
        QVERIFY(drive.makeGpt(GPT_DATA_NOT_LAST));
        QVERIFY(drive.setAsSystemDrive());
        const QJsonArray before = sfdiskPartitions(drive.device());
        partitionTable source(QString(), drive.device(), false);
        QCOMPARE(source.BackupParitionTable(drive.device(), "/tmp/deploy.bim"), QString("/tmp/deploy.bim"));

        partitionTable table("/tmp/deploy.bim", drive.device(), true);
        QVERIFY(table.gptHandler->reordered);
        QCOMPARE(table.originalEntries.size(), 3);
        QCOMPARE(table.getOriginalPartitionEntry(2)->typeName, QString("MS-Data"));
        QCOMPARE(table.getPartitionEntry(3)->originalNumber, 2);
        QVERIFY(table.RestoreParitionTable(drive.device(), QString()));

        // EFI, then recovery, then data: same sizes, GUIDs and names, data last on the drive
        const QJsonArray after = sfdiskPartitions(drive.device());
        QCOMPARE(after.size(), 3);
        const int order[] = {0, 2, 1};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject was = before.at(order[i]).toObject(), now = after.at(i).toObject();
            QCOMPARE(now.value("type").toString(), was.value("type").toString());
            QCOMPARE(now.value("size").toInt(), was.value("size").toInt());
            QCOMPARE(now.value("uuid").toString(), was.value("uuid").toString());
            QCOMPARE(now.value("name").toString(), was.value("name").toString());
        }
        QVERIFY(after.at(2).toObject().value("start").toInt() > after.at(1).toObject().value("start").toInt());

        partitionTable reread(QString(), drive.device(), false);
        QVERIFY(reread.isDataPartitionLast());
    }

    void gptReorderThatNoLongerFitsFails()
    {
        VirtualDrive drive("gptfull", "64M");
        QVERIFY(drive.makeGpt(GPT_DATA_NOT_LAST_FULL));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable source(QString(), drive.device(), false);
        QVERIFY(!source.BackupParitionTable(drive.device(), "/tmp/full.bim").isEmpty());
        partitionTable table("/tmp/full.bim", drive.device(), true);
        QVERIFY(table.gptHandler->reordered);
        QVERIFY(!table.RestoreParitionTable(drive.device(), QString()));
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains("Could not create partition 3 on " + drive.device().toLatin1()));
        QCOMPARE(sfdiskPartitions(drive.device()).size(), 2);   // what sgdisk could create
    }

    void widenToDiskEnd_data()
    {
        QTest::addColumn<bool>("gpt");
        QTest::addColumn<QString>("driveSize");
        QTest::addColumn<qint64>("size");
        QTest::newRow("DOS") << false << QString::number(1000000 * 512) << qint64(997917);   // min(999999, 999966) - 2048 - 1
        QTest::newRow("GPT") << true << QString::number(1000000 * 512) << qint64(997917);
        // 3 TiB: a DOS entry's 32-bit sector numbers end the partition before sector 2^32 - 1
        QTest::newRow("DOS past 2 TiB") << false << QString("3T") << qint64(4294967295LL - 2048 - 1);
    }
    void widenToDiskEnd()
    {
        QFETCH(bool, gpt);
        QFETCH(QString, driveSize);
        QFETCH(qint64, size);
        VirtualDrive drive("widen", driveSize);
        if (gpt)
            QVERIFY(drive.makeGpt({"-n", "1:2048:+100000", "-t", "1:0700"}));
        else
            QVERIFY(drive.makeDos("start=2048,size=100000,type=7\n"));
        fdiskHandler fdisk(gpt);
        QVERIFY(fdisk.AdjustDataPartition(drive.device(), 1, 0));
        QCOMPARE(fdisk.adjustStatus, 0);
        const QJsonArray parts = sfdiskPartitions(drive.device());
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.at(0).toObject().value("start").toInt(), 2048);
        QCOMPARE(qint64(parts.at(0).toObject().value("size").toDouble()), size);

        QVERIFY(!fdisk.AdjustDataPartition(drive.device(), 3, 0));        // no such partition
        QVERIFY(fdisk.adjustStatus != 0);
    }

    void expandDataPartitionOfTheTable()
    {
        VirtualDrive drive("expand", QString::number(4000000 * 512));
        QVERIFY(drive.makeDos("start=2048,size=204800,type=7\nstart=206848,size=2100000,type=7\n"));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable table(QString(), drive.device(), false);
        QCOMPARE(table.mbrHandler->dataNumber, 2);
        QCOMPARE(table.ExpandDataPartition(drive.kernelName()), 0);
        QCOMPARE(sfdiskPartitions(drive.device()).at(1).toObject().value("size").toInt(), 3999966 - 206848 - 1);
        QVERIFY(table.ReloadTable(drive.device()));
        QCOMPARE(table.entries.at(1)->sectorCount, quint64(3999966 - 206848 - 1));

        VirtualDrive small("nodata", "64M");
        QVERIFY(small.makeDos(DOS_DATA_RECOVERY));   // 100M of NTFS is no data partition
        QVERIFY(small.setAsSystemDrive());
        partitionTable none(QString(), small.device(), false);
        QCOMPARE(none.ExpandDataPartition(small.device()), 1012);
    }

    void ntfsResizeChecksTheVolumeFirst()
    {
        VirtualDrive drive("ntfs", "2G");
        QVERIFY(drive.makeDos("start=2048,size=204800,type=7\nstart=206848,size=2500000,type=7\n"));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable table(QString(), drive.device(), false);
        QCOMPARE(table.getPartitionEntry(2), table.handler->getDataParition());
        // no NTFS on the data partition yet: ntfsresize reports an error
        QCOMPARE(table.ResizeNtfsVolume(true), 1007);
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains(
            "Data Partition does not appear to be an NTFS volume or there is a problem with it so we can't shrink/expand the volume"));
        // a sound NTFS volume of 10,000,000,000 bytes or less is never resized
        QVERIFY(drive.makeFileSystem(2, "ntfs"));
        QCOMPARE(table.ResizeNtfsVolume(true), 0);

        // a device node given as a table name with reorder is not read, and never written to
        const QString before = sh("sfdisk -d " + drive.device());
        partitionTable node(drive.device(), drive.device(), true);
        QCOMPARE(node.handler, nullptr);
        QCOMPARE(sh("sfdisk -d " + drive.device()), before);
    }

    void restoreRefusesPartitionPaths()
    {
        Sandbox::writeDouble("sgdisk", "#!/bin/sh\necho \"$@\" >> /tmp/sgdisk.calls\n");
        GptHandler gpt(false);
        QVERIFY(!gpt.RestoreTable("/dev/sda1"));
        QVERIFY(!gpt.RestoreTable("/dev/loop3p1"));
        QVERIFY(!gpt.RestoreTable("sda"));
        QVERIFY(!QFile::exists("/tmp/sgdisk.calls"));
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains("Incorrect Device /dev/sda1\n"));
        QVERIFY(Sandbox::readFile("/var/log/vtl_debug.log").contains("Gpt::RestoreTable FAIL: Incorrect Device /dev/loop3p1\n"));
    }

    void linuxLayoutZapIsBounded()
    {
        // a disk whose table never clears: sgdisk never reports a fresh GPT
        Sandbox::writeDouble("sgdisk", "#!/bin/sh\necho \"$@\" >> /tmp/sgdisk.calls\necho 'Problem opening device'\n");
        GptHandler gpt(false);
        gpt.diskBytes = 1;
        QVERIFY(!gpt.CreateLinuxPartitionTable("/dev/loop7"));
        const QStringList calls = QString::fromLatin1(Sandbox::readFile("/tmp/sgdisk.calls")).split('\n', Qt::SkipEmptyParts);
        // Five attempts, each a zap, and then the message that says so.
        QCOMPARE(calls.size(), 5);
        QCOMPARE(calls.count("-Z /dev/loop7"), 5);
        QVERIFY(Sandbox::readFile("/var/log/recovery.log").contains("Could not clear the partition table of /dev/loop7 after 5 attempts"));
    }

    void linuxLayoutOnADosDrive()
    {
        VirtualDrive drive("linux", "64M");
        QVERIFY(drive.makeDos(DOS_DATA_RECOVERY));
        QVERIFY(drive.setAsSystemDrive());
        partitionTable table(QString(), drive.device(), false);
        QVERIFY(!table.isGpt);
        QVERIFY(table.CreateLinuxPartitionTable(drive.device()));
        QCOMPARE(table.handler, static_cast<tableHandlerBase *>(table.gptHandler));
        QString label;
        const QJsonArray parts = sfdiskPartitions(drive.device(), &label);
        QCOMPARE(label, QString("gpt"));
        QCOMPARE(parts.size(), 1);
        QCOMPARE(parts.at(0).toObject().value("type").toString(), EFI_GUID);
        QCOMPARE(parts.at(0).toObject().value("start").toInt(), 2048);
        QCOMPARE(parts.at(0).toObject().value("size").toInt(), 131038 - 2048 + 1);
        QCOMPARE(sh("blkid -o value -s TYPE " + drive.partition(1)).trimmed(), QString("vfat"));
    }
};

QTEST_GUILESS_MAIN(TstPartitionDrives)
#include "tst_partitiondrives.moc"
