#include "app/project_commands.h"

#include <filesystem>
#include <memory>

#include "app/app_state.h"
#include "app/blocking_job.h"
#include "app/editor_state.h"
#include "app/file_browser.h"
#include "app/timeline_view.h"
#include "app/trace_session.h"
#include "app/video_session.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/project_lifecycle.h"
#include "model/recipes.h"
#include "platform/folders.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

bool HasUnsavedEvents() {
    const Project& project = CurrentProject();
    return project.modified && !project.timeline.events.empty();
}

void ResetView() {
    EditorState& editor = Editor();
    Edits().selected.clear();
    editor.playing = false;
    editor.playhead = 0.0f;
    editor.scrollTime = 0.0f;
    editor.fitRequested = true;
    SyncSelection(CurrentEdit());
}

std::string ProjectFolderOrDefault() {
    const std::string path = CurrentSession().projectPath;
    if (!path.empty()) return fs::path(path).parent_path().string();
    return ProjectsFolder();
}

}  // namespace

void StartNewProject() {
    NewProject();
    ResetView();
}

bool OpenProjectNow(const std::string& path) {
    if (!OpenProject(path)) return false;
    ResetView();
    return true;
}

void NewProjectCommand() {
    AppState& app = App();
    if (HasUnsavedEvents()) {
        app.pendingAction = PendingAction::NewProject;
        app.pendingActionPath.clear();
        app.unsavedCardOpen = true;
        return;
    }
    StartNewProject();
}

void OpenProjectCommand() {
    FileBrowserRequest request;
    request.title = "Open Project";
    request.mode = BrowseMode::OpenFile;
    request.filters = ProjectFileFilters();
    request.folder = ProjectFolderOrDefault();
    // Through the pending project, so unsaved work is asked about as for any open.
    request.onChosen = [](const std::string& path) { SetPendingProject(path); };
    OpenFileBrowser(std::move(request));
}

void SaveCommand() {
    const std::string path = CurrentSession().projectPath;
    if (path.empty()) SaveAsCommand();
    else SaveProjectCommand(path);
}

void SaveAsCommand(std::function<void()> after) {
    FileBrowserRequest request;
    request.title = "Save Project As";
    request.mode = BrowseMode::SaveFile;
    request.filters = ProjectFileFilters();
    request.folder = ProjectFolderOrDefault();
    const std::string current = CurrentSession().projectPath;
    request.fileName = current.empty() ? "Untitled.mvproj" : fs::path(current).filename().string();
    request.onChosen = [after = std::move(after)](const std::string& path) {
        if (SaveProjectCommand(path) && after) after();
    };
    OpenFileBrowser(std::move(request));
}

void ImportVideoCommand() {
    FileBrowserRequest request;
    request.title = "Select a video file for reference";
    request.mode = BrowseMode::OpenFile;
    request.filters = VideoFileFilters();
    request.folder = ProjectFolderOrDefault();
    // The project takes the video once it has loaded (video_session).
    request.onChosen = [](const std::string& path) { ImportVideo(path); };
    OpenFileBrowser(std::move(request));
}

void ImportMarkersCommand() {
    FileBrowserRequest request;
    request.title = "Import Pro Tools session text markers";
    request.mode = BrowseMode::OpenFile;
    request.filters = MarkerFileFilters();
    request.folder = ProjectFolderOrDefault();
    request.onChosen = [](const std::string& path) { ImportMarkersFile(path); };
    OpenFileBrowser(std::move(request));
}

void PlaceClipCommand() {
    FileBrowserRequest request;
    request.title = "Place Clip";
    request.mode = BrowseMode::OpenFile;
    request.filters = AudioFileFilters();
    request.folder = LibrariesFolder();
    request.onChosen = [](const std::string& path) { PlaceSoundFilesAtPlayhead({path}); };
    OpenFileBrowser(std::move(request));
}

}  // namespace morvane
