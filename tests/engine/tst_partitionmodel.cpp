// The partition model without drives: records, type tables and size text, GPT and DOS tables
// parsed from bytes (header placement, the entry walk, the reorder, hostile headers and extended
// boot record chains that loop), the table file size rules and the listing, letter for letter.
#include "gptimage.h"
#include "gpthandler.h"
#include "mbrhandler.h"
#include "partitionentry.h"
#include "partitiontable.h"
#include "sandbox.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

namespace {

const QString DATA_GUID = QStringLiteral("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
const QString RECOVERY_GUID = QStringLiteral("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC");
const QString EFI_GUID = QStringLiteral("C12A7328-F81F-11D2-BA4B-00A0C93EC93B");
const QString MSR_GUID = QStringLiteral("E3C9E316-0B5C-4DB8-817D-F92DF00215AE");
const QString ODD_GUID = QStringLiteral("01234567-89AB-CDEF-0123-456789ABCDEF");

struct GptPart {
    QString type;
    quint64 start;
    quint64 end;
    QString name;
    quint64 attributes;
    QString unique;
};

QByteArray guidBytes(const QString &text)
{
    return GptImage::guidBytes(text);
}

void put32(QByteArray &b, int at, quint32 v) { qToLittleEndian<quint32>(v, b.data() + at); }

// A saved GPT of the given size with sound checksums: 17920 bytes as sgdisk -b writes it, any
// other size as a drive's first sectors (array at sector 2). skipSlot leaves that entry empty.
QByteArray gptBuffer(int size, quint64 firstUsable, quint64 lastUsable, quint32 count, const QList<GptPart> &parts,
                     int skipSlot = -1)
{
    GptImage::Layout layout;
    layout.sgdisk = size == 17920;
    layout.firstUsable = firstUsable;
    layout.lastUsable = lastUsable;
    layout.count = count;
    layout.size = size;
    QList<GptImage::Part> made;
    int slot = 0;
    for (const GptPart &p : parts) {
        if (slot == skipSlot)
            ++slot;
        made << GptImage::Part{p.type, p.start, p.end, p.name, p.attributes, p.unique, slot++};
    }
    return GptImage::make(layout, made);
}

struct DosRec {
    int slot;
    quint8 status;
    quint8 type;
    quint32 first;
    quint32 count;
};

QByteArray dosSector(const QList<DosRec> &records, bool signature = true)
{
    QByteArray b(512, '\0');
    for (int i = 0; i < 446; ++i)
        b[i] = char(i * 7 + 3);   // boot code the tests can recognise
    for (const DosRec &r : records) {
        const int at = 446 + 16 * r.slot;
        b[at] = char(r.status);
        b[at + 4] = char(r.type);
        put32(b, at + 8, r.first);
        put32(b, at + 12, r.count);
    }
    if (signature) {
        b[510] = char(0x55);
        b[511] = char(0xAA);
    }
    return b;
}

QString debugLog()
{
    return QString::fromLatin1(Sandbox::readFile(QStringLiteral("/var/log/vtl_debug.log")));
}

struct Expect {
    int number;
    quint64 start;
    quint64 end;
    QString typeName;
    int originalNumber;
};

void compareEntries(const QList<PartitionEntry *> &got, const QList<Expect> &want)
{
    QCOMPARE(got.size(), want.size());
    for (int i = 0; i < want.size(); ++i) {
        QCOMPARE(got.at(i)->number, want.at(i).number);
        QCOMPARE(got.at(i)->startSector, want.at(i).start);
        QCOMPARE(got.at(i)->endSector, want.at(i).end);
        QCOMPARE(got.at(i)->sectorCount, want.at(i).end - want.at(i).start + 1);
        QCOMPARE(got.at(i)->typeName, want.at(i).typeName);
        QCOMPARE(got.at(i)->originalNumber, want.at(i).originalNumber);
    }
}

} // namespace

class TstPartitionModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { BRENLOW_REQUIRE_SANDBOX(); }
    void init() { QFile::remove(QStringLiteral("/var/log/vtl_debug.log")); }

