#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/event_label.h"
#include "model/timeline_json.h"
#include "support/test_support.h"

namespace morvane {
namespace {

Event ReadEvent(const std::string& json, bool legacy = false, int userShapes = 0, const std::string& folder = "") {
    return ReadEventJson(JsonParse(json), folder, legacy, userShapes);
}

std::vector<std::string> Keys(const JsonValue& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.members) keys.push_back(member.first);
    return keys;
}

// Values with few significant digits survive "%.4g" and "%.6g" exactly.
void FillCurve(std::span<float> curve, int salt) {
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<float>((i * 3 + salt) % 9) / 8.0f;
}

Event FullEvent() {
    Event e;
    e.time = 12.5f;
    e.duration = 2.25f;
    e.spread = 0.75f;
    e.weightCenter = 0.625f;
    e.intensityScale = 1.5f;
    e.weightOffset = -0.125f;
    e.syncOffset = 0.0625f;
    e.shape = EventShape::Clip;
    e.userShapeIdx = 1;
    e.locked = e.muted = e.stereo = e.hero = true;
    e.gain = 0.75f;
    e.alloy = true;
    e.alloyMorph = 0.375f;
    e.pitchVariation = 0.5f;
    e.scaleTuneOverride = 2;
    e.reverbSend = 0.25f;
    e.fillLayers = 6;
    e.groupOverride = 2;
    e.sceneLink = 3;
    e.sceneCrossfade = 12;
    e.sceneFill = true;
    e.keywords = "door slam, \"wood\"";
    e.pinnedFile = "/lib/door.wav";
    e.hasPinnedFile = true;
    e.pinnedFileId = "id-door";
    e.pinnedFiles = {"/lib/a.wav", "/lib/b.wav"};
    e.pinnedFileIds = {"id-a", "id-b"};
    e.bedLayerLoop = {1, 0};
    e.bedLayerWeight = {0.25f, -1.0f};
    e.clipSourceOffset = 1.5f;
    e.clipSourceDuration = 3.0f;
    e.clipFadeIn = 0.125f;
    e.clipFadeOut = 0.25f;
    e.clipWeight = 0.875f;
    e.folder = "Foley";
    e.libFilter = "wood";
    e.presetName = "Heavy";
    e.intensityMode = IntensityMode::ShapedNoFloor;
    FillCurve(e.weight, 1);
    FillCurve(e.intensity, 2);
    FillCurve(e.traceGain, 3);
    e.hasTraceGain = true;
    Event source;
    source.time = 12.0f;
    source.keywords = "hit";
    Event inner = source;
    inner.shape = EventShape::Scatter;
    source.bounceSource = {inner};
    e.bounceSource = {source, inner};
    return e;
}

Layer FullLayer(ProcMode procMode) {
    Layer l;
    l.name = "Door Slam 03";
    l.filepath = "/lib/door3.wav";
    l.fileId = "id-3";
    l.sourceOffset = 0.5f;
    l.sourceDuration = 1.25f;
    l.startTime = 10.0f;
    l.duration = 1.125f;
    l.weight = 0.625f;
    l.eventIdx = 3;
    l.track = 5;
    l.group = 2;
    l.groupTrack = 1;
    l.procMode = procMode;
    l.fadeIn = 0.125f;
    l.fadeOut = 0.25f;
    l.audioSyncOffset = 0.5f;
    l.stereo = l.muted = l.fillLoop = true;
    l.layerGain = 0.5f;
    l.userVolume = 1.5f;
    l.normGain = 2.0f;
    l.pitchShift = -3.0f;
    l.pitchVarShift = 0.5f;
    l.deconOffset = 0.25f;
    l.hasIntGain = l.hasFillGain = l.hasDeconGain = l.hasEqGains = true;
    FillCurve(l.intGain, 4);
    FillCurve(l.fillGain, 5);
    FillCurve(l.deconGain, 6);
    l.eqGains = {0.25f, 0.5f, 0.75f, 1.0f, 0.125f};
    if (procMode == ProcMode::Fill) l.fillChunks = {{1, 2, 3}, {4, 5, -6}};
    if (procMode == ProcMode::Alloy) {
        l.alloyMorph = 0.25f;
        l.alloyAlgo = 2;
        l.alloyMid = {"/lib/mid.wav", "id-mid", 0.5f, 1.0f, "Mid"};
        l.alloyHigh = {"/lib/high.wav", "", 0.25f, 2.0f, "High"};
        l.alloyEnv = {"/lib/env.wav", "id-env", 0.125f, 3.0f, "Env"};
    }
    return l;
}

TEST(Timeline, EmptyEventObjectReadsAsDefaultSpot) {
    Event e = ReadEvent("{}");
    EXPECT_EQ(e, Event{});
    EXPECT_EQ(e.shape, EventShape::Spot);
    EXPECT_FLOAT_EQ(e.duration, 1.0f);
    EXPECT_FLOAT_EQ(e.spread, 0.3f);
    EXPECT_FLOAT_EQ(e.weightCenter, 0.3f);
    EXPECT_FLOAT_EQ(e.gain, 1.0f);
    EXPECT_FLOAT_EQ(e.weight[200], 0.5f);
    EXPECT_EQ(e.groupOverride, -1);
    EXPECT_EQ(e.sceneLink, -1);
    EXPECT_EQ(e.sceneCrossfade, 1);
    EXPECT_FLOAT_EQ(e.reverbSend, -1.0f);
}

TEST(Timeline, EventReadClampsAndValidates) {
    Event e = ReadEvent(R"({"gain": 1.7, "fillLayers": 99, "sceneCrossfade": -5, "shape": 9,
        "pitchVariation": -0.5, "scaleTuneOverride": 7, "intensityMode": -1, "userShapeIdx": 2,
        "groupOverride": 7, "sceneFill": 2, "time": "3"})", false, 2);
    EXPECT_FLOAT_EQ(e.gain, 1.0f);
    EXPECT_EQ(e.fillLayers, 24);
    EXPECT_EQ(e.sceneCrossfade, 0);
    EXPECT_EQ(e.shape, EventShape::Bed);
    EXPECT_FLOAT_EQ(e.pitchVariation, 0.0f);
    EXPECT_EQ(e.scaleTuneOverride, 2);
    EXPECT_EQ(e.intensityMode, IntensityMode::FromFiles);
    EXPECT_EQ(e.userShapeIdx, -1);  // only two user shapes exist
    EXPECT_EQ(e.groupOverride, -1);
    EXPECT_TRUE(e.sceneFill);
    EXPECT_FLOAT_EQ(e.time, 0.0f);  // a string is not a time

