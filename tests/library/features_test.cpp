#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "library/features.h"

namespace morvane {
namespace {

// A reader over interleaved frames held in memory.
FrameReader MemoryReader(const std::vector<float>& frames, int channels, size_t& position) {
    return [&frames, channels, &position](float* buffer, int64_t count) -> int64_t {
        const size_t total = frames.size() / static_cast<size_t>(channels);
        const size_t n = std::min(static_cast<size_t>(count), total - position);
        std::copy_n(frames.data() + position * channels, n * channels, buffer);
        position += n;
        return static_cast<int64_t>(n);
    };
}

LibraryEntry Analyse(const std::vector<float>& frames, int channels, int sampleRate, AnalysisContext* context) {
    size_t position = 0;
    LibraryEntry entry;
    const int64_t count = static_cast<int64_t>(frames.size()) / channels;
    EXPECT_TRUE(ComputeFeatures(MemoryReader(frames, channels, position), count, sampleRate, channels, context, entry));
    return entry;
}

// YIN as written: the difference function summed sample by sample, then the same
// normalisation, threshold and refinement. The fast path must agree with it.
PitchEstimate DirectYin(const std::vector<float>& x, int sampleRate) {
    constexpr int W = kFeatureBlock / 2;
    PitchEstimate result;
    const int minLag = std::max(2, sampleRate / 10000);
    const int maxLag = std::min(sampleRate / 30, W - 1);
    if (minLag > maxLag) return result;
    std::vector<double> d(W, 0.0), dn(W, 1.0);
    for (int tau = 1; tau < W; ++tau)
        for (int j = 0; j < W; ++j) {
            const double diff = static_cast<double>(x[j]) - x[j + tau];
            d[tau] += diff * diff;
        }
    double running = 0.0;
    for (int tau = 1; tau < W; ++tau) {
        running += d[tau];
        dn[tau] = running > 0.0 ? d[tau] * tau / running : 1.0;
    }
    int lag = -1;
    for (int tau = minLag; tau <= maxLag && lag < 0; ++tau)
        if (dn[tau] < 0.15) {
            while (tau + 1 <= maxLag && dn[tau + 1] < dn[tau]) ++tau;
            lag = tau;
        }
    bool rejected = false;
    if (lag < 0) {
        lag = minLag;
        for (int tau = minLag; tau <= maxLag; ++tau)
            if (dn[tau] < dn[lag]) lag = tau;
        rejected = dn[lag] > 0.5;
    }
    result.kept = true;
    result.confidence = std::clamp(1.0 - dn[lag], 0.0, 1.0);
    if (rejected) return result;
    double refined = lag;
    if (lag >= 2 && lag + 1 <= W - 1) {
        const double denominator = 2.0 * (2.0 * dn[lag] - dn[lag + 1] - dn[lag - 1]);
        if (std::fabs(denominator) > 1e-9) refined = lag + (dn[lag + 1] - dn[lag - 1]) / denominator;
    }
    result.frequency = sampleRate / refined;
    return result;
}

std::vector<float> Tone(int sampleRate, double frequency, double amplitude, double offset = 0.0, int harmonics = 1) {
    std::vector<float> x(kFeatureBlock);
    for (int i = 0; i < kFeatureBlock; ++i) {
        double value = offset;
        for (int h = 1; h <= harmonics; ++h)
            value += amplitude / h * std::sin(2 * M_PI * frequency * h * i / sampleRate + 0.3 * h);
        x[i] = static_cast<float>(value);
    }
    return x;
}

TEST(Features, FastPitchAgreesWithDirectYin) {
    AnalysisContextPtr context = MakeAnalysisContext();
    ASSERT_TRUE(context);
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    struct Case {
        std::string what;
        int rate;
        std::vector<float> x;
    };
    std::vector<Case> cases;
    for (int rate : {44100, 48000, 96000})
        for (double frequency : {31.0, 55.0, 110.0, 261.6, 1000.0, 3520.0, 9000.0})
            cases.push_back({"sine " + std::to_string(frequency) + " Hz at " + std::to_string(rate), rate,
                             Tone(rate, frequency, 0.5)});
    // Rich harmonics, a quiet tone, a loud float tone and a tone riding on a large
    // offset (the difference function does not see the offset; rounding might).
    cases.push_back({"sawtooth-like 220 Hz", 48000, Tone(48000, 220.0, 0.4, 0.0, 12)});
    cases.push_back({"quiet 440 Hz", 48000, Tone(48000, 440.0, 1e-4)});
    cases.push_back({"loud 440 Hz", 48000, Tone(48000, 440.0, 3e4)});
    cases.push_back({"440 Hz on offset", 48000, Tone(48000, 440.0, 0.01, 0.9)});
    std::vector<float> noisy = Tone(48000, 330.0, 0.5);
    for (float& v : noisy) v += 0.05f * noise(random);
    cases.push_back({"330 Hz in noise", 48000, noisy});
    std::vector<float> white(kFeatureBlock);
    for (float& v : white) v = noise(random);
    cases.push_back({"white noise", 48000, white});
    cases.push_back({"silence", 48000, std::vector<float>(kFeatureBlock, 0.0f)});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PitchEstimate direct = DirectYin(c.x, c.rate);
        const PitchEstimate fast = EstimateBlockPitch(c.x.data(), c.rate);
        EXPECT_EQ(fast.kept, direct.kept);
        EXPECT_NEAR(fast.confidence, direct.confidence, 1e-4);
        EXPECT_EQ(fast.frequency > 0.0, direct.frequency > 0.0);
        if (direct.frequency > 0.0) {  // within a hundredth of a cent
            EXPECT_NEAR(1200.0 * std::log2(fast.frequency / direct.frequency), 0.0, 0.01);
        }
    }
    // The context is not needed, and a rate that leaves no lag range finds nothing.
    const std::vector<float> tone = Tone(48000, 1000.0, 0.5);
    EXPECT_NEAR(EstimateBlockPitch(tone.data(), 48000).frequency, 1000.0, 0.5);
    EXPECT_FALSE(EstimateBlockPitch(tone.data(), 40).kept);
}

// Mixing, the time-domain sums and their carry from block to block.
TEST(Features, MixingAndTimeDomainSumsAcrossBlocks) {
    AnalysisContextPtr context = MakeAnalysisContext();
    constexpr int kFrames = 3 * kFeatureBlock + 777;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(-0.4f, 0.4f);

    // A stereo mix and the mono file of its mean give the same numbers, whatever
    // the channel count or the path the mix takes.
    std::vector<float> left(kFrames), right(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        left[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 700.0 * i / 48000)) + 0.1f * uniform(random);
        right[i] = uniform(random);
    }
    std::vector<float> mono(kFrames), stereo(2 * kFrames), three(3 * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        mono[i] = left[i] * 0.5f + right[i] * 0.5f;
        stereo[2 * i] = left[i];
        stereo[2 * i + 1] = right[i];
        three[3 * i] = three[3 * i + 1] = three[3 * i + 2] = mono[i];
    }
    const LibraryEntry one = Analyse(mono, 1, 48000, context.get());
    for (const auto& [channels, frames] : {std::pair{2, &stereo}, std::pair{3, &three}}) {
        SCOPED_TRACE(channels);
        const LibraryEntry mixed = Analyse(*frames, channels, 48000, context.get());
        for (int f = 0; f < 16; ++f) EXPECT_NEAR(mixed.features[f], one.features[f], 1e-4f * (1 + std::fabs(one.features[f]))) << f;
        EXPECT_NEAR(mixed.spectralFlatness, one.spectralFlatness, 1e-5f);
        EXPECT_NEAR(mixed.harmonicity, one.harmonicity, 1e-5f);
        EXPECT_EQ(mixed.midiNote, one.midiNote);
    }

