#include "export/export_snapshot.h"

#include "audio/block_eviction.h"
#include "audio/mixer.h"

namespace morvane {

ExportRequest MakeExportRequest(const Project& project, const std::string& folder, const std::string& baseName,
                                int lufsIndex, int layout) {
    ExportRequest request;
    request.folder = folder;
    request.baseName = baseName;
    request.settings = project.exportSettings;
    request.workAreaIn = project.workAreaIn;
    request.workAreaOut = project.workAreaOut;
    request.lufsIndex = lufsIndex;
    request.layout = layout;
    return request;
}

std::shared_ptr<ExportSnapshot> TakeExportSnapshot(const Project& project, RenderCache& cache,
                                                   const ExportRequest& request) {
    auto snapshot = std::make_shared<ExportSnapshot>();
    snapshot->request = request;
    snapshot->project.timeline = project.timeline;
    snapshot->project.videoPath = project.videoPath;
    snapshot->project.videoStartTime = project.videoStartTime;
    snapshot->project.projectSampleRate = project.projectSampleRate;
    snapshot->project.masterGain = project.masterGain;
    snapshot->project.groupGain = project.groupGain;
    snapshot->project.exportSettings = project.exportSettings;
    snapshot->project.workAreaIn = project.workAreaIn;
    snapshot->project.workAreaOut = project.workAreaOut;
    snapshot->project.reverb = project.reverb;
    std::shared_ptr<BlockSpill> spill;
    {
        const CacheGuard guard(cache);
        snapshot->blocks = cache.blocks;
        snapshot->sampleRate = cache.sampleRate.load();
        snapshot->deconfliction = cache.mixer.settings.deconfliction.load();
        snapshot->cacheReady = cache.ready.load();
        spill = cache.spill;
    }
    // Blocks moved out of memory to keep playback within its budget are read back:
    // the export needs every sample, wherever the play position is.
    for (RenderBlock& block : snapshot->blocks) {
        if (block.audio || block.spillOffset < 0) continue;
        auto audio = std::make_shared<BlockAudio>();
        if (spill && ReadSpilledAudio(*spill, block, audio.get()))
            block.audio = std::move(audio);
        else
            ++snapshot->unreadableBlocks;
    }
    return snapshot;
}

std::unique_ptr<RenderCache> MakeExportMixCache(const ExportSnapshot& snapshot, bool withReverb) {
    auto cache = std::make_unique<RenderCache>();
    ResetCache(*cache, snapshot.sampleRate, snapshot.blocks.size());
    const Project& p = snapshot.project;
    SetMixGains(*cache, p.masterGain, p.groupGain.data());
    ReverbSettings reverb = p.reverb;
    reverb.enabled = withReverb && p.reverb.enabled;
    SetReverbSettings(*cache, reverb);
    cache->mixer.settings.deconfliction.store(snapshot.deconfliction);
    cache->ready.store(true);
    return cache;
}

const Layer* BlockLayer(const ExportSnapshot& snapshot, const RenderBlock& block) {
    const std::vector<Layer>& results = snapshot.project.timeline.results;
    if (block.layerIndex < 0 || block.layerIndex >= static_cast<int>(results.size())) return nullptr;
    const Layer& layer = results[static_cast<size_t>(block.layerIndex)];
    return LayerIdentity(layer) == block.identity ? &layer : nullptr;
}

}  // namespace morvane
