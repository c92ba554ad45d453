// Rendering whole timelines into the cache and mixing them offline.
#include "audio/render_timeline.h"

#include <gtest/gtest.h>

#include "audio/mixer.h"
#include "render_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

// Three events' worth of layers over real files, some overlapping.
Project SmallProject(const std::string& dir) {
    Project p;
    p.projectSampleRate = kRate;
    p.timeline.events.resize(3);
    std::vector<Layer>& r = p.timeline.results;
    r.push_back(test::FileLayer("low", test::SineFile(dir, "low", 110.0, 3.0), 0.5f, 2.0f, 0));
    r.push_back(test::FileLayer("mid", test::SineFile(dir, "mid", 660.0, 3.0, 0.8), 1.0f, 1.5f, 0));
    r.push_back(test::FileLayer("air", test::NoiseFile(dir, "air", 2.0), 2.0f, 1.0f, 1));
    Layer pitched = test::FileLayer("pitched", dir + "/mid.wav", 2.5f, 1.0f, 2);
    pitched.pitchShift = -5.0f;
    r.push_back(pitched);
    Layer fill = test::FileLayer("fill", dir + "/low.wav", 0.0f, 4.0f, 2);
    fill.procMode = ProcMode::Fill;
    fill.sourceDuration = 3.0f;
    r.push_back(fill);
    return p;
}

TEST(RenderTimeline, OneSweepAndTwoSweepsFillTheSameCache) {
    test::TempDir dir;
    Project once = SmallProject(dir.path.string());
    Project twice = once;
    RenderCache a, b;
    RenderOptions options;
    std::string error;
    options.singlePass = true;
    ASSERT_TRUE(RenderTimelineBlocking(once, a, options, &error)) << error;
    options.singlePass = false;
    ClearSegmentCache();  // the second render decodes afresh
    ASSERT_TRUE(RenderTimelineBlocking(twice, b, options, &error)) << error;

    ASSERT_EQ(a.blocks.size(), 5u);
    ASSERT_EQ(a.blocks.size(), b.blocks.size());
    for (size_t i = 0; i < a.blocks.size(); ++i) {
        SCOPED_TRACE(a.blocks[i].identity);
        EXPECT_EQ(a.blocks[i].identity, b.blocks[i].identity);
        EXPECT_EQ(a.blocks[i].layerIndex, b.blocks[i].layerIndex);
        EXPECT_EQ(a.blocks[i].gain, b.blocks[i].gain);
        EXPECT_EQ(a.blocks[i].envelope, b.blocks[i].envelope);
        EXPECT_EQ(a.blocks[i].audio->channels, b.blocks[i].audio->channels);
    }
    EXPECT_EQ(once.timeline.results, twice.timeline.results);  // same write-backs
    EXPECT_TRUE(a.ready.load());
    EXPECT_EQ(a.generation.load(), 1u);
    EXPECT_FLOAT_EQ(a.timelineEnd, 4.0f);
}

TEST(RenderTimeline, FailuresAreReportedNotHalfDone) {
    test::TempDir dir;
    RenderCache cache;
    std::string error;
    Project empty;
    EXPECT_FALSE(RenderTimelineBlocking(empty, cache, {}, &error));
    EXPECT_NE(error.find("no built layers"), std::string::npos);

    // Layers that are neither files nor sketches give nothing to render.
    Project nothing;
    Layer none;
    none.name = "(no match)";
    none.duration = 1.0f;
    nothing.timeline.events.resize(1);
    nothing.timeline.results = {none, none};
    EXPECT_FALSE(RenderTimelineBlocking(nothing, cache, {}, &error));
    EXPECT_NE(error.find("nothing could be rendered"), std::string::npos);

    // Cancelling a two-sweep render leaves the previous blocks playing.
    Project p = SmallProject(dir.path.string());
    ASSERT_TRUE(RenderTimelineBlocking(p, cache, {}, &error));
    const auto firstAudio = cache.blocks[0].audio;
    RenderOptions cancel;
    int calls = 0;
    cancel.progress = [&](float) { return ++calls < 2; };
    EXPECT_FALSE(RenderTimelineBlocking(p, cache, cancel, &error));
    EXPECT_EQ(error, "render cancelled");
    ASSERT_EQ(cache.blocks.size(), 5u);
    EXPECT_EQ(cache.blocks[0].audio, firstAudio);

    // A missing file is a silent block, not a failed render.
    Project missing = SmallProject(dir.path.string());
    missing.timeline.results[1].filepath = dir / "gone.wav";
    ASSERT_TRUE(RenderTimelineBlocking(missing, cache, {}, &error));
    EXPECT_TRUE(cache.blocks[1].missingFile);
    EXPECT_FALSE(cache.blocks[0].missingFile);
}

