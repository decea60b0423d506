// libFuzzer target: a drive image whose first sector is a DOS table; every extended partition's
// chain of extended boot records is followed through the image, as the engine follows it on a
// disk. The walk must end (loops, links out of range, unreadable sectors) and read in bounds.
#include "mbrlayout.h"

#include <cstdlib>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t reads = 0;
    const MbrLayout::SectorReader read = [&](uint64_t lba, std::vector<uint8_t> &sector) {
        ++reads;
        if (lba >= size / MbrLayout::SECTOR)
            return false;
        sector.assign(data + lba * MbrLayout::SECTOR, data + (lba + 1) * MbrLayout::SECTOR);
        return true;
    };
    for (int slot = 0; slot < 4; ++slot) {
        const MbrLayout::Record record = MbrLayout::ReadRecord(data, size, slot);
        if (record.firstLba == 0 || !MbrLayout::IsExtended(record.type))
            continue;
        reads = 0;
        MbrLayout::ChainEnd end;
        const std::vector<MbrLayout::Logical> logicals = MbrLayout::WalkEbrChain(record, read, &end);
        if (logicals.size() > MbrLayout::MAX_LOGICAL || reads > MbrLayout::MAX_LOGICAL + 1)
            abort();
        std::set<uint64_t> bases;
        for (const MbrLayout::Logical &logical : logicals) {
            // every record read lies inside the extended partition and is read once
            if (logical.base < record.firstLba || logical.base >= uint64_t(record.firstLba) + record.sectorCount + (logical.base == record.firstLba))
                abort();
            if (!bases.insert(logical.base).second)
                abort();
        }
    }
    return 0;
}
