#include "audio/render_jobs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "audio/layer_render.h"
#include "audio/mixer.h"
#include "audio/render_sweep.h"
#include "model/timeline.h"

namespace morvane {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string CutReason(const std::string& reason) { return CutText(reason, 63); }

bool Cancelled(const RebuildTarget& target) {
    return target.slot != nullptr && target.slot->cancelRequested.load(std::memory_order_acquire);
}

void AddProgress(const RebuildTarget& target) {
    if (target.slot != nullptr) target.slot->progress.fetch_add(1, std::memory_order_acq_rel);
}

std::atomic<bool>& DeferredFlag(RebuildTarget& target) {
    static std::atomic<bool> unused{false};
    return target.slot != nullptr ? target.slot->deferredRebuild : unused;
}

void ResetPlayback(RebuildTarget& target) {
    const double seconds = target.transportSeconds ? target.transportSeconds() : 0.0;
    ResetPlaybackAfterRebuild(*target.cache, seconds);
}

void RunPasses(RebuildTarget& target) {
    RunPostBuildPasses(*target.project, MakeBandLookup(target.roots), target.protectSilence, target.destructiveEQ);
}

std::array<int, kGroupCount> UsedTracks(const std::vector<Layer>& results) {
    std::array<int, kGroupCount> used{};
    for (const Layer& l : results)
        if (l.group >= 0 && l.group < kGroupCount) used[l.group] = std::max(used[l.group], l.groupTrack + 1);
    return used;
}

// The layers of `events`, in results order, rendered into blocks aside: no lock
// is held while sounds are decoded and rendered.
std::vector<RenderBlock> RenderEventBlocks(const LayerRenderContext& context, const std::vector<int>& events,
                                           std::vector<Layer>& results) {
    std::vector<RenderBlock> blocks;
    for (int eventIndex : events)
        for (size_t i = 0; i < results.size(); ++i) {
            if (results[i].eventIdx != eventIndex) continue;
            RenderBlock block;
            if (RenderLayerBlock(context, results[i], static_cast<int>(i), &block)) blocks.push_back(std::move(block));
        }
    return blocks;
}

// Under the caller's lock: the events' old blocks make way for the fresh ones.
void SwapEventBlocks(CacheGuard& held, int sampleRate, const std::vector<int>& events,
                     std::vector<RenderBlock>& fresh) {
    held.Cache().sampleRate = sampleRate;
    for (int eventIndex : events) RemoveEventBlocks(held, eventIndex);
    for (RenderBlock& block : fresh) AppendBlock(held, std::move(block));
}

// Renders the listed events aside, then in one step under one lock: their blocks
// are swapped, all blocks follow their layers (the passes may have reordered the
// results, so the check only fails for blocks whose layer really is gone), the
// cache is checked and finalised. Playback never hears an event half replaced.
bool RefreshEvents(RebuildTarget& target, const std::vector<int>& events, RebuildOutcome& outcome) {
    Project& project = *target.project;
    std::vector<Layer>& results = project.timeline.results;
    const LayerRenderContext context = MakeLayerRenderContext(project, target.libraries, target.channelOrderFallback);
    std::vector<RenderBlock> fresh = RenderEventBlocks(context, events, results);
    CacheGuard guard(*target.cache);
    SwapEventBlocks(guard, context.sampleRate, events, fresh);
    RepointBlocks(guard, results);
    const bool ok =
        CheckCacheIntegrity(guard, results, static_cast<int>(project.timeline.events.size()), DeferredFlag(target));
    FinalizeCache(guard, true);
    FinalizeCache(guard, false);  // the refresh is published: generation and ready
    outcome.blocks = static_cast<int>(target.cache->blocks.size());
    return ok;
}

void PrintIncrementalTiming(int events, const Project& project, Clock::time_point began) {
    if (RenderTimingEnabled())
        std::fprintf(stderr, "[RenderTiming] INCREMENTAL | %d event(s) re-rendered, %d total blocks, TOTAL=%.0fms\n",
                     events, static_cast<int>(project.timeline.results.size()), MillisecondsSince(began));
}

RebuildOutcome RebuildEventList(RebuildTarget& target, const RebuildRequest& request) {
    RebuildOutcome outcome;
    Project& project = *target.project;
    const auto began = Clock::now();
    std::vector<int> listed;
    for (int index : request.events)
        if (index >= 0 && static_cast<size_t>(index) < project.timeline.events.size()) listed.push_back(index);
    for (int index : listed) {
        if (Cancelled(target)) {
            outcome.cancelled = true;
            break;
        }
        project.timeline.events[static_cast<size_t>(index)].locked = false;
        const BuildResult built = BuildEvents(project, target.roots, index, -1.0f, -1.0f, 0, target.buildOptions);
        outcome.eventsBuilt += built.eventsBuilt;
        outcome.build = built;
        AddProgress(target);
    }
    RunPasses(target);
    outcome.usedTracks = UsedTracks(project.timeline.results);
    SetMixGains(*target.cache, project.masterGain, project.groupGain.data());
    outcome.integrityOk = RefreshEvents(target, listed, outcome);
    PrintIncrementalTiming(static_cast<int>(request.events.size()), project, began);
    return outcome;
}

RebuildOutcome RebuildOne(RebuildTarget& target, const RebuildRequest& request) {
    RebuildOutcome outcome;
    Project& project = *target.project;
    if (request.eventIndex < 0 || static_cast<size_t>(request.eventIndex) >= project.timeline.events.size())
        return outcome;
    const auto began = Clock::now();
    if (request.nextSoundLayer >= 0) {
        // One layer changes its file in place: the others, and the passes' decisions
        // over the whole timeline, stay as they were rendered.
        if (!ChooseNextSound(project, target.roots, request.nextSoundLayer, target.buildOptions)) return outcome;
        outcome.eventsBuilt = 1;
    } else if (!request.renderOnly) {
        outcome.build = BuildEvents(project, target.roots, request.eventIndex, -1.0f, -1.0f, 0, target.buildOptions);
        outcome.eventsBuilt = outcome.build.eventsBuilt;
        RunPasses(target);
    }
    AddProgress(target);
    outcome.usedTracks = UsedTracks(project.timeline.results);
    SetMixGains(*target.cache, project.masterGain, project.groupGain.data());
    outcome.integrityOk = RefreshEvents(target, {request.eventIndex}, outcome);
    PrintIncrementalTiming(1, project, began);
    return outcome;
}

RebuildOutcome RebuildWhole(RebuildTarget& target, const RebuildRequest& request) {
    RebuildOutcome outcome;
    Project& project = *target.project;
    RenderCache& cache = *target.cache;
    const auto began = Clock::now();
    // A full rebuild decodes afresh: files may have changed on disk since.
    ClearSegmentCache();
    CopyMixSettings(project, cache);
    if (request.singlePass) {
        const int rate = IsProjectSampleRate(project.projectSampleRate) ? project.projectSampleRate : 48000;
        ResetCache(cache, rate, project.timeline.events.size() * 8);
    }
    outcome.build = BuildEvents(project, target.roots, -1, request.rangeStart, request.rangeEnd, 0, target.buildOptions);
    outcome.eventsBuilt = outcome.build.eventsBuilt;
    RunPasses(target);
    outcome.usedTracks = UsedTracks(project.timeline.results);
    const double rebuildMs = MillisecondsSince(began);

    const auto renderBegan = Clock::now();
    const LayerRenderContext context = MakeLayerRenderContext(project, target.libraries, target.channelOrderFallback);
    // The single-pass rebuild renders in one sweep when MV_SINGLE_PASS asks for it;
    // every other rebuild renders aside and swaps the blocks in at once.
    const bool oneSweep = request.singlePass && SinglePassForced();
    const SweepResult sweep = RenderLayersIntoCache(project, cache, context, oneSweep, [&](int, int) {
        AddProgress(target);
        return !Cancelled(target);
    });
    const double renderMs = MillisecondsSince(renderBegan);
    outcome.cancelled = sweep.cancelled;
    outcome.blocks = sweep.blocks;

    const auto postBegan = Clock::now();
    if (!sweep.cancelled) {
        FinalizeCache(cache, false);
        outcome.integrityOk = CheckCacheIntegrity(cache, project.timeline.results,
                                                  static_cast<int>(project.timeline.events.size()), DeferredFlag(target));
    }
    const double postMs = MillisecondsSince(postBegan);
    if (RenderTimingEnabled())
        std::fprintf(stderr,
                     "[RenderTiming] %-11s | stream(render%s)=%.0fms  postproc=%.0fms  rebuild=%.0fms  TOTAL=%.0fms  "
                     "(%d blocks)\n",
                     oneSweep ? "SINGLE-PASS" : "double-pass", sweep.filledInSweep ? "+cache" : "", renderMs, postMs,
                     rebuildMs, MillisecondsSince(began), sweep.blocks);
    return outcome;
}

}  // namespace

