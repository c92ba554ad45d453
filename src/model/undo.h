#pragma once
// Undo and redo of timeline edits. A snapshot holds the events, the results, the user
// shapes, the banned files, the scenes, the linked folders and the built flag; settings,
// groups and export choices are not part of undo. Call PushUndo before every edit.
#include <functional>

#include "model/timeline.h"

namespace morvane {

// The render side registers here the function that marks every render-cache entry as not
// rendered. It is called whenever the event list is replaced wholesale, inside the same
// critical section on timelineMutex, so the audio never plays layers of the old events
// against the new list. The hook must not lock timelineMutex itself.
void SetTimelineReplacedHook(std::function<void()> hook);
// Calls the registered hook, if any. The caller holds timelineMutex; for code other than
// undo that replaces the event list (opening a project).
void NotifyTimelineReplaced();

UndoSnapshot TakeUndoSnapshot(const Project& project);
// Replaces the event list under timelineMutex (calling the hook in the same critical
// section), then the results, user shapes, banned files, scenes and the built flag.
void RestoreUndoSnapshot(Project& project, UndoSnapshot snapshot);

// Records the current state before an edit: keeps the newest kMaxUndoSnapshots, empties
// the redo stack and marks the project modified.
void PushUndo(Project& project);
// Each returns false, changing nothing, when its stack is empty.
bool Undo(Project& project);
bool Redo(Project& project);

bool CanUndo(const Project& project);
bool CanRedo(const Project& project);
// Empties both stacks (a new or freshly opened project).
void ClearUndoHistory(Project& project);

}  // namespace morvane
