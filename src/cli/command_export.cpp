// morvane-cli export: the built timeline as Broadcast WAV files (mix, stems, tracks,
// clips and the wet reverb stem).
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool ParseNumber(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

// "-14" -> 1 ... "-23" -> 4; -1 for any other text.
int LufsIndexOf(const std::string& text) {
    const char* const targets[] = {"-14", "-16", "-18", "-23"};
    for (int i = 0; i < 4; ++i)
        if (text == targets[i]) return i + 1;
    return -1;
}

int LayoutOf(const std::string& text) {
    if (text == "stereo") return kExportStereo;
    if (text == "5.1") return kExport51;
    if (text == "7.1.4") return kExport714;
    if (text == "ambix") return kExportAmbiX;
    return -1;
}

// "reel1" for "/some/where/reel1.mvproj".
std::string ProjectName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

int RunExport(int argc, char** argv) {
    std::string path, out;
    bool mix = false, stems = false, tracks = false, clips = false, reverbStem = false;
    int lufsIndex = -1, layout = -1;
    double rangeIn = -1.0, rangeOut = -1.0;
    bool hasRange = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mix") {
            mix = true;
        } else if (arg == "--stems") {
            stems = true;
        } else if (arg == "--tracks") {
            tracks = true;
        } else if (arg == "--clips") {
            clips = true;
        } else if (arg == "--reverb-stem") {
            reverbStem = true;
        } else if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--lufs" && i + 1 < argc) {
            lufsIndex = LufsIndexOf(argv[++i]);
            if (lufsIndex < 0) {
                std::fprintf(stderr, "morvane-cli export: --lufs takes -14, -16, -18 or -23, not '%s'\n", argv[i]);
                return UsageError("export");
            }
        } else if (arg == "--layout" && i + 1 < argc) {
            layout = LayoutOf(argv[++i]);
            if (layout < 0) {
                std::fprintf(stderr, "morvane-cli export: --layout takes stereo, 5.1, 7.1.4 or ambix, not '%s'\n",
                             argv[i]);
                return UsageError("export");
            }
        } else if (arg == "--range" && i + 2 < argc && ParseNumber(argv[i + 1], &rangeIn) &&
                   ParseNumber(argv[i + 2], &rangeOut)) {
            hasRange = true;
            i += 2;
        } else if (arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "morvane-cli export: unknown or incomplete option '%s'\n", arg.c_str());
            return UsageError("export");
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "morvane-cli export: more than one project given\n");
            return UsageError("export");
        }
    }
    if (path.empty() || out.empty()) return UsageError("export");
    if (hasRange && !(rangeIn >= 0.0 && rangeOut > rangeIn)) {
        std::fprintf(stderr, "morvane-cli export: --range %g %g is not a stretch of the timeline (IN >= 0, OUT > IN)\n",
                     rangeIn, rangeOut);
        return 1;
    }
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

    ExportRequest request = MakeExportRequest(project, out, ProjectName(path),
                                              lufsIndex >= 0 ? lufsIndex : Prefs().exportWavLUFSIndex,
                                              layout >= 0 ? layout : Prefs().exportWavLayout);
    ExportSettings& s = request.settings;
    s.exportFormatWAV = true;
    s.exportFormatAAF = false;  // the command writes WAV files only
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
        std::fprintf(stderr, "morvane-cli export: %s\n", outcome.resultText.c_str());
        return 1;
    }
    return 0;
}

}  // namespace morvane::cli
