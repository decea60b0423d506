#include "restore.h"
#include "imagecodec.h"
#include "imageset.h"
#include "partitiontable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString NO_SUMS = QStringLiteral("/tmp/.nosums");
const QString SUMMARY_LOG = QStringLiteral("/tmp/restore-info.log");
const QString TABLE_CHECK_FILE = QStringLiteral("/tmp/test-table.bim");
constexpr int SCRIPT_TIMEOUT = 60000;
// The GPT's backup copy at the drive's end: 32 sectors of entries and the backup header. The
// drive's last usable sector lies just before it, so a set restored onto the drive it came from
// (last partition ending at that sector) needs exactly this much after its partitions.
constexpr quint64 GPT_BACKUP_SECTORS = 33;

bool isNtfsType(const QString &typeName)
{
    return typeName == QLatin1String("MS-Data") || typeName.contains(QLatin1String("HPFS-NTFS"));
}
}

Restore::Restore(const QString &type, const QString &image, const QString &partTable, QObject *parent)
    : SystemUtils(parent)
{
    InitRestore(type, image, partTable);
    MakeTmpExecDir();
    setTempLog(SUMMARY_LOG, false);
    title = QStringLiteral("Restoring");
    operationName = QStringLiteral("restore");
}

Restore::~Restore()
{
    if (targetTable != imageTable)
        delete targetTable;
    delete imageTable;
}

void Restore::InitRestore(const QString &type, const QString &image, const QString &partTable)
{
    Q_UNUSED(partTable)
    isCompressed = type == QLatin1String("bim");
    imageName = image;
    initEvironmentVariables();
    LogDebug(QStringLiteral("GUI_TYPE=%1").arg(guiType), true);

    const QString hdd = qEnvironmentVariable("HDD").trimmed();
    if (!hdd.isEmpty()) {
        LogDebug(QStringLiteral("Environment drive=") + hdd, true);
    } else {
        const QString found = getDeviceFromFilesystem();
        LogDebug(QStringLiteral("drive=") + found, true);
        if (found.isEmpty())
            LogDebug(QStringLiteral("Can't identify device/drive to use"), true);
    }

    // The management front end keeps its sets on the share.
    if (guiType == 1 && !imageName.startsWith(QLatin1String("/mnt/smb")))
        pathPrefix = QStringLiteral("/mnt/smb");
    // A name that begins with "/" is joined without a second one.
    imagePath = pathPrefix + (imageName.startsWith('/') ? QString() : QStringLiteral("/")) + imageName;
}

void Restore::showListing(partitionTable *t)
{
    const QString list = t->PrintTableString();
    ShowMessage(QStringLiteral("Current Partition table"));
    ShowMessage(list);
    LogDebug(list, false);
}

int Restore::RestoreImage(const QString &device, bool deploy)
{
    ShowVersion();
    if (deploy) {
        title = QStringLiteral("Deploying");
        operationName = QStringLiteral("deploy");
    }
    deploying = deploy;
    drive = device;
    devicePath = (device.isEmpty() || device.startsWith('/')) ? device : QStringLiteral("/dev/") + device;
    return RunRestore();
}

// The set's checksum list, unless switched off. A binary set chosen through its first piece
// (x.bin.000) is checked against the list of the set x.bin.
int Restore::VerifySet()
{
    if (QFile::exists(NO_SUMS))
        return 0;
    const QString setPath = isCompressed ? imagePath : ImageSet::binaryStem(imagePath);
    return ImageSet(setPath).verifyChecksumList(*this);
}

