// Pro Tools session text exports: timing from samples or timecode, scenes, sections, recipes.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "library/hostile_paths.h"
#include "edit/timeline_edit.h"
#include "trace/markers.h"

namespace morvane {
namespace {

const char* kHeader8 =
    "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME                             \tTRACK NAME\t"
    "TRACK TYPE\tCOMMENTS\n";

std::string Session(const std::string& rows, const std::string& before = "SAMPLE RATE:\t48000.000000\n") {
    return before + "\nM A R K E R S  L I S T I N G\n" + kHeader8 + rows;
}

TEST(Markers, TimesComeFromSamplesElseFromTheTimecode) {
    std::vector<TraceEvent> events;
    ImportSessionMarkersText(Session("1\t01:00:00:00\t172800000\tSamples\tDoor slam\tMarkers\tRuler\t\n"), 25.0f,
                             events, nullptr, {});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FLOAT_EQ(events[0].time, 3600.0f);
    EXPECT_EQ(events[0].name, "Door slam");
    EXPECT_TRUE(events[0].imported);

    ImportSessionMarkersText(Session("1\t01:00:00:00\t\tSamples\tA\n2\t01:00:00:12\t\tSamples\tB\n"), 25.0f, events,
                             nullptr, {});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FLOAT_EQ(events[0].time, 3600.0f);
    EXPECT_NEAR(events[1].time, 3600.48f, 1e-3f);

    // The session's own rates win over the caller's; drop-frame rates count as they read.
    ImportSessionMarkersText(
        Session("1\t00:00:01;15\t\tSamples\tPunch\n2\t00:00:02:00\t88200\tSamples\tWhoosh\n",
                "SAMPLE RATE:\t44100.000000\nTIMECODE FORMAT:\t29.97 Drop Frame\n"),
        25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NEAR(events[0].time, 1.0f + 15 / 29.97f, 1e-4f);
    EXPECT_FLOAT_EQ(events[1].time, 2.0f);

    // Without a format line the caller's rate counts frames; without either, 25.
    ImportSessionMarkersText(Session("1\t00:00:00:12\t\tSamples\tA\n", ""), 24.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FLOAT_EQ(events[0].time, 0.5f);
    ImportSessionMarkersText(Session("1\t00:00:00:10\t\tSamples\tA\n", ""), 0.0f, events, nullptr, {});
    EXPECT_FLOAT_EQ(events[0].time, 0.4f);

    // Untimed rows land at 0; rows without a name or with too few fields are skipped.
    ImportSessionMarkersText(Session("1\tsoon\tlater\tSamples\tUntimed\n2\t00:00:05:00\t240000\tSamples\t\tnote\n"
                                     "3\t00:00:06:00\t288000\n4\t00:00:07:00\t-48000\tSamples\tBefore zero\n"),
                             25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].time, 0.0f);
    EXPECT_EQ(events[1].time, 0.0f);
    EXPECT_EQ(events[0].name, "Untimed");
}

TEST(Markers, BarsAndBeatsReferencesFallBackToTheLocationFromTheSessionStart) {
    std::vector<TraceEvent> events;
    // A music session: references in bars|beats, locations in timecode from 01:00:00:00.
    const std::string start = "SAMPLE RATE:\t48000.000000\nSESSION START TIMECODE:\t01:00:00:00\nTIMECODE FORMAT:\t25 Frame\n";
    ImportSessionMarkersText(Session("1\t01:00:02:00\t58|4\tBars|Beats\tDoor\n"
                                     "2\t01:00:03:12\t3|3\tBars|Beats\tGlass\n"
                                     "3\t01:00:10:00\t58|4| 735\tBars|Beats\tCar\n"
                                     "4\t01:00:00:00\t240000\tSamples\tSampled\n",
                                     start),
                             25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 4u);
    EXPECT_FLOAT_EQ(events[0].time, 2.0f);
    EXPECT_EQ(events[0].name, "Door");
    EXPECT_NEAR(events[1].time, 3.48f, 1e-4f);
    EXPECT_FLOAT_EQ(events[2].time, 5.0f);  // a sample count wins over LOCATION
    EXPECT_EQ(events[2].name, "Sampled");
    EXPECT_FLOAT_EQ(events[3].time, 10.0f);

    // A marker before the session's start has no place on the timeline: it lands at 0.
    ImportSessionMarkersText(Session("1\t00:59:58:00\t\tSamples\tEarly\n", start), 25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].time, 0.0f);
}

TEST(Markers, NamesFromOlderExportsBecomeUtf8) {
    std::vector<TraceEvent> events;
    std::vector<Scene> scenes;
    // Mac Roman: "Door…" (0xC9), "Hit — big" (0xD1), "Bob’s car" (0xD5), "Café" (0x8E).
    ImportSessionMarkersText(Session("1\t00:00:01:00\t48000\tSamples\tDoor\xC9\n"
                                     "2\t00:00:02:00\t96000\tSamples\tHit \xD1 big\n"
                                     "3\t00:00:03:00\t144000\tSamples\tBob\xD5s car\tM\tR\tCaf\x8E\n"
                                     "4\t00:00:04:00\t192000\tSamples\tscene, Caf\x8E\n"),
                             25.0f, events, &scenes, {});
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "Door\xE2\x80\xA6");
    EXPECT_EQ(events[1].name, "Hit \xE2\x80\x94 big");
    EXPECT_EQ(events[2].name, "Bob\xE2\x80\x99s car");
    EXPECT_EQ(events[2].keywords, "Bob\xE2\x80\x99s car Caf\xC3\xA9");
    ASSERT_EQ(scenes.size(), 1u);
    EXPECT_EQ(scenes[0].name, "Caf\xC3\xA9");