    // Zero crossings: a sign change every 7 samples, so changes fall on and beside
    // block edges; NaN and infinity count as silence (non-negative), and so does -0.
    std::vector<float> square(kFrames);
    for (int i = 0; i < kFrames; ++i) square[i] = (i / 7) % 2 == 0 ? 0.25f : -0.25f;
    square[kFeatureBlock] = std::numeric_limits<float>::quiet_NaN();
    square[kFeatureBlock + 1] = -std::numeric_limits<float>::infinity();
    square[2 * kFeatureBlock - 1] = -0.0f;
    int crossings = 0;
    for (int i = 1; i < kFrames; ++i) {
        auto nonNegative = [&](int k) { return !std::isfinite(square[k]) || square[k] >= 0.0f; };
        crossings += nonNegative(i) != nonNegative(i - 1);
    }
    const LibraryEntry squareEntry = Analyse(square, 1, 48000, context.get());
    EXPECT_FLOAT_EQ(squareEntry.features[10], static_cast<float>(4.0 * crossings / kFrames));
    EXPECT_TRUE(std::isfinite(squareEntry.features[12]));

    // The peak of a mix is the largest exact mean, even where two means round to the
    // same float: the later, slightly larger one wins over the earlier.
    std::vector<float> ties(2 * kFrames, 0.01f);
    ties[2 * 300] = 1.0f;
    ties[2 * 300 + 1] = std::ldexp(1.0f, -30);  // mean 0.5 + 2^-31
    ties[2 * 1700] = 1.0f;
    ties[2 * 1700 + 1] = std::ldexp(1.0f, -26);  // mean 0.5 + 2^-27, same float
    const LibraryEntry peakEntry = Analyse(ties, 2, 48000, context.get());
    EXPECT_FLOAT_EQ(peakEntry.features[9], 1700.0f / kFrames);
}

