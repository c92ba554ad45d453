#pragma once
// The desktop program's sound: the render cache the timeline is built and rendered
// into, the render job slot that does that work off the interface thread, the audio
// output that plays the cache, and the worker that keeps long timelines within their
// memory budget.
//
// Jobs never touch the open project: each works on a copy made when it is
// submitted, and the interface thread takes the copy's layers back when the job is
// done, only if the user did not change the same things meanwhile. So the user can
// go on editing while audio is rendered, without either side seeing the other's
// half-made changes.
#include <string>

namespace morvane {

// Sets the shell's and the project lifecycle's audio hooks (open, check and close
// the output, busy while playing or rendering, rebuild after an open, clear on new).
void ConnectAudioEngine();

// Once per frame on the interface thread: starts and takes over jobs, runs the
// refresh the timeline asks for, and follows the play position.
void TickAudioEngine();

// After an edit that moves built layers or mutes events: what plays follows at
// once, without new rendering.
void SyncAudioWithEdits();

// Composition > Render: builds the whole timeline from the project's libraries and
// renders it, with the progress card and Escape to cancel.
void RenderTimelineCommand();

// The transport. Playing without rendered audio moves the playhead silently.
void StartAudioPlayback(float seconds);
void StopAudioPlayback();
// While playing: the position the output has reached, in seconds. False when the
// playhead is not driven by the audio (nothing rendered, no device).
bool AudioPlayheadSeconds(float* seconds);

// No render job is running or waiting, what is built is ready to play, and the
// output (when one is open) takes buffers at the device's pace, so play is heard
// as soon as it starts.
bool AudioSettled();

// The render job, for the progress card and the status line.
bool AudioJobBlocking();           // a build the user waits for
std::string AudioJobStatus();      // "" when no job runs
float AudioJobProgress();          // 0..1, negative when unknown
bool AudioJobCancelling();
void CancelAudioJob();

}  // namespace morvane
