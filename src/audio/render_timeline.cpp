#include "audio/render_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/block_eviction.h"
#include "audio/layer_render.h"
#include "audio/mixer.h"
#include "audio/render_sweep.h"

namespace morvane {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

double PlaySeconds(RenderCache& cache) {
    return static_cast<double>(cache.mixer.transport.playPosition.load(std::memory_order_acquire)) /
           std::max(1, cache.sampleRate.load());
}

}  // namespace

bool SinglePassForced() {
    const char* value = std::getenv("MV_SINGLE_PASS");
    return value != nullptr && *value != '\0';
}

void CopyMixSettings(const Project& project, RenderCache& cache) {
    SetMixGains(cache, project.masterGain, project.groupGain.data());
    SetReverbSettings(cache, project.reverb);
    cache.mixer.settings.videoStartTime.store(project.videoStartTime, std::memory_order_relaxed);
    cache.normalize.store(project.timeline.settings.normalizeLUFS, std::memory_order_relaxed);
}

SweepResult RenderLayersIntoCache(Project& project, RenderCache& cache, const LayerRenderContext& context,
                                  bool singlePass, const std::function<bool(int done, int total)>& progress) {
    SweepResult result;
    const int64_t budget = cache.memoryBudget.load();
    std::vector<Layer>& results = project.timeline.results;
    const int total = static_cast<int>(results.size());
    const size_t reserve = std::max<size_t>(results.size(), project.timeline.events.size() * 8);
    if (singlePass) {
        // One sweep: every block enters the live cache as soon as it is rendered.
        result.filledInSweep = true;
        ResetCache(cache, context.sampleRate, reserve);
        int64_t sinceCheck = 0;
        for (int i = 0; i < total; ++i) {
            RenderBlock block;
            if (RenderLayerBlock(context, results[static_cast<size_t>(i)], i, &block)) {
                ++result.blocks;
                sinceCheck += BlockAudioBytes(block);
                AppendBlock(cache, std::move(block));
            }
            // A pass costs a walk over the blocks: run one per eighth of the budget
            // rendered, not per block.
            if (budget > 0 && sinceCheck > budget / 8) {
                RunEvictionPass(cache, PlaySeconds(cache));
                sinceCheck = 0;
            }
            if (progress && !progress(i + 1, total)) {
                result.cancelled = true;
                return result;
            }
        }
        if (budget > 0) RunEvictionPass(cache, PlaySeconds(cache));  // the last blocks too
        return result;
    }
    // Two sweeps: render every block aside, then swap the whole set in under one
    // lock, so playback goes from the old timeline to the new one in one step and a
    // cancelled render leaves the old one playing.
    std::vector<RenderBlock> staged;
    staged.reserve(results.size());
    std::shared_ptr<BlockSpill> spill = budget > 0 ? CacheSpill(cache) : nullptr;
    int64_t stagedBytes = 0;
    for (int i = 0; i < total; ++i) {
        RenderBlock block;
        if (RenderLayerBlock(context, results[static_cast<size_t>(i)], i, &block)) {
            stagedBytes += BlockAudioBytes(block);
            staged.push_back(std::move(block));
        }
        // The old blocks stay in the cache until the swap, so the staged ones get
        // what is left of the budget; evicting down to 7/8 of it leaves room for
        // the next few blocks before another pass.
        if (spill && stagedBytes > budget / 8) {
            const int64_t room = budget - ResidentAudioBytes(cache);
            if (stagedBytes > room) {
                const int64_t keep = std::max<int64_t>(0, room - budget / 8);
                stagedBytes -= EvictStagedBlocks(staged, *spill, keep, PlaySeconds(cache));
            }
        }
        if (progress && !progress(i + 1, total)) {
            result.cancelled = true;
            return result;
        }
    }
    result.blocks = ReplaceBlocks(cache, context.sampleRate, std::move(staged));
    if (budget > 0) RunEvictionPass(cache, PlaySeconds(cache));
    return result;
}

