#include "binaryhandler.h"
#include "blockcopy.h"
#include "imageset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

const QString BinaryHandler::MOUNT_POINT = QStringLiteral("/mnt/hd");
// The archive's pieces are 1 GiB whatever the split size says.
static constexpr quint64 TAR_PIECE_BYTES = 1073741824ULL;

static QString outcome(int code)
{
    return code == 0 ? QStringLiteral("Success") : QStringLiteral("Failed");
}

BinaryHandler::BinaryHandler(QObject *parent)
    : baseBrHandler(parent)
{
    blockCopy = new BlockCopy(this);
    connect(blockCopy, &BlockCopy::StatusReady, this, &BinaryHandler::OnBlitDataReady);
    connect(blockCopy, &BlockCopy::RunFinished, this, &BinaryHandler::OnBlitFinished);
}

int BinaryHandler::runPipeline(const QList<myProcess> &stages)
{
    const QString script = CreateExecutableFile(stages);
    return ExecuteAndWait(script, QStringList(), debugLogFile, QString());
}

// ---------------------------------------------------------------- compressed partition images

int BinaryHandler::BackupCompressedImage(const QString &base, const QString &device, int number, quint64 blocks)
{
    lastGauge = 0;
    const QString partition = AdjustDeviceName(device, number);
    const QString image = base + QStringLiteral(".p") + QString::number(number);
    UpdateTaskInfo(QStringLiteral("Backup %1, partition %2").arg(device).arg(number));
    LogDebug(QStringLiteral("BinaryHandler::BackupCompressedImage '%1' %2  start").arg(image, partition));
    ShowMessage(QStringLiteral("Backup Compressed Binary Image '%1' %2").arg(image, partition), true);

    ExecuteCommand(QStringLiteral("rm -rf ") + CommandQuote(image));
    ExecuteCommand(QStringLiteral("rm -rf ") + CommandQuote(image));
    // Pieces of an earlier, larger image would be read back after this one's.
    for (const QString &old : ImageSet(base).partitionPieces(number))
        QFile::remove(old);

    const myProcess reader{QStringLiteral("xblit"), {ShellQuote(partition), QStringLiteral("-"), QString::number(blocks)}};
    QList<myProcess> stages{reader};
    if (splitsImage(blocks * sectorSize)) {
        stages << CompressStage() << SplitStage(image, splitBytes);
    } else {
        stages << CompressStage({QStringLiteral(">"), ShellQuote(image)});
    }
    const int result = runPipeline(stages) == 0 ? 0 : 1015;

    ShowMessage(QStringLiteral("Backup Compressed Binary Image Finished, %1").arg(outcome(result)));
    LogDebug(QStringLiteral("BinaryHandler::BackupCompressedImage completed %1").arg(result));
    return result;
}

int BinaryHandler::RestoreCompressedBinaryImage(const QString &base, const QString &device, quint64 blocks,
                                                bool split, int number, int imageNumber)
{
    lastGauge = 0;
    const int m = imageNumber == 0 ? number : imageNumber;
    const QString partition = AdjustDeviceName(device, number);
    LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedBinaryImage '") + base + QStringLiteral("' ") + partition
             + QStringLiteral(" start"));
    ShowMessage(QStringLiteral("Restore Compressed Binary Image '%1'.p%2 %3").arg(base, QString::number(m), partition));
    UpdateTaskInfo(QStringLiteral("Restore %1, partition %2").arg(partition).arg(number));

    // The pieces in the order of their numbers (x.999 before x.1000), or the whole image.
    const QStringList files = split ? ImageSet(base).partitionPieces(m) : QStringList{base + QStringLiteral(".p") + QString::number(m)};
    QList<myProcess> stages;
    if (!TargetIsBlockDevice(partition) || !ImageReadStages(files, stages)) {
        ShowMessage(QStringLiteral("Restore Compressed Binary Image Finished, %1").arg(outcome(1016)));
        LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedBinaryImage completed 1016"));
        return 1016;
    }
    stages << myProcess{QStringLiteral("xblit"), {QStringLiteral("-"), ShellQuote(partition), QString::number(blocks)}};
    const int result = runPipeline(stages) == 0 ? 0 : 1016;

    ShowMessage(QStringLiteral("Restore Compressed Binary Image Finished, %1").arg(outcome(result)));
    LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedBinaryImage completed %1").arg(result));
    return result;
}

// ---------------------------------------------------------------- Linux file-system archives

