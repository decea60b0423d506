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

    void GetTableFromDevice(const QString &device, const QString &backupFile);
    void GetTableFromFile(const QString &path);
    bool ReloadTable(const QString &device);
    int ExpandDataPartition(const QString &device);
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

private:
    void ProcessMbrFile(const QString &file, const QString &device);
    void ProcessGptFile(const QString &file);
    QString run(const QString &command);
};
