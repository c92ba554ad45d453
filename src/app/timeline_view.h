#pragma once
// The window's side of timeline editing: what it does after an edit of the core (the
// status line, the audio following moved layers), the zoom, the transport and the
// playhead's timecode. The edits themselves are the core's (edit/*.h).
#include <string>
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// Shows the edit's message on the status line and lets what plays follow moved or
// muted layers at once. Returns whether the project changed.
bool FollowEdit(const EditResult& result);

// Sound files as Clips one after the other from the playhead, each as long as its
// sound when the file can be read, as one undo step.
void PlaceSoundFilesAtPlayhead(const std::vector<std::string>& paths);

void ZoomBy(float factor);
void RequestZoomToFit();
// The pixels per second that show the whole timeline (its duration or its last event)
// in width pixels.
float FitPixelsPerSecond(const Project& project, float width);

// The playhead's position as a timecode text at the project's rate.
std::string PlayheadTimecode();

// Moves the playhead forward by dt while playing; stops at the end of the timeline.
void AdvanceTransport(float dt);
void TogglePlay();
void StopTransport();  // stops and returns to the start

}  // namespace morvane