int Restore::RunRestore()
{
    const QString task = QStringLiteral("%1 %2 to %3").arg(title, QFileInfo(imagePath).fileName(), devicePath);
    int result = 0;
    if (devicePath.isEmpty()) {
        ShowMessage(QStringLiteral("Unable to detect drive"));
        result = 1005;
    } else {
        ShowMessage(task);
        LogDebug(task, true);
        result = VerifySet();
        if (result == 0)
            result = CheckTargetDrive();
    }
    // Nothing has been written yet: a stop request now leaves the drive exactly as it was.
    if (result == 0 && stopRequested())
        result = ABORTED;
    if (result == 0) {
        ShowMessage(QStringLiteral("Unmounting drives ..."));
        ExecuteCommand(QStringLiteral("umountdrives.sh"), SCRIPT_TIMEOUT);
        ExecuteCommand(QStringLiteral("umountdrives.sh"), SCRIPT_TIMEOUT);

        const QString task2 = isCompressed ? QStringLiteral("Compressed image ") + operationName
                                           : QStringLiteral("Binary image restore");
        UpdateTaskInfo(task2);
        result = isCompressed ? CompressedRestore() : BinaryRestore();
        UpdateTaskInfo(task2);
    }
    // A stop request ends the run as a stopped one, whatever became of the step it came during:
    // a tool it stopped failed, a step left to finish (a table write, a growth) may have succeeded.
    if (stopRequested())
        result = ABORTED;

    if (result == 0) {
        ShowMessage(QString());
        ShowMessage(QStringLiteral("Mounting drives ..."));
        ExecuteCommand(QStringLiteral("mountdrives.sh"), SCRIPT_TIMEOUT);
        // The drive as it now stands (parted needs the device path to print it).
        ShowMessage(ExecuteCommand(QStringLiteral("parted %1 -s print").arg(CommandQuote(devicePath)), SCRIPT_TIMEOUT));
        ShowMessage(QString());
        ShowMessage(task + QStringLiteral(" succeeded"));
        UpdateStatusInfo(QStringLiteral("Completed successfully"));
        LogMessage(QStringLiteral("Completed successfully"), tempLogFile, false);
        return 0;
    }
    // Every failure, the earliest included, replaces the last run's status: the manager dialog
    // must never show an old success for this run.
    ShowMessage(QStringLiteral("Error:  %1").arg(ErrorDescriptions.value(result)));
    ShowMessage(title + ' ' + drive + QStringLiteral(" FAILED"), true);
    UpdateStatusInfo(QStringLiteral("FAILED"));
    LogMessage(QStringLiteral("FAILED"), tempLogFile, false);
    return result;
}

// The operator's stop request, said once.
bool Restore::stopRequested()
{
    if (!abortFileExists())
        return false;
    if (!stopShown)
        ShowMessage(QStringLiteral("Abort Requested"), true);
    stopShown = true;
    return true;
}

int Restore::CompressedRestore()
{
    if (!QFile::exists(imagePath)) {
        ShowMessage(QStringLiteral("Image file %1 not found").arg(QFileInfo(imagePath).fileName()));
        LogDebug(QStringLiteral("could not find %1 %2").arg(imagePath, imageName), true);
        return 1004;
    }
    imageTable = new partitionTable(imagePath, devicePath, false);
    if (QFileInfo(imagePath).size() < 512)
        return stopRequested() ? ABORTED : CompressedLinuxRestore();

    // A main member that holds no table leaves nothing to size or write: stop before the
    // drive is touched.
    if (imageTable->handler == nullptr || imageTable->entries.isEmpty()) {
        ShowMessage(QStringLiteral("THERE IS A PROBLEM WITH THE PARTITION TABLE"));
        LogDebug(QStringLiteral("No partition table could be read from ") + imagePath, true);
        return 1003;
    }
    int result = CheckDriveSize();
    if (result == 0 && stopRequested())
        result = ABORTED;   // the table is not written: the drive stays as it was
    if (result == 0)
        result = CheckImageFiles();
    if (result == 0)
        result = WriteTable();
    if (result == 0 && stopRequested())
        result = ABORTED;
    if (result != 0)
        return result;

    for (const PartitionEntry *e : qAsConst(targetTable->entries)) {
        if (isNtfsType(e->typeName))
            return CompressedWindowsRestore();
    }

    // A set without NTFS: every partition through the compressed image handler; a failed
    // partition ends the restore with its code.
    const ImageSet set(imagePath);
    for (const PartitionEntry *e : qAsConst(targetTable->entries)) {
        result = binaryHandler.RestoreCompressedBinaryImage(imagePath, devicePath, e->sectorCount,
                                                            !set.partitionPieces(e->originalNumber).isEmpty(),
                                                            e->number, e->originalNumber);
        if (result != 0) {
            reportPartitionFailure(e->number);
            return result;
        }
        if (stopRequested())
            return ABORTED;
    }
    if (imageTable->BackupParitionTable(devicePath, TABLE_CHECK_FILE).isEmpty()) {
        ShowMessage(QStringLiteral("THERE IS A PROBLEM WITH THE PARTITION TABLE"));
        return 1003;
    }
    return 0;
}

