#pragma once
// The edits of the timeline's events as the user makes them: create, place, move,
// resize, delete, cut, copy, paste, group, lock, mute, and the work area. Each records
// one undo step for one gesture (PushUndo, which also marks the project modified); a
// drag records its step once, at BeginTimelineGesture. Locked events (Clip and Bed
// always) and events that follow a scene keep their timing.
//
// Interface thread (see edit_state.h).
#include <string>
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// The end of the timeline shown: the project's duration or the end of its last event.
float TimelineEnd(const Project& project);

// A new event of this shape at the playhead, selected alone.
EditResult CreateEventAtPlayhead(const EditContext& edit, EventShape shape);

// A sound file to place as a Clip, with its length in seconds when it could be read
// (0 or less: not known, the Clip keeps its default length and plays as missing).
struct ClipSource {
    std::string path;
    float duration = 0.0f;
};
// One Clip per sound, one after the other from the playhead, as one undo step; they
// become the selection.
EditResult PlaceClipsAtPlayhead(const EditContext& edit, const std::vector<ClipSource>& sounds);

// Records the undo step of a drag that is starting; the moves and resizes of the drag
// that follow join it.
void BeginTimelineGesture(const EditContext& edit);
// Moves the selected events by delta seconds (no event starts before 0), their built
// layers with them: the sounds chosen for an event stay with it.
EditResult MoveSelected(const EditContext& edit, float deltaSeconds);
// The arrow keys' nudge: MoveSelected by delta seconds as one undo step of its own.
// Nothing is recorded when nothing can move (or it is already at the start).
EditResult NudgeSelected(const EditContext& edit, float deltaSeconds);
// Sets an event's duration (at least kMinEventDuration, at most the project's longest
// event).
EditResult ResizeEvent(const EditContext& edit, int index, float newDuration);

// Removes the events flagged in `removed` (one flag per event) without an undo step of
// its own: the built layers of the removed events go, the others follow their event to
// its new index, and so does the selection.
void RemoveEvents(const EditContext& edit, const std::vector<char>& removed);

// Nothing changes when nothing is selected or everything selected is locked.
EditResult DeleteSelected(const EditContext& edit);
EditResult CopySelected(const EditContext& edit);
EditResult CutSelected(const EditContext& edit);
// The clipboard's events at the playhead, keeping their spacing; they become the
// selection. Copies of a linked folder form a linked folder of their own.
EditResult PasteAtPlayhead(const EditContext& edit);

// Puts the selected events into one new linked folder ("Group N").
EditResult GroupSelected(const EditContext& edit);
// Takes the selected events out of their folders.
EditResult UngroupSelected(const EditContext& edit);
// Locks the selection when any selected event is unlocked, else unlocks it.
EditResult ToggleLockSelected(const EditContext& edit);
// Mutes the selection when any selected event is audible, else unmutes it.
EditResult ToggleMuteSelected(const EditContext& edit);

// The work area's ends at the playhead. The work area is not part of undo.
EditResult SetWorkAreaIn(const EditContext& edit);
EditResult SetWorkAreaOut(const EditContext& edit);
EditResult ClearWorkArea(const EditContext& edit);

// Playing the work area in a loop: true, with *restart at its in point, when the
// playhead went from inside a work area with both ends set (in <= before < out) to its
// out point or past it. Playback started outside the work area plays on.
bool WorkAreaLoopRestart(const Project& project, float before, float now, float* restart);

// Events and scenes from outside (imported markers) join the project as one undo step.
EditResult AddEventsAndScenes(const EditContext& edit, std::vector<Event> events, std::vector<Scene> scenes);
// The same, replacing the events flagged in `replaced` (a new import of markers brought
// before), and growing the project's duration to at least `duration`.
EditResult ReplaceEventsAndAddScenes(const EditContext& edit, const std::vector<char>& replaced, std::vector<Event> events,
                                     std::vector<Scene> scenes, float duration);

}  // namespace morvane
