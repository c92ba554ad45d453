#pragma once
// The project's settings card in the Events tab: scale and root, pitch-shift and
// reverse chances, frequency shift, track counts and budget, frame rate, duration,
// start timecode and sample rate. Interface thread.

namespace morvane {

struct Project;

void DrawProjectSettings(Project& project);

}  // namespace morvane
