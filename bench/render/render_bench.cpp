// Rendering built timelines into the render cache.
//
//  BM_RenderBuilt300: a 300-event timeline built from a library of 40 generated
//    files, rendered into the cache from cold (decoded-segment cache emptied).
//    Figure: seconds of layer audio rendered per CPU second (the render is one
//    thread; CPU time is what a shared machine cannot distort), and the
//    peak memory of the cache (block audio + decoded segments). Peer: reading and
//    decoding the same source spans alone (the floor any render stands on), as a
//    ratio.
//  BM_TwoHours3000Layers: a 2-hour timeline of 3,000 layers rendered with a
//    1 GiB budget and then played through end to end (an eviction pass every
//    second of timeline, as the frame loop runs them). Figures: the peak of block
//    audio held in memory against the budget and against what the timeline holds
//    in all, restores, and the longest eviction pass.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/block_eviction.h"
#include "audio/render_timeline.h"
#include "engine/event_build.h"
#include "engine/passes.h"
#include "library/audio_file.h"

using namespace morvane;

namespace {

constexpr int kRate = 48000;

struct Fixture {
    std::string folder;
    std::vector<std::string> files;
    Library library;

    Fixture() {
        folder = (std::filesystem::temp_directory_path() / "morvane-render-bench").string();
        std::filesystem::create_directories(folder);
        uint32_t state = 12345;
        for (int i = 0; i < 40; ++i) {
            const std::string path = folder + "/sound_" + std::to_string(i) + ".wav";
            files.push_back(path);
            if (std::filesystem::exists(path)) continue;
            SF_INFO info{};
            info.samplerate = i % 4 == 0 ? 44100 : kRate;  // some need resampling
            info.channels = i % 3 == 0 ? 2 : 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
            const double seconds = 2.0 + (i % 7);
            std::vector<float> samples(static_cast<size_t>(seconds * info.samplerate) * info.channels);
            const double f = 80.0 * (1 + i % 11);
            float y = 0.0f;
            for (size_t k = 0; k < samples.size() / info.channels; ++k) {
                state = state * 1664525u + 1013904223u;
                const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
                y = 0.9f * y + 0.1f * noise;
                const double t = static_cast<double>(k) / info.samplerate;
                const float v = static_cast<float>(0.4 * std::sin(2 * M_PI * f * t) * std::exp(-t * (i % 5)) + y);
                for (int c = 0; c < info.channels; ++c) samples[k * info.channels + c] = v * (c ? 0.8f : 1.0f);
            }
            SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
            sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / info.channels));
            sf_close(file);
        }
        library.name = "Bench";
        library.folder = folder;
        for (const std::string& path : files) {
            LibraryEntry e;
            if (AnalyzeFile(path, e, nullptr)) library.entries.push_back(e);
        }
    }
};

Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

double LayerSeconds(const RenderCache& cache) {
    double total = 0.0;
    for (const RenderBlock& b : cache.blocks) total += b.duration;
    return total;
}

