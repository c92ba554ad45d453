#pragma once
// The application's list of libraries, the index files behind them, palettes, and
// the path -> channel interpretation table that the renderer reads.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "library/entry.h"
#include "model/preferences.h"

namespace morvane {

// The libraries of the running program. `mutex` is the application's library mutex:
// it guards `libraries` and the finished scans waiting to be taken over.
struct LibrarySet {
    std::mutex mutex;
    std::vector<Library> libraries;
    // Where index files live; empty means LibrariesFolder() (no index files at all
    // when that is empty too, as without a home folder).
    std::string indexFolder;
};

std::string LibraryIndexFolder(const LibrarySet& set);
// Folder + "/" + name + ".mvlib"; empty when there is no index folder.
std::string LibraryIndexPath(const LibrarySet& set, const std::string& name);

// Loads every ".mvlib" directly inside the index folder, makes the summaries and the
// interpretation table. Returns the number of libraries loaded.
int LoadAllLibraries(LibrarySet& set);

// Gives each library the enabled flag and weight class of its folder's preference
// line ("libraryEx"), so every reader of the index files (the window's list, the
// build) uses libraries as the user set them. Libraries without a line (palettes,
// folders never added from the window) keep what their index file says.
void ApplyFolderSettings(std::vector<Library>& libraries, const std::vector<LibraryFolderSetting>& settings);

// Saves the selected files as a new palette library and adds it to the set. An
// empty `name` gives the last component of `sourceFolder` + " Palette", or
// "Palette". Returns the name used; empty when nothing could be saved.
std::string SavePalette(LibrarySet& set, const std::string& name, const std::vector<std::string>& paths,
                        const std::string& sourceFolder = "");

// Sets the interpretation of every entry with exactly this path; changed libraries
// are saved again. Returns the number of entries changed.
int SetFileInterpretation(LibrarySet& set, const std::string& path, int value);

// How a library's (or a file's) multichannel files are read, by value 0..3.
inline constexpr const char* kChannelInterpretationNames[4] = {"Auto", "Surround", "Discrete (multi-mono)",
                                                               "Ambisonic"};

// Sets how the named library's multichannel files are read (0..3, clamped) and saves
// its index. False when there is no such library or its index could not be written
// (the setting then holds for this session only).
bool SetLibraryInterpretation(LibrarySet& set, const std::string& name, int value);
// "Treat as separate files": true ungroups the library's multi-mono sets, false groups
// them again; saves the index. False as for SetLibraryInterpretation.
bool SetLibraryGroupingOff(LibrarySet& set, const std::string& name, bool separate);

// The process-wide path -> interpretation table, replaced whole.
void RebuildInterpretationTable(const std::vector<Library>& libraries);
// The interpretation of a path: the entry's own, else its library's; 0 when neither.
int InterpretationOfPath(const std::string& path);

// The name of a library made from a folder: its last component without a final
// '.' suffix ("Foley.v2" -> "Foley"); "Library" when that leaves nothing.
std::string LibraryNameOfFolder(const std::string& folder);

// The UCS CatID a file name starts with ("DOORWood_Slam" -> "DOORWood"), as the
// browser's category column shows it; empty when the name has none.
std::string UcsCatIdOfName(std::string_view name);

}  // namespace morvane
