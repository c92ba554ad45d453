#pragma once
// Scripted input for tests: `morvane --ui-script FILE [--screenshot DIR]` plays key
// presses, typed text, menu commands, clicks and drags frame by frame through the same
// paths real input takes (SDL key events pass the accelerators before the interface),
// checks outcomes, and writes PNG screenshots of the back buffer.
//
// One step per line; "#" starts a comment:
//   wait N                   let N frames pass
//   wait-ms N                let N milliseconds pass (frames go on)
//   frame-times start        start timing the frames; "frame-times NAME" prints
//                            "[Frames] NAME: N frames, median, p95, longest" since then
//   wait-audio N             wait until no audio is being rendered (fails after N s)
//   wait-export N            wait until no export, variations or bounce runs (fails after N s)
//   key [ctrl+][shift+][alt+]NAME   press and release (a-z, 0-9, f1-f12, comma, equals,
//                            minus, period, slash, escape, enter, tab, delete, backspace,
//                            space, left, right, up, down, home, end)
//   hold [ctrl] [shift] | hold none   modifier keys held down for the following steps
//                            (a click or drag with Shift), until "hold none"
//   type TEXT                typed characters (the rest of the line)
//   menu NAME                the command a menu item sends, as if it had been chosen
//                            (named as in the command table: "create-spot", "open-recent:1")
//   open-menu TITLE          click the menu bar header TITLE ("File", "Edit", ...)
//   click X Y | click @NAME  left click at interface coordinates or on a named control
//                            (menu headers are "menu:TITLE", submenus "submenu:TITLE",
//                            the video area "video"; the timeline's places are "ruler:T"
//                            on the ruler at T seconds, "row:R:T" in event row R at T,
//                            "lane:T" in the first empty row at T, "ruler" its middle)
//   move X Y | move @NAME    move the pointer (hovering opens a submenu)
//   reveal @NAME             scroll the panel holding the named control so it shows
//   press [X Y|@NAME] | release   hold the left button down (there), let it go; steps
//                            in between see the press in progress (a screenshot mid-drag)
//   wheel DY                 turn the mouse wheel DY notches at the pointer
//   drag X1 Y1 X2 Y2 [N]     press at the first point, move over N frames, release
//   drag @NAME DX DY [N]     the same from a named control's centre (events are
//                            "event:INDEX", the lanes "timeline")
//   expect-events N          the project holds N events
//   expect-selected N        N events are selected
//   dump-state PATH          write the project and selection as lines (see ui_script.cpp)
//   screenshot NAME          write DIR/NAME.png after the frame is drawn
//   expect-command NAME      the last executed command is NAME, "none" for none (within
//                            5 frames)
//   expect-text-focus        a text field has the keyboard
//   expect-popup-open        a menu or pop-up is open
//   expect-status TEXT       the status line shows TEXT
//   expect-hit X Y KIND      the window point (pixels) is "caption", "normal" or "resize"
//                            for the window manager
//   drop PATH...             files and folders dropped on the window (paths without spaces)
//   expect-dropped N M       the window holds N dropped folders and M audio files
//   throw                    the interface code of the next frame throws, as a fault would
//   quit                     ask to close, as the window's close button does
// At the end of the script the program quits; a failed expectation is reported on
// stdout with its line number and makes the exit code 3.
#include <functional>
#include <string>
#include <vector>

namespace morvane {

struct UiRect;

// Loads the script; false (with a message on stdout) when it cannot be read or a line
// is not understood.
bool LoadUiScript(const std::string& path, const std::string& screenshotFolder);
bool UiScriptActive();
// The script has input to play this frame (during wait-ms the program idles as usual).
bool UiScriptWantsFrames();

// Called once per frame before events are pumped: plays the next steps.
void UiScriptBeforeEvents();
// Called after the platform back end's new frame: the script's pointer replaces the
// real one.
void UiScriptOverrideMouse();
// Called after the frame is rendered, before it is presented.
void UiScriptAfterRender(int framebufferWidth, int framebufferHeight);

// Controls the script can click by name; the interface registers them while drawing.
void RegisterScriptTarget(const std::string& name, const UiRect& rect);

// True once when the script asked to reveal the control `name`: the caller, drawing
// it, scrolls its panel to it.
bool UiScriptTakeReveal(const std::string& name);

// Places named by a pattern rather than one rectangle (a time on the ruler): resolve
// gives the point of a name it knows. Registered afresh every frame, like the controls.
void RegisterScriptPlaces(std::function<bool(const std::string& name, float& x, float& y)> resolve);

// Throws when the script asked for a fault this frame (see "throw").
void UiScriptMaybeThrow();

// 0 when every expectation held, else 3.
int UiScriptExitCode();

// Writes the framebuffer's current back buffer as a PNG (top row first).
bool WriteBackBufferPng(const std::string& path, int width, int height);

}  // namespace morvane
