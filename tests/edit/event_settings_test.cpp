// The inspector's settings of an event, the project's settings, scenes edited from
// their list and recipes applied to the selection, as the Events tab makes them: each
// event edit is one undo step that gives back the project's saved form exactly.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "edit/event_edit.h"
#include "edit/project_settings.h"
#include "edit/recipe_edit.h"
#include "edit/scene_edit.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/project_file.h"
#include "model/undo.h"

namespace morvane {
namespace {

struct Desk {
    Project project;
    EditState state;
    EditContext Edit() { return {project, state, 0.0f}; }
    std::string Json() const { return FormatProjectDocument(project, "/tmp"); }
};

Event At(float time, EventShape shape = EventShape::Bloom) {
    Event e;
    e.time = time;
    e.duration = 2.0f;
    e.shape = shape;
    e.keywords = "wind";
    return e;
}

// One inspector gesture: the edit made on a copy of the event, handed to the core.
bool Gesture(Desk& desk, int index, const std::function<void(Event&)>& change) {
    Event edited = desk.project.timeline.events[static_cast<size_t>(index)];
    change(edited);
    EventEditGesture gesture;
    return ApplyEventEdit(desk.Edit(), index, edited, gesture).changed;
}

TEST(EventSettings, EveryInspectorFieldIsSavedAndUndoneExactly) {
    Desk desk;
    desk.project.timeline.events = {At(1.0f), At(4.0f, EventShape::Clip), At(8.0f, EventShape::Fill)};
    desk.project.timeline.scenes.push_back({"Night", 8.0f, 12.0f, "crickets"});
    desk.project.timeline.events[2].sceneLink = 0;
    const std::string start = desk.Json();

    struct Case {
        int event;
        std::function<void(Event&)> change;
        const char* saved;  // what the project file holds afterwards
    };
    const std::vector<Case> cases = {
        {0, [](Event& e) { e.syncOffset = 0.25f; }, "\"syncOffset\": 0.25"},
        {0, [](Event& e) { e.weightOffset = -0.1f; }, "\"weightOffset\": -0.1"},
        {0, [](Event& e) { e.intensityMode = IntensityMode::ShapedNoFloor; }, "\"intensityMode\": 2"},
        {0, [](Event& e) { e.groupOverride = 2; }, "\"groupOverride\": 2"},
        {0, [](Event& e) { e.reverbSend = 0.4f; }, "\"reverbSend\": 0.4"},
        {0, [](Event& e) { e.fillLayers = 6; }, "\"fillLayers\": 6"},
        {0, [](Event& e) { e.libFilter = "Foley Palette"; }, "\"libFilter\": \"Foley Palette\""},
        {0, [](Event& e) { e.pitchVariation = 0.5f; }, "\"pitchVariation\": 0.5"},
        {0, [](Event& e) { ToggleScaleTune(e); }, "\"scaleTuneOverride\": 2"},
        {1, [](Event& e) { e.clipSourceOffset = 1.5f; }, "\"clipSourceOffset\": 1.5"},
        {1, [](Event& e) { e.clipSourceDuration = 3.0f; }, "\"clipSourceDuration\": 3"},
        {1, [](Event& e) { e.clipFadeIn = 0.2f; }, "\"clipFadeIn\": 0.2"},
        {1, [](Event& e) { e.clipFadeOut = 0.3f; }, "\"clipFadeOut\": 0.3"},
        {1, [](Event& e) { e.clipWeight = 0.7f; }, "\"clipWeight\": 0.7"},
        {2, [](Event& e) { e.sceneCrossfade = 12; }, "\"sceneCrossfade\": 12"},
    };
    for (const Case& c : cases) {
        const std::string before = desk.Json();
        EXPECT_TRUE(Gesture(desk, c.event, c.change)) << c.saved;
        const std::string after = desk.Json();
        EXPECT_NE(after.find(c.saved), std::string::npos) << c.saved;
        ASSERT_TRUE(Undo(desk.project));
        EXPECT_EQ(desk.Json(), before) << "undo of " << c.saved;
        ASSERT_TRUE(Redo(desk.project));
        EXPECT_EQ(desk.Json(), after) << "redo of " << c.saved;
    }
    EXPECT_EQ(desk.project.history.undo.size(), cases.size());
    while (Undo(desk.project)) {}
    EXPECT_EQ(desk.Json(), start);

    // The tuning toggle goes between following the project and "Force Off".
    Event e;
    EXPECT_STREQ(ScaleTuneName(e), "Follow Project");
    e.scaleTuneOverride = 1;
    EXPECT_STREQ(ScaleTuneName(e), "Follow Project");
    ToggleScaleTune(e);
    EXPECT_EQ(e.scaleTuneOverride, 2);
    EXPECT_STREQ(ScaleTuneName(e), "Force Off");
    ToggleScaleTune(e);
    EXPECT_EQ(e.scaleTuneOverride, 0);
}

TEST(EventSettings, BedFilesKeepTheirLoopAndWeightBesideThem) {
    Desk desk;
    desk.project.timeline.events = {At(0.0f, EventShape::Bed)};
    // A Bed from an older file: two files, no loop flags or weights.
    desk.project.timeline.events[0].pinnedFiles = {"/lib/rain.wav", "/lib/wind.wav"};
    const std::string start = desk.Json();

    EXPECT_TRUE(Gesture(desk, 0, [](Event& e) {
        EXPECT_TRUE(AddBedFile(e, "/lib/hum.wav", "id-hum"));
        EXPECT_FALSE(AddBedFile(e, "/lib/rain.wav", "")) << "a file the Bed holds is not added twice";
        EXPECT_FALSE(AddBedFile(e, "", ""));
    }));
    const Event& bed = desk.project.timeline.events[0];
    EXPECT_EQ(bed.pinnedFiles, (std::vector<std::string>{"/lib/rain.wav", "/lib/wind.wav", "/lib/hum.wav"}));
    EXPECT_EQ(bed.pinnedFileIds, (std::vector<std::string>{"", "", "id-hum"}));
    // The older files keep what the build read for them (no loop); the new one loops.
    EXPECT_EQ(bed.bedLayerLoop, (std::vector<uint8_t>{0, 0, 1}));
    EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{-1.0f, -1.0f, -1.0f}));

