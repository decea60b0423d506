#include "mbrhandler.h"

#include <QCoreApplication>
#include <QFile>

// Each engine process its own: vaultine -s may read a drive while an engine works on it.
const QString MbrHandler::EBR_FILE = QStringLiteral("/tmp/fat-ebr-%1.bin").arg(QCoreApplication::applicationPid());

// A type 0x07 partition above this many sectors is the data partition.
static constexpr quint64 DATA_MINIMUM = 2048000;

MbrHandler::MbrHandler(bool reorder, QObject *parent)
    : tableHandlerBase(reorder, parent)
{
    sectorSize = 512;
}

QString MbrHandler::runLogged(const QString &command)
{
    LogDebug(command);
    const QString out = ExecuteCommandDebug(command);
    LogDebug(out, false);
    return out;
}

bool MbrHandler::RestoreParitionTable(const QString &device, const QString &file)
{
    if (!file.isEmpty())
        return RestoreTableFromFile(device, file, 512);
    if (!tableFile.isEmpty())
        return RestoreTableFromFile(device, tableFile, 512);
    return RestoreTable(device);
}

QString MbrHandler::BackupParitionTable(const QString &device, const QString &file)
{
    runLogged(QStringLiteral("dd of=%1 if=%2 bs=512 count=1").arg(CommandQuote(file), device));
    return file;
}

bool MbrHandler::ReorderTable()
{
    if (dosTable == nullptr || device.isEmpty())
        return false;
    return dosTable->AdjustDosDataTablePositionOnDisk(device);
}

PartitionEntry *MbrHandler::getDataParition()
{
    if (dataNumber < 1)
        return nullptr;
    for (PartitionEntry *entry : qAsConst(entries)) {
        if (entry->number == dataNumber)
            return entry;
    }
    return nullptr;
}

void MbrHandler::ProcessMbr(const QString &file)
{
    if (device.startsWith(QLatin1String("/dev/")))
        GetDiskInformationFromFdisk(device);
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return;
    mbrBytes = in.readAll();
    in.close();
    ProcessMbr(mbrBytes, file);
    tableFile = file;
}

void MbrHandler::ProcessMbr(const QByteArray &bytes, const QString &file)
{
    LogDebug(QStringLiteral("MbrHandler::ProcessMbr start"));
    // DosTable points into the sector we keep; a short file is read as if zero-filled.
    if (mbrBytes.constData() != bytes.constData() || mbrBytes.size() != bytes.size())
        mbrBytes = bytes;
    if (mbrBytes.size() < int(MbrLayout::SECTOR))
        mbrBytes.append(QByteArray(int(MbrLayout::SECTOR) - mbrBytes.size(), '\0'));
    mbrBytes.detach();
    delete dosTable;
    dosTable = new DosTable(reinterpret_cast<DosPartitionInfo *>(mbrBytes.data() + MbrLayout::TABLE_OFFSET), this);

    const uint8_t *sector = reinterpret_cast<const uint8_t *>(mbrBytes.constData());
    const size_t size = size_t(mbrBytes.size());
    allocatedEnd = 0;
    entries.clear();
    dataNumber = -1;
    quint64 largestEnd = 2048;
    int dataCount = 0;
    bool haveLowest = false;
    quint64 lowestStart = 0;
    bool outOfOrder = false;
    int nextLogical = 5;

    for (int i = 0; i < 4; ++i) {
        const MbrLayout::Record record = MbrLayout::ReadRecord(sector, size, i);
        if (record.firstLba == 0)
            continue;
        const QString typeName = AddEntry(i + 1, record, 0);
        const bool namesData = typeName.contains(QLatin1String("data")) || typeName.contains(QLatin1String("NTFS"));
        if (namesData && record.sectorCount > DATA_MINIMUM) {
            ++dataCount;
            dataNumber = i + 1;
        }
        largestEnd = qMax<quint64>(largestEnd, quint32(record.firstLba + record.sectorCount));
        if (typeName.toLower().contains(QLatin1String("extended")))
            nextLogical = ProcessEBR(record, nextLogical);
        if (record.firstLba <= 2048)
            allocatedEnd += record.firstLba;
        allocatedEnd += record.sectorCount;
        if (haveLowest && record.firstLba < lowestStart)
            outOfOrder = true;
        if (!haveLowest || record.firstLba < lowestStart)
            lowestStart = record.firstLba;
        haveLowest = true;
    }
    lastSector = largestEnd;

    if (outOfOrder) {
        const PartitionEntry *data = getDataParition();
        if (data == nullptr && !entries.isEmpty())
            data = entries.first();
        dataIsLast = true;
        for (const PartitionEntry *entry : qAsConst(entries)) {
            if (data != nullptr && entry->endSector > data->endSector)
                dataIsLast = false;
        }
    } else {
        dataIsLast = entries.size() == dataNumber;
    }
    tableFile = file;

    if (!dataIsLast && reorder) {
        reordered = ReorderTable();
        if (reordered) {
            // The rewrite cleared the whole first sector: put the saved boot code back.
            RestoreTableFromFile(device, file, 446);
        } else if (!device.isEmpty()) {
            // A table that could not be rewritten must not leave the disk without one.
            LogDebug(QStringLiteral("MbrHandler::ProcessMbr reorder failed, writing the saved table back"));
            RestoreTableFromFile(device, file, 512);
        }
    }
    LogDebug(QStringLiteral("MbrHandler::ProcessMbr completed"));
}

