#pragma once
// Fill layers cover a whole event with a file that is often shorter than it: the
// file is cut into chunks laid end to end, each joined to the one before by a
// short crossfade. A chunk {s, l, x}: source start frame s, length l frames, and
// x frames of crossfade into it (0 for the first), all at the project rate.
#include <cstdint>
#include <vector>

#include "model/timeline.h"

namespace morvane {

// Frames the chunks cover once laid out: the sum of lengths less the crossfades.
int64_t FillLength(const std::vector<FillChunk>& chunks);

// True when the chunks can be reused for a fill of `neededFrames`: not empty and
// within 5 % of it.
bool FillChunksFit(const std::vector<FillChunk>& chunks, int64_t neededFrames);

// A fresh chunk list covering `neededFrames` from a source of `sourceFrames`: the
// first chunk starts at `firstStart`, later ones at the start of the source, joined
// by 50 ms crossfades (a quarter of the source at most).
std::vector<FillChunk> MakeFillChunks(int64_t sourceFrames, int64_t neededFrames, int64_t firstStart,
                                      int sampleRate);

// Lays the chunks of `source` (one channel) out into one buffer, with equal-power
// crossfades at the joins. Chunks reaching past the source end read silence there.
std::vector<float> AssembleFill(const std::vector<float>& source, const std::vector<FillChunk>& chunks);

}  // namespace morvane
