#pragma once
// The progress line of long commands: a redrawn bar on a terminal, and a plain line per
// tenth of the work otherwise, so logs stay readable.
#include <string>

namespace morvane::cli {

struct ProgressLine {
    const char* label;     // "Scanning", "Reading light and motion…"
    bool terminal = false; // stderr is a terminal
    int lastTenth = -1;    // the last tenth written as a plain line
};

// Draws `fraction` (0..1) with an optional detail text ("12 / 300 files  40 files/s").
void ShowProgress(ProgressLine& line, float fraction, const std::string& detail);

// Ends the bar's line on a terminal.
void EndProgress(const ProgressLine& line);

}  // namespace morvane::cli
