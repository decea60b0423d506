#include "backup.h"
#include "imagecodec.h"
#include "imageset.h"
#include "partitiontable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {
const QString FORCE_CLONE = QStringLiteral("/tmp/forceClone");   // every backup becomes a clone
const QString NO_SUMS = QStringLiteral("/tmp/.nosums");          // no checksum list
const QString LINUX_PROBE_DIR = QStringLiteral("/mnt/hd");
const QString GPTB = QStringLiteral(".gptb");
constexpr int SCRIPT_TIMEOUT = 60000;
// Less room than this left on the destination after a failed write: it ran out of space.
constexpr quint64 FULL_BELOW_BYTES = 1024 * 1024;
}

Backup::Backup(const QString &type, const QString &image, QObject *parent)
    : SystemUtils(parent)
{
    InitBackup(type, image);
    MakeTmpExecDir();
    title = QStringLiteral("Backing up");
    operationName = QStringLiteral("backup");
    ShowVersion();
    LogDebug(QStringLiteral("Start Backup"), true);
}

Backup::~Backup()
{
    delete table;
}

void Backup::InitBackup(const QString &type, const QString &image)
{
    isCompressed = type == QLatin1String("bim");
    imageName = image;
    initEvironmentVariables();

    drive = qEnvironmentVariable("HDD").trimmed();
    if (drive.isEmpty())
        drive = getDeviceFromFilesystem();
    if (drive.isEmpty())
        ErrorMesg(QStringLiteral("Can't identify device/drive to use"));
    devicePath = QStringLiteral("/dev/") + drive;
    LogDebug(QStringLiteral("drive=%1 devicePath=%2").arg(drive, devicePath), true);

    // The management front end keeps its sets on the share.
    if (guiType == 1)
        pathPrefix = imageName.startsWith(QLatin1String("/mnt/smb")) ? QString() : QStringLiteral("/mnt/smb/");
    else
        pathPrefix = imageName.startsWith('/') ? QString() : QStringLiteral("/");
    imagePath = pathPrefix + imageName;
    listingFile = imagePath + QStringLiteral(".txt");
}

void Backup::showListing(const QString &heading, partitionTable &shown)
{
    const QString list = shown.PrintTableString();
    ShowMessage(heading);
    ShowMessage(list);
    LogDebug(list, false);
}

