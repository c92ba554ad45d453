#pragma once
// Rendering one built layer into a block of the render cache: its source audio at
// the project rate (plain segment, fill, alloy, or a sketch's synthesized sound),
// the destructive EQ, scale tuning, pitch shift, reverse and frequency shift, the
// envelope, the level (weight factor, peak guard, loudness normalisation towards
// its group's target) and its group's placement in the sound field.
#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "audio/alloy_morph.h"
#include "audio/render_cache.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

// Everything a layer's render reads besides the layer itself. Made once per
// rebuild (MakeLayerRenderContext) and shared by every layer of it.
struct LayerRenderContext {
    int sampleRate = 48000;
    const std::vector<Event>* events = nullptr;
    std::vector<float> eventGains;  // every event's gain, by index
    int scaleType = 0;
    int scaleRoot = 0;
    // Renders that only reuse earlier results: no scale tuning, and layers are not
    // marked as placeholders.
    bool analysisFree = false;
    bool normalize = true;  // loudness normalisation towards the group targets
    bool skipEq = false;    // leave the destructive EQ out
    std::array<float, kGroupCount> groupTargetLUFS{-24.0f, -24.0f, -24.0f};
    AlloySettings alloy;       // the project's alloy settings (morph comes from each layer)
    int channelOrderFallback = 0;
    int reverseProb = 0;  // % of layers played backwards (the project's setting)
    int freqShiftIntensity = 0;  // % of the largest frequency shift (the project's setting)
    // Each mix group's placement, stamped on the blocks of its layers.
    std::array<GroupPlacement, kGroupCount> groupPlacement{};
    // fileId -> current path, from the libraries; empty when none were given.
    std::unordered_map<std::string, std::string> pathOfFileId;
};

// The context for rendering `project`'s results; `libraries` may be null.
// `channelOrderFallback` is the preference of that name (0..2), read by the caller
// on its own thread.
LayerRenderContext MakeLayerRenderContext(const Project& project, LibrarySet* libraries, int channelOrderFallback);

// The level factor of a layer's weight: 1 up to 0.7, then down to 0.7 at 0.85 and
// beyond (heavier layers lose up to 30 %).
float WeightLevelFactor(float weight);

// Renders `layer` (results index `layerIndex`) into a block without touching the
// cache. Writes back to the layer what the render decides: a relinked filepath,
// normGain, pitchShift after scale tuning, fresh fillChunks. False for a layer
// with no file that is not a placeholder: it gets no block.
bool RenderLayerBlock(const LayerRenderContext& context, Layer& layer, int layerIndex, RenderBlock* block);

// RenderLayerBlock, then appends the block under the cache's lock. Returns the new
// block's index, or -1 when the layer got no block.
int RenderLayer(RenderCache& cache, const LayerRenderContext& context, Layer& layer, int layerIndex);

// The current path of a layer's file: through its fileId (libraries first, then
// the identity registry), else its own path. Sets *moved when the id led elsewhere.
std::string RelinkedPath(const LayerRenderContext& context, const std::string& path, const std::string& fileId,
                         bool* moved);

}  // namespace morvane
