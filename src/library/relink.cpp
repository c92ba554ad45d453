#include "library/relink.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "library/features.h"
#include "library/file_id.h"
#include "library/index_file.h"
#include "library/scan.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Resolution with the registry mutex held.
std::string ResolveLocked(FileIdRegistry& registry, FileIdentity& identity) {
    if (identity.checkGeneration == registry.generation) return identity.found ? identity.path : std::string();
    identity.checkGeneration = registry.generation;
    identity.found = false;
    if (!identity.path.empty() && IsRegularFile(identity.path)) {
        identity.found = true;
        return identity.path;
    }
    auto& others = identity.otherPaths;
    for (auto it = others.begin(); it != others.end(); ++it) {
        if (!IsRegularFile(*it)) continue;
        std::error_code error;
        const uintmax_t size = fs::file_size(*it, error);
        if (error || (identity.fileSize != 0 && size != identity.fileSize)) continue;
        const std::string found = *it;
        others.erase(it);
        if (!identity.path.empty()) others.push_back(identity.path);
        identity.path = found;
        identity.found = true;
        return found;
    }
    return {};
}

}  // namespace

std::string ResolveFileId(const std::string& fileId) {
    FileIdRegistry& registry = TheFileIdRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.byId.find(fileId);
    if (it == registry.byId.end()) return {};
    return ResolveLocked(registry, it->second);
}

void ApplyRelinks(LibrarySet& set, const std::vector<std::pair<std::string, std::string>>& moves,
                  const RelinkObserver& observer) {
    std::unordered_map<std::string_view, std::string_view> newPathOf;
    for (const auto& [from, to] : moves)
        if (from != to) newPathOf.emplace(from, to);
    if (newPathOf.empty()) return;
    {
        // One pass over the entries, whatever the number of moves; each changed
        // library is regrouped and saved once.
        std::lock_guard<std::mutex> lock(set.mutex);
        for (Library& library : set.libraries) {
            bool changed = false;
            for (LibraryEntry& entry : library.entries) {
                auto move = newPathOf.find(entry.path);
                if (move == newPathOf.end()) continue;
                entry.path = std::string(move->second);
                entry.name = fs::path(entry.path).stem().string();
                if (!entry.fileId.empty()) RegisterFileId(entry.fileId, entry.path, entry.contentHash, entry.fileSize);
                changed = true;
            }
            if (!changed) continue;
            RegroupMultiMono(library);
            MakeLibrarySummary(library);
            const std::string indexPath = LibraryIndexPath(set, library.name);
            if (!indexPath.empty() && !SaveLibraryIndex(library, indexPath))
                std::printf("[Relink] Could not write %s\n", indexPath.c_str());
        }
        RebuildInterpretationTable(set.libraries);
    }
    if (observer)
        for (const auto& [from, to] : moves)
            if (from != to) observer(from, to);
}

void ApplyRelink(LibrarySet& set, const std::string& oldPath, const std::string& newPath,
                 const RelinkObserver& observer) {
    ApplyRelinks(set, {{oldPath, newPath}}, observer);
}

int RelinkAll(LibrarySet& set, const RelinkObserver& observer) {
    std::map<std::string, std::string> resolved;                     // fileId -> path found
    std::vector<std::pair<std::string, std::string>> registryMoves;  // (fileId, earlier path)
    {
        FileIdRegistry& registry = TheFileIdRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        ++registry.generation;
        for (auto& [id, identity] : registry.byId) {
            const std::string before = identity.path;
            const std::string now = ResolveLocked(registry, identity);
            if (now.empty()) continue;
            resolved[id] = now;
            if (now != before) registryMoves.emplace_back(id, before);
        }
    }
    // Entries whose file is gone follow their identity to where it was found; an
    // entry whose own file still exists is a copy in its own right and stays.
    std::map<std::string, std::pair<std::string, std::string>> moves;  // old path -> (fileId, new path)
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        for (const Library& library : set.libraries)
            for (const LibraryEntry& entry : library.entries) {
                auto found = entry.fileId.empty() ? resolved.end() : resolved.find(entry.fileId);
                if (found == resolved.end() || found->second == entry.path || IsRegularFile(entry.path)) continue;
                moves.emplace(entry.path, std::make_pair(entry.fileId, found->second));
            }
    }
    for (const auto& [id, before] : registryMoves)
        if (!before.empty()) moves.emplace(before, std::make_pair(id, resolved[id]));
    std::set<std::string> relinked;
    std::vector<std::pair<std::string, std::string>> paths;
    for (const auto& [from, target] : moves) {
        paths.emplace_back(from, target.second);
        relinked.insert(target.first);
    }
    ApplyRelinks(set, paths, observer);
    return static_cast<int>(relinked.size());
}

