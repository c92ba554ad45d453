#pragma once
// Finding moved or renamed sound files again by their content identity, never by
// name alone: through other paths the identity was seen at, or in a file or folder
// the user points at.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "library/libraries.h"

namespace morvane {

// Told about every path that a relink changes, so the open project can follow
// (its layers refer to sound files by path).
using RelinkObserver = std::function<void(const std::string& oldPath, const std::string& newPath)>;

// The current path of an identity, or empty when it is missing (or unknown). The
// result is kept until the next "Relink all".
std::string ResolveFileId(const std::string& fileId);

// Resolves every identity afresh and moves the library entries of those found at a
// new path. Returns how many were found at a new path.
int RelinkAll(LibrarySet& set, const RelinkObserver& observer = nullptr);

// "Relinked %d file%s", or "No matching files found" for 0.
std::string RelinkResultText(int relinked);

enum class LocateResult { Relinked, DifferentContent, Unreadable };

// Points the identity at `chosenPath`. A file with other content is only used when
// `useAnyway` is set ("Use anyway"); otherwise nothing changes.
LocateResult LocateFile(LibrarySet& set, const std::string& fileId, const std::string& chosenPath, bool useAnyway,
                        const RelinkObserver& observer = nullptr);
// "Could not read the selected file" / "Selected file has different content." / "".
const char* LocateResultText(LocateResult result);

// Searches `folder` recursively for the content of every missing identity; only
// files whose size equals a missing file's size are hashed. Returns the number
// relinked.
int LocateFolder(LibrarySet& set, const std::string& folder, const RelinkObserver& observer = nullptr);

// Moves every library entry at `oldPath` to `newPath`, records the identity there,
// regroups, remakes the summaries and saves the changed indexes.
void ApplyRelink(LibrarySet& set, const std::string& oldPath, const std::string& newPath,
                 const RelinkObserver& observer = nullptr);

// ApplyRelink for many (old path, new path) pairs in one pass over the libraries.
void ApplyRelinks(LibrarySet& set, const std::vector<std::pair<std::string, std::string>>& moves,
                  const RelinkObserver& observer = nullptr);

// Identities that do not resolve, with their last-known paths ("Last-known location").
struct MissingSource {
    std::string fileId;
    std::string lastKnownPath;
    int palettes = 0;  // saved palettes that hold the file
};
std::vector<MissingSource> MissingSources(LibrarySet& set);

}  // namespace morvane
