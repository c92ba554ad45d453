#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "edit/event_edit.h"
#include "edit/scene_edit.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/project_file.h"
#include "model/undo.h"

namespace morvane {
namespace {

// A project of its own for each test, with its selection and clipboard.
struct Desk {
    Project project;
    EditState state;
    EditContext At(float playhead) { return {project, state, playhead}; }
    EditContext Edit() { return At(0.0f); }
    std::string Json() const { return FormatProjectDocument(project, "/tmp"); }
};

Event MakeEvent(float time, float duration, const std::string& keywords = {}) {
    Event e;
    e.time = time;
    e.duration = duration;
    e.keywords = keywords;
    return e;
}

// A built layer of event index, placed at the event's start.
Layer MakeLayer(int eventIdx, float start) {
    Layer layer;
    layer.name = "layer " + std::to_string(eventIdx);
    layer.eventIdx = eventIdx;
    layer.startTime = start;
    layer.duration = 1.0f;
    return layer;
}

TEST(TimelineEdit, PasteLandsAtThePlayheadWithItsSpacingAndAsItsOwnGroup) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(2.0f, 1.0f, "door"), MakeEvent(3.5f, 2.0f, "slam"), MakeEvent(8.0f, 1.0f)};
    SelectAll(desk.Edit());
    desk.state.selected[2] = 0;
    EXPECT_FALSE(GroupSelected(desk.Edit()).message.empty());
    EXPECT_EQ(CopySelected(desk.Edit()).message, "Copied 2 events");
    const std::string beforePaste = desk.Json();

    EXPECT_TRUE(PasteAtPlayhead(desk.At(10.0f)).changed);
    const auto& events = desk.project.timeline.events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_FLOAT_EQ(events[3].time, 10.0f);
    EXPECT_FLOAT_EQ(events[4].time, 11.5f);
    EXPECT_EQ(events[3].keywords, "door");
    EXPECT_EQ(SelectedIndices(desk.Edit()), (std::vector<int>{3, 4}));
    // The copies are a linked folder of their own: pressing one takes both, not the originals.
    EXPECT_EQ(events[3].folder, "Group 2");
    EXPECT_EQ(events[4].folder, "Group 2");
    PressEvent(desk.Edit(), 0, false, false);
    EXPECT_EQ(SelectedIndices(desk.Edit()), (std::vector<int>{0, 1}));

    // A paste before time 0 cannot happen; one undo takes the whole paste back.
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), beforePaste);
    EXPECT_TRUE(PasteAtPlayhead(desk.At(-4.0f)).changed);
    EXPECT_FLOAT_EQ(desk.project.timeline.events[3].time, 0.0f);
}

TEST(TimelineEdit, AGroupMovesTogetherAsOneUndoStepAndKeepsItsShapeAtTheStart) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(1.0f, 1.0f), MakeEvent(4.0f, 1.0f), MakeEvent(9.0f, 1.0f)};
    SelectEvents(desk.Edit(), {0, 1}, false);
    GroupSelected(desk.Edit());
    ClearSelection(desk.Edit());
    const std::string beforeDrag = desk.Json();
    const size_t undoSteps = desk.project.history.undo.size();

    // A press on one member selects the group; a drag of many frames moves it.
    PressEvent(desk.Edit(), 1, false, false);
    EXPECT_EQ(SelectedCount(desk.Edit()), 2);
    BeginTimelineGesture(desk.Edit());
    for (int frame = 0; frame < 20; ++frame) EXPECT_TRUE(MoveSelected(desk.Edit(), 0.1f).changed);
    const auto& events = desk.project.timeline.events;
    EXPECT_NEAR(events[0].time, 3.0f, 1e-4f);
    EXPECT_NEAR(events[1].time, 6.0f, 1e-4f);
    EXPECT_FLOAT_EQ(events[2].time, 9.0f);
    EXPECT_EQ(desk.project.history.undo.size(), undoSteps + 1);

    // Dragged far left, the earliest stops at 0 and the other keeps its distance.
    BeginTimelineGesture(desk.Edit());
    MoveSelected(desk.Edit(), -100.0f);
    EXPECT_FLOAT_EQ(events[0].time, 0.0f);
    EXPECT_NEAR(events[1].time, 3.0f, 1e-4f);

    ASSERT_TRUE(Undo(desk.project));
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), beforeDrag);
}