    // Windows Latin-1: accented lower-case letters inside words.
    ImportSessionMarkersText(Session("1\t00:00:01:00\t48000\tSamples\tCaf\xE9 cr\xE8me\n"
                                     "2\t00:00:02:00\t96000\tSamples\tM\xFCller\x92s door\n"),
                             25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "Caf\xC3\xA9 cr\xC3\xA8me");
    EXPECT_EQ(events[1].name, "M\xC3\xBCller\xE2\x80\x99s door");

    // UTF-8 stays as it is.
    ImportSessionMarkersText(Session("1\t00:00:01:00\t48000\tSamples\tCaf\xC3\xA9 \xE2\x80\x94 door\n"), 25.0f,
                             events, nullptr, {});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "Caf\xC3\xA9 \xE2\x80\x94 door");
}

// An import as the window and the command line make it: planned, then one edit.
MarkerImportPlan ImportInto(Project& project, const std::string& path, const std::vector<TraceEvent>& events,
                            const std::vector<Scene>& scenes) {
    MarkerImportPlan plan = PlanMarkerImport(project.timeline, MarkerSourceName(path), events, scenes);
    const MarkerImportPlan copy = plan;
    EditState edits;
    ReplaceEventsAndAddScenes({project, edits}, plan.remove, std::move(plan.events), std::move(plan.scenes),
                              plan.totalDuration);
    return copy;
}

TEST(Markers, ASecondImportReplacesTheFirstAndTheDurationHoldsEveryMarker) {
    Project project;
    TimelineState& timeline = project.timeline;
    timeline.settings.totalDuration = 30.0f;
    Event own;
    own.time = 5.0f;
    timeline.events.push_back(own);

    std::vector<TraceEvent> events;
    std::vector<Scene> scenes;
    const std::string text = Session("1\t00:00:01:00\t48000\tSamples\tDoor\n"
                                     "2\t00:01:20:00\t3840000\tSamples\tGlass\n"
                                     "3\t00:00:10:00\t480000\tSamples\tscene, Hall\n");
    ImportSessionMarkersText(text, 25.0f, events, &scenes, {});
    ImportInto(project, "/films/reel 1.txt", events, scenes);
    ASSERT_EQ(timeline.events.size(), 3u);
    EXPECT_EQ(timeline.events[1].markerSource, "reel 1.txt");
    EXPECT_EQ(timeline.events[0].markerSource, "");
    EXPECT_EQ(timeline.scenes.size(), 1u);
    // The marker at 80 s with its 3 s stretch fits in the project.
    EXPECT_GE(timeline.settings.totalDuration, 83.0f);

    // The same file again (from another folder): nothing doubles, the user's own event stays.
    ImportSessionMarkersText(text, 25.0f, events, &scenes, {});
    EXPECT_EQ(ImportInto(project, "/elsewhere/reel 1.txt", events, scenes).replaced, 2);
    EXPECT_EQ(timeline.events.size(), 3u);
    EXPECT_EQ(timeline.scenes.size(), 1u);
    EXPECT_FLOAT_EQ(timeline.events[0].time, 5.0f);

    // Another file adds its own set beside the first; a shorter session keeps the duration.
    ImportSessionMarkersText(Session("1\t00:00:02:00\t96000\tSamples\tStep\n"), 25.0f, events, &scenes, {});
    const float before = timeline.settings.totalDuration;
    ImportInto(project, "reel 2.txt", events, scenes);
    EXPECT_EQ(timeline.events.size(), 4u);
    EXPECT_EQ(timeline.settings.totalDuration, before);
}