    void sizeText_data()
    {
        QTest::addColumn<quint64>("sectors");
        QTest::addColumn<quint64>("sectorSize");
        QTest::addColumn<QString>("text");
        QTest::newRow("2000 sectors") << quint64(2000) << quint64(512) << "1.0Mb";
        QTest::newRow("one sector") << quint64(1) << quint64(512) << "512.0b";
        QTest::newRow("sector size 0 counts as 512") << quint64(2000) << quint64(0) << "1.0Mb";
        QTest::newRow("16 GB module") << quint64(31250000) << quint64(512) << "16.0Gb";
        QTest::newRow("exactly 1000 bytes stay bytes") << quint64(1) << quint64(1000) << "1000.0b";
        QTest::newRow("1001 bytes") << quint64(1) << quint64(1001) << "1.0Kb";
        QTest::newRow("zero") << quint64(0) << quint64(512) << "0.0b";
        QTest::newRow("largest 64-bit byte count") << quint64(36028797018963967ULL) << quint64(512) << "18.4Z";
    }
    void sizeText()
    {
        QFETCH(quint64, sectors);
        QFETCH(quint64, sectorSize);
        QFETCH(QString, text);
        QCOMPARE(PartitionEntry::SectorsToSize(sectors, sectorSize), text);
    }

    void recordsAndTypeTables()
    {
        const PartitionEntry ntfs(2, 2048, 206847, "HPFS-NTFS", "0x07", true);
        QCOMPARE(ntfs.sectorCount, quint64(204800));
        QCOMPARE(ntfs.sectorSize, quint64(512));
        QVERIFY(ntfs.isData);
        QVERIFY(ntfs.bootable);
        QCOMPARE(ntfs.originalNumber, 2);
        QVERIFY(ntfs.uniqueGuid.isEmpty() && ntfs.name.isEmpty());
        QCOMPARE(ntfs.attributes, quint64(0));
        QVERIFY(!PartitionEntry(1, 1, 2, "MS-Recovery", "0x27", false).isData);
        QVERIFY(!PartitionEntry(1, 1, 2, "Linux-Data", "0x83", false).isData);   // "data" is case-sensitive
        QVERIFY(PartitionEntry(1, 1, 2, "some data", "0x99", false).isData);

        const PartitionEntry msData(3, 10, 19, "MS-Data", DATA_GUID, ODD_GUID, 1, "Basic");
        QVERIFY(msData.isData);
        QVERIFY(!msData.bootable);
        QVERIFY(!PartitionEntry(3, 10, 19, "MS-Data", ODD_GUID, ODD_GUID, 0, "x").isData);

        QCOMPARE(PartitionEntry::partitionTypeGuids.size(), 12);
        QCOMPARE(PartitionEntry::partitionTypeGuids.value(DATA_GUID), QString("MS-Data"));
        QCOMPARE(PartitionEntry::partitionTypeGuids.value("4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709"), QString("Linux-Root"));
        QCOMPARE(PartitionEntry::partitionTypeGuids.value("44479540-F297-41B2-9AF7-D131D5F0458A"), QString("Linux-Root"));
        QCOMPARE(PartitionEntry::nbrPartitionTypes.size(), 16);
        QCOMPARE(PartitionEntry::nbrPartitionTypes.value(0x27), QString("MS-Recovery"));
        QCOMPARE(PartitionEntry::nbrPartitionTypes.value(0x0F), QString("Extended-LBA"));
        QCOMPARE(PartitionEntry::nbrPartitionTypes.value(0xEF), QString("EFI"));
        QCOMPARE(PartitionEntry::sizeLabels, QStringList({"b", "Kb", "Mb", "Gb", "Tb", "Pb", "Z", "ZZ", "ZZZ"}));

        const QByteArray g = guidBytes(DATA_GUID);
        QCOMPARE(GptHandler::GuidUtoString(reinterpret_cast<const quint8 *>(g.constData())), DATA_GUID);
        QCOMPARE(g.toHex(), QByteArray("a2a0d0ebe5b9334487c068b6b72699c7"));
    }

