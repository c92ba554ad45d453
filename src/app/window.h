#pragma once
// The one main window: borderless, with the title bar drawn by the interface, and an
// OpenGL 3.3 core context.
struct SDL_Window;
typedef void* SDL_GLContext;

namespace morvane {

// monitor DPI / 96 for display 0; 1.0 when the DPI cannot be read or is not positive.
float ReadUiScale();

struct MainWindow {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

// Creates the window (1280 x 720 times uiScale, title "Morvane", minimum 960 x 540 times
// uiScale) and its GL context. False when either cannot be made; nothing is shown then.
bool CreateMainWindow(MainWindow& main, float uiScale);
void DestroyMainWindow(MainWindow& main);

// What the window manager is told about a point of the window (window pixels):
// 0 the interface's own, 1 the caption (drag to move), 2 a resize edge or corner.
int MainWindowHitKind(int x, int y);

// The title bar's window buttons.
void MinimizeMainWindow();
void ToggleMaximizeMainWindow();
bool MainWindowMaximized();
// Restores a minimised window and brings it to the front (a second start handed over).
void BringMainWindowToFront();

}  // namespace morvane