bool RenderTimelineBlocking(Project& project, RenderCache& cache, const RenderOptions& options, std::string* error) {
    if (project.timeline.results.empty()) {
        SetError(error, "nothing to render: the project has no built layers (run build first)");
        return false;
    }
    CopyMixSettings(project, cache);
    const LayerRenderContext context = MakeLayerRenderContext(project, options.libraries, options.channelOrderFallback);
    auto progress = [&](int done, int total) {
        return !options.progress || options.progress(total > 0 ? static_cast<float>(done) / total : 1.0f);
    };
    const SweepResult sweep =
        RenderLayersIntoCache(project, cache, context, options.singlePass || SinglePassForced(), progress);
    if (sweep.cancelled) {
        SetError(error, "render cancelled");
        return false;
    }
    if (sweep.blocks == 0) {
        SetError(error, "nothing could be rendered: none of the " + std::to_string(project.timeline.results.size()) +
                            " layers has a sound file or a placeholder");
        return false;
    }
    FinalizeCache(cache, false);
    return true;
}

bool MixOffline(RenderCache& cache, double start, double end, int channels, std::vector<float>& interleaved,
                const std::function<bool(float)>& progress, std::string* error) {
    interleaved.clear();
    if (!std::isfinite(start) || !std::isfinite(end) || start < 0.0 || end <= start) {
        char text[128];
        std::snprintf(text, sizeof text, "bad range %.3f..%.3f s: it must start at 0 or later and end after it", start, end);
        SetError(error, text);
        return false;
    }
    if (channels < 1 || channels > 32) {
        SetError(error, "bad channel count " + std::to_string(channels) + ": 1 to 32 are possible");
        return false;
    }
    const int rate = cache.sampleRate.load();
    if (rate < 1) {
        SetError(error, "the render cache has no sample rate");
        return false;
    }
    const int64_t first = static_cast<int64_t>(std::llround(start * rate));
    const int64_t frames = static_cast<int64_t>(std::llround(end * rate)) - first;
    if (frames <= 0) {
        SetError(error, "the range is shorter than one sample");
        return false;
    }
    MixerState& m = cache.mixer;

    // Take the transport over: playing from `start` at full level with fresh reverb
    // and filter histories (the offline mix leaves out the preview, the video's
    // sound and the alternative renderer by itself).
    m.transport.playPosition.store(first, std::memory_order_release);
    m.transport.playing.store(true, std::memory_order_release);
    m.audio.outputLevel = 1.0f;
    m.transport.clearHistories.store(true, std::memory_order_release);

    interleaved.assign(static_cast<size_t>(frames) * static_cast<size_t>(channels), 0.0f);
    std::vector<float> left(kMixFrames), right(kMixFrames);
    bool cancelled = false;
    int lastPercent = -1;
    // A cache kept within a memory budget has evicted far blocks: bring back the
    // ones ahead before they are mixed (a window reaches 30 s ahead, so a pass
    // every 10 s of mix keeps every block resident in time).
    const bool budgeted = cache.memoryBudget.load() > 0;
    int64_t nextPass = 0;
    for (int64_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<int64_t>(kMixFrames, frames - done));
        if (budgeted && done >= nextPass) {
            RunEvictionPass(cache, static_cast<double>(first + done) / rate);
            nextPass = done + static_cast<int64_t>(10) * rate;
        }
        float* out = interleaved.data() + static_cast<size_t>(done) * channels;
        // Offline, waiting is fine and a dropout is not: the lock is held for the
        // buffer, so the mix never fails, even while a rebuild works.
        {
            CacheGuard hold(cache);
            if (channels <= 2) {
                MixStereoOffline(hold, left.data(), right.data(), n);
                for (int i = 0; i < n; ++i) {
                    if (channels == 2) {
                        out[2 * i] = left[static_cast<size_t>(i)];
                        out[2 * i + 1] = right[static_cast<size_t>(i)];
                    } else {
                        out[i] = 0.5f * (left[static_cast<size_t>(i)] + right[static_cast<size_t>(i)]);
                    }
                }
            } else {
                MixMultichannelOffline(hold, out, n, channels);
            }
        }
        done += n;
        // Set the position outright rather than trust the mixer's own advance, so
        // nothing (a seek from elsewhere) can shift the rest of the mix.
        m.transport.playPosition.store(first + done, std::memory_order_release);
        const int percent = static_cast<int>(100 * done / frames);
        if (progress && percent != lastPercent) {
            lastPercent = percent;
            if (!progress(static_cast<float>(done) / static_cast<float>(frames))) {
                cancelled = true;
                break;
            }
        }
    }

    m.transport.playing.store(false, std::memory_order_release);
    m.audio.outputLevel = 0.0f;
    m.audio.tailLevel = 0.0f;
    m.transport.clearHistories.store(true, std::memory_order_release);
    if (cancelled) {
        interleaved.clear();
        SetError(error, "mix cancelled");
        return false;
    }
    return true;
}

}  // namespace morvane
