// libFuzzer target: gptinspect's whole reading and printing of a ".gptb" file.
#include "gptinspector.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!GptInspector::Accepts(size))
        return 0;
    const std::string out = GptInspector::Inspect(data, size);
    // two heading lines, at most one line per entry inside the file, three summary lines
    size_t lines = 0;
    for (char c : out)
        lines += c == '\n';
    if (lines < 5 || lines > 5 + (size - GptInspector::ENTRIES_OFFSET) / 128)
        abort();
    return 0;
}
