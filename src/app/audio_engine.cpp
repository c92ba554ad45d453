#include "app/audio_engine.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "app/mixer_session.h"
#include "audio/audio_output.h"
#include "audio/block_eviction.h"
#include "audio/group_placement.h"
#include "audio/mixer.h"
#include "audio/reference_audio.h"
#include "audio/render_cache.h"
#include "audio/render_jobs.h"
#include "engine/event_build.h"
#include "engine/project_roots.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"
#include "model/timeline.h"
#include "model/undo.h"

namespace morvane {

namespace {

constexpr int64_t kMemoryBudget = int64_t{1} << 30;  // rendered audio kept in memory

enum class JobKind { None, Build, Refresh, Events, NextSound };

using Clock = std::chrono::steady_clock;

struct AudioEngine {
    RenderCache cache;
    AudioOutput output;
    LibrarySet libraries;  // the worker's while a job runs
    // The Library tab's enabled flags and weight classes as the job was submitted:
    // the index files alone do not hold what the user switched since the scan.
    std::vector<LibraryFolderSetting> librarySettings;
    // A scan, palette, relink or removal changed the index files since they were read.
    bool librariesStale = false;
    bool reloadLibraries = false;  // the job reads them again
    std::mutex resultsMutex;
    RebuildTarget target;

    // The copy a job works on, and what the project held when it was made: the
    // job's layers are taken back only over an unchanged timeline.
    Project jobProject;
    std::vector<Event> eventsAtSubmit;
    std::vector<Layer> resultsAtSubmit;
    JobKind jobKind = JobKind::None;
    std::atomic<bool> jobCancelled{false};
    bool discardJob = false;  // a new project was opened while it ran

    // The play position as the interface last set or saw it; read by the worker
    // (where playback resumes after a rebuild) and by the eviction thread.
    std::atomic<double> transportSeconds{0.0};
    float lastPlayhead = 0.0f;  // what the engine wrote into the playhead last frame
    HeardPosition heard;        // what the listener hears, behind the mixer by the output's latency
    double lastMixedSeconds = -1.0;  // the mixer's position at the loop's last look
    bool playing = false;       // the output plays the cache
    bool integrityCheckPending = false;
    // The list sizes at the last check: an edit that adds or removes layers (a
    // deleted event takes its layers along) needs the blocks checked again.
    size_t checkedResults = 0, checkedEvents = 0;
    std::string lastDeviceStatus;

    // Incremental work waiting for the slot: events to build again, one layer's fresh
    // sound, events to render as they stand.
    std::vector<int> pendingEvents;
    int pendingNextSound = -1;
    std::vector<int> pendingRenders;
    std::vector<int> jobEvents;  // what the running incremental job works on
    int jobNextSound = -1;
    bool jobRenderOnly = false;
    // When the edit waiting to be heard was made, for the timing line.
    Clock::time_point editAt;
    bool editTimed = false;
    int soloLayer = -1;

