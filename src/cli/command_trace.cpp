// morvane-cli trace and import-markers: proposed events from the picture or from a
// Pro Tools session, as the Trace tab makes them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <chrono>
#include <thread>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/progress.h"
#include "model/preferences.h"
#include "model/recipes.h"
#include "model/project_file.h"
#include "model/project_lifecycle.h"
#include "platform/regular_file.h"
#include "trace/analysis.h"
#include "edit/timeline_edit.h"
#include "trace/markers.h"
#include "trace/trace_files.h"
#include "trace/trace_results.h"
#include "trace/video.h"

namespace morvane::cli {

// A session text export runs to a few megabytes at most; anything far larger is not one.
constexpr size_t kMaxSessionBytes = size_t(64) << 20;

// A project file that does not exist yet is started here, so reading a first reel or
// importing a first session needs no other step. Any other load failure stops the command.
static bool OpenOrStartProject(const char* command, const std::string& path, Project& target, bool* started) {
    std::error_code ec;
    *started = !std::filesystem::exists(path, ec);
    if (*started) return true;
    const LoadProjectResult loaded = LoadProject(path, target);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli %s: cannot open the project %s: %s\n", command, path.c_str(),
                     loaded.error.c_str());
        return false;
    }
    if (!loaded.warning.empty()) std::fprintf(stderr, "morvane-cli %s: %s\n", command, loaded.warning.c_str());
    return true;
}

int RunTrace(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("trace", argc, argv, &line)) return code;
    const std::string video = line.positionals[0];
    const std::string project = OptionText(line, "--project");
    const bool import = HasOption(line, "--import");
    TraceParams params;
    params.sensitivity = static_cast<float>(OptionNumber(line, "--sensitivity", params.sensitivity));
    if (import && project.empty()) {
        std::fprintf(stderr, "morvane-cli trace: --import needs --project P\n");
        return 2;
    }
    Project target;
    bool startedProject = false;
    if (!project.empty() && !OpenOrStartProject("trace", project, target, &startedProject)) return 1;

    if (const std::string why = RegularFileProblem(video); !why.empty()) {
        std::fprintf(stderr, "morvane-cli trace: cannot read \"%s\": %s\n", video.c_str(), why.c_str());
        return 1;
    }
    VideoState state;
    if (!LoadVideo(state, video)) {
        std::fprintf(stderr, "morvane-cli trace: Couldn't decode this video — use an H.264 .mp4 proxy.\n");
        return 1;
    }
    if (startedProject) {
        // A new project takes the picture's rate and length.
        if (state.fps > 0.0f) target.timeline.settings.fps = state.fps;
        if (state.duration > 0.0f) target.timeline.settings.totalDuration = state.duration;
    }
    // With a project, its frame rate, timecode start and video start count; alone, the video's.
    state.startTime = project.empty() ? 0.0f : target.videoStartTime;
    const float fps = project.empty() ? state.fps : target.timeline.settings.fps;
    const float timecodeStart = project.empty() ? 0.0f : target.timeline.settings.startTC;
    TraceAnalysis analysis;
    const TraceSource source{video, fps, timecodeStart, state.startTime, state.width, state.height};
    const TraceModel model = Prefs().traceModel;
    const std::string base = TraceFilesBasePath(project, video);
    bool filesWritten = false;
    StartTraceAnalysis(analysis, state, params, model,
                       [&](TraceAnalysis& done) { filesWritten = WriteTraceFiles(base, done, params, source); });
    ProgressLine progress{"Reading light and motion…", isatty(fileno(stderr)) != 0};
    while (analysis.running) {
        ShowProgress(progress, analysis.progress, "");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    JoinTraceAnalysis(analysis);
    ShowProgress(progress, 1.0f, "");
    EndProgress(progress);

    if (filesWritten) std::printf("[Trace] wrote %s.mvtrace and %s.mvtrace.csv\n", base.c_str(), base.c_str());
    else std::printf("[Trace] could not write the trace files at %s\n", base.c_str());
    if (analysis.events.empty()) {
        std::printf("No clear events found. The picture may be too still.\n");
    } else {
        std::printf("%d events\n", static_cast<int>(analysis.events.size()));
        for (size_t i = 0; i < analysis.events.size(); ++i) {
            const TraceEvent& e = analysis.events[i];
            std::printf("%3d  %s  %8.3f s  %-7s %s  confidence %.2f  intensity %.2f  duration %.2f s\n",
                        static_cast<int>(i) + 1,
                        TraceTimecode(e.time + state.startTime, timecodeStart, fps > 0 ? fps : 25.0f).c_str(),
                        e.time, TraceEventTypeName(e.type), e.background ? "BG" : "FG", e.confidence, e.intensity,
                        e.suggestedDuration);
        }
    }
    if (project.empty()) return 0;

    // The project keeps the read; with --import the events on the kept side of the slice
    // level join the timeline, where their times are video times moved by the video start.
    TraceResults results = TraceResultsFromAnalysis(analysis, target.optical.opticalDetail,
                                                    target.optical.traceKeepAbove);
    int imported = 0;
    if (import) {
        for (int index : EventsKeptBySlice(analysis.events, target.optical.opticalDetail, target.optical.traceKeepAbove)) {
            Event event = EventFromTraceEvent(analysis.events[index]);
            event.time += target.videoStartTime;
            target.timeline.events.push_back(event);
            results.events[index].accepted = true;
            ++imported;
        }
    }
    target.optical = std::move(results);
    if (target.videoPath.empty()) target.videoPath = video;
    if (const std::string failed = SaveProjectBesideWindow(project, target); !failed.empty()) {
        std::fprintf(stderr, "morvane-cli trace: %s\n", failed.c_str());
        return 1;
    }
    if (import) std::printf("Picture: Import %d\n", imported);
    return 0;
}