// Seconds of CPU time this process has used: the machine is shared, so wall time
// measures the neighbours as much as the code.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double MaxRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_RenderBuilt300(benchmark::State& state) {
    Fixture& fx = TheFixture();
    Project project;
    project.projectSampleRate = kRate;
    const EventShape shapes[] = {EventShape::Spot, EventShape::Bloom, EventShape::Contour, EventShape::Scatter,
                                 EventShape::Fill};
    for (int i = 0; i < 300; ++i) {
        Event ev;
        ev.time = 2.0f * i;
        ev.duration = 0.5f + static_cast<float>(i % 4);
        ev.shape = shapes[i % 5];
        ev.alloy = i % 10 == 0;
        project.timeline.events.push_back(ev);
    }
    project.timeline.settings.totalDuration = 610.0f;
    const std::vector<LibraryRoot> roots = {LibraryRoot{&fx.library, {}}};
    BuildOptions build;
    build.useFixedSeed = true;
    build.fixedSeed = 7;
    BuildEvents(project, roots, -1, -1.0f, -1.0f, 0, build);
    RunPostBuildPasses(project, MakeBandLookup(roots), false, false);

    double renderSeconds = 0.0, decodeSeconds = 0.0, audioSeconds = 0.0;
    int64_t peakBytes = 0;
    for (auto _ : state) {
        // The peer: every layer's source span read and decoded, nothing else.
        const double decodeStart = CpuSeconds();
        for (const Layer& l : project.timeline.results) {
            if (l.filepath.empty()) continue;
            RegionRead read;
            ReadRegion(l.filepath, l.sourceOffset, static_cast<int64_t>(l.duration * 48000.0f), &read);
            benchmark::DoNotOptimize(read.samples.data());
        }
        decodeSeconds = CpuSeconds() - decodeStart;

        ClearSegmentCache();
        RenderCache cache;
        RenderOptions options;
        options.progress = [&](float) {
            peakBytes = std::max<int64_t>(peakBytes, ResidentAudioBytes(cache) + static_cast<int64_t>(SegmentCacheBytes()));
            return true;
        };
        std::string error;
        const double start = CpuSeconds();
        if (!RenderTimelineBlocking(project, cache, options, &error)) state.SkipWithError(error.c_str());
        renderSeconds = CpuSeconds() - start;
        audioSeconds = LayerSeconds(cache);
        peakBytes = std::max<int64_t>(peakBytes, ResidentAudioBytes(cache) + static_cast<int64_t>(SegmentCacheBytes()));
    }
    state.counters["layers"] = static_cast<double>(project.timeline.results.size());
    state.counters["audio_s_per_s"] = audioSeconds / renderSeconds;
    state.counters["decode_only_audio_s_per_s"] = audioSeconds / decodeSeconds;
    state.counters["render_vs_decode"] = decodeSeconds / renderSeconds;
    state.counters["peak_cache_MiB"] = static_cast<double>(peakBytes) / (1 << 20);
    std::printf("[render] 300 events, %zu layers, %.0f s of layer audio: %.1f s rendered per CPU second "
                "(decode alone %.1f s/s, render is %.2fx the decode floor); peak cache memory %.1f MiB\n",
                project.timeline.results.size(), audioSeconds, audioSeconds / renderSeconds, audioSeconds / decodeSeconds,
                decodeSeconds / renderSeconds, static_cast<double>(peakBytes) / (1 << 20));
}
BENCHMARK(BM_RenderBuilt300)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_TwoHours3000Layers(benchmark::State& state) {
    Fixture& fx = TheFixture();
    Project project;
    project.projectSampleRate = kRate;
    project.timeline.settings.totalDuration = 7200.0f;
    // 3,000 layers over two hours: 1,000 events of three layers each, 2.4 to 7 s
    // long, mono and stereo files, a third of them pitched.
    for (int e = 0; e < 1000; ++e) {
        project.timeline.events.emplace_back();
        for (int k = 0; k < 3; ++k) {
            const int i = e * 3 + k;
            const LibraryEntry& entry = fx.library.entries[static_cast<size_t>(i * 7 % fx.library.entries.size())];
            Layer l;
            l.name = entry.name + "#" + std::to_string(i);
            l.filepath = entry.path;
            l.stereo = entry.channels > 1;
            l.eventIdx = e;
            l.startTime = 7.2f * e + 0.3f * k;
            l.duration = std::min(entry.duration, 2.4f + static_cast<float>(i % 5));
            l.pitchShift = i % 3 == 0 ? -2.0f : 0.0f;
            l.pitchVarShift = l.pitchShift;
            project.timeline.results.push_back(l);
        }
    }
    const int64_t budget = int64_t{1} << 30;
    int64_t peakResident = 0, totalBytes = 0;
    double renderSeconds = 0.0, playSeconds = 0.0;
    float maxPassMs = 0.0f, renderPassMs = 0.0f;
    uint64_t restores = 0;
    for (auto _ : state) {
        ClearSegmentCache();
        RenderCache cache;
        SetMemoryBudget(cache, budget);
        RenderOptions options;
        options.progress = [&](float) {
            peakResident = std::max(peakResident, ResidentAudioBytes(cache));
            return true;
        };
        std::string error;
        const double start = CpuSeconds();
        if (!RenderTimelineBlocking(project, cache, options, &error)) state.SkipWithError(error.c_str());
        renderSeconds = CpuSeconds() - start;
        for (const RenderBlock& b : cache.blocks)
            totalBytes += b.audio ? BlockAudioBytes(b)
                                  : b.spillFrames * b.spillChannels * static_cast<int64_t>(sizeof(float));
        // Play it through: one pass per second of timeline, as the frame loop does.
        renderPassMs = cache.mixer.counters.maxEvictMs.load();
        cache.mixer.counters.maxEvictMs.store(0.0f);  // from here on, the passes of playback alone
        const double playStart = CpuSeconds();
        for (double t = 0.0; t < 7200.0; t += 1.0) {
            const EvictionStats stats = RunEvictionPass(cache, t);
            peakResident = std::max(peakResident, stats.residentBytes);
            if (stats.pendingRestores > 0) state.SkipWithError("a block was not restored in time");
        }
        playSeconds = CpuSeconds() - playStart;
        maxPassMs = cache.mixer.counters.maxEvictMs.load();
        restores = cache.mixer.counters.restores.load();
    }
    state.counters["peak_resident_MiB"] = static_cast<double>(peakResident) / (1 << 20);
    state.counters["budget_MiB"] = static_cast<double>(budget) / (1 << 20);
    state.counters["timeline_audio_MiB"] = static_cast<double>(totalBytes) / (1 << 20);
    state.counters["peak_vs_budget"] = static_cast<double>(peakResident) / static_cast<double>(budget);
    state.counters["max_pass_ms"] = maxPassMs;
    std::printf("[render] 2 h, 3000 layers: %.0f MiB of block audio in all; peak held in memory %.0f MiB "
                "(%.2f of the %.0f MiB budget); render %.1f CPU s; play-through %.1f CPU s with %llu restores, "
                "longest eviction pass %.1f ms during playback, %.1f ms during the render (wall); "
                "process peak RSS %.0f MiB\n",
                static_cast<double>(totalBytes) / (1 << 20), static_cast<double>(peakResident) / (1 << 20),
                static_cast<double>(peakResident) / static_cast<double>(budget), static_cast<double>(budget) / (1 << 20),
                renderSeconds, playSeconds, static_cast<unsigned long long>(restores), static_cast<double>(maxPassMs),
                static_cast<double>(renderPassMs), MaxRssMiB());
}
BENCHMARK(BM_TwoHours3000Layers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
