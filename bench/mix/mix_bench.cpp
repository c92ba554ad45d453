// Cost of the real-time stereo mix for one 512-frame buffer at 48 kHz, with 50,
// 200 and 1,000 overlapping blocks (intensity, fill and deconfliction curves,
// reverb sends, reverb on), as a fraction of the 10.7 ms the device allows per
// buffer. The peer is the same mix with the reverb alone (no blocks).
//
// The strips' meters: the same mix of 200 blocks with the meters on and off, and
// the time with them on as a ratio of the time without.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/mixer.h"

using namespace morvane;

namespace {

constexpr int kFrames = 512;
constexpr double kPeriodSeconds = kFrames / 48000.0;

std::unique_ptr<RenderCache> MakeCache(int blocks) {
    auto cache = std::make_unique<RenderCache>();
    auto mono = std::make_shared<BlockAudio>();
    auto stereo = std::make_shared<BlockAudio>();
    mono->channels.assign(1, std::vector<float>(48000 * 4));
    stereo->channels.assign(2, std::vector<float>(48000 * 4));
    for (size_t i = 0; i < mono->channels[0].size(); ++i) {
        const float v = 0.01f * std::sin(0.01f * static_cast<float>(i));
        mono->channels[0][i] = v;
        stereo->channels[0][i] = v;
        stereo->channels[1][i] = -v;
    }
    for (int i = 0; i < blocks; ++i) {
        RenderBlock b;
        b.start = 0.001f * static_cast<float>(i % 500);
        b.duration = 3.5f;
        b.audio = i % 2 ? stereo : mono;
        b.stereoPair = i % 2;
        b.group = i % 3;
        b.followsIntensity = i % 3 == 0;
        b.hasIntGain = i % 3 == 1;
        b.hasFillGain = i % 4 == 0;
        b.hasDeconGain = i % 5 == 0;
        b.spatialMode = i % 7 == 0 ? 2 : -1;
        b.spatialAmount = 0.6f;
        b.reverbSend = -1.0f;
        b.envelope.assign(kEnvelopePoints, 0.01f);
        AppendBlock(*cache, std::move(b));
    }
    ReverbSettings reverb;
    reverb.enabled = true;
    reverb.groupSends = {0.3f, 0.2f, 0.2f};
    SetReverbSettings(*cache, reverb);
    StartPlayback(*cache, 1.0);
    return cache;
}

void BM_MixStereo(benchmark::State& state) {
    auto cache = MakeCache(static_cast<int>(state.range(0)));
    std::vector<float> left(kFrames), right(kFrames);
    for (auto _ : state) {
        SeekPlayback(*cache, 1.0);  // stay where every block sounds
        MixStereo(*cache, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["fraction_of_period"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPeriodSeconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MixStereo)->Arg(0)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Seconds per buffer of the 200-block mix, with the meters on (1) or off (0).
double MetersTiming(bool on) {
    auto cache = MakeCache(200);
    SetMetersEnabled(*cache, on);
    SetReferenceAudio(*cache, [](void*, float* l, float* r, int n, double, int) {
        for (int i = 0; i < n; ++i) {
            l[i] += 0.01f;
            r[i] += 0.01f;
        }
    }, nullptr);
    std::vector<float> left(kFrames), right(kFrames);
    constexpr int kBuffers = 2000;
    // Thread CPU time: on a shared machine wall time counts other people's work.
    const auto cpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    };
    const double start = cpu();
    for (int i = 0; i < kBuffers; ++i) {
        SeekPlayback(*cache, 1.0);
        MixStereo(*cache, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
    }
    return (cpu() - start) / kBuffers;
}

void BM_MixMeters(benchmark::State& state) {
    const bool on = state.range(0) != 0;
    auto cache = MakeCache(200);
    SetMetersEnabled(*cache, on);
    std::vector<float> left(kFrames), right(kFrames);
    for (auto _ : state) {
        SeekPlayback(*cache, 1.0);
        MixStereo(*cache, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetLabel(on ? "meters on" : "meters off");
    state.counters["fraction_of_period"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPeriodSeconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MixMeters)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    // The meters' cost as one figure: both timings taken back to back, best of five.
    double off = 1e9, on = 1e9;
    for (int i = 0; i < 5; ++i) {
        off = std::min(off, MetersTiming(false));
        on = std::min(on, MetersTiming(true));
    }
    std::printf("meters: %.1f us per 512-frame buffer with, %.1f us without: ratio %.3f (%.2f%% of the period added)\n",
                on * 1e6, off * 1e6, on / off, 100.0 * (on - off) / kPeriodSeconds);
    benchmark::Shutdown();
    return 0;
}
