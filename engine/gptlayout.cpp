#include "gptlayout.h"

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

size_t GptLayout::HeaderOffsetFor(size_t size)
{
    return size == SGDISK_BACKUP_SIZE ? 1024 : 512;
}

GptLayout::Header GptLayout::ReadHeader(const uint8_t *data, size_t size, size_t headerOffset)
{
    Header header;
    header.headerOffset = headerOffset;
    header.entriesOffset = headerOffset + 512;
    header.firstUsableLba = ReadU64(data, size, headerOffset + 40);
    header.lastUsableLba = ReadU64(data, size, headerOffset + 48);
    header.entryCount = ReadU32(data, size, headerOffset + 80);
    return header;
}

size_t GptLayout::EntriesInside(size_t size, size_t entriesOffset, uint64_t claimed)
{
    if (entriesOffset >= size)
        return 0;
    const uint64_t room = (size - entriesOffset) / ENTRY_SIZE;
    return size_t(claimed < room ? claimed : room);
}

bool GptLayout::ReadEntry(const uint8_t *data, size_t size, size_t entriesOffset, size_t index, Entry &entry)
{
    if (data == nullptr || entriesOffset > size || index >= (size - entriesOffset) / ENTRY_SIZE)
        return false;
    const size_t at = entriesOffset + index * ENTRY_SIZE;
    const uint8_t *raw = data + at;
    for (int i = 0; i < 16; ++i) {
        entry.typeGuid[i] = raw[i];
        entry.uniqueGuid[i] = raw[16 + i];
    }
    entry.startingLba = ReadU64(data, size, at + 32);
    entry.endingLba = ReadU64(data, size, at + 40);
    entry.attributes = ReadU64(data, size, at + 48);
    entry.name.clear();
    for (size_t u = 0; u < NAME_UNITS; ++u) {
        const char16_t unit = char16_t(raw[56 + 2 * u] | raw[57 + 2 * u] << 8);
        if (unit == 0)
            break;
        entry.name.push_back(unit);
    }
    return true;
}

std::vector<GptLayout::Entry> GptLayout::WalkEntries(const uint8_t *data, size_t size, const Header &header)
{
    std::vector<Entry> entries;
    const size_t count = EntriesInside(size, header.entriesOffset, header.entryCount);
    for (size_t i = 0; i < count; ++i) {
        Entry entry;
        if (!ReadEntry(data, size, header.entriesOffset, i, entry) || entry.startingLba == 0)
            break;
        entries.push_back(entry);
    }
    return entries;
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
