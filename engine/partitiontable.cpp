#include "partitiontable.h"
#include "fdiskhandler.h"

#include "ntfshandler.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>

const QString partitionTable::DEFAULT_GPT_BACKUP = QStringLiteral("/tmp/gpt-backup-%1.gptb");
const QString partitionTable::DEFAULT_MBR_BACKUP = QStringLiteral("/tmp/mbr-backup-%1.bin");

static QString withDevPrefix(const QString &device)
{
    return device.startsWith(QLatin1String("/dev/")) ? device : QStringLiteral("/dev/") + device;
}

partitionTable::partitionTable(const QString &name, const QString &device, bool reorder, QObject *parent)
    : SystemUtils(parent), reorder(reorder)
{
    // A partition path names its disk: /dev/sda2 is on /dev/sda, /dev/loop3p2 on /dev/loop3.
    // A disk whose own name ends in a digit (loop3, nvme0n1) keeps it.
    this->device = tableHandlerBase::DiskOfDevice(device.trimmed());
    LogDebug(QStringLiteral("partitionTable::partitionTable: name=%1, device=%2, reorder=%3")
                 .arg(name, this->device, QString::number(reorder ? 1 : 0)));

    QString source = name;
    if (source.isEmpty()) {
        const QString drive = ExecuteCommand(QStringLiteral("ahd.sh"), 60000).trimmed();
        if (!drive.isEmpty())
            source = QStringLiteral("/dev/") + drive;
    }
    if (source.isEmpty()) {
        ErrorMesg(QStringLiteral("Could not determine device or file"));
        return;
    }
    if (source.startsWith(QLatin1String("/dev/")) && !reorder)
        GetTableFromDevice(source, QString());
    else if (QFileInfo::exists(source) && !QFileInfo(source).isDir())
        GetTableFromFile(source);   // a device node given with reorder has no size: nothing is read
    else if (!this->device.isEmpty())
        GetTableFromDevice(this->device, source);
}

partitionTable::~partitionTable()
{
    for (const QString &file : qAsConst(scratchFiles))
        QFile::remove(file);
}

QString partitionTable::scratchFile(const QString &pattern)
{
    static int made = 0;
    const QString file = pattern.arg(QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++made));
    scratchFiles << file;
    return file;
}

void partitionTable::refuse(const QString &reason)
{
    refusal = reason;
    handler = nullptr;
    entries.clear();
    originalEntries.clear();
    ErrorMesg(reason);
}

QString partitionTable::DriveRefusal(SystemUtils &runner, const QString &device, const QString &listing)
{
    // Every sector number of the model is a 512-byte sector: on a drive with other sectors the
    // sizes, fit checks and copies would all be wrong, so such a drive is refused whole.
    const quint64 sectorSize = tableHandlerBase::GetSectorSizeFromFdisk(device);
    if (sectorSize != 0 && sectorSize != 512)
        return QStringLiteral("%1 has %2-byte logical sectors: the engine works only on drives with 512-byte sectors")
            .arg(device).arg(sectorSize);
    static const QRegularExpression labelLine(QStringLiteral("Disklabel type: (\\S+)"));
    QString label = labelLine.match(listing).captured(1);
    if (label.isEmpty()) {
        // Labels sfdisk does not know (atari, mac ...) it does not name; blkid does.
        label = runner.ExecuteShell(QStringLiteral("blkid"), {QStringLiteral("-p"), QStringLiteral("-s"), QStringLiteral("PTTYPE"),
                                                              QStringLiteral("-o"), QStringLiteral("value"), device})
                    .join(QString()).trimmed();
    }
    // PMBR: a protective MBR whose GPT is damaged; sgdisk reads what is left of it.
    if (label.isEmpty() || label == QLatin1String("dos") || label == QLatin1String("gpt") || label == QLatin1String("PMBR"))
        return QString();
    return QStringLiteral("%1 has a %2 disk label: the engine reads only dos and gpt partition tables").arg(device, label);
}

QString partitionTable::run(const QString &command)
{
    return ExecuteCommand(command, 60000);
}

void partitionTable::GetTableFromDevice(const QString &device, const QString &backupFile)
{
    LogDebug(QStringLiteral("partitionTable::GetTableFromDevice: ") + device + ' ' + backupFile);
    this->device = withDevPrefix(device);

    const QString listing = run(QStringLiteral("sfdisk -l ") + this->device);
    const QString refused = DriveRefusal(*this, this->device, listing);
    if (!refused.isEmpty()) {
        refuse(refused);
        return;
    }
    isGpt = listing.contains(QLatin1String("Disklabel type: gpt")) || !listing.contains(QLatin1String("Disklabel type"));

    if (isGpt) {
        const QString file = backupFile.isEmpty() ? scratchFile(DEFAULT_GPT_BACKUP) : backupFile;
        const QString out = run(QStringLiteral("sgdisk -b %1 %2").arg(CommandQuote(file), this->device));
        if (!out.contains(QLatin1String("successfully."))) {
            ErrorMesg(QStringLiteral("Could not create backup file for ") + this->device);
            return;
        }
        ProcessGptFile(file);
    } else {
        const QString file = backupFile.isEmpty() ? scratchFile(DEFAULT_MBR_BACKUP) : backupFile;
        ExecuteCommandDebug(QStringLiteral("dd of=%1 if=%2 bs=512 count=1").arg(CommandQuote(file), this->device));
        ProcessMbrFile(file, this->device);
    }
    if (refusal.isEmpty())
        run(QStringLiteral("part-probe.sh"));
}