int Backup::BackupDevice(const QString &device, bool clone)
{
    if (QFile::exists(FORCE_CLONE))
        clone = true;
    if (clone) {
        title = QStringLiteral("Cloning");
        operationName = QStringLiteral("clone");
    }
    cloning = clone;

    const QString task = QStringLiteral("%1 %2").arg(title, device);
    ShowMessage(task, true);
    LogMessage(task, logFile, true);
    UpdateTaskInfo(task);

    // A codec that cannot write is refused before anything of an earlier set is deleted.
    const int codecCheck = isCompressed ? CheckImageCodec() : 0;
    if (codecCheck != 0) {
        ShowMessage(QStringLiteral("Error:  %1").arg(ErrorDescriptions.value(codecCheck)));
        ShowMessage(QStringLiteral("%1 FAILED").arg(task), true);
        UpdateStatusInfo(QStringLiteral("FAILED"));
        LogDebug(QStringLiteral("%1 FAILED").arg(task), true);
        return codecCheck;
    }

    ExecuteCommand(QStringLiteral("umountdrives.sh"), SCRIPT_TIMEOUT);
    devicePath = device.startsWith(QLatin1String("/dev/")) ? device : QStringLiteral("/dev/") + device;
    drive = device;

    // An earlier set of this name goes; the table model then reads the drive and leaves a copy
    // of its table in N.
    QFile::remove(imagePath);
    // The table model reads N.gptb in place of N where it exists: an earlier set's copy (a
    // clone's shrunk table, another drive's) would stand in for this drive's table.
    QFile::remove(imagePath + GPTB);
    QFile::remove(listingFile);
    ExecuteCommand(QStringLiteral("sync"), SCRIPT_TIMEOUT);
    rememberDestination();
    table = new partitionTable(imagePath, devicePath, false);
    if (table->handler == nullptr) {
        const QString failed = QStringLiteral("%1 FAILED").arg(QStringLiteral("There was a problem backing up the partition table"));
        ShowMessage(failed);
        // A table the engine does not read: say why, and leave no set behind (the table copy
        // read from the drive would be all of it).
        if (!table->refusal.isEmpty()) {
            ShowMessage(table->refusal);
            QFile::remove(imagePath);
        }
        UpdateStatusInfo(QStringLiteral("FAILED"));
        LogDebug(failed, true);
        ExecuteCommand(QStringLiteral("mountdrives.sh"), SCRIPT_TIMEOUT);
        return table->refusal.isEmpty() ? 1012 : 1003;
    }

    const QString list = table->PrintTableString();
    ShowMessage(list);
    LogDebug(list, false);
    LogMessage(QString(), logFile, false);
    LogDebug(QString(), false);
    LogMessage(list, listingFile, false);

    const QString task2 = isCompressed ? QStringLiteral("Compressed image ") + operationName
                                       : QStringLiteral("Binary image backup");
    UpdateTaskInfo(task2);
    int result = isCompressed ? CompressedBackup() : BinaryBackup();
    // A stop request ends the run as a stopped one, whatever became of the step it came during:
    // a tool it stopped failed, a step left to finish (a resize) may have succeeded.
    if (result != ABORTED && abortFileExists()) {
        ShowMessage(QStringLiteral("Abort Requested"), true);
        result = ABORTED;
    }
    UpdateTaskInfo(task2);

    ShowMessage(QString());
    ExecuteCommand(QStringLiteral("sync"), SCRIPT_TIMEOUT);
    ShowMessage(QStringLiteral("Mounting drives ..."), true);
    ExecuteCommand(QStringLiteral("mountdrives.sh"), SCRIPT_TIMEOUT);

    // Tools writing into files they opened before the destination went away never notice: a
    // list of what is left elsewhere would make a set that is not there pass for good.
    if (result == 0) {
        const QString gone = destinationGone();
        if (!gone.isEmpty()) {
            ShowMessage(QStringLiteral("Could not write %1: %2").arg(QFileInfo(imagePath).fileName(), gone));
            result = 1015;
        }
    }
    const bool listed = result != 0 || QFile::exists(NO_SUMS) || GenerateMd5Sums(imagePath);
    if (result == 0 && abortFileExists()) {
        QFile::remove(imagePath + QStringLiteral(".sums"));
        ShowMessage(QStringLiteral("Abort Requested"), true);
        result = ABORTED;
    } else if (!listed) {
        // A partial list would fail every later restore of a good set; none lets it restore unchecked.
        QFile::remove(imagePath + QStringLiteral(".sums"));
        const QString why = writeFailureReason();
        ShowMessage(QStringLiteral("Could not write %1: %2")
                        .arg(QFileInfo(imagePath).fileName() + QStringLiteral(".sums"),
                             why.isEmpty() ? QStringLiteral("the checksum list could not be saved") : why));
        result = 1015;
    }

    if (result == 0) {
        ShowMessage(QStringLiteral("%1 succeeded").arg(task), true);
        UpdateTaskInfo(task2);
        UpdateStatusInfo(QStringLiteral("Completed successfully"));
        LogDebug(QStringLiteral("%1 succeeded").arg(task), true);
    } else {
        UpdateTaskInfo(task2);
        ShowMessage(QStringLiteral("Error:  %1").arg(ErrorDescriptions.value(result)));
        ShowMessage(QStringLiteral("%1 FAILED").arg(task), true);
        UpdateStatusInfo(QStringLiteral("FAILED"));
        LogDebug(QStringLiteral("%1 FAILED").arg(task), true);
    }
    return result;
}

