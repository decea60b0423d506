#pragma once
// The bytes of a saved GPT (an "sgdisk -b" backup file or the first 34 sectors of a disk) as
// plain values. No Qt here: the engine, gptinspect and the fuzz targets all read tables through
// these functions, and every read is checked against the end of the buffer, whatever the header
// claims.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class GptLayout
{
public:
    static constexpr size_t ENTRY_SIZE = 128;
    static constexpr size_t SGDISK_BACKUP_SIZE = 17920;   // protective MBR, header, backup header, entries
    static constexpr size_t NAME_UNITS = 36;

    struct Header {
        uint64_t firstUsableLba = 0;
        uint64_t lastUsableLba = 0;
        uint32_t entryCount = 0;     // as claimed by the header
        size_t headerOffset = 0;
        size_t entriesOffset = 0;    // always 512 bytes after the header
    };

    struct Entry {
        uint8_t typeGuid[16] = {};
        uint8_t uniqueGuid[16] = {};
        uint64_t startingLba = 0;
        uint64_t endingLba = 0;
        uint64_t attributes = 0;
        std::u16string name;         // up to the first zero code unit, at most 36 units
    };

    // Little-endian reads; bytes that lie outside the buffer read as zero.
    static uint64_t ReadU64(const uint8_t *data, size_t size, size_t offset);
    static uint32_t ReadU32(const uint8_t *data, size_t size, size_t offset);

    // Where the header of a buffer of this size starts: an sgdisk backup file (17920 bytes) keeps
    // the header we read at 1024, a raw copy of the disk's first sectors at 512.
    static size_t HeaderOffsetFor(size_t size);
    static Header ReadHeader(const uint8_t *data, size_t size, size_t headerOffset);

    // How many of the claimed entries lie wholly inside the buffer.
    static size_t EntriesInside(size_t size, size_t entriesOffset, uint64_t claimed);
    // False when entry index (from 0) does not lie wholly inside the buffer.
    static bool ReadEntry(const uint8_t *data, size_t size, size_t entriesOffset, size_t index, Entry &entry);

    // The walk every reader of a saved table does: entries in order, at most as many as the header
    // claims and as the buffer holds, ending at the first empty one (StartingLBA 0).
    static std::vector<Entry> WalkEntries(const uint8_t *data, size_t size, const Header &header);

    // "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7": upper-case hex, the first three groups little-endian.
    static std::string GuidToString(const uint8_t guid[16]);

    // First sector of a partition moved down or up behind previous end: the first 2048-sector
    // boundary above previousEnd + 1, or one boundary further when that is itself a boundary.
    static uint64_t MovedStart(uint64_t previousEnd);
};
