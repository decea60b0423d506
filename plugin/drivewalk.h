#ifndef DRIVEWALK_H
#define DRIVEWALK_H

#include "stringstack.h"

#include <cstddef>

class DriveLayer;

// What the installer handed to the most recent call.
struct InstallerContext
{
    int stringSize = 0;
    char *variables = nullptr;
    nsis::stack_t **stackTop = nullptr;
};

// Finds the removable drives that carry a mounted volume and leaves the answer on the
// installer's string stack: one string per call, "" when there is none, "error" when Windows
// gives no drive list. Floppy letters A: and B: are never answers.
class DriveWalk
{
public:
    // GetAllUsbDrives collects its answer in a buffer of this size, terminator included.
    static constexpr std::size_t ResultSize = 256;

    explicit DriveWalk(DriveLayer &layer);

    // Pushes the first qualifying drive as "E:".
    void GetFirstUsbDrive(int stringSize, char *variables, nsis::stack_t **stackTop);
    // Pushes every qualifying drive, in the order Windows lists them, joined by "|": "E:|G:".
    void GetAllUsbDrives(int stringSize, char *variables, nsis::stack_t **stackTop);

    const InstallerContext &context() const { return m_context; }

private:
    enum class Mode { First, All };

    void walk(Mode mode, int stringSize, char *variables, nsis::stack_t **stackTop);
    bool qualifies(const char *root);
    static bool append(char *result, const char *root);

    DriveLayer &m_layer;
    InstallerContext m_context;
};

#endif