    e = ReadEvent(R"({"shape": -3, "pitchVariation": 3, "fillLayers": -2, "sceneCrossfade": 500,
        "userShapeIdx": 1, "sceneFill": true, "gain": -1})", false, 2);
    EXPECT_EQ(e.shape, EventShape::Spot);
    EXPECT_FLOAT_EQ(e.pitchVariation, 1.0f);
    EXPECT_EQ(e.fillLayers, 0);
    EXPECT_EQ(e.sceneCrossfade, 120);
    EXPECT_EQ(e.userShapeIdx, 1);
    EXPECT_FALSE(e.sceneFill);  // read as a number only
    EXPECT_FLOAT_EQ(e.gain, 0.0f);

    // Fixed-size texts are cut, never inside a UTF-8 character.
    std::string longName = std::string(62, 'a') + "\xC3\xA9" + "tail";
    e = ReadEvent("{\"keywords\": \"" + std::string(300, 'k') + "\", \"folder\": \"" + longName + "\"}");
    EXPECT_EQ(e.keywords.size(), 255u);
    EXPECT_EQ(e.folder, std::string(62, 'a'));
}

TEST(Timeline, LegacyAndRenamedKeys) {
    Event e = ReadEvent(R"({"shape": 2})", true);
    EXPECT_EQ(e.shape, EventShape::Bloom);
    EXPECT_TRUE(e.alloy);
    e = ReadEvent(R"({"shape": 2, "alloy": false})", true);
    EXPECT_EQ(e.shape, EventShape::Bloom);
    EXPECT_FALSE(e.alloy);
    e = ReadEvent(R"({"shape": 2})", false);
    EXPECT_EQ(e.shape, EventShape::Contour);
    EXPECT_FALSE(e.alloy);

    e = ReadEvent(R"({"placeSourceOffset": 1.5, "placeFadeIn": 0.5, "clipFadeIn": 0.25,
        "placeFadeOut": "x", "placeSourceDuration": 2})");
    EXPECT_FLOAT_EQ(e.clipSourceOffset, 1.5f);
    EXPECT_FLOAT_EQ(e.clipSourceDuration, 2.0f);
    EXPECT_FLOAT_EQ(e.clipFadeIn, 0.25f);  // the new key wins
    EXPECT_FLOAT_EQ(e.clipFadeOut, -1.0f);
}

