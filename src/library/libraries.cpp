#include "library/libraries.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "library/audio_file.h"
#include "library/features.h"
#include "library/index_file.h"
#include "library/scan.h"
#include "library/ucs.h"
#include "platform/folders.h"

namespace morvane {

namespace {

std::mutex gInterpretationMutex;
std::shared_ptr<const std::unordered_map<std::string, int>> gInterpretations;

bool NameInUse(const std::vector<Library>& libraries, const std::string& name) {
    return std::any_of(libraries.begin(), libraries.end(), [&](const Library& l) { return l.name == name; });
}

std::string_view WithoutTrailingSlash(std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    return folder;
}

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string LibraryIndexFolder(const LibrarySet& set) {
    return set.indexFolder.empty() ? LibrariesFolder() : set.indexFolder;
}

std::string LibraryIndexPath(const LibrarySet& set, const std::string& name) {
    const std::string folder = LibraryIndexFolder(set);
    if (folder.empty() || name.empty()) return {};
    return folder + "/" + name + ".mvlib";
}

std::string LibraryNameOfFolder(const std::string& folder) {
    std::string text = folder;
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const size_t slash = text.rfind('/');
    std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    const size_t dot = last.rfind('.');
    if (dot != std::string::npos && dot > 0) last = last.substr(0, dot);
    if (last.empty() || last == "." || last == ".." || last == "/") return "Library";
    return last;
}

void ApplyFolderSettings(std::vector<Library>& libraries, const std::vector<LibraryFolderSetting>& settings) {
    for (Library& library : libraries) {
        if (library.folder.empty()) continue;
        for (const LibraryFolderSetting& setting : settings)
            if (WithoutTrailingSlash(setting.path) == WithoutTrailingSlash(library.folder)) {
                library.enabled = setting.enabled;
                library.weightClass = std::clamp(setting.weightClass, -1, 2);
                break;
            }
    }
}

int LoadAllLibraries(LibrarySet& set) {
    const std::string folder = LibraryIndexFolder(set);
    if (folder.empty()) return 0;
    std::vector<std::string> paths;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->path().extension() == ".mvlib" && it->is_regular_file(typeError)) paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Library> loaded;
    for (const std::string& path : paths) {
        Library library;
        if (!LoadLibraryIndex(path, library)) {
            std::printf("[Library] Could not read %s\n", path.c_str());
            continue;
        }
        MakeLibrarySummary(library);
        loaded.push_back(std::move(library));
    }
    std::lock_guard<std::mutex> lock(set.mutex);
    for (Library& library : loaded) {
        auto same = std::find_if(set.libraries.begin(), set.libraries.end(),
                                 [&](const Library& l) { return l.name == library.name; });
        if (same != set.libraries.end()) *same = std::move(library);
        else set.libraries.push_back(std::move(library));
    }
    RebuildInterpretationTable(set.libraries);
    return static_cast<int>(loaded.size());
}

std::string SavePalette(LibrarySet& set, const std::string& name, const std::vector<std::string>& paths,
                        const std::string& sourceFolder) {
    std::string base = name;
    if (base.empty()) {
        std::string folder = sourceFolder;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const size_t slash = folder.rfind('/');
        const std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
        base = last.empty() || last == "/" ? "Palette" : last + " Palette";
    }
    // The name becomes a file name in the index folder: it may not climb out of it.
    std::replace(base.begin(), base.end(), '/', '_');

    Library palette;
    palette.savedPalette = true;
    palette.scanned = NowSeconds();
    std::vector<LibraryEntry> picked;
    std::vector<bool> known;  // false: not in any library, analysed below
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        palette.name = base;
        for (int n = 2; NameInUse(set.libraries, palette.name); ++n) palette.name = base + " " + std::to_string(n);
        for (const std::string& path : paths) {
            std::error_code error;
            if (!std::filesystem::is_regular_file(path, error)) continue;
            const LibraryEntry* found = nullptr;
            for (const Library& library : set.libraries) {
                auto it = std::find_if(library.entries.begin(), library.entries.end(),
                                       [&](const LibraryEntry& entry) { return entry.path == path; });
                if (it != library.entries.end()) {
                    found = &*it;
                    break;
                }
            }
            LibraryEntry entry;
            if (found != nullptr) entry = *found;
            else entry.path = path;
            picked.push_back(std::move(entry));
            known.push_back(found != nullptr);
        }
    }
    // Files not in any library are analysed outside the lock; a failure drops them.
    AnalysisContextPtr context;
    for (size_t i = 0; i < picked.size(); ++i) {
        if (known[i]) {
            palette.entries.push_back(std::move(picked[i]));
            continue;
        }
        if (!context) context = MakeAnalysisContext();
        LibraryEntry fresh;
        if (AnalyzeFile(picked[i].path, fresh, context.get())) palette.entries.push_back(std::move(fresh));
    }
    GroupMultiMono(palette);
    MakeLibrarySummary(palette);