int RunImportMarkers(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("import-markers", argc, argv, &line)) return code;
    const std::string session = line.positionals[0];
    const std::string project = OptionText(line, "--project");
    const float fps = static_cast<float>(OptionNumber(line, "--fps", 0.0));
    if (project.empty()) {
        std::fprintf(stderr, "morvane-cli import-markers: --project P is needed\n");
        return UsageError("import-markers");
    }
    // The session is read before the project is touched: a session that cannot be
    // read is an error, never an import of nothing that still saves the project.
    std::string text, why;
    if (!ReadRegularFile(session, text, &why, kMaxSessionBytes)) {
        std::fprintf(stderr, "morvane-cli import-markers: cannot read \"%s\": %s\n", session.c_str(), why.c_str());
        return 1;
    }
    if (text.find('\0') != std::string::npos) {
        std::fprintf(stderr, "morvane-cli import-markers: %s is not a session text file\n", session.c_str());
        return 1;
    }
    Project target;
    bool startedProject = false;
    if (!OpenOrStartProject("import-markers", project, target, &startedProject)) return 1;
    LoadAllRecipes();
    const std::vector<MarkerRecipe> recipes = MarkerRecipesFromPresets(Recipes());
    std::vector<TraceEvent> events;
    std::vector<Scene> scenes;
    const SessionMarkersRead read =
        ImportSessionMarkersText(text, fps > 0 ? fps : target.timeline.settings.fps, events, &scenes, recipes);
    if (!read.markersSection) {
        std::fprintf(stderr, "morvane-cli import-markers: there are no markers in %s\n", session.c_str());
        return 1;
    }
    // Marker times count from the session's start, which is the timeline's zero; a second
    // import of the same file replaces the markers it brought before.
    const int placed = static_cast<int>(events.size() + scenes.size());
    MarkerImportPlan plan = PlanMarkerImport(target.timeline, MarkerSourceName(session), events, scenes);
    EditState edits;
    ReplaceEventsAndAddScenes({target, edits}, plan.remove, std::move(plan.events), std::move(plan.scenes),
                              plan.totalDuration);
    if (const std::string failed = SaveProjectBesideWindow(project, target); !failed.empty()) {
        std::fprintf(stderr, "morvane-cli import-markers: %s\n", failed.c_str());
        return 1;
    }
    std::printf("%d  markers imported from Pro Tools, review on the timeline\n", placed);
    return 0;
}

}  // namespace morvane::cli