    EXPECT_TRUE(Gesture(desk, 0, [](Event& e) {
        e.bedLayerLoop[1] = 1;
        e.bedLayerWeight[1] = 0.8f;
        RemoveBedFile(e, 0);
        RemoveBedFile(e, 9);
    }));
    EXPECT_EQ(bed.pinnedFiles, (std::vector<std::string>{"/lib/wind.wav", "/lib/hum.wav"}));
    EXPECT_EQ(bed.bedLayerLoop, (std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(bed.bedLayerWeight, (std::vector<float>{0.8f, -1.0f}));
    EXPECT_EQ(bed.pinnedFileIds, (std::vector<std::string>{"", "id-hum"}));
    const std::string edited = desk.Json();
    EXPECT_NE(edited.find("\"bedLayerWeight\": [0.8,-1]"), std::string::npos) << edited;

    // Saved and opened again, the Bed is the same.
    Project opened;
    ASSERT_TRUE(LoadProjectFromText(edited, "/tmp", opened).ok);
    EXPECT_EQ(opened.timeline.events[0].pinnedFiles, bed.pinnedFiles);
    EXPECT_EQ(opened.timeline.events[0].bedLayerLoop, bed.bedLayerLoop);
    EXPECT_EQ(opened.timeline.events[0].bedLayerWeight, bed.bedLayerWeight);

    ASSERT_TRUE(Undo(desk.project));
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), start);
}

