#pragma once
// The edits the main window makes to the open project's timeline. Every edit records an
// undo snapshot first (which also marks the project modified) and reports what it did
// on the status line when there is nothing to see in the lanes.
#include <string>
#include <vector>

#include "model/timeline.h"

namespace morvane {

// Brings the selection flags to the event count (after undo, redo, open, new).
void SyncSelection();
void ClearSelection();
void SelectAll();
bool IsSelected(int index);
// Selects one event (replacing the selection unless add) and every event of its
// linked folder, which select and move as a unit.
void SelectEvent(int index, bool add);
void ToggleSelected(int index);
std::vector<int> SelectedIndices();
int SelectedCount();
// The event the inspector shows: the first selected, or -1.
int PrimarySelection();

// A new event of this shape at the playhead, selected alone; its index.
int CreateEventAtPlayhead(EventShape shape);
// A Clip event playing the given sound file from its start, at the playhead; its index.
int PlaceClipAtPlayhead(const std::string& path);
// One Clip per sound file, one after the other from the playhead, as one undo step;
// they become the selection. The number placed.
int PlaceClipsAtPlayhead(const std::vector<std::string>& paths);

// Moves the selected events by delta seconds (no event starts before 0). Locked events
// and events that follow a scene stay. Call BeginTimelineGesture once per drag first.
void MoveSelected(float deltaSeconds);
// Sets an event's duration (at least kMinEventDuration, at most the project's longest
// event); locked and scene-linked events stay.
void ResizeEvent(int index, float newDuration);
// Records the undo snapshot for a drag that is starting.
void BeginTimelineGesture();

// False when nothing was selected or everything selected was locked.
bool DeleteSelected();
bool CopySelected();
bool CutSelected();
// The clipboard's events at the playhead; the pasted events become the selection.
bool PasteAtPlayhead();

// Puts the selected events into one new event folder that selects as a unit.
bool GroupSelected();
// Takes the selected events out of their folders.
bool UngroupSelected();
// Locks the selection when any selected event is unlocked, else unlocks it.
bool ToggleLockSelected();
bool ToggleMuteSelected();

void SetWorkAreaIn();
void SetWorkAreaOut();
void ClearWorkArea();

void ZoomBy(float factor);
void RequestZoomToFit();
// The pixels per second that show the whole timeline (its duration or its last event)
// in width pixels.
float FitPixelsPerSecond(const Project& project, float width);

// The end of the timeline shown: the project's duration or the end of its last event.
float TimelineEnd(const Project& project);

// The playhead's position as a timecode text at the project's rate.
std::string PlayheadTimecode();

// Moves the playhead forward by dt while playing; stops at the end of the timeline.
void AdvanceTransport(float dt);
void TogglePlay();
void StopTransport();  // stops and returns to the start

}  // namespace morvane
