#include "gptinspector.h"

std::string GptInspector::Inspect(const GptLayout::Table &table)
{
    std::string out = "Drive/DOM/ Partition Sector Information:\nNumber Start End\n";
    uint64_t last = 0;
    // Each entry under its place in the array: a deleted partition's empty entry is a gap.
    for (const GptLayout::Entry &entry : table.entries) {
        out += std::to_string(entry.index) + ' ' + std::to_string(entry.startingLba) + ' '
            + std::to_string(entry.endingLba) + '\n';
        if (entry.endingLba > last)
            last = entry.endingLba;
    }
    out += std::to_string(table.header.diskSectors) + " Size of disk in sectors\n";
    out += std::to_string(table.header.lastUsableLba) + " Last usable sector\n";
    out += std::to_string(last) + " Last used sector\n";
    return out;
}

std::string GptInspector::Inspect(const uint8_t *data, size_t size, bool *ok)
{
    const GptLayout::Table table = GptLayout::ReadTable(data, size);
    if (ok != nullptr)
        *ok = table.ok;
    return table.ok ? Inspect(table) : table.error;
}