TEST(Timeline, CurvesAndBedListsReadTolerantly) {
    Event e = ReadEvent(R"({"weight": [0,0.1,0.2,0.3,0.4,0.6,0.7,0.8,0.9,1], "intensity": "loud",
        "traceGain": [0.1], "bedLayerWeight": [0.5, -0.2, 0.7, 1.5, "x", 0], "bedLayerLoop": [1, 0, 7]})");
    EXPECT_FLOAT_EQ(e.weight[0], 0.0f);
    EXPECT_FLOAT_EQ(e.weight[9], 1.0f);
    EXPECT_FLOAT_EQ(e.weight[10], 0.5f);
    EXPECT_FLOAT_EQ(e.weight[255], 0.5f);
    EXPECT_EQ(e.intensity, kNeutralCurve);
    EXPECT_EQ(e.traceGain, kNeutralCurve);  // read only with hasTraceGain
    EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{-1.0f, -1.0f, 0.7f, 1.0f, -1.0f, 0.0f}));
    EXPECT_EQ(e.bedLayerLoop, (std::vector<uint8_t>{1, 0, 1}));

    // Points past the array keep what they held; extra elements are ignored.
    Curve curve = FilledCurve<kCurvePoints>(0.9f);
    std::string many = "[\"x\"";
    for (int i = 1; i < 300; ++i) many += ",0.25";
    ReadCurveJson(JsonParse("[0.25, 0.75]"), curve, 0.5f);
    EXPECT_FLOAT_EQ(curve[1], 0.75f);
    EXPECT_FLOAT_EQ(curve[2], 0.9f);
    ReadCurveJson(JsonParse(many + "]"), curve, 0.5f);
    EXPECT_FLOAT_EQ(curve[0], 0.5f);
    EXPECT_FLOAT_EQ(curve[255], 0.25f);
    ReadCurveJson(JsonParse("[1e999]"), curve, 0.5f);
    EXPECT_FLOAT_EQ(curve[0], 0.5f);  // a number no float can hold is not a point
}

TEST(Timeline, CuttingNamesKeepsCharactersWholeAndNeverEmptiesBrokenText) {
    EXPECT_EQ(CutText("abc\xC3\xA9z", 4), "abc");      // never half of "é"
    EXPECT_EQ(CutText("ab\xE2\x82\xAC", 4), "ab");    // nor part of "€"
    EXPECT_EQ(CutText("short", 63), "short");
    // A run of stray continuation bytes is not a character to keep whole.
    std::string broken(100, '\xBB');
    EXPECT_EQ(CutText(broken, 63), broken.substr(0, 63));
}

TEST(Timeline, ChosenBedWeightNearHalfStaysChosenAfterReopening) {
    // 0.5 in a file means "not set"; a chosen weight that prints as 0.5 must not become that.
    Event bed;
    bed.shape = EventShape::Bed;
    bed.pinnedFiles = {"/lib/a.wav", "/lib/b.wav", "/lib/c.wav", "/lib/d.wav"};
    bed.bedLayerWeight = {0.5f, 0.4999999f, 0.7f, -1.0f};
    JsonWriter first;
    WriteEventJson(first, bed, {});
    Event again = ReadEvent(first.out);
    ASSERT_EQ(again.bedLayerWeight.size(), 4u);
    EXPECT_NEAR(again.bedLayerWeight[0], 0.5f, 1e-5f);
    EXPECT_NEAR(again.bedLayerWeight[1], 0.5f, 1e-5f);
    EXPECT_FLOAT_EQ(again.bedLayerWeight[2], 0.7f);
    EXPECT_FLOAT_EQ(again.bedLayerWeight[3], -1.0f);
    JsonWriter second;
    WriteEventJson(second, again, {});
    EXPECT_EQ(first.out, second.out);
}

