#pragma once
// What the user is looking at and working on in the main window, beside the project
// itself: the selection, the playhead and transport, the timeline's zoom and scroll,
// the events clipboard. Owned by the main thread; the project's edits go through
// timeline_edit.h so undo and the modified flag stay right.
#include <string>
#include <vector>

#include "model/timeline.h"

namespace morvane {

struct EditorState {
    // One flag per event of the project, same order. Kept at the event count by
    // SyncSelection, so an event list replaced wholesale (undo, open) never leaves a
    // flag pointing past its end.
    std::vector<char> selected;
    float playhead = 0.0f;  // seconds on the timeline
    bool playing = false;
    // Timeline view: pixels per second and the time at the left edge of the lanes.
    float pixelsPerSecond = 40.0f;
    float scrollTime = 0.0f;
    bool fitRequested = true;  // zoom to fit on the next timeline frame
    bool drawMode = false;
    std::vector<Event> clipboard;  // times relative to the earliest copied event
};

EditorState& Editor();

inline constexpr float kMinPixelsPerSecond = 2.0f;
inline constexpr float kMaxPixelsPerSecond = 2000.0f;
inline constexpr float kMinEventDuration = 0.05f;

}  // namespace morvane
