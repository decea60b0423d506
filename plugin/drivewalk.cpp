#include "drivewalk.h"

#include "drivelayer.h"

#include "plainbytes.h"

namespace {
const char ErrorText[] = "error";
}

DriveWalk::DriveWalk(DriveLayer &layer)
    : m_layer(layer)
{
}

void DriveWalk::GetFirstUsbDrive(int stringSize, char *variables, nsis::stack_t **stackTop)
{
    walk(Mode::First, stringSize, variables, stackTop);
}

void DriveWalk::GetAllUsbDrives(int stringSize, char *variables, nsis::stack_t **stackTop)
{
    walk(Mode::All, stringSize, variables, stackTop);
}

void DriveWalk::walk(Mode mode, int stringSize, char *variables, nsis::stack_t **stackTop)
{
    // 1. Remember what the installer handed us.
    m_context.stringSize = stringSize;
    m_context.variables = variables;
    m_context.stackTop = stackTop;
    StringStack stack(m_layer, stackTop, stringSize);

    // 2. How long is the list of drive roots ("C:\", "E:\", ..., each terminated, then one more
    //    terminator)?
    const unsigned length = m_layer.logicalDriveStrings(0, nullptr);
    if (length == 0) {
        stack.push(ErrorText);
        return;
    }

    // 3. Fetch it. One spare zero byte keeps the list terminated whatever Windows writes. A
    //    drive that appears between the two calls makes the list longer than the buffer:
    //    Windows then fills nothing, and an empty answer would be a lie, so that is a failure.
    const std::size_t bufferSize = std::size_t(length) + 1;
    char *list = static_cast<char *>(m_layer.allocateZeroed(bufferSize));
    if (!list) {
        stack.push(ErrorText);
        return;
    }
    const unsigned filled = m_layer.logicalDriveStrings(length, list);
    if (filled == 0 || filled > length) {
        m_layer.release(list);
        stack.push(ErrorText);
        return;
    }

    // 4. Probing an empty card reader must not pop up a "no disk" box in front of the installer.
    const unsigned previousMode = m_layer.setErrorMode(DriveLayer::FailCriticalErrors);

    // 5. Walk the roots in the order Windows lists them.
    // Only ever read as a string: terminated from the start, each item appended terminated.
    char result[ResultSize];
    result[0] = '\0';
    const char *const end = list + bufferSize;
    for (const char *root = list; root < end && *root;) {
        const char *terminator = plainbytes::findZero(root, std::size_t(end - root));
        if (!terminator)
            break;
        if (qualifies(root)) {
            if (mode == Mode::First) {
                append(result, root);
                break;
            }
            // A full buffer ends the list at the last whole item.
            if (!append(result, root))
                break;
        }
        root = terminator + 1;
    }

    // 6. Restore the error mode, answer, let the list go.
    m_layer.setErrorMode(previousMode);
    stack.push(result);
    m_layer.release(list);
}

bool DriveWalk::qualifies(const char *root)
{
    // A: and B: are floppy letters even when the drive behind them reports removable media.
    const char letter = root[0];
    if (letter == 'A' || letter == 'B' || letter == 'a' || letter == 'b')
        return false;
    if (m_layer.driveType(root) != DriveLayer::DriveRemovable)
        return false;
    // A card reader slot without a card is removable too, but has no volume.
    return m_layer.volumeInformation(root);
}

bool DriveWalk::append(char *result, const char *root)
{
    // The item is the drive letter and a colon ("%c:"), after a "|" unless it is the first.
    const std::size_t used = plainbytes::length(result);
    const char item[] = {'|', root[0], ':', '\0'};
    const char *const text = used ? item : item + 1;
    const std::size_t itemLength = plainbytes::length(text);
    if (used + itemLength >= ResultSize)
        return false;
    plainbytes::copy(result + used, text, itemLength + 1);
    return true;
}