TEST(Markers, AFileWithoutAMarkersSectionSaysSo) {
    std::vector<TraceEvent> events;
    EXPECT_FALSE(ImportSessionMarkersText("SESSION NAME:\tReel 1\nSAMPLE RATE:\t48000\n\nT R A C K  L I S T I N G\n", 25.0f,
                                          events, nullptr, {})
                     .markersSection);
    EXPECT_TRUE(events.empty());
    // A markers section with no rows is a session without markers, but a session text.
    EXPECT_TRUE(ImportSessionMarkersText(Session(""), 25.0f, events, nullptr, {}).markersSection);
    EXPECT_TRUE(events.empty());
}

TEST(Markers, ScenesComeFromSceneNamesAndRunToTheNextScene) {
    std::vector<TraceEvent> events;
    std::vector<Scene> scenes;
    const std::string text = Session(
        "1\t00:00:00:00\t0\tSamples\tscene, Kitchen, night\tMarkers\tRuler\tfridge hum\n"
        "2\t00:00:03:00\t144000\tSamples\tDoor slam\tMarkers\tRuler\tbig wooden\n"
        "3\t00:00:10:00\t480000\tSamples\tScene , Street,day, rain\tMarkers\tRuler\t\n"
        "4\t00:00:14:00\t672000\tSamples\tCar pass\tMarkers\tRuler\t\n");
    ImportSessionMarkersText(text, 25.0f, events, &scenes, {});
    ASSERT_EQ(scenes.size(), 2u);
    EXPECT_EQ(scenes[0].name, "Kitchen");
    EXPECT_EQ(scenes[0].keywords, "night fridge hum");
    EXPECT_FLOAT_EQ(scenes[0].inTime, 0.0f);
    EXPECT_FLOAT_EQ(scenes[0].outTime, 10.0f);
    EXPECT_EQ(scenes[1].name, "Street");
    EXPECT_EQ(scenes[1].keywords, "day, rain");
    EXPECT_FLOAT_EQ(scenes[1].outTime, 14.0f);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keywords, "Door slam big wooden");
    EXPECT_EQ(events[1].keywords, "Car pass");

    // Without a scene list, scene markers are events like the others.
    ImportSessionMarkersText(text, 25.0f, events, nullptr, {});
    EXPECT_EQ(events.size(), 4u);
}

TEST(Markers, OnlyTheMarkerSectionIsRead) {
    std::vector<TraceEvent> events;
    const std::string text =
        "SAMPLE RATE:\t48000\n"
        "1\t00:00:01:00\t48000\tSamples\tBefore any header\n"
        "O N L I N E  F I L E S  I N  S E S S I O N\n"
        "M A R K E R S  L I S T I N G\n"
        "1\t00:00:01:00\t48000\tSamples\tBefore the column header\n" +
        std::string(kHeader8) +
        "1\t00:00:02:00\t96000\tSamples\tKept\n"
        "\n"
        "T R A C K  L I S T I N G\n" + kHeader8 +
        "2\t00:00:03:00\t144000\tSamples\tAfter the tracks header\n";
    ImportSessionMarkersText(text, 25.0f, events, nullptr, {});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "Kept");
}

