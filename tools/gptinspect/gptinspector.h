#pragma once
// What gptinspect prints for a saved GPT (sgdisk -b's ".gptb" file, a drive's first sectors, or a
// drive): the sector range of every partition under its number, the size of the drive the table
// was taken from, its last usable sector and the last sector a partition uses. Plain C++ over the
// engine's GPT reader, so the fuzz target runs exactly this code.

#include "gptlayout.h"

#include <cstddef>
#include <cstdint>
#include <string>

class GptInspector
{
public:
    // Files of this size or less hold no entry array and are rejected.
    static constexpr size_t MINIMUM_SIZE = 1536;

    static bool Accepts(size_t size) { return size > MINIMUM_SIZE; }
    // The standard output for a table that was read.
    static std::string Inspect(const GptLayout::Table &table);
    // The whole answer for the bytes of a file: the listing, or the reason the table cannot be
    // read (ok false).
    static std::string Inspect(const uint8_t *data, size_t size, bool *ok = nullptr);
};
