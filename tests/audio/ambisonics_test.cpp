#include "audio/ambisonics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/monitor_layout.h"
#include "library/channel_map.h"
#include "model/preferences.h"

namespace morvane {
namespace {

constexpr float kDeg = 3.14159265f / 180.0f;

TEST(Ambisonics, EncodingFollowsTheConvention) {
    // A mono source with no placement: W 1, Y 0, Z 0, X 1.
    AmbiGains g = EncodeSourceChannel(0, 1, nullptr, false);
    EXPECT_FLOAT_EQ(g.w, 1.0f);
    EXPECT_NEAR(g.y, 0.0f, 1e-6f);
    EXPECT_NEAR(g.z, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(g.x, 1.0f);

    // Left is positive Y; up is positive Z.
    g = EncodeDirection(90 * kDeg, 0.0f);
    EXPECT_NEAR(g.y, 1.0f, 1e-6f);
    EXPECT_NEAR(g.x, 0.0f, 1e-6f);
    g = EncodeDirection(0.0f, 90 * kDeg);
    EXPECT_NEAR(g.z, 1.0f, 1e-6f);

    // A stereo pair sits at ±30°.
    g = EncodeSourceChannel(0, 2, nullptr, true);
    EXPECT_NEAR(g.y, 0.5f, 1e-6f);
    g = EncodeSourceChannel(1, 2, nullptr, true);
    EXPECT_NEAR(g.y, -0.5f, 1e-6f);

    // 5.1 roles: surrounds behind the listener, LFE in W only.
    const int roles[6] = {kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLs, kRoleRs};
    g = EncodeSourceChannel(3, 6, roles, false);
    EXPECT_FLOAT_EQ(g.w, 1.0f);
    EXPECT_FLOAT_EQ(g.x, 0.0f);
    EXPECT_FLOAT_EQ(g.y, 0.0f);
    EXPECT_FLOAT_EQ(g.z, 0.0f);
    g = EncodeSourceChannel(4, 6, roles, false);
    EXPECT_NEAR(g.y, std::sin(110 * kDeg), 1e-6f);
    EXPECT_LT(g.x, 0.0f);
    // A height role has no encoding direction of its own.
    const int heights[3] = {kRoleL, kRoleR, kRoleLtf};
    g = EncodeSourceChannel(2, 3, heights, false);
    EXPECT_FLOAT_EQ(g.y, 0.0f);
    EXPECT_FLOAT_EQ(g.x, 0.0f);
}

TEST(Ambisonics, SpreadKeepsTheEnergyAndItsLimits) {
    // No amount given: 0.5, Spread factor 0.25 -> v = 0.0625.
    SpreadComponents s = ComputeSpread(1, -1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(s.side, 0.0625f, 1e-6f);
    EXPECT_NEAR(s.direct * s.direct + 2 * s.side * s.side, 1.0f, 1e-5f);
    EXPECT_NEAR(s.sideAzimuth[0], 110 * kDeg, 1e-4f);
    EXPECT_NEAR(s.sideAzimuth[1], -110 * kDeg, 1e-4f);
    EXPECT_NEAR(s.sideElevation, 15 * kDeg, 1e-4f);

    s = ComputeSpread(2, 1.0f, 0.0f, 0.0f);  // Diffuse at full amount: v = 0.3
    EXPECT_NEAR(s.side, 0.3f, 1e-6f);
    EXPECT_NEAR(s.direct, std::sqrt(1.0f - 0.18f), 1e-6f);
    s = ComputeSpread(0, 5.0f, 0.0f, 0.0f);  // amounts are clamped to 1
    EXPECT_NEAR(s.side, 0.5f, 1e-6f);

    s = ComputeSpread(1, 0.0f, 0.0f, 0.0f);
    EXPECT_FALSE(s.hasSides);
    EXPECT_FLOAT_EQ(s.direct, 1.0f);
}

// Level of each speaker for a source encoded at `azimuth`.
std::vector<float> SpeakerLevels(const SpeakerDecoder& d, float azimuthDeg) {
    const AmbiGains e = EncodeDirection(azimuthDeg * kDeg, 0.0f);
    std::vector<float> out(d.speakerCount);
    DecodeFrame(d, e.w, e.y, e.z, e.x, out.data());
    return out;
}

int Loudest(const std::vector<float>& levels) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(levels.size()); ++i)
        if (levels[i] > levels[best]) best = i;
    return best;
}

TEST(Ambisonics, SpeakerDecodersPutASourceInTheRightSpeaker) {
    const SpeakerDecoder stereo = MakeSpeakerDecoder(kMonitorStereo);
    ASSERT_EQ(stereo.speakerCount, 2);
    std::vector<float> v = SpeakerLevels(stereo, 60.0f);
    EXPECT_GT(v[0], v[1] * 2);
    v = SpeakerLevels(stereo, 0.0f);
    EXPECT_NEAR(v[0], v[1], 1e-6f);

    const SpeakerDecoder surround = MakeSpeakerDecoder(kMonitor51);
    ASSERT_EQ(surround.speakerCount, 6);
    struct Case { float azimuth; int speaker; };
    for (const Case c : {Case{30, 0}, Case{-30, 1}, Case{0, 2}, Case{110, 4}, Case{-110, 5}}) {
        v = SpeakerLevels(surround, c.azimuth);
        EXPECT_EQ(Loudest(v), c.speaker) << "azimuth " << c.azimuth;
        for (float level : v) EXPECT_GE(level, -1e-6f);  // in phase: no speaker pulls the other way
        EXPECT_FLOAT_EQ(v[3], 0.0f);                       // the field never feeds the LFE
    }

    const SpeakerDecoder full = MakeSpeakerDecoder(kMonitor714);
    ASSERT_EQ(full.speakerCount, 12);
    for (const Case c : {Case{30, 0}, Case{-30, 1}, Case{150, 6}, Case{-150, 7}}) {
        v = SpeakerLevels(full, c.azimuth);
        EXPECT_EQ(Loudest(v), c.speaker) << "azimuth " << c.azimuth;
    }
    const AmbiGains above = EncodeDirection(45 * kDeg, 45 * kDeg);
    std::vector<float> h(12);
    DecodeFrame(full, above.w, above.y, above.z, above.x, h.data());
    EXPECT_EQ(Loudest(h), 8);  // Ltf

    // Decoded layouts keep about the energy of the source as it moves round.
    for (const SpeakerDecoder* d : {&stereo, &surround, &full}) {
        double mean = 0.0;
        for (int a = 0; a < 360; a += 5) {
            double e = 0.0;
            for (float level : SpeakerLevels(*d, static_cast<float>(a))) e += level * level;
            mean += e / 72.0;
        }
        EXPECT_NEAR(mean, 1.0, 0.05);
    }
}

TEST(Ambisonics, BinauralPutsASourceOnItsSideOfTheHead) {
    auto decoder = std::make_unique<BinauralDecoder>();
    InitBinauralDecoder(*decoder, 48000);
    auto earEnergy = [&](float azimuthDeg, double* left, double* right) {
        ClearBinaural(*decoder);
        const int n = 4800;
        std::vector<float> w(n), y(n), z(n), x(n), l(n), r(n);
        const AmbiGains e = EncodeDirection(azimuthDeg * kDeg, 0.0f);
        for (int i = 0; i < n; ++i) {
            const float s = std::sin(2.0f * 3.14159265f * 3000.0f * i / 48000.0f);
            w[i] = s * e.w;
            y[i] = s * e.y;
            z[i] = s * e.z;
            x[i] = s * e.x;
        }
        ProcessBinaural(*decoder, w.data(), y.data(), z.data(), x.data(), l.data(), r.data(), n);
        *left = *right = 0.0;
        for (int i = 480; i < n; ++i) {
            ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i]));
            *left += l[i] * l[i];
            *right += r[i] * r[i];
        }
    };
    double l = 0, r = 0;
    earEnergy(90.0f, &l, &r);
    EXPECT_GT(l, r * 2.0);
    earEnergy(-90.0f, &l, &r);
    EXPECT_GT(r, l * 2.0);
    earEnergy(0.0f, &l, &r);
    EXPECT_NEAR(l / r, 1.0, 0.05);
    EXPECT_GT(l, 0.0);
}

