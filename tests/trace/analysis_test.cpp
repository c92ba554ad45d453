// Reading the picture on generated videos whose events and motion are known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "trace/analysis.h"
#include "trace/trace_media.h"
#include "trace/video.h"

namespace morvane {
namespace {

// Runs the whole read (worker thread, sampler, measures, sequence stage) on a file.
void Read(const std::string& path, TraceAnalysis& analysis, const TraceParams& params = {},
          const TraceModel& model = {}) {
    ASSERT_FALSE(path.empty());
    VideoState video;
    testing::internal::CaptureStdout();
    const bool ok = LoadVideo(video, path);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << path;
    bool finished = false;
    ASSERT_TRUE(StartTraceAnalysis(analysis, video, params, model, [&](TraceAnalysis&) { finished = true; }));
    JoinTraceAnalysis(analysis);
    EXPECT_FALSE(analysis.running);
    EXPECT_TRUE(analysis.done);
    EXPECT_TRUE(finished);
    EXPECT_FLOAT_EQ(analysis.progress, 1.0f);
}

float Mean(const std::vector<TraceFrame>& frames, int from, int to, float TraceFrame::*field) {
    float s = 0;
    for (int i = from; i <= to; ++i) s += frames[i].*field;
    return s / (to - from + 1);
}

TEST(Trace, FlashesAreFoundWhereTheyHappen) {
    TraceAnalysis a;
    Read(test::FlashVideo(), a);
    ASSERT_EQ(a.frames.size(), 60u);
    const float expected[] = {1.0f, 2.5f, 4.0f};
    ASSERT_EQ(a.events.size(), 3u) << "first at " << (a.events.empty() ? -1 : a.events[0].time);
    for (int i = 0; i < 3; ++i) {
        const TraceEvent& e = a.events[i];
        std::printf("flash expected %.2f s, found %.3f s\n", expected[i], e.time);
        EXPECT_NEAR(e.time, expected[i], 0.1f);
        EXPECT_EQ(e.type, kTraceSpot);
        EXPECT_FALSE(e.background);
        EXPECT_EQ(e.peelLayer, 0);
        // A hard change is a sync point: the sound is centred on it.
        EXPECT_EQ(e.suggestedShape, 0);
        EXPECT_NEAR(e.suggestedSyncOffset, e.suggestedDuration * 0.5f, 1e-5f);
        EXPECT_GE(e.suggestedDuration, 0.6f);
        EXPECT_GT(e.confidence, 0.5f);
        EXPECT_GT(e.intensity, 0.5f);
    }
    // A flash is light, not motion somewhere: the frame changes evenly.
    EXPECT_GT(a.frames[10].brightnessDelta, 0.5f);
    EXPECT_LT(a.frames[11].brightnessDelta, -0.5f);
    EXPECT_GT(a.frames[10].impact, 0.9f);
    EXPECT_LT(a.frames[10].foregroundMass, 0.1f);
    for (const TraceFrame& f : a.frames) EXPECT_EQ(f.cameraMotion, 0.0f) << f.time;  // light is not a camera move

    // The slice level keeps the strong events above it, and the rest when flipped.
    EXPECT_EQ(EventsKeptBySlice(a.events, 0.35f, true).size(), 3u);
    EXPECT_EQ(EventsKeptBySlice(a.events, 0.35f, false).size(), 0u);
}

TEST(Trace, AStillPictureProposesNothing) {
    TraceAnalysis a;
    Read(test::StillVideo(), a);
    ASSERT_EQ(a.frames.size(), 30u);
    for (const TraceFrame& f : a.frames) {
        EXPECT_LT(f.motion, 0.001f);
        EXPECT_LT(f.impact, 0.02f);
        EXPECT_EQ(f.cameraMotion, 0.0f);
    }
    EXPECT_TRUE(a.events.empty());
}

TEST(Trace, AMovingBoxIsForegroundMotionTravellingWithTheBox) {
    TraceAnalysis a;
    Read(test::BoxVideo(), a);
    ASSERT_EQ(a.frames.size(), 40u);
    const std::vector<TraceFrame>& f = a.frames;
    EXPECT_GT(Mean(f, 2, 37, &TraceFrame::motion), 0.002f);
    EXPECT_GT(Mean(f, 2, 37, &TraceFrame::foregroundMass), 0.6f);
    EXPECT_LT(Mean(f, 2, 37, &TraceFrame::cameraMotion), 0.05f);  // the background stands still
    // Left to right: the centroid of motion moves the same way.
    const float early = Mean(f, 2, 10, &TraceFrame::panX), late = Mean(f, 29, 37, &TraceFrame::panX);
    EXPECT_LT(early, -0.2f);
    EXPECT_GT(late, 0.2f);
    EXPECT_NEAR(Mean(f, 2, 37, &TraceFrame::panY), 0.0f, 0.3f);  // the box crosses the middle
}

TEST(Trace, APanIsCameraMotionNotMotionInThePicture) {
    TraceAnalysis a;
    Read(test::PanVideo(), a);
    ASSERT_EQ(a.frames.size(), 40u);
    // About 2 pixels per analysed frame at 160 wide.
    EXPECT_GT(Mean(a.frames, 2, 37, &TraceFrame::cameraMotion), 0.08f);
    EXPECT_LT(Mean(a.frames, 2, 37, &TraceFrame::cameraMotion), 0.3f);
    // Shift compensation removes most of the difference the pan makes.
    EXPECT_LT(Mean(a.frames, 2, 37, &TraceFrame::motion), 0.4f * Mean(a.frames, 2, 37, &TraceFrame::rawDifference));
}

TEST(Trace, MotionEverywhereIsDiffuseAndAsksForAFill) {
    TraceAnalysis box, noise;
    Read(test::BoxVideo(), box);
    Read(test::NoiseVideo(), noise);
    ASSERT_EQ(noise.frames.size(), 40u);
    EXPECT_LT(Mean(noise.frames, 1, 39, &TraceFrame::foregroundMass), 0.25f);
    EXPECT_GT(Mean(noise.frames, 1, 39, &TraceFrame::spatialSpread), 0.6f);
    EXPECT_GT(Mean(noise.frames, 1, 39, &TraceFrame::motion), Mean(box.frames, 1, 39, &TraceFrame::motion));
    int fills = 0;
    for (const TraceEvent& e : noise.events) {
        if (e.type != kTraceFill) continue;
        ++fills;
        EXPECT_TRUE(e.background);
        EXPECT_EQ(e.suggestedShape, 3);
        EXPECT_GE(e.suggestedDuration, 2.0f);
    }
    EXPECT_EQ(fills, 1);
    for (const TraceEvent& e : box.events) EXPECT_NE(e.type, kTraceFill);
}

TEST(Trace, AHardCutStartsAShotAndThresholdsStayInTheirShot) {
    TraceAnalysis a;
    TraceParams params;
    params.adaptiveWindowSec = 6.0f;  // windows wide enough to reach across the cut
    Read(test::CutVideo(), a, params);
    ASSERT_EQ(a.frames.size(), 40u);
    ASSERT_EQ(a.frameShot.size(), 40u);
    EXPECT_EQ(a.frameShot[19], 0);
    EXPECT_EQ(a.frameShot[20], 1);
    EXPECT_EQ(a.frameShot[39], 1);
    // The busy first shot sets its own level; the still second one keeps the floor.
    EXPECT_GT(Mean(a.frames, 12, 19, &TraceFrame::adaptiveThr), 0.015f);
    for (int i = 23; i < 40; ++i) EXPECT_LT(a.frames[i].adaptiveThr, 0.01f) << "frame " << i;
    // The cut itself is a sync point.
    bool atCut = false;
    for (const TraceEvent& e : a.events)
        if (std::fabs(e.time - 2.0f) <= 0.15f && !e.background) atCut = true;
    EXPECT_TRUE(atCut);
}

TEST(Trace, HardCutsBetweenMovingShotsLandOnTheirFirstFrame) {
    // Shot lengths chosen so that no cut falls on a frame the read samples (every 4th
    // at 25 fps and 10 per second reads 0, 2.5, 5 ... frames), some shots short enough
    // that their cuts come in quick, even succession, as a cluster would.
    const std::vector<int> shots = {33, 27, 21, 22, 23, 39};
    TraceAnalysis a;
    Read(test::AlternatingShotsVideo("alternating.mp4", shots), a);
    int cutFrame = 0;
    for (size_t shot = 0; shot + 1 < shots.size(); ++shot) {
        cutFrame += shots[shot];
        const TraceEvent* found = nullptr;
        for (const TraceEvent& e : a.events)
            if (e.type == kTraceSpot && std::fabs(e.time * 25.0f - cutFrame) < 4.0f) found = &e;
        ASSERT_NE(found, nullptr) << "no spot at the cut on frame " << cutFrame;
        std::printf("cut on frame %d, proposed at frame %.2f\n", cutFrame, found->time * 25.0f);
        EXPECT_NEAR(found->time * 25.0f, cutFrame, 0.01f) << "the cut's event is not on its first frame";
        EXPECT_TRUE(found->hardCut);
        EXPECT_FALSE(found->background);
        EXPECT_EQ(found->suggestedShape, 0);  // centred on the cut
    }
    // No cluster stands for a cut: each cut is its own sync point.
    for (const TraceEvent& e : a.events) {
        if (e.type != kTraceCluster) continue;
        int covered = 0;
        for (int shot = 0, frame = 0; shot + 1 < static_cast<int>(shots.size()); ++shot) {
            frame += shots[shot];
            if (frame / 25.0f >= e.time && frame / 25.0f <= e.time + e.suggestedDuration) ++covered;
        }
        EXPECT_EQ(covered, 0) << "a cluster at " << e.time << " s swallowed a cut";
    }
    // Reading between two times delivers every frame there, in order, at the width asked.
    VideoState video;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadVideo(video, test::AlternatingShotsVideo("alternating.mp4", shots)));
    testing::internal::GetCapturedStdout();
    std::vector<float> times;
    ReadFramesBetween(video, 1.0, 1.2, 64, [&](int, float t, const uint8_t*, int w, int h) {
        times.push_back(t);
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 36);
    });
    ASSERT_EQ(times.size(), 6u);
    for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], 1.0f + 0.04f * i, 1e-3f);
}

