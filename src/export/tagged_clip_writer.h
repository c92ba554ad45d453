#pragma once
// The writer of variation takes: 16- or 24-bit WAV, mono or stereo, with a bext
// description and an optional iXML chunk.
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The bext description of a take: text up to 255 characters stays as it is; longer
// text is cut just before its last ", " that lies within the first 257 characters
// when that separator starts at character 33 or later, otherwise at 255 bytes
// (never inside a UTF-8 character).
std::string CutBextDescription(const std::string& text);

// `interleaved` holds frames x channels samples (channels 1 or 2). `bitDepth` 16
// gives 16-bit PCM, anything else 24-bit. An empty description writes no bext
// chunk; an empty `ixml` writes no iXML chunk. The file is written under a temporary
// name and renamed into place when whole; a failed write leaves nothing.
bool WriteTaggedClip(const std::string& path, int channels, int bitDepth, int32_t sampleRate,
                     const std::vector<float>& interleaved, const std::string& description,
                     const std::string& ixml);

}  // namespace morvane