TEST(Markers, NamesAreCutAndRecipesSetTheSuggestions) {
    const std::vector<MarkerRecipe> recipes = {
        {"Door", "door", 0, 1.0f, 0.0f, 0.3f, 0.3f, 1.0f},
        {"door slam", "door slam wood", 1, 1.5f, 0.2f, 0.4f, 0.6f, 0.7f},
        {"Glass", "glass", 4, 2.0f, 0.0f, 0.3f, 0.5f, 0.9f},
    };
    std::vector<TraceEvent> events;
    std::string longName;
    for (int i = 0; i < 70; ++i) longName += "\xC3\xA9";  // 140 bytes of two-byte characters
    ImportSessionMarkersText(Session("1\t00:00:01:00\t48000\tSamples\tDoor Slam heavy\n"
                                     "2\t00:00:02:00\t96000\tSamples\tDoorway creak\n"
                                     "3\t00:00:03:00\t144000\tSamples\t" + longName + "\tM\tR\tc\n"),
                             25.0f, events, nullptr, recipes);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].presetName, "door slam");  // the longest recipe named wins
    EXPECT_EQ(events[0].suggestedShape, 1);
    EXPECT_FLOAT_EQ(events[0].suggestedDuration, 1.5f);
    EXPECT_FLOAT_EQ(events[0].suggestedGain, 0.7f);
    // "Doorway" does not name "Door": no recipe, automatic suggestions.
    EXPECT_EQ(events[1].presetName, "");
    EXPECT_FLOAT_EQ(events[1].suggestedDuration, 3.0f);
    EXPECT_FLOAT_EQ(events[1].suggestedWeightCenter, 0.3f);
    EXPECT_EQ(events[1].suggestedGain, -1.0f);
    EXPECT_EQ(events[1].suggestedSyncOffset, -1.0f);
    EXPECT_EQ(events[1].suggestedSpread, -1.0f);
    EXPECT_EQ(events[2].name.size(), 126u);  // cut on a whole character
    EXPECT_EQ(events[2].keywords.size(), 126u);

    // As timeline events, automatic values keep the event's own defaults.
    const Event fromRecipe = EventFromTraceEvent(events[0]);
    EXPECT_EQ(fromRecipe.shape, EventShape::Bloom);
    EXPECT_FLOAT_EQ(fromRecipe.duration, 1.5f);
    EXPECT_FLOAT_EQ(fromRecipe.gain, 0.7f);
    EXPECT_EQ(fromRecipe.presetName, "door slam");
    EXPECT_EQ(fromRecipe.keywords, "Door Slam heavy");
    const Event automatic = EventFromTraceEvent(events[1]);
    EXPECT_FLOAT_EQ(automatic.time, 2.0f);
    EXPECT_FLOAT_EQ(automatic.gain, 1.0f);
    EXPECT_FLOAT_EQ(automatic.spread, 0.3f);
    EXPECT_FLOAT_EQ(automatic.syncOffset, 0.0f);
    EXPECT_FLOAT_EQ(automatic.duration, 3.0f);
}

TEST(Markers, AFileThatCannotBeReadImportsNothing) {
    test::TempDir dir;
    std::vector<TraceEvent> events(3);
    std::vector<Scene> scenes(2);
    ImportSessionMarkers(dir / "missing.txt", 25.0f, events, &scenes, {});
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(scenes.empty());
    ImportSessionMarkers(dir.path.string(), 25.0f, events, &scenes, {});  // a folder
    EXPECT_TRUE(events.empty());
    {
        // A named pipe would keep the import waiting for a writer; a device never ends.
        test::HangGuard guard;
        for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".txt")) {
            events.resize(1);
            ImportSessionMarkers(hostile.path, 25.0f, events, &scenes, {});
            EXPECT_TRUE(events.empty()) << hostile.path;
        }
    }

    test::WriteFile(dir.path / "session.txt",
                    Session("1\t00:00:01:00\t48000\tSamples\tscene, Hall\n2\t00:00:02:00\t96000\tSamples\tHit\n"));
    ImportSessionMarkers(dir / "session.txt", 25.0f, events, &scenes, {});
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(scenes.size(), 1u);
}

}  // namespace
}  // namespace morvane
