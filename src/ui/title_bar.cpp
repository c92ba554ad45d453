// The custom title bar: the program's name, the menu bar with every item, id, mnemonic
// and shortcut text, and the minimise, maximise and close buttons. The window's hit
// test (app/window.cpp) reads the layout recorded here to move the window by the rest.
#include <SDL.h>
#include <imgui.h>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/ui_script.h"
#include "app/window.h"
#include "model/preferences.h"
#include "model/timeline.h"
#include "model/undo.h"
#include "ui/draw_ui.h"

namespace morvane {

namespace {

constexpr float kTitleBarHeight = 34.0f;
constexpr float kWindowButtonWidth = 46.0f;

// The key index the interface uses for a letter (the SDL back end indexes by scancode).
int LetterKey(char upper) { return SDL_SCANCODE_A + (upper - 'A'); }

bool MnemonicPressed(const char* text) {
    const char m = MenuMnemonic(text);
    if (m < 'A' || m > 'Z') return false;
    const ImGuiIO& io = ImGui::GetIO();
    return !io.KeyCtrl && ImGui::IsKeyPressed(LetterKey(m), false);
}

bool ItemEnabled(int id) {
    const Project& project = CurrentProject();
    if (id == kCmdUndo) return CanUndo(project);
    if (id == kCmdRedo) return CanRedo(project);
    return true;
}

// Names the item just drawn for scripted input ("item:" + its label).
void RegisterItem(const std::string& label) {
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    RegisterScriptTarget("item:" + label, {a.x, a.y, b.x, b.y});
}

void DrawDynamicSubmenu(const MenuItem& item) {
    const std::string label = MenuLabel(item.title);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    RegisterScriptTarget("submenu:" + label, {at.x, at.y, at.x + ImGui::GetContentRegionAvail().x,
                                               at.y + ImGui::GetTextLineHeightWithSpacing()});
    if (!ImGui::BeginMenu(label.c_str())) return;
    if (item.kind == MenuItem::Kind::RecentSubmenu) {
        const auto& recent = Prefs().recentProjects;
        for (size_t i = 0; i < recent.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::MenuItem(recent[i].c_str())) PostCommand(kCmdRecentFirst + static_cast<int>(i));
            RegisterItem(recent[i]);
            ImGui::PopID();
        }
        ImGui::Separator();
        if (ImGui::MenuItem("Clear Menu")) PostCommand(kCmdClearRecent);
        RegisterItem("Clear Menu");
    } else {
        const bool recipes = item.kind == MenuItem::Kind::RecipeSubmenu;
        const std::vector<std::string> names = recipes ? RecipeNames() : ChainNames();
        const int first = recipes ? kCmdRecipeFirst : kCmdChainFirst;
        if (names.empty()) ImGui::MenuItem(recipes ? "No Recipes Saved" : "No Chains Saved", nullptr, false, false);
        for (size_t i = 0; i < names.size() && i < 1000; ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::MenuItem(names[i].c_str())) PostCommand(first + static_cast<int>(i));
            ImGui::PopID();
        }
    }
    ImGui::EndMenu();
}