TEST(TimelineEdit, LockedAndSceneLinkedEventsStayPut) {
    Desk desk;
    Event locked = MakeEvent(1.0f, 1.0f);
    locked.locked = true;
    Event linked = MakeEvent(2.0f, 3.0f);
    desk.project.timeline.scenes.push_back({"Scene 1", 2.0f, 5.0f, ""});
    LinkEventToScene(linked, desk.project.timeline.scenes, 0);
    Event clip = MakeEvent(6.0f, 2.0f);
    clip.shape = EventShape::Clip;  // a Clip counts as locked whatever its flag
    desk.project.timeline.events = {locked, linked, clip, MakeEvent(10.0f, 1.0f)};
    desk.project.timeline.results = {MakeLayer(0, 1.0f), MakeLayer(1, 2.0f), MakeLayer(3, 10.0f)};

    SelectAll(desk.Edit());
    BeginTimelineGesture(desk.Edit());
    MoveSelected(desk.Edit(), 2.0f);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(ResizeEvent(desk.Edit(), i, 9.0f).changed) << "event " << i;
    const auto& events = desk.project.timeline.events;
    EXPECT_FLOAT_EQ(events[0].time, 1.0f);
    EXPECT_FLOAT_EQ(events[1].time, 2.0f);
    EXPECT_FLOAT_EQ(events[1].duration, 3.0f);
    EXPECT_FLOAT_EQ(events[2].time, 6.0f);
    EXPECT_FLOAT_EQ(events[3].time, 12.0f);
    EXPECT_FLOAT_EQ(desk.project.timeline.results[0].startTime, 1.0f);
    EXPECT_FLOAT_EQ(desk.project.timeline.results[1].startTime, 2.0f);

    // Delete takes the free events and leaves the locked ones selected; with only
    // locked ones selected it says why nothing went.
    EXPECT_TRUE(DeleteSelected(desk.Edit()).changed);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].locked);
    EXPECT_EQ(events[1].shape, EventShape::Clip);
    EXPECT_EQ(SelectedCount(desk.Edit()), 2);
    const EditResult refused = DeleteSelected(desk.Edit());
    EXPECT_FALSE(refused.changed);
    EXPECT_EQ(refused.message, "Locked events are not deleted");
    // The layers of the deleted events went; the locked event's layer kept its index.
    ASSERT_EQ(desk.project.timeline.results.size(), 1u);
    EXPECT_EQ(desk.project.timeline.results[0].eventIdx, 0);
}

TEST(TimelineEdit, MovingAnEventCarriesItsBuiltLayersAndDeleteRenumbersThem) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(1.0f, 1.0f), MakeEvent(5.0f, 1.0f), MakeEvent(9.0f, 1.0f)};
    desk.project.timeline.results = {MakeLayer(0, 1.0f), MakeLayer(1, 5.0f), MakeLayer(1, 5.5f), MakeLayer(2, 9.0f)};
    desk.project.timeline.built = true;

    PressEvent(desk.Edit(), 1, false, false);
    BeginTimelineGesture(desk.Edit());
    const EditResult moved = MoveSelected(desk.Edit(), 2.5f);
    EXPECT_TRUE(moved.layersMoved);
    const auto& layers = desk.project.timeline.results;
    EXPECT_FLOAT_EQ(layers[0].startTime, 1.0f);
    EXPECT_FLOAT_EQ(layers[1].startTime, 7.5f);
    EXPECT_FLOAT_EQ(layers[2].startTime, 8.0f);
    EXPECT_FLOAT_EQ(layers[3].startTime, 9.0f);

    // Deleting the first event: its layer goes, the others follow their event's index.
    PressEvent(desk.Edit(), 0, false, false);
    DeleteSelected(desk.Edit());
    ASSERT_EQ(layers.size(), 3u);
    EXPECT_EQ(layers[0].eventIdx, 0);
    EXPECT_FLOAT_EQ(layers[0].startTime, 7.5f);
    EXPECT_EQ(layers[2].eventIdx, 1);

    // A muted event's sound must stop at once: the mute says so.
    PressEvent(desk.Edit(), 0, false, false);
    const EditResult muted = ToggleMuteSelected(desk.Edit());
    EXPECT_TRUE(muted.layersMoved);
    EXPECT_TRUE(desk.project.timeline.events[0].muted);
}

