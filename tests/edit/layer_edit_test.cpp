// Liking, banning and stepping through the sounds of an event's layers, as the Events
// tab does it: each is one undo step that restores the project exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "edit/layer_edit.h"
#include "engine/event_build.h"
#include "engine/selection.h"
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

Layer Sound(int eventIdx, const std::string& file, const std::string& id = {}) {
    Layer layer;
    layer.name = file;
    layer.filepath = "/lib/" + file + ".wav";
    layer.fileId = id;
    layer.eventIdx = eventIdx;
    layer.startTime = 1.0f;
    layer.duration = 1.0f;
    return layer;
}

Desk TwoEvents() {
    Desk desk;
    Event spot;
    spot.time = 1.0f;
    Event clip;
    clip.shape = EventShape::Clip;
    clip.time = 5.0f;
    desk.project.timeline.events = {spot, spot, clip};
    desk.project.timeline.events[1].time = 3.0f;
    desk.project.timeline.results = {Sound(0, "door", "id-door"), Sound(0, "wood"), Sound(1, "door", "id-door"),
                                     Sound(1, "metal"), Sound(2, "take")};
    desk.project.timeline.built = true;
    return desk;
}

TEST(LayerEdit, LikeAndUnpinKeepTheListsInStepAndUndoExactly) {
    Desk desk = TwoEvents();
    const std::string start = desk.Json();
    Event& spot = desk.project.timeline.events[0];

    EXPECT_TRUE(ToggleLayerPin(desk.Edit(), 1).changed);  // "wood" has no identity
    EXPECT_TRUE(ToggleLayerPin(desk.Edit(), 0).changed);
    EXPECT_EQ(spot.pinnedFiles, (std::vector<std::string>{"/lib/wood.wav", "/lib/door.wav"}));
    EXPECT_EQ(spot.pinnedFileIds, (std::vector<std::string>{"", "id-door"}));
    EXPECT_TRUE(LayerIsPinned(spot, desk.project.timeline.results[0]));
    EXPECT_TRUE(desk.project.modified);
    // "Unpin this sound" takes that one file and its identity out, nothing else.
    EXPECT_TRUE(ToggleLayerPin(desk.Edit(), 1).changed);
    EXPECT_EQ(spot.pinnedFiles, (std::vector<std::string>{"/lib/door.wav"}));
    EXPECT_EQ(spot.pinnedFileIds, (std::vector<std::string>{"id-door"}));
    // A Clip plays its own file: nothing to like, and no undo step either.
    const size_t steps = desk.project.history.undo.size();
    EXPECT_FALSE(ToggleLayerPin(desk.Edit(), 4).changed);
    EXPECT_FALSE(UnpinAll(desk.Edit(), 2).changed);
    EXPECT_EQ(desk.project.history.undo.size(), steps);

    EXPECT_TRUE(UnpinAll(desk.Edit(), 0).changed);
    EXPECT_TRUE(spot.pinnedFiles.empty());
    EXPECT_TRUE(spot.pinnedFileIds.empty());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), start);
}

TEST(LayerEdit, BanCoversEveryEventThatPlaysTheFileAndUndoes) {
    Desk desk = TwoEvents();
    desk.project.timeline.events[1].pinnedFiles = {"/moved/door.wav"};
    desk.project.timeline.events[1].pinnedFileIds = {"id-door"};
    const std::string start = desk.Json();
    std::vector<int> affected;
    const EditResult r = BanLayerFile(desk.Edit(), 0, &affected);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.message, "Banned door from this project");
    const TimelineState& tl = desk.project.timeline;
    EXPECT_EQ(tl.bannedFiles, (std::vector<std::string>{"/lib/door.wav"}));
    EXPECT_EQ(tl.bannedFileIds, (std::vector<std::string>{"id-door"}));
    // Both events play it; the second no longer keeps it pinned (found by identity).
    EXPECT_EQ(affected, (std::vector<int>{0, 1}));
    EXPECT_TRUE(tl.events[1].pinnedFiles.empty());
    EXPECT_TRUE(tl.events[1].pinnedFileIds.empty());
    // Banning it again adds nothing twice.
    BanLayerFile(desk.Edit(), 2, &affected);
    EXPECT_EQ(tl.bannedFiles.size(), 1u);
    ASSERT_TRUE(Undo(desk.project));
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), start);
    EXPECT_FALSE(BanLayerFile(desk.Edit(), 99, &affected).changed);
}

TEST(LayerEdit, StepsThroughTheHistoryAsUndoableEdits) {
    Desk desk = TwoEvents();
    Layer& layer = desk.project.timeline.results[1];
    // "wood" replaced an earlier "stone".
    Layer fresh = layer;
    layer = Sound(0, "stone");
    HistoryRecord(fresh, layer);
    layer = fresh;
    const std::string start = desk.Json();

    EXPECT_FALSE(StepLayerHistory(desk.Edit(), 1, true).changed);  // nothing ahead yet
    EXPECT_TRUE(StepLayerHistory(desk.Edit(), 1, false).changed);
    EXPECT_EQ(desk.project.timeline.results[1].filepath, "/lib/stone.wav");
    EXPECT_FALSE(StepLayerHistory(desk.Edit(), 1, false).changed);  // the oldest sound
    EXPECT_TRUE(StepLayerHistory(desk.Edit(), 1, true).changed);
    EXPECT_EQ(desk.project.timeline.results[1].filepath, "/lib/wood.wav");
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.project.timeline.results[1].filepath, "/lib/stone.wav");
    ASSERT_TRUE(Undo(desk.project));
    EXPECT_EQ(desk.Json(), start);
    EXPECT_TRUE(HistoryCanGoBack(desk.project.timeline.results[1]));
}

}  // namespace
}  // namespace morvane
