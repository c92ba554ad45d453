#include "app/wiring.h"

#include <string>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/export_session.h"
#include "app/project_commands.h"
#include "app/video_session.h"
#include "model/project_file.h"
#include "model/project_lifecycle.h"

namespace morvane {

namespace {

std::string gThumbnailProject;  // the project whose thumbnail the next capture is for

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
    hooks.openProject = [](const std::string& path) { return OpenProjectNow(path); };
    // The card's "Save" of an untitled project asks for a place first (frame_tasks).
    hooks.saveProject = [] {
        const std::string path = CurrentSession().projectPath;
        return !path.empty() && SaveProjectCommand(path);
    };
    hooks.autosave = [] { return Autosave(); };
    hooks.projectPath = [] { return CurrentSession().projectPath; };
    hooks.deleteCrashLock = [] { ReleaseCrashLock(); };
    ConnectAudioEngine();
    ConnectExportSession();
    ConnectVideoSession();
}

void WritePendingThumbnail() {
    AppState& app = App();
    if (gThumbnailProject.empty() || app.thumbnailRgba.empty()) return;
    WriteProjectThumbnail(gThumbnailProject, app.thumbnailRgba.data(), app.thumbnailWidth, app.thumbnailHeight);
    gThumbnailProject.clear();
}

}  // namespace morvane