bool BinaryHandler::mountPointInUse() const
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 1 && fields.at(1) == MOUNT_POINT.toUtf8())
            return true;
    }
    return false;
}

// The engine's own working directory would keep the file system busy: step out first.
void BinaryHandler::leaveMountPoint()
{
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    UnmountPartition(MOUNT_POINT);
}

int BinaryHandler::BackupCompressedLinuxImage(const QString &imageBase, const QString &device)
{
    // The archive runs inside the mount point: a relative name must not land there.
    const QString base = QFileInfo(imageBase).absoluteFilePath();
    lastGauge = 0;
    LogDebug(QStringLiteral("BinaryHandler::BackupCompressedLinuxImage '") + base + QStringLiteral("' ") + device
             + QStringLiteral(" start"));
    if (QFile::exists(base))
        QFile::remove(base);
    // Pieces of an earlier, larger archive would be unpacked after this one's end.
    for (const QString &old : ImageSet(base).numberedPieces())
        QFile::remove(old);

    ExecuteCommand(QStringLiteral("sync"));
    const QString partition = AdjustDeviceName(device, 1);
    const QString message = QStringLiteral("Backup Compressed Linux Image '%1' %2").arg(base, partition);
    ShowMessage(message, true);
    LogMessage(message, base, true);

    // A FAT partition mounts through FUSE where the kernel has no FAT driver.
    MountPartition(partition, MOUNT_POINT);
    // Archiving the empty mount point of a failed mount would pass for a good backup.
    if (!mountPointInUse()) {
        ShowMessage(QStringLiteral("ERROR: Could not mount %1 on %2").arg(partition, MOUNT_POINT));
        LogDebug(QStringLiteral("BinaryHandler::BackupCompressedLinuxImage completed 1015"));
        return 1015;
    }
    QDir::setCurrent(MOUNT_POINT);

    // Used space in KiB; tar writes 10 KiB records, so this interval gives about 100 checkpoints.
    const QString du = ExecuteCommand(QStringLiteral("du -s ."));
    const quint64 used = du.split(QRegularExpression(QStringLiteral("[ \t]"))).value(0).trimmed().toULongLong();
    const QList<myProcess> stages{
        {QStringLiteral("tar"), {QStringLiteral("-c"), QStringLiteral("."), QStringLiteral("--checkpoint=%1").arg(used / 1000)}},
        SplitStage(base, TAR_PIECE_BYTES)};
    const int result = runPipeline(stages) == 0 ? 0 : 1015;

    leaveMountPoint();
    ShowMessage(QStringLiteral("Backup Compressed Linux Image Finished, %1").arg(outcome(result)));
    LogDebug(QStringLiteral("BinaryHandler::BackupCompressedLinuxImage completed %1").arg(result));
    return result;
}

int BinaryHandler::RestoreCompressedLinuxImage(const QString &imageBase, const QString &device)
{
    const QString base = QFileInfo(imageBase).absoluteFilePath();
    lastGauge = 0;
    LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedLinuxImage ") + device + QStringLiteral(" '") + base
             + QStringLiteral("' start"));
    const QString partition = AdjustDeviceName(device, 1);
    MountPartition(partition, MOUNT_POINT);
    ExecuteCommand(QStringLiteral("sync"));
    // Unpacking into the bare mount point would leave the drive empty and report success.
    if (!mountPointInUse()) {
        ShowMessage(QStringLiteral("ERROR: Could not mount %1 on %2").arg(partition, MOUNT_POINT));
        LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedLinuxImage complete, 1016"));
        return 1016;
    }
    QDir::setCurrent(MOUNT_POINT);

    const QStringList pieces = ImageSet(base).numberedPieces();
    if (pieces.isEmpty()) {
        ShowMessage(QStringLiteral("ERROR: Could not find source files ") + base);
        leaveMountPoint();
        return 1004;
    }
    quint64 total = 0;
    for (const QString &piece : pieces)
        total += quint64(QFileInfo(piece).size());

    const QList<myProcess> stages{
        PiecesStage(pieces),
        // The Linux layout's partition is FAT: it keeps no owners, and a FUSE driver refuses
        // chown outright, which would fail a complete unpack.
        {QStringLiteral("tar"), {QStringLiteral("-x"), QStringLiteral("--no-same-owner"),
                                 QStringLiteral("--checkpoint=%1").arg(total / 1000000),
                                 QStringLiteral("-C"), MOUNT_POINT}}};
    int result = runPipeline(stages);
    leaveMountPoint();

    if (result == 0) {
        const QString syslinux = ExecuteCommandDebug(QStringLiteral("install_syslinux.sh %1 %2 %3")
                                                         .arg(CommandQuote(partition), MOUNT_POINT, CommandQuote(device)));
        LogDebug(QStringLiteral("Install Syslinux: \n") + syslinux);
        const QString active = ExecuteCommandDebug(QStringLiteral("sgdisk -A 1:set:2 ") + CommandQuote(device));
        LogDebug(QStringLiteral("Mark Drive Active: \n") + active);
    } else {
        result = 1016;
    }
    ShowMessage(QStringLiteral("Restore Compressed Linux Image Finished, %1").arg(outcome(result)));
    LogDebug(QStringLiteral("BinaryHandler::RestoreCompressedLinuxImage complete, %1").arg(result));
    return result;
}

