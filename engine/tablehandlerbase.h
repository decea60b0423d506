#pragma once
// What every partition table handler offers the table model: restore, backup, reorder and the
// data partition, plus the disk geometry libfdisk reports.

#include "partitionentry.h"
#include "systemutils.h"

#include <QList>

class tableHandlerBase : public SystemUtils
{
    Q_OBJECT
public:
    explicit tableHandlerBase(bool reorder, QObject *parent = nullptr);
    ~tableHandlerBase() override;

    virtual bool RestoreParitionTable(const QString &device, const QString &file);
    virtual QString BackupParitionTable(const QString &device, const QString &file);
    virtual bool ReorderTable();
    virtual PartitionEntry *getDataParition();

    // Geometry through libfdisk, the device opened read-only.
    void GetDiskInformationFromFdisk(const QString &device);
    static quint64 GetDiskSectorsFromFdisk(const QString &device);
    static quint64 GetDiskSizeFromFdisk(const QString &device);
    static quint64 GetSectorSizeFromFdisk(const QString &device);

    // Partition paths: sda2, nvme0n1p2, loop3p2, mmcblk0p1. A disk whose name ends in a digit
    // (loop3, nvme0n1, mmcblk0) is no partition of a disk named without that digit.
    static bool IsPartitionPath(const QString &device);
    // The disk a partition path belongs to; a disk path is returned unchanged.
    static QString DiskOfDevice(const QString &device);

    bool reordered = false;
    QList<PartitionEntry *> entries;
    QList<PartitionEntry *> originalEntries;
    bool dataIsLast = false;
    bool reorder = false;
    quint64 diskBytes = 0;
    quint64 firstLba = 0;
    quint64 lastLba = 0;
    quint64 sectorSize = 512;
    quint64 diskSectors = 0;
    quint64 lastSector = 0;
    quint64 maxEndSector = 0;
    quint64 allocatedEnd = 0;

protected:
    // The records are ours: a handler lives for one parse and the table model keeps pointers to
    // its records only while it keeps the handler.
    void adopt(PartitionEntry *entry) { owned.append(entry); }

private:
    QList<PartitionEntry *> owned;
};