TEST(ProjectSettings, ChangesSayWhatTheSoundNeedsAndStayInTheirLimits) {
    Project project;
    project.timeline.built = true;
    ProjectSettingsForm form = ProjectSettingsOf(project);
    EXPECT_FALSE(ApplyProjectSettings(project, form, 0.0f).changed);
    EXPECT_FALSE(project.modified) << "an unchanged form is no change";

    // A new scale retunes what is built; nothing of it goes on the undo stack.
    form.timeline.scaleType = 6;
    form.timeline.scaleRoot = 9;
    SettingsChange change = ApplyProjectSettings(project, form, 0.0f);
    EXPECT_TRUE(change.changed && change.rerender && !change.nextRender);
    EXPECT_TRUE(project.modified);
    EXPECT_EQ(project.timeline.settings.scaleType, 6);
    EXPECT_EQ(project.timeline.settings.scaleRoot, 9);
    EXPECT_TRUE(project.history.undo.empty());

    // Track counts and the budget are heard from the next Render.
    form = ProjectSettingsOf(project);
    form.tracks.budgetMode = true;
    form.tracks.groups[1].trackCount = 99;
    change = ApplyProjectSettings(project, form, 0.0f);
    EXPECT_TRUE(change.nextRender && !change.rerender);
    EXPECT_EQ(change.message, "Heard from the next Render.");
    EXPECT_EQ(project.timeline.trackLayout.groups[1].trackCount, 32);

    // A loaded video holds the frame rate; a bad sample rate is refused, the rest kept.
    form = ProjectSettingsOf(project);
    form.timeline.fps = 30.0f;
    form.timeline.totalDuration = 90.0f;
    form.sampleRate = 47000;
    change = ApplyProjectSettings(project, form, 25.0f);
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(change.message,
              "Sample rate 47000 Hz is not one of 44100, 48000, 88200 or 96000 Hz; the project keeps 48000 Hz.");
    EXPECT_EQ(project.timeline.settings.fps, 25.0f);
    EXPECT_EQ(project.timeline.settings.totalDuration, 90.0f);
    EXPECT_EQ(project.projectSampleRate, 48000);
    form = ProjectSettingsOf(project);
    form.sampleRate = 96000;
    form.timeline.pitchShiftProb = 250;
    form.timeline.fps = -3.0f;
    ApplyProjectSettings(project, form, 0.0f);
    EXPECT_EQ(project.projectSampleRate, 96000);
    EXPECT_GE(project.timeline.settings.fps, 1.0f);
    EXPECT_LE(project.timeline.settings.pitchShiftProb, 100);
}

TEST(ProjectSettings, TypedTimecodesReadAtTheFrameRate) {
    float s = -1.0f;
    EXPECT_TRUE(ParseTimecode("01:00:10:12", 24.0f, &s));
    EXPECT_FLOAT_EQ(s, 3610.5f);
    EXPECT_TRUE(ParseTimecode(" 00:00:02;15 ", 30.0f, &s));
    EXPECT_FLOAT_EQ(s, 2.5f);
    EXPECT_TRUE(ParseTimecode("1:30:00", 25.0f, &s));  // minutes, seconds, frames
    EXPECT_FLOAT_EQ(s, 90.0f);
    EXPECT_TRUE(ParseTimecode("12", 25.0f, &s));  // seconds alone
    EXPECT_FLOAT_EQ(s, 12.0f);
    for (const char* bad : {"", "ab", "00:00:00:24", "00:61:00:00", "1::2", "1:2:3:4:5", "00:00:10:", "-5"})
        EXPECT_FALSE(ParseTimecode(bad, 24.0f, &s)) << bad;
    EXPECT_FALSE(ParseTimecode("00:00:01:00", 0.0f, &s));

    // "Go to" reads the project's own timecode, which starts at its start timecode.
    TimelineSettings settings;
    settings.fps = 25.0f;
    settings.startTC = 3600.0f;
    EXPECT_TRUE(TimelineTimeFromTimecode("01:00:10:05", settings, &s));
    EXPECT_NEAR(s, 10.2f, 1e-3f);
    EXPECT_TRUE(TimelineTimeFromTimecode("00:59:00:00", settings, &s));
    EXPECT_FLOAT_EQ(s, 0.0f) << "a time before the project's start goes to its start";
    EXPECT_FALSE(TimelineTimeFromTimecode("soon", settings, &s));
}

