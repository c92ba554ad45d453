#include "app/commands.h"

#include <SDL.h>

#include <cstdio>

#include "app/app_state.h"
#include "model/preferences.h"
#include "model/recipes.h"
#include "model/timeline.h"
#include "model/undo.h"

namespace morvane {

namespace {

using K = MenuItem::Kind;

MenuItem Item(const char* text, int id, const char* shortcut = "") { return {K::Command, text, shortcut, id}; }
MenuItem Separator() { return {K::Separator, "", "", 0}; }

}  // namespace

const std::vector<Menu>& MenuBar() {
    static const std::vector<Menu> bar = {
        {"&File",
         {Item("&New", kCmdNew, "Ctrl+N"), Item("&Open\xE2\x80\xA6", kCmdOpen, "Ctrl+O"),
          {K::RecentSubmenu, "Open &Recent", "", 0}, Separator(),
          Item("Project &Launcher\xE2\x80\xA6", kCmdLauncher, "Ctrl+Shift+1"), Separator(),
          Item("Import &Video\xE2\x80\xA6", kCmdImportVideo), Item("Import &Markers\xE2\x80\xA6", kCmdImportMarkers),
          Separator(), Item("&Save", kCmdSave, "Ctrl+S"), Item("Save &As\xE2\x80\xA6", kCmdSaveAs, "Ctrl+Shift+S"),
          Item("&Export\xE2\x80\xA6", kCmdExport, "Ctrl+Shift+E"), Separator(), Item("&Close", kCmdClose, "Ctrl+W"),
          Item("Se&ttings\xE2\x80\xA6", kCmdSettings, "Ctrl+,"), Separator(), Item("E&xit", kCmdExit, "Alt+F4")}},
        {"&Edit",
         {Item("&Undo", kCmdUndo, "Ctrl+Z"), Item("&Redo", kCmdRedo, "Ctrl+Shift+Z"), Separator(),
          Item("Cu&t", kCmdCut, "Ctrl+X"), Item("&Copy", kCmdCopy, "Ctrl+C"), Item("&Paste", kCmdPaste, "Ctrl+V"),
          Item("&Delete", kCmdDelete, "Del"), Separator(), Item("Select &All", kCmdSelectAll, "Ctrl+A"),
          Separator(), Item("&Group", kCmdGroup, "Ctrl+G"), Item("U&ngroup", kCmdUngroup, "Ctrl+Shift+G"),
          Item("&Lock / Unlock", kCmdLock, "Ctrl+L")}},
        {"&Composition",
         {Item("&Render", kCmdRender), Separator(), Item("Create &Spot", kCmdCreateSpot),
          Item("Create &Bloom", kCmdCreateBloom), Item("Create &Contour", kCmdCreateContour),
          Item("Create &Fill", kCmdCreateFill), Item("Place C&lip\xE2\x80\xA6", kCmdPlaceClip),
          Item("Place B&ed", kCmdPlaceBed), {K::RecipeSubmenu, "Place Recipe", "", 0},
          {K::ChainSubmenu, "Place Chain", "", 0}, Separator(), Item("Set &In Point", kCmdSetIn),
          Item("Set &Out Point", kCmdSetOut), Item("Clear &Work Area", kCmdClearWorkArea), Separator(),
          Item("Save Scene", kCmdSaveScene, "Ctrl+B"), Separator(), Item("&Draw Mode", kCmdDrawMode),
          Item("&Mute / Unmute", kCmdMute), Separator(), Item("Bou&nce Selection to Clip", kCmdBounce)}},
        {"&View",
         {Item("Zoom &In", kCmdZoomIn, "Ctrl+="), Item("Zoom &Out", kCmdZoomOut, "Ctrl+-"),
          Item("Zoom to &Fit", kCmdZoomFit, "Ctrl+0"), Separator(), Item("&Events", kCmdTabEvents),
          Item("&Trace", kCmdTabTrace), Item("&Mixer", kCmdTabMixer), Item("&Library", kCmdTabLibrary),
          Item("E&xport", kCmdExport), Item("&Settings", kCmdSettings)}},
        {"&Help", {Item("&User Guide", kCmdUserGuide, "F1"), Separator(), Item("&About Morvane", kCmdAbout)}},
    };
    return bar;
}

std::string MenuLabel(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '&') {
            if (p[1] == '&') out += *++p;
            continue;
        }
        out += *p;
    }
    return out;
}