TEST(Timeline, EventWritesOnlyMeaningfulKeys) {
    JsonWriter w;
    WriteEventJson(w, Event{}, {});
    EXPECT_EQ(Keys(JsonParse(w.out)),
              (std::vector<std::string>{"time", "duration", "spread", "weightCenter", "intensityScale",
                                        "weightOffset", "syncOffset", "shape", "intensityMode", "userShapeIdx",
                                        "locked", "hero", "stereo", "gain", "alloy", "alloyMorph",
                                        "groupOverride", "keywords", "weight", "intensity"}));

    // A Bed without pinned files writes none of its per-layer lists.
    Event bed;
    bed.shape = EventShape::Bed;
    bed.pinnedFileIds = {"id"};
    bed.bedLayerLoop = {1};
    bed.bedLayerWeight = {0.25f};
    bed.pinnedFile = "/lib/x.wav";  // without the has-pinned-file flag
    bed.clipWeight = 0.5f;          // not a Clip
    w = JsonWriter{};
    WriteEventJson(w, bed, {});
    JsonValue written = JsonParse(w.out);
    for (const char* key : {"pinnedFiles", "pinnedFileIds", "bedLayerLoop", "bedLayerWeight", "pinnedFile",
                            "clipWeight", "clipSourceOffset"})
        EXPECT_FALSE(JsonHas(written, key)) << key;

    // Curves stay on one line each.
    EXPECT_NE(w.out.find("\"weight\": [0.5,0.5,"), std::string::npos);
}

TEST(Timeline, RecordsRoundTripExactly) {
    Event event = FullEvent();
    Layer fill = FullLayer(ProcMode::Fill), alloy = FullLayer(ProcMode::Alloy);
    UserShape shape{"Thud", "low thud", 3.5f, 0.25f, 0.5f, 1.25f, 0.125f, -0.25f, {}, {}};
    FillCurve(shape.weight, 7);
    FillCurve(shape.intensity, 8);
    Scene scene{"Chase", 1.5f, 9.25f, "street night"};
    Group group{"Hits", 12, true, -18.5f};

    auto writeAll = [&](const Event& e, const Layer& a, const Layer& b, const UserShape& s, const Scene& sc,
                        const Group& g) {
        JsonWriter w;
        w.beginObject();
        w.beginArray("events");
        WriteEventJson(w, e, {});
        w.endArray();
        w.beginArray("results");
        WriteLayerJson(w, a, {});
        WriteLayerJson(w, b, {});
        w.endArray();
        w.beginObject("shape");
        WriteUserShapeMembers(w, s);
        w.endObject();
        w.beginObject("scene");
        WriteSceneMembers(w, sc);
        w.endObject();
        w.beginObject("group0");
        WriteGroupMembers(w, g);
        w.endObject();
        w.endObject();
        return w.out;
    };
    std::string first = writeAll(event, fill, alloy, shape, scene, group);
    JsonValue root = JsonParse(first);
    const JsonValue& e = JsonItem(JsonMember(root, "events"), 0);
    const JsonValue& results = JsonMember(root, "results");
    Event eventBack = ReadEventJson(e, "", false, 2);
    Layer fillBack = ReadLayerJson(JsonItem(results, 0), "");
    Layer alloyBack = ReadLayerJson(JsonItem(results, 1), "");
    UserShape shapeBack = ReadUserShapeJson(JsonMember(root, "shape"));
    Scene sceneBack = ReadSceneJson(JsonMember(root, "scene"));
    Group groupBack = ReadGroupJson(JsonMember(root, "group0"));
    EXPECT_EQ(eventBack, event);
    EXPECT_EQ(fillBack, fill);
    EXPECT_EQ(alloyBack, alloy);
    EXPECT_EQ(shapeBack, shape);
    EXPECT_EQ(sceneBack, scene);
    EXPECT_EQ(groupBack, group);
    EXPECT_EQ(writeAll(eventBack, fillBack, alloyBack, shapeBack, sceneBack, groupBack), first);

    EXPECT_EQ(Keys(e), (std::vector<std::string>{
                           "time", "duration", "spread", "weightCenter", "intensityScale", "weightOffset",
                           "syncOffset", "shape", "intensityMode", "userShapeIdx", "locked", "muted", "hero",
                           "stereo", "gain", "alloy", "alloyMorph", "pitchVariation", "scaleTuneOverride",
                           "fillLayers", "reverbSend", "groupOverride", "sceneLink", "sceneCrossfade",
                           "sceneFill", "keywords", "pinnedFile", "pinnedFileId", "pinnedFiles",
                           "pinnedFileIds", "bedLayerLoop", "bedLayerWeight", "clipWeight", "clipSourceOffset",
                           "clipSourceDuration", "clipFadeIn", "clipFadeOut", "folder", "libFilter",
                           "presetName", "weight", "intensity", "hasTraceGain", "traceGain", "bounceSource"}));
    EXPECT_EQ(Keys(JsonItem(results, 1)),
              (std::vector<std::string>{"name", "filepath", "fileId", "sourceOffset", "sourceDuration", "startTime",
                                        "duration", "weight", "eventIdx", "track", "group", "groupTrack",
                                        "procMode", "fadeIn", "fadeOut", "audioSyncOffset", "stereo", "muted",
                                        "fillLoop", "layerGain", "userVolume", "normGain", "pitchShift",
                                        "pitchVarShift", "deconOffset", "intGain", "fillGain", "deconGain",
                                        "eqGains", "alloyMorph", "alloyAlgo", "alloyMid", "alloyHigh",
                                        "alloyEnv"}));
    EXPECT_FALSE(JsonHas(JsonMember(JsonItem(results, 1), "alloyHigh"), "fileId"));
    EXPECT_TRUE(JsonHas(JsonItem(results, 0), "fillChunks"));
    EXPECT_EQ(Keys(JsonMember(root, "group0")),
              (std::vector<std::string>{"name", "trackCount", "stereo", "targetLUFS"}));
}

