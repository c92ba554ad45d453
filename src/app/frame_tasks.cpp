#include "app/frame_tasks.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/app_state.h"
#include "app/fonts.h"
#include "app/project_commands.h"
#include "model/demo_content.h"
#include "model/preferences.h"
#include "model/recipes.h"
#include "model/timeline.h"
#include "model/update_check.h"
#include "platform/folders.h"

namespace morvane {

namespace {

bool HasUnsavedEvents() {
    const Project& project = CurrentProject();
    return project.modified && !project.timeline.events.empty();
}

void OpenProjectHere(const std::string& path) {
    AppState& app = App();
    if (app.hooks.openProject) {
        app.hooks.openProject(path);
        return;
    }
    std::printf("[Project] cannot open %s: opening projects is not part of this build yet\n", path.c_str());
}


void Quit() {
    SavePreferences();
    App().quit = true;
}

void CarryOut(PendingAction action, const std::string& path) {
    if (action == PendingAction::Quit) Quit();
    else if (action == PendingAction::OpenProject) OpenProjectHere(path);
    else if (action == PendingAction::NewProject) StartNewProject();
}

void AskAboutUnsaved(PendingAction action, const std::string& path) {
    AppState& app = App();
    app.pendingAction = action;
    app.pendingActionPath = path;
    app.unsavedCardOpen = true;
}

}  // namespace

void RunFirstFrameWork() {
    AppState& app = App();
    if (app.firstFrameDone) return;
    app.firstFrameDone = true;
    EnsureUserFolders();  // the application data folder and the documents tree
    LoadPreferences();
    InstallDemoContent(false);
    LoadAllRecipes();
    LoadAllChains();
    ApplyFontPreset(Prefs().fontSizePreset);
    if (Prefs().projectSampleRate != app.outputSampleRate) {
        app.outputSampleRate = Prefs().projectSampleRate;
        if (app.hooks.openAudioOutput) app.hooks.openAudioOutput(app.outputSampleRate);
    }
    if (UpdateCheckDue(Prefs(), static_cast<long long>(std::time(nullptr)))) StartUpdateCheck();
}

void HandleCloseRequest() {
    AppState& app = App();
    if (!app.closeRequested) return;
    app.closeRequested = false;
    if (HasUnsavedEvents()) AskAboutUnsaved(PendingAction::Quit, {});
    else Quit();
}

void HandlePendingProject() {
    AppState& app = App();
    if (app.pendingProject.empty()) return;
    const std::string path = std::move(app.pendingProject);
    app.pendingProject.clear();
    if (HasUnsavedEvents()) AskAboutUnsaved(PendingAction::OpenProject, path);
    else OpenProjectHere(path);
}

void PickUpBackgroundResults() { TakeUpdateCheckResult(Prefs()); }

void TickStatus(float dt) {
    AppState& app = App();
    if (app.statusTimer > 0.0f) app.statusTimer -= dt;
    std::lock_guard<std::mutex> lock(app.pendingStatusMutex);
    if (!app.pendingStatusText.empty()) {
        app.statusText = std::move(app.pendingStatusText);
        app.statusTimer = 5.0f;
        app.pendingStatusText.clear();
    }
}

void TickDeviceWatchdog(float dt) {
    AppState& app = App();
    app.deviceWatchdog += dt;
    if (app.deviceWatchdog >= 2.5f) {
        app.deviceWatchdog = 0.0f;
        if (app.hooks.checkAudioDevice) app.hooks.checkAudioDevice();
    }
}

void TickAutosave(float dt) {
    AppState& app = App();
    const Preferences& prefs = Prefs();
    if (!prefs.autoSaveEnabled || !CurrentProject().modified || !app.hooks.autosave) return;
    if (!app.hooks.projectPath || app.hooks.projectPath().empty()) return;
    if (app.hooks.cacheRebuildRunning && app.hooks.cacheRebuildRunning()) return;
    app.autosaveAccumulator += dt;
    if (app.autosaveAccumulator < prefs.autoSaveInterval) return;
    if (app.hooks.autosave()) SetStatus("Auto-saved (backup)", 2.0f);
    app.autosaveAccumulator = 0.0;
}

void ResolveUnsaved(bool save) {
    AppState& app = App();
    app.unsavedCardOpen = false;
    const PendingAction action = app.pendingAction;
    const std::string path = app.pendingActionPath;
    app.pendingAction = PendingAction::None;
    app.pendingActionPath.clear();
    if (save) {
        // An untitled project needs a place first; the action follows a successful save
        // only, so cancelling the browser keeps the user's work open and unsaved.
        if (app.hooks.projectPath && app.hooks.projectPath().empty()) {
            SaveAsCommand([action, path] { CarryOut(action, path); });
            return;
        }
        // A save that fails (or is not available) keeps the user's work: nothing happens.
        if (!app.hooks.saveProject || !app.hooks.saveProject()) return;
    }
    CarryOut(action, path);
}

void CancelUnsaved() {
    AppState& app = App();
    app.unsavedCardOpen = false;
    app.pendingAction = PendingAction::None;
    app.pendingActionPath.clear();
}

}  // namespace morvane

namespace morvane {

void ServeTimers() {
    // Measured here rather than taken from the frame, so skipped idle frames still count.
    using Clock = std::chrono::steady_clock;
    static Clock::time_point last = Clock::now();
    const Clock::time_point now = Clock::now();
    const float dt = std::chrono::duration<float>(now - last).count();
    last = now;
    TickStatus(dt);
    TickDeviceWatchdog(dt);
    TickAutosave(dt);
}

}  // namespace morvane