char MenuMnemonic(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p != '&') continue;
        if (p[1] == '&') {
            ++p;
            continue;
        }
        char c = p[1];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return c;
    }
    return 0;
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> table = {
        {SDLK_n, true, false, false, kCmdNew},          {SDLK_o, true, false, false, kCmdOpen},
        {SDLK_s, true, true, false, kCmdSaveAs},        {SDLK_e, true, true, false, kCmdExport},
        {SDLK_w, true, false, false, kCmdClose},        {SDLK_1, true, true, false, kCmdLauncher},
        {SDLK_COMMA, true, false, false, kCmdSettings}, {SDLK_EQUALS, true, false, false, kCmdZoomIn},
        {SDLK_MINUS, true, false, false, kCmdZoomOut},  {SDLK_0, true, false, false, kCmdZoomFit},
        {SDLK_F1, false, false, false, kCmdUserGuide},
    };
    return table;
}

int MatchAccelerator(int key, int mods) {
    const bool ctrl = (mods & KMOD_CTRL) != 0;
    const bool shift = (mods & KMOD_SHIFT) != 0;
    const bool alt = (mods & KMOD_ALT) != 0;
    // The keypad's digits, "+", "-" and "=" count as the main keys, as a virtual-key
    // table would treat them on a keyboard without a separate row.
    switch (key) {
        case SDLK_KP_0: key = SDLK_0; break;
        case SDLK_KP_1: key = SDLK_1; break;
        case SDLK_KP_MINUS: key = SDLK_MINUS; break;
        case SDLK_KP_EQUALS: key = SDLK_EQUALS; break;
        // Shift+1 arrives as "1" on most layouts, but as "!" when the layout reports it.
        case SDLK_EXCLAIM: key = SDLK_1; break;
        default: break;
    }
    for (const Accelerator& a : Accelerators())
        if (a.key == key && a.ctrl == ctrl && a.shift == shift && a.alt == alt) return a.id;
    return 0;
}

std::vector<std::string> RecipeNames() {
    std::vector<std::string> names;
    for (const auto& recipe : Recipes()) names.push_back(recipe ? recipe->name : std::string());
    return names;
}

std::vector<std::string> ChainNames() {
    std::vector<std::string> names;
    for (const Chain& chain : Chains()) names.push_back(chain.name);
    return names;
}

void ExecutePendingCommand() {
    AppState& app = App();
    const int id = app.pendingCommand;
    app.pendingCommand = 0;
    if (id == 0) return;
    app.lastExecutedCommand = id;
    Project& project = CurrentProject();
    switch (id) {
        case kCmdUndo:
            Undo(project);
            return;
        case kCmdRedo:
            Redo(project);
            return;
        case kCmdAbout:
            app.aboutCardOpen = true;
            return;
        case kCmdTabEvents: app.sideTab = 0; return;
        case kCmdTabTrace: app.sideTab = 1; return;
        case kCmdTabLibrary: app.sideTab = 2; return;
        case kCmdTabMixer: app.sideTab = 3; return;
        default: break;
    }
    if (id >= kCmdRecentFirst && id < kCmdRecentFirst + 1000) {
        const auto& recent = Prefs().recentProjects;
        const size_t index = static_cast<size_t>(id - kCmdRecentFirst);
        if (index < recent.size()) SetPendingProject(recent[index]);
        return;
    }
    // The tabs these commands show exist before their owners' operations do.
    if (id == kCmdExport) app.sideTab = 4;
    if (id == kCmdSettings) app.sideTab = 5;
    if (app.hooks.executeCommand && app.hooks.executeCommand(id)) return;
    if (id != kCmdExport && id != kCmdSettings) std::printf("[UI] command %d has no handler yet\n", id);
}

}  // namespace morvane
