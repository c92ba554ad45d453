#include "ui/draw_ui.h"

#include <imgui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/commands.h"
#include "app/fonts.h"
#include "app/frame_tasks.h"
#include "app/library_session.h"
#include "app/blocking_job.h"
#include "app/editor_state.h"
#include "app/export_session.h"
#include "app/timeline_view.h"
#include "app/trace_session.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "app/ui_script.h"
#include "app/video_session.h"
#include "model/timeline.h"
#include "ui/panels.h"

namespace morvane {

namespace {

constexpr float kStatusLineHeight = 24.0f;
constexpr float kFooterHeight = 22.0f;
constexpr float kSidePanelWidth = 360.0f;  // at the medium text size; grows with the text
constexpr float kTransportHeight = 40.0f;

const char* const kTabs[kSideTabCount] = {"Events", "Trace", "Library", "Mixer", "Export", "Settings"};

void DrawSidePanel(const PanelRect& rect) {
    AppState& app = App();
    BeginRegion("##side", rect, IM_COL32(22, 25, 30, 255));
    UiScriptMaybeThrow();  // a scripted fault, thrown with a window and a tab bar open
    if (ImGui::BeginTabBar("##tabs")) {
        // A menu command selects a tab (the tab bar shows it from the next frame on);
        // otherwise the user's clicks do, and the tab shown is remembered.
        static int shownTab = -1;
        const int requested = static_cast<int>(app.sideTab);
        const bool switching = requested != shownTab;
        for (int i = 0; i < kSideTabCount; ++i) {
            const ImGuiTabItemFlags flags = switching && i == requested ? ImGuiTabItemFlags_SetSelected : 0;
            const bool open = ImGui::BeginTabItem(kTabs[i], nullptr, flags);
            RegisterLastItem((std::string("tab:") + kTabs[i]).c_str());
            if (open) {
                const SideTab tab = static_cast<SideTab>(i);
                if (!switching) app.sideTab = tab;
                shownTab = i;
                ImGui::BeginChild("##tabbody", ImVec2(0, 0), false);
                if (tab == SideTab::Events) DrawEventsTab();
                else if (tab == SideTab::Settings) DrawSettingsTab();
                else if (tab == SideTab::Library) DrawLibraryTab();
                else if (tab == SideTab::Trace) DrawTraceTab();
                else if (tab == SideTab::Export) DrawExportTab();
                else if (tab == SideTab::Mixer) DrawMixerTab();
                ImGui::EndChild();
                ImGui::EndTabItem();
            }
        }
        ImGui::EndTabBar();
    }
    EndRegion();
}

// Keys of the main window that are not menu shortcuts: Space plays and pauses, Home
// returns to the start. Not while a text field has the keyboard.
void HandleTransportKeys() {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.WantTextInput || io.KeyCtrl || io.KeyAlt || ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId)) return;
    if (LibraryBrowserHasKeys()) return;  // Space stops the audition there
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Space), false)) TogglePlay();
    if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Home), false)) Editor().playhead = 0.0f;
    // The arrows nudge the selected events by one frame, with Shift by one second.
    const int direction = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_RightArrow)) -
                          ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_LeftArrow));
    if (direction != 0 && !ImGui::IsAnyItemActive()) {
        const float fps = std::max(1.0f, CurrentProject().timeline.settings.fps);
        FollowEdit(NudgeSelected(CurrentEdit(), static_cast<float>(direction) * (io.KeyShift ? 1.0f : 1.0f / fps)));
    }
}

// Sound files dropped on the window become Clips at the playhead. Dropped folders are
// the library's (TickLibrarySession scans them).
void TakeDroppedSounds() {
    DropTarget& drop = App().drop;
    if (drop.dragging || drop.droppedFiles.empty()) return;
    const std::vector<std::string> files = std::move(drop.droppedFiles);
    drop.droppedFiles.clear();
    PlaceSoundFilesAtPlayhead(files);
}

void DrawPanels() {
    HandleInterfaceShortcuts();
    HandleTransportKeys();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const float width = viewport->Size.x, height = viewport->Size.y;
    const float top = DrawTitleBar();
    const float footerY = height - kFooterHeight;
    const float statusY = footerY - kStatusLineHeight;
    // The timeline takes two fifths of what is left, never less than room for a few rows.
    const float work = statusY - top;
    const float timelineH = std::max(180.0f, work * 0.4f);
    const float timelineY = statusY - timelineH;
    const float transportY = timelineY - kTransportHeight;
    const float sideW = kSidePanelWidth * std::max(1.0f, ImGui::GetFontSize() / kFontSizes[1][0]);
    const float videoW = width - sideW;

    DrawVideoArea({0, top, videoW, transportY - top});
    DrawSidePanel({videoW, top, sideW, transportY - top});
    DrawTransport({0, transportY, width, kTransportHeight});
    DrawTimeline({0, timelineY, width, timelineH});
    DrawStatusLine({0, statusY, width, kStatusLineHeight});
    DrawFooter({0, footerY, width, kFooterHeight});
    DrawUnsavedCard();
    DrawAboutCard();
    DrawFileBrowserCard();
    DrawProgressOverlay();
}

}  // namespace

void DrawUI() {
    const float dt = ImGui::GetIO().DeltaTime;
    RunFirstFrameWork();
    HandleCloseRequest();
    HandlePendingProject();
    ExecutePendingCommand();
    PickUpBackgroundResults();
    PollBlockingJob();
    TickAudioEngine();
    TakeDroppedSounds();
    TickLibrarySession();
    TickTraceSession();
    TickExportSession();
    SyncSelection(CurrentEdit());
    AdvanceTransport(dt);
    TickVideoSession();
    DrawPanels();
    ServeTimers();
}

}  // namespace morvane

namespace morvane {

void BeginRegion(const char* id, const PanelRect& rect, unsigned int background) {
    ImGui::SetNextWindowPos(ImVec2(rect.x, rect.y));
    ImGui::SetNextWindowSize(ImVec2(rect.w, rect.h));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, background);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin(id, nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoScrollWithMouse);
}

void EndRegion() {
    ImGui::End();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
}

void RegisterLastItem(const char* name) {
    if (UiScriptTakeReveal(name)) ImGui::SetScrollHereY(0.5f);
    const ImVec2 a = ImGui::GetItemRectMin(), b = ImGui::GetItemRectMax();
    RegisterScriptTarget(name, {a.x, a.y, b.x, b.y});
}

}  // namespace morvane
