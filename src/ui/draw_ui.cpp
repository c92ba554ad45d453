#include "ui/draw_ui.h"

#include <imgui.h>

#include <cstdio>
#include <ctime>

#include "app/app_state.h"
#include "app/commands.h"
#include "app/fonts.h"
#include "app/frame_tasks.h"
#include "app/ui_script.h"
#include "model/preferences.h"
#include "model/timeline.h"
#include "model/update_check.h"
#include "platform/open_external.h"

namespace morvane {

namespace {

constexpr float kStatusLineHeight = 26.0f;
constexpr float kSidePanelWidth = 360.0f;

const char* const kTabs[] = {"Events", "Trace", "Library", "Mixer", "Export", "Settings"};

void RegisterLastItem(const char* name) {
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    RegisterScriptTarget(name, {a.x, a.y, b.x, b.y});
}

void DrawEventsTab() {
    Project& project = CurrentProject();
    ImGui::Text("%d events", static_cast<int>(project.timeline.events.size()));
    ImGui::Spacing();
    ImGui::TextUnformatted("Description");
    // The field shows the project's text except while the user edits it, so a project
    // opened meanwhile shows its own description.
    static char description[256];
    static bool editing = false;
    if (!editing) std::snprintf(description, sizeof description, "%s", project.projectDescription.c_str());
    const bool changed = ImGui::InputTextMultiline("##description", description, sizeof description, ImVec2(-1, 80));
    editing = ImGui::IsItemActive();
    if (changed) {
        project.projectDescription = description;
        project.modified = true;
    }
    RegisterLastItem("description");
}

void DrawUpdateSection() {
    Preferences& prefs = Prefs();
    ImGui::TextUnformatted("Updates");
    ImGui::Separator();
    if (UpdateCheckRunning()) {
        ImGui::TextUnformatted("Checking\xE2\x80\xA6");
    } else if (ImGui::Button("Check now")) {
        StartUpdateCheck();
    }
    for (const std::string& line : UpdateStatusLines(prefs)) ImGui::TextWrapped("%s", line.c_str());
    if (UpdateOffered(prefs)) {
        if (!prefs.updateAvailableNote.empty()) ImGui::TextWrapped("%s", prefs.updateAvailableNote.c_str());
        if (ImGui::Button("View update")) OpenWithDesktop(UpdatePageToOpen(prefs));
        ImGui::SameLine();
        if (ImGui::Button("Dismiss")) DismissUpdate(prefs);
    }
    const std::string last = LastCheckedText(prefs.lastUpdateCheck, static_cast<long long>(std::time(nullptr)));
    if (!last.empty()) ImGui::TextDisabled("%s", last.c_str());
    if (ImGui::Checkbox("Check for updates automatically", &prefs.updateCheckEnabled)) MarkPreferencesDirty();
}

void DrawSettingsTab() {
    Preferences& prefs = Prefs();
    const char* presets[] = {"Small", "Medium", "Large"};
    int preset = prefs.fontSizePreset;
    if (ImGui::Combo("Text size", &preset, presets, 3)) {
        prefs.fontSizePreset = preset;
        ApplyFontPreset(preset);
        MarkPreferencesDirty();
    }
    ImGui::Spacing();
    DrawUpdateSection();
}

void DrawSidePanel(float top, float bottom) {
    AppState& app = App();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + viewport->Size.x - kSidePanelWidth, top));
    ImGui::SetNextWindowSize(ImVec2(kSidePanelWidth, bottom - top));
    ImGui::Begin("##side", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    UiScriptMaybeThrow();  // a scripted fault, thrown with a window and a tab bar open
    if (ImGui::BeginTabBar("##tabs")) {
        for (int i = 0; i < 6; ++i) {
            // A menu command selects a tab; afterwards the user's clicks do.
            static int shownTab = -1;
            ImGuiTabItemFlags flags = 0;
            if (app.sideTab == i && shownTab != app.sideTab) flags |= ImGuiTabItemFlags_SetSelected;
            if (ImGui::BeginTabItem(kTabs[i], nullptr, flags)) {
                app.sideTab = i;
                shownTab = i;
                if (i == 0) DrawEventsTab();
                else if (i == 5) DrawSettingsTab();
                else ImGui::TextDisabled("%s", kTabs[i]);
                ImGui::EndTabItem();
            }
        }
        ImGui::EndTabBar();
    }
    ImGui::End();
}

void DrawWorkArea(float top, float bottom) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x, top));
    ImGui::SetNextWindowSize(ImVec2(viewport->Size.x - kSidePanelWidth, bottom - top));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(0, 0, 0, 0));
    ImGui::Begin("##work", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    // The video area and the timeline lanes are drawn here by their own panels.
    ImGui::End();
    ImGui::PopStyleColor();
}

