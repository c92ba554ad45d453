#pragma once
// The chunk-level finishing of a WAVE_FORMAT_EXTENSIBLE file: the speaker mask is
// written into the format chunk and the "fact" chunk is dropped. Receiving tools
// take their speaker layout from the mask, and some refuse a PCM file that carries
// a "fact" chunk.
#include <cstdint>
#include <string>

namespace morvane {

// Rewrites `path` through "<path>.tmp": every chunk is copied except "fact", and a
// format chunk of at least 40 bytes gets `speakerMask` as its channel mask. Returns
// false on any read or write error, leaving the file as it was.
bool FinalizeExtensibleWav(const std::string& path, uint32_t speakerMask);

}  // namespace morvane
