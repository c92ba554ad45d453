#pragma once
// What one export works from: a copy of the project and of the rendered blocks,
// taken on the user-interface thread, so the export can run on its own thread
// while the timeline is edited and re-rendered.
#include <memory>
#include <string>
#include <vector>

#include "audio/render_cache.h"
#include "model/timeline.h"

namespace morvane {

// The choices of one export, from the project, the preferences and the panel.
struct ExportRequest {
    std::string folder;    // the export folder (made when missing)
    std::string baseName;  // the project's name; "Morvane" when empty
    ExportSettings settings;
    float workAreaIn = -1.0f;
    float workAreaOut = -1.0f;
    int lufsIndex = 0;  // "exportWavLUFSIndex": 0 off, 1..4 = -14, -16, -18, -23 LUFS
    int layout = 0;     // "exportWavLayout": 0 stereo, 1 5.1, 2 7.1.4, 3 AmbiX
};

// The request with the project's own export settings and work area.
ExportRequest MakeExportRequest(const Project& project, const std::string& folder, const std::string& baseName,
                                int lufsIndex, int layout);

struct ExportSnapshot {
    ExportRequest request;
    Project project;  // without undo history
    std::vector<RenderBlock> blocks;  // every block resident (evicted ones read back)
    int sampleRate = 48000;
    bool deconfliction = true;
    bool cacheReady = false;
    int unreadableBlocks = 0;  // evicted blocks whose samples could not be read back
};

// Copies the project and the cache's blocks (under the cache's lock) into a snapshot.
std::shared_ptr<ExportSnapshot> TakeExportSnapshot(const Project& project, RenderCache& cache,
                                                   const ExportRequest& request);

// A private mix cache holding the snapshot's mix settings (master and group gains,
// reverb when `withReverb`, deconfliction) and no blocks yet.
std::unique_ptr<RenderCache> MakeExportMixCache(const ExportSnapshot& snapshot, bool withReverb);

// Replaces the mix cache's blocks by those of the snapshot that `keep` accepts.
template <typename Keep>
void LoadExportBlocks(RenderCache& cache, const ExportSnapshot& snapshot, Keep keep) {
    std::vector<RenderBlock> kept;
    for (const RenderBlock& block : snapshot.blocks)
        if (keep(block)) kept.push_back(block);
    ReplaceBlocks(cache, snapshot.sampleRate, std::move(kept));
}

// The layer a block was rendered from, or null when its index is stale.
const Layer* BlockLayer(const ExportSnapshot& snapshot, const RenderBlock& block);

}  // namespace morvane
