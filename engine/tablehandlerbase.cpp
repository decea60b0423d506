#include "tablehandlerbase.h"

#include <QRegularExpression>

#include <libfdisk/libfdisk.h>

tableHandlerBase::tableHandlerBase(bool reorder, QObject *parent)
    : SystemUtils(parent), reorder(reorder)
{
}

tableHandlerBase::~tableHandlerBase()
{
    qDeleteAll(owned);
}

bool tableHandlerBase::RestoreParitionTable(const QString &device, const QString &file)
{
    LogDebug(QStringLiteral(" RestoreParitionTable( ) not defined --") + device + ' ' + file);
    return false;
}

QString tableHandlerBase::BackupParitionTable(const QString &device, const QString &file)
{
    LogDebug(QStringLiteral(" BackupParitionTable( ) not defined --") + device + ' ' + file);
    return QString();
}

bool tableHandlerBase::ReorderTable()
{
    return false;
}

PartitionEntry *tableHandlerBase::getDataParition()
{
    return nullptr;
}

namespace {
// A libfdisk context on a device opened read-only, released on every way out.
struct ReadOnlyDisk {
    fdisk_context *cxt = nullptr;
    bool open = false;
    explicit ReadOnlyDisk(const QString &device)
    {
        cxt = fdisk_new_context();
        if (cxt != nullptr)
            open = fdisk_assign_device(cxt, device.toLatin1().constData(), 1) == 0;
    }
    ~ReadOnlyDisk()
    {
        if (cxt != nullptr) {
            if (open)
                fdisk_deassign_device(cxt, 1);
            fdisk_unref_context(cxt);
        }
    }
};
}

void tableHandlerBase::GetDiskInformationFromFdisk(const QString &device)
{
    ReadOnlyDisk disk(device);
    if (!disk.open) {
        LogDebug(QStringLiteral("tableHandlerBase::GetDiskInformationFromFdisk: cannot open ") + device);
        return;
    }
    firstLba = fdisk_get_first_lba(disk.cxt);
    lastLba = fdisk_get_last_lba(disk.cxt);
    diskSectors = fdisk_get_nsectors(disk.cxt);
    sectorSize = fdisk_get_sector_size(disk.cxt);
    diskBytes = sectorSize * diskSectors;
}

quint64 tableHandlerBase::GetDiskSectorsFromFdisk(const QString &device)
{
    ReadOnlyDisk disk(device);
    return disk.open ? quint64(fdisk_get_nsectors(disk.cxt)) : 0;
}

quint64 tableHandlerBase::GetDiskSizeFromFdisk(const QString &device)
{
    ReadOnlyDisk disk(device);
    return disk.open ? quint64(fdisk_get_nsectors(disk.cxt)) * fdisk_get_sector_size(disk.cxt) : 0;
}

quint64 tableHandlerBase::GetSectorSizeFromFdisk(const QString &device)
{
    ReadOnlyDisk disk(device);
    return disk.open ? quint64(fdisk_get_sector_size(disk.cxt)) : 0;
}

static const QRegularExpression &letterPartition()
{
    static const QRegularExpression re(QStringLiteral("^(.*/)?((sd|hd|vd|xvd)[a-z]+)([0-9]+)$"));
    return re;
}

static const QRegularExpression &digitPartition()
{
    static const QRegularExpression re(QStringLiteral("^(.*[0-9])p([0-9]+)$"));
    return re;
}

bool tableHandlerBase::IsPartitionPath(const QString &device)
{
    return letterPartition().match(device).hasMatch() || digitPartition().match(device).hasMatch();
}

QString tableHandlerBase::DiskOfDevice(const QString &device)
{
    const QRegularExpressionMatch letter = letterPartition().match(device);
    if (letter.hasMatch())
        return letter.captured(1) + letter.captured(2);
    const QRegularExpressionMatch digit = digitPartition().match(device);
    if (digit.hasMatch())
        return digit.captured(1);
    return device;
}
