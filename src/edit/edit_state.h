#pragma once
// Editing the open project's timeline: the state that goes with it beside the project
// (the selection and the events clipboard), the context every edit takes, and what an
// edit reports back. The edits themselves are in selection.h, timeline_edit.h,
// scene_edit.h and event_edit.h; each works on the project, selection and playhead it
// is given, so the window and a test run the same code.
//
// Not thread-safe: the thread that edits the project owns its EditState (the interface
// thread in the desktop program).
#include <string>
#include <vector>

#include "model/timeline.h"

namespace morvane {

// The shortest event an edit makes: a resize or a scene's timing never goes below it.
inline constexpr float kMinEventDuration = 0.05f;

struct EditState {
    // One flag per event of the project, same order. Kept at the event count by
    // SyncSelection, so an event list replaced wholesale (undo, open) never leaves a
    // flag pointing past its end.
    std::vector<char> selected;
    std::vector<Event> clipboard;  // times relative to the earliest copied event
};

// What an edit works on: the project, its selection and clipboard, and where the
// playhead stands (new and pasted events land there).
struct EditContext {
    Project& project;
    EditState& state;
    float playhead = 0.0f;
};

// What an edit did, for the caller to show and follow.
struct EditResult {
    bool changed = false;        // the project changed
    bool layersMoved = false;    // built layers moved or events were muted: what plays follows
    std::string message;         // for the status line; empty when the lanes show it all
    float messageSeconds = 3.0f;
};

}  // namespace morvane
