#pragma once
// `morvane --bench-frames N [--bench-video FILE]`: how long the window takes to draw a
// frame with a busy timeline, against an empty one in the same run; and, given a video,
// how playback with the audio output running keeps the picture with the sound and what
// the playing video costs the frame loop. Main thread only, with the GL context current.
#include <string>

namespace morvane {

// Replaces the open project with count events spread over ten minutes: every shape,
// overlapping, with keywords, a tenth of them selected, the view zoomed to fit.
void FillBenchProject(int count);
// Empties the project again.
void ClearBenchProject();

// Plays the timeline for a while with no video, then imports `videoPath` and plays it
// for up to 60 s, drawing frames at 60 per second with `drawFrame` (one frame drawn and
// finished). Prints frames shown against frames due, frames later than one frame
// period, the picture's offset from the position heard (and from the mixer's, a whole
// output queue ahead), and the frame time without and with the video, each beside its
// target; and prints each new picture as "[Shown] <monotonic seconds> <video seconds>"
// for a check against a recording of the speakers. Returns 1 when the video or the
// audio output could not be used, else 0.
int RunVideoPlaybackBench(const std::string& videoPath, void (*drawFrame)());

}  // namespace morvane