TEST(TimelineEdit, ArrowNudgesAreOneUndoStepEachAndStopAtTheStart) {
    Desk desk;
    auto& t = desk.project.timeline;
    t.events = {At(0.08f), At(3.0f), At(6.0f)};
    t.events[2].locked = true;
    t.results.resize(1);
    t.results[0].eventIdx = 1;
    t.results[0].startTime = 3.0f;
    const std::string start = desk.Json();
    EXPECT_FALSE(NudgeSelected(desk.Edit(), 1.0f).changed) << "nothing selected";
    SelectEvents(desk.Edit(), {0, 1}, false);
    const float frame = 1.0f / 25.0f;
    EXPECT_TRUE(NudgeSelected(desk.Edit(), -frame).changed);
    EXPECT_TRUE(NudgeSelected(desk.Edit(), -frame).changed);
    EXPECT_NEAR(t.events[0].time, 0.0f, 1e-6f);
    EXPECT_NEAR(t.events[1].time, 2.92f, 1e-5f);
    EXPECT_NEAR(t.results[0].startTime, 2.92f, 1e-5f) << "the built sound moves with its event";
    EXPECT_FALSE(NudgeSelected(desk.Edit(), -frame).changed) << "already at the start: no step";
    EXPECT_EQ(desk.project.history.undo.size(), 2u);
    const EditResult second = NudgeSelected(desk.Edit(), 1.0f);
    EXPECT_TRUE(second.changed && second.layersMoved);
    EXPECT_NEAR(t.events[1].time, 3.92f, 1e-5f);
    ClearSelection(desk.Edit());
    SelectEvent(desk.Edit(), 2, false);
    EXPECT_EQ(NudgeSelected(desk.Edit(), 1.0f).message, "Locked events are not moved");
    EXPECT_FLOAT_EQ(t.events[2].time, 6.0f);
    while (Undo(desk.project)) {}
    EXPECT_EQ(desk.Json(), start);
}

TEST(TimelineEdit, TheLoopGoesBackOnlyFromInsideAWholeWorkArea) {
    Project project;
    float restart = -1.0f;
    EXPECT_FALSE(WorkAreaLoopRestart(project, 1.0f, 9.0f, &restart)) << "no work area";
    project.workAreaIn = 2.0f;
    EXPECT_FALSE(WorkAreaLoopRestart(project, 3.0f, 9.0f, &restart)) << "no out point";
    project.workAreaOut = 5.0f;
    EXPECT_TRUE(WorkAreaLoopRestart(project, 4.99f, 5.0f, &restart));
    EXPECT_FLOAT_EQ(restart, 2.0f);
    EXPECT_TRUE(WorkAreaLoopRestart(project, 2.0f, 7.5f, &restart)) << "a long frame past the end still loops";
    EXPECT_FALSE(WorkAreaLoopRestart(project, 4.0f, 4.9f, &restart)) << "not at the end yet";
    EXPECT_FALSE(WorkAreaLoopRestart(project, 1.0f, 6.0f, &restart)) << "started before the work area: plays on";
    EXPECT_FALSE(WorkAreaLoopRestart(project, 5.5f, 6.0f, &restart)) << "started after it: plays on";
}

