// Build speed: a 300-event timeline over a 2,000-file in-memory library, whole
// builds per second, and how the time splits between choosing (the build) and the
// post-build passes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/event_build.h"
#include "engine/passes.h"

using namespace morvane;

namespace {

std::vector<Library> MakeLibraries() {
    BuildRng rng = MakeBuildRngFromSeed(42);
    std::vector<Library> libs(4);
    const char* words[] = {"door", "impact", "whoosh", "wind", "metal", "glass", "rumble", "hum"};
    for (int l = 0; l < 4; ++l) {
        libs[static_cast<size_t>(l)].name = "Lib" + std::to_string(l);
        libs[static_cast<size_t>(l)].weightClass = l < 3 ? l : -1;
        for (int i = 0; i < 500; ++i) {
            LibraryEntry e;
            e.name = std::string(words[(i + l) % 8]) + "_" + std::to_string(i);
            e.path = "/bench/lib" + std::to_string(l) + "/" + e.name + ".wav";
            e.keywords = words[(i * 3 + l) % 8];
            e.duration = 0.1f + 15.0f * rng.Next() * rng.Next();
            for (int k = 0; k < 5; ++k) e.features[k] = rng.Next();
            e.features[7] = rng.Next();
            e.features[10] = rng.Next() * 0.5f;
            e.features[11] = rng.Next() * 25.0f;
            e.features[13] = rng.Next();
            e.features[14] = rng.Next() * 0.6f;
            e.attackTime = rng.Next() * 0.3f;
            e.onsetPosition = rng.Next() * 0.3f;
            e.harmonicity = rng.Next();
            e.spectralFlatness = rng.Next();
            libs[static_cast<size_t>(l)].entries.push_back(e);
        }
    }
    return libs;
}

Project MakeProject() {
    BuildRng rng = MakeBuildRngFromSeed(7);
    Project p;
    p.timeline.settings.totalDuration = 900.0f;
    const char* keys[] = {"", "", "door", "impact whoosh", "+metal", "wind -hum"};
    for (int i = 0; i < 300; ++i) {
        Event ev;
        ev.shape = static_cast<EventShape>(i % 5);
        ev.time = rng.Next() * 880.0f;
        ev.duration = 0.2f + rng.Next() * 8.0f;
        ev.spread = rng.Next();
        ev.hero = rng.Next() < 0.1f;
        ev.alloy = rng.Next() < 0.1f;
        ev.keywords = keys[i % 6];
        for (int k = 0; k < kCurvePoints; ++k)
            ev.intensity[static_cast<size_t>(k)] = 0.5f + 0.4f * std::sin(static_cast<float>(k) * 0.02f * (1 + i % 4));
        p.timeline.events.push_back(ev);
    }
    return p;
}

BuildOptions Options() {
    BuildOptions o;
    o.useFixedSeed = true;
    o.fixedSeed = 1;
    o.envelopes = [](const std::string&) { return std::vector<float>{}; };
    o.probe = [](const std::string&) { return SoundFileInfo{}; };
    return o;
}

void BM_BuildTimeline(benchmark::State& state) {
    const std::vector<Library> libs = MakeLibraries();
    const std::vector<LibraryRoot> roots = RootsOf(libs);
    const BandLookup bands = MakeBandLookup(roots);
    const Project base = MakeProject();
    const BuildOptions options = Options();
    double buildSeconds = 0, passSeconds = 0;
    for (auto _ : state) {
        Project p = base;
        const auto t0 = std::chrono::steady_clock::now();
        BuildEvents(p, roots, -1, -1, -1, 0, options);
        const auto t1 = std::chrono::steady_clock::now();
        RunPostBuildPasses(p, bands, true, true);
        const auto t2 = std::chrono::steady_clock::now();
        buildSeconds += std::chrono::duration<double>(t1 - t0).count();
        passSeconds += std::chrono::duration<double>(t2 - t1).count();
        benchmark::DoNotOptimize(p.timeline.results.data());
    }
    const double total = buildSeconds + passSeconds;
    state.counters["events/s"] = benchmark::Counter(300.0 * static_cast<double>(state.iterations()) / total);
    state.counters["choosing %"] = benchmark::Counter(100.0 * buildSeconds / total);
    state.counters["passes %"] = benchmark::Counter(100.0 * passSeconds / total);
}
BENCHMARK(BM_BuildTimeline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
