#ifndef PLAINBYTES_H
#define PLAINBYTES_H

#include <cstddef>

// The few byte operations the plug-in needs, written out: the DLL links no C runtime (it
// imports nothing but the Windows kernel), so strlen, memcpy, memchr and snprintf are not there.
namespace plainbytes {

inline std::size_t length(const char *text)
{
    std::size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

inline void copy(char *to, const char *from, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        to[i] = from[i];
}

// The first zero byte within size bytes, or nullptr.
inline const char *findZero(const char *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\0')
            return data + i;
    }
    return nullptr;
}

}

#endif