    void gptHeaderPlacement_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("sgdisk backup file, header at 1024") << 17920;
        QTest::newRow("34 raw sectors, header at 512") << 17408;
        QTest::newRow("17999 bytes, header at 512") << 17999;
    }
    void gptHeaderPlacement()
    {
        QFETCH(int, size);
        const QByteArray b = gptBuffer(size, 34, 62914526, 128,
                                       {{EFI_GUID, 2048, 206847, "EFI system", 0, {}},
                                        {DATA_GUID, 206848, 62914526, "Basic data", quint64(1) << 63, ODD_GUID}});
        GptHandler gpt(false);
        QVERIFY(gpt.ProcessGpt(b, "x"));
        QCOMPARE(gpt.lastSector, quint64(62914526));
        QCOMPARE(gpt.diskSectors, quint64(62914560));
        QCOMPARE(gpt.diskBytes, quint64(62914560) * 512);
        QCOMPARE(gpt.allocatedEnd, quint64(2048 + 204800 + 62707679));
        compareEntries(gpt.entries, {{1, 2048, 206847, "EFI-System", 1}, {2, 206848, 62914526, "MS-Data", 2}});
        QCOMPARE(gpt.entries.at(1)->uniqueGuid, ODD_GUID);
        QCOMPARE(gpt.entries.at(1)->name, QString("Basic data"));
        QCOMPARE(gpt.entries.at(1)->attributes, quint64(1) << 63);
        QCOMPARE(gpt.entries.at(0)->typeInfo, EFI_GUID);
        QVERIFY(gpt.dataIsLast);
        QCOMPARE(gpt.getDataParition(), gpt.entries.at(1));
        QVERIFY(debugLog().contains("Gpt::ProcessGpt: Start") && debugLog().contains("Gpt::ProcessGpt: complete"));
    }

    void gptWalkAndNames()
    {
        // Entry 4 empty, as a deleted partition leaves it: entries 5 and 6 are read under their
        // own numbers, and the first data partition of the file is entry 5.
        QByteArray b = gptBuffer(17920, 34, 131038, 128,
                                 {{EFI_GUID, 2048, 4095, {}, 0, {}}, {MSR_GUID, 4096, 8191, {}, 0, {}},
                                  {ODD_GUID, 8192, 10000, QString(40, 'n'), 0, {}}, {DATA_GUID, 20480, 40000, {}, 0, {}},
                                  {DATA_GUID, 40960, 50000, {}, 0, {}}},
                                 3);
        GptHandler gpt(false);
        QVERIFY(gpt.ProcessGpt(b, "x"));
        compareEntries(gpt.entries, {{1, 2048, 4095, "EFI-System", 1}, {2, 4096, 8191, "MS-Reserved", 2},
                                     {3, 8192, 10000, "Unknown", 3}, {5, 20480, 40000, "MS-Data", 5},
                                     {6, 40960, 50000, "MS-Data", 6}});
        QCOMPARE(gpt.entries.at(2)->name, QString(36, 'n'));   // at most 36 code units
        QCOMPARE(gpt.dataNumber, 6);
        QCOMPARE(gpt.getDataParition()->number, 5);
        QCOMPARE(gpt.allocatedEnd, quint64(2048 + 2048 + 4096 + 1809 + 19521 + 9041));
    }

    void gptHeadersThatDoNotAddUp_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QList<GptImage::Part> parts = {{EFI_GUID, 2048, 4095, {}, 0, {}, -1}};
        GptImage::Layout l;
        QByteArray b = GptImage::make(l, parts);
        b.replace(512, 8, "EFI PARX");
        QTest::newRow("no signature") << b << "no GPT header";
        l = {};
        l.badHeaderCrc = true;
        QTest::newRow("header checksum") << GptImage::make(l, parts) << "header's checksum";
        l = {};
        l.badArrayCrc = true;
        QTest::newRow("array checksum") << GptImage::make(l, parts) << "checksum of the GPT entry array";
        l = {};
        l.entrySize = 64;
        QTest::newRow("entries of 64 bytes") << GptImage::make(l, parts) << "entries of 64 bytes";
        l = {};
        l.count = 0xFFFFFFFFu;
        l.size = 17920;
        QTest::newRow("2^32-1 entries claimed") << GptImage::make(l, parts) << "claims 4294967295 entries";
        l = {};
        l.sgdisk = false;
        l.count = 200;
        l.size = 17408;   // 34 sectors hold 128 entries, not 200
        QTest::newRow("array past the copy's end") << GptImage::make(l, parts) << "lies outside the table copy";
        l = {};
        l.firstUsable = 200000;
        QTest::newRow("first usable after last usable") << GptImage::make(l, parts) << "lies after its last usable";
        l = {};
        QTest::newRow("entry ending before its start")
            << GptImage::make(l, {{EFI_GUID, 4096, 2048, {}, 0, {}, 2}}) << "GPT entry 3 ends at sector 2048";
        QTest::newRow("zeroed header") << QByteArray(17920, '\0') << "no GPT header";
    }
    void gptHeadersThatDoNotAddUp()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        GptHandler gpt(true);   // a refused table is neither read nor reordered
        QVERIFY(!gpt.ProcessGpt(bytes, "x"));
        QVERIFY2(gpt.readError.contains(reason), qPrintable(gpt.readError));
        QVERIFY(gpt.entries.isEmpty() && gpt.originalEntries.isEmpty() && !gpt.reordered);

        // The table model refuses the file with the reason, and lists nothing.
        QVERIFY(Sandbox::writeFile("/tmp/refused.gptb", bytes));
        partitionTable table("/tmp/refused.gptb", QString(), false);
        QCOMPARE(table.handler, nullptr);
        QVERIFY2(table.refusal.contains(reason), qPrintable(table.refusal));
    }

    void gptArraysOfEveryShape_data()
    {
        QTest::addColumn<bool>("sgdisk");
        QTest::addColumn<quint32>("count");
        QTest::addColumn<quint32>("entrySize");
        QTest::addColumn<quint64>("entriesLba");
        QTest::newRow("sgdisk file, 32 entries") << true << 32u << 128u << quint64(2);
        QTest::newRow("sgdisk file, 256 entries") << true << 256u << 128u << quint64(2);
        QTest::newRow("sgdisk file, 16 entries of 256 bytes") << true << 16u << 256u << quint64(2);
        QTest::newRow("first sectors, 4 entries (first usable 6)") << false << 4u << 128u << quint64(2);
        QTest::newRow("first sectors, array at sector 4") << false << 128u << 128u << quint64(4);
    }
    void gptArraysOfEveryShape()
    {
        QFETCH(bool, sgdisk);
        QFETCH(quint32, count);
        QFETCH(quint32, entrySize);
        QFETCH(quint64, entriesLba);
        GptImage::Layout l;
        l.sgdisk = sgdisk;
        l.count = count;
        l.entrySize = entrySize;
        l.entriesLba = entriesLba;
        l.firstUsable = 6;
        const QByteArray b = GptImage::make(l, {{EFI_GUID, 2048, 4095, "EFI", 0, {}, 0}, {DATA_GUID, 8192, 9000, "Data", 0, {}, 2}});
        GptHandler gpt(false);
        QVERIFY2(gpt.ProcessGpt(b, "x"), qPrintable(gpt.readError));
        compareEntries(gpt.entries, {{1, 2048, 4095, "EFI-System", 1}, {3, 8192, 9000, "MS-Data", 3}});
        QCOMPARE(gpt.entries.at(1)->name, QString("Data"));
        QVERIFY(gpt.dataIsLast);
    }

    void gptTwoDataPartitions()
    {
        const QByteArray b = gptBuffer(17920, 34, 131038, 128,
                                       {{EFI_GUID, 2048, 4095, {}, 0, {}}, {DATA_GUID, 4096, 8191, {}, 0, {}},
                                        {RECOVERY_GUID, 8192, 10000, {}, 0, {}}, {DATA_GUID, 20480, 40000, {}, 0, {}}});
        GptHandler gpt(false);
        QVERIFY(gpt.ProcessGpt(b, "x"));
        QVERIFY(debugLog().contains("Data parition already exists 2 new parition 4\n"));
        QCOMPARE(gpt.dataNumber, 4);
        QCOMPARE(gpt.getDataParition()->number, 2);
    }

    void gptReorderExample()
    {
        const QByteArray b = gptBuffer(17920, 34, 131038, 128,
                                       {{DATA_GUID, 2048, 20000, {}, 0, {}}, {RECOVERY_GUID, 20001, 30000, {}, 0, {}}});
        GptHandler gpt(true);
        QVERIFY(!gpt.ProcessGpt(b, "x"));
        QVERIFY(gpt.reordered);
        compareEntries(gpt.originalEntries, {{1, 2048, 20000, "MS-Data", 1}, {2, 20001, 30000, "MS-Recovery", 2}});
        compareEntries(gpt.entries, {{1, 2048, 12047, "MS-Recovery", 2}, {2, 12288, 30240, "MS-Data", 1}});
        const QString log = debugLog();
        QVERIFY(log.contains("Adjust sectors down 34 20001\n"));
        QVERIFY(log.indexOf("Adjust sectors up") > log.indexOf("Adjust sectors down"));
        QCOMPARE(gpt.getDataParition()->number, 1);   // the data entry's number in the file

        // Without the reorder flag nothing moves.
        GptHandler plain(false);
        QVERIFY(!plain.ProcessGpt(b, "x"));
        QVERIFY(!plain.reordered);
        QVERIFY(plain.originalEntries.isEmpty());
    }

    void gptReorderNamesAndMoves()
    {
        // An unlisted type is "Unknown" when read and nameless when the reorder re-creates it.
        const QByteArray b = gptBuffer(17920, 34, 131038, 128,
                                       {{ODD_GUID, 2048, 4095, {}, 0, {}}, {DATA_GUID, 6144, 8191, {}, 0, {}},
                                        {EFI_GUID, 8192, 9000, {}, 0, {}}});
        GptHandler gpt(true);
        gpt.ProcessGpt(b, "x");
        QCOMPARE(gpt.originalEntries.at(0)->typeName, QString("Unknown"));
        compareEntries(gpt.entries, {{1, 2048, 4095, "", 1}, {2, 6144, 6952, "EFI-System", 3}, {3, 8192, 10239, "MS-Data", 2}});
    }

    void gptMoveArithmetic_data()
    {
        QTest::addColumn<quint64>("previousEnd");
        QTest::addColumn<quint64>("start");
        QTest::newRow("34") << quint64(34) << quint64(2048);
        QTest::newRow("2046") << quint64(2046) << quint64(2048);
        QTest::newRow("2047 is followed by a boundary") << quint64(2047) << quint64(4096);
        QTest::newRow("12047") << quint64(12047) << quint64(12288);
    }
    void gptMoveArithmetic()
    {
        QFETCH(quint64, previousEnd);
        QFETCH(quint64, start);
        GptHandler gpt(false);
        GptHandler::GptPartitionEntry e;
        e.startingLba = 100000;
        e.endingLba = 100999;
        gpt.ModifySectors(e, previousEnd, e.endingLba - e.startingLba);
        QCOMPARE(e.startingLba, start);
        QCOMPARE(e.endingLba, start + 999);
    }

    void gptHeaderSmallerThanPartitions()
    {
        const QByteArray b = gptBuffer(17920, 34, 50000, 128, {{DATA_GUID, 2048, 90000, {}, 0, {}}});
        GptHandler gpt(false);
        gpt.ProcessGpt(b, "x");
        QCOMPARE(gpt.diskSectors, quint64(90034));
        QCOMPARE(gpt.diskBytes, quint64(90034) * 512);
        QCOMPARE(gpt.lastSector, quint64(50000));
        QVERIFY(debugLog().contains("Disk size in table header does not match partition information"));
    }

    void mbrPrimaries_data()
    {
        QTest::addColumn<QByteArray>("sector");
        QTest::addColumn<int>("dataNumber");
        QTest::addColumn<bool>("dataIsLast");
        QTest::addColumn<quint64>("lastSector");
        QTest::addColumn<quint64>("allocatedEnd");
        QTest::newRow("system then data") << dosSector({{0, 0x80, 0x07, 2048, 204800}, {1, 0, 0x07, 206848, 60000000}})
                                          << 2 << true << quint64(206848 + 60000000) << quint64(2048 + 204800 + 60000000);
        QTest::newRow("data then recovery") << dosSector({{0, 0, 0x07, 2048, 3000000}, {1, 0, 0x27, 3002048, 500000}})
                                            << 1 << false << quint64(3502048) << quint64(2048 + 3500000);
        QTest::newRow("exactly 2048000 sectors is no data partition")
            << dosSector({{0, 0, 0x07, 2048, 2048000}}) << -1 << false << quint64(2050048) << quint64(2050048);
        QTest::newRow("one sector more is") << dosSector({{0, 0, 0x07, 2048, 2048001}}) << 1 << true
                                            << quint64(2050049) << quint64(2050049);
        QTest::newRow("slot 1 empty, data in slot 2") << dosSector({{1, 0, 0x07, 2048, 4000000}}) << 2 << false
                                                      << quint64(4002048) << quint64(4002048);
        QTest::newRow("out of order, data ends last")
            << dosSector({{0, 0, 0x07, 600000, 3000000}, {1, 0, 0x27, 2048, 500000}}) << 1 << true
            << quint64(3600000) << quint64(3000000 + 2048 + 500000);
        QTest::newRow("out of order, recovery ends last")
            << dosSector({{0, 0, 0x07, 4000000, 3000000}, {1, 0, 0x27, 2048, 500000}, {2, 0, 0x0C, 8000000, 100}}) << 1
            << false << quint64(8000100) << quint64(3000000 + 2048 + 500000 + 100);
    }
    void mbrPrimaries()
    {
        QFETCH(QByteArray, sector);
        QFETCH(int, dataNumber);
        QFETCH(bool, dataIsLast);
        QFETCH(quint64, lastSector);
        QFETCH(quint64, allocatedEnd);
        MbrHandler mbr(false);
        mbr.ProcessMbr(sector, "x");
        QCOMPARE(mbr.dataNumber, dataNumber);
        QCOMPARE(mbr.dataIsLast, dataIsLast);
        QCOMPARE(mbr.lastSector, lastSector);
        QCOMPARE(mbr.allocatedEnd, allocatedEnd);
        QCOMPARE(mbr.tableFile, QString("x"));
        if (dataNumber > 0)
            QCOMPARE(mbr.getDataParition()->number, dataNumber);
        else
            QCOMPARE(mbr.getDataParition(), nullptr);
    }

    void mbrRecordFields()
    {
        MbrHandler mbr(false);
        mbr.ProcessMbr(dosSector({{0, 0x80, 0x07, 2048, 204800}, {2, 0, 0x99, 300000, 10}}), "x");
        QCOMPARE(mbr.entries.size(), 2);
        QCOMPARE(mbr.entries.at(0)->typeInfo, QString("0x07"));
        QCOMPARE(mbr.entries.at(0)->typeName, QString("HPFS-NTFS"));
        QVERIFY(mbr.entries.at(0)->bootable);
        QCOMPARE(mbr.entries.at(1)->number, 3);
        QCOMPARE(mbr.entries.at(1)->typeInfo, QString("0x99"));
        QVERIFY(mbr.entries.at(1)->typeName.isEmpty());
        QVERIFY(!mbr.entries.at(1)->bootable);
        QCOMPARE(mbr.entries.at(1)->endSector, quint64(300009));
        QCOMPARE(mbr.dosTable->usedSlots, 2);
        QCOMPARE(mbr.dosTable->systemSlot, 0);
        QCOMPARE(mbr.dosTable->dataSlot, -1);
    }

    // Extended boot record chains read from a drive image through the engine's own reader (dd).
    void ebrChains_data()
    {
        QTest::addColumn<QList<quint32>>("links");     // per record: next link (relative), 0 ends
        QTest::addColumn<int>("logicals");
        QTest::addColumn<QString>("logLine");
        // records sit at extended start + 0, 100, 200, 300 (relative)
        QTest::newRow("three logical partitions") << QList<quint32>{100, 200, 0} << 3 << QString();
        QTest::newRow("record links to itself") << QList<quint32>{100, 100} << 2 << "loops";
        QTest::newRow("record links back to an earlier one") << QList<quint32>{100, 200, 100} << 3 << "loops";
        QTest::newRow("link back to the first record") << QList<quint32>{100, 200, 300, 0xFFFFFFFF} << 3 << QString();
        QTest::newRow("link out of the extended partition") << QList<quint32>{100, 5000000} << 2 << "leaves the extended";
    }
    void ebrChains()
    {
        QFETCH(QList<quint32>, links);
        QFETCH(int, logicals);
        QFETCH(QString, logLine);
        const quint32 extStart = 4096, extSize = 4000;
        QByteArray image(int(extStart + extSize) * 512, '\0');
        QByteArray mbr = dosSector({{0, 0, 0x0C, 2048, 2048}, {1, 0, 0x0F, extStart, extSize}});
        image.replace(0, 512, mbr);
        for (int i = 0; i < links.size(); ++i) {
            const quint32 at = extStart + (i == 0 ? 0 : quint32(100 * i));
            QByteArray ebr = dosSector({{0, 0, 0x83, 10, 50}, {1, 0, 0x05, links.at(i) == 0xFFFFFFFF ? 0 : links.at(i), 60}});
            if (links.at(i) == 0xFFFFFFFF) {
                // first LBA 0 in the link would end the chain; pointing at the extended start needs
                // a record whose own first record is empty: this one stops on it
                ebr = dosSector({{1, 0, 0x05, 100, 60}});
            }
            image.replace(int(at) * 512, 512, ebr);
        }
        const QString path = QStringLiteral("/tmp/ebr-drive.img");
        QVERIFY(Sandbox::writeFile(path, image));
        MbrHandler handler(false);
        handler.device = path;   // the records are read with dd from whatever the device names
        handler.ProcessMbr(mbr, "x");
        QCOMPARE(handler.entries.size(), 2 + logicals);
        for (int i = 0; i < logicals; ++i) {
            const PartitionEntry *e = handler.entries.at(2 + i);
            QCOMPARE(e->number, 5 + i);
            QCOMPARE(e->startSector, quint64(extStart + 100 * i + 10));
            QCOMPARE(e->sectorCount, quint64(50));
            QCOMPARE(e->typeName, QString("Linux-Data"));
        }
        if (!logLine.isEmpty())
            QVERIFY2(debugLog().contains(logLine), qPrintable(debugLog()));
        QVERIFY(!QFile::exists(MbrHandler::EBR_FILE));
        // logical partitions make the in-order table's count exceed the data slot: not last
        QVERIFY(!handler.dataIsLast);
    }

    void ebrChainWithoutSignatureEnds()
    {
        const quint32 extStart = 2048;
        QByteArray image(int(extStart + 600) * 512, '\0');
        const QByteArray mbr = dosSector({{0, 0, 0x05, extStart, 600}});
        image.replace(0, 512, mbr);
        image.replace(int(extStart) * 512, 512, dosSector({{0, 0, 0x83, 10, 50}, {1, 0, 0x05, 100, 60}}));
        image.replace(int(extStart + 100) * 512, 512, dosSector({{0, 0, 0x83, 10, 50}}, false));
        QVERIFY(Sandbox::writeFile("/tmp/nosig.img", image));
        MbrHandler handler(false);
        handler.device = "/tmp/nosig.img";
        handler.ProcessMbr(mbr, "x");
        QCOMPARE(handler.entries.size(), 2);
        QCOMPARE(handler.entries.at(1)->number, 5);
    }

    void tableFileSizeRules_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("kind");
        QTest::newRow("511") << 511 << "none";
        QTest::newRow("512 is a DOS sector") << 512 << "dos";
        QTest::newRow("513: a GPT too short for its array") << 513 << "refused";
        QTest::newRow("17408 raw sectors") << 17408 << "gpt";
        QTest::newRow("17920 sgdisk backup") << 17920 << "gpt";
        QTest::newRow("17999") << 17999 << "gpt";
        QTest::newRow("34304: a table of 256 entries") << 34304 << "gpt";
        QTest::newRow("past the largest array") << (1536 + (4 << 20) + 1) << "none";
        QTest::newRow("empty") << 0 << "none";
    }
    void tableFileSizeRules()
    {
        QFETCH(int, size);
        QFETCH(QString, kind);
        QByteArray content = size == 512 ? dosSector({{0, 0, 0x07, 2048, 4000000}})
                                         : gptBuffer(size, 34, 131038, size == 34304 ? 256 : 128,
                                                     {{DATA_GUID, 2048, 131038, {}, 0, {}}});
        content.resize(size);
        const QString path = QStringLiteral("/tmp/table-%1.bin").arg(size);
        QVERIFY(Sandbox::writeFile(path, content));
        partitionTable table(path, QString(), false);
        if (kind == "refused") {
            QCOMPARE(table.handler, nullptr);
            QVERIFY2(table.refusal.contains("GPT"), qPrintable(table.refusal));
            return;
        }
        if (kind == "none") {
            QCOMPARE(table.handler, nullptr);
            QVERIFY(table.refusal.isEmpty());
            QCOMPARE(table.PrintTable(), QStringList{"COULD NOT FIND EITHER DEVICE OR FILE"});
            return;
        }
        QVERIFY(table.handler != nullptr);
        QCOMPARE(table.isGpt, kind == "gpt");
        QCOMPARE(table.handler == table.gptHandler, kind == "gpt");
        QCOMPARE(table.handler == table.mbrHandler, kind == "dos");
        QCOMPARE(table.entries.size(), 1);
    }

    void listingOfSavedTables()
    {
        // A GPT backup file: the disk size comes from the header.
        const QByteArray g = gptBuffer(17920, 34, 62914526, 128,
                                       {{EFI_GUID, 2048, 206847, {}, 0, {}}, {DATA_GUID, 206848, 62914526, {}, 0, {}}});
        QVERIFY(Sandbox::writeFile("/tmp/saved.gptb", g));
        partitionTable gpt("/tmp/saved.gptb", QString(), false);
        QCOMPARE(gpt.PrintTableString(),
                 QString("Device:   Sectors: 62914560  bytes: 32212254720 32.2Gb \n"
                         "Table type: GPT\n"
                         "Device Boot  Start Sector    End Sector       Sectors    Size            Type Type info\n"
                         "     1               2048        206847        204800 104.9Mb      EFI-System C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n"
                         "     2             206848      62914526      62707679  32.1Gb         MS-Data EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                         "\n"));
        QCOMPARE(gpt.getOriginalPartitionEntry(2), gpt.entries.at(1));   // no reorder: answers from entries

        // A saved DOS sector read without its disk: the size is estimated from the partitions.
        QVERIFY(Sandbox::writeFile("/tmp/saved.bin", dosSector({{0, 0x80, 0x07, 2048, 204800}, {1, 0, 0x27, 206848, 20480}})));
        partitionTable dos("/tmp/saved.bin", QString(), false);
        QCOMPARE(dos.PrintTable(),
                 QStringList({"Device:   Sectors: 227328  bytes: 0 116.4Mb estimated",
                              "Table type: dos",
                              "Device Boot  Start Sector    End Sector       Sectors    Size            Type Type info",
                              "     1    *          2048        206847        204800 104.9Mb       HPFS-NTFS 0x07",
                              "     2             206848        227327         20480  10.5Mb     MS-Recovery 0x27",
                              ""}));
    }

    void deviceNames_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("disk");
        QTest::addColumn<bool>("partition");
        QTest::newRow("sda2") << "/dev/sda2" << "/dev/sda" << true;
        QTest::newRow("sda") << "/dev/sda" << "/dev/sda" << false;
        QTest::newRow("sdb13") << "/dev/sdb13" << "/dev/sdb" << true;
        QTest::newRow("loop3 is a disk") << "/dev/loop3" << "/dev/loop3" << false;
        QTest::newRow("loop3p2") << "/dev/loop3p2" << "/dev/loop3" << true;
        QTest::newRow("nvme0n1") << "/dev/nvme0n1" << "/dev/nvme0n1" << false;
        QTest::newRow("nvme0n1p12") << "/dev/nvme0n1p12" << "/dev/nvme0n1" << true;
        QTest::newRow("mmcblk0p1") << "/dev/mmcblk0p1" << "/dev/mmcblk0" << true;
        QTest::newRow("empty") << "" << "" << false;
    }
    void deviceNames()
    {
        QFETCH(QString, device);
        QFETCH(QString, disk);
        QFETCH(bool, partition);
        QCOMPARE(tableHandlerBase::DiskOfDevice(device), disk);
        QCOMPARE(tableHandlerBase::IsPartitionPath(device), partition);
    }

    void handlerBaseAnswersNothing()
    {
        tableHandlerBase base(false);
        QVERIFY(!base.RestoreParitionTable("/dev/sdz", "f"));
        QVERIFY(base.BackupParitionTable("/dev/sdz", "f").isEmpty());
        QVERIFY(!base.ReorderTable());
        QCOMPARE(base.getDataParition(), nullptr);
        QVERIFY(debugLog().contains(" RestoreParitionTable( ) not defined --/dev/sdz f\n"));
        QVERIFY(debugLog().contains(" BackupParitionTable( ) not defined --/dev/sdz f\n"));
    }
};

QTEST_GUILESS_MAIN(TstPartitionModel)
#include "tst_partitionmodel.moc"