void DrawStatusLine(float top) {
    AppState& app = App();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x, top));
    ImGui::SetNextWindowSize(ImVec2(viewport->Size.x, kStatusLineHeight));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, IM_COL32(18, 20, 24, 255));
    ImGui::Begin("##status", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    if (app.statusTimer > 0.0f) ImGui::TextUnformatted(app.statusText.c_str());
    const DropTarget& drop = app.drop;
    if (!drop.droppedFolders.empty() || !drop.droppedFiles.empty()) {
        ImGui::SameLine(viewport->Size.x - 300.0f);
        ImGui::TextDisabled("Dropped: %d folders, %d audio files", static_cast<int>(drop.droppedFolders.size()),
                            static_cast<int>(drop.droppedFiles.size()));
    }
    ImGui::End();
    ImGui::PopStyleColor();
}

void DrawUnsavedCard() {
    AppState& app = App();
    if (app.unsavedCardOpen && !ImGui::IsPopupOpen("Unsaved")) ImGui::OpenPopup("Unsaved");
    bool keepOpen = true;
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (ImGui::BeginPopupModal("Unsaved", &keepOpen, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted("The project has unsaved changes.");
        ImGui::Spacing();
        const bool save = ImGui::Button("Save", ImVec2(100, 0));
        RegisterLastItem("Save");
        ImGui::SameLine();
        const bool discard = ImGui::Button("Discard", ImVec2(100, 0));
        RegisterLastItem("Discard");
        if (save || discard) {
            ImGui::CloseCurrentPopup();
            ResolveUnsaved(save);
        }
        ImGui::EndPopup();
    }
    if (!keepOpen) CancelUnsaved();
}

void DrawAboutCard() {
    AppState& app = App();
    if (app.aboutCardOpen && !ImGui::IsPopupOpen("About Morvane")) ImGui::OpenPopup("About Morvane");
    bool keepOpen = true;
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (ImGui::BeginPopupModal("About Morvane", &keepOpen, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::PushFont(UiFont(3, FontFamily::Medium));
        ImGui::TextUnformatted("Morvane");
        ImGui::PopFont();
        ImGui::Text("Version %s", RunningVersion());
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
            keepOpen = false;
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    if (!keepOpen) app.aboutCardOpen = false;
}

void DrawPanels() {
    HandleInterfaceShortcuts();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const float top = DrawTitleBar();
    const float bottom = viewport->Size.y - kStatusLineHeight;
    DrawWorkArea(top, bottom);
    DrawSidePanel(top, bottom);
    DrawStatusLine(bottom);
    DrawUnsavedCard();
    DrawAboutCard();
}

}  // namespace

void DrawUI() {
    const float dt = ImGui::GetIO().DeltaTime;
    RunFirstFrameWork();
    HandleCloseRequest();
    HandlePendingProject();
    ExecutePendingCommand();
    PickUpBackgroundResults();
    DrawPanels();
    TickStatus(dt);
    TickDeviceWatchdog(dt);
    TickAutosave(dt);
}

}  // namespace morvane
