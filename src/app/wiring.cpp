#include "app/wiring.h"

#include <string>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/commands.h"
#include "app/editor_state.h"
#include "app/project_commands.h"
#include "app/scene_edit.h"
#include "app/timeline_edit.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "model/project_lifecycle.h"
#include "model/recipes.h"
#include "model/timeline.h"

namespace morvane {

namespace {

std::string gThumbnailProject;  // the project whose thumbnail the next capture is for

float Playhead() { return Editor().playhead; }

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
    switch (id) {
        case kCmdSave: SaveCommand(); return true;
        case kCmdRender: RenderTimelineCommand(); return true;
        case kCmdSaveAs: SaveAsCommand(); return true;
        case kCmdNew:
        case kCmdClose: NewProjectCommand(); return true;
        case kCmdOpen: OpenProjectCommand(); return true;
        case kCmdImportVideo: ImportVideoCommand(); return true;
        case kCmdImportMarkers: ImportMarkersCommand(); return true;
        case kCmdPlaceClip: PlaceClipCommand(); return true;
        case kCmdPlaceBed: CreateEventAtPlayhead(EventShape::Bed); return true;
        case kCmdCreateSpot: CreateEventAtPlayhead(EventShape::Spot); return true;
        case kCmdCreateBloom: CreateEventAtPlayhead(EventShape::Bloom); return true;
        case kCmdCreateContour: CreateEventAtPlayhead(EventShape::Contour); return true;
        case kCmdCreateFill: CreateEventAtPlayhead(EventShape::Fill); return true;
        case kCmdDelete: DeleteSelected(); return true;
        case kCmdCut: CutSelected(); return true;
        case kCmdCopy: CopySelected(); return true;
        case kCmdPaste: PasteAtPlayhead(); return true;
        case kCmdSelectAll: SelectAll(); return true;
        case kCmdGroup: GroupSelected(); return true;
        case kCmdUngroup: UngroupSelected(); return true;
        case kCmdLock: ToggleLockSelected(); return true;
        case kCmdMute: ToggleMuteSelected(); return true;
        case kCmdSetIn: SetWorkAreaIn(); return true;
        case kCmdSetOut: SetWorkAreaOut(); return true;
        case kCmdClearWorkArea: ClearWorkArea(); return true;
        case kCmdSaveScene: SaveSceneFromSelection(); return true;
        case kCmdZoomIn: ZoomBy(1.5f); return true;
        case kCmdZoomOut: ZoomBy(1.0f / 1.5f); return true;
        case kCmdZoomFit: RequestZoomToFit(); return true;
        case kCmdDrawMode: Editor().drawMode = !Editor().drawMode; return true;
        case kCmdExport:
        case kCmdSettings: return true;  // the tab is shown; its controls do the rest
        default: return false;
    }
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
    hooks.openProject = [](const std::string& path) { return OpenProjectNow(path); };
    // The card's "Save" of an untitled project asks for a place first (frame_tasks).
    hooks.saveProject = [] {
        const std::string path = CurrentSession().projectPath;
        return !path.empty() && SaveProjectCommand(path);
    };
    hooks.autosave = [] { return Autosave(); };
    hooks.projectPath = [] { return CurrentSession().projectPath; };
    hooks.deleteCrashLock = [] { ReleaseCrashLock(); };
    hooks.executeCommand = ExecuteOwnedCommand;
    ConnectAudioEngine();
}

void WritePendingThumbnail() {
    AppState& app = App();
    if (gThumbnailProject.empty() || app.thumbnailRgba.empty()) return;
    WriteProjectThumbnail(gThumbnailProject, app.thumbnailRgba.data(), app.thumbnailWidth, app.thumbnailHeight);
    gThumbnailProject.clear();
}

}  // namespace morvane
