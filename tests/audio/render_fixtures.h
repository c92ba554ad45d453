#pragma once
// Sound files, layers, libraries and built projects for the render tests.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/render_cache.h"
#include "audio/render_jobs.h"
#include "engine/event_build.h"
#include "engine/selection.h"
#include "library/audio_file.h"
#include "library/sound_fixtures.h"
#include "model/timeline.h"
#include "support/test_support.h"

namespace morvane::test {

// A mono sine file of `seconds` at `rate`.
inline std::string SineFile(const std::string& dir, const std::string& name, double frequency, double seconds,
                            double amplitude = 0.5, int rate = 48000, int channels = 1) {
    SoundParams p;
    p.sampleRate = rate;
    p.channels = channels;
    p.frames = static_cast<long long>(seconds * rate);
    p.frequency = frequency;
    p.amplitude = amplitude;
    p.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const std::string path = dir + "/" + name + ".wav";
    WriteSound(path, p);
    return path;
}

// A file of deterministic white noise (float WAV), `lowpass` 0..1 smooths it
// (a one-pole low-pass with that coefficient) to darken it.
inline std::string NoiseFile(const std::string& dir, const std::string& name, double seconds, float lowpass = 0.0f,
                             uint32_t seed = 1, int rate = 48000) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const std::string path = dir + "/" + name + ".wav";
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> samples(static_cast<size_t>(seconds * rate));
    uint32_t state = seed;
    float y = 0.0f;
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        const float x = static_cast<float>(state >> 8) / 16777216.0f * 2.0f - 1.0f;
        y = lowpass * y + (1.0f - lowpass) * x;
        s = 0.4f * y / std::max(0.05f, 1.0f - lowpass);
    }
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return path;
}

// A plain layer playing `path` from its start.
inline Layer FileLayer(const std::string& name, const std::string& path, float start, float duration, int event = 0) {
    Layer l;
    l.name = name;
    l.filepath = path;
    l.startTime = start;
    l.duration = duration;
    l.eventIdx = event;
    l.fadeIn = 0.02f;
    l.fadeOut = 0.05f;
    return l;
}

// A library of analysed files, as a scan would make it.
inline Library AnalysedLibrary(const std::vector<std::string>& paths) {
    Library lib;
    lib.name = "Render";
    lib.folder = "/render";
    for (const std::string& path : paths) {
        LibraryEntry e;
        if (AnalyzeFile(path, e, nullptr)) lib.entries.push_back(e);
    }
    return lib;
}

inline BuildOptions FixedBuild(uint32_t seed) {
    BuildOptions o;
    o.useFixedSeed = true;
    o.fixedSeed = seed;
    return o;
}

inline double Rms(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
    to = std::min(to, x.size());
    if (to <= from) return 0.0;
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

inline float Peak(const std::vector<float>& x) {
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    return peak;
}

// Zero crossings per second of a signal: twice its frequency for a sine.
inline double CrossingFrequency(const std::vector<float>& x, int rate) {
    int crossings = 0;
    for (size_t i = 1; i < x.size(); ++i) crossings += (x[i - 1] < 0.0f) != (x[i] < 0.0f) ? 1 : 0;
    return crossings / 2.0 / (static_cast<double>(x.size()) / rate);
}

// A project of four events built over a library of ten analysed files, with
// everything a rebuild job needs.
struct BuiltProject {
    TempDir dir;
    Library library;
    Project project;
    RenderCache cache;
    RenderJobSlot slot;
    std::mutex resultsMutex;
    RebuildTarget target;

    BuiltProject() {
        const std::string d = dir.path.string();
        std::vector<std::string> files;
        for (int i = 0; i < 5; ++i) {
            files.push_back(SineFile(d, "tone_" + std::to_string(i), 150.0 + 110.0 * i, 4.0));
            files.push_back(NoiseFile(d, "hiss_" + std::to_string(i), 4.0, 0.2f * i, 3 + i));
        }
        library = AnalysedLibrary(files);
        project.projectSampleRate = 48000;
        for (int i = 0; i < 4; ++i) {
            Event ev;
            ev.time = 0.5f + 1.5f * i;
            ev.duration = 1.0f;
            ev.shape = i == 3 ? EventShape::Bloom : EventShape::Spot;
            project.timeline.events.push_back(ev);
        }
        target.project = &project;
        target.cache = &cache;
        target.resultsMutex = &resultsMutex;
        target.slot = &slot;
        target.roots = {LibraryRoot{&library, {}}};
        target.buildOptions = FixedBuild(11);
        target.transportSeconds = [] { return 1.25; };
    }
    ~BuiltProject() { ShutdownJobSlot(slot); }  // a job still running ends before its project
};

}  // namespace morvane::test
