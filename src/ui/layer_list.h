#pragma once
// The layers of the selected event in the Events tab: each layer's sound and file,
// its waveform, like and ban, back and forward through its sounds, and solo.
// Interface thread.

namespace morvane {

struct Project;

// Draws the event's layers; edits go through edit/layer_edit.h and the audio follows
// through app/audio_engine.h.
void DrawEventLayers(Project& project, int eventIndex);

}  // namespace morvane
