#include "stringstack.h"

#include "drivelayer.h"

#include "plainbytes.h"

StringStack::StringStack(DriveLayer &layer, nsis::stack_t **top, int stringSize)
    : m_layer(layer), m_top(top), m_stringSize(stringSize > 0 ? std::size_t(stringSize) : 0)
{
}

bool StringStack::push(const char *text)
{
    if (!m_top)
        return false;
    // Room for the link plus one installer string; the node comes zero-filled, so a text cut
    // short is terminated by the zeros behind it.
    auto *node = static_cast<nsis::stack_t *>(m_layer.allocateZeroed(sizeof(nsis::stack_t) + m_stringSize));
    if (!node)
        return false;
    if (m_stringSize > 0) {
        const std::size_t length = plainbytes::length(text);
        plainbytes::copy(node->text, text, length < m_stringSize ? length : m_stringSize - 1);
    }
    node->next = *m_top;
    *m_top = node;
    return true;
}

bool StringStack::pop(char *buffer, std::size_t bufferSize)
{
    if (!m_top || !*m_top)
        return false;
    nsis::stack_t *node = *m_top;
    if (buffer && bufferSize > 0) {
        // The text never runs past the node: it was cut to the string size when pushed.
        const std::size_t limit = m_stringSize > 0 ? m_stringSize : 1;
        const char *end = plainbytes::findZero(node->text, limit);
        const std::size_t length = end ? std::size_t(end - node->text) : limit;
        const std::size_t copied = length < bufferSize ? length : bufferSize - 1;
        plainbytes::copy(buffer, node->text, copied);
        buffer[copied] = '\0';
    }
    *m_top = node->next;
    m_layer.release(node);
    return true;
}