TEST(Trace, SequenceEdgesShortVideosAndTinyShots) {
    // Fewer than five frames: done, nothing proposed.
    TraceAnalysis tiny;
    for (int i = 0; i < 4; ++i) {
        TraceFrame f;
        f.time = i / 10.0f;
        f.brightnessDelta = i == 2 ? 0.8f : 0.0f;
        tiny.frames.push_back(f);
    }
    RunTraceSequence(tiny, TraceParams{});
    EXPECT_TRUE(tiny.done);
    EXPECT_TRUE(tiny.events.empty());

    // A cut two frames before the end leaves a two-frame shot: its thresholds are 0.05.
    TraceAnalysis a;
    for (int i = 0; i < 30; ++i) {
        TraceFrame f;
        f.time = i / 10.0f;
        f.histogramDiff = i == 28 ? 1.0f : 0.0f;
        a.frames.push_back(f);
    }
    RunTraceSequence(a, TraceParams{});
    EXPECT_EQ(a.frameShot[28], 1);
    EXPECT_FLOAT_EQ(a.frames[28].adaptiveThr, 0.05f);
    EXPECT_FLOAT_EQ(a.frames[29].accentThr, 0.05f);
    EXPECT_FLOAT_EQ(a.frames[10].adaptiveThr, 0.006f);
    EXPECT_FLOAT_EQ(a.frames[10].accentThr, 0.012f);
}