TEST(SceneEdit, RenameMoveBackgroundAndDeleteAreUndoneExactly) {
    Desk desk;
    auto& t = desk.project.timeline;
    t.scenes = {{"Street", 2.0f, 6.0f, "traffic rain"}, {"Room", 10.0f, 14.0f, "hum"}};
    t.events = {At(0.0f), At(2.0f)};
    LinkEventToScene(t.events[1], t.scenes, 0);
    Event later = At(10.0f);
    LinkEventToScene(later, t.scenes, 1);
    t.events.push_back(later);
    t.results.resize(1);
    t.results[0].eventIdx = 2;
    const std::string start = desk.Json();

    EXPECT_TRUE(RenameScene(desk.Edit(), 0, "Street at night").changed);
    EXPECT_EQ(RenameScene(desk.Edit(), 0, "").message, "A scene needs a name");
    EXPECT_EQ(t.scenes[0].name, "Street at night");

    // A background spans the scene and searches for its words; asking for a Bed turns
    // the Fill into one rather than adding a second background.
    EXPECT_TRUE(SetSceneBackground(desk.Edit(), 0, EventShape::Fill).changed);
    const int background = SceneBackground(desk.project, 0);
    ASSERT_EQ(background, 3);
    EXPECT_TRUE(t.events[3].sceneFill);
    EXPECT_EQ(t.events[3].keywords, "traffic rain");
    EXPECT_FLOAT_EQ(t.events[3].time, 2.0f);
    EXPECT_FLOAT_EQ(t.events[3].duration, 4.0f);
    EXPECT_EQ(PrimarySelection(desk.Edit()), 3);
    EXPECT_FALSE(SetSceneBackground(desk.Edit(), 0, EventShape::Fill).changed);
    EXPECT_TRUE(SetSceneBackground(desk.Edit(), 0, EventShape::Bed).changed);
    EXPECT_EQ(t.events.size(), 4u);
    EXPECT_EQ(t.events[3].shape, EventShape::Bed);
    EXPECT_FALSE(SetSceneBackground(desk.Edit(), 0, EventShape::Spot).changed);

    // Moving the scene carries every event that follows it.
    std::vector<int> affected;
    EXPECT_TRUE(SetSceneTimes(desk.Edit(), 0, 3.0f, 8.0f, &affected).changed);
    EXPECT_EQ(affected, (std::vector<int>{1, 3}));
    EXPECT_FLOAT_EQ(t.events[1].time, 3.0f);
    EXPECT_FLOAT_EQ(t.events[3].duration, 5.0f);
    EXPECT_FLOAT_EQ(t.events[0].time, 0.0f);
    EXPECT_TRUE(SetSceneTimes(desk.Edit(), 0, -4.0f, -9.0f, &affected).changed);
    EXPECT_FLOAT_EQ(t.scenes[0].inTime, 0.0f);
    EXPECT_GT(t.scenes[0].outTime, 0.0f);

    // Deleting it takes its background; its other event stays, free; the later
    // scene's event keeps its link and its layer.
    EXPECT_TRUE(DeleteScene(desk.Edit(), 0).changed);
    ASSERT_EQ(t.events.size(), 3u);
    EXPECT_EQ(t.events[1].sceneLink, -1);
    EXPECT_EQ(t.events[2].sceneLink, 0);
    EXPECT_EQ(t.scenes.size(), 1u);
    EXPECT_EQ(t.results[0].eventIdx, 2);

    while (Undo(desk.project)) {}
    EXPECT_EQ(desk.Json(), start);
}

TEST(RecipeEdit, ARecipeAppliedToTheSelectionCarriesItsSettingsAsOneStep) {
    Desk desk;
    auto& t = desk.project.timeline;
    t.scenes = {{"Hall", 20.0f, 23.0f, ""}};
    t.events = {At(1.0f), At(5.0f), At(9.0f), At(20.0f)};
    t.events[2].locked = true;
    LinkEventToScene(t.events[3], t.scenes, 0);
    const std::string start = desk.Json();
    EventPreset recipe;
    recipe.name = "Heavy door";
    recipe.keywords = "door slam heavy";
    recipe.shape = EventShape::Spot;
    recipe.duration = 0.8f;
    recipe.spread = 0.6f;
    recipe.reverbSend = 0.3f;
    recipe.libFilter = "Doors";
    recipe.fillLayers = 3;

    std::vector<int> rebuild;
    EXPECT_FALSE(ApplyRecipeToSelected(desk.Edit(), recipe, &rebuild).changed);
    SelectEvents(desk.Edit(), {1, 2, 3}, false);
    const EditResult r = ApplyRecipeToSelected(desk.Edit(), recipe, &rebuild);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.message, "Recipe 'Heavy door' applied to 3 events");
    EXPECT_EQ(rebuild, (std::vector<int>{1, 3})) << "the locked event keeps its sounds until it is unlocked";
    EXPECT_EQ(desk.project.history.undo.size(), 1u);
    for (int i : {1, 2, 3}) {
        const Event& e = t.events[static_cast<size_t>(i)];
        EXPECT_EQ(e.keywords, "door slam heavy");
        EXPECT_EQ(e.libFilter, "Doors");
        EXPECT_EQ(e.presetName, "Heavy door");
        EXPECT_FLOAT_EQ(e.reverbSend, 0.3f);
    }
    EXPECT_FLOAT_EQ(t.events[1].time, 5.0f) << "an event keeps its place";
    EXPECT_FLOAT_EQ(t.events[1].duration, 0.8f);
    EXPECT_FLOAT_EQ(t.events[3].duration, 3.0f) << "an event that follows a scene keeps its timing";
    EXPECT_EQ(t.events[0].keywords, "wind");
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), start);
}

}  // namespace
}  // namespace morvane
