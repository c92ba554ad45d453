// The trace dump and annotation form, and the learned model.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "model/json.h"
#include "support/test_support.h"
#include "trace/trace_files.h"
#include "trace/trace_model.h"
#include "trace/trace_results.h"

namespace morvane {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Ten frames at 10 per second with a peak at 0.5 s, and one event there.
void SmallAnalysis(TraceAnalysis& a) {
    a.duration = 1.0f;
    for (int i = 0; i < 10; ++i) {
        TraceFrame f;
        f.time = i / 10.0f;
        f.brightness = 0.25f;
        f.composite = i == 6 ? 0.5f : 0.1f;
        f.adaptiveThr = 0.02f;
        f.accentThr = 0.03f;
        f.foregroundMass = i == 4 ? 0.8f : 0.2f;
        f.impact = i == 5 ? 0.9f : 0.0f;
        f.brightnessDelta = i == 3 ? -0.4f : 0.1f;
        f.histogramDiff = 0.05f;
        f.flow = i == 6 ? 0.7f : 0.1f;
        f.panX = i == 6 ? -0.25f : 0.0f;
        f.localMotionPeak = 0.125f;
        a.frames.push_back(f);
        a.frameShot.push_back(i < 2 ? 0 : 1);
    }
    TraceEvent e;
    e.time = 0.5f;
    e.type = kTraceCluster;
    e.intensity = 0.8f;
    e.confidence = 0.5f;
    e.suggestedDuration = 1.25f;
    a.events.push_back(e);
}

TEST(TraceFiles, TimecodesCountFramesFromTheTimecodeStart) {
    EXPECT_EQ(TraceTimecode(0.5f, 3600.0f, 25.0f), "01:00:00:13");
    EXPECT_EQ(TraceTimecode(0.0f, 0.0f, 23.976f), "00:00:00:00");
    EXPECT_EQ(TraceTimecode(61.5f, 0.0f, 23.976f), "00:01:01:12");  // counted at 24
    EXPECT_EQ(TraceTimecode(1.0f, 0.0f, 0.0f), "00:00:01:00");
    EXPECT_EQ(TraceTimecode(-5.0f, 2.0f, 25.0f), "00:00:00:00");     // never before zero
    EXPECT_EQ(TraceTimecode(0.5f, 0.0f, 0.5f), "00:00:00:15");       // below 1: 30 fps
    EXPECT_EQ(TraceFilesBasePath("/p/proj.mvproj", "/v/clip.final.mov"), "/p/clip.final_trace");
    EXPECT_EQ(TraceFilesBasePath("", "/v/clip.mp4"), "/v/clip_trace");
}

TEST(TraceFiles, BothFilesCarryTheFramesAndEventsInTheirFormats) {
    test::TempDir dir;
    TraceAnalysis a;
    SmallAnalysis(a);
    TraceSource source;
    source.videoPath = "/videos/a \"quoted\" clip.mp4";
    source.projectFps = 0.0f;  // not set: 25
    source.timecodeStart = 3600.0f;
    source.videoStartTime = 1.5f;
    source.width = 640;
    source.height = 360;
    TraceParams params;
    const std::string base = dir / "clip_trace";
    ASSERT_TRUE(WriteTraceFiles(base, a, params, source));

    const std::string json = test::ReadFile(base + ".mvtrace");
    const JsonValue root = JsonParse(json);
    ASSERT_TRUE(root.IsObject()) << json;
    EXPECT_EQ(JsonAsInt(JsonMember(root, "mvtrace_version"), 0), 1);
    const JsonValue& src = JsonMember(root, "source");
    EXPECT_EQ(JsonAsText(JsonMember(src, "path")), source.videoPath);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(src, "sourceFps"), 0), 25.0f);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(src, "tcStartSec"), 0), 3601.5f);
    EXPECT_EQ(JsonAsInt(JsonMember(src, "width"), 0), 640);
    EXPECT_EQ(JsonAsInt(JsonMember(JsonMember(root, "analysis"), "numFrames"), 0), 10);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(JsonMember(root, "analysis"), "maxComposite"), 0), 0.5f);
    const JsonValue& frames = JsonMember(root, "frames");
    ASSERT_EQ(JsonSize(frames), 10);
    EXPECT_EQ(JsonSize(JsonMember(root, "frame_columns")), 17);
    EXPECT_EQ(JsonSize(JsonItem(frames, 3)), 17);
    EXPECT_NE(json.find("\n    [0.600,0.2500,0.0000,0.0000,0.2000,-0.250,0.000,0.000,0.0000,0.7000,0.50000,0.02000,"
                        "0.03000,0.1250,0.0500,0.000,0.000]"),
              std::string::npos);
    const JsonValue& event = JsonItem(JsonMember(root, "events"), 0);
    EXPECT_EQ(JsonAsText(JsonMember(event, "timecode")), "01:00:00:13");
    EXPECT_EQ(JsonAsText(JsonMember(event, "type")), "Cluster");
    EXPECT_EQ(JsonAsText(JsonMember(event, "layer")), "FG");
    EXPECT_EQ(JsonAsInt(JsonMember(event, "shotIndex"), -1), 1);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(JsonMember(event, "obj"), "composite"), 0), 0.5f);
    EXPECT_EQ(JsonAsText(JsonMember(JsonMember(event, "annotation"), "user_action")), "");

    const std::vector<std::string> csv = Lines(test::ReadFile(base + ".mvtrace.csv"));
    ASSERT_EQ(csv.size(), 7u);
    EXPECT_EQ(csv[0], "# Morvane trace annotation form (internal, WIP)");
    EXPECT_EQ(csv[5].substr(0, 30), "id,time_s,timecode,engine_laye");
    // The reference frame is the strongest composite near the event (0.6 s); the masses,
    // impact, brightness change and histogram change are the largest around it.
    EXPECT_EQ(csv[6],
              "0,0.500,01:00:00:13,FG,Cluster,0.600,0.800,0.500,,,,0.800,0.9000,0.4000,0.0500,0.50000,0.02000,"
              "0.03000,0.000,0.000,0.250,0.1250");
}

