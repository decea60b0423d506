#include "mbrlayout.h"

#include <set>

MbrLayout::Record MbrLayout::ReadRecord(const uint8_t *sector, size_t size, int slot)
{
    Record record;
    const size_t at = TABLE_OFFSET + size_t(slot) * RECORD_SIZE;
    if (sector == nullptr || slot < 0 || slot > 3 || at + RECORD_SIZE > size)
        return record;
    const uint8_t *raw = sector + at;
    record.status = raw[0];
    record.type = raw[4];
    record.firstLba = uint32_t(raw[8]) | uint32_t(raw[9]) << 8 | uint32_t(raw[10]) << 16 | uint32_t(raw[11]) << 24;
    record.sectorCount = uint32_t(raw[12]) | uint32_t(raw[13]) << 8 | uint32_t(raw[14]) << 16
        | uint32_t(raw[15]) << 24;
    return record;
}

bool MbrLayout::HasSignature(const uint8_t *sector, size_t size)
{
    return sector != nullptr && size >= SECTOR && sector[510] == 0x55 && sector[511] == 0xAA;
}

bool MbrLayout::IsExtended(uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

std::vector<MbrLayout::Logical> MbrLayout::WalkEbrChain(const Record &extended, const SectorReader &read,
                                                        ChainEnd *end)
{
    std::vector<Logical> logicals;
    const uint64_t extendedStart = extended.firstLba;
    const uint64_t extendedEnd = extendedStart + extended.sectorCount;   // one past its last sector
    uint64_t current = extendedStart;
    std::set<uint64_t> visited;
    ChainEnd why = ChainEnd::EmptyLink;
    std::vector<uint8_t> sector;
    for (;;) {
        if (logicals.size() >= MAX_LOGICAL) {
            why = ChainEnd::TooMany;
            break;
        }
        if (!visited.insert(current).second) {
            why = ChainEnd::Repeated;
            break;
        }
        sector.clear();
        if (!read(current, sector)) {
            why = ChainEnd::Unreadable;
            break;
        }
        if (!HasSignature(sector.data(), sector.size())) {
            why = ChainEnd::NoSignature;
            break;
        }
        const Record logical = ReadRecord(sector.data(), sector.size(), 0);
        if (logical.firstLba == 0) {
            why = ChainEnd::EmptyRecord;
            break;
        }
        logicals.push_back({logical, current});
        const Record link = ReadRecord(sector.data(), sector.size(), 1);
        if (link.firstLba == 0) {
            why = ChainEnd::EmptyLink;
            break;
        }
        current = extendedStart + link.firstLba;
        if (current >= extendedEnd) {
            why = ChainEnd::OutOfRange;
            break;
        }
    }
    if (end)
        *end = why;
    return logicals;
}
