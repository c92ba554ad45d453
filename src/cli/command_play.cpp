// morvane-cli play: a built project through the audio device, with a position line,
// until the end of the timeline or Ctrl-C.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/audio_output.h"
#include "audio/block_eviction.h"
#include "audio/mixer.h"
#include "audio/render_timeline.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"

namespace morvane::cli {

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnInterrupt(int) { gStop = 1; }

std::string Clock(double seconds) {
    const int total = static_cast<int>(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%01d", total / 60, total % 60,
                  static_cast<int>((seconds - std::floor(seconds)) * 10.0));
    return text;
}

}  // namespace

int RunPlay(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("play", argc, argv, &line)) return code;
    const std::string path = line.positionals[0];
    const double from = OptionNumber(line, "--from", 0.0);

    Project project;
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli play: %s\n", loaded.error.c_str());
        return 1;
    }
    if (project.timeline.results.empty()) {
        std::fprintf(stderr, "morvane-cli play: %s has no built layers (run morvane-cli build first)\n", path.c_str());
        return 1;
    }
    LoadPreferences();
    LibrarySet set;
    LoadAllLibraries(set);

    RenderCache cache;
    SetMemoryBudget(cache, int64_t{1} << 30);
    SetMonitoring(cache, Prefs());
    const bool terminal = isatty(STDERR_FILENO) != 0;
    ProgressLine rendering{"Rendering", terminal};
    RenderOptions options;
    options.libraries = &set;
    options.channelOrderFallback = Prefs().channelOrderFallback;
    options.progress = [&](float f) {
        ShowProgress(rendering, f, "");
        return true;
    };
    std::string error;
    const bool rendered = RenderTimelineBlocking(project, cache, options, &error);
    EndProgress(rendering);
    if (!rendered) {
        std::fprintf(stderr, "morvane-cli play: %s\n", error.c_str());
        return 1;
    }
    const double end = std::max<double>(project.timeline.settings.totalDuration, cache.timelineEnd);
    if (from >= end) {
        std::fprintf(stderr, "morvane-cli play: --from %.3f is past the end of the timeline (%.3f s)\n", from, end);
        return 1;
    }

    AudioOutput output;
    const bool opened = OpenCacheOutput(output, cache, cache.sampleRate.load(), 2);
    if (!opened) {
        std::fprintf(stderr, "morvane-cli play: %s\n", output.StatusText().c_str());
        return 1;
    }
    gStop = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    StartPlayback(cache, from);
    const double rate = cache.sampleRate.load();
    std::printf("Playing %s on %s from %s\n", path.c_str(), output.DeviceName().c_str(), Clock(from).c_str());
    std::fflush(stdout);
    auto lastLine = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    double position = from;
    while (!gStop) {
        position = static_cast<double>(cache.mixer.transport.playPosition.load()) / rate;
        if (position >= end) break;
        output.CheckDevice();
        RunEvictionPass(cache, position);  // restores what is about to sound
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLine >= std::chrono::milliseconds(terminal ? 100 : 1000)) {
            lastLine = now;
            if (terminal)
                std::fprintf(stderr, "\r%s / %s ", Clock(position).c_str(), Clock(end).c_str());
            else
                std::printf("%s / %s\n", Clock(position).c_str(), Clock(end).c_str());
            std::fflush(terminal ? stderr : stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    StopPlayback(cache);
    // Let the level ramp and the reverb tail reach the device before closing it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    output.Close();
    sigaction(SIGINT, &previous, nullptr);
    if (terminal) std::fprintf(stderr, "\n");
    std::printf("%s at %s\n", gStop ? "Stopped" : "Finished", Clock(position).c_str());
    return 0;
}

}  // namespace morvane::cli
