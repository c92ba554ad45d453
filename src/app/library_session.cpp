#include "app/library_session.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>
#include <utility>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "app/timeline_view.h"
#include "edit/timeline_edit.h"
#include "library/audio_file.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"
#include "model/undo.h"

namespace morvane {

namespace {

constexpr double kAuditionSeconds = 30.0;
constexpr Uint64 kMissingRefreshMs = 3000;

struct LibrarySession {
    LibrarySet set;
    ScanState scan;  // declared after the set: destroyed (and joined) first
    bool loaded = false;
    // The first reading of the index files runs off the frame loop: a library of
    // 100,000 files takes about a second to read. Folders added meanwhile wait for it,
    // so their scans see the libraries they continue.
    std::future<std::vector<Library>> loading;
    std::vector<std::string> foldersAwaitingLoad;
    bool wasRunning = false;
    Uint64 scanStartMs = 0;
    std::vector<MissingSourceView> missing;
    Uint64 missingCheckedMs = 0;
    bool missingDirty = true;
    std::vector<std::pair<std::string, float>> drops;  // files dropped on the timeline
    std::vector<std::pair<const void*, size_t>> builtFrom;  // the libraries builds last saw
};

LibrarySession& Session() {
    static LibrarySession session;
    return session;
}

Library* FindLibrary(const std::string& name) {
    for (Library& library : Session().set.libraries)
        if (library.name == name) return &library;
    return nullptr;
}

LibraryFolderSetting* FindSetting(const std::string& folder) {
    if (folder.empty()) return nullptr;
    for (LibraryFolderSetting& setting : Prefs().libraries)
        if (setting.path == folder) return &setting;
    return nullptr;
}

// The preference line of a library folder, made when the library has none yet (a
// library found in the index folder that the user never added from this window).
LibraryFolderSetting* SettingOf(const Library& library) {
    if (LibraryFolderSetting* setting = FindSetting(library.folder)) return setting;
    if (library.folder.empty()) return nullptr;
    Prefs().libraries.push_back({library.folder, library.enabled, library.weightClass});
    return &Prefs().libraries.back();
}

std::string NormalFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// What the scan that just ended leaves on the status line.
void ReportFinishedScan() {
    ScanState& scan = Session().scan;
    const std::string error = ScanErrorText(scan), indexError = ScanIndexErrorText(scan);
    if (!error.empty()) SetStatus(error, 8.0f);
    else if (!indexError.empty()) SetStatus("Could not save the library: " + indexError, 8.0f);
    else SetStatus(ScanStatusText(scan), 6.0f);
}

int EventsUsing(const Project& project, const std::string& path) {
    int count = 0;
    for (size_t i = 0; i < project.timeline.events.size(); ++i) {
        const Event& e = project.timeline.events[i];
        bool uses = e.pinnedFile == path ||
                    std::find(e.pinnedFiles.begin(), e.pinnedFiles.end(), path) != e.pinnedFiles.end();
        for (const Layer& layer : project.timeline.results)
            uses = uses || (layer.eventIdx == static_cast<int>(i) && layer.filepath == path);
        count += uses ? 1 : 0;
    }
    return count;
}

// The open project follows a relinked file: its events and built layers name the new path.
void FollowRelink(const std::string& oldPath, const std::string& newPath) {
    Project& project = CurrentProject();
    for (Event& e : project.timeline.events) {
        if (e.pinnedFile == oldPath) e.pinnedFile = newPath;
        std::replace(e.pinnedFiles.begin(), e.pinnedFiles.end(), oldPath, newPath);
    }
    for (Layer& layer : project.timeline.results)
        if (layer.filepath == oldPath) layer.filepath = newPath;
    project.modified = true;
}

void RefreshMissing() {
    LibrarySession& s = Session();
    const Uint64 now = SDL_GetTicks64();
    if (!s.missingDirty && now - s.missingCheckedMs < kMissingRefreshMs) return;
    s.missingDirty = false;
    s.missingCheckedMs = now;
    s.missing.clear();
    for (MissingSource& source : MissingSources(s.set)) {
        const int events = EventsUsing(CurrentProject(), source.lastKnownPath);
        s.missing.push_back({std::move(source), events});
    }
}

std::string Plural(int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// Every take-over, palette and removal gives the list or an entry list new storage;
// builds read the index files again when the storage they last saw is gone.
void NoticeLibraryChanges() {
    LibrarySession& s = Session();
    std::vector<std::pair<const void*, size_t>> now;
    now.reserve(s.set.libraries.size());
    for (const Library& library : s.set.libraries) now.emplace_back(library.entries.data(), library.entries.size());
    if (now == s.builtFrom) return;
    s.builtFrom = std::move(now);
    LibrariesChangedForBuilds();
}

}  // namespace

LibrarySet& Libraries() { return Session().set; }
ScanState& LibraryScan() { return Session().scan; }

void TickLibrarySession() {
    LibrarySession& s = Session();
    if (!s.loaded) {
        s.loaded = true;
        s.scan.maxScanThreads = 0;
        s.loading = std::async(std::launch::async, [folder = s.set.indexFolder] {
            LibrarySet loaded;
            loaded.indexFolder = folder;
            LoadAllLibraries(loaded);
            return std::move(loaded.libraries);
        });
    }
    if (s.loading.valid()) {
        if (s.loading.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
        {
            std::lock_guard<std::mutex> lock(s.set.mutex);
            s.set.libraries = s.loading.get();
        }
        for (const std::string& folder : std::exchange(s.foldersAwaitingLoad, {})) AddLibraryFolder(folder);
    }
    DropTarget& drop = App().drop;
    if (!drop.dragging && !drop.droppedFolders.empty()) {
        const std::vector<std::string> folders = std::move(drop.droppedFolders);
        drop.droppedFolders.clear();
        for (const std::string& folder : folders) AddLibraryFolder(folder);
    }
    for (const auto& [path, time] : s.drops) PlaceLibraryFileAt(path, time);
    s.drops.clear();
    const bool running = s.scan.running.load();
    if (s.wasRunning && !running) {
        WaitForScan(s.scan);
        ReportFinishedScan();
        s.missingDirty = true;
    }
    s.wasRunning = running;
    ApplyFinishedScans(s.scan, s.set);
    if (!s.wasRunning && s.scan.running.load()) {  // a queued folder started
        s.wasRunning = true;
        s.scanStartMs = SDL_GetTicks64();
    }
    ApplyFolderSettings(s.set.libraries, Prefs().libraries);
    NoticeLibraryChanges();
}

bool LibrariesLoading() { return !Session().loaded || Session().loading.valid(); }

void AddLibraryFolder(const std::string& chosen) {
    const std::string folder = NormalFolder(chosen);
    if (folder.empty()) return;
    if (!FindSetting(folder)) {
        Prefs().libraries.push_back({folder, true, -1});
        MarkPreferencesDirty();
    }
    LibrarySession& s = Session();
    if (LibrariesLoading()) {
        s.foldersAwaitingLoad.push_back(folder);
        return;
    }
    const bool wasRunning = s.scan.running.load();
    QueueScan(s.scan, s.set, folder);
    if (!wasRunning && s.scan.running.load()) {
        s.wasRunning = true;
        s.scanStartMs = SDL_GetTicks64();
    }
}

void RescanLibrary(const std::string& name, bool deep) {
    LibrarySession& s = Session();
    const Library* library = FindLibrary(name);
    if (!library || library->folder.empty()) return;
    if (!StartScan(s.scan, s.set, library->folder, library->enabled, library->weightClass, deep)) {
        SetStatus("A scan is running; wait for it or cancel it first", 4.0f);
        return;
    }
    s.wasRunning = true;
    s.scanStartMs = SDL_GetTicks64();
}

void CancelLibraryScan() { CancelScan(Session().scan); }

void RemoveLibrary(const std::string& name) {
    LibrarySession& s = Session();
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(s.set.mutex);
        auto it = std::find_if(s.set.libraries.begin(), s.set.libraries.end(),
                               [&](const Library& l) { return l.name == name; });
        if (it == s.set.libraries.end()) return;
        folder = it->folder;
        s.set.libraries.erase(it);
        RebuildInterpretationTable(s.set.libraries);
    }
    const std::string indexPath = LibraryIndexPath(s.set, name);
    std::error_code error;
    if (!indexPath.empty()) std::filesystem::remove(indexPath, error);
    auto& settings = Prefs().libraries;
    settings.erase(std::remove_if(settings.begin(), settings.end(),
                                  [&](const LibraryFolderSetting& l) { return l.path == folder; }),
                   settings.end());
    MarkPreferencesDirty();
    s.missingDirty = true;
    SetStatus(error ? "Removed " + name + "; its index could not be deleted: " + error.message() : "Removed " + name,
              4.0f);
}

void SetLibraryEnabled(const std::string& name, bool enabled) {
    Library* library = FindLibrary(name);
    if (!library) return;
    library->enabled = enabled;
    if (LibraryFolderSetting* setting = SettingOf(*library)) setting->enabled = enabled;
    MarkPreferencesDirty();
}

void SetLibraryWeightClass(const std::string& name, int weightClass) {
    Library* library = FindLibrary(name);
    if (!library) return;
    library->weightClass = std::clamp(weightClass, -1, 2);
    if (LibraryFolderSetting* setting = SettingOf(*library)) setting->weightClass = library->weightClass;
    MarkPreferencesDirty();
}

namespace {

void ReportChannelChange(bool saved, const std::string& what) {
    LibrariesChangedForBuilds();
    if (!saved) SetStatus("Could not save the channel setting of " + what, 5.0f);
}

}  // namespace

void SetLibraryChannels(const std::string& name, int interpretation) {
    ReportChannelChange(SetLibraryInterpretation(Session().set, name, interpretation), name);
}

void SetLibrarySeparateFiles(const std::string& name, bool separate) {
    ReportChannelChange(SetLibraryGroupingOff(Session().set, name, separate), name);
}

void SetFileChannels(const std::string& path, int interpretation) {
    // The core reports a file it could not save on the diagnostics line.
    SetFileInterpretation(Session().set, path, interpretation);
    LibrariesChangedForBuilds();
}

bool ProjectUsesLibrary(const Library& library) {
    const auto& paths = CurrentProject().libraryPaths;
    return !library.folder.empty() && std::find(paths.begin(), paths.end(), library.folder) != paths.end();
}

void SetProjectUsesLibrary(const Library& library, bool uses) {
    if (library.folder.empty() || ProjectUsesLibrary(library) == uses) return;
    Project& project = CurrentProject();
    PushUndo(project);
    auto& paths = project.libraryPaths;
    if (uses) paths.push_back(library.folder);
    else paths.erase(std::remove(paths.begin(), paths.end(), library.folder), paths.end());
}

void SetMaxScanThreads(int threads) {
    ScanState& scan = Session().scan;
    std::lock_guard<std::mutex> lock(scan.mutex);
    scan.maxScanThreads = std::max(0, threads);
}

ScanProgressView CurrentScanProgress() {
    LibrarySession& s = Session();
    ScanProgressView view;
    view.running = s.scan.running.load();
    view.done = s.scan.doneCount.load();
    view.total = s.scan.totalCount.load();
    const double seconds = static_cast<double>(SDL_GetTicks64() - s.scanStartMs) / 1000.0;
    if (view.running && seconds > 0.2) view.filesPerSecond = static_cast<float>(view.done / seconds);
    {
        std::lock_guard<std::mutex> lock(s.scan.mutex);
        view.folder = s.scan.currentFolder;
        view.queued = s.scan.scanQueue;
        view.status = s.scan.statusText;
        view.error = s.scan.errorText;
        view.failures = s.scan.failures;
    }
    return view;
}

bool AuditionLibraryFile(const std::string& path) {
    RegionRead read;
    if (!ReadRegion(path, 0.0, 1, &read) || read.sampleRate <= 0) {
        SetStatus("Could not read " + path, 4.0f);
        return false;
    }
    const int64_t frames = std::min<int64_t>(read.fileFrames, static_cast<int64_t>(kAuditionSeconds * read.sampleRate));
    if (!ReadRegion(path, 0.0, frames, &read) || read.channels <= 0) return false;
    std::vector<float> mono(static_cast<size_t>(read.frames));
    for (int64_t f = 0; f < read.frames; ++f) {
        float sum = 0.0f;
        for (int c = 0; c < read.channels; ++c) sum += read.samples[static_cast<size_t>(f * read.channels + c)];
        mono[static_cast<size_t>(f)] = sum / static_cast<float>(read.channels);
    }
    PlaySoundPreview(std::move(mono), read.sampleRate);
    return true;
}

void StopAudition() { StopSoundPreview(); }

void PlaceLibraryFileAt(const std::string& path, float time) {
    ComputeWaveformOverview(path);
    WaveformOverview overview;
    const bool known = FindWaveformOverview(path, &overview) && overview.duration > 0.0f;
    EditContext edit = CurrentEdit();
    edit.playhead = std::max(0.0f, time);
    FollowEdit(PlaceClipsAtPlayhead(edit, {{path, known ? overview.duration : 0.0f}}));
}

void QueueLibraryFileDrop(const std::string& path, float time) { Session().drops.emplace_back(path, time); }

std::string SavePaletteFromFiles(const std::vector<std::string>& paths, const std::string& sourceFolder) {
    if (paths.empty()) return "";
    const std::string name = SavePalette(Session().set, "", paths, sourceFolder);
    if (name.empty()) SetStatus("Could not save the palette", 5.0f);
    else SetStatus("Saved palette " + name + " (" + Plural(static_cast<int>(paths.size()), "file") + ")", 4.0f);
    return name;
}

const std::vector<MissingSourceView>& MissingSourceViews() {
    RefreshMissing();
    return Session().missing;
}

std::string MissingSourceUsage(const MissingSourceView& view) {
    if (view.source.palettes > 0) return "used by " + Plural(view.events, "event") + ", " + Plural(view.source.palettes, "palette");
    return "used by " + Plural(view.events, "event");
}

void RelinkAllMissing() {
    const int relinked = RelinkAll(Session().set, FollowRelink);
    SetStatus(RelinkResultText(relinked), 4.0f);
    Session().missingDirty = true;
    LibrariesChangedForBuilds();
}

void LocateMissingFolder(const std::string& folder) {
    SetStatus(RelinkResultText(LocateFolder(Session().set, folder, FollowRelink)), 4.0f);
    Session().missingDirty = true;
    LibrariesChangedForBuilds();
}

bool LocateMissingFile(const std::string& fileId, const std::string& chosenPath, bool useAnyway) {
    const LocateResult result = LocateFile(Session().set, fileId, chosenPath, useAnyway, FollowRelink);
    Session().missingDirty = true;
    LibrariesChangedForBuilds();
    if (result == LocateResult::DifferentContent) return false;
    SetStatus(result == LocateResult::Relinked ? RelinkResultText(1) : LocateResultText(result), 4.0f);
    return true;
}

void DumpLibraryState(std::FILE* f) {
    LibrarySession& s = Session();
    std::fprintf(f, "scan %d\n", s.scan.running.load() ? 1 : 0);
    s.missingDirty = true;  // the dump reports the files as they are now
    for (const MissingSourceView& view : MissingSourceViews())
        std::fprintf(f, "missing %s\n", view.source.lastKnownPath.c_str());
    std::lock_guard<std::mutex> lock(s.set.mutex);
    for (const Library& library : s.set.libraries) {
        std::string name = library.name;
        std::replace(name.begin(), name.end(), ' ', '_');  // one word per value
        std::fprintf(f, "library %s files %zu enabled %d weight %d palette %d uses %d\n", name.c_str(),
                     library.entries.size(), library.enabled ? 1 : 0, library.weightClass,
                     library.savedPalette ? 1 : 0, ProjectUsesLibrary(library) ? 1 : 0);
    }
}

}  // namespace morvane
