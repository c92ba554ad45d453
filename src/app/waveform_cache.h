#pragma once
// Sound files' waveform overviews for drawing on the timeline. A file is read on a
// worker of its own the first time its overview is asked for, so a frame never opens
// a sound file; until it is read the caller draws without it.
//
// Interface thread only (the worker is private).
#include <string>

#include "library/audio_file.h"

namespace morvane {

// The file's overview, or null while it is being read or when it cannot be read.
// The pointer stays valid until the program ends.
const WaveformOverview* CachedWaveform(const std::string& path);

// The overview's peak at a time in its file, 0 outside it.
float PeakAt(const WaveformOverview& overview, float seconds);

}  // namespace morvane
