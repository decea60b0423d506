#pragma once
// The bytes of a DOS (MBR) table and its chain of extended boot records as plain values. No Qt
// here: the engine and the fuzz target read tables through the same functions. Every read is
// checked against the end of the buffer, and the chain walk always ends: at a record that cannot
// be read or lacks its signature, at an empty link, at a link that leaves the extended partition,
// at a record already visited (a loop), or after MAX_LOGICAL records.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class MbrLayout
{
public:
    static constexpr size_t SECTOR = 512;
    static constexpr size_t TABLE_OFFSET = 446;
    static constexpr size_t RECORD_SIZE = 16;
    static constexpr size_t MAX_LOGICAL = 256;      // more logical partitions than any kernel numbers

    struct Record {
        uint8_t status = 0;
        uint8_t type = 0;
        uint32_t firstLba = 0;
        uint32_t sectorCount = 0;
    };

    // One logical partition: its record and the LBA of the extended boot record holding it.
    struct Logical {
        Record record;
        uint64_t base = 0;
    };

    enum class ChainEnd { EmptyLink, Unreadable, NoSignature, EmptyRecord, OutOfRange, Repeated, TooMany };

    // Reads one 512-byte sector at an LBA of the disk; false when it cannot.
    using SectorReader = std::function<bool(uint64_t lba, std::vector<uint8_t> &sector)>;

    // Record slot (0..3) of a sector; a record outside the buffer reads as empty.
    static Record ReadRecord(const uint8_t *sector, size_t size, int slot);
    static bool HasSignature(const uint8_t *sector, size_t size);
    static bool IsExtended(uint8_t type);

    // Follows the chain of the extended partition described by record. Each extended boot record's
    // first record is a logical partition; its second record's first LBA, relative to the start
    // of the extended partition, locates the next one.
    static std::vector<Logical> WalkEbrChain(const Record &extended, const SectorReader &read,
                                             ChainEnd *end = nullptr);
};
