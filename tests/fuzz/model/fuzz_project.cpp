// Feeds arbitrary bytes to the whole-document project reader (file references and the
// picture-trace record included), then writes what was read and reads that again: the
// second document must read back to the same text. Nothing may crash, leak or grow
// beyond what the document holds.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/project_file.h"

using namespace morvane;

namespace {
// A folder that does not exist, so relative paths take the join-and-look branch without
// the result depending on files of the machine.
const std::string kProjectFolder = "/nonexistent-morvane-fuzz-project";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Project project;
    LoadProjectResult result = LoadProjectFromText(text, kProjectFolder, project);
    if (!result.ok) return 0;
    if (project.optical.numFrames < 0 || static_cast<size_t>(project.optical.numFrames) > project.optical.frames.size())
        std::abort();

    // What was read writes a document that reads back to itself.
    std::string first = FormatProjectDocument(project, kProjectFolder);
    Project again;
    if (!LoadProjectFromText(first, kProjectFolder, again).ok) std::abort();
    std::string second = FormatProjectDocument(again, kProjectFolder);
    if (first != second) {
        // Say where the two documents part, so a finding in a log can be understood without
        // the machine it came from.
        size_t at = 0;
        while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
        size_t from = first.rfind('\n', at) == std::string::npos ? 0 : first.rfind('\n', at) + 1;
        std::fprintf(stderr, "second write differs at byte %zu:\n first: %.200s\nsecond: %.200s\n", at,
                     first.c_str() + from, second.c_str() + std::min(from, second.size()));
        std::abort();
    }
    return 0;
}
