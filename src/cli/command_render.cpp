// morvane-cli render: a built project's timeline through the playback mixer into a
// 24-bit WAV file.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
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
#include "export/bwf_writer.h"
#include "platform/regular_file.h"

namespace morvane::cli {

namespace {

// Empty when `out` may be written: it does not exist yet, or it is a WAV file other
// than the project. A render never replaces the project, a device or a document that
// is not a sound file, whatever path it is given.
std::string OutputProblem(const std::string& out, const std::string& projectPath) {
    struct stat output {};
    if (::stat(out.c_str(), &output) != 0) return "";  // a new file; its folder is checked by the write
    struct stat project {};
    if (::stat(projectPath.c_str(), &project) == 0 && project.st_dev == output.st_dev &&
        project.st_ino == output.st_ino)
        return out + " is the project itself";
    if (!S_ISREG(output.st_mode)) return out + " is not a regular file";
    std::string why;
    const int fd = OpenRegularFileForReading(out, &why);
    if (fd < 0) return out + ": " + why;
    char header[12] = {};
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    const bool riff = std::memcmp(header, "RIFF", 4) == 0 || std::memcmp(header, "RF64", 4) == 0;
    if (got != sizeof header || !riff || std::memcmp(header + 8, "WAVE", 4) != 0)
        return out + " exists and is not a WAV file";
    return "";
}

}  // namespace

int RunRender(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("render", argc, argv, &line)) return code;
    const std::string path = line.positionals[0];
    const std::string out = OptionText(line, "--out");
    const double rangeStart = OptionNumber(line, "--range", -1.0, 0);
    const double rangeEnd = OptionNumber(line, "--range", -1.0, 1);
    if (out.empty()) {
        std::fprintf(stderr, "morvane-cli render: --out FILE.wav is needed\n");
        return UsageError("render");
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
    if (const std::string problem = OutputProblem(out, path); !problem.empty()) {
        std::fprintf(stderr, "morvane-cli render: will not write %s\n", problem.c_str());
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
    // Written under a temporary name and renamed into place: the file at `out` is
    // either the old one or the whole new one.
    WavFileFormat format;
    format.sampleRate = cache.sampleRate.load();
    const int64_t frames = static_cast<int64_t>(mix.size() / 2);
    if (!WriteWavFile(out, InterleavedChannels(mix.data(), frames, 2), frames, format, &error).written) {
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
