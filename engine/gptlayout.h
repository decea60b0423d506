#pragma once
// The bytes of a saved GPT (an "sgdisk -b" backup file, the first sectors of a disk, or the disk
// itself) as plain values. No Qt here: the engine, gptinspect and the fuzz targets all read
// tables through ReadTable, which takes the header's own word for where the entry array lies,
// how many entries it holds and how long each is, and refuses a table whose header does not
// add up (checksums, sizes, an array outside the file) instead of guessing at it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class GptLayout
{
public:
    static constexpr size_t SECTOR = 512;           // the only logical sector size the engine reads
    static constexpr size_t MIN_ENTRY_SIZE = 128;
    static constexpr size_t NAME_UNITS = 36;
    // sgdisk -b writes the protective MBR, the main header and the backup header, then the array.
    static constexpr size_t SGDISK_ARRAY_OFFSET = 3 * SECTOR;
    // Far more than any tool makes (the usual array is 16 KiB); a header claiming more is refused
    // before anything that large is read.
    static constexpr uint64_t MAX_ARRAY_BYTES = 4u << 20;
    // A drive's array lies near its start (sector 2 as a rule): one said to lie past this sector
    // is a header that does not add up.
    static constexpr uint64_t MAX_ARRAY_LBA = 1u << 20;

    enum class Source { SgdiskBackup, RawSectors };

    struct Header {
        Source source = Source::RawSectors;
        uint64_t firstUsableLba = 0;
        uint64_t lastUsableLba = 0;
        uint64_t entriesLba = 0;      // where the header says its array lies on the disk
        // The drive's size: one past the drive's last sector as the headers name it (the backup
        // header's own place), or, where they do not, the last usable sector and the usual
        // 34 sectors of a 128-entry backup table behind it.
        uint64_t diskSectors = 0;
        uint32_t entryCount = 0;
        uint32_t entrySize = 0;
        size_t headerOffset = 0;      // in the file
        uint64_t entriesOffset = 0;   // in the file
    };

    struct Entry {
        uint32_t index = 0;           // place in the entry array, from 1: the partition's number
        uint8_t typeGuid[16] = {};
        uint8_t uniqueGuid[16] = {};
        uint64_t startingLba = 0;
        uint64_t endingLba = 0;
        uint64_t attributes = 0;
        std::u16string name;         // up to the first zero code unit, at most 36 units
    };

    struct Table {
        bool ok = false;
        std::string error;            // why these bytes are not a table we read; empty when ok
        Header header;
        std::vector<Entry> entries;   // the used entries, in array order; empty ones are skipped
    };

    // Reads length bytes at offset into out; false when they are not all there.
    using Reader = std::function<bool(uint64_t offset, size_t length, std::vector<uint8_t> &out)>;

    // The table of a saved copy or a disk, reading only the headers and the entry array. A copy
    // whose third sector is a second header is sgdisk's backup file (array right behind it);
    // anything else is read as a disk's first sectors (array where the header puts it).
    static Table ReadTable(const Reader &read);
    static Table ReadTable(const uint8_t *data, size_t size);

    // Little-endian reads; bytes that lie outside the buffer read as zero.
    static uint64_t ReadU64(const uint8_t *data, size_t size, size_t offset);
    static uint32_t ReadU32(const uint8_t *data, size_t size, size_t offset);
    static uint32_t Crc32(const uint8_t *data, size_t size);

    // "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7": upper-case hex, the first three groups little-endian.
    static std::string GuidToString(const uint8_t guid[16]);

    // First sector of a partition moved down or up behind previous end: the first 2048-sector
    // boundary above previousEnd + 1, or one boundary further when that is itself a boundary.
    static uint64_t MovedStart(uint64_t previousEnd);

private:
    static bool HasSignature(const std::vector<uint8_t> &sector);
    static void ReadEntry(const uint8_t *raw, uint32_t index, Entry &entry);
};
