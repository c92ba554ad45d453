#include "app/export_session.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/blocking_job.h"
#include "app/editor_state.h"
#include "audio/render_cache.h"
#include "edit/selection.h"
#include "engine/project_roots.h"
#include "export/bounce.h"
#include "export/export_job.h"
#include "export/variations.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"
#include "model/undo.h"
#include "platform/folders.h"
#include "platform/open_external.h"

namespace morvane {

namespace {

constexpr float kResultSeconds = 6.0f;

struct VariationsRun {
    std::atomic<bool> running{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> cancel{false};
    std::atomic<float> progress{0.0f};
    std::mutex mutex;  // guards the status and the result
    std::string status;
    VariationsResult result;
    std::thread worker;
};

// What a bounce works on and what the project held when it started: the bounced
// events replace the selection only over an unchanged timeline.
struct BounceRun {
    Project copy;
    std::vector<Event> eventsAtStart;
    std::vector<Layer> resultsAtStart;
    BounceResult result;
};

struct ExportSession {
    ExportJob job;
    std::string exportFolder;     // the user's; empty: the default
    std::string folderProject;    // the project it was typed for
    std::string runningFolder;    // where the running export writes
    ExportResultView lastResult;
    VariationsRun variations;
    std::shared_ptr<BounceRun> bounce;
};

ExportSession& Session() {
    static ExportSession session;
    return session;
}

std::string ProjectPath() { return CurrentSession().projectPath; }

// "/a/b/Reel 1.mvproj" -> "Reel 1"; "" for an unsaved project.
std::string ProjectStem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, std::max<size_t>(slash, 1));
}

// What background work needs of the project: not the undo history, which can be large.
Project CopyForBackground(const Project& from) {
    Project to;
    to.timeline = from.timeline;
    to.videoPath = from.videoPath;
    to.videoStartTime = from.videoStartTime;
    to.projectSampleRate = from.projectSampleRate;
    to.masterGain = from.masterGain;
    to.refGain = from.refGain;
    to.groupGain = from.groupGain;
    to.libraryPaths = from.libraryPaths;
    to.exportSettings = from.exportSettings;
    to.workAreaIn = from.workAreaIn;
    to.workAreaOut = from.workAreaOut;
    to.reverb = from.reverb;
    to.groupPlacement = from.groupPlacement;
    return to;
}

bool TimelineBuilt(const Project& project) { return project.timeline.built && !project.timeline.results.empty(); }

bool AnyJobRunning() {
    ExportSession& s = Session();
    return s.job.running.load() || s.variations.running.load() || s.bounce != nullptr || BlockingJobRunning();
}

void JoinVariations() {
    VariationsRun& v = Session().variations;
    v.cancel.store(true);
    if (v.worker.joinable()) v.worker.join();
}

void TakeExportOver() {
    ExportSession& s = Session();
    ExportOutcome outcome;
    if (!TakeExportOutcome(s.job, &outcome)) return;
    ExportResultView& r = s.lastResult;
    r.shown = true;
    r.failed = outcome.aafFailed || outcome.failedKinds > 0 || outcome.cancelled;
    r.text = outcome.resultText;
    r.failure = outcome.failure;
    r.folder = s.runningFolder;
    SetStatus(outcome.resultText, kResultSeconds);
}

void TakeVariationsOver() {
    VariationsRun& v = Session().variations;
    if (!v.running.load() || !v.finished.load(std::memory_order_acquire)) return;
    if (v.worker.joinable()) v.worker.join();
    std::string text;
    {
        std::lock_guard<std::mutex> lock(v.mutex);
        text = v.result.cancelled ? "Variations cancelled — the takes written so far are kept" : v.result.statusText;
        v.status = text;
    }
    v.finished.store(false);
    v.running.store(false);
    SetStatus(text, kResultSeconds);
}

// The main thread, once a bounce's job returned: its events become the project's
// when nothing they were made from changed meanwhile.
void FinishBounce(bool ok, bool cancelled) {
    std::shared_ptr<BounceRun> run = std::move(Session().bounce);
    if (!run) return;
    if (cancelled) {
        // The events stay; a file the bounce may have written already is left alone.
        SetStatus("Bounce cancelled", kResultSeconds);
        return;
    }
    if (!ok || !run->result.ok) {
        SetStatus(run->result.statusText.empty() ? "Bounce failed" : run->result.statusText, kResultSeconds);
        return;
    }
    Project& project = CurrentProject();
    if (project.timeline.events != run->eventsAtStart || project.timeline.results != run->resultsAtStart) {
        SetStatus("The timeline changed during the bounce; bounce again (the file " + run->result.path + " stays)",
                  kResultSeconds);
        return;
    }
    PushUndo(project);  // the bounce can be undone as one step
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        project.timeline.events = std::move(run->copy.timeline.events);
    }
    project.timeline.results = std::move(run->copy.timeline.results);
    project.timeline.built = true;
    project.modified = true;
    SelectEvents(CurrentEdit(), {run->result.clipEvent}, false);
    RequestEventRender(run->result.clipEvent);
    SetStatus(run->result.statusText, kResultSeconds);
}

}  // namespace

