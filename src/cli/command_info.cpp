// morvane-cli info: what a project file holds, as the program reads it.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "model/project_file.h"
#include "model/timeline.h"

namespace morvane::cli {

namespace {


void PrintSummary(const std::string& path, const Project& project, const LoadProjectResult& result) {
    const TimelineState& t = project.timeline;
    std::printf("Project:        %s\n", path.c_str());
    std::printf("Format version: %d\n", result.version);
    std::printf("Saved by:       %s\n", result.savedBy.empty() ? "(unknown)" : result.savedBy.c_str());
    std::printf("Video:          %s\n", project.videoPath.empty() ? "(none)" : project.videoPath.c_str());
    std::printf("Sample rate:    %d Hz\n", project.projectSampleRate);
    std::printf("Duration:       %.3f s\n", static_cast<double>(t.settings.totalDuration));

    int byShape[kEventShapeCount] = {};
    for (const Event& event : t.events) ++byShape[static_cast<int>(EventShapeFromInt(static_cast<int>(event.shape)))];
    std::string shapes;
    for (int s = 0; s < kEventShapeCount; ++s) {
        if (byShape[s] == 0) continue;
        if (!shapes.empty()) shapes += ", ";
        shapes += std::string(kEventShapeNames[s]) + " " + std::to_string(byShape[s]);
    }
    std::printf("Events:         %zu%s%s%s\n", t.events.size(), shapes.empty() ? "" : " (", shapes.c_str(),
                shapes.empty() ? "" : ")");
    std::printf("Layers:         %zu%s\n", t.results.size(), t.built ? " (built)" : "");
    std::printf("Scenes:         %zu\n", t.scenes.size());
    std::printf("User shapes:    %zu\n", t.userShapes.size());
    std::printf("Audio files:    %d referenced, %d missing\n", result.referencedFiles, result.missingFiles);
}

}  // namespace

int RunInfo(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("info", argc, argv, &line)) return code;
    const std::string path = line.positionals[0];
    const bool dump = HasOption(line, "--dump");

    Project project;
    LoadProjectResult result = LoadProject(path, project);
    if (!result.ok) {
        std::fprintf(stderr, "morvane-cli info: %s\n", result.error.c_str());
        return 1;
    }
    // The warning goes to stderr so that a dump on stdout stays a project document.
    if (!result.warning.empty()) std::fprintf(stderr, "Warning: %s\n", result.warning.c_str());

    if (dump) {
        std::string folder;
        if (size_t slash = path.find_last_of('/'); slash != std::string::npos) folder = path.substr(0, slash);
        else folder = ".";
        std::string text = FormatProjectDocument(project, folder);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
        PrintSummary(path, project, result);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace morvane::cli
