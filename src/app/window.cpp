#include "app/window.h"

#include <SDL.h>

#include <cstdio>

#include "app/app_state.h"

namespace morvane {

namespace {

// Width of the invisible resize border of the borderless window, in window pixels.
constexpr int kResizeBorder = 5;

// Decides what a point of the window is for the window manager: the edges resize, the
// custom title bar moves the window except where the interface put a menu header or a
// button, and everything else belongs to the interface.
SDL_HitTestResult HitTest(SDL_Window* window, const SDL_Point* point, void*) {
    const AppState& app = App();
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    const bool maximized = (SDL_GetWindowFlags(window) & SDL_WINDOW_MAXIMIZED) != 0;
    if (!maximized) {
        const bool left = point->x < kResizeBorder, right = point->x >= w - kResizeBorder;
        const bool top = point->y < kResizeBorder, bottom = point->y >= h - kResizeBorder;
        if (top && left) return SDL_HITTEST_RESIZE_TOPLEFT;
        if (top && right) return SDL_HITTEST_RESIZE_TOPRIGHT;
        if (bottom && left) return SDL_HITTEST_RESIZE_BOTTOMLEFT;
        if (bottom && right) return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
        if (top) return SDL_HITTEST_RESIZE_TOP;
        if (bottom) return SDL_HITTEST_RESIZE_BOTTOM;
        if (left) return SDL_HITTEST_RESIZE_LEFT;
        if (right) return SDL_HITTEST_RESIZE_RIGHT;
    }
    const float x = static_cast<float>(point->x) / app.uiScale;
    const float y = static_cast<float>(point->y) / app.uiScale;
    if (y >= app.titleBar.height) return SDL_HITTEST_NORMAL;
    for (const UiRect& r : app.titleBar.interactive)
        if (r.Contains(x, y)) return SDL_HITTEST_NORMAL;
    // While a modal card is open the caption still moves the window, as a native one would.
    return SDL_HITTEST_DRAGGABLE;
}

}  // namespace

int MainWindowHitKind(int x, int y) {
    if (!App().window) return 0;
    const SDL_Point point{x, y};
    const SDL_HitTestResult r = HitTest(App().window, &point, nullptr);
    if (r == SDL_HITTEST_NORMAL) return 0;
    return r == SDL_HITTEST_DRAGGABLE ? 1 : 2;
}

float ReadUiScale() {
    float ddpi = 0, hdpi = 0, vdpi = 0;
    if (SDL_GetDisplayDPI(0, &ddpi, &hdpi, &vdpi) != 0) return 1.0f;
    const float scale = hdpi / 96.0f;
    if (!(scale > 0.0f)) return 1.0f;
    return scale;
}

bool CreateMainWindow(MainWindow& main, float uiScale) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);

    const int w = static_cast<int>(1280 * uiScale + 0.5f);
    const int h = static_cast<int>(720 * uiScale + 0.5f);
    // Hidden until the context exists: a failed device ends the program before anything shows.
    const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_RESIZABLE |
                         SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
    main.window = SDL_CreateWindow("Morvane", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h, flags);
    if (!main.window) {
        std::printf("[UI] could not create the window: %s\n", SDL_GetError());
        return false;
    }
    main.context = SDL_GL_CreateContext(main.window);
    if (!main.context) {
        std::printf("[UI] could not create an OpenGL 3.3 context: %s\n", SDL_GetError());
        SDL_DestroyWindow(main.window);
        main.window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(main.window, main.context);
    SDL_GL_SetSwapInterval(1);
    SDL_SetWindowMinimumSize(main.window, static_cast<int>(960 * uiScale + 0.5f),
                             static_cast<int>(540 * uiScale + 0.5f));
    SDL_SetWindowHitTest(main.window, HitTest, nullptr);
    SDL_ShowWindow(main.window);
    return true;
}

void DestroyMainWindow(MainWindow& main) {
    if (main.context) SDL_GL_DeleteContext(main.context);
    if (main.window) SDL_DestroyWindow(main.window);
    main.context = nullptr;
    main.window = nullptr;
}

void MinimizeMainWindow() {
    if (App().window) SDL_MinimizeWindow(App().window);
}

bool MainWindowMaximized() {
    return App().window && (SDL_GetWindowFlags(App().window) & SDL_WINDOW_MAXIMIZED) != 0;
}

void ToggleMaximizeMainWindow() {
    if (!App().window) return;
    if (MainWindowMaximized()) SDL_RestoreWindow(App().window);
    else SDL_MaximizeWindow(App().window);
}

void BringMainWindowToFront() {
    SDL_Window* window = App().window;
    if (!window) return;
    if (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(window);
    SDL_RaiseWindow(window);
}

}  // namespace morvane