TEST(Trace, EvenlySpacedHitsBecomeOneClusterAndCloseOnesMerge) {
    // Brightness steps every 0.4 s from 2 s to 4 s: a regular run.
    TraceAnalysis a;
    for (int i = 0; i < 80; ++i) {
        TraceFrame f;
        f.time = i / 10.0f;
        const bool hit = i >= 20 && i <= 40 && (i - 20) % 4 == 0;
        f.brightnessDelta = hit ? 0.3f : 0.0f;
        f.histogramDiff = hit ? 0.1f : 0.0f;
        a.frames.push_back(f);
    }
    a.frames[60].brightnessDelta = 0.4f;  // one lone hit later
    RunTraceSequence(a, TraceParams{});
    ASSERT_EQ(a.events.size(), 2u);
    EXPECT_EQ(a.events[0].type, kTraceCluster);
    EXPECT_NEAR(a.events[0].time, 2.0f, 0.1f);
    EXPECT_NEAR(a.events[0].suggestedDuration, 2.6f, 0.5f);
    EXPECT_EQ(a.events[1].type, kTraceSpot);
    EXPECT_NEAR(a.events[1].time, 6.0f, 0.1f);

    // With a minimum gap wider than the spacing the run collapses into fewer events.
    TraceAnalysis b;
    b.frames = a.frames;
    TraceParams wide;
    wide.minEventGap = 0.85f;
    RunTraceSequence(b, wide);
    int before = 0;
    for (const TraceEvent& e : b.events)
        if (e.time < 5.0f) ++before;
    EXPECT_LE(before, 3);
    for (size_t i = 1; i < b.events.size(); ++i) EXPECT_GE(b.events[i].time - b.events[i - 1].time, 0.8f);
}