// A drive the engine does not work on (sectors other than 512 bytes, a disk label other than dos
// or gpt) is refused before anything is written to it. 0 or 1003.
int Restore::CheckTargetDrive()
{
    const QString refused = partitionTable::DriveRefusal(*this, devicePath, ExecuteCommand(QStringLiteral("sfdisk -l ") + devicePath));
    if (refused.isEmpty())
        return 0;
    ShowMessage(refused);
    LogDebug(refused, true);
    return 1003;
}

// The packed partitions (plus, for GPT, the backup table at the drive's end) against the
// drive's sectors. 0 or 1001.
int Restore::CheckDriveSize()
{
    const quint64 needed = imageTable->handler->allocatedEnd + (imageTable->isGpt ? GPT_BACKUP_SECTORS : 0);
    const quint64 available = tableHandlerBase::GetDiskSectorsFromFdisk(devicePath);
    LogDebug(QStringLiteral("Restore size check: needed %1, available %2 sectors").arg(needed).arg(available), true);
    if (needed <= available)
        return 0;
    const QString message = QStringLiteral("Drive is too small for this image, Aborting");
    ShowMessage(message);
    LogDebug(message, true);
    LogDebug(QStringLiteral("Source size = %1 sectors").arg(needed), true);
    LogDebug(QStringLiteral("Dest   size = %1 sectors").arg(available), true);
    LogDebug(QStringLiteral("Destination drive is too small by %1 sectors").arg(needed - available), true);
    return 1001;
}

// Every partition's image (whole, or its first piece) must be there and begin as a gzip or a
// zstd stream this environment can read: a restore that met a bad member only when it got there
// would leave the drive with a new table and some partitions missing. 0, 1004 or 1016.
int Restore::CheckImageFiles()
{
    const ImageSet set(imagePath);
    for (const PartitionEntry *e : qAsConst(imageTable->entries)) {
        QStringList files = set.partitionPieces(e->originalNumber);
        if (files.isEmpty())
            files << set.path() + QStringLiteral(".p") + QString::number(e->originalNumber);
        const QString why = ImageCodec::Unreadable(files);
        if (why.isEmpty()) {
            LogDebug(QStringLiteral("Partition %1: %2 image %3").arg(e->originalNumber).arg(ImageCodec::OfFile(files.first()).name(),
                                                                                          QFileInfo(files.first()).fileName()), true);
            continue;
        }
        ShowMessage(QStringLiteral("ERROR: ") + why);
        ShowMessage(QStringLiteral("Nothing was written to %1").arg(devicePath));
        LogDebug(why, true);
        return QFileInfo(files.first()).isFile() ? 1016 : 1004;
    }
    return 0;
}

// The set's table onto the drive, as it was taken or, for a deploy whose data partition is not
// last, reordered with the data partition last and widened to the drive's end. 0 or 1002.
int Restore::WriteTable()
{
    bool written = true;
    if (!deploying || imageTable->isDataPartitionLast()) {
        targetTable = imageTable;
        written = imageTable->RestoreParitionTable(devicePath, imagePath);
    } else {
        LogDebug(QStringLiteral("Data partition is not last, reordering partition table"), true);
        UpdateGauge(0, QStringLiteral("Adjusting partition table"), QStringLiteral("%1 to drive").arg(title), QString());
        targetTable = new partitionTable(imagePath, devicePath, true);
        if (targetTable->isGpt)
            written = targetTable->RestoreParitionTable(devicePath, QString());
        if (written)
            written = imageTable->ReloadTable(drive);
    }
    if (written)
        return 0;
    LogDebug(QStringLiteral("Restoring partition table failed"), true);
    ShowMessage(QStringLiteral("Could not restore partition table"));
    return 1002;
}