TEST(RenderTimeline, OfflineMixHasTheRangeAndNeverPassesTheCeiling) {
    test::TempDir dir;
    Project p = SmallProject(dir.path.string());
    p.masterGain = 4.0f;  // drive the limiter hard
    p.reverb.enabled = true;
    p.reverb.groupSends = {0.5f, 0.5f, 0.5f};
    RenderCache cache;
    std::string error;
    ASSERT_TRUE(RenderTimelineBlocking(p, cache, {}, &error)) << error;

    std::vector<float> stereo;
    float lastProgress = 0.0f;
    ASSERT_TRUE(MixOffline(cache, 0.5, 3.5, 2, stereo, [&](float f) { lastProgress = f; return true; }, &error));
    EXPECT_EQ(stereo.size(), 2u * 3 * kRate);
    EXPECT_FLOAT_EQ(lastProgress, 1.0f);
    EXPECT_GT(test::Peak(stereo), 0.8f);
    EXPECT_LE(test::Peak(stereo), 0.891f);
    // Full level from the first sample: the start of the range is not faded in by
    // the transport's ramp (the low layer is at its full level at 0.9 s).
    EXPECT_GT(test::Rms(stereo, 2 * static_cast<size_t>(0.4 * kRate), 2 * static_cast<size_t>(0.45 * kRate)), 0.1);
    EXPECT_FALSE(cache.mixer.transport.playing.load());

    // The same range mixed again is the same sound: reverb and filters start fresh.
    std::vector<float> again;
    ASSERT_TRUE(MixOffline(cache, 0.5, 3.5, 2, again, nullptr, &error));
    EXPECT_EQ(again, stereo);

    // Mono is the mean of the two sides; six channels carry the stereo mix on 0 and 1.
    std::vector<float> mono, six;
    ASSERT_TRUE(MixOffline(cache, 0.5, 3.5, 1, mono, nullptr, &error));
    ASSERT_EQ(mono.size(), 3u * kRate);
    EXPECT_NEAR(mono[kRate], 0.5f * (stereo[2 * kRate] + stereo[2 * kRate + 1]), 1e-6f);
    ASSERT_TRUE(MixOffline(cache, 0.5, 3.5, 6, six, nullptr, &error));
    ASSERT_EQ(six.size(), 6u * 3 * kRate);
    EXPECT_NEAR(six[6 * kRate], stereo[2 * kRate], 1e-6f);
    EXPECT_EQ(six[6 * kRate + 3], 0.0f);

    // Bad requests are refused with a reason; a cancelled mix returns nothing.
    EXPECT_FALSE(MixOffline(cache, 2.0, 1.0, 2, stereo, nullptr, &error));
    EXPECT_NE(error.find("bad range"), std::string::npos);
    EXPECT_TRUE(stereo.empty());
    EXPECT_FALSE(MixOffline(cache, -1.0, 1.0, 2, stereo, nullptr, &error));
    EXPECT_FALSE(MixOffline(cache, 0.0, 1.0, 0, stereo, nullptr, &error));
    EXPECT_NE(error.find("channel count"), std::string::npos);
    EXPECT_FALSE(MixOffline(cache, 0.0, 3.0, 2, stereo, [](float f) { return f < 0.5f; }, &error));
    EXPECT_EQ(error, "mix cancelled");
    EXPECT_TRUE(stereo.empty());
}

TEST(RenderTimeline, ProjectGainsReachTheMix) {
    test::TempDir dir;
    Project p = SmallProject(dir.path.string());
    RenderCache cache;
    std::string error;
    ASSERT_TRUE(RenderTimelineBlocking(p, cache, {}, &error));
    std::vector<float> full, muted;
    ASSERT_TRUE(MixOffline(cache, 0.0, 4.0, 2, full, nullptr, &error));
    p.groupGain = {0.0f, 0.0f, 0.0f};
    ASSERT_TRUE(RenderTimelineBlocking(p, cache, {}, &error));
    ASSERT_TRUE(MixOffline(cache, 0.0, 4.0, 2, muted, nullptr, &error));
    EXPECT_GT(test::Rms(full), 0.05);
    EXPECT_EQ(test::Peak(muted), 0.0f);
}

}  // namespace
}  // namespace morvane
