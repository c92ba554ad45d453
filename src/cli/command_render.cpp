// morvane-cli render: a built project's timeline through the playback mixer into a
// 24-bit WAV file.
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/block_eviction.h"
#include "audio/render_timeline.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "library/audio_file.h"
#include "library/libraries.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "platform/folders.h"

namespace morvane::cli {

namespace {

bool ParseSeconds(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*out);
}

// Writes interleaved stereo as 24-bit PCM beside `path` and renames it into place,
// so the file at `path` is either the old one or the whole new one.
bool WriteWavAtomically(const std::string& path, const std::vector<float>& interleaved, int channels, int rate,
                        std::string* error) {
    const std::string temporary = path + ".partial";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        *error = "cannot write " + temporary + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / static_cast<size_t>(channels));
    const sf_count_t written = sf_writef_float(file, interleaved.data(), frames);
    const int closed = sf_close(file);
    std::error_code code;
    if (written != frames || closed != 0) {
        std::filesystem::remove(temporary, code);
        *error = "cannot write " + temporary + " (disk full?)";
        return false;
    }
    std::filesystem::rename(temporary, path, code);
    if (code) {
        std::filesystem::remove(temporary, code);
        *error = "cannot replace " + path + ": " + code.message();
        return false;
    }
    SyncFolderOf(path);
    return true;
}

}  // namespace

int RunRender(int argc, char** argv) {
    std::string path, out;
    double rangeStart = -1.0, rangeEnd = -1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc) {
            out = argv[++i];
        } else if (arg == "--range" && i + 2 < argc && ParseSeconds(argv[i + 1], &rangeStart) &&
                   ParseSeconds(argv[i + 2], &rangeEnd)) {
            i += 2;
        } else if (arg[0] == '-' && arg.size() > 1) {
            std::fprintf(stderr, "morvane-cli render: unknown or incomplete option '%s'\n", arg.c_str());
            return UsageError("render");
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "morvane-cli render: more than one project given\n");
            return UsageError("render");
        }
    }
    if (path.empty() || out.empty()) return UsageError("render");
    if (rangeStart >= 0.0 && rangeEnd <= rangeStart) {
        std::fprintf(stderr, "morvane-cli render: --range %.3f %.3f ends before it starts\n", rangeStart, rangeEnd);
        return 2;
    }

    Project project;
    const LoadProjectResult loaded = LoadProject(path, project);
    if (!loaded.ok) {
        std::fprintf(stderr, "morvane-cli render: %s\n", loaded.error.c_str());
        return 1;
    }
    if (const std::string refused = RefusedSoundFileOf(project.timeline); !refused.empty()) {
        std::fprintf(stderr, "morvane-cli render: %s\n", refused.c_str());
        return 1;
    }
    if (project.timeline.results.empty()) {
        std::fprintf(stderr, "morvane-cli render: %s has no built layers (run morvane-cli build first)\n",
                     path.c_str());
        return 1;
    }
    LoadPreferences();
    LibrarySet set;
    LoadAllLibraries(set);

    RenderCache cache;
    SetMemoryBudget(cache, int64_t{1} << 30);  // long timelines spill to disk beyond 1 GiB
    const bool terminal = isatty(STDERR_FILENO) != 0;
    ProgressLine rendering{"Rendering", terminal};
    RenderOptions options;
    options.libraries = &set;
    options.channelOrderFallback = Prefs().channelOrderFallback;
    const size_t layers = project.timeline.results.size();
    options.progress = [&](float f) {
        ShowProgress(rendering, f, std::to_string(static_cast<size_t>(f * layers + 0.5f)) + " / " +
                                       std::to_string(layers) + " layers");
        return true;
    };
    std::string error;
    const bool rendered = RenderTimelineBlocking(project, cache, options, &error);
    EndProgress(rendering);
    if (!rendered) {
        std::fprintf(stderr, "morvane-cli render: %s\n", error.c_str());
        return 1;
    }
    int missing = 0;
    for (const RenderBlock& b : cache.blocks) missing += b.missingFile ? 1 : 0;

    const double start = rangeStart >= 0.0 ? rangeStart : 0.0;
    const double end = rangeStart >= 0.0 ? rangeEnd
                                         : std::max<double>(project.timeline.settings.totalDuration, cache.timelineEnd);
    ProgressLine mixing{"Mixing", terminal};
    std::vector<float> mix;
    const bool mixed = MixOffline(cache, start, end, 2, mix, [&](float f) {
        ShowProgress(mixing, f, "");
        return true;
    }, &error);
    EndProgress(mixing);
    if (!mixed) {
        std::fprintf(stderr, "morvane-cli render: %s\n", error.c_str());
        return 1;
    }
    if (!WriteWavAtomically(out, mix, 2, cache.sampleRate.load(), &error)) {
        std::fprintf(stderr, "morvane-cli render: %s\n", error.c_str());
        return 1;
    }
    float peak = 0.0f;
    for (float v : mix) peak = std::max(peak, std::fabs(v));
    std::printf("Rendered %zu layer%s, %.3f s to %.3f s, to %s (peak %.1f dBFS)\n", cache.blocks.size(),
                cache.blocks.size() == 1 ? "" : "s", start, end, out.c_str(),
                peak > 0.0f ? 20.0 * std::log10(peak) : -144.0);
    if (missing > 0)
        std::printf("%d layer%s had no readable sound file and played as silence\n", missing, missing == 1 ? "" : "s");
    return 0;
}

}  // namespace morvane::cli
