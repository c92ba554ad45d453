#include "app/commands.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "app/export_session.h"
#include "app/project_commands.h"
#include "app/timeline_view.h"
#include "edit/scene_edit.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/preferences.h"
#include "model/recipes.h"
#include "model/timeline.h"
#include "model/undo.h"
#include "platform/folders.h"
#include "platform/open_external.h"

namespace morvane {

namespace {

using SK = ShortcutKind;

// The guide ships beside the program as a web page; the desktop's browser shows it.
void OpenUserGuide() {
    const std::string page = ProgramDataPath("Guide/user-guide.html");
    if (!IsFile(page))
        SetStatus("The user guide is not installed: " + (page.empty() ? std::string("no program data folder") : page), 8.0f);
    else if (!OpenWithDesktop(page))
        SetStatus("Couldn't open the user guide (is xdg-open installed?): " + page, 8.0f);
}

void ShowTab(SideTab tab) { App().sideTab = tab; }
void Create(EventShape shape) { FollowEdit(CreateEventAtPlayhead(CurrentEdit(), shape)); }

// The dynamic submenus' ranges: recent projects, recipes, chains.
struct DynamicRange {
    int first;
    const char* name;
};
constexpr DynamicRange kDynamicRanges[] = {
    {kCmdRecentFirst, "open-recent"}, {kCmdRecipeFirst, "place-recipe"}, {kCmdChainFirst, "place-chain"}};

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        // File
        {kCmdNew, "new", "&New", "Ctrl+N", SK::Accelerator, NewProjectCommand, ""},
        {kCmdOpen, "open", "&Open\xE2\x80\xA6", "Ctrl+O", SK::Accelerator, OpenProjectCommand, ""},
        {kCmdLauncher, "project-launcher", "Project &Launcher\xE2\x80\xA6", "Ctrl+Shift+1", SK::Accelerator, nullptr,
         "File > Open Recent lists the projects opened lately"},
        {kCmdImportVideo, "import-video", "Import &Video\xE2\x80\xA6", "", SK::None, ImportVideoCommand, ""},
        {kCmdImportMarkers, "import-markers", "Import &Markers\xE2\x80\xA6", "", SK::None, ImportMarkersCommand, ""},
        {kCmdSave, "save", "&Save", "Ctrl+S", SK::Interface, SaveCommand, ""},
        {kCmdSaveAs, "save-as", "Save &As\xE2\x80\xA6", "Ctrl+Shift+S", SK::Accelerator, [] { SaveAsCommand(); }, ""},
        {kCmdExport, "export", "&Export\xE2\x80\xA6", "Ctrl+Shift+E", SK::Accelerator, [] { ShowTab(SideTab::Export); }, ""},
        {kCmdClose, "close", "&Close", "Ctrl+W", SK::Accelerator, NewProjectCommand, ""},
        {kCmdSettings, "settings", "Se&ttings\xE2\x80\xA6", "Ctrl+,", SK::Accelerator, [] { ShowTab(SideTab::Settings); }, ""},
        {kCmdClearRecent, "clear-recent", "Clear Menu", "", SK::None, [] { ClearRecentProjects(); SavePreferences(); }, ""},
        {kCmdExit, "exit", "E&xit", "Alt+F4", SK::None, [] { App().closeRequested = true; }, ""},
        // Edit
        {kCmdUndo, "undo", "&Undo", "Ctrl+Z", SK::Interface, [] { Undo(CurrentProject()); }, ""},
        {kCmdRedo, "redo", "&Redo", "Ctrl+Shift+Z", SK::Interface, [] { Redo(CurrentProject()); }, ""},
        {kCmdCut, "cut", "Cu&t", "Ctrl+X", SK::Interface, [] { FollowEdit(CutSelected(CurrentEdit())); }, ""},
        {kCmdCopy, "copy", "&Copy", "Ctrl+C", SK::Interface, [] { FollowEdit(CopySelected(CurrentEdit())); }, ""},
        {kCmdPaste, "paste", "&Paste", "Ctrl+V", SK::Interface, [] { FollowEdit(PasteAtPlayhead(CurrentEdit())); }, ""},
        {kCmdDelete, "delete", "&Delete", "Del", SK::Interface, [] { FollowEdit(DeleteSelected(CurrentEdit())); }, ""},
        {kCmdSelectAll, "select-all", "Select &All", "Ctrl+A", SK::Interface, [] { SelectAll(CurrentEdit()); }, ""},
        {kCmdGroup, "group", "&Group", "Ctrl+G", SK::Interface, [] { FollowEdit(GroupSelected(CurrentEdit())); }, ""},
        {kCmdUngroup, "ungroup", "U&ngroup", "Ctrl+Shift+G", SK::Interface, [] { FollowEdit(UngroupSelected(CurrentEdit())); }, ""},
        {kCmdLock, "lock", "&Lock / Unlock", "Ctrl+L", SK::Interface, [] { FollowEdit(ToggleLockSelected(CurrentEdit())); }, ""},
        // Composition
        {kCmdRender, "render", "&Render", "", SK::None, RenderTimelineCommand, ""},
        {kCmdCreateSpot, "create-spot", "Create &Spot", "", SK::None, [] { Create(EventShape::Spot); }, ""},
        {kCmdCreateBloom, "create-bloom", "Create &Bloom", "", SK::None, [] { Create(EventShape::Bloom); }, ""},
        {kCmdCreateContour, "create-contour", "Create &Contour", "", SK::None, [] { Create(EventShape::Contour); }, ""},
        {kCmdCreateFill, "create-fill", "Create &Fill", "", SK::None, [] { Create(EventShape::Fill); }, ""},
        {kCmdPlaceClip, "place-clip", "Place C&lip\xE2\x80\xA6", "", SK::None, PlaceClipCommand, ""},
        {kCmdPlaceBed, "place-bed", "Place B&ed", "", SK::None, [] { Create(EventShape::Bed); }, ""},
        {kCmdSetIn, "set-in", "Set &In Point", "", SK::None, [] { FollowEdit(SetWorkAreaIn(CurrentEdit())); }, ""},
        {kCmdSetOut, "set-out", "Set &Out Point", "", SK::None, [] { FollowEdit(SetWorkAreaOut(CurrentEdit())); }, ""},
        {kCmdClearWorkArea, "clear-work-area", "Clear &Work Area", "", SK::None, [] { FollowEdit(ClearWorkArea(CurrentEdit())); }, ""},
        {kCmdSaveScene, "save-scene", "Save Scene", "Ctrl+B", SK::Interface, [] { FollowEdit(SaveSceneFromSelection(CurrentEdit())); }, ""},
        {kCmdDrawMode, "draw-mode", "&Draw Mode", "", SK::None, [] { Editor().drawMode = !Editor().drawMode; }, ""},
        {kCmdMute, "mute", "&Mute / Unmute", "", SK::None, [] { FollowEdit(ToggleMuteSelected(CurrentEdit())); }, ""},
        {kCmdBounce, "bounce", "Bou&nce Selection to Clip", "", SK::None, BounceSelectionCommand, ""},
        {kCmdRevertBounce, "revert-bounce", "Revert to Source", "", SK::None, RevertSelectionCommand,
         "Replace this bounced clip with the original events it was made from"},
        // View
        {kCmdZoomIn, "zoom-in", "Zoom &In", "Ctrl+=", SK::Accelerator, [] { ZoomBy(1.5f); }, ""},
        {kCmdZoomOut, "zoom-out", "Zoom &Out", "Ctrl+-", SK::Accelerator, [] { ZoomBy(1.0f / 1.5f); }, ""},
        {kCmdZoomFit, "zoom-fit", "Zoom to &Fit", "Ctrl+0", SK::Accelerator, RequestZoomToFit, ""},
        {kCmdTabEvents, "tab-events", "&Events", "", SK::None, [] { ShowTab(SideTab::Events); }, ""},
        {kCmdTabTrace, "tab-trace", "&Trace", "", SK::None, [] { ShowTab(SideTab::Trace); }, ""},
        {kCmdTabMixer, "tab-mixer", "&Mixer", "", SK::None, [] { ShowTab(SideTab::Mixer); }, ""},
        {kCmdTabLibrary, "tab-library", "&Library", "", SK::None, [] { ShowTab(SideTab::Library); }, ""},
        {kCmdExport, "tab-export", "E&xport", "", SK::None, [] { ShowTab(SideTab::Export); }, ""},
        {kCmdSettings, "tab-settings", "&Settings", "", SK::None, [] { ShowTab(SideTab::Settings); }, ""},
        // Help
        {kCmdUserGuide, "user-guide", "&User Guide", "F1", SK::Accelerator, OpenUserGuide, ""},
        {kCmdAbout, "about", "&About Morvane", "", SK::None, [] { App().aboutCardOpen = true; }, ""},
    };
    return table;
}

