#include "win32drivelayer.h"

#include <windows.h>

static_assert(DriveLayer::DriveRemovable == DRIVE_REMOVABLE, "drive type values differ");
static_assert(DriveLayer::FailCriticalErrors == SEM_FAILCRITICALERRORS, "error mode values differ");

unsigned Win32DriveLayer::logicalDriveStrings(unsigned length, char *buffer)
{
    return GetLogicalDriveStringsA(length, buffer);
}

unsigned Win32DriveLayer::driveType(const char *root)
{
    return GetDriveTypeA(root);
}

bool Win32DriveLayer::volumeInformation(const char *root)
{
    // Only success matters: it means media with a readable volume is in the drive.
    return GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0) != FALSE;
}

unsigned Win32DriveLayer::setErrorMode(unsigned mode)
{
    return SetErrorMode(mode);
}

void *Win32DriveLayer::allocateZeroed(std::size_t bytes)
{
    return reinterpret_cast<void *>(GlobalAlloc(GPTR, bytes));
}

void Win32DriveLayer::release(void *block)
{
    if (block)
        GlobalFree(reinterpret_cast<HGLOBAL>(block));
}
