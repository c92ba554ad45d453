#pragma once
namespace morvane {

// The whole interface, once per frame, with the shell's fixed order of work around the
// panels (first-frame set-up, close request, pending project, pending command, panels,
// status timer, audio-device check, autosave).
void DrawUI();

// Menu shortcuts the interface handles itself (Ctrl+S, Ctrl+Z, ...), outside text fields.
void HandleInterfaceShortcuts();

// The custom title bar with the menu bar and the window buttons; returns its height.
float DrawTitleBar();

}  // namespace morvane
