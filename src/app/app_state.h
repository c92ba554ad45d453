#pragma once
// Application-wide state of the desktop program: the few flags other parts raise to ask
// for work on the main thread, the status line, and the hooks through which the shell
// reaches subsystems that are not part of it (project lifecycle, audio output).
//
// Everything here is owned by the main thread unless its comment says otherwise.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/drop_target.h"
#include "platform/single_instance.h"

struct SDL_Window;

namespace morvane {

// A rectangle in interface units (window pixels divided by uiScale).
struct UiRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Contains(float x, float y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// What the custom title bar looked like on the last frame; the window's hit test reads
// it to tell the caption (drag to move) from the menu headers and window buttons.
struct TitleBarLayout {
    float height = 0.0f;                // caption height, interface units
    std::vector<UiRect> interactive;    // menu headers and buttons: not draggable
};

// What the confirmation card asks about, and what happens after "Save" or "Discard".
enum class PendingAction { None, Quit, OpenProject, NewProject };

// Operations of other subsystems the shell calls. They are set by the program's start-up
// code once those subsystems exist; an unset hook means "not available in this build"
// and the shell goes on without it.
struct ShellHooks {
    std::function<bool(const std::string& path)> openProject;  // after the unsaved check
    std::function<bool()> saveProject;                         // the "Save" of the card
    std::function<bool()> autosave;                            // true on success
    std::function<std::string()> projectPath;                  // empty: never saved
    std::function<bool()> cacheRebuildRunning;                 // autosave waits for it
    std::function<void()> deleteCrashLock;                     // first step of shutdown
    std::function<void(int sampleRate)> openAudioOutput;       // (re)open at this rate
    std::function<void()> checkAudioDevice;                    // every 2.5 s
    std::function<void()> closeAudioOutput;
    std::function<void()> closeVideo;
    std::function<void()> stopBackgroundThreads;               // raise shutting-down, join
    // Busy sources beyond the shell's own: each returns true while its work runs
    // (playback, library scan, rebuild, build, picture analysis, export, variations).
    std::vector<std::function<bool()>> busySources;
};

// The side panel's tabs, in the order the tab bar shows them.
enum class SideTab : int { Events, Trace, Library, Mixer, Export, Settings };
inline constexpr int kSideTabCount = 6;

struct AppState {
    SDL_Window* window = nullptr;
    float uiScale = 1.0f;              // monitor DPI / 96; 1 when unknown
    uint16_t pendingResizeWidth = 0;   // from the last size event, applied next frame
    uint16_t pendingResizeHeight = 0;
    int pendingCommand = 0;            // menu command chosen since the last frame; 0 none
    std::string pendingProject;        // from the command line or a second start
    bool closeRequested = false;       // the window's close button, Alt+F4, Exit
    bool quit = false;                 // ends the frame loop
    bool inFrame = false;              // no frame is drawn from inside a frame
    bool deviceReady = false;          // the GL context exists
    bool firstFrameDone = false;

    std::string statusText;            // the one-line message for the user
    float statusTimer = 0.0f;          // seconds it stays
    std::mutex pendingStatusMutex;
    std::string pendingStatusText;     // posted by a worker; guarded by the mutex

    float deviceWatchdog = 0.0f;       // seconds since the last audio-device check
    double autosaveAccumulator = 0.0;  // seconds since the last autosave
    bool thumbnailRequested = false;   // capture the back buffer after this frame
    std::vector<uint8_t> thumbnailRgba;  // the last capture, top row first
    int thumbnailWidth = 0, thumbnailHeight = 0;

    int outputSampleRate = 48000;      // the rate the audio output was opened at

    // The "Unsaved" confirmation card.
    bool unsavedCardOpen = false;
    PendingAction pendingAction = PendingAction::None;
    std::string pendingActionPath;

    bool aboutCardOpen = false;
    SideTab sideTab = SideTab::Events;

    DropTarget drop;
    InstanceListener instance;
    TitleBarLayout titleBar;
    int lastExecutedCommand = 0;       // for the scripted-input checks
    ShellHooks hooks;
};

AppState& App();

// Requests other parts make of the shell.
void SetStatus(const std::string& text, float seconds);
void PostStatus(const std::string& text);  // from any thread; shown for 5 s
void SetPendingProject(const std::string& path);
void RequestThumbnail();

// A command from the menu bar or an accelerator. Exit (900) asks to close and "Clear
// Menu" (901) empties the recent list at once; every other id runs on the next frame.
void PostCommand(int commandId);

// The one list of what keeps the frame loop from sleeping: any running job or playback
// (the busy sources), a visible status message, an open modal card, or queued input.
bool IsBusy();

}  // namespace morvane
