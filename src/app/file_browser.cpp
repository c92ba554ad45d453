#include "app/file_browser.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/folders.h"

namespace morvane {

namespace fs = std::filesystem;

FileBrowserState& FileBrowser() {
    static FileBrowserState state;
    return state;
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const std::string& CurrentPatterns() {
    static const std::string all = "*.*";
    const FileBrowserState& b = FileBrowser();
    const auto& filters = b.request.filters;
    if (b.filterIndex < 0 || static_cast<size_t>(b.filterIndex) >= filters.size()) return all;
    return filters[static_cast<size_t>(b.filterIndex)].patterns;
}

}  // namespace

bool MatchesFilter(const std::string& fileName, const std::string& patterns) {
    const std::string name = Lower(fileName);
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos) end = patterns.size();
        std::string pattern = Lower(patterns.substr(start, end - start));
        start = end + 1;
        if (pattern == "*" || pattern == "*.*") return true;
        if (pattern.size() > 1 && pattern[0] == '*') {
            const std::string suffix = pattern.substr(1);
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                return true;
        }
    }
    return false;
}

std::vector<FileBrowserEntry> ListFolder(const std::string& folder, const std::string& patterns) {
    std::vector<FileBrowserEntry> folders, files;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) folders.push_back({name, true});
        else if (MatchesFilter(name, patterns)) files.push_back({name, false});
    }
    auto byName = [](const FileBrowserEntry& a, const FileBrowserEntry& b) { return Lower(a.name) < Lower(b.name); };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    folders.insert(folders.end(), files.begin(), files.end());
    return folders;
}

void BrowseTo(const std::string& folder) {
    FileBrowserState& b = FileBrowser();
    fs::path next = folder == ".." ? fs::path(b.folder).parent_path() : fs::path(folder);
    if (next.empty()) next = "/";
    if (!IsFolder(next.string())) {
        b.error = "Folder not found: " + next.string();
        return;
    }
    b.folder = next.lexically_normal().string();
    if (b.folder.size() > 1 && b.folder.back() == '/') b.folder.pop_back();
    b.entries = ListFolder(b.folder, CurrentPatterns());
    b.error.clear();
}

void OpenFileBrowser(FileBrowserRequest request) {
    FileBrowserState& b = FileBrowser();
    b = FileBrowserState{};
    b.open = true;
    b.fileName = request.fileName;
    b.request = std::move(request);
    b.focusName = true;
    std::string start = b.request.folder;
    if (start.empty() || !IsFolder(start)) start = DocumentsFolder();
    if (start.empty() || !IsFolder(start)) start = "/";
    BrowseTo(start);
}

void CloseFileBrowser() { FileBrowser() = FileBrowserState{}; }

std::string WithDefaultExtension(const std::string& path, const std::vector<FileFilter>& filters) {
    if (filters.empty()) return path;
    const std::string& patterns = filters.front().patterns;
    if (patterns.size() < 3 || patterns.compare(0, 2, "*.") != 0 || patterns.find(';') != std::string::npos ||
        patterns == "*.*")
        return path;
    const std::string extension = patterns.substr(1);
    return MatchesFilter(fs::path(path).filename().string(), patterns) ? path : path + extension;
}

bool AcceptFileBrowser() {
    FileBrowserState& b = FileBrowser();
    const std::string name = b.fileName;
    if (name.empty()) {
        if (b.request.mode == BrowseMode::ChooseFolder) {
            auto onChosen = b.request.onChosen;
            const std::string chosen = b.folder;
            CloseFileBrowser();
            if (onChosen) onChosen(chosen);
            return true;
        }
        b.error = "Type a file name or choose a file";
        return false;
    }
    const std::string path = name[0] == '/' ? name : JoinPath(b.folder, name);
    if (IsFolder(path) && b.request.mode != BrowseMode::ChooseFolder) {
        BrowseTo(path);
        b.fileName.clear();
        return false;
    }
    if (b.request.mode == BrowseMode::OpenFile && !IsFile(path)) {
        b.error = "File not found: " + path;
        return false;
    }
    if (b.request.mode == BrowseMode::ChooseFolder && !IsFolder(path)) {
        b.error = "Folder not found: " + path;
        return false;
    }
    if (b.request.mode == BrowseMode::SaveFile && !IsFolder(fs::path(path).parent_path().string())) {
        b.error = "Folder not found: " + fs::path(path).parent_path().string();
        return false;
    }
    if (b.request.mode == BrowseMode::SaveFile) {
        // Replacing another file takes a second press, so one Enter never loses a file.
        const std::string target = WithDefaultExtension(path, b.request.filters);
        if (IsFile(target) && b.confirmedReplace != target) {
            b.error = fs::path(target).filename().string() + " already exists \xE2\x80\x94 press Save again to replace it";
            b.confirmedReplace = target;
            return false;
        }
    }
    // The callback may open another browser (a save that continues into an open), so
    // the card is closed before it runs.
    auto onChosen = b.request.onChosen;
    CloseFileBrowser();
    if (onChosen) onChosen(path);
    return true;
}

std::vector<FileFilter> ProjectFileFilters() {
    return {{"Morvane Projects", "*.mvproj"}, {"All Files", "*.*"}};
}

std::vector<FileFilter> VideoFileFilters() {
    return {{"Video Files", "*.mp4;*.mov;*.m4v;*.avi;*.mkv;*.wmv;*.webm;*.mxf"}, {"All Files", "*.*"}};
}

std::vector<FileFilter> AudioFileFilters() {
    return {{"Audio Files", "*.wav;*.aif;*.aiff;*.flac;*.ogg;*.mp3;*.w64;*.caf"}, {"All Files", "*.*"}};
}

std::vector<FileFilter> MarkerFileFilters() {
    return {{"Session Text", "*.txt"}, {"All Files", "*.*"}};
}

}  // namespace morvane
