#pragma once
// The in-app file browser: the one place the program asks the user for a file or a
// folder. It is a modal card drawn by the interface (ui/file_browser_card.cpp); this
// is its state and the rules for what it lists and accepts.
#include <functional>
#include <string>
#include <vector>

namespace morvane {

// One entry of the type list, "Video Files" with "*.mp4;*.mov" as patterns.
struct FileFilter {
    std::string name;
    std::string patterns;  // ";"-separated; "*.*" matches everything
};

enum class BrowseMode { OpenFile, SaveFile, ChooseFolder };

struct FileBrowserRequest {
    std::string title;
    BrowseMode mode = BrowseMode::OpenFile;
    std::vector<FileFilter> filters;  // the first is the default
    std::string folder;               // where it starts; the documents folder when empty
    std::string fileName;             // suggested name (save)
    std::function<void(const std::string& path)> onChosen;
};

struct FileBrowserEntry {
    std::string name;
    bool folder = false;
};

struct FileBrowserState {
    bool open = false;
    FileBrowserRequest request;
    std::string folder;  // shown now
    int filterIndex = 0;
    std::string fileName;  // the name field
    std::vector<FileBrowserEntry> entries;
    std::string error;  // one line under the name field
    std::string confirmedReplace;  // a file the user was told exists; a second Save replaces it
    bool focusName = false;
};

FileBrowserState& FileBrowser();

// Shows the card for this request (replacing one that is open).
void OpenFileBrowser(FileBrowserRequest request);
void CloseFileBrowser();

// Case-insensitive match of a file name against a ";"-separated pattern list of the
// forms "*.ext", "*.*" and "*".
bool MatchesFilter(const std::string& fileName, const std::string& patterns);

// Lists folder: sub-folders first, then the files that match patterns, each group by
// name, hidden entries (starting with ".") left out. Empty when it cannot be read.
std::vector<FileBrowserEntry> ListFolder(const std::string& folder, const std::string& patterns);

// Changes the shown folder (".." goes up) and lists it.
void BrowseTo(const std::string& folder);

// Accepts the name field (a name in the shown folder, or a full path): a folder name
// opens that folder; otherwise the chosen path goes to the request's callback and the
// card closes. False, with the reason in error, when an opened file does not exist,
// the name is empty, or a save would replace a file and the user has not pressed again.
bool AcceptFileBrowser();

// The path a save writes: with the default type's extension ("*.mvproj") added when
// the name has none of it.
std::string WithDefaultExtension(const std::string& path, const std::vector<FileFilter>& filters);

// The filter sets of the program's dialogs.
std::vector<FileFilter> ProjectFileFilters();
std::vector<FileFilter> VideoFileFilters();
std::vector<FileFilter> AudioFileFilters();
std::vector<FileFilter> MarkerFileFilters();

}  // namespace morvane