TEST(MonitorLayout, ChannelMapsRouteSpeakersToDeviceChannels) {
    EXPECT_EQ(ChannelMapKey(kMonitorStereo), "stereo");
    EXPECT_EQ(ChannelMapKey(kMonitor51), "5.1");
    EXPECT_EQ(ChannelMapKey(kMonitor714), "7.1.4");
    const MonitorLayoutInfo surround = MonitorLayout(kMonitor51);
    std::string labels;
    for (int i = 0; i < surround.speakerCount; ++i) labels += std::string(ChannelRoleLabel(surround.roles[i])) + " ";
    EXPECT_EQ(labels, "L R C LFE Ls Rs ");

    Preferences prefs;
    MonitorRouting routing = ResolveMonitorRouting(prefs, kMonitor51);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(routing.channelOfSpeaker[i], i);

    // A film-order interface: L C R Ls Rs LFE. A short or broken map keeps the
    // canonical channel for what it does not say.
    prefs.channelMaps["5.1"] = {0, 2, 1, 5, 3};
    prefs.channelMaps["stereo"] = {-1, 7};
    routing = ResolveMonitorRouting(prefs, kMonitor51);
    EXPECT_EQ(routing.channelOfSpeaker[1], 2);
    EXPECT_EQ(routing.channelOfSpeaker[3], 5);
    EXPECT_EQ(routing.channelOfSpeaker[5], 5);
    ResetChannelMap(prefs, kMonitor51);
    EXPECT_EQ(prefs.channelMaps["5.1"], CanonicalChannelMap(kMonitor51));

    // The stereo mix on a device: routed channels, falling back when out of range.
    MonitorRouting stereo = ResolveMonitorRouting(prefs, kMonitorStereo);
    int left = -1, right = -1;
    StereoOutputChannels(&stereo, 8, &left, &right);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 7);
    StereoOutputChannels(&stereo, 4, &left, &right);
    EXPECT_EQ(right, 1);
    StereoOutputChannels(nullptr, 1, &left, &right);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, 0);
}

}  // namespace
}  // namespace morvane
