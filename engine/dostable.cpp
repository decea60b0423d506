#include "dostable.h"

#include <libfdisk/libfdisk.h>

#pragma push_macro("slots")
#undef slots

DosTable::DosTable(DosPartitionInfo *records, QObject *parent)
    : SystemUtils(parent)
{
    for (int i = 0; i < 4; ++i) {
        slots[i] = records + i;
        if (slots[i]->firstLba == 0)
            continue;
        ++usedSlots;
        if (slots[i]->type == 0x27)
            recoverySlot = i;
        else if (slots[i]->type == 0x07 && slots[i]->sectorCount > SYSTEM_LIMIT)
            dataSlot = i;
        else if (slots[i]->type == 0x07 || slots[i]->type == 0xEF)
            systemSlot = i;
    }
}

bool DosTable::AdjustDosDataTablePositionOnDisk(const QString &device)
{
    if (dataSlot >= 0 && recoverySlot >= 0 && dataSlot < recoverySlot) {
        ExecuteCommand(QStringLiteral("sgdisk -ZZZ ") + device, 60000);
        DosPartitionInfo *data = slots[dataSlot];
        DosPartitionInfo *recovery = slots[recoverySlot];
        recovery->firstLba = data->firstLba;
        const quint64 recoveryEnd = quint64(recovery->firstLba) + recovery->sectorCount;
        data->firstLba = quint32((recoveryEnd + 2047) / 2048 * 2048);
    }
    return UpdateDosPartitionTableOnDisk(device);
}

bool DosTable::UpdateDosPartitionTableOnDisk(const QString &device)
{
    updateStatus = 0;
    fdisk_context *cxt = fdisk_new_context();
    if (cxt == nullptr)
        return false;
    if (fdisk_assign_device(cxt, device.toLatin1().constData(), 0) != 0) {
        LogDebug(QStringLiteral("Error occcured processing DOS partition table %1").arg(-1));
        fdisk_unref_context(cxt);
        return false;
    }
    fdisk_partition *pa = nullptr;
    fdisk_parttype *type = nullptr;
    int rc = fdisk_create_disklabel(cxt, "dos");
    if (rc != 0) {
        updateStatus = 1;
    } else {
        fdisk_disable_dialogs(cxt, 1);
        pa = fdisk_new_partition();
        type = fdisk_new_parttype();
        if (pa == nullptr || type == nullptr) {
            updateStatus = 2;
            rc = -ENOMEM;
        } else {
            rc = fdisk_delete_all_partitions(cxt);
            if (rc != 0)
                updateStatus = 3;
        }
    }

    int bootSlot = -1;
    for (int i = 0; i < 4 && updateStatus == 0; ++i) {
        const DosPartitionInfo *slot = slots[i];
        // An empty slot stays empty: libfdisk would place a partition of its own choosing there.
        if (slot->firstLba == 0 || slot->sectorCount == 0)
            continue;
        fdisk_reset_partition(pa);
        if ((rc = fdisk_partition_start_follow_default(pa, 0)) != 0
            || (rc = fdisk_partition_end_follow_default(pa, 0)) != 0
            || (rc = fdisk_partition_set_start(pa, slot->firstLba)) != 0
            || (rc = fdisk_partition_set_size(pa, slot->sectorCount)) != 0
            || (rc = fdisk_partition_size_explicit(pa, 1)) != 0   // the size as recorded, not aligned
            || (rc = fdisk_partition_end_follow_default(pa, 0)) != 0
            || (rc = fdisk_parttype_set_code(type, slot->type)) != 0
            || (rc = fdisk_partition_set_type(pa, type)) != 0
            || (rc = fdisk_partition_partno_follow_default(pa, 0)) != 0
            || (rc = fdisk_partition_set_partno(pa, size_t(i))) != 0) {
            updateStatus = 10 + i;
            break;
        }
        if (slot->status != 0)
            bootSlot = i;
        const int added = fdisk_add_partition(cxt, pa, nullptr);
        if (added != 0) {
            // A partition that does not fit is not silently left out of the table we write.
            LogDebug(QStringLiteral("fdisk_add_partition returned %1").arg(added));
            rc = added;
            updateStatus = 20 + i;
        }
    }
    if (updateStatus == 0 && bootSlot >= 0 && (rc = fdisk_toggle_partition_flag(cxt, size_t(bootSlot), DOS_FLAG_ACTIVE)) != 0)
        updateStatus = 30;
    if (updateStatus == 0 && (rc = fdisk_write_disklabel(cxt)) != 0)
        updateStatus = 40;

    if (updateStatus != 0) {
        LogDebug(QStringLiteral("Error occcured processing DOS partition table %1").arg(rc));
        if (fdisk_deassign_device(cxt, 1) != 0)
            LogDebug(QStringLiteral("Error occured during DOS deassign"));
    } else if (fdisk_deassign_device(cxt, 0) != 0) {
        LogDebug(QStringLiteral("Error occured during DOS deassign"));
    }
    if (type != nullptr)
        fdisk_unref_parttype(type);
    if (pa != nullptr)
        fdisk_unref_partition(pa);
    fdisk_unref_context(cxt);
    return updateStatus == 0;
}

#pragma pop_macro("slots")