RenderJobSlot& TheRenderJobSlot() {
    static RenderJobSlot slot;
    return slot;
}

bool SubmitJob(RenderJobSlot& slot, const std::string& reason, std::function<void()> job, bool blocking,
               float progressTarget) {
    if (!job || slot.shuttingDown.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (slot.busy.load(std::memory_order_acquire)) return false;
    slot.statusText = CutReason(reason);
    slot.progressTarget = progressTarget;
    slot.progress.store(0, std::memory_order_relaxed);
    slot.done.store(false, std::memory_order_relaxed);
    slot.cancelRequested.store(false, std::memory_order_relaxed);
    slot.blocking.store(blocking, std::memory_order_relaxed);
    slot.started.store(false, std::memory_order_relaxed);
    slot.framesSinceAccepted = 0;
    slot.job = std::move(job);
    slot.busy.store(true, std::memory_order_release);
    return true;
}

bool PollJobSlot(RenderJobSlot& slot) {
    std::unique_lock<std::mutex> lock(slot.mutex);
    if (!slot.busy.load(std::memory_order_acquire)) return false;
    if (!slot.started.load(std::memory_order_acquire)) {
        if (!slot.job) return false;
        if (slot.framesSinceAccepted++ == 0) return false;  // let the status text show first
        slot.started.store(true, std::memory_order_release);
        std::function<void()> job = slot.job;
        slot.worker = std::thread([&slot, job]() {
            job();
            slot.done.store(true, std::memory_order_release);  // the job's last act
        });
        return false;
    }
    if (!slot.done.load(std::memory_order_acquire)) return false;
    std::thread finished = std::move(slot.worker);
    slot.job = nullptr;
    slot.statusText.clear();
    slot.blocking.store(false, std::memory_order_relaxed);
    slot.cancelRequested.store(false, std::memory_order_relaxed);
    slot.started.store(false, std::memory_order_relaxed);
    slot.busy.store(false, std::memory_order_release);
    lock.unlock();
    if (finished.joinable()) finished.join();  // it has already returned
    return true;
}

void RequestCancel(RenderJobSlot& slot) {
    if (slot.busy.load(std::memory_order_acquire)) slot.cancelRequested.store(true, std::memory_order_release);
}

void ShutdownJobSlot(RenderJobSlot& slot) {
    slot.shuttingDown.store(true, std::memory_order_release);
    slot.cancelRequested.store(true, std::memory_order_release);
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        worker = std::move(slot.worker);
    }
    if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.job = nullptr;
    slot.busy.store(false, std::memory_order_release);
    slot.started.store(false, std::memory_order_release);
}

