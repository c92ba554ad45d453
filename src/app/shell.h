#pragma once
// The program's entry and heartbeat: start-up, the frame loop, shutdown.
namespace morvane {

// drawUi is the per-frame interface function (DrawUI); it is passed in because the
// interface sits above the shell. Returns the process exit code.
int RunShell(int argc, char** argv, void (*drawUi)());

}  // namespace morvane