std::string RelinkResultText(int relinked) {
    if (relinked == 0) return "No matching files found";
    char text[64];
    std::snprintf(text, sizeof text, "Relinked %d file%s", relinked, relinked == 1 ? "" : "s");
    return text;
}

const char* LocateResultText(LocateResult result) {
    switch (result) {
        case LocateResult::Unreadable: return "Could not read the selected file";
        case LocateResult::DifferentContent: return "Selected file has different content.";
        default: return "";
    }
}

LocateResult LocateFile(LibrarySet& set, const std::string& fileId, const std::string& chosenPath, bool useAnyway,
                        const RelinkObserver& observer) {
    uint64_t hash = 0, size = 0;
    if (!contentHash(chosenPath, &hash, &size)) return LocateResult::Unreadable;
    FileIdentity identity;
    if (!LookupFileId(fileId, &identity)) return LocateResult::Unreadable;
    const bool same = hash == identity.contentHash && size == identity.fileSize;
    if (!same && !useAnyway) return LocateResult::DifferentContent;
    RegisterFileId(fileId, chosenPath, identity.contentHash, identity.fileSize);
    ApplyRelink(set, identity.path, chosenPath, observer);
    return LocateResult::Relinked;
}

int LocateFolder(LibrarySet& set, const std::string& folder, const RelinkObserver& observer) {
    std::multimap<uint64_t, FileIdentity> missingBySize;
    {
        FileIdRegistry& registry = TheFileIdRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto& [id, identity] : registry.byId)
            if (ResolveLocked(registry, identity).empty() && identity.contentHash != 0)
                missingBySize.emplace(identity.fileSize, identity);
    }
    if (missingBySize.empty()) return 0;
    std::set<std::string> relinked;
    std::vector<std::pair<std::string, std::string>> paths;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code fileError;
        if (!it->is_regular_file(fileError)) continue;
        const uintmax_t size = it->file_size(fileError);
        if (fileError) continue;
        auto [first, last] = missingBySize.equal_range(size);
        if (first == last) continue;
        const std::string path = it->path().string();
        uint64_t hash = 0, hashedSize = 0;
        if (!contentHash(path, &hash, &hashedSize)) continue;
        for (auto candidate = first; candidate != last; ++candidate) {
            const FileIdentity& identity = candidate->second;
            if (identity.contentHash != hash || relinked.count(identity.fileId) != 0) continue;
            relinked.insert(identity.fileId);
            RegisterFileId(identity.fileId, path, identity.contentHash, identity.fileSize);
            paths.emplace_back(identity.path, path);
        }
    }
    ApplyRelinks(set, paths, observer);
    return static_cast<int>(paths.size());
}

std::vector<MissingSource> MissingSources(LibrarySet& set) {
    std::vector<MissingSource> missing;
    {
        FileIdRegistry& registry = TheFileIdRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto& [id, identity] : registry.byId)
            if (ResolveLocked(registry, identity).empty()) missing.push_back({id, identity.path, 0});
    }
    std::unordered_map<std::string, int> palettesOf;  // fileId -> saved palettes holding it
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        for (const Library& library : set.libraries) {
            if (!library.savedPalette) continue;
            std::set<std::string_view> held;
            for (const LibraryEntry& e : library.entries)
                if (!e.fileId.empty() && held.insert(e.fileId).second) ++palettesOf[e.fileId];
        }
    }
    for (MissingSource& source : missing)
        if (auto found = palettesOf.find(source.fileId); found != palettesOf.end()) source.palettes = found->second;
    std::sort(missing.begin(), missing.end(),
              [](const MissingSource& a, const MissingSource& b) { return a.lastKnownPath < b.lastKnownPath; });
    return missing;
}

}  // namespace morvane
