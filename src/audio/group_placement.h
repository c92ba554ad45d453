#pragma once
// A mix group's placement (Direct, Spread, Diffuse and an amount) carried to the
// rendered blocks of its layers: the render stamps each new block, and a change
// in the mixer re-stamps the blocks already in the cache, so moving a group in
// the sound field never needs a re-render.
#include <array>

#include "audio/render_cache.h"
#include "model/timeline.h"

namespace morvane {

// Sets the block's spatial mode and amount from its group's placement: Direct
// gives no spread (mode −1, the plain placement), Spread and Diffuse keep their
// numbers, and the amount in percent becomes 0..1 (kept under Direct too, where
// the mixer does not read it).
void PlaceBlock(RenderBlock& block, const GroupPlacement& placement);

// PlaceBlock for every block of the cache, by each block's group, under the cache
// mutex (the audio thread reads the placement only while it holds that mutex).
void ApplyGroupPlacement(RenderCache& cache, const std::array<GroupPlacement, kGroupCount>& placement);

}  // namespace morvane
