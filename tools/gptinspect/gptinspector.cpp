#include "gptinspector.h"
#include "gptlayout.h"

std::string GptInspector::Inspect(const uint8_t *data, size_t size)
{
    std::string out = "Drive/DOM/ Partition Sector Information:\nNumber Start End\n";
    const GptLayout::Header header = GptLayout::ReadHeader(data, size, HEADER_OFFSET);
    GptLayout::Header walk = header;
    walk.entriesOffset = ENTRIES_OFFSET;
    uint64_t last = 0;
    uint64_t number = 0;
    for (const GptLayout::Entry &entry : GptLayout::WalkEntries(data, size, walk)) {
        ++number;
        out += std::to_string(number) + ' ' + std::to_string(entry.startingLba) + ' '
            + std::to_string(entry.endingLba) + '\n';
        if (entry.endingLba > last)
            last = entry.endingLba;
    }
    out += std::to_string(header.lastUsableLba + 34) + " Size of disk in sectors\n";
    out += std::to_string(header.lastUsableLba) + " Last usable sector\n";
    out += std::to_string(last) + " Last used sector\n";
    return out;
}
