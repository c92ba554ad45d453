#pragma once
namespace morvane {

// Connects the shell to the subsystems it drives (project lifecycle, recipes and
// chains) through their hooks. Called once at start, before the first frame.
void ConnectSubsystems();

// After a frame whose back buffer was captured for a thumbnail: writes it beside the
// project that asked for it.
void WritePendingThumbnail();

}  // namespace morvane
