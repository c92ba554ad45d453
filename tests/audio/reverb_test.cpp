#include "audio/reverb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/allocation_counter.h"

namespace morvane {
namespace {

TEST(Reverb, ParameterMappingFollowsTheKnobs) {
    ReverbParameters p;
    p.decay = 0.0f;
    ReverbTargets t = ComputeReverbTargets(p, 48000);
    EXPECT_FLOAT_EQ(t.t60, 0.3f);
    p.decay = 1.0f;
    p.size = 1.0f;
    t = ComputeReverbTargets(p, 48000);
    EXPECT_FLOAT_EQ(t.t60, 10.0f);
    EXPECT_FLOAT_EQ(t.baseDelayMs, 150.0f);  // 15 + min(160 - 15, 135)
    // A loop of 1.5 x 150 ms loses 60 dB in 10 s: g = 10^(-3 x 0.225 / 10).
    EXPECT_NEAR(t.feedback, std::pow(10.0f, -0.0675f), 1e-5f);
    // The shortest loop with the longest decay stays well below the 0.9995 cap.
    p.size = 0.0f;
    EXPECT_NEAR(ComputeReverbTargets(p, 48000).feedback, std::pow(10.0f, -3.0f * 0.0225f / 10.0f), 1e-5f);
    p.size = 1.0f;

    // Pre-delay beyond the ring is held at its last sample.
    p.preDelay = 0.5f;
    EXPECT_EQ(ComputeReverbTargets(p, 48000).preDelay, 19199);
    p.preDelay = 0.1f;
    EXPECT_EQ(ComputeReverbTargets(p, 48000).preDelay, 4800);

    // Every delay stays inside the fixed memories at every project rate.
    for (int rate : {44100, 48000, 88200, 96000}) {
        for (float size : {0.0f, 0.5f, 1.0f}) {
            p.size = size;
            t = ComputeReverbTargets(p, rate);
            for (const auto& stage : t.tapLength)
                for (int len : stage) {
                    EXPECT_GE(len, 1);
                    EXPECT_LE(len, kReverbMaxTapLength);
                }
            for (int len : t.lineLength) {
                EXPECT_GE(len, kReverbMinLineLength);
                EXPECT_LE(len, kReverbMaxLineLength);
            }
        }
    }
    // Lines grow with their index (the 2^(i/8) spread outweighs the jitter).
    p.size = 0.5f;
    t = ComputeReverbTargets(p, 48000);
    for (int i = 1; i < kReverbLines; ++i) EXPECT_GT(t.lineLength[i], t.lineLength[i - 1] - 131);

    // Small, short rooms get the most make-up gain, capped at 5.
    p.size = 0.0f;
    p.decay = 0.0f;
    EXPECT_FLOAT_EQ(ComputeReverbTargets(p, 48000).outputGain, 5.0f);
    p.size = 1.0f;
    p.decay = 1.0f;
    EXPECT_FLOAT_EQ(ComputeReverbTargets(p, 48000).outputGain, 3.0f);
}

TEST(Reverb, SameSettingsGiveTheSameNetworkAndTheSameSound) {
    ReverbParameters p;
    p.size = 0.7f;
    p.decay = 0.6f;
    p.modulation = 0.8f;
    const ReverbTargets a = ComputeReverbTargets(p, 48000);
    const ReverbTargets b = ComputeReverbTargets(p, 48000);
    EXPECT_EQ(a.tapLength, b.tapLength);
    EXPECT_EQ(a.tapSign, b.tapSign);
    EXPECT_EQ(a.lineLength, b.lineLength);
    // The signs are not all alike, or the diffusers would only comb-filter.
    int positive = 0;
    for (const auto& stage : a.tapSign)
        for (int8_t s : stage) positive += s > 0;
    EXPECT_GT(positive, 2);
    EXPECT_LT(positive, 22);

    auto first = std::make_unique<Reverb>();
    auto second = std::make_unique<Reverb>();
    std::vector<float> in(4096, 0.0f), l1(4096), r1(4096), l2(4096), r2(4096);
    in[0] = 1.0f;
    double energyL = 0.0, energyR = 0.0, correlation = 0.0;
    for (int buffer = 0; buffer < 12; ++buffer) {
        SetReverbParameters(*first, p, 48000);
        SetReverbParameters(*second, p, 48000);
        ProcessReverb(*first, in.data(), in.data(), l1.data(), r1.data(), 4096);
        ProcessReverb(*second, in.data(), in.data(), l2.data(), r2.data(), 4096);
        ASSERT_EQ(l1, l2);
        ASSERT_EQ(r1, r2);
        for (int i = 0; i < 4096; ++i) {
            ASSERT_TRUE(std::isfinite(l1[i]) && std::isfinite(r1[i]));
            energyL += l1[i] * l1[i];
            energyR += r1[i] * r1[i];
            correlation += l1[i] * r1[i];
        }
        in[0] = 0.0f;
    }
    // An impulse leaves a tail on both sides, and the two sides differ.
    EXPECT_GT(energyL, 1e-4);
    EXPECT_GT(energyR, 1e-4);
    EXPECT_LT(std::fabs(correlation) / std::sqrt(energyL * energyR), 0.9);
}

TEST(Reverb, TailDecaysClearsAndNeverAllocates) {
    ReverbParameters p;
    p.decay = 0.0f;  // T60 0.3 s
    auto rv = std::make_unique<Reverb>();
    std::vector<float> noise(512), silence(512, 0.0f), l(512), r(512);
    uint32_t seed = 1;
    for (float& v : noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<float>((seed >> 16) & 0x7FFF) / 16384.0f - 1.0f;
    }
    test::ResetCountedAllocations();
    {
        test::CountAllocationsHere counting;
        for (int b = 0; b < 200; ++b) {  // about 2 s of feeding noise
            SetReverbParameters(*rv, p, 48000);
            ProcessReverb(*rv, noise.data(), noise.data(), l.data(), r.data(), 512);
        }
        // Moving every knob mid-stream must not allocate either.
        for (int b = 0; b < 40; ++b) {
            p.size = static_cast<float>(b % 10) / 10.0f;
            p.damping = 1.0f - p.size;
            p.preDelay = 0.05f * p.size;
            SetReverbParameters(*rv, p, 48000);
            ProcessReverb(*rv, noise.data(), noise.data(), l.data(), r.data(), 512);
        }
    }
    EXPECT_EQ(test::CountedAllocations(), 0u);

    p = ReverbParameters{};
    p.decay = 0.0f;
    auto peakOf = [&](int buffers) {
        float peak = 0.0f;
        for (int b = 0; b < buffers; ++b) {
            SetReverbParameters(*rv, p, 48000);
            ProcessReverb(*rv, silence.data(), silence.data(), l.data(), r.data(), 512);
            for (int i = 0; i < 512; ++i) peak = std::max(peak, std::max(std::fabs(l[i]), std::fabs(r[i])));
        }
        return peak;
    };
    const float early = peakOf(10);
    peakOf(290);
    const float late = peakOf(10);  // 3 s later, ten times T60
    EXPECT_GT(early, 1e-3f);
    EXPECT_LT(late, early * 1e-3f);

    // After a clear, no old tail plays over new material.
    for (int b = 0; b < 20; ++b) {
        SetReverbParameters(*rv, p, 48000);
        ProcessReverb(*rv, noise.data(), noise.data(), l.data(), r.data(), 512);
    }
    ClearReverb(*rv);
    EXPECT_EQ(peakOf(4), 0.0f);
}

}  // namespace
}  // namespace morvane
