// The descriptive-text extraction of sound files (iXML elements, bext text, name
// prefixes and speaker suffixes) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "library/audio_file.h"
#include "library/scan.h"
#include "library/ucs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string description, keywords;
    morvane::ExtractIxmlText(text, description, keywords);
    // Each element's text comes from the chunk (entities only shrink it). In a damaged
    // chunk elements may overlap, so the two description elements together are bounded
    // by twice the chunk and the four keyword elements by four times.
    if (description.size() > size * 2 + 1 || keywords.size() > size * 4 + 16) std::abort();
    std::string element;
    morvane::IxmlElementText(text, "Keywords", &element);
    const std::string bext = morvane::BextDescriptionText(reinterpret_cast<const char*>(data), size);
    if (bext.size() > 3 * 256) std::abort();  // each byte becomes at most one three-byte character
    const std::string name(text.substr(0, 200));
    for (const std::string& word : morvane::UcsPrefixKeywords(name)) morvane::AppendUniqueWord(keywords, word);
    morvane::MonoChannelSuffix(name);
    morvane::FxNameWords(name);
    return 0;
}