void partitionTable::GetTableFromFile(const QString &path)
{
    LogDebug(QStringLiteral("partitionTable::GetTableFromFile: ") + path);
    const qint64 size = QFileInfo(path).size();
    if (size == 512)
        ProcessMbrFile(path, QString());
    else if (size >= 513 && quint64(size) <= GptLayout::SGDISK_ARRAY_OFFSET + GptLayout::MAX_ARRAY_BYTES)
        ProcessGptFile(path);   // sgdisk's copy of a table of any entry count, or a drive's first sectors
}

void partitionTable::ProcessMbrFile(const QString &file, const QString &device)
{
    mbrHandler = new MbrHandler(reorder, this);
    handler = mbrHandler;
    if (reorder)
        mbrHandler->device = this->device;
    else if (!device.isEmpty())
        mbrHandler->device = device;
    mbrHandler->ProcessMbr(file);
    isGpt = false;
    entries = mbrHandler->entries;
    originalEntries.clear();
}

void partitionTable::ProcessGptFile(const QString &file)
{
    gptHandler = new GptHandler(reorder, this);
    handler = gptHandler;
    gptHandler->ProcessGpt(file);
    isGpt = true;
    if (!gptHandler->readError.isEmpty()) {
        refuse(QStringLiteral("The GPT in %1 cannot be read: %2").arg(gptHandler->readFile, gptHandler->readError));
        return;
    }
    entries = gptHandler->entries;
    originalEntries = gptHandler->originalEntries;
}

bool partitionTable::ReloadTable(const QString &device)
{
    GetTableFromDevice(device, QString());
    if (entries.isEmpty())
        return false;
    // A partition that could not be grown is a deploy that did not happen; a table without a
    // data partition has nothing to grow.
    const int grown = ExpandDataPartition(device);
    return grown == 0 || grown == 1012;
}

int partitionTable::ExpandDataPartition(const QString &device)
{
    const QString disk = withDevPrefix(device);
    if (entries.size() < 2)
        return 0;
    const PartitionEntry *data = growthPartition();
    if (data == nullptr)
        return 1012;
    fdiskHandler fdisk(isGpt);
    const bool grown = fdisk.AdjustDataPartition(disk, data->number, 0);
    run(QStringLiteral("part-probe.sh"));
    if (!grown) {
        ShowMessage(QStringLiteral("Could not grow partition %1 to the end of %2").arg(data->number).arg(disk));
        LogDebug(QStringLiteral("AdjustDataPartition step %1 failed for partition %2").arg(fdisk.adjustStatus).arg(data->number), true);
        return 1002;
    }
    return 0;
}

PartitionEntry *partitionTable::growthPartition()
{
    if (handler == nullptr || handler->getDataParition() == nullptr)
        return nullptr;
    PartitionEntry *last = nullptr;
    for (PartitionEntry *entry : qAsConst(entries)) {
        const bool data = isGpt ? entry->typeName == QLatin1String("MS-Data") : entry->number == mbrHandler->dataNumber;
        if (data && (last == nullptr || entry->startSector > last->startSector))
            last = entry;
    }
    return last;
}

bool partitionTable::RestoreParitionTable(const QString &device, const QString &file)
{
    LogDebug(QStringLiteral("Restore Partition table: ") + device + ' ' + file);
    if (handler == nullptr)
        return false;
    const bool result = handler->RestoreParitionTable(device, file);
    // One probe: it returns only when every partition of the new table has its node, so a second
    // run would find nothing to do but list the table again.
    run(QStringLiteral("part-probe.sh"));
    return result;
}

QString partitionTable::BackupParitionTable(const QString &device, const QString &file)
{
    if (handler == nullptr)
        return QString();
    return handler->BackupParitionTable(device, file);
}

bool partitionTable::CreateLinuxPartitionTable(const QString &device)
{
    if (handler == nullptr || handler != gptHandler) {
        if (gptHandler == nullptr) {
            gptHandler = new GptHandler(false, this);
            handler = gptHandler;
            const QString scratch = scratchFile(QStringLiteral("/tmp/tmpgpt-%1"));
            scratchFiles << scratch + GptHandler::GPTB;
            gptHandler->BackupParitionTable(device, scratch);
            gptHandler->RestoreParitionTable(device, scratch);
        }
        handler = gptHandler;
    }
    return gptHandler->CreateLinuxPartitionTable(device);
}

