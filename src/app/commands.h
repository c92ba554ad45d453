#pragma once
// The menu commands: one table of {name, menu text, shortcut, handler} that the menu
// bar, the accelerators, the interface's own shortcuts and the scripted-input tests
// share. A command is sent by its number (what a native menu carries) and named in
// scripts ("menu create-spot"); the pending command runs on the next frame.
#include <cstdint>
#include <string>
#include <string_view>
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
    kCmdBounce = 61, kCmdRevertBounce = 62, kCmdExit = 900, kCmdClearRecent = 901,
    kCmdRecentFirst = 1000, kCmdRecipeFirst = 2000, kCmdChainFirst = 3000,
};

// Who turns a command's shortcut into the command.
enum class ShortcutKind : uint8_t {
    None,         // no shortcut, or one the window manager handles (Alt+F4)
    Accelerator,  // before the interface sees the key, so it acts in a text field too
    Interface,    // the interface, only while no text field has the keyboard
};

struct Command {
    int id;
    const char* name;      // for scripts: "create-spot"
    const char* label;     // menu text with the "&" mnemonic marker
    const char* shortcut;  // shown after the label: "Ctrl+Shift+S"; "" none
    ShortcutKind keys;
    void (*handler)();     // null: the program has no such operation
    const char* instead;   // the item's tooltip: with no handler, what to use instead; "" none
};

// The table. Two rows may share an id when two menus show the same command under
// different texts (File > Export… and View > Export).
const std::vector<Command>& Commands();
// The first row with this id or name; null when none.
const Command* FindCommand(int id);
const Command* FindCommand(std::string_view name);

// A command's script name, the dynamic submenus' items included ("open-recent:1",
// "place-recipe:0", "place-chain:2"; "none" for 0).
std::string CommandName(int id);
// The id of a script name (the forms CommandName gives); -1 when the name is unknown.
int CommandIdFromName(std::string_view name);

// One entry of a menu: a command row, a separator or a submenu built from live lists.
struct MenuItem {
    enum class Kind : uint8_t { Command, Separator, RecentSubmenu, RecipeSubmenu, ChainSubmenu };
    Kind kind = Kind::Command;
    const Command* command = nullptr;  // Kind::Command
    const char* title = "";            // a submenu's title
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

// A shortcut text ("Ctrl+Shift+S", "Del", "F1") as an SDL key code and modifiers;
// false when it names no key.
struct KeyChord {
    int key = 0;  // SDL_Keycode
    bool ctrl = false, shift = false, alt = false;
};
bool ParseShortcut(const char* text, KeyChord* chord);

// The command of a key press among the accelerators, or 0. mods is the SDL modifier
// state of the event.
int MatchAccelerator(int key, int mods);

// Runs the pending command, if any (step 4 of DrawUI).
void ExecutePendingCommand();

// The names for the dynamic submenus.
std::vector<std::string> RecipeNames();
std::vector<std::string> ChainNames();

}  // namespace morvane