// The codec IMAGE_CODEC asks for must be one the engine writes, and its program installed.
// 0 or 1015.
int Backup::CheckImageCodec()
{
    const ImageCodec codec = ImageCodec::Requested();
    QString refused;
    if (!codec.isKnown())
        refused = QStringLiteral("IMAGE_CODEC=%1 names no codec the engine writes (gzip or zstd)").arg(ImageCodec::RequestedWord());
    else if (!codec.isInstalled())
        refused = QStringLiteral("IMAGE_CODEC asks for %1 images, and %2 is not installed").arg(codec.name(), codec.program());
    if (refused.isEmpty()) {
        ShowMessage(QStringLiteral("Partition images are compressed with %1").arg(codec.name()));
        return 0;
    }
    ShowMessage(QStringLiteral("ERROR: ") + refused);
    LogDebug(refused, true);
    return 1015;
}

int Backup::CompressedBackup()
{
    ShowMessage(QStringLiteral("Compressed backup ") + devicePath);
    if (isLinux())
        return CompressedLinuxBackup();
    return CompressedWindowsBackup();
}

// A Linux unit drive keeps the boot loader's configuration and the package folder on its first
// partition. The look is taken with the partition mounted; it is unmounted again so that no
// image is ever taken of a mounted file system (the archive step mounts it itself).
bool Backup::isLinux()
{
    const QString partition = AdjustDeviceName(devicePath, 1);
    if (!MountPartition(partition, LINUX_PROBE_DIR))
        return false;
    const QStringList names = QDir(LINUX_PROBE_DIR).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    UnmountPartition(LINUX_PROBE_DIR);
    // FAT names carry no case: a driver that ignores the lower-case flags shows SYSLINUX.CFG.
    const bool linux = names.contains(QStringLiteral("syslinux.cfg"), Qt::CaseInsensitive)
        && names.contains(QStringLiteral("packages"), Qt::CaseInsensitive);
    LogDebug(QStringLiteral("Backup::isLinux %1: %2").arg(partition, linux ? QStringLiteral("yes") : QStringLiteral("no")), true);
    return linux;
}

int Backup::CompressedLinuxBackup()
{
    ShowMessage(QStringLiteral("Compressed Linux backup ") + devicePath + ' ' + imagePath);
    return binaryHandler.BackupCompressedLinuxImage(imagePath, devicePath);
}

int Backup::BinaryBackup()
{
    return binaryHandler.BackupBinaryImage(imagePath, devicePath, table->handler->diskBytes, 0);
}

int Backup::CompressedWindowsBackup()
{
    ShowMessage(QStringLiteral("Compressed Windows ") + title + ' ' + devicePath);
    // N becomes the raw table area (and N.gptb sgdisk's copy for GPT, G below).
    table->BackupParitionTable(devicePath, imagePath);
    QString tableFile = imagePath;
    if (table->isGpt && !tableFile.endsWith(GPTB))
        tableFile += GPTB;

    if (cloning) {
        const int shrink = table->ResizeNtfsVolume(true);
        if (shrink != 0)
            return shrink;
    }
    const QList<PartitionEntry *> parts = table->entries;
    const bool shrunk = table->volumeShrunk;
    // A stop that came during the shrink is honoured now that it has ended.
    if (abortFileExists())
        return stopClone(shrunk, tableFile);

    // Images of an earlier set under this name would be mistaken for this one's.
    const ImageSet set(imagePath);
    int highest = 4;
    for (const PartitionEntry *entry : parts)
        highest = qMax(highest, entry->number);
    for (int k = 1; k <= highest; ++k) {
        for (const QString &old : set.partitionImageFiles(k))
            QFile::remove(old);
    }

    // A failed partition ends the backup with its code: nothing after it may turn the run into a
    // success with a checksum list.
    int result = 0;
    for (const PartitionEntry *entry : parts) {
        UpdateGauge(0, imageName, QStringLiteral("%1 partition %2").arg(title).arg(entry->number), QString());
        if (entry->isData)
            result = ntfsHandler.BackupNtfsImage(imagePath, devicePath, entry->number, entry->sectorCount * entry->sectorSize);
        else
            result = binaryHandler.BackupCompressedImage(imagePath, devicePath, entry->number, entry->sectorCount);
        if (abortFileExists())
            return stopClone(shrunk, tableFile);
        // An image written after its destination went away is not in the set.
        if (result == 0 && !destinationGone().isEmpty())
            result = 1015;
        if (result != 0) {
            LogDebug(QStringLiteral("Backup: partition %1 failed with %2, stopping").arg(entry->number).arg(result), true);
            reportPartitionFailure(entry->number);
            return result;
        }
    }

    if (shrunk) {
        // The set keeps the shrunk table as its own (N, N.gptb) and the original beside it
        // (N.orig or N.orig.gptb); the drive gets its original table and volume size back.
        QString original = tableFile;
        if (original.endsWith(GPTB))
            original.chop(GPTB.size());
        original += QStringLiteral(".orig");
        if (table->isGpt)
            original += GPTB;
        QFile::remove(original);
        QFile::rename(tableFile, original);
        table->BackupParitionTable(devicePath, tableFile);
        {
            partitionTable adjusted(imagePath, devicePath, false);
            showListing(QStringLiteral("Adjusted Partition table"), adjusted);
        }
        result = growSourceBack(original);
    }
    showListing(QStringLiteral("Current Partition table"), *table);
    return result;
}