TEST(TraceFiles, NoEventsGiveAnEmptyListAndFailuresAreReported) {
    test::TempDir dir;
    TraceAnalysis a;
    SmallAnalysis(a);
    a.events.clear();
    const std::string base = dir / "none_trace";
    ASSERT_TRUE(WriteTraceFiles(base, a, {}, {}));
    const JsonValue root = JsonParse(test::ReadFile(base + ".mvtrace"));
    ASSERT_TRUE(JsonMember(root, "events").IsArray());
    EXPECT_EQ(JsonSize(JsonMember(root, "events")), 0);
    EXPECT_EQ(Lines(test::ReadFile(base + ".mvtrace.csv")).size(), 6u);  // comments and header

    EXPECT_FALSE(WriteTraceFiles(dir / "missing/folder/x_trace", a, {}, {}));
    // One file written and one not is still a failure.
    std::filesystem::create_directory(dir.path / "half_trace.mvtrace.csv");
    EXPECT_FALSE(WriteTraceFiles(dir / "half_trace", a, {}, {}));
}

TEST(TraceFiles, TheProjectRecordKeepsEventsAndTheDrawnCurves) {
    TraceAnalysis a;
    SmallAnalysis(a);
    a.events[0].background = true;
    a.events[0].hasIntensityCurve = true;
    a.events[0].intensityCurve[17] = 0.25f;
    a.events[0].keywords = std::string(200, 'k');
    const TraceResults r = TraceResultsFromAnalysis(a, 0.4f, false);
    EXPECT_TRUE(r.present);
    EXPECT_EQ(r.numFrames, 10);
    EXPECT_FLOAT_EQ(r.maxCompositeEnergy, 0.5f);
    EXPECT_FLOAT_EQ(r.opticalDetail, 0.4f);
    EXPECT_FALSE(r.traceKeepAbove);
    EXPECT_FLOAT_EQ(r.frames[6][8], 0.5f);  // composite
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].tier, 1);  // background travels as tier 1
    EXPECT_EQ(r.events[0].keywords.size(), 127u);
    const TraceEvent back = TraceEventFromOptical(r.events[0]);
    EXPECT_TRUE(back.background);
    EXPECT_EQ(back.type, kTraceCluster);
    EXPECT_FLOAT_EQ(back.intensityCurve[17], 0.25f);
    EXPECT_FLOAT_EQ(TraceFrameFromOptical(r.frames[6]).flow, 0.7f);
}

TEST(TraceModelFit, JudgementsMoveTheWeightsTowardWhatWasKept) {
    std::vector<TraceJudgement> judgements;
    for (int i = 0; i < 4; ++i) judgements.push_back({i * 2.0f, {0.9f, 0.1f, 0.2f, 0.1f, 0.2f}, true});
    for (int i = 0; i < 5; ++i) judgements.push_back({1.0f + i * 2.0f, {0.05f, 0.8f, 0.0f, 0.0f, 0.6f}, false});
    EXPECT_FALSE(FitTraceModel({judgements.begin(), judgements.begin() + 5}, 0.1f).valid);
    std::vector<TraceJudgement> rejectedOnly(judgements.begin() + 4, judgements.end());
    rejectedOnly.push_back(rejectedOnly[0]);
    EXPECT_FALSE(FitTraceModel(rejectedOnly, 0.1f).valid);

    const TraceModel m = FitTraceModel(judgements, 0.1f);
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.totalSpots, 9);
    EXPECT_EQ(m.posCount, 4);
    EXPECT_EQ(m.negCount, 5);
    EXPECT_FLOAT_EQ(m.posMean[0], 0.9f);
    EXPECT_FLOAT_EQ(m.negMean[1], 0.8f);
    EXPECT_GT(m.w[0], 0.32f);  // impact marked the kept events
    EXPECT_LT(m.w[1], 0.26f);  // flow marked the rejected ones
    float sum = 0;
    for (float w : m.w) sum += w;
    EXPECT_NEAR(sum, 0.95f, 1e-4f);
    EXPECT_GT(m.thresholdScale, 1.0f);  // more rejected than kept: propose less
    EXPECT_FLOAT_EQ(m.defaultCompositeMean, 0.1f);
    EXPECT_NEAR(m.minGap, 1.6f, 1e-4f);  // kept events were 2 s apart

    // In the analysis, a model of impact alone makes the curve the smoothed impact.
    TraceAnalysis a;
    for (int i = 0; i < 20; ++i) {
        TraceFrame f;
        f.time = i / 10.0f;
        f.brightnessDelta = i == 10 ? 0.2f : 0.0f;
        f.foregroundMass = 0.5f;  // ignored by the learned weights
        a.frames.push_back(f);
    }
    a.model.valid = true;
    a.model.w = {1, 0, 0, 0, 0};
    RunTraceSequence(a, TraceParams{});
    EXPECT_NEAR(a.frames[10].composite, a.frames[10].impact / 3 + a.frames[9].impact / 3 + a.frames[11].impact / 3,
                1e-5f);
    EXPECT_NEAR(a.frames[10].impact, 0.6f, 0.05f);
    ASSERT_EQ(a.events.size(), 1u);
    EXPECT_NEAR(a.events[0].time, 1.0f, 0.1f);
}

}  // namespace
}  // namespace morvane
