// The library index reader on arbitrary bytes: it must never crash, and what it
// reads must write out and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "library/entry.h"
#include "library/index_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    morvane::Library first;
    morvane::ParseLibraryIndex(text, first, false);
    const std::string written = morvane::SerializeLibraryIndex(first);
    morvane::Library second;
    morvane::ParseLibraryIndex(written, second, false);
    if (second.entries.size() != first.entries.size()) std::abort();
    if (morvane::SerializeLibraryIndex(second) != written) std::abort();
    if (morvane::UnescapeIndexText(morvane::EscapeIndexText(text)) != text) std::abort();
    return 0;
}