const Command* FindCommand(int id) {
    for (const Command& c : Commands())
        if (c.id == id) return &c;
    return nullptr;
}

const Command* FindCommand(std::string_view name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

std::string CommandName(int id) {
    if (id == 0) return "none";
    for (const DynamicRange& range : kDynamicRanges)
        if (id >= range.first && id < range.first + 1000) return std::string(range.name) + ":" + std::to_string(id - range.first);
    const Command* command = FindCommand(id);
    return command ? command->name : std::to_string(id);
}

int CommandIdFromName(std::string_view name) {
    if (name == "none") return 0;
    if (const Command* command = FindCommand(name)) return command->id;
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos || colon + 1 >= name.size()) return -1;
    const std::string index(name.substr(colon + 1));
    char* end = nullptr;
    const long n = std::strtol(index.c_str(), &end, 10);
    if (*end != '\0' || n < 0 || n >= 1000) return -1;
    for (const DynamicRange& range : kDynamicRanges)
        if (name.substr(0, colon) == range.name) return range.first + static_cast<int>(n);
    return -1;
}

const std::vector<Menu>& MenuBar() {
    using K = MenuItem::Kind;
    auto item = [](const char* name) { return MenuItem{K::Command, FindCommand(std::string_view(name)), ""}; };
    const MenuItem separator{K::Separator, nullptr, ""};
    static const std::vector<Menu> bar = {
        {"&File",
         {item("new"), item("open"), {K::RecentSubmenu, nullptr, "Open &Recent"}, separator, item("project-launcher"),
          separator, item("import-video"), item("import-markers"), separator, item("save"), item("save-as"),
          item("export"), separator, item("close"), item("settings"), separator, item("exit")}},
        {"&Edit",
         {item("undo"), item("redo"), separator, item("cut"), item("copy"), item("paste"), item("delete"), separator,
          item("select-all"), separator, item("group"), item("ungroup"), item("lock")}},
        {"&Composition",
         {item("render"), separator, item("create-spot"), item("create-bloom"), item("create-contour"),
          item("create-fill"), item("place-clip"), item("place-bed"), {K::RecipeSubmenu, nullptr, "Place Recipe"},
          {K::ChainSubmenu, nullptr, "Place Chain"}, separator, item("set-in"), item("set-out"),
          item("clear-work-area"), separator, item("save-scene"), separator, item("draw-mode"), item("mute"),
          separator, item("bounce"), item("revert-bounce")}},
        {"&View",
         {item("zoom-in"), item("zoom-out"), item("zoom-fit"), separator, item("tab-events"), item("tab-trace"),
          item("tab-mixer"), item("tab-library"), item("tab-export"), item("tab-settings")}},
        {"&Help", {item("user-guide"), separator, item("about")}},
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

bool ParseShortcut(const char* text, KeyChord* chord) {
    *chord = {};
    std::string_view rest(text);
    for (;;) {
        if (rest.starts_with("Ctrl+")) chord->ctrl = true;
        else if (rest.starts_with("Shift+")) chord->shift = true;
        else if (rest.starts_with("Alt+")) chord->alt = true;
        else break;
        rest.remove_prefix(rest.find('+') + 1);
    }
    if (rest == "Del") {
        chord->key = SDLK_DELETE;
    } else if (rest.size() >= 2 && rest[0] == 'F') {
        const int n = std::atoi(std::string(rest.substr(1)).c_str());
        if (n < 1 || n > 12) return false;
        chord->key = SDLK_F1 + (n - 1);
    } else if (rest.size() == 1) {
        // SDL's key codes for printable keys are their lower-case characters.
        const char c = rest[0];
        chord->key = c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
    } else {
        return false;
    }
    return true;
}

int MatchAccelerator(int key, int mods) {
    struct Accelerator {
        KeyChord chord;
        int id;
    };
    static const std::vector<Accelerator> accelerators = [] {
        std::vector<Accelerator> list;
        for (const Command& c : Commands()) {
            KeyChord chord;
            if (c.keys == ShortcutKind::Accelerator && ParseShortcut(c.shortcut, &chord)) list.push_back({chord, c.id});
        }
        return list;
    }();
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
    for (const Accelerator& a : accelerators)
        if (a.chord.key == key && a.chord.ctrl == ctrl && a.chord.shift == shift && a.chord.alt == alt) return a.id;
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
    const float playhead = Editor().playhead;
    if (id >= kCmdRecentFirst && id < kCmdRecentFirst + 1000) {
        const auto& recent = Prefs().recentProjects;
        const size_t index = static_cast<size_t>(id - kCmdRecentFirst);
        if (index < recent.size()) SetPendingProject(recent[index]);
    } else if (id >= kCmdRecipeFirst && id < kCmdRecipeFirst + 1000) {
        const size_t index = static_cast<size_t>(id - kCmdRecipeFirst);
        if (index < Recipes().size() && Recipes()[index]) PlaceRecipe(CurrentProject(), *Recipes()[index], playhead);
    } else if (id >= kCmdChainFirst && id < kCmdChainFirst + 1000) {
        const size_t index = static_cast<size_t>(id - kCmdChainFirst);
        if (index < Chains().size()) PlaceChain(CurrentProject(), Chains()[index], playhead, Prefs().chainsImportAsGroup);
    } else if (const Command* command = FindCommand(id); command && command->handler) {
        command->handler();
    }
    // A command the program has no operation for (its menu item is disabled) is
    // recorded above and otherwise does nothing.
}

}  // namespace morvane
