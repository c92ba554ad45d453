#pragma once
// Rendering a whole built timeline into a render cache on the calling thread, and
// mixing a stretch of that cache offline through the playback mixer. The command-line
// tool, export and variations use these; the background rebuild job runs the same
// render path (render_jobs.h).
#include <functional>
#include <string>
#include <vector>

#include "audio/render_cache.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

struct RenderOptions {
    // Called now and then with the fraction done (0..1); returning false cancels.
    std::function<bool(float fraction)> progress;
    // Layers are relinked by file id through these libraries (and the process-wide
    // identity registry); may be null, then only the registry is asked.
    LibrarySet* libraries = nullptr;
    // Renders every layer in one sweep instead of two (the same cache contents);
    // MV_SINGLE_PASS in the environment sets it too.
    bool singlePass = false;
    // The "channelOrderFallback" preference (0..2): channel order of multichannel
    // files without a channel map.
    int channelOrderFallback = 0;
};

// Renders every layer of project.timeline.results into `cache` at the project's
// sample rate, on the calling thread, and copies the project's master, group and
// reverb settings into the cache's mixer. The render writes back what it learns
// about each layer (normGain, relinked filepath, detected pitch and tuned
// pitchShift, assembled fillChunks), which is why the project is not const.
// Returns false with a one-line error when cancelled or when nothing could be
// rendered (no layers at all); a layer whose file is missing renders as silence
// and does not fail the whole render.
bool RenderTimelineBlocking(Project& project, RenderCache& cache, const RenderOptions& options,
                            std::string* error);

// Mixes [start, end) seconds of the cache offline through the playback mixer (group
// and master gains, reverb, limiter, fades, curves) into interleaved float samples
// with `channels` channels: 2 through MixStereo, any other count through
// MixMultichannel with the cache's monitoring layout. The output level starts at
// full (no fade-in ramp at `start`), the preview and the video's own sound are left
// out, and the limiter keeps every sample at or below 0.891 (-1 dBFS). The cache's
// transport is taken over for the mix and left stopped: do not call it on a cache
// that is playing through a device. A cache with a memory budget has its evicted
// blocks restored ahead of the mix as it goes. Returns false with a one-line error for an
// empty or inverted range, a channel count outside 1..32, or when cancelled.
bool MixOffline(RenderCache& cache, double start, double end, int channels, std::vector<float>& interleaved,
                const std::function<bool(float)>& progress, std::string* error);

}  // namespace morvane
