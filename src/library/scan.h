#pragma once
// Scanning a folder into a library on a background thread with a pool of analysis
// workers, re-using unchanged files, and handing the result to the interface thread.
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "library/entry.h"
#include "library/libraries.h"

namespace morvane {

// A file the scan could not analyse: its full path and a one-line reason.
struct ScanFailure {
    std::string path;
    std::string reason;
};

// Shared between the interface thread and the scan threads. The atomics may be read
// at any time; the texts and lists only under `mutex` (finishedLibraries under the
// library set's mutex). Destroying it cancels and joins the threads, so the
// LibrarySet handed to StartScan must outlive it.
struct ScanState {
    std::atomic<bool> running{false};  // cleared to cancel
    std::atomic<float> progress{0.0f};
    std::atomic<int> doneCount{0}, totalCount{0}, reusedCount{0}, analysedCount{0};

    std::mutex mutex;
    std::string statusText;     // "Done! %d files indexed." / "No audio files found."
    std::string errorText;      // "Scan interrupted: ..."
    std::string indexError;     // why the finished library's index could not be written
    std::string currentFolder;  // "Scanning folder: %s"
    std::vector<std::string> failedFiles;   // file names, as the scan found them failing
    std::vector<ScanFailure> failures;      // the same files with their folder and why
    // Files with a sound-file extension the library cannot read (".flac", ".mp3"...),
    // counted during the walk so "No audio files found." can say what was passed over.
    std::atomic<int> skippedCount{0};
    std::vector<std::string> scanQueue;
    int maxScanThreads = 0;  // 0 or less: no limit

    std::vector<Library> finishedLibraries;  // guarded by LibrarySet::mutex

    // Called on a worker thread after every finished file with the done count;
    // lets a command-line progress display or a test follow the scan.
    std::function<void(int done)> onFileDone;

    // The identity backfill: hashes entries that have no identity yet.
    std::atomic<bool> backfillRunning{false};
    std::atomic<int> backfillDone{0}, backfillTotal{0};
    std::set<std::string> backfillTried;  // paths tried this run; interface thread only
    size_t backfillEntryCount = 0;        // libraries + entries at the last look; interface thread only

    std::thread scanThread;
    std::thread backfillThread;

    ScanState() = default;
    ~ScanState();
    ScanState(const ScanState&) = delete;
    ScanState& operator=(const ScanState&) = delete;
};

struct ScanRequest {
    std::string folder;
    bool enabled = true;
    int weightClass = -1;
    bool deep = false;
    int maxScanThreads = 0;
};

// Starts scanning `folder` unless a scan is running. Returns whether it started.
bool StartScan(ScanState& state, LibrarySet& set, const std::string& folder, bool enabled, int weightClass,
               bool deep);
// Adds a folder to the queue when a scan is running, else starts it.
void QueueScan(ScanState& state, LibrarySet& set, const std::string& folder);
// Asks the running scan to stop; it still saves and hands over what it finished.
void CancelScan(ScanState& state);
// Blocks until the scan thread has finished (command-line tool, tests).
void WaitForScan(ScanState& state);
// Blocks until the identity backfill has finished.
void WaitForBackfill(ScanState& state);

// The scan itself, on the calling thread (StartScan runs it on its own thread).
void RunScan(ScanState& state, LibrarySet& set, const ScanRequest& request);

// Interface thread, every frame: takes finished libraries over, starts the next
// queued scan and, when idle, the identity backfill.
void ApplyFinishedScans(ScanState& state, LibrarySet& set);

// Extensions of sound files the library does not read but a user may well keep in a
// sound folder; a scan counts them in skippedCount.
bool IsUnsupportedSoundFile(std::string_view extension);

// Copies of the texts and lists, for display.
std::vector<ScanFailure> ScanFailures(ScanState& state);
std::string ScanStatusText(ScanState& state);
std::string ScanErrorText(ScanState& state);
// Empty, or why the last scan's index file could not be written (the library is then
// known only until the program ends).
std::string ScanIndexErrorText(ScanState& state);

// (speaker index, base name) of a mono file name ending in a speaker suffix
// ("Door_L" -> (0, "Door")); none otherwise.
std::optional<std::pair<int, std::string>> MonoChannelSuffix(const std::string& name);

// Recomputes groupId and groupChannel of every entry.
void GroupMultiMono(Library& library);

// Groups the library's multi-mono sets again, or ungroups every file when the library
// asks for no grouping. Called whenever the entries change.
void RegroupMultiMono(Library& library);

}  // namespace morvane