TEST(TimelineEdit, EveryEditIsOneUndoStepThatRestoresTheProjectExactly) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(1.0f, 1.0f, "door"), MakeEvent(3.0f, 2.0f, "glass"), MakeEvent(7.0f, 1.0f)};
    desk.project.timeline.results = {MakeLayer(0, 1.0f), MakeLayer(2, 7.0f)};
    desk.project.timeline.built = true;
    SelectEvents(desk.Edit(), {0, 1}, false);
    CopySelected(desk.Edit());
    EventEditGesture gesture;
    const std::vector<std::pair<const char*, std::function<EditResult()>>> edits = {
        {"create", [&] { return CreateEventAtPlayhead(desk.At(12.0f), EventShape::Bloom); }},
        {"place clips", [&] { return PlaceClipsAtPlayhead(desk.At(2.0f), {{"/sounds/a.wav", 1.5f}, {"/sounds/b.wav", 0}}); }},
        {"delete", [&] { return DeleteSelected(desk.Edit()); }},
        {"cut", [&] { return CutSelected(desk.Edit()); }},
        {"paste", [&] { return PasteAtPlayhead(desk.At(20.0f)); }},
        {"group", [&] { return GroupSelected(desk.Edit()); }},
        {"ungroup", [&] { return UngroupSelected(desk.Edit()); }},
        {"lock", [&] { return ToggleLockSelected(desk.Edit()); }},
        {"mute", [&] { return ToggleMuteSelected(desk.Edit()); }},
        {"save scene", [&] { return SaveSceneFromSelection(desk.Edit()); }},
        {"inspector", [&] {
             Event edited = desk.project.timeline.events[0];
             edited.keywords = "wood creak";
             EndEventEditGesture(gesture);
             return ApplyEventEdit(desk.Edit(), 0, edited, gesture);
         }},
        {"markers", [&] { return AddEventsAndScenes(desk.Edit(), {MakeEvent(4.0f, 1.0f)}, {{"Reel", 0.0f, 9.0f, ""}}); }},
    };
    for (const auto& [name, edit] : edits) {
        SelectEvents(desk.Edit(), {0, 1}, false);
        const std::string before = desk.Json();
        ASSERT_TRUE(edit().changed) << name;
        const std::string after = desk.Json();
        EXPECT_NE(after, before) << name;
        ASSERT_TRUE(Undo(desk.project)) << name;
        EXPECT_EQ(desk.Json(), before) << name << " was not undone exactly";
        ASSERT_TRUE(Redo(desk.project)) << name;
        EXPECT_EQ(desk.Json(), after) << name << " was not redone exactly";
        SyncSelection(desk.Edit());
    }
    // Undoing an ungroup gives back a folder that still selects as a unit.
    SelectEvents(desk.Edit(), {0, 1}, false);
    GroupSelected(desk.Edit());
    UngroupSelected(desk.Edit());
    ASSERT_TRUE(Undo(desk.project));
    PressEvent(desk.Edit(), 0, false, false);
    EXPECT_EQ(SelectedIndices(desk.Edit()), (std::vector<int>{0, 1}));
}

TEST(TimelineEdit, KeepsTheNewestFiftyUndoStepsAndDropsTheOldestFirst) {
    Desk desk;
    for (int i = 0; i < 51; ++i) CreateEventAtPlayhead(desk.At(static_cast<float>(i)), EventShape::Spot);
    EXPECT_EQ(desk.project.history.undo.size(), 50u);
    int undone = 0;
    while (Undo(desk.project)) ++undone;
    EXPECT_EQ(undone, 50);
    // The first creation's step was the one dropped: its event stays.
    ASSERT_EQ(desk.project.timeline.events.size(), 1u);
    EXPECT_FLOAT_EQ(desk.project.timeline.events[0].time, 0.0f);
    // A selection left over from the longer list follows the shorter one.
    EXPECT_EQ(SelectedCount(desk.Edit()), 0);
    EXPECT_EQ(desk.state.selected.size(), 1u);
}

