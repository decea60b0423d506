// libFuzzer target: a saved GPT (sgdisk -b file or a drive's first sectors) read the way the
// engine reads it. Each input is read twice: as it is, and with its signatures and checksums
// made right for whatever header fields it holds, so that the checks behind the checksums
// (entry size and count, where the array lies, entries that end before they start) meet
// arbitrary values too. Whatever a read accepts must be a table the engine can act on.
#include "gptlayout.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void check(const uint8_t *data, size_t size)
{
    const GptLayout::Table table = GptLayout::ReadTable(data, size);
    if (!table.ok) {
        if (table.error.empty() || !table.entries.empty())
            abort();
        return;
    }
    const GptLayout::Header &h = table.header;
    if (h.entrySize < GptLayout::MIN_ENTRY_SIZE || h.firstUsableLba > h.lastUsableLba)
        abort();
    if (h.entriesOffset + uint64_t(h.entryCount) * h.entrySize > size)
        abort();   // never an entry from outside the buffer
    if (table.entries.size() > h.entryCount)
        abort();
    uint32_t previousIndex = 0;
    uint64_t previousEnd = 34;
    for (const GptLayout::Entry &entry : table.entries) {
        if (entry.index <= previousIndex || entry.index > h.entryCount)
            abort();   // array order, each entry once, numbered by its place
        previousIndex = entry.index;
        if (entry.startingLba == 0 || entry.endingLba < entry.startingLba || entry.name.size() > GptLayout::NAME_UNITS)
            abort();
        if (GptLayout::GuidToString(entry.typeGuid).size() != 36)
            abort();
        // the reorder's move of this entry
        const uint64_t start = GptLayout::MovedStart(previousEnd);
        if (start % 2048 != 0)
            abort();
        previousEnd = start + (entry.endingLba - entry.startingLba);
    }
}

// The input with "EFI PART" at the header(s) and both checksums computed from its own fields.
std::vector<uint8_t> madeConsistent(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> b(data, data + size);
    if (size < 3 * GptLayout::SECTOR)
        return b;
    const bool sgdisk = size > 0 && (data[0] & 1);   // one input bit picks the file's form
    const size_t header = sgdisk ? 2 * GptLayout::SECTOR : GptLayout::SECTOR;
    std::memcpy(&b[GptLayout::SECTOR], "EFI PART", 8);
    if (sgdisk)
        std::memcpy(&b[header], "EFI PART", 8);
    else if (std::memcmp(&b[2 * GptLayout::SECTOR], "EFI PART", 8) == 0)
        b[2 * GptLayout::SECTOR] = 0;
    uint32_t headerSize = GptLayout::ReadU32(b.data(), size, header + 12);
    if (headerSize < 92 || headerSize > 512) {
        headerSize = 92;
        put32(b, header + 12, headerSize);
    }
    const uint32_t count = GptLayout::ReadU32(b.data(), size, header + 80);
    const uint32_t entrySize = GptLayout::ReadU32(b.data(), size, header + 84);
    const uint64_t arrayAt = sgdisk ? GptLayout::SGDISK_ARRAY_OFFSET
                                    : GptLayout::ReadU64(b.data(), size, header + 72) * GptLayout::SECTOR;
    const uint64_t arrayBytes = uint64_t(count) * entrySize;
    if (arrayAt <= size && arrayBytes <= size - arrayAt)
        put32(b, header + 88, GptLayout::Crc32(b.data() + arrayAt, size_t(arrayBytes)));
    put32(b, header + 16, 0);
    put32(b, header + 16, GptLayout::Crc32(b.data() + header, headerSize));
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(data, size);
    const std::vector<uint8_t> consistent = madeConsistent(data, size);
    check(consistent.data(), consistent.size());
    return 0;
}
