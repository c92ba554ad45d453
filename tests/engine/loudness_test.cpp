// The meter against EBU Tech 3341-style signals made here, and the two gain rules.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/loudness.h"

namespace morvane {
namespace {

// A 1 kHz sine whose RMS sits `dbfs` below a full-scale sine (peak 1.0 = 0 dBFS),
// in consecutive sections of (level, seconds).
std::vector<float> SineSections(int rate, std::initializer_list<std::pair<float, float>> sections) {
    std::vector<float> out;
    int64_t n = 0;
    for (const auto& [dbfs, seconds] : sections) {
        const float amp = std::pow(10.0f, dbfs / 20.0f);
        const int64_t frames = static_cast<int64_t>(seconds * rate);
        for (int64_t i = 0; i < frames; ++i, ++n)
            out.push_back(amp * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * n / rate)));
    }
    return out;
}

float Stereo(const std::vector<float>& x, int rate) {
    return MeasureLoudness(x.data(), x.data(), static_cast<int32_t>(x.size()), rate);
}

TEST(Loudness, SteadySinesMeasureAtTheirLevelOnEveryRate) {
    for (int rate : {44100, 48000, 96000}) {
        const std::vector<float> a = SineSections(rate, {{-23.0f, 20.0f}});
        EXPECT_NEAR(Stereo(a, rate), -23.0f, 0.1f) << rate;
        const std::vector<float> b = SineSections(rate, {{-33.0f, 20.0f}});
        EXPECT_NEAR(Stereo(b, rate), -33.0f, 0.1f) << rate;
    }
    // One channel carries half the power: 3 dB less than the same sine on two.
    const std::vector<float> mono = SineSections(48000, {{-20.0f, 10.0f}});
    EXPECT_NEAR(MeasureLoudness(mono.data(), nullptr, static_cast<int32_t>(mono.size()), 48000), -23.0f, 0.1f);
    const std::vector<float> full = SineSections(48000, {{0.0f, 5.0f}});
    EXPECT_NEAR(Stereo(full, 48000), 0.0f, 0.1f);
    EXPECT_NEAR(MeasureLoudness(full.data(), nullptr, static_cast<int32_t>(full.size()), 48000), -3.01f, 0.1f);
    // An odd rate, whose 400 ms block is not four whole 100 ms hops.
    const std::vector<float> odd = SineSections(32005, {{-23.0f, 10.0f}});
    EXPECT_NEAR(Stereo(odd, 32005), -23.0f, 0.1f);
}

TEST(Loudness, GatesIgnoreQuietAndSilentStretches) {
    const int rate = 48000;
    // Quiet passages 13 dB down fall under the relative gate.
    const std::vector<float> three = SineSections(rate, {{-36, 10}, {-23, 60}, {-36, 10}});
    EXPECT_NEAR(Stereo(three, rate), -23.0f, 0.1f);
    // Passages below -70 LUFS fall under the absolute gate.
    const std::vector<float> four = SineSections(rate, {{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}});
    EXPECT_NEAR(Stereo(four, rate), -23.0f, 0.1f);
    // Louder and quieter parts within 10 LU average by power.
    const std::vector<float> five = SineSections(rate, {{-26, 20}, {-20, 20.1f}, {-26, 20}});
    EXPECT_NEAR(Stereo(five, rate), -23.0f, 0.1f);
    // Leading and trailing digital silence changes nothing (beyond the few blocks
    // that straddle the edges).
    std::vector<float> padded(static_cast<size_t>(rate) * 5, 0.0f);
    const std::vector<float> tone = SineSections(rate, {{-23, 40}});
    padded.insert(padded.end(), tone.begin(), tone.end());
    padded.resize(padded.size() + static_cast<size_t>(rate) * 5, 0.0f);
    EXPECT_NEAR(Stereo(padded, rate), -23.0f, 0.1f);
}

