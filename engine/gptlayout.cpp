#include "gptlayout.h"

#include <array>
#include <cstring>

namespace {
std::string number(uint64_t value)
{
    return std::to_string(value);
}
}

uint64_t GptLayout::ReadU64(const uint8_t *data, size_t size, size_t offset)
{
    if (data == nullptr || offset > size || size - offset < 8)
        return 0;
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | data[offset + size_t(i)];
    return value;
}

uint32_t GptLayout::ReadU32(const uint8_t *data, size_t size, size_t offset)
{
    if (data == nullptr || offset > size || size - offset < 4)
        return 0;
    return uint32_t(data[offset]) | uint32_t(data[offset + 1]) << 8 | uint32_t(data[offset + 2]) << 16
        | uint32_t(data[offset + 3]) << 24;
}

uint32_t GptLayout::Crc32(const uint8_t *data, size_t size)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool GptLayout::HasSignature(const std::vector<uint8_t> &sector)
{
    return sector.size() >= 8 && std::memcmp(sector.data(), "EFI PART", 8) == 0;
}

void GptLayout::ReadEntry(const uint8_t *raw, uint32_t index, Entry &entry)
{
    entry.index = index;
    std::memcpy(entry.typeGuid, raw, 16);
    std::memcpy(entry.uniqueGuid, raw + 16, 16);
    entry.startingLba = ReadU64(raw, MIN_ENTRY_SIZE, 32);
    entry.endingLba = ReadU64(raw, MIN_ENTRY_SIZE, 40);
    entry.attributes = ReadU64(raw, MIN_ENTRY_SIZE, 48);
    entry.name.clear();
    for (size_t u = 0; u < NAME_UNITS; ++u) {
        const char16_t unit = char16_t(raw[56 + 2 * u] | raw[57 + 2 * u] << 8);
        if (unit == 0)
            break;
        entry.name.push_back(unit);
    }
}

GptLayout::Table GptLayout::ReadTable(const uint8_t *data, size_t size)
{
    return ReadTable([data, size](uint64_t offset, size_t length, std::vector<uint8_t> &out) {
        if (data == nullptr || offset > size || size - offset < length)
            return false;
        out.assign(data + offset, data + offset + length);
        return true;
    });
}

GptLayout::Table GptLayout::ReadTable(const Reader &read)
{
    Table table;
    Header &h = table.header;
    std::vector<uint8_t> header;
    if (!read(SECTOR, SECTOR, header) || !HasSignature(header)) {
        table.error = "no GPT header (no \"EFI PART\" signature in the second sector)";
        return table;
    }
    // sgdisk's backup file: main header, then the backup header, then the array.
    std::vector<uint8_t> third;
    if (read(2 * SECTOR, SECTOR, third) && HasSignature(third)) {
        h.source = Source::SgdiskBackup;
        h.headerOffset = 2 * SECTOR;
        header.swap(third);
    } else {
        h.source = Source::RawSectors;
        h.headerOffset = SECTOR;
    }
    const uint8_t *hd = header.data();
    const uint32_t headerSize = ReadU32(hd, SECTOR, 12);
    if (headerSize < 92 || headerSize > SECTOR) {
        table.error = "the GPT header gives its own size as " + number(headerSize) + " bytes";
        return table;
    }
    std::vector<uint8_t> summed(hd, hd + headerSize);
    std::memset(summed.data() + 16, 0, 4);
    if (Crc32(summed.data(), summed.size()) != ReadU32(hd, SECTOR, 16)) {
        table.error = "the GPT header's checksum does not match its contents";
        return table;
    }

    h.firstUsableLba = ReadU64(hd, SECTOR, 40);
    h.lastUsableLba = ReadU64(hd, SECTOR, 48);
    h.entriesLba = ReadU64(hd, SECTOR, 72);
    h.entryCount = ReadU32(hd, SECTOR, 80);
    h.entrySize = ReadU32(hd, SECTOR, 84);
    // sgdisk's file: the header read is the backup header, whose own place is the drive's last
    // sector; a drive's first sectors: the main header names the backup header's place.
    const uint64_t lastLba = ReadU64(hd, SECTOR, h.source == Source::SgdiskBackup ? 24 : 32);
    h.diskSectors = lastLba > h.lastUsableLba && lastLba != UINT64_MAX ? lastLba + 1 : h.lastUsableLba + 34;
    if (h.firstUsableLba > h.lastUsableLba) {
        table.error = "the GPT header's first usable sector " + number(h.firstUsableLba) + " lies after its last usable sector "
            + number(h.lastUsableLba);
        return table;
    }
    if (h.entrySize < MIN_ENTRY_SIZE || h.entrySize % 8 != 0) {
        table.error = "the GPT header gives partition entries of " + number(h.entrySize)
            + " bytes (at least 128, a multiple of 8)";
        return table;
    }
    const uint64_t arrayBytes = uint64_t(h.entryCount) * h.entrySize;
    if (arrayBytes > MAX_ARRAY_BYTES) {
        table.error = "the GPT header claims " + number(h.entryCount) + " entries of " + number(h.entrySize)
            + " bytes, more than any partition table holds";
        return table;
    }
    if (h.source == Source::SgdiskBackup) {
        h.entriesOffset = SGDISK_ARRAY_OFFSET;
    } else {
        if (h.entriesLba < 2 || h.entriesLba > MAX_ARRAY_LBA) {
            table.error = "the GPT header puts its entry array at sector " + number(h.entriesLba) + ", which no table copy holds";
            return table;
        }
        h.entriesOffset = h.entriesLba * SECTOR;
    }
    std::vector<uint8_t> array;
    if (!read(h.entriesOffset, size_t(arrayBytes), array)) {
        table.error = "the entry array (" + number(h.entryCount) + " entries of " + number(h.entrySize) + " bytes at byte "
            + number(h.entriesOffset) + ") lies outside the table copy";
        return table;
    }
    if (Crc32(array.data(), array.size()) != ReadU32(hd, SECTOR, 88)) {
        table.error = "the checksum of the GPT entry array does not match its contents";
        return table;
    }

    static const uint8_t unused[16] = {};
    for (uint32_t i = 0; i < h.entryCount; ++i) {
        Entry entry;
        ReadEntry(array.data() + uint64_t(i) * h.entrySize, i + 1, entry);
        // An empty entry (as a deleted partition leaves it) is skipped: used entries may follow.
        if (std::memcmp(entry.typeGuid, unused, 16) == 0 || entry.startingLba == 0)
            continue;
        if (entry.endingLba < entry.startingLba) {
            table.error = "GPT entry " + number(entry.index) + " ends at sector " + number(entry.endingLba)
                + ", before its start " + number(entry.startingLba);
            table.entries.clear();
            return table;
        }
        table.entries.push_back(entry);
    }
    table.ok = true;
    return table;
}

std::string GptLayout::GuidToString(const uint8_t guid[16])
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    auto put = [&](uint8_t byte) {
        text.push_back(hex[byte >> 4]);
        text.push_back(hex[byte & 15]);
    };
    for (int i = 3; i >= 0; --i)
        put(guid[i]);
    text.push_back('-');
    put(guid[5]);
    put(guid[4]);
    text.push_back('-');
    put(guid[7]);
    put(guid[6]);
    text.push_back('-');
    put(guid[8]);
    put(guid[9]);
    text.push_back('-');
    for (int i = 10; i < 16; ++i)
        put(guid[i]);
    return text;
}

uint64_t GptLayout::MovedStart(uint64_t previousEnd)
{
    return ((previousEnd + 1) / 2048) * 2048 + 2048;
}
