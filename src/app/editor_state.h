#pragma once
// What the user is looking at in the main window, beside the project itself: the
// playhead and transport, the timeline's zoom and scroll, draw mode. The selection and
// the events clipboard are the edit state (edit/edit_state.h), which the window keeps
// for the open project and hands to every edit with the playhead. Owned by the main
// thread.
#include "edit/edit_state.h"

namespace morvane {

struct EditorState {
    float playhead = 0.0f;  // seconds on the timeline
    bool playing = false;
    // Timeline view: pixels per second and the time at the left edge of the lanes.
    float pixelsPerSecond = 40.0f;
    float scrollTime = 0.0f;
    bool fitRequested = true;  // zoom to fit on the next timeline frame
    bool drawMode = false;
    bool loopWorkArea = false;  // playback goes back to the work area's in point at its out point
};

EditorState& Editor();
// The open project's selection and clipboard.
EditState& Edits();
// What an edit of the open project works on: the project, Edits() and the playhead.
EditContext CurrentEdit();

inline constexpr float kMinPixelsPerSecond = 2.0f;
inline constexpr float kMaxPixelsPerSecond = 2000.0f;

}  // namespace morvane
