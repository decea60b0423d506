#include "ntfshandler.h"
#include "fdiskhandler.h"
#include "imageset.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

const QString NtfsHandler::shrinkLog = QStringLiteral("/var/log/shrink_ntfs.log");
const QString NtfsHandler::shrinkLog1 = QStringLiteral("/var/log/shrink_ntfs_1.log");
const QString NtfsHandler::shrinkLog2c = QStringLiteral("/var/log/shrink_ntfs_2.log");
const QString NtfsHandler::expandLog = QStringLiteral("/var/log/expand_ntfs.log");

NtfsHandler::NtfsHandler(QObject *parent)
    : baseBrHandler(parent), shrinkTraceLog(shrinkLog2c)
{
}

void NtfsHandler::LogShrink(const QString &message, bool stamp)
{
    LogMessage(message, shrinkTraceLog, stamp);
}

void NtfsHandler::traceStages(const QList<myProcess> &stages, bool toDebugLog)
{
    const QString file = toDebugLog ? debugLogFile : shrinkTraceLog;
    LogMessage(QStringLiteral("Processes To Run"), file, false);
    for (int i = 0; i < stages.size(); ++i)
        LogMessage(QStringLiteral("%1 -- %2 %3").arg(i).arg(stages.at(i).program, stages.at(i).arguments.join(' ')),
                   file, false);
}

int NtfsHandler::runStages(const QList<myProcess> &stages, const QString &logFile, StopRules::Step step)
{
    return ExecuteAndWait(CreateExecutableFile(stages), QStringList(), logFile, QString(), step);
}