TEST(Trace, ScrubbingDuringTheReadDisturbsNeither) {
    // The user keeps scrubbing while the picture is read: both use the one decoder.
    VideoState video;
    int shown = 0;
    video.frameSink = [&](int, int, const uint8_t*) { ++shown; };
    testing::internal::CaptureStdout();
    const bool ok = LoadVideo(video, test::FlashVideo());
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    TraceAnalysis a;
    ASSERT_TRUE(StartTraceAnalysis(a, video, {}, {}));
    const float targets[] = {5.0f, 0.4f, 3.2f, 1.0f, 4.6f, 2.0f};
    int request = 0;
    while (a.running) {
        ShowFrameAt(video, targets[request++ % 6]);
        TickVideo(video);
    }
    JoinTraceAnalysis(a);
    EXPECT_GT(request, 0);
    ASSERT_EQ(a.frames.size(), 60u);
    ASSERT_EQ(a.events.size(), 3u);
    EXPECT_NEAR(a.events[0].time, 1.0f, 0.1f);
    EXPECT_NEAR(a.events[1].time, 2.5f, 0.1f);
    EXPECT_NEAR(a.events[2].time, 4.0f, 0.1f);
    for (int i = 0; i < 60; ++i) {
        const bool flash = i == 10 || i == 25 || i == 40;
        EXPECT_EQ(a.frames[i].brightness > 0.5f, flash) << "frame " << i;
    }
    // And the display still lands where it is asked to.
    ShowFrameAt(video, 2.48f);
    for (int i = 0; i < 200 && video.decoder->pendingTarget >= 0; ++i) TickVideo(video);
    EXPECT_NEAR(video.currentFrameTime, 2.48f, 0.001f);
}

TEST(Trace, ACancelledReadKeepsNothing) {
    VideoState video;
    testing::internal::CaptureStdout();
    const bool ok = LoadVideo(video, test::NoiseVideo());
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    TraceAnalysis a;
    bool finished = false;
    a.cancel = true;  // set before the first frame's progress call
    ASSERT_TRUE(StartTraceAnalysis(a, video, {}, {}, [&](TraceAnalysis&) { finished = true; }));
    CancelTraceAnalysis(a);
    JoinTraceAnalysis(a);
    EXPECT_FALSE(a.running);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(a.frames.empty());
    EXPECT_TRUE(a.events.empty());
    // Nothing loaded: the read does not start.
    VideoState none;
    EXPECT_FALSE(StartTraceAnalysis(a, none, {}, {}));
}

}  // namespace
}  // namespace morvane
