#pragma once
// Writes a 24-bit WAV file with a bext chunk (description, originator, date) and an
// iXML chunk carrying the UCS category and keywords, the way field recorders and
// library tools tag their files, so the library scan finds the words.
#include <string>
#include <vector>

#include "demo/synth.h"

namespace morvane::demo {

struct WavMetadata {
    std::string description;  // bext description (at most 256 bytes are kept)
    std::string originator = "Morvane";
    std::string originationDate = "2026-01-01";  // yyyy-mm-dd: fixed, so every build ships identical files
    std::string originationTime = "00:00:00";
    std::string catId, category, subCategory, fxName, keywords;
};

// The iXML document for the metadata (text escaped for XML).
std::string FormatIxml(const WavMetadata& metadata);

// Writes channels (all the same length) at `rate` to `path` through a temporary file
// renamed into place, so a failure leaves no half-written file. On failure returns
// false with one line in *error naming the file.
bool WriteWavWithMetadata(const std::string& path, const std::vector<Signal>& channels, int rate,
                          const WavMetadata& metadata, std::string* error);

}  // namespace morvane::demo