int Restore::CompressedWindowsRestore()
{
    LogDebug(QStringLiteral("Restore::CompressedWindowsRestore -- start reorder=%1")
                 .arg(deploying ? QStringLiteral("true") : QStringLiteral("false")), true);
    const ImageSet set(imagePath);
    for (const PartitionEntry *e : qAsConst(targetTable->entries)) {
        // k: the partition on the drive; p: its number in the set.
        const int p = e->originalNumber;
        const int k = e->number;
        if (!deploying && k != p)
            LogDebug(QStringLiteral("Restore::CompressedWindowsRestore reorder=false and original and current part numers differ"), true);
        const bool split = !set.partitionPieces(p).isEmpty();
        const QString partition = CommandQuote(AdjustDeviceName(devicePath, k));
        ExecuteCommand(QStringLiteral("umount ") + partition, SCRIPT_TIMEOUT);
        ExecuteCommand(QStringLiteral("umount ") + partition, SCRIPT_TIMEOUT);

        ShowMessage(QStringLiteral("%1 partition %2 from %3").arg(title).arg(k).arg(p));
        const QString step = QStringLiteral("%1 partition %2").arg(title).arg(k);
        UpdateGauge(0, set.stem(), step, QString());
        UpdateTaskInfo(step);
        UpdateStatusInfo(step);

        const int result = isNtfsType(e->typeName)
            ? ntfsHandler.RestoreNtfsImage(imagePath, devicePath, split, k, p)
            : binaryHandler.RestoreCompressedBinaryImage(imagePath, devicePath, e->sectorCount, split, k, p);
        if (result != 0) {
            reportPartitionFailure(k);
            return result;
        }
        if (stopRequested())
            return ABORTED;
    }

    if (deploying) {
        // The partition the table step grew (the data partition that now lies last); a volume
        // that could not be grown is a deploy that did not happen.
        const PartitionEntry *data = imageTable->growthPartition();
        if (data != nullptr) {
            const int expanded = ntfsHandler.ExpandNtfsImage(devicePath, data->number, targetTable->isGpt, true);
            if (expanded != 0)
                return expanded;
        } else {
            LogDebug(QStringLiteral("Restore: no data partition to expand"), true);
        }
    }
    // After a deploy the target table holds the set's sizes, not the grown ones: show the drive
    // as it now stands. A restore wrote the target table as it is.
    if (deploying) {
        partitionTable current(devicePath, devicePath, false);
        showListing(current.handler != nullptr ? &current : targetTable);
    } else {
        showListing(targetTable);
    }
    return 0;
}

// The operator learns which partition of the drive is left incomplete.
void Restore::reportPartitionFailure(int number)
{
    ShowMessage(QStringLiteral("%1 partition %2 (%3) failed").arg(title).arg(number).arg(AdjustDeviceName(devicePath, number)));
}

int Restore::CompressedLinuxRestore()
{
    imageTable->CreateLinuxPartitionTable(devicePath);
    return binaryHandler.RestoreCompressedLinuxImage(imagePath, devicePath);
}

int Restore::BinaryRestore()
{
    // x.bin.000 chosen means the set x.bin: the one file x.bin, or the pieces x.bin.NNN.
    const ImageSet set(ImageSet::binaryStem(imagePath));
    const QString whole = set.path();
    const QStringList pieces = set.numberedPieces();
    if (pieces.isEmpty()) {
        if (!QFileInfo(whole).isFile()) {
            ShowMessage(QStringLiteral("Could not find ") + set.stem());
            return 1004;
        }
        return binaryHandler.RestoreBinaryImage(whole, devicePath, quint64(QFileInfo(whole).size()), false);
    }
    if (pieces.size() == 1 && !QFileInfo::exists(whole))
        return binaryHandler.RestoreBinaryImage(pieces.first(), devicePath, quint64(QFileInfo(pieces.first()).size()), false);
    quint64 total = 0;
    for (const QString &piece : pieces)
        total += quint64(QFileInfo(piece).size());
    if (total == 0)
        return 0;
    return binaryHandler.RestoreBinaryImage(pieces, devicePath, total, set.stem());
}