int Backup::stopClone(bool shrunk, const QString &originalTable)
{
    ShowMessage(QStringLiteral("Abort Requested"), true);
    // The unit's drive is never left shrunk: the run ends once the volume has its size again.
    if (shrunk)
        growSourceBack(originalTable);
    return ABORTED;
}

int Backup::growSourceBack(const QString &originalTable)
{
    ShowMessage(QStringLiteral("Restoring the original partition table and volume size of ") + devicePath, true);
    table->RestoreParitionTable(devicePath, originalTable);
    const int grown = table->ResizeNtfsVolume(false);
    table->GetTableFromDevice(devicePath, QString());
    // The set may be good, but the unit's own drive is not as it was: that is no success.
    if (grown != 0)
        ShowMessage(QStringLiteral("ERROR: the NTFS volume of %1 could not be grown back to its partition").arg(devicePath));
    return grown;
}

bool Backup::GenerateMd5Sums(const QString &image)
{
    return ImageSet(image).writeChecksumList(*this);
}

void Backup::rememberDestination()
{
    struct stat st;
    const QByteArray dir = QFile::encodeName(QFileInfo(imagePath).absolutePath());
    destinationKnown = ::stat(dir.constData(), &st) == 0;
    destinationDevice = destinationKnown ? quint64(st.st_dev) : 0;
}

QString Backup::destinationGone() const
{
    const QString dir = QFileInfo(imagePath).absolutePath();
    struct stat st;
    if (!destinationKnown || ::stat(QFile::encodeName(dir).constData(), &st) != 0 || quint64(st.st_dev) != destinationDevice)
        return QStringLiteral("%1 is gone (its file system is no longer there)").arg(dir);
    return QString();
}

QString Backup::writeFailureReason() const
{
    const QString gone = destinationGone();
    if (!gone.isEmpty())
        return gone;
    const QString dir = QFileInfo(imagePath).absolutePath();
    struct statvfs vfs;
    if (::statvfs(QFile::encodeName(dir).constData(), &vfs) == 0
        && quint64(vfs.f_bavail) * quint64(vfs.f_frsize) < FULL_BELOW_BYTES)
        return QStringLiteral("no space left on %1").arg(dir);
    return QString();
}

QString Backup::lastMember(int number) const
{
    const ImageSet set(imagePath);
    const QStringList files = number > 0 ? set.partitionImageFiles(number) : set.numberedPieces();
    if (!files.isEmpty())
        return QFileInfo(files.last()).fileName();
    return number > 0 ? set.stem() + QStringLiteral(".p") + QString::number(number) : set.stem();
}

void Backup::reportPartitionFailure(int number)
{
    ShowMessage(QStringLiteral("%1 partition %2 (%3) failed").arg(title).arg(number).arg(AdjustDeviceName(devicePath, number)));
    const QString why = writeFailureReason();
    if (!why.isEmpty())
        ShowMessage(QStringLiteral("Could not write %1: %2").arg(lastMember(number), why));
}