TEST(TimelineEdit, NewEventsAndClipsLandAtThePlayheadSelected) {
    Desk desk;
    desk.project.timeline.settings.maxEventDuration = 5.0f;
    CreateEventAtPlayhead(desk.At(4.0f), EventShape::Fill);  // 8 s by default, capped at 5
    CreateEventAtPlayhead(desk.At(-3.0f), EventShape::Spot);
    const auto& events = desk.project.timeline.events;
    EXPECT_FLOAT_EQ(events[0].time, 4.0f);
    EXPECT_FLOAT_EQ(events[0].duration, 5.0f);
    EXPECT_FLOAT_EQ(events[1].time, 0.0f);
    EXPECT_EQ(SelectedIndices(desk.Edit()), (std::vector<int>{1}));

    const EditResult placed = PlaceClipsAtPlayhead(desk.At(10.0f), {{"/sounds/Door Slam.wav", 1.5f}, {"/sounds/rain.flac", 60.0f}, {"/gone.wav", 0.0f}});
    EXPECT_EQ(placed.message, "Placed 3 clips");
    ASSERT_EQ(events.size(), 5u);
    EXPECT_FLOAT_EQ(events[2].time, 10.0f);
    EXPECT_FLOAT_EQ(events[3].time, 11.5f);
    EXPECT_FLOAT_EQ(events[3].duration, 5.0f);  // the longest event the project allows
    EXPECT_FLOAT_EQ(events[4].time, 16.5f);
    EXPECT_FLOAT_EQ(events[4].duration, 2.0f);  // unknown length: the default
    EXPECT_EQ(events[2].keywords, "Door Slam");
    EXPECT_EQ(events[2].pinnedFile, "/sounds/Door Slam.wav");
    EXPECT_EQ(SelectedIndices(desk.Edit()), (std::vector<int>{2, 3, 4}));
}

TEST(SceneEdit, SavesOverTheSelectionOrTheWorkAreaAndRefusesWithoutAnUndoStep) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(5.0f, 2.0f, "door slam"), MakeEvent(10.0f, 3.0f, "Slam, wood")};
    const EditResult refused = SaveSceneFromSelection(desk.Edit());
    EXPECT_EQ(refused.message, "Select events or set a work area to save a scene");
    EXPECT_TRUE(desk.project.history.undo.empty());

    SelectAll(desk.Edit());
    EXPECT_EQ(SaveSceneFromSelection(desk.Edit()).message, "Scene saved: Scene 1");
    ClearSelection(desk.Edit());
    SetWorkAreaIn(desk.At(20.0f));
    SetWorkAreaOut(desk.At(25.0f));
    EXPECT_EQ(SaveSceneFromSelection(desk.Edit()).message, "Scene saved: Scene 2");
    const auto& scenes = desk.project.timeline.scenes;
    ASSERT_EQ(scenes.size(), 2u);
    EXPECT_FLOAT_EQ(scenes[0].inTime, 5.0f);
    EXPECT_FLOAT_EQ(scenes[0].outTime, 13.0f);
    EXPECT_EQ(scenes[0].keywords, "door slam wood");
    EXPECT_FLOAT_EQ(scenes[1].inTime, 20.0f);
    EXPECT_FLOAT_EQ(scenes[1].outTime, 25.0f);

    // An out point at or before the in point clears the in point.
    SetWorkAreaOut(desk.At(15.0f));
    SetWorkAreaIn(desk.At(18.0f));
    EXPECT_FLOAT_EQ(desk.project.workAreaIn, 18.0f);
    EXPECT_FLOAT_EQ(desk.project.workAreaOut, -1.0f);
}

TEST(EventEdit, OneInspectorGestureIsOneUndoStepAndAnUnchangedEditRecordsNothing) {
    Desk desk;
    desk.project.timeline.events = {MakeEvent(1.0f, 1.0f)};
    desk.project.timeline.scenes.push_back({"Scene 1", 4.0f, 4.01f, ""});
    EventEditGesture gesture;
    Event edited = desk.project.timeline.events[0];
    EXPECT_FALSE(ApplyEventEdit(desk.Edit(), 0, edited, gesture).changed);
    EXPECT_TRUE(desk.project.history.undo.empty());
    for (int step = 1; step <= 10; ++step) {
        edited.spread = 0.05f * static_cast<float>(step);
        EXPECT_TRUE(ApplyEventEdit(desk.Edit(), 0, edited, gesture).changed);
    }
    EXPECT_EQ(desk.project.history.undo.size(), 1u);
    EXPECT_TRUE(desk.project.modified);
    EndEventEditGesture(gesture);
    // Linking to a scene takes its timing, never shorter than the shortest event.
    LinkEventToScene(edited, desk.project.timeline.scenes, 0);
    ApplyEventEdit(desk.Edit(), 0, edited, gesture);
    EXPECT_EQ(desk.project.history.undo.size(), 2u);
    EXPECT_FLOAT_EQ(desk.project.timeline.events[0].time, 4.0f);
    EXPECT_FLOAT_EQ(desk.project.timeline.events[0].duration, kMinEventDuration);
    LinkEventToScene(edited, desk.project.timeline.scenes, 7);
    EXPECT_EQ(edited.sceneLink, -1);
    ASSERT_TRUE(Undo(desk.project));
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_FLOAT_EQ(desk.project.timeline.events[0].spread, 0.3f);
}

}  // namespace
}  // namespace morvane