std::string JobStatusText(RenderJobSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.busy.load(std::memory_order_acquire) ? slot.statusText : std::string();
}

bool RenderTimingEnabled() {
    const char* value = std::getenv("MV_RENDER_TIMING");
    return value != nullptr && *value != '\0';
}

RebuildOutcome RebuildEvents(RebuildTarget& target, const RebuildRequest& request) {
    RebuildOutcome outcome;
    if (target.project == nullptr || target.cache == nullptr) return outcome;
    {
        std::unique_lock<std::mutex> results;
        if (target.resultsMutex != nullptr) results = std::unique_lock<std::mutex>(*target.resultsMutex);
        if (request.mode == kRebuildEventList && !request.events.empty())
            outcome = RebuildEventList(target, request);
        else if (request.mode == kRebuildOneEvent)
            outcome = RebuildOne(target, request);
        else
            outcome = RebuildWhole(target, request);
    }
    ResetPlayback(target);
    return outcome;
}

bool RebuildCacheAsync(RebuildTarget& target, const std::string& reason, bool analysisFree) {
    if (target.slot == nullptr || target.project == nullptr || target.cache == nullptr) return false;
    RebuildTarget* t = &target;
    auto job = [t, analysisFree]() {
        {
            std::unique_lock<std::mutex> results;
            if (t->resultsMutex != nullptr) results = std::unique_lock<std::mutex>(*t->resultsMutex);
            Project& project = *t->project;
            CopyMixSettings(project, *t->cache);
            LayerRenderContext context = MakeLayerRenderContext(project, t->libraries, t->channelOrderFallback);
            context.analysisFree = analysisFree;
            const SweepResult sweep = RenderLayersIntoCache(project, *t->cache, context, SinglePassForced(), [t](int, int) {
                AddProgress(*t);
                return !Cancelled(*t);
            });
            if (!sweep.cancelled) FinalizeCache(*t->cache, false);
        }
        ResetPlayback(*t);
    };
    // The results are the worker's while a job runs: read their size only when none does.
    const bool idle = !target.slot->busy.load(std::memory_order_acquire);
    if (idle && target.prepare) target.prepare();
    const float layers = idle ? static_cast<float>(target.project->timeline.results.size()) : -1.0f;
    if (!idle || !SubmitJob(*target.slot, reason, std::move(job), false, layers)) {
        target.slot->deferredRebuild.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

bool RebuildAsync(RebuildTarget& target, const RebuildRequest& request, const std::string& reason) {
    if (target.slot == nullptr) return false;
    RebuildTarget* t = &target;
    const float progressTarget =
        request.mode == kRebuildEventList ? static_cast<float>(request.events.size()) : -1.0f;
    if (target.prepare && !target.slot->busy.load(std::memory_order_acquire)) target.prepare();
    if (!SubmitJob(*target.slot, reason, [t, request]() { RebuildEvents(*t, request); }, request.mode == kRebuildWhole,
                   progressTarget)) {
        target.slot->deferredRebuild.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

bool RunDeferredRebuilds(RebuildTarget& target, const std::function<bool()>& refreshBeds) {
    if (target.slot == nullptr) return false;
    RenderJobSlot& slot = *target.slot;
    if (slot.busy.load(std::memory_order_acquire)) return false;
    if (refreshBeds && refreshBeds()) slot.deferredRebuild.store(true, std::memory_order_release);
    if (!slot.deferredRebuild.load(std::memory_order_acquire) || slot.busy.load(std::memory_order_acquire)) return false;
    slot.deferredRebuild.store(false, std::memory_order_release);
    return RebuildCacheAsync(target, "Updating audio\xE2\x80\xA6", false);
}

}  // namespace morvane