    std::thread evictor;
    std::mutex evictorMutex;
    std::condition_variable evictorWake;
    bool evictorStop = false;
};

AudioEngine& Engine() {
    static AudioEngine engine;
    return engine;
}

RenderJobSlot& Slot() { return TheRenderJobSlot(); }

bool JobBusy() { return Slot().busy.load(std::memory_order_acquire); }

// What a job needs of the project: its timeline and the settings the build and the
// render read. Not the undo history or the picture-trace frames, which can be large.
void CopyForJob(const Project& from, Project& to) {
    to.timeline = from.timeline;
    to.projectSampleRate = from.projectSampleRate;
    to.masterGain = from.masterGain;
    to.refGain = from.refGain;
    to.groupGain = from.groupGain;
    to.libraryPaths = from.libraryPaths;
    to.workAreaIn = from.workAreaIn;
    to.workAreaOut = from.workAreaOut;
    to.reverb = from.reverb;
    to.groupPlacement = from.groupPlacement;
}

void PrepareJob(JobKind kind) {
    AudioEngine& e = Engine();
    const Project& project = CurrentProject();
    CopyForJob(project, e.jobProject);
    e.eventsAtSubmit = project.timeline.events;
    e.resultsAtSubmit = project.timeline.results;
    e.jobKind = kind;
    e.jobCancelled.store(false, std::memory_order_relaxed);
    e.discardJob = false;
    const Preferences& prefs = Prefs();
    e.target.protectSilence = prefs.protectSilence;
    e.target.destructiveEQ = prefs.destructiveEQ;
    e.target.channelOrderFallback = prefs.channelOrderFallback;
    // A refresh renders the layers it has and chooses nothing: the libraries wait for
    // the next job that does.
    if (kind == JobKind::Refresh) return;
    e.librarySettings = prefs.libraries;
    e.reloadLibraries = e.librariesStale || kind == JobKind::Build;
    e.librariesStale = false;
}

// On the worker: the libraries the job chooses from, read again when they changed and
// kept between edits otherwise (reading them is most of the wait), with the user's
// settings over what the index files say.
void PrepareJobLibraries(RebuildTarget& target) {
    AudioEngine& engine = Engine();
    if (engine.reloadLibraries || engine.libraries.libraries.empty()) {
        engine.libraries.libraries.clear();
        LoadAllLibraries(engine.libraries);
    }
    ApplyFolderSettings(engine.libraries.libraries, engine.librarySettings);
    target.roots = ProjectLibraryRoots(*target.project, engine.libraries.libraries);
}

// Sketches stand in for sounds after a build: the status says why, in place of the
// layer count.
void ReportBuild(const std::vector<Layer>& results) {
    AudioEngine& e = Engine();
    int placeholders = 0;
    {
        CacheGuard guard(e.cache);
        for (const RenderBlock& block : e.cache.blocks) placeholders += block.placeholder ? 1 : 0;
    }
    const std::string why = PlaceholderStatusText(placeholders, !e.target.roots.empty());
    if (!why.empty()) {
        SetStatus(why, kStatusSeconds);
        return;
    }
    int placed = 0;
    for (const Layer& layer : results) placed += layer.muted ? 0 : 1;
    char text[96];
    std::snprintf(text, sizeof text, "Rendered %d layer%s", placed, placed == 1 ? "" : "s");
    SetStatus(text, kStatusSeconds);
}

// An incremental job's events and layers become the project's when the user changed
// nothing meanwhile; otherwise the same events are built again from what the project
// holds now, so the newest edit is the one heard.
void TakeIncrementalOver(JobKind kind) {
    AudioEngine& e = Engine();
    Project& project = CurrentProject();
    TimelineState& job = e.jobProject.timeline;
    if (project.timeline.events != e.eventsAtSubmit || project.timeline.results != e.resultsAtSubmit) {
        if (kind == JobKind::Events && !e.jobRenderOnly)
            for (int index : e.jobEvents) RequestEventRebuild({index});
        else Slot().deferredRebuild.store(true, std::memory_order_release);
        return;
    }
    // A fresh sound is the user's own step; an edit's rebuild belongs to the edit's.
    if (kind == JobKind::NextSound) {
        if (job.results == project.timeline.results) {
            SetStatus("No other sound to choose for this layer", kStatusSeconds);
            return;
        }
        PushUndo(project);
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        project.timeline.events = std::move(job.events);
    }
    project.timeline.results = std::move(job.results);
    project.timeline.built = job.built;
    if (e.editTimed && RenderTimingEnabled())
        std::fprintf(stderr, "[RenderTiming] EDIT-TO-SOUND | %d event(s), %.0fms from the edit to its sound\n",
                     static_cast<int>(std::max<size_t>(1, e.jobEvents.size())),
                     std::chrono::duration<double, std::milli>(Clock::now() - e.editAt).count());
    e.editTimed = false;
}

// Starts the waiting incremental work when the slot is free: a fresh sound first, then
// renders, then rebuilds (several events as one list).
void SubmitIncremental() {
    AudioEngine& e = Engine();
    if (JobBusy()) return;
    Project& project = CurrentProject();
    const auto& results = project.timeline.results;
    const int events = static_cast<int>(project.timeline.events.size());
    RebuildRequest request;
    JobKind kind = JobKind::Events;
    e.jobEvents.clear();
    e.jobNextSound = -1;
    e.jobRenderOnly = false;
    if (e.pendingNextSound >= 0) {
        const int layer = std::exchange(e.pendingNextSound, -1);
        if (static_cast<size_t>(layer) >= results.size()) return;
        kind = JobKind::NextSound;
        request.mode = kRebuildOneEvent;
        request.eventIndex = results[static_cast<size_t>(layer)].eventIdx;
        request.nextSoundLayer = layer;
        e.jobNextSound = layer;
    } else if (!e.pendingRenders.empty()) {
        request.mode = kRebuildOneEvent;
        request.eventIndex = e.pendingRenders.front();
        request.renderOnly = true;
        e.pendingRenders.erase(e.pendingRenders.begin());
        e.jobRenderOnly = true;
    } else if (!e.pendingEvents.empty()) {
        for (int index : e.pendingEvents)
            if (index >= 0 && index < events) e.jobEvents.push_back(index);
        e.pendingEvents.clear();
        if (e.jobEvents.empty()) return;
        request.mode = e.jobEvents.size() == 1 ? kRebuildOneEvent : kRebuildEventList;
        request.eventIndex = e.jobEvents.front();
        request.events = e.jobEvents;
    } else {
        return;
    }
    if (request.eventIndex < 0 || request.eventIndex >= events) return;
    PrepareJob(kind);
    RebuildTarget* target = &e.target;
    auto job = [target, request] {
        PrepareJobLibraries(*target);
        RebuildEvents(*target, request);
    };
    const char* reason = kind == JobKind::NextSound ? "Loading next sound\xE2\x80\xA6" : "Updating audio\xE2\x80\xA6";
    if (!SubmitJob(Slot(), reason, std::move(job), false, -1.0f)) e.jobKind = JobKind::None;
}

// The mixer solos a block; the soloed layer's block may change with every rebuild.
void FollowSolo() {
    AudioEngine& e = Engine();
    int block = -1;
    if (e.soloLayer >= 0) {
        CacheGuard guard(e.cache);
        for (size_t i = 0; i < e.cache.blocks.size(); ++i)
            if (e.cache.blocks[i].layerIndex == e.soloLayer) {
                block = static_cast<int>(i);
                break;
            }
    }
    e.cache.mixer.settings.soloBlock.store(block, std::memory_order_relaxed);
}

// The interface thread, on the frame a job finished: its layers become the
// project's when nothing they were made from changed meanwhile.
void TakeJobOver() {
    AudioEngine& e = Engine();
    const JobKind kind = e.jobKind;
    e.jobKind = JobKind::None;
    if (kind == JobKind::None) return;
    Project& project = CurrentProject();
    TimelineState& job = e.jobProject.timeline;
    e.integrityCheckPending = true;
    // The job placed its blocks as the groups were when it started.
    ApplyGroupPlacement(e.cache, project.groupPlacement);
    if (e.discardJob) {
        e.discardJob = false;
        ResetCache(e.cache, project.projectSampleRate, 0);
        e.integrityCheckPending = false;
        if (project.timeline.built) Slot().deferredRebuild.store(true, std::memory_order_release);
        return;
    }
    if (e.jobCancelled.load(std::memory_order_acquire)) {
        SetStatus("Render cancelled", kStatusSeconds);
        return;  // the cache still holds what it held before
    }
    if (kind == JobKind::Events || kind == JobKind::NextSound) {
        TakeIncrementalOver(kind);
        return;
    }
    if (kind == JobKind::Build) {
        if (project.timeline.events != e.eventsAtSubmit) {
            // The cache now holds the discarded build: render the project's own layers.
            SetStatus("The timeline changed while it was built; render it again", kStatusSeconds);
            if (!project.timeline.results.empty()) Slot().deferredRebuild.store(true, std::memory_order_release);
            return;
        }
        PushUndo(project);  // the build can be undone as one step
        {
            std::lock_guard<std::mutex> lock(timelineMutex);
            project.timeline.events = std::move(job.events);
        }
        project.timeline.results = std::move(job.results);
        project.timeline.built = job.built;
        ReportBuild(project.timeline.results);
        return;
    }
    // A refresh only renders: it writes what it measured into the layers (levels,
    // relinked paths, tuning), which the project keeps when its layers are the same.
    if (project.timeline.results == e.resultsAtSubmit) project.timeline.results = std::move(job.results);
    else Slot().deferredRebuild.store(true, std::memory_order_release);  // layers moved or changed meanwhile
}

void OpenOutput(int sampleRate) {
    AudioEngine& e = Engine();
    e.output.Close();
    // Surround monitoring asks for a channel per speaker; headphones and stereo for two.
    const Preferences& prefs = Prefs();
    const int wanted = prefs.monitorBinaural ? 2 : MonitorLayout(prefs.monitorLayout).speakerCount;
    e.output.SetMonitorGain(prefs.monitorGain);
    const bool opened = OpenCacheOutput(e.output, e.cache, sampleRate, wanted);
    e.lastDeviceStatus = e.output.StatusText();
    if (!opened) SetStatus(e.lastDeviceStatus, kStatusSeconds);  // the program goes on without sound
}

void CheckOutput() {
    AudioEngine& e = Engine();
    e.output.CheckDevice();
    const std::string status = e.output.StatusText();
    if (status != e.lastDeviceStatus) {
        e.lastDeviceStatus = status;
        if (!status.empty()) SetStatus(status, kStatusSeconds);
    }
}

// Keeps rendered audio far from the play position on disk and brings it back before
// it sounds. A pass can take a while on a long timeline, so it has its own thread
// rather than holding up a frame.
void EvictorLoop() {
    AudioEngine& e = Engine();
    std::unique_lock<std::mutex> lock(e.evictorMutex);
    while (!e.evictorStop) {
        e.evictorWake.wait_for(lock, std::chrono::milliseconds(100));
        if (e.evictorStop) break;
        lock.unlock();
        if (e.cache.ready.load(std::memory_order_acquire)) {
            const double rate = e.cache.sampleRate.load();
            const double seconds = e.cache.mixer.transport.playing.load(std::memory_order_acquire) && rate > 0
                                       ? static_cast<double>(e.cache.mixer.transport.playPosition.load()) / rate
                                       : e.transportSeconds.load(std::memory_order_relaxed);
            RunEvictionPass(e.cache, seconds);
        }
        lock.lock();
    }
}

void StopBackgroundWork() {
    AudioEngine& e = Engine();
    ShutdownJobSlot(Slot());
    {
        std::lock_guard<std::mutex> lock(e.evictorMutex);
        e.evictorStop = true;
    }
    e.evictorWake.notify_all();
    if (e.evictor.joinable()) e.evictor.join();
}

void ClearAudio() {
    AudioEngine& e = Engine();
    StopAudioPlayback();
    if (JobBusy()) {
        e.discardJob = true;
        RequestCancel(Slot());
    }
    Slot().deferredRebuild.store(false, std::memory_order_release);
    e.integrityCheckPending = false;
    // Requests of the project that is closing mean nothing to the next one.
    e.pendingEvents.clear();
    e.pendingRenders.clear();
    e.pendingNextSound = -1;
    e.editTimed = false;
    e.soloLayer = -1;
    ResetCache(e.cache, CurrentProject().projectSampleRate, 0);
}

}  // namespace

RenderCache& PlaybackCache() { return Engine().cache; }
AudioOutput& PlaybackOutput() { return Engine().output; }

void ReopenAudioOutput() {
    SetMonitoring(Engine().cache, Prefs());
    OpenOutput(App().outputSampleRate);
}

void ConnectAudioEngine() {
    AudioEngine& e = Engine();
    e.target.project = &e.jobProject;
    e.target.cache = &e.cache;
    e.target.resultsMutex = &e.resultsMutex;
    e.target.slot = &Slot();
    e.target.libraries = &e.libraries;
    e.target.transportSeconds = [] { return Engine().transportSeconds.load(std::memory_order_relaxed); };
    // Refreshes (after an open, deferred ones) render from a copy made as they start.
    e.target.prepare = [] { PrepareJob(JobKind::Refresh); };
    SetMemoryBudget(e.cache, kMemoryBudget);
    // The video's own sound plays under the mix (the video session publishes it).
    SetReferenceAudio(e.cache, [](void*, float* left, float* right, int frames, double videoTime, int rate) {
        MixReferenceAudio(left, right, frames, videoTime, rate);
    }, nullptr);
    e.evictor = std::thread(EvictorLoop);

    ShellHooks& hooks = App().hooks;
    hooks.openAudioOutput = [](int rate) {
        SetMonitoring(Engine().cache, Prefs());
        OpenOutput(rate);
    };
    hooks.checkAudioDevice = CheckOutput;
    hooks.closeAudioOutput = [] { Engine().output.Close(); };
    hooks.cacheRebuildRunning = JobBusy;
    hooks.stopBackgroundThreads = StopBackgroundWork;
    hooks.busySources.push_back(JobBusy);
    hooks.busySources.push_back([] { return Engine().playing; });

    LifecycleHooks lifecycle = CurrentLifecycleHooks();
    lifecycle.clearCaches = ClearAudio;
    lifecycle.reopenAudio = [](int rate) {
        if (rate != App().outputSampleRate || !Engine().output.IsOpen()) {
            App().outputSampleRate = rate;
            OpenOutput(rate);
        }
    };
    // Busy: the refresh is deferred and runs when the slot is free.
    lifecycle.startRebuild = [](const std::string& statusText) { RebuildCacheAsync(Engine().target, statusText, false); };
    SetLifecycleHooks(lifecycle);

    // Undo, redo and opening replace the event list: what plays must be checked
    // against the new layers before it plays again.
    SetTimelineReplacedHook([] {
        Engine().cache.ready.store(false, std::memory_order_release);
        Engine().integrityCheckPending = true;
    });
}

void TickAudioEngine() {
    AudioEngine& e = Engine();
    if (PollJobSlot(Slot())) TakeJobOver();
    if (!JobBusy()) {
        Project& project = CurrentProject();
        if (project.timeline.results.size() != e.checkedResults || project.timeline.events.size() != e.checkedEvents) {
            e.checkedResults = project.timeline.results.size();
            e.checkedEvents = project.timeline.events.size();
            e.integrityCheckPending = true;
        }
        if (e.integrityCheckPending && !Slot().deferredRebuild.load(std::memory_order_acquire)) {
            e.integrityCheckPending = false;
            if (project.timeline.results.empty()) {
                e.cache.ready.store(false, std::memory_order_release);
            } else if (CheckCacheIntegrity(e.cache, project.timeline.results,
                                           static_cast<int>(project.timeline.events.size()), Slot().deferredRebuild)) {
                // Undo and redo bring back layers the blocks were made for, perhaps
                // at other places.
                SyncAudioWithEdits();
                e.cache.ready.store(true, std::memory_order_release);
            }
        }
        RunDeferredRebuilds(e.target, {});
        SubmitIncremental();
    }
    FollowSolo();

    // The playhead follows the output while it plays; a playhead the user moved
    // (a click on the ruler) moves the output there.
    EditorState& editor = Editor();
    // Play pressed before the output opened: it joins in once it is open.
    if (editor.playing && !e.playing) StartAudioPlayback(editor.playhead);
    if (e.playing) {
        if (!editor.playing) {
            StopAudioPlayback();
        } else if (std::fabs(editor.playhead - e.lastPlayhead) > 1e-4f) {
            SeekPlayback(e.cache, editor.playhead);
            JumpHeardPosition(e.heard, e.cache.mixer.transport.playPosition.load(), -1);
            e.lastPlayhead = editor.playhead;
            e.lastMixedSeconds = -1.0;
        }
    }
    e.transportSeconds.store(editor.playhead, std::memory_order_relaxed);
    e.cache.mixer.settings.blocksSilent.store(!e.cache.ready.load(std::memory_order_acquire), std::memory_order_relaxed);
    // "Video start" moves the video's sound with its picture at once, not at the next render.
    e.cache.mixer.settings.videoStartTime.store(CurrentProject().videoStartTime, std::memory_order_relaxed);
    WriteAudioDiagnostics(e.cache, SteadyNanoseconds());
    // The meters cost the audio thread a little: measured only while they are shown.
    TickMixerSession(App().sideTab == SideTab::Mixer);
}

void SyncAudioWithEdits() {
    // While a job renders, its copy of the layers is older than the project's: the
    // hand-over sees the difference and renders again.
    if (JobBusy()) return;
    const Project& project = CurrentProject();
    UpdateBlockPlacement(Engine().cache, project.timeline.results, project.timeline.events);
}

void LibrariesChangedForBuilds() { Engine().librariesStale = true; }

void RenderTimelineCommand() {
    AudioEngine& e = Engine();
    Project& project = CurrentProject();
    if (JobBusy()) {
        SetStatus("Audio is still being rendered; try again when it is done", kStatusSeconds);
        return;
    }
    if (project.timeline.events.empty()) {
        SetStatus("Nothing to render: place events on the timeline first", kStatusSeconds);
        return;
    }
    PrepareJob(JobKind::Build);
    RebuildTarget* target = &e.target;
    auto job = [target] {
        AudioEngine& engine = Engine();
        // The libraries are read here, off the interface thread: large indexes take
        // a moment, and only this job uses them.
        PrepareJobLibraries(*target);
        RebuildRequest request;
        request.mode = kRebuildWhole;
        const RebuildOutcome outcome = RebuildEvents(*target, request);
        engine.jobCancelled.store(outcome.cancelled, std::memory_order_release);
    };
    if (!SubmitJob(Slot(), "Rendering timeline\xE2\x80\xA6", std::move(job), true, -1.0f)) {
        e.jobKind = JobKind::None;
        SetStatus("Audio is still being rendered; try again when it is done", kStatusSeconds);
    }
}

void StartAudioPlayback(float seconds) {
    AudioEngine& e = Engine();
    e.transportSeconds.store(seconds, std::memory_order_relaxed);
    if (!e.output.IsOpen()) return;
    // Without rendered audio the transport still runs: it carries the video's sound
    // and the picture's clock, and the blocks join in once ready.
    e.cache.mixer.settings.blocksSilent.store(!e.cache.ready.load(std::memory_order_acquire), std::memory_order_relaxed);
    // A restart while playing (the loop) is heard once the sound already queued runs out.
    const int64_t leftAt = e.playing ? e.cache.mixer.transport.playPosition.load() : -1;
    StartPlayback(e.cache, seconds);
    JumpHeardPosition(e.heard, e.cache.mixer.transport.playPosition.load(), leftAt);
    e.playing = true;
    e.lastPlayhead = seconds;
    e.lastMixedSeconds = -1.0;
}

void StopAudioPlayback() {
    AudioEngine& e = Engine();
    if (!e.playing) return;
    StopPlayback(e.cache);
    e.playing = false;
}

bool AudioHeardSeconds(double* seconds) {
    AudioEngine& e = Engine();
    if (!e.playing) return false;
    const double rate = e.cache.sampleRate.load();
    if (rate <= 0) return false;
    // The output's latency is at the project rate, which the cache mixes at.
    const int64_t mixed = e.cache.mixer.transport.playPosition.load();
    *seconds = static_cast<double>(HeardFrames(e.heard, mixed, e.output.LatencyFrames())) / rate;
    return true;
}

bool AudioPlayheadSeconds(float* seconds) {
    double heard = 0.0;
    if (!AudioHeardSeconds(&heard)) return false;
    *seconds = static_cast<float>(heard);
    Engine().lastPlayhead = *seconds;
    return true;
}

bool AudioMixedSeconds(float* before, float* now) {
    AudioEngine& e = Engine();
    const double rate = e.cache.sampleRate.load();
    if (!e.playing || rate <= 0) return false;
    const double mixed = static_cast<double>(e.cache.mixer.transport.playPosition.load()) / rate;
    *before = static_cast<float>(e.lastMixedSeconds < 0 ? mixed : e.lastMixedSeconds);
    *now = static_cast<float>(mixed);
    e.lastMixedSeconds = mixed;
    return true;
}

bool AudioSettled() {
    const AudioEngine& e = Engine();
    if (JobBusy() || Slot().deferredRebuild.load(std::memory_order_acquire) || e.integrityCheckPending) return false;
    if (e.output.IsOpen() && !e.output.Flowing()) return false;  // Space now would wait for the server
    return CurrentProject().timeline.results.empty() || e.cache.ready.load(std::memory_order_acquire);
}

RenderCache& RenderedAudio() { return Engine().cache; }

bool RenderedAudioComplete() {
    const AudioEngine& e = Engine();
    if (JobBusy() || Slot().deferredRebuild.load(std::memory_order_acquire) || e.integrityCheckPending) return false;
    if (!e.pendingEvents.empty() || !e.pendingRenders.empty() || e.pendingNextSound >= 0) return false;
    return e.cache.ready.load(std::memory_order_acquire);
}

bool AudioJobBlocking() { return JobBusy() && Slot().blocking.load(std::memory_order_acquire); }

std::string AudioJobStatus() { return JobStatusText(Slot()); }

float AudioJobProgress() {
    RenderJobSlot& slot = Slot();
    float target = -1.0f;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        target = slot.progressTarget;
    }
    if (target <= 0.0f) return -1.0f;
    return std::min(1.0f, static_cast<float>(slot.progress.load(std::memory_order_relaxed)) / target);
}

