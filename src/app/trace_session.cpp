#include "app/trace_session.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/app_state.h"
#include "app/blocking_job.h"
#include "app/editor_state.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"
#include "model/recipes.h"
#include "trace/markers.h"
#include "trace/trace_files.h"
#include "trace/trace_model.h"
#include "trace/trace_results.h"
#include "trace/video.h"

namespace morvane {

namespace {

struct TraceSession {
    // The picture read decodes the project's video with a decoder of its own, so that
    // reading never waits on scrubbing. Declared before the analysis, which is joined
    // (in its destructor) before the video it samples goes.
    VideoState video;
    std::string videoLoadedPath;
    TraceAnalysis analysis;
    TraceParams params;
    std::thread loader;  // opens the video, then starts the analysis
    std::atomic<bool> loading{false};
    bool takenOver = true;  // the last finished read is in the project
    bool markersShown = true;
    // The user's decisions on the proposals of the project's read, for the trace model.
    std::vector<TraceJudgement> judgements;

    ~TraceSession() {
        analysis.cancel = true;
        if (loader.joinable()) loader.join();
        JoinTraceAnalysis(analysis);
    }
};

TraceSession& S() {
    static TraceSession session;
    return session;
}

// Where the read's files go and what they say about the source; taken when the read
// starts, on the interface thread.
struct TraceFilesTarget {
    std::string basePath;
    TraceSource source;
};

void WriteFilesOfRead(const TraceFilesTarget& target, const TraceAnalysis& analysis, const TraceParams& params,
                      const VideoState& video) {
    TraceSource source = target.source;
    source.videoStartTime = video.startTime;
    source.width = video.width;
    source.height = video.height;
    if (!WriteTraceFiles(target.basePath, analysis, params, source))
        PostStatus("Could not write the trace files beside " + target.basePath);
}

}  // namespace

TraceParams& TraceSettings() { return S().params; }

bool PictureReadRunning() { return S().loading || S().analysis.running; }

float PictureReadProgress() { return S().loading ? 0.0f : std::clamp(S().analysis.progress.load(), 0.0f, 1.0f); }

bool StartPictureRead() {
    TraceSession& s = S();
    const Project& project = CurrentProject();
    if (project.videoPath.empty() || PictureReadRunning()) return false;
    if (s.loader.joinable()) s.loader.join();
    JoinTraceAnalysis(s.analysis);
    TraceFilesTarget target;
    target.basePath = TraceFilesBasePath(CurrentSession().projectPath, project.videoPath);
    target.source.videoPath = project.videoPath;
    target.source.projectFps = project.timeline.settings.fps;
    target.source.timecodeStart = project.timeline.settings.startTC;
    const TraceParams params = s.params;
    const TraceModel model = Prefs().traceModel;
    const std::string path = project.videoPath;
    s.loading = true;
    s.analysis.cancel = false;
    s.analysis.done = false;
    s.takenOver = false;
    s.loader = std::thread([&s, path, params, model, target] {
        bool ready = s.video.loaded && s.videoLoadedPath == path;
        if (!ready) {
            ready = LoadVideo(s.video, path);
            s.videoLoadedPath = ready ? path : std::string();
        }
        if (!ready) PostStatus("Cannot read the video " + std::filesystem::path(path).filename().string());
        else if (!s.analysis.cancel)
            StartTraceAnalysis(s.analysis, s.video, params, model, [&s, params, target](TraceAnalysis& done) {
                WriteFilesOfRead(target, done, params, s.video);
            });
        s.loading = false;
    });
    return true;
}

void CancelPictureRead() { S().analysis.cancel = true; }

void ClearPictureRead() {
    TraceSession& s = S();
    if (PictureReadRunning()) return;
    ClearTraceAnalysis(s.analysis);
    s.takenOver = true;
    Project& project = CurrentProject();
    if (!project.optical.present) return;
    const TraceResults cleared;
    project.optical.frames = cleared.frames;
    project.optical.events = cleared.events;
    project.optical.present = false;
    project.modified = true;
}

void TickTraceSession() {
    TraceSession& s = S();
    if (s.takenOver || PictureReadRunning()) return;
    s.takenOver = true;
    if (s.loader.joinable()) s.loader.join();
    JoinTraceAnalysis(s.analysis);
    // A cancelled read keeps nothing, and leaves the project's last read as it was.
    if (!s.analysis.done) {
        SetStatus("Picture read cancelled", kStatusSeconds);
        return;
    }
    Project& project = CurrentProject();
    project.optical = TraceResultsFromAnalysis(s.analysis, project.optical.opticalDetail, project.optical.traceKeepAbove);
    project.modified = true;
    s.judgements.clear();  // decisions on the last read's proposals say nothing about the new ones
}

namespace {

std::vector<TraceEvent> ProjectProposals() {
    std::vector<TraceEvent> out;
    for (const OpticalEvent& e : CurrentProject().optical.events) out.push_back(TraceEventFromOptical(e));
    return out;
}

}  // namespace

int KeptTraceEventCount() {
    const TraceResults& optical = CurrentProject().optical;
    const std::vector<int> kept = EventsKeptBySlice(ProjectProposals(), optical.opticalDetail, optical.traceKeepAbove);
    // A proposal imported once is accepted; it is not offered again.
    return static_cast<int>(std::count_if(kept.begin(), kept.end(), [&](int i) {
        return !optical.events[static_cast<size_t>(i)].accepted;
    }));
}

namespace {

// The frames the judgements are read at: this session's read when it is the project's,
// else the project's stored rows (which lack the histogram change; it counts as none).
void JudgingFrames(const TraceResults& optical, TraceAnalysis& into) {
    const TraceAnalysis& read = S().analysis;
    into.rate = optical.fps > 0 ? optical.fps : 10.0f;
    if (!PictureReadRunning() && read.done && static_cast<int>(read.frames.size()) == optical.numFrames) {
        into.frames = read.frames;
        return;
    }
    into.frames.clear();
    for (const OpticalFrame& row : optical.frames) {
        TraceFrame f = TraceFrameFromOptical(row);
        if (!into.frames.empty()) f.brightnessDelta = f.brightness - into.frames.back().brightness;
        into.frames.push_back(f);
    }
}

// Records the decisions and refits the model; a valid fit replaces the stored one.
void Judge(const std::vector<TraceEvent>& judged, bool accepted) {
    if (judged.empty()) return;
    const TraceResults& optical = CurrentProject().optical;
    TraceAnalysis frames;
    JudgingFrames(optical, frames);
    if (frames.frames.empty()) return;
    std::vector<TraceJudgement>& judgements = S().judgements;
    for (const TraceEvent& e : judged) judgements.push_back(JudgeTraceEvent(frames, e, accepted));
    double compositeSum = 0;
    for (const TraceFrame& f : frames.frames) compositeSum += f.composite;
    const TraceModel model = FitTraceModel(judgements, static_cast<float>(compositeSum / frames.frames.size()));
    if (!model.valid) return;
    Prefs().traceModel = model;
    SavePreferences();
}

// Adds proposals to the timeline as events (one undo step) and marks them accepted.
int AcceptProposals(const std::vector<int>& indices) {
    Project& project = CurrentProject();
    const std::vector<TraceEvent> proposals = ProjectProposals();
    std::vector<Event> events;
    std::vector<TraceEvent> judged;
    for (int i : indices) {
        if (i < 0 || i >= static_cast<int>(proposals.size()) || project.optical.events[static_cast<size_t>(i)].accepted)
            continue;  // imported before
        events.push_back(EventFromTraceEvent(proposals[static_cast<size_t>(i)]));
        judged.push_back(proposals[static_cast<size_t>(i)]);
        project.optical.events[static_cast<size_t>(i)].accepted = true;
    }
    const int count = static_cast<int>(events.size());
    if (count == 0) return 0;
    AddEventsAndScenes(CurrentEdit(), std::move(events), {});
    Judge(judged, true);
    return count;
}

}  // namespace

int ImportKeptTraceEvents() {
    const TraceResults& optical = CurrentProject().optical;
    return AcceptProposals(EventsKeptBySlice(ProjectProposals(), optical.opticalDetail, optical.traceKeepAbove));
}

bool AcceptTraceProposal(int index) { return AcceptProposals({index}) == 1; }

bool RejectTraceProposal(int index) {
    Project& project = CurrentProject();
    auto& events = project.optical.events;
    if (index < 0 || index >= static_cast<int>(events.size()) || events[static_cast<size_t>(index)].accepted) return false;
    Judge({TraceEventFromOptical(events[static_cast<size_t>(index)])}, false);
    events.erase(events.begin() + index);
    project.modified = true;
    return true;
}

void SetSliceLevel(float level) {
    TraceResults& optical = CurrentProject().optical;
    const float clamped = std::clamp(level, 0.0f, 1.0f);
    if (clamped == optical.opticalDetail) return;
    optical.opticalDetail = clamped;
    CurrentProject().modified = true;
}

void FlipSliceSide() {
    TraceResults& optical = CurrentProject().optical;
    optical.traceKeepAbove = !optical.traceKeepAbove;
    CurrentProject().modified = true;
}

void ImportMarkersFile(const std::string& path) {
    // A session of a long film is read on the job's thread; the events join the timeline
    // on the main thread once it is read.
    struct Read {
        std::vector<TraceEvent> proposed;
        std::vector<Scene> scenes;
        SessionMarkersRead read;
    };
    auto read = std::make_shared<Read>();
    auto recipes = std::make_shared<std::vector<MarkerRecipe>>(MarkerRecipesFromPresets(Recipes()));
    const float fps = CurrentProject().timeline.settings.fps;
    StartBlockingJob(
        "Importing markers\xE2\x80\xA6",
        [=](const std::function<bool(float)>& progress) {
            progress(0.0f);
            read->read = ImportSessionMarkers(path, fps, read->proposed, &read->scenes, *recipes);
            return progress(1.0f);
        },
        [=](bool ok, bool cancelled) {
            const std::string name = std::filesystem::path(path).filename().string();
            if (cancelled || !ok) {
                SetStatus("Import cancelled", kStatusSeconds);
                return;
            }
            if (!read->read.markersSection) {
                SetStatus("There are no markers in " + name, kStatusSeconds);
                return;
            }
            const int count = static_cast<int>(read->proposed.size() + read->scenes.size());
            MarkerImportPlan plan = PlanMarkerImport(CurrentProject().timeline, MarkerSourceName(path), read->proposed,
                                                     read->scenes);
            ReplaceEventsAndAddScenes(CurrentEdit(), plan.remove, std::move(plan.events), std::move(plan.scenes),
                                      plan.totalDuration);
            S().markersShown = true;
            SetStatus(std::to_string(count) + "  markers imported from Pro Tools, review on the timeline",
                      kStatusSeconds);
        });
}

int ImportedMarkerEventCount() {
    const auto& events = CurrentProject().timeline.events;
    return static_cast<int>(std::count_if(events.begin(), events.end(), [](const Event& e) { return !e.markerSource.empty(); }));
}

bool MarkerEventsShown() { return S().markersShown; }
void ShowMarkerEvents(bool shown) { S().markersShown = shown; }

void ClearImportedMarkers() {
    const auto& events = CurrentProject().timeline.events;
    std::vector<char> imported(events.size(), 0);
    for (size_t i = 0; i < events.size(); ++i) imported[i] = !events[i].markerSource.empty();
    ReplaceEventsAndAddScenes(CurrentEdit(), imported, {}, {}, 0.0f);
}

}  // namespace morvane
