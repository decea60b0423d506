#pragma once
// The engine's one view of a disk's partition table, read from the disk or from a saved table
// file: decides GPT or DOS, lets the matching handler parse it, prints it, restores it, lays out
// the Linux disk and resizes the data partition and its NTFS volume.

#include "gpthandler.h"
#include "mbrhandler.h"
#include "systemutils.h"

class partitionTable : public SystemUtils
{
    Q_OBJECT
public:
    partitionTable(const QString &name, const QString &device, bool reorder, QObject *parent = nullptr);
    ~partitionTable() override;

    void GetTableFromDevice(const QString &device, const QString &backupFile);
    void GetTableFromFile(const QString &path);
    bool ReloadTable(const QString &device);
    // 0, 1012 without a data partition, 1002 when the partition could not be grown.
    int ExpandDataPartition(const QString &device);
    // The data partition a deploy grows: of the data partitions, the one that lies last on the
    // drive (where a reorder puts it). Null without one.
    PartitionEntry *growthPartition();
    bool RestoreParitionTable(const QString &device, const QString &file);
    QString BackupParitionTable(const QString &device, const QString &file);
    bool CreateLinuxPartitionTable(const QString &device);
    int ResizeNtfsVolume(bool shrink);
    bool isDataPartitionLast();
    PartitionEntry *getPartitionEntry(int number);
    PartitionEntry *getOriginalPartitionEntry(int number);

    QStringList PrintTable();
    QStringList PrintOriginalTable();
    QStringList PrintTable(const QList<PartitionEntry *> &list);
    QString PrintTableString();

    // Why the engine does not work on a drive (a logical sector size other than 512 bytes, a disk
    // label that is neither dos nor gpt, named as sfdisk or blkid name it); empty when it does.
    // listing is the drive's "sfdisk -l".
    static QString DriveRefusal(SystemUtils &runner, const QString &device, const QString &listing);

    // The table copy a read from a drive leaves when no file is named: one per table object, so
    // that vaultine -s beside a working engine never shares one with it. Removed with the object.
    static const QString DEFAULT_GPT_BACKUP;
    static const QString DEFAULT_MBR_BACKUP;

    QString device;
    QList<PartitionEntry *> entries;
    QList<PartitionEntry *> originalEntries;
    bool isGpt = true;
    tableHandlerBase *handler = nullptr;
    MbrHandler *mbrHandler = nullptr;
    GptHandler *gptHandler = nullptr;
    bool reorder = false;
    bool volumeShrunk = false;
    // Why nothing was read (see DriveRefusal, or a GPT whose header does not add up); empty when
    // a table was read or the drive simply has none.
    QString refusal;

private:
    void ProcessMbrFile(const QString &file, const QString &device);
    void ProcessGptFile(const QString &file);
    QString run(const QString &command);
    QString scratchFile(const QString &pattern);
    void refuse(const QString &reason);

    QStringList scratchFiles;
};
