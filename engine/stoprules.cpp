#include "stoprules.h"

bool StopRules::mayInterrupt(Step step)
{
    switch (step) {
    case Step::Copy:
    case Step::Checksums:
    case Step::TestResize:
        return true;
    case Step::TableWrite:
    case Step::VolumeResize:
    case Step::VolumeFix:
        return false;
    }
    return false;
}

const char *StopRules::describe(Step step)
{
    switch (step) {
    case Step::Copy: return "copies an image";
    case Step::Checksums: return "checks the image files";
    case Step::TestResize: return "tests a resize";
    case Step::TableWrite: return "writes the partition table";
    case Step::VolumeResize: return "resizes the NTFS volume in place";
    case Step::VolumeFix: return "repairs the NTFS volume in place";
    }
    return "";
}
