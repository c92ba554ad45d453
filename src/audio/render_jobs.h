#pragma once
// The one background job of the render side (a build, an incremental rebuild, a
// full refresh, variations) and the rebuilds that run in it.
//
// Threads: the user-interface thread submits jobs and calls PollJobSlot once per
// frame, which launches the worker a frame after acceptance (so the status text is
// drawn before the work starts) and takes a finished job over. The worker writes
// `done` last with release; the user-interface thread reads it with acquire before
// it touches what the job produced. A job submitted while another is busy is
// dropped: the caller raises the deferred-rebuild flag instead, and
// RunDeferredRebuilds turns it into one refresh once the slot is free.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/render_cache.h"
#include "engine/event_build.h"
#include "engine/passes.h"
#include "engine/selection.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

struct RenderJobSlot {
    std::mutex mutex;                 // guards job, statusText, progressTarget, worker
    std::function<void()> job;        // empty when none is stored
    std::string statusText;           // the request's reason, at most 63 bytes
    float progressTarget = -1.0f;     // -1: none
    std::thread worker;
    std::atomic<bool> busy{false};
    std::atomic<bool> started{false};
    std::atomic<bool> blocking{false};  // the job shows the modal progress overlay
    std::atomic<bool> done{false};
    std::atomic<bool> cancelRequested{false};
    std::atomic<int> progress{0};       // events (or layers) done so far
    std::atomic<bool> deferredRebuild{false};
    std::atomic<bool> shuttingDown{false};
    // Frames seen since acceptance; the worker starts on the frame after.
    int framesSinceAccepted = 0;
};

// The application's slot.
RenderJobSlot& TheRenderJobSlot();

// Accepts `job` when nothing is busy and the program is not shutting down; false
// (and nothing stored) otherwise.
bool SubmitJob(RenderJobSlot& slot, const std::string& reason, std::function<void()> job, bool blocking,
               float progressTarget);

// Once per user-interface frame: launches an accepted job's worker (on the frame
// after acceptance) and takes a finished job over (clears busy, started, blocking,
// the job and the cancel request). Returns true on the frame a job finished.
bool PollJobSlot(RenderJobSlot& slot);

// Escape during a cancellable job.
void RequestCancel(RenderJobSlot& slot);

// Refuses new jobs, asks the running one to stop and waits for it.
void ShutdownJobSlot(RenderJobSlot& slot);

// The status text for the overlay and the status line ("" when idle).
std::string JobStatusText(RenderJobSlot& slot);

// What a rebuild works on. The pointers stay valid while a job runs; the project's
// results are only touched under `resultsMutex`.
struct RebuildTarget {
    Project* project = nullptr;
    RenderCache* cache = nullptr;
    std::mutex* resultsMutex = nullptr;  // the project's results mutex
    RenderJobSlot* slot = nullptr;       // progress, cancel and the deferred flag
    std::vector<LibraryRoot> roots;      // where the build chooses sounds
    LibrarySet* libraries = nullptr;     // relink by file id; may be null
    BuildOptions buildOptions;
    bool protectSilence = false;         // preferences of the post-build passes
    bool destructiveEQ = false;
    int channelOrderFallback = 0;
    // The transport position (seconds) that playback returns to after a rebuild.
    std::function<double()> transportSeconds;
    // Called on the submitting thread once the slot is known to be free, just before
    // a rebuild is submitted: a caller whose `project` is a copy for the job makes
    // that copy here. May be empty.
    std::function<void()> prepare;
};

enum RebuildMode : int { kRebuildWhole = 0, kRebuildOneEvent = 3, kRebuildEventList = 4 };

struct RebuildRequest {
    int mode = kRebuildWhole;  // 4 list of events, 3 one event, anything else the whole timeline
    int eventIndex = -1;       // mode 3
    std::vector<int> events;   // mode 4
    float rangeStart = -1.0f;  // whole timeline: only events in [start, end] when both set
    float rangeEnd = -1.0f;
    bool singlePass = false;   // whole timeline: build and render in one pass
    // Mode 3 only: instead of building the event, draw a fresh sound for this one
    // layer of it ("Next sound"; -1 none), or (renderOnly) keep its layers as they are
    // and render them again (a step through a layer's history).
    int nextSoundLayer = -1;
    bool renderOnly = false;
};

struct RebuildOutcome {
    bool cancelled = false;
    int eventsBuilt = 0;
    int blocks = 0;
    bool integrityOk = true;
    std::array<int, kGroupCount> usedTracks{};  // largest groupTrack + 1 per group
    BuildResult build;
};

// The rebuild job's body: build, post-build passes, gains into the mixer, render,
// cache checks, and playback reset. Runs on the calling thread.
RebuildOutcome RebuildEvents(RebuildTarget& target, const RebuildRequest& request);

// Re-renders every layer of the current results (no new choice of sounds) and
// resets playback. `analysisFree` renders reuse earlier results: no scale tuning
// and no placeholder marking. The job runs in the slot of `target`.
bool RebuildCacheAsync(RebuildTarget& target, const std::string& reason, bool analysisFree);

// Submits RebuildEvents for `request` as a job; false when the slot is busy (the
// deferred flag is raised so the timeline is refreshed once it is free).
bool RebuildAsync(RebuildTarget& target, const RebuildRequest& request, const std::string& reason);

// Once per frame with no job busy: `refreshBeds` (may be empty) reports whether any
// Bed event changed; that, or a raised deferred flag, starts one refresh with the
// reason "Updating audio…". Returns true when a refresh was submitted.
bool RunDeferredRebuilds(RebuildTarget& target, const std::function<bool()>& refreshBeds);

// The "MV_RENDER_TIMING" switch.
bool RenderTimingEnabled();

}  // namespace morvane
