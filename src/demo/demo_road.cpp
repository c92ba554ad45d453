#include "demo/demo_road.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "audio/render_cache.h"
#include "audio/render_timeline.h"
#include "engine/event_build.h"
#include "engine/loudness.h"
#include "engine/passes.h"
#include "demo/demo_project.h"
#include "demo/sound_catalogue.h"
#include "export/bwf_writer.h"
#include "export/export_snapshot.h"
#include "export/wav_export.h"
#include "library/audio_file.h"
#include "library/scan.h"
#include "model/demo_content.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "platform/folders.h"
#include "trace/analysis.h"
#include "trace/markers.h"
#include "trace/trace_files.h"
#include "trace/trace_results.h"
#include "trace/video.h"

namespace fs = std::filesystem;

namespace morvane::demo {

namespace {

constexpr const char* kMixName = "Morvane Demo Mix";

void Report(const RoadProgress& progress, RoadStep step, float fraction, const std::string& detail) {
    if (progress) progress(step, std::clamp(fraction, 0.0f, 1.0f), detail);
}

std::string FileNameOf(const std::string& path) { return fs::path(path).filename().string(); }

const Library* FindLibrary(const LibrarySet& set, const std::string& folder) {
    for (const Library& library : set.libraries)
        if (library.folder == folder) return &library;
    return nullptr;
}

// Installs the demo material when it is missing from the documents folder, even if
// the marker says it was installed once (the user may have removed it).
bool InstallStep(const RoadOptions& options, RoadReport& report, std::string& libraryFolder,
                 std::string& projectPath) {
    Report(options.progress, RoadStep::Install, 0.0f, "");
    const std::string documents = DocumentsFolder();
    if (documents.empty()) {
        report.error = "no documents folder: HOME is not set";
        return false;
    }
    libraryFolder = JoinPath(LibrariesFolder(), kDemoLibraryFolderName);
    projectPath = JoinPath(JoinPath(ProjectsFolder(), kDemoProjectName),
                           std::string(kDemoProjectName) + kProjectExtension);
    const bool present = IsFolder(libraryFolder) && IsFile(projectPath);
    const DemoInstallResult installed = InstallDemoContent(options.forceInstall || !present);
    report.contentFound = installed.sourceFound;
    report.filesInstalled = installed.filesCopied;
    Report(options.progress, RoadStep::Install, 1.0f, std::to_string(installed.filesCopied) + " files copied");
    if (!IsFolder(libraryFolder) || !IsFile(projectPath)) {
        report.error = installed.sourceFound
                           ? "the demo content could not be installed into " + documents
                           : "no demo content: the DemoContent folder beside the program is missing (" +
                                 ProgramDataPath("DemoContent") + ")";
        return false;
    }
    return true;
}

bool PictureStep(Project& project, const std::string& projectPath, RoadReport& report, const RoadProgress& progress) {
    Report(progress, RoadStep::Picture, 0.0f, "");
    VideoState video;
    if (!LoadVideo(video, project.videoPath)) {
        report.error = "cannot read the demo reel " + project.videoPath;
        return false;
    }
    video.startTime = project.videoStartTime;
    const float fps = project.timeline.settings.fps;
    TraceParams params;
    TraceAnalysis analysis;
    const TraceSource source{project.videoPath, fps, project.timeline.settings.startTC, video.startTime, video.width,
                             video.height};
    report.traceBasePath = TraceFilesBasePath(projectPath, project.videoPath);
    bool written = false;
    const std::string base = report.traceBasePath;
    if (!StartTraceAnalysis(analysis, video, params, Prefs().traceModel,
                            [&](TraceAnalysis& done) { written = WriteTraceFiles(base, done, params, source); })) {
        report.error = "cannot start reading the picture of " + project.videoPath;
        return false;
    }
    while (analysis.running) {
        Report(progress, RoadStep::Picture, analysis.progress.load(), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    JoinTraceAnalysis(analysis);
    CloseVideo(video);
    if (!written) {
        report.error = "cannot write the trace files at " + base + ".mvtrace";
        return false;
    }

    report.eventsProposed = static_cast<int>(analysis.events.size());
    for (const TraceEvent& e : analysis.events) report.proposedTimes.push_back(e.time);
    // As the Trace tab's Import: the events above the slice level join the timeline.
    TraceResults results =
        TraceResultsFromAnalysis(analysis, project.optical.opticalDetail, project.optical.traceKeepAbove);
    for (int index : EventsKeptBySlice(analysis.events, project.optical.opticalDetail, project.optical.traceKeepAbove)) {
        Event event = EventFromTraceEvent(analysis.events[static_cast<size_t>(index)]);
        event.time += project.videoStartTime;
        project.timeline.events.push_back(event);
        results.events[static_cast<size_t>(index)].accepted = true;
        ++report.eventsImported;
    }
    project.optical = std::move(results);
    Report(progress, RoadStep::Picture, 1.0f,
           std::to_string(report.eventsProposed) + " proposed, " + std::to_string(report.eventsImported) + " imported");
    return true;
}

void BuildStep(Project& project, const Library& library, const RoadOptions& options, RoadReport& report) {
    Report(options.progress, RoadStep::Build, 0.0f, "");
    const std::vector<LibraryRoot> roots = {LibraryRoot{&library, {}}};
    BuildOptions build;
    build.useFixedSeed = true;
    build.fixedSeed = options.buildSeed;
    const BuildResult result = BuildEvents(project, roots, -1, -1.0f, -1.0f, 0, build);
    RunPostBuildPasses(project, MakeBandLookup(roots), Prefs().protectSilence, Prefs().destructiveEQ);
    project.timeline.built = true;

    const TimelineState& t = project.timeline;
    for (const Event& e : t.events) ++report.eventsPerShape[static_cast<size_t>(e.shape)];
    for (const Layer& l : t.results) {
        if (l.eventIdx >= 0 && static_cast<size_t>(l.eventIdx) < t.events.size())
            ++report.layersPerShape[static_cast<size_t>(t.events[static_cast<size_t>(l.eventIdx)].shape)];
        if (l.name == kNoMatchName) ++report.noMatch;
        if (l.name == kMissingName) ++report.missing;
    }
    report.layers = static_cast<int>(t.results.size());
    report.placeholders = CountPlaceholderLayers(t.results);
    report.missing = std::max(report.missing, static_cast<int>(result.missingLayers.size()));
    Report(options.progress, RoadStep::Build, 1.0f, std::to_string(report.layers) + " layers");
}

bool RenderAndMixStep(Project& project, LibrarySet& set, const std::string& outFolder, const RoadOptions& options,
                      RoadReport& report) {
    RenderCache cache;
    RenderOptions render;
    render.libraries = &set;
    render.progress = [&](float fraction) {
        Report(options.progress, RoadStep::Render, fraction, "");
        return true;
    };
    std::string error;
    if (!RenderTimelineBlocking(project, cache, render, &error)) {
        report.error = "cannot render the demo timeline: " + error;
        return false;
    }
    report.blocksRendered = static_cast<int>(cache.blocks.size());
    Report(options.progress, RoadStep::Render, 1.0f, std::to_string(report.blocksRendered) + " blocks");

    const double end = project.timeline.settings.totalDuration;
    std::vector<float> mix;
    const auto mixProgress = [&](float fraction) {
        Report(options.progress, RoadStep::Mix, fraction, "");
        return true;
    };
    if (!MixOffline(cache, 0.0, end, 2, mix, mixProgress, &error)) {
        report.error = "cannot mix the demo timeline: " + error;
        return false;
    }
    const int rate = cache.sampleRate.load();
    const int64_t frames = static_cast<int64_t>(mix.size() / 2);
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i) {
        left[static_cast<size_t>(i)] = mix[static_cast<size_t>(2 * i)];
        right[static_cast<size_t>(i)] = mix[static_cast<size_t>(2 * i + 1)];
    }
    report.mixSampleRate = rate;
    report.mixSeconds = static_cast<double>(frames) / rate;
    report.peakDbfs = PeakDbfs(mix);
    report.loudnessLufs = MeasureLoudness(left.data(), right.data(), static_cast<int32_t>(frames), rate);
    report.mixdownPath = JoinPath(outFolder, std::string(kMixName) + ".wav");
    if (!WriteBWFStereo(report.mixdownPath, left.data(), right.data(), frames, rate, 0.0,
                        "Morvane demo mixdown")) {
        report.error = "cannot write the mixdown " + report.mixdownPath;
        return false;
    }
    Report(options.progress, RoadStep::Mix, 1.0f, "");

    // The hand-over to a workstation: the same render exported as the mix and a stem
    // per group, as the Export tab writes them.
    Report(options.progress, RoadStep::Export, 0.0f, "");
    report.exportFolder = JoinPath(outFolder, "Export");
    ExportRequest request = MakeExportRequest(project, report.exportFolder, kMixName, 0, 0);
    request.settings.exportFormatWAV = true;
    request.settings.exportFormatAAF = false;
    request.settings.exportWavMixdown = true;
    request.settings.exportWavStems = true;
    request.settings.exportWavTracks = false;
    request.settings.exportWavClips = false;
    const std::shared_ptr<ExportSnapshot> snapshot = TakeExportSnapshot(project, cache, request);
    ExportObserver observer;
    observer.progress = [&](float fraction) { Report(options.progress, RoadStep::Export, fraction, ""); };
    const WavExportResult exported = RunWavExport(*snapshot, observer);
    if (exported.failedKinds > 0 || exported.cancelled) {
        report.error = "cannot export the mix and stems into " + report.exportFolder;
        return false;
    }
    report.exportedFiles = exported.written;
    Report(options.progress, RoadStep::Export, 1.0f, std::to_string(exported.files) + " files");
    return true;
}

}  // namespace

const char* RoadStepLabel(RoadStep step) {
    switch (step) {
        case RoadStep::Install: return "Installing the demo";
        case RoadStep::Scan: return "Scanning the library";
        case RoadStep::Picture: return "Reading light and motion…";
        case RoadStep::Build: return "Building";
        case RoadStep::Render: return "Rendering";
        case RoadStep::Mix: return "Mixing down";
        case RoadStep::Export: return "Exporting mix and stems";
        case RoadStep::Save: return "Saving";
    }
    return "";
}

float PeakDbfs(const std::vector<float>& interleaved) {
    float peak = 0.0f;
    for (float v : interleaved) peak = std::max(peak, std::fabs(v));
    return peak > 0.0f ? 20.0f * std::log10(peak) : -100.0f;
}

bool ScanDemoLibrary(const std::string& folder, LibrarySet& set, RoadReport& report, const RoadProgress& progress) {
    Report(progress, RoadStep::Scan, 0.0f, "");
    ScanState state;
    const uint64_t opensBefore = AudioFileOpenCount();
    if (!StartScan(state, set, folder, true, -1, false)) {
        report.error = "cannot start scanning " + folder;
        return false;
    }
    while (state.running.load()) {
        const int done = state.doneCount.load(), total = state.totalCount.load();
        Report(progress, RoadStep::Scan, total > 0 ? static_cast<float>(done) / total : 0.0f,
               std::to_string(done) + " / " + std::to_string(total) + " files");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    WaitForScan(state);
    WaitForBackfill(state);
    report.audioFilesOpened = AudioFileOpenCount() - opensBefore;
    const std::string error = ScanErrorText(state);
    if (!error.empty()) {
        report.error = "scanning " + folder + ": " + error;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        report.filesFailed = static_cast<int>(state.failedFiles.size());
    }
    report.filesAnalysed = state.analysedCount.load();
    report.filesReused = state.reusedCount.load();
    report.libraryFolder = folder;
    report.indexPath = LibraryIndexPath(set, LibraryNameOfFolder(folder));
    // The index the scan wrote is what the build reads, as after a restart.
    set.libraries.clear();
    LoadAllLibraries(set);
    const Library* library = FindLibrary(set, folder);
    if (library == nullptr) {
        report.error = "the scan of " + folder + " left no library index in " + LibraryIndexFolder(set);
        return false;
    }
    report.filesScanned = static_cast<int>(library->entries.size());
    Report(progress, RoadStep::Scan, 1.0f, std::to_string(report.filesScanned) + " files");
    return true;
}

int LinkProjectToLibrary(Project& project, const Library& library) {
    int moved = 0;
    auto relink = [&](std::string& path, std::string* id) {
        if (path.empty()) return;
        const std::string name = FileNameOf(path);
        for (const LibraryEntry& entry : library.entries) {
            if (FileNameOf(entry.path) != name) continue;
            if (entry.path != path) ++moved;
            path = entry.path;
            if (id) *id = entry.fileId;
            return;
        }
    };
    for (Event& e : project.timeline.events) {
        if (e.hasPinnedFile || !e.pinnedFile.empty()) relink(e.pinnedFile, &e.pinnedFileId);
        e.pinnedFileIds.resize(e.pinnedFiles.size());
        for (size_t i = 0; i < e.pinnedFiles.size(); ++i) relink(e.pinnedFiles[i], &e.pinnedFileIds[i]);
    }
    project.libraryPaths = {library.folder};
    return moved;
}

RoadReport RunDemoRoad(const RoadOptions& options) {
    RoadReport report;
    EnsureUserFolders();
    LoadPreferences();
    std::string libraryFolder, installedProject;
    if (!InstallStep(options, report, libraryFolder, installedProject)) return report;

    LibrarySet set;
    if (!ScanDemoLibrary(libraryFolder, set, report, options.progress)) return report;
    const Library* library = FindLibrary(set, libraryFolder);

    // The road starts from the installed demo project every time, so a second run
    // gives the same timeline instead of importing the picture's events twice.
    Project project;
    const LoadProjectResult loaded = LoadProject(installedProject, project);
    if (!loaded.ok) {
        report.error = "cannot open the demo project " + installedProject + ": " + loaded.error;
        return report;
    }
    report.handPlacedEvents = static_cast<int>(project.timeline.events.size());
    LinkProjectToLibrary(project, *library);
    report.videoPath = project.videoPath;

    const std::string outFolder = options.outFolder.empty() ? fs::path(installedProject).parent_path().string()
                                                            : options.outFolder;
    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (!IsFolder(outFolder)) {
        report.error = "cannot create the output folder " + outFolder;
        return report;
    }
    report.projectPath = JoinPath(outFolder, std::string(kMixName) + kProjectExtension);

    if (!PictureStep(project, report.projectPath, report, options.progress)) return report;
    BuildStep(project, *library, options, report);
    if (!RenderAndMixStep(project, set, outFolder, options, report)) return report;

    Report(options.progress, RoadStep::Save, 0.0f, "");
    project.modified = false;
    if (!SaveProject(report.projectPath, project)) {
        report.error = "cannot save the project " + report.projectPath;
        return report;
    }
    AddRecentProject(Prefs(), report.projectPath);
    SavePreferences();
    Report(options.progress, RoadStep::Save, 1.0f, "");
    report.project = std::move(project);
    report.ok = true;
    return report;
}

}  // namespace morvane::demo
