#pragma once
// The four primary records of a DOS table, sorted into roles (system, data, recovery), moved so
// that the data partition follows the recovery partition, and written to a disk through libfdisk.

#include "systemutils.h"

#include <QtGlobal>

// One 16-byte primary record, as it lies in the table sector at byte 446.
struct __attribute__((packed)) DosPartitionInfo {
    quint8 status;
    quint8 firstChs[3];
    quint8 type;
    quint8 lastChs[3];
    quint32 firstLba;
    quint32 sectorCount;
};
static_assert(sizeof(DosPartitionInfo) == 16, "a DOS partition record is 16 bytes");

// No Q_OBJECT here: DosTable has no signals or slots of its own, and its record field is named
// "slots", which is a Qt keyword; the macro is lifted around every use of the name.
class DosTable : public SystemUtils
{
public:
    // records: the four consecutive records inside a table sector held by the caller.
    explicit DosTable(DosPartitionInfo *records, QObject *parent = nullptr);

    bool UpdateDosPartitionTableOnDisk(const QString &device);
    bool AdjustDosDataTablePositionOnDisk(const QString &device);

    // A type 0x07 partition larger than this is the data partition, a smaller one the system one.
    static constexpr quint32 SYSTEM_LIMIT = 2097152;

#pragma push_macro("slots")
#undef slots
    DosPartitionInfo *slots[4];
#pragma pop_macro("slots")
    int usedSlots = 0;
    int systemSlot = -1;
    int dataSlot = -1;
    int recoverySlot = -1;
    int updateStatus = 0;
};
