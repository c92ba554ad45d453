#include "app/wiring.h"

#include <string>

#include "app/app_state.h"
#include "app/commands.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "model/project_lifecycle.h"
#include "model/recipes.h"
#include "model/timeline.h"

namespace morvane {

namespace {

std::string gThumbnailProject;  // the project whose thumbnail the next capture is for

// The playhead belongs to playback, which is not part of this build yet.
// ADAPTER: replace with the playback position once it exists.
float Playhead() { return 0.0f; }

bool ExecuteOwnedCommand(int id) {
    Project& project = CurrentProject();
    if (id >= kCmdRecipeFirst && id < kCmdRecipeFirst + 1000) {
        const size_t index = static_cast<size_t>(id - kCmdRecipeFirst);
        if (index < Recipes().size() && Recipes()[index]) PlaceRecipe(project, *Recipes()[index], Playhead());
        return true;
    }
    if (id >= kCmdChainFirst && id < kCmdChainFirst + 1000) {
        const size_t index = static_cast<size_t>(id - kCmdChainFirst);
        if (index < Chains().size()) PlaceChain(project, Chains()[index], Playhead(), Prefs().chainsImportAsGroup);
        return true;
    }
    if (id == kCmdSave && !CurrentSession().projectPath.empty()) {
        SaveProjectCommand(CurrentSession().projectPath);
        return true;
    }
    return false;
}

}  // namespace

void ConnectSubsystems() {
    LifecycleHooks lifecycle = CurrentLifecycleHooks();
    lifecycle.status = [](const std::string& text, float seconds) { SetStatus(text, seconds); };
    lifecycle.resetAutosaveTimer = [] { App().autosaveAccumulator = 0.0; };
    lifecycle.requestThumbnail = [](const std::string& projectPath) {
        gThumbnailProject = projectPath;
        RequestThumbnail();
    };
    SetLifecycleHooks(lifecycle);

    ShellHooks& hooks = App().hooks;
    hooks.openProject = [](const std::string& path) { return OpenProject(path); };
    // The card's "Save" needs a place to save to; an untitled project has none until the
    // save dialog exists, so the card then stays with the user's work unsaved.
    hooks.saveProject = [] {
        const std::string path = CurrentSession().projectPath;
        return !path.empty() && SaveProjectCommand(path);
    };
    hooks.autosave = [] { return Autosave(); };
    hooks.projectPath = [] { return CurrentSession().projectPath; };
    hooks.deleteCrashLock = [] { ReleaseCrashLock(); };
    hooks.executeCommand = ExecuteOwnedCommand;
}

void WritePendingThumbnail() {
    AppState& app = App();
    if (gThumbnailProject.empty() || app.thumbnailRgba.empty()) return;
    WriteProjectThumbnail(gThumbnailProject, app.thumbnailRgba.data(), app.thumbnailWidth, app.thumbnailHeight);
    gThumbnailProject.clear();
}

}  // namespace morvane
