// Sketch layers sound: each kind has its own character, fills the layer's
// duration, repeats bit for bit, stays a placeholder and is levelled like any
// layer; a layer whose file is missing still renders silent.
#include "audio/sketch_sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/layer_render.h"
#include "audio/render_timeline.h"
#include "engine/event_build.h"
#include "render_fixtures.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

Layer SketchLayer(const std::string& name, float start, float duration, int event) {
    Layer l;
    l.name = name;
    l.startTime = start;
    l.duration = duration;
    l.eventIdx = event;
    if (name == "[Sketch] Fill") l.procMode = ProcMode::Fill;   // as the build places them
    if (name == "[Sketch] Alloy") l.procMode = ProcMode::Alloy;
    return l;
}

RenderBlock RenderSketch(const LayerRenderContext& ctx, Layer& layer) {
    RenderBlock block;
    EXPECT_TRUE(RenderLayerBlock(ctx, layer, 0, &block)) << layer.name;
    return block;
}

// RMS of the tenth `k` (0..9) of `x`.
double TenthRms(const std::vector<float>& x, int k) {
    return test::Rms(x, x.size() * k / 10, x.size() * (k + 1) / 10);
}

TEST(SketchSound, EverySketchSoundsForItsWholeLayerAndStaysAPlaceholder) {
    LayerRenderContext ctx;
    ctx.sampleRate = kRate;
    ctx.normalize = false;
    const char* names[] = {"[Sketch] Spot", "[Sketch] Alloy",   "[Sketch] Fill",
                           "[Sketch] Wash", "[Sketch] Scatter", "[Sketch] Layer"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        Layer layer = SketchLayer(name, 2.0f, 1.5f, 3);
        ASSERT_TRUE(IsPlaceholderLayer(layer));
        const RenderBlock block = RenderSketch(ctx, layer);
        ASSERT_EQ(block.audio->channels.size(), 1u);
        const std::vector<float>& x = block.audio->channels[0];
        EXPECT_EQ(x.size(), 72000u);
        EXPECT_TRUE(block.placeholder);
        EXPECT_FALSE(block.missingFile);
        bool finite = true;
        for (float v : x) finite = finite && std::isfinite(v);
        EXPECT_TRUE(finite);
        // Audible, at a modest level: −12 dBFS at its peak.
        EXPECT_NEAR(test::Peak(x), 0.25f, 1e-3f);
        EXPECT_GT(*std::max_element(block.envelope.begin(), block.envelope.end()), 0.2f);

        // The same layer renders the same samples; another event's sketch differs.
        Layer same = SketchLayer(name, 2.0f, 1.5f, 3);
        EXPECT_EQ(RenderSketch(ctx, same).audio->channels, block.audio->channels);
        Layer other = SketchLayer(name, 2.0f, 1.5f, 4);
        EXPECT_NE(RenderSketch(ctx, other).audio->channels, block.audio->channels);
    }
    // A render that only reuses earlier results still marks a sketch as one.
    ctx.analysisFree = true;
    Layer reused = SketchLayer("[Sketch] Spot", 0.0f, 0.5f, 0);
    EXPECT_TRUE(RenderSketch(ctx, reused).placeholder);
    ctx.analysisFree = false;

    // The build's pitch variation does not change a sketch's length.
    Layer pitched = SketchLayer("[Sketch] Layer", 0.0f, 1.0f, 0);
    pitched.pitchShift = 3.0f;
    EXPECT_NEAR(static_cast<double>(RenderSketch(ctx, pitched).audio->channels[0].size()), 48000.0, 2.0);

    // Levelled like any other layer: loudness normalisation measures it.
    ctx.normalize = true;
    Layer normalised = SketchLayer("[Sketch] Fill", 0.0f, 2.0f, 0);
    normalised.normGain = 1.0f;
    RenderSketch(ctx, normalised);
    EXPECT_GT(std::fabs(normalised.normGain - 1.0f), 0.05f);

    // A missing file is not a sketch: silence, flagged missing and placeholder.
    test::TempDir dir;
    Layer gone = test::FileLayer("gone", (dir.path / "nowhere.wav").string(), 1.0f, 0.5f);
    const RenderBlock silent = RenderSketch(ctx, gone);
    EXPECT_TRUE(silent.missingFile);
    EXPECT_TRUE(silent.placeholder);
    EXPECT_EQ(silent.audio->channels[0].size(), 24000u);
    EXPECT_EQ(test::Peak(silent.audio->channels[0]), 0.0f);
}

