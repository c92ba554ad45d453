// The integrated-loudness meter against libebur128 on the same stereo minute:
// speed, and the agreement of the two readings.
#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "engine/loudness.h"

using namespace morvane;

namespace {

constexpr int kRate = 48000;
constexpr int kFrames = kRate * 60;

struct Signal {
    std::vector<float> left, right, interleaved;
};

const Signal& TheSignal() {
    static const Signal signal = [] {
        Signal s;
        std::mt19937 random(3);
        std::normal_distribution<float> noise(0.0f, 0.05f);
        s.left.resize(kFrames);
        s.right.resize(kFrames);
        s.interleaved.resize(static_cast<size_t>(kFrames) * 2);
        for (int i = 0; i < kFrames; ++i) {
            // A tone whose level walks in 5 s steps, over a noise bed.
            const float level = 0.05f + 0.3f * static_cast<float>((i / (kRate * 5)) % 4);
            const float tone = level * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * i / kRate));
            s.left[static_cast<size_t>(i)] = tone + noise(random);
            s.right[static_cast<size_t>(i)] = 0.5f * tone + noise(random);
            s.interleaved[static_cast<size_t>(i) * 2] = s.left[static_cast<size_t>(i)];
            s.interleaved[static_cast<size_t>(i) * 2 + 1] = s.right[static_cast<size_t>(i)];
        }
        return s;
    }();
    return signal;
}

double PeerLoudness(const Signal& s) {
    ebur128_state* st = ebur128_init(2, kRate, EBUR128_MODE_I);
    ebur128_add_frames_float(st, s.interleaved.data(), kFrames);
    double out = -100;
    ebur128_loudness_global(st, &out);
    ebur128_destroy(&st);
    return out;
}

void BM_Ours(benchmark::State& state) {
    const Signal& s = TheSignal();
    float lufs = 0;
    for (auto _ : state) lufs = MeasureLoudness(s.left.data(), s.right.data(), kFrames, kRate);
    state.counters["LUFS"] = lufs;
    state.counters["x realtime"] =
        benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ours)->Unit(benchmark::kMillisecond);

void BM_Libebur128(benchmark::State& state) {
    const Signal& s = TheSignal();
    double lufs = 0;
    for (auto _ : state) lufs = PeerLoudness(s);
    state.counters["LUFS"] = lufs;
    state.counters["x realtime"] =
        benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Libebur128)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
