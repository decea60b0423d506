#ifndef WIN32DRIVELAYER_H
#define WIN32DRIVELAYER_H

#include "drivelayer.h"

// The drive layer on Windows: each operation is the one kernel call of the same name.
class Win32DriveLayer final : public DriveLayer
{
public:
    unsigned logicalDriveStrings(unsigned length, char *buffer) override;
    unsigned driveType(const char *root) override;
    bool volumeInformation(const char *root) override;
    unsigned setErrorMode(unsigned mode) override;
    void *allocateZeroed(std::size_t bytes) override;
    void release(void *block) override;
};

#endif
