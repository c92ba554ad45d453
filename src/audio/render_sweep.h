#pragma once
// The render sweep shared by the blocking render and the background rebuild job:
// every layer of the results into the cache, in one sweep or in two.
#include <functional>

#include "audio/layer_render.h"
#include "audio/render_cache.h"
#include "model/timeline.h"

namespace morvane {

struct SweepResult {
    int blocks = 0;              // blocks in the cache afterwards
    bool cancelled = false;
    bool filledInSweep = false;  // the cache was filled while rendering (single sweep)
};

// True when MV_SINGLE_PASS is set (to anything but an empty text).
bool SinglePassForced();

// Renders every layer of project.timeline.results. Single sweep: the cache is
// emptied and each block is appended as soon as it is rendered. Two sweeps: all
// blocks are rendered aside first and then replace the cache's blocks under one
// lock (a cancelled render leaves the old blocks in place). Both give the same
// blocks in the same order. `progress` (may be empty) gets layers done and the
// total after every layer; returning false cancels. Blocks are kept within the
// cache's memory budget as they arrive (block_eviction.h).
SweepResult RenderLayersIntoCache(Project& project, RenderCache& cache, const LayerRenderContext& context,
                                  bool singlePass, const std::function<bool(int done, int total)>& progress);

// Master and group gains, reverb, the video's start and the normalisation switch
// of the project into the cache's mixer.
void CopyMixSettings(const Project& project, RenderCache& cache);

}  // namespace morvane
