#include "audio/group_placement.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "audio/ambisonics.h"

namespace morvane {

void PlaceBlock(RenderBlock& block, const GroupPlacement& placement) {
    const int mode = SpatialModeForPlacement(static_cast<int>(placement.mode));
    const float amount = std::isfinite(placement.amount) ? std::clamp(placement.amount / 100.0f, 0.0f, 1.0f) : 0.5f;
    // A block that gains side components again starts their filters afresh rather
    // than from whatever they held when the group was last spread.
    if (mode != block.spatialMode) block.sideFilterRate = 0;
    block.spatialMode = mode;
    block.spatialAmount = amount;
}

void ApplyGroupPlacement(RenderCache& cache, const std::array<GroupPlacement, kGroupCount>& placement) {
    const CacheGuard guard(cache);
    for (RenderBlock& block : cache.blocks)
        PlaceBlock(block, placement[static_cast<size_t>(std::clamp(block.group, 0, kGroupCount - 1))]);
}

}  // namespace morvane
