// morvane-cli export: the built timeline as Broadcast WAV files (mix, stems, tracks,
// clips and the wet reverb stem) and, with --aaf, as an AAF session with its media.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "audio/render_timeline.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "export/export_job.h"
#include "export/export_layouts.h"
#include "library/audio_file.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"

namespace morvane::cli {

namespace {

std::atomic<bool> gExportCancel{false};
void OnInterrupt(int) { gExportCancel.store(true); }

// The export layouts in the order --layout lists its choices.
constexpr int kLayoutByChoice[] = {kExportStereo, kExport51, kExport714, kExportAmbiX};

// The session's options from the command line; those not given keep the project's.
void ApplyAafOptions(const CommandLine& line, ExportSettings& s) {
    if (HasOption(line, "--handles")) {
        s.exportWithHandles = true;
        s.handleFullSource = false;
        s.handleDuration = static_cast<float>(OptionNumber(line, "--handles", 1.0));
    }
    if (HasOption(line, "--full-source")) {
        s.exportWithHandles = true;
        s.handleFullSource = true;
    }
    if (HasOption(line, "--fade-in")) s.fadeInDuration = static_cast<float>(OptionNumber(line, "--fade-in", 0.0));
    if (HasOption(line, "--fade-out")) s.fadeOutDuration = static_cast<float>(OptionNumber(line, "--fade-out", 0.0));
    const std::pair<const char*, bool ExportSettings::*> switches[] = {
        {"--snap", &ExportSettings::snapToFrames},
        {"--markers", &ExportSettings::exportAAFMarkers},
        {"--clip-gain", &ExportSettings::exportAAFVolAuto},
        {"--source-channels", &ExportSettings::exportAAFSourceChannels},
        {"--fill-virtual", &ExportSettings::exportFillVirtual},
    };
    for (const auto& [name, field] : switches)
        if (HasOption(line, name)) s.*field = true;
}

}  // namespace

int RunExport(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("export", argc, argv, &line)) return code;
    const std::string path = line.positionals[0];
    std::string out = OptionText(line, "--out");
    if (out.empty()) {
        std::fprintf(stderr, "morvane-cli export: --out DIR is needed\n");
        return UsageError("export");
    }
    const bool mix = HasOption(line, "--mix"), stems = HasOption(line, "--stems"),
               tracks = HasOption(line, "--tracks"), clips = HasOption(line, "--clips"),
               reverbStem = HasOption(line, "--reverb-stem");
    const int lufsIndex = static_cast<int>(OptionNumber(line, "--lufs", -2.0)) + 1;  // -1 when not given
    const int layoutChoice = static_cast<int>(OptionNumber(line, "--layout", -1.0));
    const int layout = layoutChoice >= 0 ? kLayoutByChoice[layoutChoice] : -1;
    const bool hasRange = HasOption(line, "--range");
    const double rangeIn = OptionNumber(line, "--range", -1.0, 0);
    const double rangeOut = OptionNumber(line, "--range", -1.0, 1);
    while (out.size() > 1 && out.back() == '/') out.pop_back();

    Project project;
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli export: %s\n", loaded.error.c_str());
        return 1;
    }
    if (const std::string refused = RefusedSoundFileOf(project.timeline); !refused.empty()) {
        std::fprintf(stderr, "morvane-cli export: %s\n", refused.c_str());
        return 1;
    }
    if (!project.timeline.built || project.timeline.results.empty()) {
        std::fprintf(stderr, "morvane-cli export: %s has no built layers: build the timeline first (morvane-cli build)\n",
                     path.c_str());
        return 1;
    }
    LoadPreferences();
    LibrarySet libraries;
    LoadAllLibraries(libraries);

    gExportCancel.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    const bool terminal = isatty(STDERR_FILENO) != 0;

    RenderCache cache;
    RenderOptions render;
    render.libraries = &libraries;
    render.channelOrderFallback = Prefs().channelOrderFallback;
    ProgressLine renderLine{"Rendering", terminal};
    render.progress = [&](float fraction) {
        ShowProgress(renderLine, fraction, "");
        return !gExportCancel.load();
    };
    std::string error;
    const bool rendered = RenderTimelineBlocking(project, cache, render, &error);
    EndProgress(renderLine);
    if (!rendered) {
        sigaction(SIGINT, &previous, nullptr);
        std::fprintf(stderr, "morvane-cli export: %s\n", error.c_str());
        return 1;
    }

    ExportRequest request = MakeExportRequest(project, out, std::filesystem::path(path).stem().string(),
                                              lufsIndex >= 0 ? lufsIndex : Prefs().exportWavLUFSIndex,
                                              layout >= 0 ? layout : Prefs().exportWavLayout);
    ExportSettings& s = request.settings;
    const bool aaf = HasOption(line, "--aaf");
    // With --aaf alone only the session is written; WAV kinds named beside it come too.
    s.exportFormatWAV = !aaf || mix || stems || tracks || clips;
    s.exportFormatAAF = aaf;
    if (aaf) ApplyAafOptions(line, s);
    if (mix || stems || tracks || clips) {
        s.exportWavMixdown = mix;
        s.exportWavStems = stems;
        s.exportWavTracks = tracks;
        s.exportWavClips = clips;
    }
    if (reverbStem) s.exportReverbStem = true;
    if (hasRange) {
        request.workAreaIn = static_cast<float>(rangeIn);
        request.workAreaOut = static_cast<float>(rangeOut);
    }
    const std::string blocker = ExportStartBlocker(true, s, true, false);
    if (!blocker.empty()) {
        sigaction(SIGINT, &previous, nullptr);
        std::fprintf(stderr, "morvane-cli export: %s\n", blocker.c_str());
        return 1;
    }

    auto snapshot = TakeExportSnapshot(project, cache, request);
    ExportObserver observer;
    observer.cancel = &gExportCancel;
    ProgressLine kindLine{"", terminal};
    std::string kindLabel;
    observer.kindStarted = [&](int, const std::string& text) {
        if (!kindLabel.empty()) EndProgress(kindLine);
        kindLabel = text;
        kindLine = ProgressLine{kindLabel.c_str(), terminal};
    };
    observer.progress = [&](float fraction) { ShowProgress(kindLine, fraction, ""); };
    const ExportOutcome outcome = morvane::RunExport(*snapshot, observer, nullptr);
    EndProgress(kindLine);
    sigaction(SIGINT, &previous, nullptr);
    if (outcome.cancelled || outcome.failedKinds > 0 || outcome.aafFailed) {
        // What failed and why, in the one line: the details went to stdout.
        std::fprintf(stderr, "morvane-cli export: %s%s%s\n", outcome.resultText.c_str(),
                     outcome.failure.empty() ? "" : ": ", outcome.failure.c_str());
        return 1;
    }
    return 0;
}

}  // namespace morvane::cli