TEST(SketchSound, AnEmptyLibraryBuildsATimelineThatCanBeHeard) {
    // Nothing to choose from: the build places sketches, and the rendered mix
    // sounds where the events are and nowhere else.
    Project project;
    Event spot;
    spot.shape = EventShape::Spot;
    spot.time = 1.0f;
    spot.duration = 0.5f;
    Event wash = spot;
    wash.shape = EventShape::Contour;
    wash.time = 3.0f;
    wash.duration = 1.0f;
    project.timeline.events = {spot, wash};
    BuildEvents(project, {}, -1, -1.0f, -1.0f, 0, test::FixedBuild(5));
    const int sketches = CountPlaceholderLayers(project.timeline.results);
    ASSERT_GT(sketches, 1);
    RenderCache cache;
    std::string error;
    ASSERT_TRUE(RenderTimelineBlocking(project, cache, RenderOptions{}, &error)) << error;
    for (const RenderBlock& b : cache.blocks) {
        EXPECT_TRUE(b.placeholder);
        EXPECT_FALSE(b.missingFile);
    }
    EXPECT_EQ(CountPlaceholderLayers(project.timeline.results), sketches);  // still counted by the status line
    std::vector<float> mix;
    ASSERT_TRUE(MixOffline(cache, 0.0, 5.0, 2, mix, nullptr, &error)) << error;
    auto rms = [&](double from, double to) {
        std::vector<float> left;
        for (size_t i = static_cast<size_t>(from * kRate); i < static_cast<size_t>(to * kRate); ++i) left.push_back(mix[2 * i]);
        return test::Rms(left);
    };
    EXPECT_EQ(rms(0.0, 0.9), 0.0);
    EXPECT_GT(rms(1.0, 1.2), 0.01);
    EXPECT_GT(rms(3.3, 3.7), 0.01);
}

TEST(SketchSound, EachKindHasItsCharacter) {
    // Sketches differ by time, by event, and between the tracks of one event.
    const uint32_t seed = SketchSeed(1.25f, 2, 0);
    EXPECT_NE(seed, SketchSeed(1.5f, 2, 0));
    EXPECT_NE(seed, SketchSeed(1.25f, 3, 0));
    EXPECT_NE(seed, SketchSeed(1.25f, 2, 1));
    const int64_t frames = 2 * kRate;
    auto make = [&](const std::string& name) {
        return SynthesizeSketch(SketchKindOfName(name), frames, kRate, seed);
    };

    // Spot: a hit, all but gone after its first tenth.
    const std::vector<float> spot = make("[Sketch] Spot");
    EXPECT_GT(TenthRms(spot, 0), 10.0 * TenthRms(spot, 5));
    // Alloy: a strike that rings on well past the spot's hit, then fades.
    const std::vector<float> alloy = make("[Sketch] Alloy");
    EXPECT_GT(TenthRms(alloy, 0), 2.0 * TenthRms(alloy, 9));
    EXPECT_GT(TenthRms(alloy, 2) / TenthRms(alloy, 0), 5.0 * TenthRms(spot, 2) / TenthRms(spot, 0));
    // Fill: even from end to end (within 3 dB between its inner tenths).
    const std::vector<float> fill = make("[Sketch] Fill");
    for (int k = 1; k < 9; ++k) EXPECT_NEAR(20.0 * std::log10(TenthRms(fill, k) / TenthRms(fill, 4)), 0.0, 3.0) << k;
    // Wash: swells to the middle and falls away.
    const std::vector<float> wash = make("[Sketch] Wash");
    EXPECT_GT(TenthRms(wash, 4), 4.0 * TenthRms(wash, 0));
    EXPECT_GT(TenthRms(wash, 5), 4.0 * TenthRms(wash, 9));
    // Scatter: a handful of short ticks with quiet between them.
    const std::vector<float> scatter = make("[Sketch] Scatter");
    int ticks = 0;
    bool inTick = false;
    int quietRun = 0;
    for (size_t at = 0; at + 48 <= scatter.size(); at += 48) {  // 1 ms steps
        const bool loud = test::Rms(scatter, at, at + 48) > 0.01;
        if (loud && !inTick) ++ticks;
        quietRun = loud ? 0 : quietRun + 1;
        if (loud) inTick = true;
        if (quietRun >= 20) inTick = false;
    }
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 9);
    size_t quietFrames = 0;
    for (float v : scatter) quietFrames += std::fabs(v) < 1e-3f ? 1 : 0;
    EXPECT_GT(quietFrames, scatter.size() / 2);
    // Layer: a low tone (its crossings put it between 70 and 300 Hz).
    const std::vector<float> low = make("[Sketch] Layer");
    const double hz = test::CrossingFrequency(std::vector<float>(low.begin(), low.begin() + kRate / 2), kRate);
    EXPECT_GT(hz, 70.0);
    EXPECT_LT(hz, 300.0);
    // Unknown sketch names sound as "[Sketch] Layer"; a one-frame sketch is one frame.
    EXPECT_EQ(SketchKindOfName("[Sketch] Something"), SketchKind::Layer);
    EXPECT_EQ(SynthesizeSketch(SketchKind::Spot, 0, kRate, seed).size(), 1u);
}

}  // namespace
}  // namespace morvane
