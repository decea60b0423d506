#ifndef STRINGSTACK_H
#define STRINGSTACK_H

#include <cstddef>

class DriveLayer;

namespace nsis {
// One node of the installer's string stack, laid out as the installer expects: the next node,
// then the text. The text really has room for the installer's string size.
struct stack_t
{
    stack_t *next;
    char text[1];
};
}

// The installer's string stack as a plug-in sees it: the pointer to the top and the length of
// one installer string (terminator included), both handed in by every call.
class StringStack
{
public:
    StringStack(DriveLayer &layer, nsis::stack_t **top, int stringSize);

    // Links a new node on top holding text cut to the string size. Without a stack (the
    // installer gave no top pointer) or without memory, nothing is pushed: returns false.
    bool push(const char *text);
    // Copies the top text into buffer (at most bufferSize bytes, always terminated), unlinks
    // and frees the node. Returns false when there is no stack or it is empty.
    bool pop(char *buffer, std::size_t bufferSize);

private:
    DriveLayer &m_layer;
    nsis::stack_t **m_top;
    std::size_t m_stringSize;
};

#endif
