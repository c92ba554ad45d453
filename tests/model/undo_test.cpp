#include <gtest/gtest.h>

#include <future>

#include "model/undo.h"

namespace morvane {
namespace {

// One edit: a new event whose time is its number.
void AddEvent(Project& project, float time) {
    PushUndo(project);
    Event e;
    e.time = time;
    project.timeline.events.push_back(e);
}

TEST(Undo, KeepsFiftySnapshotsAndRedoesUntilTheNextEdit) {
    Project project;
    for (int i = 1; i <= 51; ++i) AddEvent(project, static_cast<float>(i));
    EXPECT_TRUE(project.modified);
    EXPECT_EQ(project.history.undo.size(), 50u);

    // The 51st push dropped the empty timeline: undo stops at one event.
    int undone = 0;
    while (Undo(project)) ++undone;
    EXPECT_EQ(undone, 50);
    ASSERT_EQ(project.timeline.events.size(), 1u);
    EXPECT_FLOAT_EQ(project.timeline.events[0].time, 1.0f);

    EXPECT_TRUE(Redo(project));
    EXPECT_TRUE(Redo(project));
    EXPECT_EQ(project.timeline.events.size(), 3u);
    EXPECT_TRUE(Undo(project));
    EXPECT_EQ(project.timeline.events.size(), 2u);
    EXPECT_TRUE(CanRedo(project));

    // A new edit after an undo empties the redo stack.
    AddEvent(project, 99.0f);
    EXPECT_FALSE(CanRedo(project));
    EXPECT_FALSE(Redo(project));
    EXPECT_EQ(project.timeline.events.size(), 3u);
    EXPECT_FLOAT_EQ(project.timeline.events.back().time, 99.0f);
}

TEST(Undo, RestoresTheTimelineButNotTheSettings) {
    Project project;
    TimelineState& t = project.timeline;
    PushUndo(project);
    t.events.resize(2);
    t.results.resize(3);
    t.userShapes.resize(1);
    t.bannedFiles = {"/lib/bad.wav"};
    t.bannedFileIds = {"id-bad"};
    t.scenes.resize(1);
    t.built = true;
    t.settings.fps = 25.0f;
    t.trackLayout.budgetMode = true;
    project.masterGain = 0.5f;

    ASSERT_TRUE(Undo(project));
    EXPECT_TRUE(t.events.empty());
    EXPECT_TRUE(t.results.empty());
    EXPECT_TRUE(t.userShapes.empty());
    EXPECT_TRUE(t.bannedFiles.empty());
    EXPECT_TRUE(t.bannedFileIds.empty());
    EXPECT_TRUE(t.scenes.empty());
    EXPECT_FALSE(t.built);
    EXPECT_FLOAT_EQ(t.settings.fps, 25.0f);
    EXPECT_TRUE(t.trackLayout.budgetMode);
    EXPECT_FLOAT_EQ(project.masterGain, 0.5f);

    ASSERT_TRUE(Redo(project));
    EXPECT_EQ(t.events.size(), 2u);
    EXPECT_EQ(t.results.size(), 3u);
    EXPECT_EQ(t.bannedFileIds.size(), 1u);
    EXPECT_TRUE(t.built);
}

TEST(Undo, MarksTheRenderCacheWhileHoldingTheTimelineLock) {
    Project project;
    int calls = 0;
    bool lockedDuringCall = false;
    size_t eventsSeen = 99;
    SetTimelineReplacedHook([&] {
        ++calls;
        eventsSeen = project.timeline.events.size();
        // Another thread (the render side) cannot take the lock meanwhile.
        lockedDuringCall = !std::async(std::launch::async, [] {
                                if (!timelineMutex.try_lock()) return false;
                                timelineMutex.unlock();
                                return true;
                            }).get();
    });
    AddEvent(project, 1.0f);
    EXPECT_EQ(calls, 0);  // edits themselves do not replace the list
    Undo(project);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(lockedDuringCall);
    EXPECT_EQ(eventsSeen, 0u);  // the new list is in place when the cache is marked
    Redo(project);
    EXPECT_EQ(calls, 2);
    SetTimelineReplacedHook(nullptr);
    Undo(project);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace morvane