bool AudioJobCancelling() { return Slot().cancelRequested.load(std::memory_order_acquire); }

void CancelAudioJob() { RequestCancel(Slot()); }

void PlaySoundPreview(std::vector<float> mono, int sampleRate) {
    StartPreview(Engine().cache, std::move(mono), sampleRate, 1.0f);
}

void StopSoundPreview() { StopPreview(Engine().cache); }

void RequestEventRebuild(const std::vector<int>& events) {
    AudioEngine& e = Engine();
    for (int index : events)
        if (std::find(e.pendingEvents.begin(), e.pendingEvents.end(), index) == e.pendingEvents.end())
            e.pendingEvents.push_back(index);
    if (!e.editTimed) e.editAt = Clock::now();
    e.editTimed = true;
}

void RequestNextSound(int layerIndex) { Engine().pendingNextSound = layerIndex; }

void RequestEventRender(int eventIndex) {
    AudioEngine& e = Engine();
    if (std::find(e.pendingRenders.begin(), e.pendingRenders.end(), eventIndex) == e.pendingRenders.end())
        e.pendingRenders.push_back(eventIndex);
}

bool NextSoundPending(int layerIndex) {
    const AudioEngine& e = Engine();
    return e.pendingNextSound == layerIndex || (JobBusy() && e.jobKind == JobKind::NextSound && e.jobNextSound == layerIndex);
}

void SoloLayer(int layerIndex) {
    Engine().soloLayer = layerIndex;
    FollowSolo();
}

int SoloedLayer() { return Engine().soloLayer; }

void LayersAudio(const std::vector<int>& layers, std::vector<LayerAudioView>& views) {
    views.resize(layers.size());
    for (LayerAudioView& view : views) view.rendered = false;
    AudioEngine& e = Engine();
    CacheGuard guard(e.cache);
    for (const RenderBlock& block : e.cache.blocks) {
        const auto at = std::find(layers.begin(), layers.end(), block.layerIndex);
        if (at == layers.end()) continue;
        LayerAudioView& view = views[static_cast<size_t>(at - layers.begin())];
        if (view.rendered) continue;  // the layer's first block, as before
        view.envelope.assign(block.envelope.begin(), block.envelope.end());
        view.missingFile = block.missingFile;
        view.rendered = true;
    }
}

}  // namespace morvane