void DrawMenuItems(const Menu& menu) {
    // A mnemonic letter chooses its item while the menu is open, as in a native menu.
    // Not while Alt is held: the Alt+letter that opened the menu must not also choose an
    // item of it ("Create &Contour" under "&Composition").
    const bool acceptMnemonics = ImGui::IsWindowFocused() && !ImGui::GetIO().KeyAlt;
    for (const MenuItem& item : menu.items) {
        switch (item.kind) {
            case MenuItem::Kind::Separator:
                ImGui::Separator();
                break;
            case MenuItem::Kind::Command: {
                const Command& command = *item.command;
                const std::string label = MenuLabel(command.label);
                const bool enabled = command.handler && ItemEnabled(command.id);
                bool chosen = ImGui::MenuItem(label.c_str(), *command.shortcut ? command.shortcut : nullptr, false, enabled);
                RegisterItem(label);
                // An operation the program does not have says what does the work instead;
                // one the program has may say what it does.
                if (*command.instead && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
                    ImGui::SetTooltip("%s", command.instead);
                if (!chosen && enabled && acceptMnemonics && MnemonicPressed(command.label)) {
                    chosen = true;
                    ImGui::CloseCurrentPopup();
                }
                if (chosen) PostCommand(command.id);
                break;
            }
            default:
                DrawDynamicSubmenu(item);
                break;
        }
    }
}

void WindowButton(const char* id, int kind, float x, float height) {
    ImGui::SetCursorPos(ImVec2(x, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
    const bool pressed = ImGui::InvisibleButton(id, ImVec2(kWindowButtonWidth, height));
    ImGui::PopStyleVar();
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    App().titleBar.interactive.push_back({a.x, a.y, b.x, b.y});
    RegisterScriptTarget(id, {a.x, a.y, b.x, b.y});
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (ImGui::IsItemHovered())
        draw->AddRectFilled(a, b, kind == 2 ? IM_COL32(196, 43, 28, 255) : IM_COL32(255, 255, 255, 28));
    const ImVec2 c((a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f);
    const ImU32 ink = IM_COL32(220, 222, 226, 255);
    const float r = 5.0f;
    if (kind == 0) {
        draw->AddLine(ImVec2(c.x - r, c.y), ImVec2(c.x + r, c.y), ink);
    } else if (kind == 1) {
        if (MainWindowMaximized()) {
            draw->AddRect(ImVec2(c.x - r, c.y - r + 2), ImVec2(c.x + r - 2, c.y + r), ink);
            draw->AddLine(ImVec2(c.x - r + 2, c.y - r), ImVec2(c.x + r, c.y - r), ink);
            draw->AddLine(ImVec2(c.x + r, c.y - r), ImVec2(c.x + r, c.y + r - 2), ink);
        } else {
            draw->AddRect(ImVec2(c.x - r, c.y - r), ImVec2(c.x + r, c.y + r), ink);
        }
    } else {
        draw->AddLine(ImVec2(c.x - r, c.y - r), ImVec2(c.x + r, c.y + r), ink);
        draw->AddLine(ImVec2(c.x - r, c.y + r), ImVec2(c.x + r, c.y - r), ink);
    }
    if (!pressed) return;
    if (kind == 0) MinimizeMainWindow();
    else if (kind == 1) ToggleMaximizeMainWindow();
    else App().closeRequested = true;
}

}  // namespace

float DrawTitleBar() {
    AppState& app = App();
    app.titleBar.interactive.clear();
    app.titleBar.height = kTitleBarHeight;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(ImVec2(viewport->Size.x, kTitleBarHeight));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(18, 20, 24, 255));
    ImGui::PushStyleColor(ImGuiCol_MenuBarBg, IM_COL32(18, 20, 24, 255));
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_MenuBar |
                                   ImGuiWindowFlags_NoBringToFrontOnFocus;
    ImGui::Begin("##titlebar", nullptr, flags);
    ImGui::PopStyleVar(3);
    // The menu bar fills the caption's height.
    const float padY = (kTitleBarHeight - ImGui::GetFontSize()) * 0.5f;
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(8.0f, padY));
    if (ImGui::BeginMenuBar()) {
        ImGui::SetCursorPosX(12.0f);
        ImGui::TextColored(ImVec4(0.86f, 0.62f, 0.30f, 1.0f), "Morvane");
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + 10.0f);

        // Alt + the mnemonic letter opens that menu.
        const ImGuiIO& io = ImGui::GetIO();
        const auto& bar = MenuBar();
        int openByKey = -1;
        if (io.KeyAlt && !io.KeyCtrl)
            for (size_t i = 0; i < bar.size(); ++i)
                if (MnemonicPressed(bar[i].title)) openByKey = static_cast<int>(i);

        for (size_t i = 0; i < bar.size(); ++i) {
            const std::string label = MenuLabel(bar[i].title);
            if (static_cast<int>(i) == openByKey) ImGui::OpenPopup(label.c_str());
            const ImVec2 start = ImGui::GetCursorScreenPos();
            if (ImGui::BeginMenu(label.c_str())) {
                DrawMenuItems(bar[i]);
                ImGui::EndMenu();
            }
            const ImVec2 end = ImGui::GetCursorScreenPos();
            const UiRect header{start.x, 0.0f, end.x, kTitleBarHeight};
            app.titleBar.interactive.push_back(header);
            RegisterScriptTarget("menu:" + label, header);
        }

        const float right = viewport->Size.x;
        WindowButton("minimize", 0, right - 3 * kWindowButtonWidth, kTitleBarHeight);
        WindowButton("maximize", 1, right - 2 * kWindowButtonWidth, kTitleBarHeight);
        WindowButton("close", 2, right - kWindowButtonWidth, kTitleBarHeight);
        ImGui::EndMenuBar();
    }
    ImGui::PopStyleVar();
    ImGui::End();
    ImGui::PopStyleColor(2);
    return kTitleBarHeight;
}

}  // namespace morvane