int partitionTable::ResizeNtfsVolume(bool shrink)
{
    PartitionEntry *data = (entries.size() >= 2 && handler != nullptr) ? handler->getDataParition() : nullptr;
    if (data == nullptr)
        return 0;
    // The partition's node: loop3 and nvme0n1 take a "p" before the number.
    const QString check = ExecuteCommandDebug(QStringLiteral("ntfsresize -c %1").arg(AdjustDeviceName(device, data->number)));
    if (check.toLower().contains(QLatin1String("error"))) {
        ShowMessage(QStringLiteral("Data Partition does not appear to be an NTFS volume or there is a problem with it so we can't shrink/expand the volume"));
        return 1007;
    }
    if (data->sectorCount * data->sectorSize <= quint64(A10G))
        return 0;
    NtfsHandler ntfs;
    if (shrink) {
        UpdateGauge(0, QStringLiteral("Shrinking NTFS voluume"), QString(), QString());
        quint64 other = handler->firstLba + 34;
        for (const PartitionEntry *entry : qAsConst(entries))
            other += entry->sectorCount;
        other -= data->sectorCount;
        const int result = ntfs.ShrinkNtfsImage(device, data->number, isGpt, other);
        volumeShrunk = ntfs.volumeShrunk;
        if (result != 0 && result != baseBrHandler::RUN_ABORTED)
            ShowMessage(QStringLiteral("Could Not Shrink DOM due to errors"));
        return result;
    }
    const PartitionEntry *next = getPartitionEntry(data->number + 1);
    const bool wanted = volumeShrunk
        || (data->number == entries.size() && data->endSector + 8192 < handler->diskSectors)
        || (next != nullptr && data->endSector + 8192 < next->startSector);
    if (!wanted) {
        ShowMessage(QStringLiteral("Ntfs Resize not required"));
        return 0;
    }
    UpdateGauge(0, QStringLiteral("Expanding NTFS voluume"), QString(), QString());
    return ntfs.ExpandNtfsImage(device, data->number, isGpt, !volumeShrunk);
}

bool partitionTable::isDataPartitionLast()
{
    return handler != nullptr && handler->dataIsLast;
}

PartitionEntry *partitionTable::getPartitionEntry(int number)
{
    for (PartitionEntry *entry : qAsConst(entries)) {
        if (entry->number == number)
            return entry;
    }
    return nullptr;
}

PartitionEntry *partitionTable::getOriginalPartitionEntry(int number)
{
    if (originalEntries.isEmpty())
        return getPartitionEntry(number);
    for (PartitionEntry *entry : qAsConst(originalEntries)) {
        if (entry->number == number)
            return entry;
    }
    return nullptr;
}

QStringList partitionTable::PrintTable()
{
    return PrintTable(entries);
}

QStringList partitionTable::PrintOriginalTable()
{
    return PrintTable(originalEntries);
}

// Columns of the listing, right-aligned in fields of these widths.
static QString columns(const QStringList &values)
{
    static const int widths[] = {6, 4, 13, 13, 13, 7, 15};
    QStringList cells;
    for (int i = 0; i < values.size(); ++i)
        cells << (i < 7 ? values.at(i).rightJustified(widths[i], QLatin1Char(' ')) : values.at(i));
    return cells.join(QLatin1Char(' '));
}

QStringList partitionTable::PrintTable(const QList<PartitionEntry *> &list)
{
    if (handler == nullptr)
        return {QStringLiteral("COULD NOT FIND EITHER DEVICE OR FILE")};
    QStringList lines;
    const bool estimated = handler->diskSectors == 0;
    const quint64 sectors = estimated ? handler->lastSector : handler->diskSectors;
    lines << QStringLiteral("Device: %1  Sectors: %2  bytes: %3 %4 %5")
                 .arg(device)
                 .arg(sectors)
                 .arg(handler->diskBytes)
                 .arg(PartitionEntry::SectorsToSize(sectors, 512), estimated ? QStringLiteral("estimated") : QString());
    lines << QStringLiteral("Table type: %1").arg(isGpt ? QStringLiteral("GPT") : QStringLiteral("dos"));
    lines << columns({QStringLiteral("Device"), QStringLiteral("Boot"), QStringLiteral("Start Sector"),
                      QStringLiteral("End Sector"), QStringLiteral("Sectors"), QStringLiteral("Size"),
                      QStringLiteral("Type"), QStringLiteral("Type info")});
    for (const PartitionEntry *entry : list) {
        lines << columns({QString::number(entry->number), entry->bootable ? QStringLiteral("*") : QStringLiteral(" "),
                          QString::number(entry->startSector), QString::number(entry->endSector),
                          QString::number(entry->sectorCount), PartitionEntry::SectorsToSize(entry->sectorCount, 512),
                          entry->typeName, entry->typeInfo.rightJustified(4, QLatin1Char(' '))});
    }
    lines << QString();
    return lines;
}

QString partitionTable::PrintTableString()
{
    return PrintTable().join(QLatin1Char('\n')) + QLatin1Char('\n');
}
