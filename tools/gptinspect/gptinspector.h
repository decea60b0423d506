#pragma once
// What gptinspect prints for the bytes of a ".gptb" table backup (sgdisk -b): the sector range of
// every partition, the size of the drive the table was taken from, its last usable sector and the
// last sector a partition uses. Plain C++ over the engine's GPT layout reader, so the fuzz target
// runs exactly this code.

#include <cstddef>
#include <cstdint>
#include <string>

class GptInspector
{
public:
    // Files of this size or less hold no entry array and are rejected.
    static constexpr size_t MINIMUM_SIZE = 1536;
    static constexpr size_t HEADER_OFFSET = 1024;    // the backup header of an sgdisk backup file
    static constexpr size_t ENTRIES_OFFSET = 1536;

    static bool Accepts(size_t size) { return size > MINIMUM_SIZE; }
    // The standard output for an accepted file.
    static std::string Inspect(const uint8_t *data, size_t size);
};