void ConnectExportSession() {
    ShellHooks& hooks = App().hooks;
    hooks.busySources.push_back([] { return Session().job.running.load(); });
    hooks.busySources.push_back([] { return Session().variations.running.load(); });
    std::function<void()> stopOthers = hooks.stopBackgroundThreads;
    hooks.stopBackgroundThreads = [stopOthers] {
        ExportSession& s = Session();
        s.job.cancel.store(true);
        if (s.job.worker.joinable()) s.job.worker.join();
        JoinVariations();
        if (stopOthers) stopOthers();
    };
}

void TickExportSession() {
    TakeExportOver();
    TakeVariationsOver();
}

bool ExportWorkRunning() { return AnyJobRunning(); }

std::string ExportFolder() {
    const ExportSession& s = Session();
    const std::string project = ProjectPath();
    if (!s.exportFolder.empty() && s.folderProject == project) return s.exportFolder;
    if (!project.empty()) return FolderOf(project) + "/" + ProjectStem(project) + " Export";
    const std::string documents = DocumentsFolder();
    return documents.empty() ? std::string() : documents + "/Export";
}

void SetExportFolder(const std::string& folder) {
    ExportSession& s = Session();
    s.exportFolder = folder;
    while (s.exportFolder.size() > 1 && s.exportFolder.back() == '/') s.exportFolder.pop_back();
    s.folderProject = ProjectPath();
}

std::string ExportBaseName() {
    const std::string stem = ProjectStem(ProjectPath());
    return stem.empty() ? "Morvane" : stem;
}

void ChangeExportSettings(const ExportSettings& x) {
    Project& project = CurrentProject();
    if (project.exportSettings == x) return;
    project.exportSettings = x;
    project.modified = true;
    Preferences& p = Prefs();
    p.handleDuration = x.handleDuration;
    p.handleFullSource = x.handleFullSource;
    p.fadeInDuration = x.fadeInDuration;
    p.fadeOutDuration = x.fadeOutDuration;
    p.exportAAFMarkers = x.exportAAFMarkers;
    p.exportAAFVolAuto = x.exportAAFVolAuto;
    p.exportAAFSourceChannels = x.exportAAFSourceChannels;
    p.exportFormatAAF = x.exportFormatAAF;
    p.exportFormatWAV = x.exportFormatWAV;
    p.exportWavMixdown = x.exportWavMixdown;
    p.exportWavStems = x.exportWavStems;
    p.exportWavTracks = x.exportWavTracks;
    p.exportWavClips = x.exportWavClips;
    p.exportReverbStem = x.exportReverbStem;
    MarkPreferencesDirty();
}

void ChangeExportLoudness(int lufsIndex) {
    Prefs().exportWavLUFSIndex = std::clamp(lufsIndex, 0, 4);
    MarkPreferencesDirty();
}

void ChangeExportLayout(int layout) {
    Prefs().exportWavLayout = std::clamp(layout, 0, 3);
    MarkPreferencesDirty();
}

std::string ExportBlocker() {
    const Project& project = CurrentProject();
    std::string why = ExportStartBlocker(TimelineBuilt(project), project.exportSettings, RenderedAudioComplete(),
                                         Session().job.running.load());
    if (why.empty() && ExportFolder().empty()) why = "Choose an export folder";
    return why;
}

const char* ExportButtonText() { return ExportButtonLabel(CurrentProject().exportSettings, ExportRunning()); }

bool ExportRunning() { return Session().job.running.load(); }

bool StartWindowExport() {
    if (!ExportBlocker().empty()) return false;
    ExportSession& s = Session();
    const Project& project = CurrentProject();
    const Preferences& prefs = Prefs();
    const ExportRequest request =
        MakeExportRequest(project, ExportFolder(), ExportBaseName(), prefs.exportWavLUFSIndex, prefs.exportWavLayout);
    auto snapshot = TakeExportSnapshot(project, RenderedAudio(), request);
    s.runningFolder = request.folder;
    s.lastResult = ExportResultView{};
    return StartExportJob(s.job, std::move(snapshot));
}

void CancelWindowExport() { Session().job.cancel.store(true); }

float ExportProgress() { return Session().job.progress.load(std::memory_order_relaxed); }

std::string ExportStatus() { return ExportStatusText(Session().job); }

const ExportResultView& LastExportResult() { return Session().lastResult; }

void OpenLastExportFolder() {
    const std::string& folder = Session().lastResult.folder;
    if (!OpenWithDesktop(folder)) SetStatus("Could not open " + folder, kResultSeconds);
}

std::string VariationsBlocker() {
    if (Session().variations.running.load()) return "Variations are being rendered";
    if (SelectedCount(CurrentEdit()) == 0) return "Select the events to vary on the timeline first";
    if (ExportFolder().empty()) return "Choose an export folder";
    return "";
}