// The flatness is taken from a sum of logarithms built from float exponents and
// mantissas; it must not depend on the level, and must match the known value for
// white noise (geometric over arithmetic mean of Rayleigh magnitudes, about 0.85).
TEST(Features, FlatnessIsLevelFreeAndAbsurdLevelsStayFinite) {
    AnalysisContextPtr context = MakeAnalysisContext();
    std::mt19937 random(9);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> white(20 * kFeatureBlock);
    for (float& v : white) v = 0.2f * noise(random);
    const LibraryEntry reference = Analyse(white, 1, 48000, context.get());
    EXPECT_NEAR(reference.spectralFlatness, 0.845f, 0.03f);
    for (float scale : {1e-5f, 1e3f}) {
        std::vector<float> scaled = white;
        for (float& v : scaled) v *= scale;
        const LibraryEntry entry = Analyse(scaled, 1, 48000, context.get());
        EXPECT_NEAR(entry.spectralFlatness, reference.spectralFlatness, 1e-4f) << scale;
        EXPECT_NEAR(entry.features[5], reference.features[5], 1e-4f) << scale;
        EXPECT_NEAR(entry.features[14], std::min(1.0f, reference.features[14] * scale), 1e-3f) << scale;
    }
    const LibraryEntry sine = Analyse(Tone(48000, 1000.0, 0.5), 1, 48000, context.get());
    EXPECT_LT(sine.spectralFlatness, 0.1f);

    // Float files with values near the float limit: every number stays finite, and a
    // stereo mix of two such channels is still loud, not silence.
    std::vector<float> huge(4 * kFeatureBlock), hugeStereo(2 * huge.size());
    for (size_t i = 0; i < huge.size(); ++i) {
        huge[i] = (i % 3 == 0 ? 3e38f : -2e38f) * (0.5f + 0.5f * noise(random) * 0.1f);
        hugeStereo[2 * i] = hugeStereo[2 * i + 1] = huge[i] * 1.3f;
    }
    for (const auto& [channels, frames] : {std::pair{1, &huge}, std::pair{2, &hugeStereo}}) {
        SCOPED_TRACE(channels);
        const LibraryEntry absurd = Analyse(*frames, channels, 48000, context.get());
        for (int f = 0; f < 16; ++f) EXPECT_TRUE(std::isfinite(absurd.features[f])) << f;
        EXPECT_GT(absurd.features[12], 700.0f);
        EXPECT_TRUE(std::isfinite(absurd.spectralFlatness));
        EXPECT_TRUE(std::isfinite(absurd.harmonicity));
        EXPECT_TRUE(std::isfinite(absurd.pitchConfidence));
    }
}

}  // namespace
}  // namespace morvane
