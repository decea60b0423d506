#ifndef DRIVELAYER_H
#define DRIVELAYER_H

#include <cstddef>

// The few Windows calls the drive walk needs, behind one interface so that the walk itself is
// plain C++ and runs (and is tested) anywhere. The Windows build implements it with the kernel
// calls of the same names; tests implement it with a scripted double.
class DriveLayer
{
public:
    // Values as the Windows headers define them (the Windows layer checks they agree).
    static constexpr unsigned DriveRemovable = 2;        // DRIVE_REMOVABLE
    static constexpr unsigned FailCriticalErrors = 0x1;  // SEM_FAILCRITICALERRORS

    // GetLogicalDriveStringsA: with length 0 and no buffer, the length the list needs; otherwise
    // fills the buffer and returns the characters written without the final terminator, or more
    // than length when the buffer is too small, or 0 on failure.
    virtual unsigned logicalDriveStrings(unsigned length, char *buffer) = 0;
    // GetDriveTypeA on a root such as "E:\".
    virtual unsigned driveType(const char *root) = 0;
    // GetVolumeInformationA on a root: only whether it succeeded (a volume is mounted).
    virtual bool volumeInformation(const char *root) = 0;
    // SetErrorMode: sets the mode and returns the previous one.
    virtual unsigned setErrorMode(unsigned mode) = 0;
    // GlobalAlloc(GPTR, bytes) and GlobalFree: the installer frees the stack nodes we push with
    // GlobalFree, so nodes must come from this allocator.
    virtual void *allocateZeroed(std::size_t bytes) = 0;
    virtual void release(void *block) = 0;

protected:
    ~DriveLayer() = default;
};

#endif
