// libFuzzer target: gptinspect's whole reading and printing of a saved table.
#include "gptinspector.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!GptInspector::Accepts(size))
        return 0;
    bool ok = false;
    const std::string out = GptInspector::Inspect(data, size, &ok);
    size_t lines = 0;
    for (char c : out)
        lines += c == '\n';
    // A refusal is one reason, no listing; a listing has two heading lines, at most one line per
    // 128 bytes of the file and three summary lines.
    if (!ok && (out.empty() || lines != 0))
        abort();
    if (ok && (lines < 5 || lines > 5 + size / 128))
        abort();
    return 0;
}