// ---------------------------------------------------------------- raw copies

int BinaryHandler::BackupBinaryImage(const QString &base, const QString &device, quint64 bytes, int number)
{
    QString source = device;
    QString destination = base;
    // Pieces of an earlier, larger image would be written onto the drive after this one's.
    QStringList stale = ImageSet(base).numberedPieces();
    if (number > 0) {
        source = AdjustDeviceName(device, number);
        destination = base + QStringLiteral(".p") + QString::number(number);
        stale = ImageSet(base).partitionPieces(number);
    }
    for (const QString &old : stale)
        QFile::remove(old);
    // The raw pieces follow the split size too, so that a set fits the stick it is written to.
    blockCopy->setPieceSize(splitBytes);
    LogDebug(QStringLiteral("BinaryHandler::BackupBinaryImage '%1' %2 start").arg(destination, source));
    ShowMessage(QStringLiteral("Backup Binary Image '%1' %2").arg(destination, source), true);
    blockCopy->SetParams(source, destination, bytes);
    StartBlockCopy();
    ShowMessage(QStringLiteral("Backup Binary Image Finished"));
    const int result = blockCopy->getLastRunStatus();
    LogDebug(QStringLiteral("BinaryHandler::BackupBinaryImage completed %1").arg(result));
    return result;
}

int BinaryHandler::RestoreBinaryImage(const QStringList &files, const QString &device, quint64 bytes,
                                      const QString &name)
{
    lastGauge = 0;
    LogDebug(QStringLiteral("BinaryHandler::RestoreBinaryImage %1 %2  start").arg(name, device));
    ShowMessage(QStringLiteral("Restore Binary Image %1 %2").arg(name, device), true);
    blockCopy->SetParams(files, device, bytes, name);
    StartBlockCopy();
    ShowMessage(QStringLiteral("Restore Binary Image Finished"));
    const int result = blockCopy->getLastRunStatus();
    LogDebug(QStringLiteral("BinaryHandler::RestoreBinaryImage completed %1").arg(result));
    return result;
}

int BinaryHandler::RestoreBinaryImage(const QString &file, const QString &device, quint64 bytes, bool flag)
{
    Q_UNUSED(flag)
    lastGauge = 0;
    LogDebug(QStringLiteral("BinaryHandler::RestoreBinaryImage '%1' %2  start").arg(file, device));
    ShowMessage(QStringLiteral("Restore Binary Image %1 %2").arg(file, device), true);
    blockCopy->SetParams(file, device, bytes);
    StartBlockCopy();
    ShowMessage(QStringLiteral("Restore Binary Image Finished"));
    const int result = blockCopy->getLastRunStatus();
    LogDebug(QStringLiteral("BinaryHandler::RestoreBinaryImage completed %1").arg(result));
    return result;
}

void BinaryHandler::StartBlockCopy()
{
    blockCopyDone = false;
    // The copy runs here, on our thread; its finished signal has arrived when run() returns.
    // A run that could not even start (no destination) sends none: there is nothing to wait for.
    blockCopy->run();
    if (!blockCopyDone)
        LogDebug(QStringLiteral("BinaryHandler::StartBlockCopy the block copy did not run"));
}

void BinaryHandler::OnBlitDataReady(QString line)
{
    bool ok = false;
    const uint percent = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toUInt(&ok, 10);
    // Every tenth percent, and every failure, reaches the console.
    if ((ok && percent % 10 == 0) || line.startsWith(QLatin1String("ERROR")))
        ShowMessage(line, false, QString());
    LogDebug(line);
    UpdateStatusInfo(line);
}

void BinaryHandler::OnBlitFinished()
{
    blockCopyDone = true;
}
