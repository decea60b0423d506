#include "gpthandler.h"

#include <QFile>
#include <QFileInfo>

const QString GptHandler::GPTB = QStringLiteral(".gptb");

GptHandler::GptHandler(bool reorder, QObject *parent)
    : tableHandlerBase(reorder, parent)
{
    InitializeGuids();
}

void GptHandler::InitializeGuids()
{
    typeNames = PartitionEntry::partitionTypeGuids;
}

QString GptHandler::GuidUtoString(const quint8 guid[16])
{
    return QString::fromStdString(GptLayout::GuidToString(guid));
}

// Runs a command line, with the command and its merged output in the debug log.
QString GptHandler::runLogged(const QString &command)
{
    LogDebug(command);
    const QString out = ExecuteCommandDebug(command);
    LogDebug(out, false);
    return out;
}

bool GptHandler::ProcessGpt(const QString &path)
{
    QString file = path;
    if (!file.endsWith(GPTB) && QFile::exists(file + GPTB))
        file += GPTB;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    in.close();
    return ProcessGpt(bytes, file);
}

bool GptHandler::ProcessGpt(const QByteArray &bytes, const QString &path)
{
    LogDebug(QStringLiteral("Gpt::ProcessGpt: Start"));
    modifiedEntries.clear();
    entries.clear();
    dataNumber = 0;
    otherEntries.clear();
    dataEntries.clear();
    readError.clear();
    readFile = path;

    const GptLayout::Table table
        = GptLayout::ReadTable(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    if (!table.ok) {
        // A header that does not add up is refused: guessed entries would be imaged or written.
        readError = QString::fromStdString(table.error);
        LogDebug(QStringLiteral("Gpt::ProcessGpt: %1: %2").arg(path, readError));
        dataIsLast = false;
        return false;
    }
    const GptLayout::Header &header = table.header;
    lastSector = header.lastUsableLba;
    diskSectors = header.diskSectors;
    diskBytes = diskSectors * sectorSize;
    allocatedEnd = header.firstUsableLba;

    // Each partition keeps its place in the entry array as its number, as the kernel numbers it:
    // the entries a deleted partition left empty are gaps, not the end of the table.
    int number = 0;
    bool lastIsData = table.entries.empty();   // which partition lies last on the drive
    quint64 lastStart = 0;
    for (const GptLayout::Entry &entry : table.entries) {
        number = int(entry.index);
        const QString typeName = typeNames.value(GuidUtoString(entry.typeGuid), QStringLiteral("Unknown"));
        if (entry.startingLba >= lastStart) {
            lastStart = entry.startingLba;
            lastIsData = typeName == QLatin1String("MS-Data");
        }
        if (typeName == QLatin1String("MS-Data")) {
            if (dataNumber > 0)
                LogDebug(QStringLiteral("Data parition already exists %1 new parition %2").arg(dataNumber).arg(number));
            dataNumber = number;
            dataEntries.insert(number, entry);
        } else {
            otherEntries.insert(number, entry);
        }
        entries.append(CreatePartitionEntry(number, entry, typeName, 0));

        const quint64 sectors = entry.endingLba - entry.startingLba + 1;
        if (allocatedEnd < entry.startingLba && allocatedEnd < 2048)
            allocatedEnd = entry.startingLba;
        allocatedEnd += sectors;
        maxEndSector = qMax<quint64>(maxEndSector, entry.endingLba);
    }

    if (diskSectors < maxEndSector) {
        LogDebug(QStringLiteral("Disk size in table header does not match partition information"));
        diskSectors = maxEndSector + 34;
        diskBytes = qMax(diskBytes, diskSectors * sectorSize);
    }

    // Last on the drive, not last in the entry array: a data partition numbered after the
    // recovery partition but lying before it cannot grow, and must be moved.
    dataIsLast = lastIsData;
    if (!dataIsLast && reorder)
        ReorderTable();
    LogDebug(QStringLiteral("Gpt::ProcessGpt: complete"));
    return dataIsLast;
}

PartitionEntry *GptHandler::CreatePartitionEntry(int number, const GptPartitionEntry &entry,
                                                 const QString &typeName, int originalNumber)
{
    PartitionEntry *record = new PartitionEntry(
        number, entry.startingLba, entry.endingLba, typeName, GuidUtoString(entry.typeGuid),
        GuidUtoString(entry.uniqueGuid), entry.attributes,
        QString::fromUtf16(entry.name.data(), int(entry.name.size())));
    if (originalNumber > 0)
        record->originalNumber = originalNumber;
    adopt(record);
    return record;
}

PartitionEntry *GptHandler::getDataParition()
{
    if (dataNumber <= 0 || dataEntries.isEmpty())
        return nullptr;
    const int first = dataEntries.firstKey();
    for (PartitionEntry *entry : qAsConst(entries)) {
        if (entry->number == first)
            return entry;
    }
    return nullptr;
}

bool GptHandler::ReorderTable()
{
    originalEntries = entries;
    entries.clear();
    quint64 previousEnd = 34;
    int number = 1;
    for (auto it = otherEntries.begin(); it != otherEntries.end(); ++it)
        previousEnd = AddModifiedEntry(it.value(), previousEnd, number++, it.key());
    for (auto it = dataEntries.begin(); it != dataEntries.end(); ++it)
        previousEnd = AddModifiedEntry(it.value(), previousEnd, number++, it.key());
    reordered = true;
    return true;
}

quint64 GptHandler::AddModifiedEntry(GptPartitionEntry &entry, quint64 previousEnd, int number, int originalNumber)
{
    const quint64 end = CheckAndModifySectors(entry, previousEnd);
    modifiedEntries.append(entry);
    // No "Unknown" here: a re-created record of an unlisted type has an empty type name.
    const QString typeName = typeNames.value(GuidUtoString(entry.typeGuid));
    entries.append(CreatePartitionEntry(number, entry, typeName, originalNumber));
    return end;
}

quint64 GptHandler::CheckAndModifySectors(GptPartitionEntry &entry, quint64 previousEnd)
{
    const quint64 length = entry.endingLba - entry.startingLba;
    if (entry.startingLba > previousEnd + 2048) {
        LogDebug(QStringLiteral("Adjust sectors down %1 %2").arg(previousEnd).arg(entry.startingLba));
        ModifySectors(entry, previousEnd, length);
    } else if (entry.startingLba >= previousEnd) {
        // already in place
    } else {
        LogDebug(QStringLiteral("Adjust sectors up"));
        ModifySectors(entry, previousEnd, length);
    }
    return entry.endingLba;
}

void GptHandler::ModifySectors(GptPartitionEntry &entry, quint64 previousEnd, quint64 length)
{
    entry.startingLba = GptLayout::MovedStart(previousEnd);
    entry.endingLba = entry.startingLba + length;
}

QString GptHandler::BackupParitionTable(const QString &device, const QString &file)
{
    LogDebug(QStringLiteral("Gpt::BackupParitionTable: Start"));
    QString raw = file;
    QString gptb = file + GPTB;
    if (file.endsWith(GPTB)) {
        raw = file.left(file.size() - GPTB.size());
        gptb = file;
    }
    runLogged(QStringLiteral("dd of=%1 if=%2 bs=512 count=34").arg(CommandQuote(raw), device));
    const QString out = runLogged(QStringLiteral("sgdisk -b %1 %2").arg(CommandQuote(gptb), device));
    LogDebug(QStringLiteral("Gpt::BackupParitionTable: Complete"));
    return out.contains(QLatin1String("completed successfully")) ? raw : QString();
}

bool GptHandler::RestoreParitionTable(const QString &device, const QString &file)
{
    if (file.isEmpty())
        return RestoreTable(device);
    return RestoreTableFromFile(device, file);
}

bool GptHandler::RestoreTableFromFile(const QString &device, const QString &file)
{
    QString path = file;
    if (!path.endsWith(QLatin1String("gptb")) && QFile::exists(path + GPTB))
        path += GPTB;
    // The set's table replaces whatever the drive holds, in one sgdisk run: -g lets sgdisk write over
    // a DOS table, which a separate conversion would first have to turn into a GPT of its own (and
    // cannot, when a DOS entry lies past the drive's end, as on a drive copied from a bigger one);
    // -l loads the backup. Every sgdisk write also ends with a pause of a second before it asks the
    // kernel to re-read the table: one run pays it once.
    // sgdisk reports a backup file it cannot load ("Error loading backup file!") with a status of
    // its own and writes nothing: that is a table not restored, whatever else it printed.
    int status = -1;
    const QString text = ExecuteShellDebug(QStringLiteral("sgdisk"), {QStringLiteral("-g"), QStringLiteral("-l"), path, device},
                                           60000, &status).join('\n');
    LogDebug(text);
    if (status != 0 || text.contains(QLatin1String("Aborting write ")) || text.contains(QLatin1String("Error loading backup file"))) {
        LogMessage(QStringLiteral("sgdisk could not load the table %1 onto %2 (status %3)").arg(path, device, QString::number(status)), logFile);
        return false;
    }
    return true;
}

bool GptHandler::RestoreTable(const QString &device)
{
    LogDebug(QStringLiteral("Gpt::RestoreTable: Start"));
    if (!device.startsWith(QLatin1String("/dev/")) || device.size() <= 5 || IsPartitionPath(device)) {
        LogDebug(QStringLiteral("Gpt::RestoreTable FAIL: Incorrect Device ") + device);
        LogMessage(QStringLiteral("Incorrect Device ") + device, logFile);
        return false;
    }
    const QString zap = ExecuteCommandDebug(QStringLiteral("sgdisk -Z ") + device);
    if (zap.toLower().contains(QLatin1String("error"))) {
        LogDebug(QStringLiteral("Gpt::RestoreTable: FAILURE: sgdisk encountered an error ") + device);
        LogMessage(QStringLiteral("sgdisk encountered an error ") + device, logFile);
        return false;
    }
    ExecuteCommand(QStringLiteral("sgdisk -ZZ ") + device, 60000);

    bool created = true;
    for (const PartitionEntry *entry : qAsConst(entries)) {
        const QString n = QStringLiteral("0");
        QStringList args = {QStringLiteral("-n %1:0:+%2").arg(n).arg(entry->sectorCount),
                            QStringLiteral("-t %1:%2").arg(n, entry->typeInfo),
                            // the partition's own GUID: sgdisk's -u (its -U would set the disk's GUID)
                            QStringLiteral("-u %1:%2").arg(n, entry->uniqueGuid),
                            QStringLiteral("-c %1:%2").arg(n, entry->name)};
        for (int bit : {63, 62, 0, 1, 2}) {
            if (entry->attributes & (quint64(1) << bit))
                args << QStringLiteral("-A %1:set:%2").arg(n).arg(bit);
        }
        args << device;
        LogDebug(QStringLiteral("sgdisk") + ' ' + args.join(' '));
        const QStringList out = ExecuteShell(QStringLiteral("sgdisk"), args, 60000);
        LogDebug(out.join('\n'));
        // A partition sgdisk could not create (it no longer fits, for one) is a table that was
        // not restored: the caller must not go on as if it had been.
        if (!out.join('\n').contains(QLatin1String("completed successfully"))) {
            LogDebug(QStringLiteral("Gpt::RestoreTable: FAILURE: partition %1 (%2 sectors) was not created on %3")
                         .arg(entry->number).arg(entry->sectorCount).arg(device));
            LogMessage(QStringLiteral("Could not create partition %1 on %2").arg(entry->number).arg(device), logFile);
            created = false;
        }
    }
    LogDebug(QStringLiteral("Gpt::RestoreTable: Complete"));
    return created;
}

bool GptHandler::CreateLinuxPartitionTable(const QString &device)
{
    LogDebug(QStringLiteral("Gpt::CreateLinuxPartitionTable ") + device + QStringLiteral("start"));
    // A disk that still held a table needs a second run before sgdisk starts from a fresh GPT;
    // a disk that never gets there (unwritable, missing) must not keep us here for ever.
    bool clean = false;
    for (int attempt = 1; attempt <= ZAP_ATTEMPTS && !clean; ++attempt)
        clean = runLogged(QStringLiteral("sgdisk -Z %1").arg(device)).contains(QLatin1String("Creating new GPT entries in memory."));
    if (!clean) {
        ErrorMesg(QStringLiteral("Could not clear the partition table of %1 after %2 attempts").arg(device).arg(ZAP_ATTEMPTS));
        LogDebug(QStringLiteral("Gpt::CreateLinuxPartitionTable ") + device + QStringLiteral("failed"));
        return false;
    }
    if (diskBytes == 0)
        GetDiskInformationFromFdisk(device);

    const QString first = AdjustDeviceName(device, 1);
    if (diskBytes <= quint64(A10G)) {
        runLogged(QStringLiteral("sgdisk -n 0:0:0 -t 0:EF00 %1").arg(device));
    } else {
        runLogged(QStringLiteral("sgdisk -n 0:0:+%1 -t 0:EF00 %2").arg(19531250).arg(device));
        runLogged(QStringLiteral("sgdisk -n 0:0:0 -t 0:8300 %1").arg(device));
    }
    // The kernel learns of the new partitions only when asked; the file systems need their nodes.
    runLogged(QStringLiteral("partprobe %1").arg(device));
    runLogged(QStringLiteral("part-probe.sh"));
    if (diskBytes > quint64(A10G))
        runLogged(QStringLiteral("mkfs.ext4 %1").arg(AdjustDeviceName(device, 2)));
    runLogged(QStringLiteral("mkdosfs %1").arg(first));
    runLogged(QStringLiteral("install_linux.sh  %1 %2 %3").arg(first, QStringLiteral("/mnt/hd"), device));
    LogDebug(QStringLiteral("Gpt::CreateLinuxPartitionTable ") + device + QStringLiteral("completed"));
    return true;
}
