// How fast the demo library is synthesised, against the physical limit that matters
// to a build: the length of the audio itself (a factor of 1 would be real time).
#include <benchmark/benchmark.h>

#include "demo/sound_catalogue.h"
#include "demo/sound_families.h"

namespace {

using namespace morvane::demo;

void BM_SynthesiseDemoLibrary(benchmark::State& state) {
    const std::vector<DemoSound> catalogue = DemoSoundCatalogue();
    double audioSeconds = 0.0;
    for (auto _ : state) {
        audioSeconds = 0.0;
        for (const DemoSound& sound : catalogue) {
            SynthRng rng(sound.seed);
            const int takes = sound.speakerSuffixes.empty() ? 1 : static_cast<int>(sound.speakerSuffixes.size());
            for (int t = 0; t < takes; ++t) {
                benchmark::DoNotOptimize(SynthesiseSound(sound.params, sound.sampleRate, rng));
                audioSeconds += sound.params.seconds * sound.params.channels;
            }
        }
    }
    // Seconds of audio made per second of wall time: how many times faster than real time.
    state.counters["audio_s"] = audioSeconds;
    state.counters["x_realtime"] =
        benchmark::Counter(audioSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthesiseDemoLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