bool StartVariations() {
    if (!VariationsBlocker().empty()) return false;
    VariationsRun& v = Session().variations;
    if (v.worker.joinable()) v.worker.join();
    auto project = std::make_shared<Project>(CopyForBackground(CurrentProject()));
    const std::vector<int> selection = SelectedIndices(CurrentEdit());
    const std::string folder = ExportFolder();
    const VariationSettings settings = VariationSettingsFromPreferences(Prefs());
    const int channelOrder = Prefs().channelOrderFallback;
    v.running.store(true);
    v.finished.store(false);
    v.cancel.store(false);
    v.progress.store(0.0f);
    {
        std::lock_guard<std::mutex> lock(v.mutex);
        v.status = "Loading libraries\xE2\x80\xA6";
        v.result = VariationsResult{};
    }
    v.worker = std::thread([&v, project, selection, folder, settings, channelOrder] {
        LibrarySet libraries;
        LoadAllLibraries(libraries);
        std::mutex copyMutex;  // the project is this run's own copy
        VariationContext context;
        context.roots = ProjectLibraryRoots(*project, libraries.libraries);
        context.libraries = &libraries;
        context.channelOrderFallback = channelOrder;
        context.resultsMutex = &copyMutex;
        context.cancel = &v.cancel;
        context.status = [&v](const std::string& text) {
            std::lock_guard<std::mutex> lock(v.mutex);
            v.status = text;
        };
        context.progress = [&v](int done, int total) {
            v.progress.store(total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 0.0f);
        };
        VariationsResult result = ExportVariations(*project, selection, folder, settings, context);
        {
            std::lock_guard<std::mutex> lock(v.mutex);
            v.result = std::move(result);
        }
        v.finished.store(true, std::memory_order_release);
    });
    return true;
}

bool VariationsRunning() { return Session().variations.running.load(); }

float VariationsProgress() { return Session().variations.progress.load(); }

std::string VariationsStatus() {
    VariationsRun& v = Session().variations;
    std::lock_guard<std::mutex> lock(v.mutex);
    return v.status;
}

void CancelVariations() { Session().variations.cancel.store(true); }

void BounceSelectionCommand() {
    ExportSession& s = Session();
    const Project& project = CurrentProject();
    const std::vector<int> selection = SelectedIndices(CurrentEdit());
    if (selection.empty()) {
        SetStatus("Select the events to bounce first", kStatusSeconds);
        return;
    }
    if (AnyJobRunning() || !RenderedAudioComplete()) {
        SetStatus("Wait for the running job to finish, then bounce", kStatusSeconds);
        return;
    }
    auto run = std::make_shared<BounceRun>();
    run->copy = CopyForBackground(project);
    run->eventsAtStart = project.timeline.events;
    run->resultsAtStart = project.timeline.results;
    // An unsaved project keeps its bounces in the documents folder.
    std::string projectPath = ProjectPath();
    if (projectPath.empty()) projectPath = JoinPath(DocumentsFolder(), "Untitled");
    const int channelOrder = Prefs().channelOrderFallback;
    s.bounce = run;
    auto work = [run, selection, projectPath, channelOrder](const std::function<bool(float)>&) {
        LibrarySet libraries;
        LoadAllLibraries(libraries);
        BounceContext context;
        context.libraries = &libraries;
        context.channelOrderFallback = channelOrder;
        run->result = BounceSelection(run->copy, projectPath, selection, context);
        return run->result.ok;
    };
    if (!StartBlockingJob("Bouncing selection to a clip\xE2\x80\xA6", work, FinishBounce)) {
        s.bounce.reset();
        SetStatus("Wait for the running job to finish, then bounce", kStatusSeconds);
    }
}

int RevertibleSelection() {
    const Project& project = CurrentProject();
    const int index = PrimarySelection(CurrentEdit());
    if (SelectedCount(CurrentEdit()) != 1 || index < 0 || index >= static_cast<int>(project.timeline.events.size()))
        return -1;
    const Event& event = project.timeline.events[static_cast<size_t>(index)];
    return event.shape == EventShape::Clip && !event.bounceSource.empty() ? index : -1;
}

void RevertSelectionCommand() {
    const int clip = RevertibleSelection();
    if (clip < 0) {
        SetStatus("Select a clip made by a bounce first", kStatusSeconds);
        return;
    }
    if (Session().bounce) {
        SetStatus("Wait for the bounce to finish", kStatusSeconds);
        return;
    }
    Project& project = CurrentProject();
    PushUndo(project);
    const RevertResult result = RevertBounce(project, clip);
    SetStatus(result.statusText, kStatusSeconds);
    if (!result.ok) return;
    SelectEvents(CurrentEdit(), result.restoredEvents, false);
    // The events come back as they were; their sounds are built and rendered again.
    RequestEventRebuild(result.restoredEvents);
}

}  // namespace morvane