TEST(Loudness, UnmeasurableInputGivesMinusHundred) {
    const std::vector<float> silence(48000, 0.0f);
    EXPECT_EQ(Stereo(silence, 48000), kLoudnessSilence);
    const std::vector<float> tiny = SineSections(48000, {{-100.0f, 2.0f}});
    EXPECT_EQ(Stereo(tiny, 48000), kLoudnessSilence);
    EXPECT_EQ(MeasureLoudness(silence.data(), nullptr, 0, 48000), kLoudnessSilence);
    EXPECT_EQ(MeasureLoudness(silence.data(), nullptr, 100, 0), kLoudnessSilence);
    EXPECT_EQ(MeasureLoudness(nullptr, nullptr, 100, 48000), kLoudnessSilence);
    // Shorter than one block: measured as a single block over what there is.
    const std::vector<float> blip = SineSections(48000, {{-23.0f, 0.2f}});
    EXPECT_NEAR(Stereo(blip, 48000), -23.0f, 0.2f);
}

TEST(Loudness, MixdownGainIsTheCorrectionCappedAtThirtyDecibels) {
    const int rate = 48000;
    const std::vector<float> mix = SineSections(rate, {{-40.0f, 5.0f}});
    const float gain = LoudnessNormaliseGain(mix.data(), mix.data(), static_cast<int64_t>(mix.size()), rate, -14.0f);
    EXPECT_NEAR(20.0f * std::log10(gain), 26.0f, 0.1f);
    // -60 LUFS would need +46 dB: capped at +30.
    const std::vector<float> faint = SineSections(rate, {{-60.0f, 5.0f}});
    const float capped = LoudnessNormaliseGain(faint.data(), faint.data(), static_cast<int64_t>(faint.size()), rate, -14.0f);
    EXPECT_NEAR(20.0f * std::log10(capped), 30.0f, 0.01f);
    // -80 LUFS lies under the absolute gate: it measures as silence and is left alone.
    const std::vector<float> under = SineSections(rate, {{-80.0f, 5.0f}});
    EXPECT_EQ(LoudnessNormaliseGain(under.data(), under.data(), static_cast<int64_t>(under.size()), rate, -14.0f), 1.0f);
    const std::vector<float> silence(rate, 0.0f);
    EXPECT_EQ(LoudnessNormaliseGain(silence.data(), nullptr, rate, rate, -14.0f), 1.0f);
    EXPECT_EQ(LoudnessNormaliseGain(silence.data(), nullptr, 0, rate, -14.0f), 1.0f);
}

TEST(Loudness, LayerGainRaisesAtMostEighteenDecibelsUnderTheCeiling) {
    const int rate = 48000;
    // Needs +25 dB to reach -24: raised by 18 dB, as the peak allows it.
    const std::vector<float> quiet = SineSections(rate, {{-49.0f, 3.0f}});
    const float g = LayerNormGain(quiet.data(), quiet.data(), static_cast<int64_t>(quiet.size()), rate, -24.0f, true, 1.0f);
    EXPECT_NEAR(20.0f * std::log10(g), 18.0f, 0.05f);
    // A short loud click on a quiet bed: the ceiling wins over the loudness.
    std::vector<float> spiky = SineSections(rate, {{-49.0f, 3.0f}});
    spiky[1000] = 0.5f;
    const float h = LayerNormGain(spiky.data(), nullptr, static_cast<int64_t>(spiky.size()), rate, -24.0f, true, 1.0f);
    EXPECT_NEAR(h, 0.891f / 0.5f, 1e-4f);
    // Loud material comes down by the correction.
    const std::vector<float> loud = SineSections(rate, {{-6.0f, 3.0f}});
    const float c = LayerNormGain(loud.data(), loud.data(), static_cast<int64_t>(loud.size()), rate, -24.0f, true, 1.0f);
    EXPECT_NEAR(20.0f * std::log10(c), -18.0f, 0.1f);
    // Below -90 LUFS the previous gain stays; switched off it is 1.
    const std::vector<float> faint = SineSections(rate, {{-100.0f, 2.0f}});
    EXPECT_EQ(LayerNormGain(faint.data(), nullptr, static_cast<int64_t>(faint.size()), rate, -24.0f, true, 0.7f), 0.7f);
    EXPECT_EQ(LayerNormGain(loud.data(), nullptr, static_cast<int64_t>(loud.size()), rate, -24.0f, false, 0.7f), 1.0f);
}

}  // namespace
}  // namespace morvane
