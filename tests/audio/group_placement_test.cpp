// A mix group's placement reaches its layers' blocks: stamped by the render,
// re-stamped in place by a mixer change, and heard through surround monitoring.
#include "audio/group_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/layer_render.h"
#include "audio/mixer.h"
#include "model/preferences.h"
#include "render_fixtures.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

TEST(GroupPlacement, RenderAndMixerChangesStampTheBlocksOfEachGroup) {
    test::TempDir dir;
    const std::string path = test::SineFile(dir.path.string(), "tone", 500.0, 1.0);
    Project project;
    project.groupPlacement[0] = {PlacementMode::Direct, 50.0f};   // Direct
    project.groupPlacement[1] = {PlacementMode::Spread, 80.0f};   // Spread
    project.groupPlacement[2] = {PlacementMode::Diffuse, 150.0f};  // Diffuse, past the top of its range
    const LayerRenderContext ctx = MakeLayerRenderContext(project, nullptr, 0);

    RenderCache cache;
    ResetCache(cache, kRate, 4);
    for (int g = 0; g < kGroupCount; ++g) {
        Layer layer = test::FileLayer("tone", path, 0.0f, 0.5f);
        layer.group = g;
        ASSERT_GE(RenderLayer(cache, ctx, layer, g), 0);
    }
    ASSERT_EQ(cache.blocks.size(), 3u);
    EXPECT_EQ(cache.blocks[0].group, 0);
    EXPECT_EQ(cache.blocks[0].spatialMode, -1);  // Direct: the plain placement, no sides
    EXPECT_EQ(cache.blocks[1].spatialMode, 1);
    EXPECT_FLOAT_EQ(cache.blocks[1].spatialAmount, 0.8f);
    EXPECT_EQ(cache.blocks[2].spatialMode, 2);
    EXPECT_FLOAT_EQ(cache.blocks[2].spatialAmount, 1.0f);

    // A mixer change re-stamps the blocks already rendered: no re-render needed.
    std::array<GroupPlacement, kGroupCount> changed{};
    changed[0] = {PlacementMode::Diffuse, 40.0f};
    changed[1] = {PlacementMode::Direct, 80.0f};
    changed[2] = {PlacementMode::Spread, -20.0f};
    const auto samples = cache.blocks[0].audio;
    ApplyGroupPlacement(cache, changed);
    EXPECT_EQ(cache.blocks[0].spatialMode, 2);
    EXPECT_FLOAT_EQ(cache.blocks[0].spatialAmount, 0.4f);
    EXPECT_EQ(cache.blocks[1].spatialMode, -1);
    EXPECT_EQ(cache.blocks[2].spatialMode, 1);
    EXPECT_FLOAT_EQ(cache.blocks[2].spatialAmount, 0.0f);
    EXPECT_EQ(cache.blocks[0].audio, samples);  // the same samples, only placed anew
    // An unknown mode places like Direct.
    changed[0] = {static_cast<PlacementMode>(7), 50.0f};
    ApplyGroupPlacement(cache, changed);
    EXPECT_EQ(cache.blocks[0].spatialMode, -1);
}

// Energy per speaker of one second of a mono 1 kHz block of group 1 through 5.1
// monitoring, with group 1 placed as given.
std::array<double, 6> SpeakerEnergy(const GroupPlacement* placement) {
    RenderCache cache;
    RenderBlock b;
    b.group = 1;
    b.start = 0.0f;
    b.duration = 2.0f;
    auto audio = std::make_shared<BlockAudio>();
    audio->channels.assign(1, std::vector<float>(2 * kRate + 1));
    for (size_t i = 0; i < audio->channels[0].size(); ++i)
        audio->channels[0][i] = static_cast<float>(0.3 * std::sin(2.0 * kPi * 1000.0 * i / kRate));
    b.audio = audio;
    b.envelope.assign(kEnvelopePoints, 0.3f);
    if (placement != nullptr) PlaceBlock(b, *placement);
    AppendBlock(cache, b);
    Preferences prefs;
    prefs.monitorLayout = kMonitor51;
    SetMonitoring(cache, prefs);
    StartPlayback(cache, 0.2);
    std::array<double, 6> energy{};
    std::vector<float> six(512 * 6);
    for (int k = 0; k < 4; ++k) MixMultichannel(cache, six.data(), 512, 6);  // past the start ramp
    for (int k = 0; k < 90; ++k) {
        MixMultichannel(cache, six.data(), 512, 6);
        for (int i = 0; i < 512; ++i)
            for (int c = 0; c < 6; ++c) energy[c] += static_cast<double>(six[i * 6 + c]) * six[i * 6 + c];
    }
    return energy;
}

TEST(GroupPlacement, SpreadGroupsReachTheSurroundsAndDirectSoundsAsBefore) {
    const std::array<double, 6> unplaced = SpeakerEnergy(nullptr);
    const GroupPlacement direct{PlacementMode::Direct, 100.0f}, spread{PlacementMode::Spread, 100.0f},
        diffuse{PlacementMode::Diffuse, 100.0f};
    const std::array<double, 6> d = SpeakerEnergy(&direct);
    const std::array<double, 6> s = SpeakerEnergy(&spread);
    const std::array<double, 6> f = SpeakerEnergy(&diffuse);
    // Direct is the sound of a block that was never placed, to the sample.
    EXPECT_EQ(d, unplaced);
    // Roles L R C LFE Ls Rs: a front source under Direct leaves little in Ls and Rs.
    auto surround = [](const std::array<double, 6>& e) { return e[4] + e[5]; };
    auto total = [](const std::array<double, 6>& e) { return e[0] + e[1] + e[2] + e[3] + e[4] + e[5]; };
    EXPECT_LT(surround(d), 0.1 * total(d));
    // Spread puts clearly more there, Diffuse more again, on both sides alike.
    EXPECT_GT(surround(s), 1.5 * surround(d));
    EXPECT_GT(surround(f), 1.5 * surround(s));
    EXPECT_NEAR(s[4] / s[5], 1.0, 0.01);
    EXPECT_NEAR(f[4] / f[5], 1.0, 0.01);
}

}  // namespace
}  // namespace morvane