    std::lock_guard<std::mutex> lock(set.mutex);
    // Another palette may have taken the name while the files were analysed.
    for (int n = 2; NameInUse(set.libraries, palette.name); ++n) palette.name = base + " " + std::to_string(n);
    const std::string indexPath = LibraryIndexPath(set, palette.name);
    if (!indexPath.empty()) {
        std::error_code error;
        std::filesystem::create_directories(LibraryIndexFolder(set), error);
        if (!SaveLibraryIndex(palette, indexPath)) {
            std::printf("[Library] Could not write palette index %s\n", indexPath.c_str());
            return {};
        }
    }
    const std::string saved = palette.name;
    set.libraries.push_back(std::move(palette));
    RebuildInterpretationTable(set.libraries);
    return saved;
}

int SetFileInterpretation(LibrarySet& set, const std::string& path, int value) {
    value = std::clamp(value, 0, 3);
    std::lock_guard<std::mutex> lock(set.mutex);
    int changed = 0;
    for (Library& library : set.libraries) {
        bool libraryChanged = false;
        for (LibraryEntry& entry : library.entries) {
            if (entry.path != path || entry.channelInterpretation == value) continue;
            entry.channelInterpretation = value;
            libraryChanged = true;
            ++changed;
        }
        if (!libraryChanged) continue;
        const std::string indexPath = LibraryIndexPath(set, library.name);
        if (!indexPath.empty() && !SaveLibraryIndex(library, indexPath))
            std::printf("[Library] Could not write %s\n", indexPath.c_str());
    }
    RebuildInterpretationTable(set.libraries);
    return changed;
}

namespace {

// Changes one library under the set's lock, saves its index and refreshes the table.
template <typename Change>
bool ChangeLibrary(LibrarySet& set, const std::string& name, Change change) {
    std::lock_guard<std::mutex> lock(set.mutex);
    auto library = std::find_if(set.libraries.begin(), set.libraries.end(), [&](const Library& l) { return l.name == name; });
    if (library == set.libraries.end()) return false;
    change(*library);
    RebuildInterpretationTable(set.libraries);
    const std::string indexPath = LibraryIndexPath(set, name);
    std::string why;
    if (indexPath.empty() || SaveLibraryIndex(*library, indexPath, &why)) return true;
    std::printf("[Library] Could not write %s: %s\n", indexPath.c_str(), why.c_str());
    return false;
}

}  // namespace

bool SetLibraryInterpretation(LibrarySet& set, const std::string& name, int value) {
    return ChangeLibrary(set, name, [&](Library& library) { library.channelInterpretation = std::clamp(value, 0, 3); });
}

bool SetLibraryGroupingOff(LibrarySet& set, const std::string& name, bool separate) {
    return ChangeLibrary(set, name, [&](Library& library) {
        library.disableGrouping = separate;
        RegroupMultiMono(library);
    });
}

void RebuildInterpretationTable(const std::vector<Library>& libraries) {
    auto table = std::make_shared<std::unordered_map<std::string, int>>();
    for (const Library& library : libraries)
        for (const LibraryEntry& entry : library.entries) {
            const int value = entry.channelInterpretation != 0 ? entry.channelInterpretation
                                                               : library.channelInterpretation;
            if (value != 0) (*table)[entry.path] = value;
        }
    std::lock_guard<std::mutex> lock(gInterpretationMutex);
    gInterpretations = std::move(table);
}

int InterpretationOfPath(const std::string& path) {
    std::shared_ptr<const std::unordered_map<std::string, int>> table;
    {
        std::lock_guard<std::mutex> lock(gInterpretationMutex);
        table = gInterpretations;
    }
    if (!table) return 0;
    auto found = table->find(path);
    return found == table->end() ? 0 : found->second;
}

std::string UcsCatIdOfName(std::string_view name) {
    const size_t end = name.find_first_of("_ -.");
    const UcsRow* row = FindUcsRow(name.substr(0, end));
    return row ? row->catId : "";
}

}  // namespace morvane
