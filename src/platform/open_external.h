#pragma once
// Opens a web page or a folder with the desktop's own handler (xdg-open).
#include <string>

namespace morvane {

// Starts "xdg-open target" directly (no shell, so the text is never interpreted) and
// does not wait for it. False when the target is empty or looks like an option, or
// xdg-open cannot be started.
bool OpenWithDesktop(const std::string& target);

}  // namespace morvane
