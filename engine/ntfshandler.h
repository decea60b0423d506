#pragma once
// Images, restores and resizes the NTFS data partition with the ntfs-3g tools: ntfsclone into
// a gzip or zstd stream (ImageCodec) and back, ntfsresize for the check, the test runs, the
// shrink to the next disk-on-module size and the expansion, ntfsfix for the dirty flag.

#include "basebrhandler.h"
#include "resizeinformation.h"

class NtfsHandler : public baseBrHandler
{
    Q_OBJECT
public:
    explicit NtfsHandler(QObject *parent = nullptr);

    // bytes: the partition's size. 0 or 1013.
    int BackupNtfsImage(const QString &base, const QString &device, int number, quint64 bytes);
    // The image of set partition imageNumber (0: number) onto partition number. 0 or 1014.
    int RestoreNtfsImage(const QString &base, const QString &device, bool split, int number, int imageNumber);
    // Grows the volume to its partition (first widening the partition to the disk's end when
    // adjustPartition). The run's code, or 1011.
    int ExpandNtfsImage(const QString &device, int number, bool isGpt, bool adjustPartition);
    // otherSectors: the sectors of the table area and of every other partition.
    // 0, 1007, 1009, 1010 or 1017; 1000 when a stop request came before the volume was touched
    // (once the real shrink has begun it is carried through to the adjusted partition).
    int ShrinkNtfsImage(const QString &device, int number, bool isGpt, quint64 otherSectors);
    // A read-only ntfsresize run at sizeM MB: 0 when the tool says it would succeed, else -1.
    int TestShrinkImage(const QString &partition, quint64 sizeM);
    void ClearDirtyBit(const QString &partition);
    // Shows the tool's error lines: from the last ten lines of a file, or from a text.
    void FindErrorMessage(const QString &textOrFile);
    void FindErrorMessage(const QStringList &lines);
    void LogShrink(const QString &message, bool stamp = true);

    // The shrink's sizing, in MB of 1,000,000 bytes: the smallest disk-on-module size that holds
    // the data in use beside the other partitions, and a first test size halfway to it.
    struct ShrinkPlan {
        quint64 otherAlloc = 0;
        quint64 roomM = 0;
        quint64 inUse = 0;
        quint64 domMax = 0;
        quint64 adjust = 0;
        quint64 firstTestSizeM = 0;   // before the cap and the room check
        quint64 cap = 0;
        quint64 testSizeM = 0;
    };
    static ShrinkPlan PlanShrink(const ResizeInformation &info, quint64 otherSectors);
    // Sectors of a partition that holds a volume of sizeM MB: a whole cluster more, rounded to
    // 2048-byte steps, plus room for the volume's backup boot sector.
    static quint64 PartitionSectors(quint64 sizeM, quint64 clusterSize, quint64 sectorSize);

    static const QString shrinkLog;     // /var/log/shrink_ntfs.log
    static const QString shrinkLog1;    // /var/log/shrink_ntfs_1.log
    static const QString shrinkLog2c;   // /var/log/shrink_ntfs_2.log
    static const QString expandLog;     // /var/log/expand_ntfs.log

    QString shrinkTraceLog;

private:
    int runStages(const QList<myProcess> &stages, const QString &logFile, StopRules::Step step = StopRules::Step::Copy);
    void traceStages(const QList<myProcess> &stages, bool toDebugLog);
    static QString readLog(const QString &path, bool *opened, qint64 from = 0);
};