TEST(Timeline, LayerReadClampsAndOptionalCurves) {
    Layer l = ReadLayerJson(JsonParse(R"({"userVolume": 5, "normGain": 0, "procMode": 7, "group": 9,
        "alloyAlgo": -4, "fillGain": [3, -1, "x", 1.5], "eqGains": [0.01, 2], "intGain": "none",
        "fillChunks": [{"s": 1, "l": 2, "x": 3}, 4]})"),
                            "");
    EXPECT_FLOAT_EQ(l.userVolume, 2.0f);
    EXPECT_FLOAT_EQ(l.normGain, 0.001f);
    EXPECT_EQ(l.procMode, ProcMode::Alloy);
    EXPECT_EQ(l.group, 2);
    EXPECT_EQ(l.alloyAlgo, 0);
    EXPECT_TRUE(l.hasFillGain);
    EXPECT_FLOAT_EQ(l.fillGain[0], 2.8f);
    EXPECT_FLOAT_EQ(l.fillGain[1], 0.0f);
    EXPECT_FLOAT_EQ(l.fillGain[2], 1.0f);
    EXPECT_FLOAT_EQ(l.fillGain[3], 1.5f);
    EXPECT_FLOAT_EQ(l.eqGains[0], 0.1f);
    EXPECT_FLOAT_EQ(l.eqGains[1], 1.0f);
    EXPECT_FALSE(l.hasIntGain);
    EXPECT_FALSE(l.hasDeconGain);
    EXPECT_EQ(l.fillChunks, (std::vector<FillChunk>{{1, 2, 3}}));
    EXPECT_FLOAT_EQ(l.fadeIn, 0.01f);
    EXPECT_FLOAT_EQ(l.fadeOut, 0.05f);

    Group g = ReadGroupJson(JsonParse(R"({"trackCount": 0, "targetLUFS": -100, "name": "A very long group name indeed!!"})"));
    EXPECT_EQ(g.trackCount, 1);
    EXPECT_FLOAT_EQ(g.targetLUFS, -60.0f);
    EXPECT_EQ(g.name.size(), 31u);
    EXPECT_EQ(ReadGroupJson(JsonParse(R"({"trackCount": 99, "targetLUFS": 0})")).trackCount, 32);

    TimelineSettings s;
    ReadTimelineSettingsJson(JsonParse(R"({"fps": 25, "scaleRoot": 12, "alloyMicroPitch": 1, "reverseProb": -3})"), s);
    EXPECT_FLOAT_EQ(s.fps, 25.0f);
    EXPECT_EQ(s.scaleRoot, 11);
    EXPECT_FLOAT_EQ(s.alloyMicroPitch, 0.15f);
    EXPECT_EQ(s.reverseProb, 0);
    EXPECT_FLOAT_EQ(s.totalDuration, 30.0f);
}

