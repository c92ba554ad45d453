#pragma once
// The Events tab's edits: the inspector's changes to one event and the project's
// description. Interface thread (see edit_state.h).
#include <cstddef>
#include <string>
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// Whether an inspector gesture (a drag of a slider, typing into a field, painting a
// curve) has recorded its undo step yet. The caller ends it when its controls let go.
struct EventEditGesture {
    bool recorded = false;
};

// The event at index becomes edited, as the inspector's controls left it. The first
// change of a gesture records the undo step and the rest of that gesture joins it. An
// edit that changes nothing records nothing.
EditResult ApplyEventEdit(const EditContext& edit, int index, const Event& edited, EventEditGesture& gesture);
inline void EndEventEditGesture(EventEditGesture& gesture) { gesture.recorded = false; }

// Links the event to scene (its index in scenes; -1 unlinks): a linked event takes
// the scene's timing. A scene that does not exist unlinks.
void LinkEventToScene(Event& event, const std::vector<Scene>& scenes, int scene);

// "Pitch-tune to scale": an event that follows the project's scale (override 0 or 1)
// is set to "Force Off" (2), and one forced off follows it again.
void ToggleScaleTune(Event& event);
// "Follow Project" or "Force Off", for the toggle's text.
const char* ScaleTuneName(const Event& event);

// A Bed's files, each with its loop flag and weight. Adding a file the Bed already
// holds changes nothing (returns false); the per-file lists are kept as long as the
// file list, a new file looping at the weight not set (-1). A missing loop flag
// reads as not looping, as the build reads it.
bool AddBedFile(Event& event, const std::string& path, const std::string& fileId);
void RemoveBedFile(Event& event, size_t file);
// Brings the per-file lists (identities, loop flags, weights) to the length of the file
// list, so a control can address file k in each of them.
void MatchBedLists(Event& event);

// The project's description text; not part of undo.
EditResult SetProjectDescription(Project& project, const std::string& text);

}  // namespace morvane
