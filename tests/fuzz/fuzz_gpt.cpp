// libFuzzer target: a saved GPT table (sgdisk -b file or the first 34 sectors of a disk) read
// the way the engine reads it, with the reorder's sector moves applied to every entry walked.
#include "gptlayout.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const GptLayout::Header header = GptLayout::ReadHeader(data, size, GptLayout::HeaderOffsetFor(size));
    const std::vector<GptLayout::Entry> entries = GptLayout::WalkEntries(data, size, header);
    if (entries.size() > GptLayout::EntriesInside(size, header.entriesOffset, header.entryCount))
        abort();   // the walk never reads past the buffer or past the header's count
    uint64_t previousEnd = 34;
    for (const GptLayout::Entry &entry : entries) {
        if (entry.startingLba == 0 || entry.name.size() > GptLayout::NAME_UNITS)
            abort();
        if (GptLayout::GuidToString(entry.typeGuid).size() != 36 || GptLayout::GuidToString(entry.uniqueGuid).size() != 36)
            abort();
        const uint64_t length = entry.endingLba - entry.startingLba;
        const uint64_t start = GptLayout::MovedStart(previousEnd);
        if (start % 2048 != 0)
            abort();
        previousEnd = start + length;
    }
    return 0;
}
