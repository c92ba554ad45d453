#pragma once
// The menu bar's items and command ids, the accelerators, and the execution of a
// pending command on the next frame.
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

enum CommandId : int {
    kCmdSave = 10, kCmdUndo = 3, kCmdRedo = 4, kCmdCut = 5, kCmdCopy = 6, kCmdPaste = 7,
    kCmdDelete = 8, kCmdSelectAll = 9, kCmdDrawMode = 11, kCmdZoomIn = 14, kCmdZoomOut = 15,
    kCmdMute = 20, kCmdGroup = 21, kCmdUngroup = 22, kCmdRender = 23, kCmdSetIn = 24,
    kCmdSetOut = 25, kCmdClearWorkArea = 26, kCmdSaveScene = 27, kCmdLock = 28,
    kCmdCreateSpot = 29, kCmdCreateBloom = 30, kCmdCreateContour = 31, kCmdCreateFill = 32,
    kCmdNew = 37, kCmdOpen = 38, kCmdSaveAs = 39, kCmdExport = 40, kCmdClose = 41,
    kCmdSettings = 42, kCmdAbout = 43, kCmdUserGuide = 44, kCmdLauncher = 45, kCmdZoomFit = 46,
    kCmdImportVideo = 47, kCmdImportMarkers = 48, kCmdTabEvents = 49, kCmdTabTrace = 50,
    kCmdTabLibrary = 51, kCmdTabMixer = 52, kCmdPlaceClip = 59, kCmdPlaceBed = 60,
    kCmdBounce = 61, kCmdExit = 900, kCmdClearRecent = 901,
    kCmdRecentFirst = 1000, kCmdRecipeFirst = 2000, kCmdChainFirst = 3000,
};

// One entry of a menu. Text keeps the "&" mnemonic marker; the shortcut is the text
// shown after it (the part after the tab of a native menu).
struct MenuItem {
    enum class Kind : uint8_t { Command, Separator, RecentSubmenu, RecipeSubmenu, ChainSubmenu };
    Kind kind = Kind::Command;
    const char* text = "";
    const char* shortcut = "";
    int id = 0;
};

struct Menu {
    const char* title;  // with "&"
    std::vector<MenuItem> items;
};

// The menu bar, in order.
const std::vector<Menu>& MenuBar();

// A menu text as shown: the "&" markers removed ("&&" stays one "&").
std::string MenuLabel(const char* text);
// The mnemonic letter (after "&"), upper case; 0 when none.
char MenuMnemonic(const char* text);

// The accelerators: exactly the 11 key combinations that act before the interface sees
// a key, so they work while a text field has the keyboard. Keys are SDL key codes and
// modifiers are the SDL modifier bits collapsed to ctrl/shift/alt.
struct Accelerator {
    int key;  // SDL_Keycode
    bool ctrl, shift, alt;
    int id;
};
const std::vector<Accelerator>& Accelerators();
// The command of a key press, or 0. mods is the SDL modifier state of the event.
int MatchAccelerator(int key, int mods);

// Runs the pending command, if any (step 4 of DrawUI): undo and redo here, recent
// projects through the pending project, the rest through their owners' hooks.
void ExecutePendingCommand();

// The names for the dynamic submenus (recipes and chains come from their own part).
std::vector<std::string> RecipeNames();
std::vector<std::string> ChainNames();

}  // namespace morvane