QString NtfsHandler::readLog(const QString &path, bool *opened, qint64 from)
{
    QFile f(path);
    *opened = f.open(QIODevice::ReadOnly);
    if (!*opened)
        return QString();
    if (from > 0)
        f.seek(from);
    QByteArray bytes = f.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

// ---------------------------------------------------------------- backup and restore

int NtfsHandler::BackupNtfsImage(const QString &base, const QString &device, int number, quint64 bytes)
{
    const QString partition = AdjustDeviceName(device, number);
    lastGauge = 0;
    LogDebug(QStringLiteral("NtfsHandler::BackupNtfsImage '%1' %2 start").arg(base, partition));
    ShowMessage(QStringLiteral("Backup NTFS Image() '%1' %2").arg(base, partition), false);
    ExecuteCommand(QStringLiteral("umount ") + CommandQuote(partition));
    ExecuteCommand(QStringLiteral("umount ") + CommandQuote(partition));
    // An earlier image of this partition (whole, or more pieces than this one) would be read
    // back with this one's.
    for (const QString &old : ImageSet(base).partitionImageFiles(number))
        QFile::remove(old);

    const QString image = base + QStringLiteral(".p") + QString::number(number);
    QList<myProcess> stages{{QStringLiteral("ntfsclone"),
                             {QStringLiteral("--force"), QStringLiteral("--force"), QStringLiteral("--save-image"),
                              QStringLiteral("--overwrite"), QStringLiteral("-"), ShellQuote(partition)}}};
    // The megabyte figure is compared with the byte size: every real partition is split, into
    // pieces of the split size.
    if (quint64(splitSizeMb) < bytes) {
        stages << CompressStage() << SplitStage(image, splitBytes);
    } else {
        stages << CompressStage({QStringLiteral(">"), ShellQuote(image)});
    }
    int result = runStages(stages, debugLogFile);
    if (result != 0) {
        FindErrorMessage(debugLogFile);
        result = 1013;
    }
    ShowMessage(QStringLiteral("Backup NTFS Image Finished"));
    LogDebug(QStringLiteral("NtfsHandler::BackupNtfsImage completed %1").arg(result));
    return result;
}

int NtfsHandler::RestoreNtfsImage(const QString &base, const QString &device, bool split, int number, int imageNumber)
{
    lastGauge = 0;
    const int k = imageNumber == 0 ? number : imageNumber;
    const QString partition = AdjustDeviceName(device, number);
    LogDebug(QStringLiteral("NtfsHandler::RestoreNtfsImage %1 %2 start").arg(base, partition));
    ShowMessage(QStringLiteral("Restore NTFS Image %1.p%2 %3").arg(base, QString::number(k), partition));

    // The pieces in the order of their numbers (x.999 before x.1000), or the whole image.
    const QStringList files = split ? ImageSet(base).partitionPieces(k) : QStringList{base + QStringLiteral(".p") + QString::number(k)};
    QList<myProcess> stages;
    if (!TargetIsBlockDevice(partition) || !ImageReadStages(files, stages)) {
        LogDebug(QStringLiteral("NtfsHandler::RestoreNtfsImage completed 1014"));
        ShowMessage(QStringLiteral("Restore NTFS Image Failed"));
        return 1014;
    }
    stages << myProcess{QStringLiteral("ntfsclone"),
                        {QStringLiteral("--force"), QStringLiteral("--restore-image"), QStringLiteral("--overwrite"),
                         ShellQuote(partition), QStringLiteral("-")}};
    const int run = runStages(stages, debugLogFile);
    LogDebug(QStringLiteral("NtfsHandler::RestoreNtfsImage completed %1").arg(run));
    if (run != 0) {
        ShowMessage(QStringLiteral("Restore NTFS Image Failed"));
        FindErrorMessage(debugLogFile);
        return 1014;
    }
    ShowMessage(QStringLiteral("Restore NTFS Image Finished"));
    return 0;
}

// ---------------------------------------------------------------- expansion

int NtfsHandler::ExpandNtfsImage(const QString &device, int number, bool isGpt, bool adjustPartition)
{
    lastGauge = 0;
    const QString partition = AdjustDeviceName(device, number);
    LogDebug(QStringLiteral("NtfsHandler::ExpandNtfsImage %1 start").arg(partition));
    if (adjustPartition) {
        fdiskHandler fdisk(isGpt);
        const bool grown = fdisk.AdjustDataPartition(device, number, 0);
        ExecuteCommand(QStringLiteral("part-probe.sh"), 60000);
        // A partition that could not be grown leaves the volume as it was: not an expansion.
        if (!grown) {
            LogDebug(QStringLiteral("NtfsHandler::ExpandNtfsImage could not grow partition %1 (step %2)")
                         .arg(number).arg(fdisk.adjustStatus), true);
            return 1011;
        }
    }

    const QList<myProcess> stages{{QStringLiteral("ntfsresize"),
                                   {QStringLiteral("--force"), QStringLiteral("--force"), ShellQuote(partition)}}};
    // The log gathers every expansion: only what this run wrote can tell whether it worked.
    const qint64 before = QFileInfo(expandLog).exists() ? QFileInfo(expandLog).size() : 0;
    int result = runStages(stages, expandLog, StopRules::Step::VolumeResize);

    bool opened = false;
    const QString text = readLog(expandLog, &opened, before);
    if (!opened) {
        LogDebug(QStringLiteral("log file %1 not found").arg(expandLog));
    } else if (!text.contains(QLatin1String("Schedule chkdsk"))) {
        FindErrorMessage(expandLog);
        result = 1011;
    } else {
        // The resize leaves the volume flagged for a check.
        ClearDirtyBit(partition);
    }
    LogDebug(QStringLiteral("NtfsHandler::ExpandNtfsImage completed %1").arg(result));
    return result;
}

// ---------------------------------------------------------------- shrink

int NtfsHandler::TestShrinkImage(const QString &partition, quint64 sizeM)
{
    const QList<myProcess> stages{{QStringLiteral("ntfsresize"),
                                   {QStringLiteral("--force"), QStringLiteral("--force"), QStringLiteral("-n"),
                                    QStringLiteral("-s"), QStringLiteral("%1M").arg(sizeM), ShellQuote(partition)}}};
    traceStages(stages, false);
    QFile::remove(shrinkLog);
    runStages(stages, shrinkLog, StopRules::Step::TestResize);
    ExecuteCommand(QStringLiteral("sync"), 60000);

    bool opened = false;
    const QString text = readLog(shrinkLog, &opened);
    if (!opened)
        LogDebug(QStringLiteral("Logfile %1 not found").arg(shrinkLog));
    const QStringList pieces = text.split(QLatin1Char('\n'));
    LogShrink(QStringLiteral("raw had %1 lines").arg(pieces.size()), false);
    for (int i = std::max(0, int(pieces.size()) - 6); i < pieces.size(); ++i)
        LogShrink(QStringLiteral("%1 -- %2").arg(i).arg(pieces.at(i)), false);

    // The tool ends a good test run with a line that says so.
    const bool passed = pieces.last().contains(QLatin1String("successfully"))
        || (pieces.size() >= 2 && pieces.at(pieces.size() - 2).contains(QLatin1String("successfully")));
    if (passed)
        return 0;
    ShowMessage(QStringLiteral("ntfsresize of %1 Failed").arg(partition));
    FindErrorMessage(shrinkLog);
    return -1;
}

NtfsHandler::ShrinkPlan NtfsHandler::PlanShrink(const ResizeInformation &info, quint64 otherSectors)
{
    ShrinkPlan p;
    p.otherAlloc = otherSectors / 1963;
    // A device too small to leave room gives no room (and so a failing test), never a wrap-around.
    const quint64 reserved = std::max<quint64>(p.otherAlloc, 500);
    const quint64 deviceM = info.deviceSize / 1000000;
    p.roomM = deviceM > reserved ? deviceM - reserved : 0;
    p.inUse = info.spaceInUse;
    p.domMax = 15998;
    // Module sizes double: 16, 32, 64 GB ...
    while (p.domMax < p.inUse + p.otherAlloc)
        p.domMax *= 2;
    p.adjust = (p.domMax - p.inUse) / 2;
    p.firstTestSizeM = p.inUse + p.adjust;
    p.cap = p.domMax - 400;
    p.testSizeM = std::min(p.firstTestSizeM, p.cap);
    if (p.testSizeM > p.roomM)
        p.testSizeM = p.roomM > 400 ? p.roomM - 400 : 0;
    return p;
}

quint64 NtfsHandler::PartitionSectors(quint64 sizeM, quint64 clusterSize, quint64 sectorSize)
{
    const quint64 bytes = sizeM * 1000000ULL;
    const quint64 clusters = bytes / clusterSize + 1;
    return ((clusters * clusterSize) / (4 * sectorSize)) * 4 + 4;
}

int NtfsHandler::ShrinkNtfsImage(const QString &device, int number, bool isGpt, quint64 otherSectors)
{
    lastGauge = 0;
    const QString partition = AdjustDeviceName(device, number);
    ExecuteCommand(QStringLiteral("umount ") + CommandQuote(device));
    ExecuteCommand(QStringLiteral("umount ") + CommandQuote(partition));
    ExecuteCommand(QStringLiteral("umount ") + CommandQuote(partition));
    LogDebug(QStringLiteral("NtfsHandler::ShrinkNtfsImage %1 start").arg(partition));
    ShowMessage(QStringLiteral("Start resize NTFS Data Partition"), true);

    int result = 0;
    bool reportFailure = false;
    const QString info = ExecuteCommandDebug(QStringLiteral("ntfsresize -i ") + CommandQuote(partition));
    LogDebug(info);
    if (info.contains(QLatin1String("ERROR: Volume is scheduled for check"))) {
        // Cleared now, so that a later attempt can pass; this attempt still goes by the first report.
        ExecuteCommand(QStringLiteral("ntfsfix -d ") + CommandQuote(partition), 60000);
        LogDebug(ExecuteCommandDebug(QStringLiteral("ntfsresize -i ") + CommandQuote(partition)));
    }

    if (!info.contains(QLatin1String("Please make a test run"))) {
        LogDebug(QStringLiteral("NtfsHandler::ShrinkNtfsImage Initial check for resize failed"));
        ShowMessage(QStringLiteral("Initial check for resize failed"), true);
        ShowMessage(QStringLiteral("We are not able to shrink the image due to problems with the NTFS Volume"));
        if (info.contains(QLatin1String("ERROR: Volume is scheduled for check."))) {
            ShowMessage(QStringLiteral("Drive is scheduled to run chkdsk on next boot"));
            result = 1007;
        } else {
            LogDebug(info);
            FindErrorMessage(info);
            result = 1017;
        }
    } else {
        LogShrink(QStringLiteral("NtfsHandler::ShrinkNtfsImage initial resize check"));
        const ResizeInformation r(ExecuteCommandDebug(QStringLiteral("ntfsresize -if ") + CommandQuote(partition)));
        const ShrinkPlan plan = PlanShrink(r, otherSectors);
        LogShrink(QStringLiteral("NtfsHandler::ShrinkNtfsImage Initial --  deviceSize=%1(bytes), partSize=%2(bytes)")
                      .arg(r.deviceSize).arg(r.volumeSize));
        LogShrink(QStringLiteral("NtfsHandler::ShrinkNtfsImage Initial -- inUse=%1, adjust=%2, testSizeM=%3, domMax=%4")
                      .arg(plan.inUse).arg(plan.adjust).arg(plan.firstTestSizeM).arg(plan.domMax));
        LogShrink(QStringLiteral("NtfsHandler::ShrinkNtfsImage Adjusted  -- inUse=%1, adjust=%2, testSizeM=%3, domMax=%4, "
                                 "otherAlloc=%5")
                      .arg(plan.inUse).arg(plan.adjust).arg(plan.testSizeM).arg(plan.cap).arg(plan.otherAlloc));

        if (r.clusterSize == 0 || r.deviceSize == 0) {
            // Without the volume's geometry no partition size can be worked out safely.
            LogDebug(QStringLiteral("NtfsHandler::ShrinkNtfsImage the volume report lacks its sizes"));
            FindErrorMessage(info);
            result = 1017;
        } else {
            // Test runs: the planned size, then up to three more, 1000 MB larger each.
            quint64 testSizeM = plan.testSizeM;
            LogShrink(QStringLiteral("Start trying to shrink drive, %1, %2").arg(partition).arg(testSizeM), false);
            LogShrink(QStringLiteral(" Test Shrink , %1, %2, %3").arg(partition).arg(testSizeM).arg(0), false);
            int rc = TestShrinkImage(partition, testSizeM);
            for (int attempt = 1; attempt <= 3 && rc != 0 && !abortFileExists(); ++attempt) {
                testSizeM = std::min(testSizeM + 1000, plan.cap);
                LogShrink(QStringLiteral(" Test Shrink , %1, %2, %3").arg(partition).arg(testSizeM).arg(attempt), false);
                rc = TestShrinkImage(partition, testSizeM);
                LogShrink(QStringLiteral("Shrink drive Result: %1, %2, %3").arg(rc).arg(partition).arg(testSizeM), false);
            }

            if (abortFileExists()) {
                // Nothing has been changed yet: the stop is honoured before the volume is touched.
                ShowMessage(QStringLiteral("Abort Requested, the volume was not shrunk"), true);
                result = RUN_ABORTED;
            } else if (rc != 0) {
                result = 1009;
                reportFailure = true;
            } else {
                // The real shrink, at the size of the last good test.
                QFile::remove(shrinkLog);
                ExecuteCommand(QStringLiteral("ntfsfix -d ") + CommandQuote(partition), 60000);
                const QList<myProcess> stages{{QStringLiteral("ntfsresize"),
                                               {QStringLiteral("--force"), QStringLiteral("--force"), QStringLiteral("-s"),
                                                QStringLiteral("%1M").arg(testSizeM), ShellQuote(partition)}}};
                QFile::remove(shrinkLog1);
                traceStages(stages, true);
                runStages(stages, shrinkLog, StopRules::Step::VolumeResize);
                bool opened = false;
                const QString text = readLog(shrinkLog, &opened);
                if (!text.toLower().contains(QLatin1String("successfully"))) {
                    result = 1010;
                    reportFailure = true;
                } else {
                    const quint64 sectors = PartitionSectors(testSizeM, r.clusterSize, sectorSize);
                    fdiskHandler fdisk(isGpt);
                    volumeShrunk = fdisk.AdjustDataPartition(device, number, sectors);
                    if (!volumeShrunk) {
                        result = 1010;
                        reportFailure = true;
                    } else {
                        ExecuteCommand(QStringLiteral("part-probe.sh"), 60000);
                        ClearDirtyBit(partition);
                        result = 0;
                    }
                }
            }
        }
    }

    if (reportFailure) {
        ShowMessage(QStringLiteral("ntfsresize of %1 Failed").arg(partition));
        FindErrorMessage(shrinkLog);
    }
    LogDebug(QStringLiteral("NtfsHandler::ShrinkNtfsImage completed %1").arg(result));
    if (result != 0 && result != RUN_ABORTED)
        ShowMessage(QStringLiteral("Please beboot into Windows and force chkdsk to run on next boot.\n"
                                   "Reboot and then Optimaze the drive"));
    return result;
}

// ---------------------------------------------------------------- dirty flag and errors

void NtfsHandler::ClearDirtyBit(const QString &partition)
{
    LogDebug(QStringLiteral("Clear dirty flag for") + partition);
    LogDebug(ExecuteCommandDebug(QStringLiteral("ntfsfix -d ") + CommandQuote(partition)));
}

void NtfsHandler::FindErrorMessage(const QString &textOrFile)
{
    if (!textOrFile.isEmpty() && !textOrFile.contains(QLatin1Char('\n')) && QFileInfo(textOrFile).isFile())
        FindErrorMessage(ExecuteShell(QStringLiteral("tail -n 10 ") + CommandQuote(textOrFile), 60000));
    else
        FindErrorMessage(textOrFile.split(QLatin1Char('\n')));
}

void NtfsHandler::FindErrorMessage(const QStringList &lines)
{
    static const QRegularExpression error(QStringLiteral("error"), QRegularExpression::CaseInsensitiveOption);
    for (const QString &line : lines) {
        if (line.toLower().startsWith(QLatin1String("error"))) {
            QString shown = line;
            shown.replace(error, QStringLiteral(" ERROR"));
            ShowMessage(shown, false, QString());
        } else if (line.startsWith(QLatin1String("NTFS is inconsistent"))) {
            ShowMessage(QStringLiteral(" ERROR: ") + line, false, QString());
        }
    }
}
