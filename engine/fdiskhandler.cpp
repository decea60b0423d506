#include "fdiskhandler.h"

#include <libfdisk/libfdisk.h>

namespace {
constexpr quint64 DOS_LAST_SECTOR = 0xFFFFFFFFull;
}

fdiskHandler::fdiskHandler(bool isGpt, QObject *parent)
    : SystemUtils(parent), isGpt(isGpt)
{
}

bool fdiskHandler::AdjustDataPartition(const QString &device, int number, quint64 sectors)
{
    LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition %1 %2 %3 start").arg(device).arg(number).arg(sectors));
    adjustStatus = 0;
    fdisk_context *cxt = fdisk_new_context();
    if (cxt == nullptr)
        return false;
    if (number < 1 || fdisk_assign_device(cxt, device.toLatin1().constData(), 0) != 0) {
        fdisk_unref_context(cxt);
        LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition cannot open %1").arg(device));
        return false;
    }
    fdisk_disable_dialogs(cxt, 1);

    const size_t index = size_t(number - 1);
    fdisk_partition *pa = nullptr;
    int rc = fdisk_get_partition(cxt, index, &pa);
    const quint64 lastUsable = fdisk_get_last_lba(cxt);
    const quint64 diskSectors = fdisk_get_nsectors(cxt);
    if (rc != 0 || pa == nullptr) {
        adjustStatus = 1;
        LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition no partition %1 on %2").arg(number).arg(device));
    } else {
        const quint64 start = fdisk_partition_get_start(pa);
        if (sectors == 0) {
            // The partition ends two sectors before the smaller of the last usable sector and the
            // start of a GPT's backup area.
            quint64 limit = qMin(lastUsable, diskSectors - 34);
            // A DOS entry holds 32-bit sector numbers: on a drive past 2 TiB the partition ends
            // where they end, and the rest of the drive stays unused.
            if (fdisk_is_label(cxt, DOS) && limit > DOS_LAST_SECTOR) {
                LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition %1 sectors: a DOS partition ends by sector %2")
                             .arg(diskSectors).arg(DOS_LAST_SECTOR));
                limit = DOS_LAST_SECTOR;
            }
            sectors = limit > start + 1 ? limit - start - 1 : 0;
        }
        if (sectors == 0)
            adjustStatus = 2;
        else if ((rc = fdisk_delete_partition(cxt, index)) != 0)
            adjustStatus = 3;
        else if ((rc = fdisk_partition_set_size(pa, sectors)) != 0)
            adjustStatus = 4;
        else if ((rc = fdisk_set_partition(cxt, index, pa)) != 0)
            adjustStatus = 5;
        else if ((rc = fdisk_write_disklabel(cxt)) != 0)
            adjustStatus = 6;
        if (adjustStatus != 0)
            LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition step %1 failed: %2").arg(adjustStatus).arg(rc));
    }
    if (fdisk_deassign_device(cxt, adjustStatus != 0) != 0)
        LogDebug(QStringLiteral("Error occured during DOS deassign"));
    if (pa != nullptr)
        fdisk_unref_partition(pa);
    fdisk_unref_context(cxt);
    LogDebug(QStringLiteral("fdiskHandler::AdjustDataPartition completed %1").arg(adjustStatus));
    return adjustStatus == 0;
}