bool MbrHandler::ReadSector(quint64 lba, std::vector<uint8_t> &sector)
{
    if (device.isEmpty())
        return false;   // a table file alone holds no extended boot records
    QFile::remove(EBR_FILE);
    ExecuteCommand(QStringLiteral("dd of=%1 if=%2 bs=512 count=1 skip=%3").arg(CommandQuote(EBR_FILE), device, QString::number(lba)),
                   60000);
    QFile in(EBR_FILE);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    in.close();
    in.remove();
    sector.assign(bytes.constBegin(), bytes.constEnd());
    return true;
}

int MbrHandler::ProcessEBR(const MbrLayout::Record &extended, int next)
{
    LogDebug(QStringLiteral("MbrHandler::ProcessEBR start"));
    LogDebug(QStringLiteral("MbrHandler::ProcessEBR We cannot properly handle this partition table table"));
    MbrLayout::ChainEnd end;
    const std::vector<MbrLayout::Logical> logicals = MbrLayout::WalkEbrChain(
        extended, [this](uint64_t lba, std::vector<uint8_t> &sector) { return ReadSector(lba, sector); }, &end);
    for (const MbrLayout::Logical &logical : logicals)
        AddEntry(next++, logical.record, logical.base);
    if (end == MbrLayout::ChainEnd::Repeated)
        LogDebug(QStringLiteral("MbrHandler::ProcessEBR the chain of extended boot records loops; it ends here"));
    else if (end == MbrLayout::ChainEnd::OutOfRange)
        LogDebug(QStringLiteral("MbrHandler::ProcessEBR a link leaves the extended partition; the chain ends here"));
    else if (end == MbrLayout::ChainEnd::TooMany)
        LogDebug(QStringLiteral("MbrHandler::ProcessEBR too many logical partitions; the chain ends here"));
    LogDebug(QStringLiteral("MbrHandler::ProcessEBR complete"));
    return next;
}

QString MbrHandler::AddEntry(int number, const MbrLayout::Record &record, quint64 base)
{
    const quint64 start = base + record.firstLba;
    const quint64 end = start + record.sectorCount - 1;
    const QString typeName = PartitionEntry::nbrPartitionTypes.value(record.type);
    const QString typeInfo = QStringLiteral("0x%1").arg(record.type, 2, 16, QLatin1Char('0'));
    PartitionEntry *entry = new PartitionEntry(number, start, end, typeName, typeInfo, record.status != 0);
    adopt(entry);
    entries.append(entry);
    return typeName;
}

bool MbrHandler::RestoreTableFromFile(const QString &device, const QString &file, int count)
{
    LogDebug(QStringLiteral("MbrHandler::RestoreTableFromFile start"));
    const QString command = QStringLiteral("dd if=%1 of=%2 bs=%3 count=1").arg(CommandQuote(file), device, QString::number(count));
    LogDebug(command);
    const QString out = ExecuteCommandDebug(command);
    ExecuteCommand(QStringLiteral("sync"), 60000);
    ExecuteCommand(QStringLiteral("partprobe ") + device, 60000);
    ExecuteCommand(QStringLiteral("part-probe.sh"), 60000);
    ExecuteCommand(QStringLiteral("sync"), 60000);
    LogDebug(out, false);
    LogDebug(QStringLiteral("MbrHandler::RestoreTableFromFile completed"));
    return out.contains(QLatin1String("records"));
}

bool MbrHandler::RestoreTable(const QString &device)
{
    LogDebug(QStringLiteral("MbrHandler::RestoreTable start"));
    const QString zap = runLogged(QStringLiteral("sgdisk -Z %1").arg(device));
    if (zap.toLower().contains(QLatin1String("error"))) {
        LogMessage(QStringLiteral("sgdisk encountered an error ") + device, logFile);
        return false;
    }
    runLogged(QStringLiteral("sgdisk -ZZ %1").arg(device));
    // The records in memory are the table: write them back as a fresh DOS label.
    const bool written = dosTable != nullptr && dosTable->UpdateDosPartitionTableOnDisk(device);
    LogDebug(QStringLiteral("MbrHandler::RestoreTable complete"));
    return written;
}
