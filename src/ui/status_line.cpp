// The status line (the shell's one-line message while its timer runs, and what was
// dropped on the window) and the footer (the project's name, state and counts).
#include <imgui.h>

#include <filesystem>
#include <string>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "edit/selection.h"
#include "model/project_lifecycle.h"
#include "model/timeline.h"
#include "model/update_check.h"
#include "ui/panels.h"

namespace morvane {

void DrawStatusLine(const PanelRect& rect) {
    AppState& app = App();
    BeginRegion("##status", rect, IM_COL32(18, 20, 24, 255));
    const float y = rect.y + (rect.h - ImGui::GetTextLineHeight()) * 0.5f;
    ImGui::SetCursorScreenPos(ImVec2(rect.x + 10, y));
    if (app.statusTimer > 0.0f) {
        ImGui::TextUnformatted(app.statusText.c_str());
    } else {
        // Background rendering the user does not wait for still says what it does.
        const std::string job = AudioJobStatus();
        if (!job.empty()) ImGui::TextDisabled("%s", job.c_str());
    }
    const DropTarget& drop = app.drop;
    if (!drop.droppedFolders.empty() || !drop.droppedFiles.empty()) {
        char text[96];
        std::snprintf(text, sizeof text, "Dropped: %d folders, %d audio files", static_cast<int>(drop.droppedFolders.size()),
                      static_cast<int>(drop.droppedFiles.size()));
        ImGui::SetCursorScreenPos(ImVec2(rect.x + rect.w - ImGui::CalcTextSize(text).x - 10, y));
        ImGui::TextDisabled("%s", text);
    }
    EndRegion();
}

void DrawFooter(const PanelRect& rect) {
    BeginRegion("##footer", rect, IM_COL32(14, 16, 19, 255));
    const Project& project = CurrentProject();
    const std::string path = CurrentSession().projectPath;
    std::string name = path.empty() ? std::string("Untitled") : std::filesystem::path(path).stem().string();
    if (project.modified) name += " \xE2\x80\xA2";  // a dot: unsaved changes
    const float y = rect.y + (rect.h - ImGui::GetTextLineHeight()) * 0.5f;
    ImGui::SetCursorScreenPos(ImVec2(rect.x + 10, y));
    ImGui::TextUnformatted(name.c_str());
    char right[160];
    const int selected = SelectedCount(CurrentEdit());
    std::snprintf(right, sizeof right, "%d events%s%s  \xC2\xB7  %d Hz  \xC2\xB7  %.3g fps  \xC2\xB7  %s",
                  static_cast<int>(project.timeline.events.size()), selected > 0 ? ", " : "",
                  selected > 0 ? (std::to_string(selected) + " selected").c_str() : "", project.projectSampleRate,
                  static_cast<double>(project.timeline.settings.fps), RunningVersion());
    ImGui::SetCursorScreenPos(ImVec2(rect.x + rect.w - ImGui::CalcTextSize(right).x - 10, y));
    ImGui::TextDisabled("%s", right);
    EndRegion();
}

}  // namespace morvane