TEST(Timeline, PathsAreMappedOnWriteAndResolvedOnRead) {
    test::TempDir project;
    std::filesystem::create_directories(project.path / "Audio");
    test::WriteFile(project.path / "Audio" / "a.wav", "RIFF");

    Event e;
    e.shape = EventShape::Bed;
    e.pinnedFiles = {"/lib/a.wav", "/lib/gone.wav"};
    e.pinnedFileIds = {"id-a", "id-gone"};
    PathMap map{{"/lib/a.wav", "Audio/a.wav"}, {"/lib/gone.wav", "Audio/gone.wav"}};
    JsonWriter w;
    WriteEventJson(w, e, map);
    EXPECT_EQ(w.out.find("/lib/"), std::string::npos);

    Event back = ReadEventJson(JsonParse(w.out), project.path.string(), false, 0);
    ASSERT_EQ(back.pinnedFiles.size(), 2u);
    EXPECT_EQ(back.pinnedFiles[0], (project.path / "Audio" / "a.wav").string());
    EXPECT_EQ(back.pinnedFiles[1], "Audio/gone.wav");  // missing: kept as read

    // Empty entries are dropped, and ids beyond the kept files are ignored.
    back = ReadEvent(R"({"pinnedFile": "Audio/a.wav", "pinnedFiles": ["", "/x.wav", ""],
        "pinnedFileIds": ["i1", "i2", "i3"]})", false, 0, project.path.string());
    EXPECT_TRUE(back.hasPinnedFile);
    EXPECT_EQ(back.pinnedFile, (project.path / "Audio" / "a.wav").string());
    EXPECT_EQ(back.pinnedFiles, (std::vector<std::string>{"/x.wav"}));
    EXPECT_EQ(back.pinnedFileIds, (std::vector<std::string>{"i1"}));
    EXPECT_FALSE(ReadEvent(R"({"pinnedFile": ""})").hasPinnedFile);
}

TEST(Timeline, DeeplyBouncedClipsDoNotExhaustTheStack) {
    std::string text;
    const int levels = 20000;
    for (int i = 0; i < levels; ++i) text += "{\"shape\": 5, \"bounceSource\": [";
    Event e = ReadEvent(text);
    int depth = 0;
    for (const Event* level = &e; !level->bounceSource.empty(); level = &level->bounceSource[0]) ++depth;
    EXPECT_GT(depth, 0);
    EXPECT_LE(depth, kMaxBounceDepth);
    JsonWriter w;
    WriteEventJson(w, e, {});
    EXPECT_TRUE(JsonParse(w.out).IsObject());
}

TEST(Timeline, EventLabels) {
    std::vector<UserShape> shapes(1);
    shapes[0].name = "Whoosh Up";
    Event e;
    e.keywords = "+door -metal slam";
    EXPECT_STREQ(EventLabel(e, shapes), "Slam");
    e.keywords = "glass, wood,metal stone";
    EXPECT_STREQ(EventLabel(e, shapes), "Glass Wood Metal");
    e.keywords = "";
    e.shape = EventShape::Fill;
    EXPECT_STREQ(EventLabel(e, shapes), "Fill");
    e.userShapeIdx = 0;
    EXPECT_STREQ(EventLabel(e, shapes), "Whoosh Up");
    e.userShapeIdx = 4;  // not a user shape
    EXPECT_STREQ(EventLabel(e, shapes), "Fill");
    e.keywords = std::string(40, 'a') + " " + std::string(40, 'b');
    EXPECT_EQ(std::string(EventLabel(e, shapes)), "A" + std::string(39, 'a') + " B" + std::string(20, 'b'));

    // Four labels can be held at once.
    Event a, b, c, d;
    a.keywords = "one";
    b.keywords = "two";
    c.keywords = "three";
    d.keywords = "four";
    const char* labels[4] = {EventLabel(a, shapes), EventLabel(b, shapes), EventLabel(c, shapes),
                             EventLabel(d, shapes)};
    EXPECT_STREQ(labels[0], "One");
    EXPECT_STREQ(labels[1], "Two");
    EXPECT_STREQ(labels[2], "Three");
    EXPECT_STREQ(labels[3], "Four");
}

}  // namespace
}  // namespace morvane
