#include "app/app_state.h"

#include <SDL.h>
#include <imgui.h>

#include "app/blocking_job.h"
#include "app/commands.h"
#include "app/editor_state.h"
#include "app/file_browser.h"
#include "model/preferences.h"

namespace morvane {

AppState& App() {
    static AppState state;
    return state;
}

void SetStatus(const std::string& text, float seconds) {
    App().statusText = text;
    App().statusTimer = seconds;
}

void PostStatus(const std::string& text) {
    AppState& app = App();
    std::lock_guard<std::mutex> lock(app.pendingStatusMutex);
    app.pendingStatusText = text;
}

void SetPendingProject(const std::string& path) { App().pendingProject = path; }

void RequestThumbnail() { App().thumbnailRequested = true; }

void PostCommand(int commandId) {
    AppState& app = App();
    if (commandId == kCmdExit) {
        app.closeRequested = true;
    } else if (commandId == kCmdClearRecent) {
        ClearRecentProjects();
        SavePreferences();
    } else if (commandId != 0) {
        app.pendingCommand = commandId;
    }
}

bool IsBusy() {
    AppState& app = App();
    for (const auto& source : app.hooks.busySources)
        if (source && source()) return true;
    if (app.statusTimer > 0.0f) return true;
    if (app.unsavedCardOpen || app.aboutCardOpen || FileBrowser().open) return true;
    if (Editor().playing || BlockingJobRunning()) return true;
    if (app.pendingCommand != 0 || !app.pendingProject.empty() || app.closeRequested) return true;
    {
        std::lock_guard<std::mutex> lock(app.pendingStatusMutex);
        if (!app.pendingStatusText.empty()) return true;
    }
    // Input the interface has queued but not yet handled (characters typed this frame).
    if (ImGui::GetCurrentContext() && ImGui::GetIO().InputQueueCharacters.Size > 0) return true;
    return false;
}

}  // namespace morvane
