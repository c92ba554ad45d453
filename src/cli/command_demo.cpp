// morvane-cli demo: the main job on the bundled demo content. It installs the demo
// material when needed, scans the demo library, reads the demo reel's picture, imports
// the proposed events, builds and renders the timeline, and writes the project, the
// trace files and the mixdown, then says what happened and where everything lies.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/progress.h"
#include "demo/demo_road.h"
#include "model/timeline.h"

namespace morvane::cli {

namespace {

// One progress line per step of the road; a new step ends the previous line.
struct RoadProgressDisplay {
    bool terminal = isatty(STDERR_FILENO) != 0;
    std::optional<demo::RoadStep> current;
    ProgressLine line{"", false};

    void Show(demo::RoadStep step, float fraction, const std::string& detail) {
        if (!current || *current != step) {
            if (current) EndProgress(line);
            current = step;
            line = ProgressLine{demo::RoadStepLabel(step), terminal};
        }
        ShowProgress(line, fraction, detail);
    }
    void Finish() {
        if (current) EndProgress(line);
        current.reset();
    }
};

// The desktop program built beside this tool, else its plain name.
std::string DesktopAppCommand() {
    std::error_code ec;
    const std::filesystem::path app = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "morvane";
    return !ec && std::filesystem::exists(app, ec) ? app.string() : std::string("morvane");
}

}  // namespace

int RunDemo(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("demo", argc, argv, &line)) return code;
    demo::RoadOptions options;
    options.forceInstall = HasOption(line, "--force");
    if (HasOption(line, "--out")) options.outFolder = OptionText(line, "--out");

    RoadProgressDisplay display;
    options.progress = [&](demo::RoadStep step, float fraction, const std::string& detail) {
        display.Show(step, fraction, detail);
    };
    const auto start = std::chrono::steady_clock::now();
    const demo::RoadReport r = demo::RunDemoRoad(options);
    display.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!r.ok) {
        std::fprintf(stderr, "morvane-cli demo: %s\n", r.error.c_str());
        return 1;
    }

    std::printf("\nMorvane demo: done in %.1f s\n", seconds);
    if (r.filesInstalled > 0) std::printf("  installed      %d demo files into your documents folder\n", r.filesInstalled);
    std::printf("  library        %d files scanned (%d analysed, %d re-used, %d failed; %llu sound files opened)\n",
                r.filesScanned, r.filesAnalysed, r.filesReused, r.filesFailed,
                static_cast<unsigned long long>(r.audioFilesOpened));
    std::printf("  picture        %d events proposed, %d imported, %d placed by hand\n", r.eventsProposed,
                r.eventsImported, r.handPlacedEvents);
    std::printf("  build          %d layers:", r.layers);
    for (int s = 0; s < kEventShapeCount; ++s)
        if (r.eventsPerShape[static_cast<size_t>(s)] > 0)
            std::printf(" %s %d", kEventShapeNames[s], r.layersPerShape[static_cast<size_t>(s)]);
    std::printf("\n  placeholders   %d   no match %d   missing %d\n", r.placeholders, r.noMatch, r.missing);
    std::printf("  mixdown        %.1f s at %d Hz, %.1f LUFS integrated, peak %.1f dBFS\n", r.mixSeconds,
                r.mixSampleRate, static_cast<double>(r.loudnessLufs), static_cast<double>(r.peakDbfs));
    std::printf("\nWhere everything lies\n");
    std::printf("  project        %s\n", r.projectPath.c_str());
    std::printf("  mixdown        %s\n", r.mixdownPath.c_str());
    std::printf("  export         %s (%zu files: the mix and a stem per group)\n", r.exportFolder.c_str(),
                r.exportedFiles.size());
    std::printf("  trace files    %s.mvtrace, %s.mvtrace.csv\n", r.traceBasePath.c_str(), r.traceBasePath.c_str());
    std::printf("  video          %s\n", r.videoPath.c_str());
    std::printf("  library        %s\n", r.libraryFolder.c_str());
    std::printf("  library index  %s\n", r.indexPath.c_str());
    std::printf("\nOpen it in the desktop app:\n  %s \"%s\"\n", DesktopAppCommand().c_str(), r.projectPath.c_str());
    return 0;
}

}  // namespace morvane::cli
