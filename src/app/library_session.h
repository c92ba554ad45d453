#pragma once
// The desktop program's sound libraries: the libraries the user has, the scan that
// runs in the background and the folders queued behind it, the settings kept for each
// library folder in the preferences ("libraryEx"), audition of a file through the
// mixer's preview slot, palettes, relinking of missing files, and placing a library
// file on the timeline. The Library tab draws this and calls these operations.
//
// Interface thread only; the scan itself runs on its own threads and its results are
// taken over by TickLibrarySession on the frame loop.
#include <cstdio>
#include <string>
#include <vector>

#include "library/libraries.h"
#include "library/relink.h"
#include "library/scan.h"

namespace morvane {

LibrarySet& Libraries();
ScanState& LibraryScan();

// Every frame: loads the libraries the first time, takes finished scans over (the
// outcome goes to the status line), starts queued folders, scans dropped folders, and
// keeps each library's enabled flag and weight class equal to its preference line.
void TickLibrarySession();

// The index files are still being read for the first time (the list is empty until then).
bool LibrariesLoading();

// Add Folder and a folder dropped on the window: remembered in the preferences and
// scanned now, or queued behind the running scan.
void AddLibraryFolder(const std::string& folder);
void RescanLibrary(const std::string& name, bool deep);
void CancelLibraryScan();
// Forgets the library and its index file; the sound files are never touched.
void RemoveLibrary(const std::string& name);

void SetLibraryEnabled(const std::string& name, bool enabled);
void SetLibraryWeightClass(const std::string& name, int weightClass);  // -1 any, 0, 1, 2
// How multichannel files are read (0..3, kChannelInterpretationNames), per library and
// per file (0: the library's), and the library's "Treat as separate files" switch.
// Saved in the library's index; the next build reads them.
void SetLibraryChannels(const std::string& name, int interpretation);
void SetLibrarySeparateFiles(const std::string& name, bool separate);
void SetFileChannels(const std::string& path, int interpretation);
// Whether the open project names the library's folder among its libraryPaths.
bool ProjectUsesLibrary(const Library& library);
void SetProjectUsesLibrary(const Library& library, bool uses);
void SetMaxScanThreads(int threads);  // 0: no limit

// Scan progress for the panel.
struct ScanProgressView {
    bool running = false;
    std::string folder;
    int done = 0, total = 0;
    float filesPerSecond = 0.0f;
    std::vector<std::string> queued;
    std::string status, error;
    std::vector<ScanFailure> failures;
};
ScanProgressView CurrentScanProgress();

// Plays the file through the preview slot (the first 30 s, mixed to mono); false when
// it cannot be read.
bool AuditionLibraryFile(const std::string& path);
void StopAudition();

// One Clip for the file, starting at `time` on the timeline, as one undo step. A drop
// on the timeline arrives while it is being drawn; the Clip is placed at the next
// TickLibrarySession, before anything draws the events.
void PlaceLibraryFileAt(const std::string& path, float time);
void QueueLibraryFileDrop(const std::string& path, float time);

// Saves the paths as a palette named after the folder they came from; the status line
// says what was saved. Returns the palette's name, empty when nothing was saved.
std::string SavePaletteFromFiles(const std::vector<std::string>& paths, const std::string& sourceFolder);

// Missing sources with what depends on them.
struct MissingSourceView {
    MissingSource source;
    int events = 0;  // events of the open project that name the file
};
const std::vector<MissingSourceView>& MissingSourceViews();
// "Used by %d event%s, %d palette%s" as the panel shows it.
std::string MissingSourceUsage(const MissingSourceView& view);
void RelinkAllMissing();  // the outcome goes to the status line
// Locate folder...: searches the folder for the missing files' content.
void LocateMissingFolder(const std::string& folder);
// Locate...: true when done (relinked, or unreadable with the reason on the status
// line); false when the chosen file has other content and the user must confirm.
bool LocateMissingFile(const std::string& fileId, const std::string& chosenPath, bool useAnyway);

// The library facts of the scripted-input state dump (see ui_script.cpp).
void DumpLibraryState(std::FILE* f);

}  // namespace morvane
