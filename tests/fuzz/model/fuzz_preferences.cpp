// Reads arbitrary bytes as a preferences file, writes the settings back, and reads
// that again: the second writing must equal the first. The first pass may drop
// what cannot be written faithfully (recent entries with control characters,
// lines too long to read back), so from then on the file must be a fixed point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    morvane::Preferences first;
    morvane::ParsePreferences(input, first);
    std::vector<std::string> log;
    const std::string written = morvane::FormatPreferences(first, &log);

    // Every written line must be one the reader accepts whole.
    size_t start = 0;
    while (start < written.size()) {
        size_t end = written.find('\n', start);
        if (end == std::string::npos) std::abort();  // every line ends with a line feed
        if (end - start > morvane::kMaxPreferenceLineBytes) std::abort();
        if (written.find('\0', start) < end) std::abort();
        if (written.find('=', start) > end) std::abort();
        start = end + 1;
    }

    morvane::Preferences second;
    morvane::ParsePreferences(written, second);
    std::vector<std::string> secondLog;
    const std::string rewritten = morvane::FormatPreferences(second, &secondLog);
    if (rewritten != written) std::abort();
    // Nothing written may need to be dropped the second time.
    if (!secondLog.empty()) std::abort();
    // Reading its own output gives back the settings that were written: no value
    // may be one that compares unequal to itself (NaN) or drift on a second pass.
    if (!(second == second)) std::abort();
    return 0;
}
