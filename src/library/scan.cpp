#include "library/scan.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sndfile.h>
#include <map>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "library/audio_file.h"
#include "library/features.h"
#include "library/file_id.h"
#include "library/index_file.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

enum SlotStatus : int { kPending = 0, kGood = 1, kFailed = 2 };

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SetError(ScanState& state, const std::string& text) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.errorText = text;
}

// The entries of a scan in sorted path order: finished files, and for files not
// reached yet the entry the old index had, so stopping a rescan early never costs
// the library files it already knew.
std::vector<LibraryEntry> CollectEntries(const std::vector<std::string>& files, const std::vector<LibraryEntry>& slots,
                                         const std::atomic<int>* status,
                                         const std::unordered_map<std::string, LibraryEntry>& previous) {
    std::vector<LibraryEntry> entries;
    for (size_t i = 0; i < files.size(); ++i) {
        const int s = status[i].load(std::memory_order_acquire);
        if (s == kGood) {
            entries.push_back(slots[i]);
        } else if (s == kPending) {
            auto old = previous.find(files[i]);
            if (old != previous.end()) entries.push_back(old->second);
        }
    }
    return entries;
}

// Why a file the analysis refused cannot be used: the decoder's own complaint when
// it cannot open the file, else what the analysis needs and did not find.
std::string FailureReason(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return sf_strerror(nullptr);
    sf_close(file);
    if (info.frames <= 0) return "no sound in the file";
    return "too short or unreadable to analyse";
}

std::string CountedFiles(int count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

// The outcome line of a finished walk. A folder whose every file failed says so,
// with the first reason, rather than "Done!" over an empty library.
std::string FinishedText(const ScanState& state, int total, size_t indexed) {
    if (indexed > 0 || !state.running.load()) return "Done! " + std::to_string(total) + " files indexed.";
    std::string text = "Nothing could be indexed: " + CountedFiles(total) + " failed";
    if (!state.failures.empty()) text += " (" + fs::path(state.failures.front().path).filename().string() + ": " +
                                         state.failures.front().reason + ")";
    return text + ".";
}

// The folder as a full path, whatever form the user typed ("Sounds", "./Sounds/"),
// so the index is usable from any working folder.
std::string AbsoluteFolder(const std::string& folder) {
    std::error_code error;
    const fs::path absolute = fs::absolute(folder, error);
    if (error || folder.empty()) return folder;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

// A journal is folded into its index when the index loads, so a first scan writes
// an index without entries before its journal: a scan killed before its end still
// leaves a library that loads.
bool StartIndex(const Library& library, const std::string& indexPath) {
    std::error_code error;
    if (fs::exists(indexPath, error)) return true;
    Library empty;
    empty.folder = library.folder;
    empty.scanned = NowSeconds();
    empty.channelInterpretation = library.channelInterpretation;
    empty.disableGrouping = library.disableGrouping;
    return SaveLibraryIndex(empty, indexPath);
}

bool EnsureIndexFolder(const std::string& indexPath, std::string* why = nullptr) {
    std::error_code error;
    fs::create_directories(fs::path(indexPath).parent_path(), error);
    if (error && why != nullptr) *why = error.message();
    return !error;
}

}  // namespace

ScanState::~ScanState() {
    running.store(false);
    backfillRunning.store(false);
    if (scanThread.joinable()) scanThread.join();
    if (backfillThread.joinable()) backfillThread.join();
}

std::optional<std::pair<int, std::string>> MonoChannelSuffix(const std::string& name) {
    static const char* const kSuffixes[] = {"L", "R", "C", "LFE", "LS", "RS", "LRS", "RRS", "LTF", "RTF", "LTR", "RTR"};
    const size_t separator = name.find_last_of("._-");
    if (separator == std::string::npos || separator == 0 || separator + 1 >= name.size()) return std::nullopt;
    std::string suffix = name.substr(separator + 1);
    for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int i = 0; i < 12; ++i)
        if (suffix == kSuffixes[i]) return std::make_pair(i, name.substr(0, separator));
    return std::nullopt;
}

void RegroupMultiMono(Library& library) {
    if (!library.disableGrouping) {
        GroupMultiMono(library);
        return;
    }
    for (LibraryEntry& entry : library.entries) {
        entry.groupId = 0;
        entry.groupChannel = -1;
    }
}

void GroupMultiMono(Library& library) {
    std::map<std::string, std::vector<std::pair<size_t, int>>> groups;
    for (size_t i = 0; i < library.entries.size(); ++i) {
        LibraryEntry& entry = library.entries[i];
        entry.groupId = 0;
        entry.groupChannel = -1;
        if (entry.channels != 1) continue;
        const auto suffix = MonoChannelSuffix(entry.name);
        if (!suffix) continue;
        const std::string key = fs::path(entry.path).parent_path().string() + "\n" + suffix->second;
        groups[key].emplace_back(i, suffix->first);
    }
    for (const auto& [key, members] : groups) {
        if (members.size() < 2) continue;
        const LibraryEntry& first = library.entries[members[0].first];
        const long long rate = std::llround(first.sampleRate);
        const long long frames = std::llround(static_cast<double>(first.duration) * first.sampleRate);
        bool usable = true;
        bool seen[12] = {};
        for (const auto& [index, speaker] : members) {
            const LibraryEntry& entry = library.entries[index];
            if (std::llround(entry.sampleRate) != rate ||
                std::llround(static_cast<double>(entry.duration) * entry.sampleRate) != frames || seen[speaker]) {
                usable = false;
                break;
            }
            seen[speaker] = true;
        }
        if (!usable) continue;
        uint64_t id = HashBytes(key.data(), key.size());
        if (id == 0) id = 1;
        for (const auto& [index, speaker] : members) {
            library.entries[index].groupId = id;
            library.entries[index].groupChannel = speaker;
        }
    }
}

void RunScan(ScanState& state, LibrarySet& set, const ScanRequest& given) {
    ScanRequest request = given;
    request.folder = AbsoluteFolder(given.folder);
    Library library;
    library.folder = request.folder;
    library.name = LibraryNameOfFolder(request.folder);
    library.enabled = request.enabled;
    library.weightClass = request.weightClass;

    std::vector<std::string> files;
    std::error_code kindError;
    if (fs::exists(request.folder, kindError) && !fs::is_directory(request.folder, kindError)) {
        SetError(state, "Scan interrupted: not a folder: " + request.folder);
        state.running.store(false);
        return;
    }
    state.skippedCount.store(0);
    try {
        std::error_code error;
        fs::recursive_directory_iterator it(request.folder, fs::directory_options::skip_permission_denied, error);
        for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
            if (!state.running.load()) break;
            std::error_code typeError;
            if (!it->is_regular_file(typeError)) continue;
            const std::string extension = it->path().extension().string();
            if (IsSupportedAudioFile(extension)) files.push_back(it->path().string());
            else if (IsUnsupportedSoundFile(extension)) state.skippedCount.fetch_add(1);
        }
        if (error) {
            SetError(state, "Scan interrupted: folder became inaccessible");
            std::printf("[Scan] %s: %s\n", request.folder.c_str(), error.message().c_str());
            state.running.store(false);
            return;
        }
    } catch (const std::exception& exception) {
        SetError(state, std::string("Scan interrupted: ") + exception.what());
        state.running.store(false);
        return;
    }
    // Stopped while listing: nothing was analysed, and a partial list must not
    // replace the index of files it did not reach.
    if (!state.running.load()) return;

    const int total = static_cast<int>(files.size());
    state.totalCount.store(total);
    if (files.empty()) {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.statusText = "No audio files found.";
            if (const int skipped = state.skippedCount.load(); skipped > 0)
                state.statusText += " " + CountedFiles(skipped) + " skipped as unsupported (FLAC, MP3, Ogg and the like).";
        }
        state.running.store(false);
        return;
    }
    std::sort(files.begin(), files.end());

    const std::string indexPath = LibraryIndexPath(set, library.name);
    std::unordered_map<std::string, LibraryEntry> previous;
    bool reuse = false;
    if (!indexPath.empty()) {
        Library old;
        if (LoadLibraryIndex(indexPath, old)) {
            library.channelInterpretation = old.channelInterpretation;
            library.disableGrouping = old.disableGrouping;
            library.previousNames = old.previousNames;
            for (LibraryEntry& entry : old.entries) previous.emplace(entry.path, std::move(entry));
            reuse = !request.deep;
        }
    }

    unsigned hardware = std::thread::hardware_concurrency();
    int workers = hardware == 0 ? 4 : static_cast<int>(hardware);
    if (request.maxScanThreads > 0) workers = std::min(workers, request.maxScanThreads);
    workers = std::max(1, std::min(workers, total));

    std::vector<LibraryEntry> slots(files.size());
    std::unique_ptr<std::atomic<int>[]> status(new std::atomic<int>[files.size()]);
    for (size_t i = 0; i < files.size(); ++i) status[i].store(kPending);
    std::atomic<size_t> next{0};
    // Every analysed file goes into the journal as it finishes, so a scan that is
    // stopped or killed keeps its work; the index itself is written once, at the end.
    std::mutex checkpointMutex;
    IndexJournal journal;
    bool journalFailed = false;
    auto keep = [&](const LibraryEntry& entry) {
        if (indexPath.empty()) return;
        std::lock_guard<std::mutex> lock(checkpointMutex);
        if (journalFailed) return;
        if (journal.fd < 0 && !(EnsureIndexFolder(indexPath) && StartIndex(library, indexPath) &&
                                OpenIndexJournal(indexPath, library.folder, &journal)))
            journalFailed = true;
        else if (!AppendIndexJournal(journal, entry))
            journalFailed = true;
        if (journalFailed) std::printf("[Scan] Could not write the journal of %s\n", indexPath.c_str());
    };

    auto work = [&] {
        AnalysisContextPtr context = MakeAnalysisContext();
        for (;;) {
            if (!state.running.load()) break;
            const size_t i = next.fetch_add(1);
            if (i >= files.size()) break;
            const std::string& path = files[i];
            bool good = false;
            auto old = reuse ? previous.find(path) : previous.end();
            if (old != previous.end() && old->second.modifiedTime != 0) {
                std::error_code error;
                const uintmax_t size = fs::file_size(path, error);
                if (!error && size == old->second.fileSize && FileModifiedTime(path) == old->second.modifiedTime) {
                    slots[i] = old->second;
                    if (!slots[i].fileId.empty())
                        RegisterFileId(slots[i].fileId, path, slots[i].contentHash, slots[i].fileSize);
                    state.reusedCount.fetch_add(1);
                    good = true;
                }
            }
            if (!good) {
                LibraryEntry entry;
                if (context && AnalyzeFile(path, entry, context.get())) {
                    keep(entry);
                    slots[i] = std::move(entry);
                    state.analysedCount.fetch_add(1);
                    good = true;
                } else {
                    std::string reason = FailureReason(path);
                    std::lock_guard<std::mutex> lock(state.mutex);
                    state.failedFiles.push_back(fs::path(path).filename().string());
                    state.failures.push_back({path, std::move(reason)});
                }
            }
            status[i].store(good ? kGood : kFailed, std::memory_order_release);
            const int done = state.doneCount.fetch_add(1) + 1;
            state.progress.store(static_cast<float>(done) / static_cast<float>(total));
            if (state.onFileDone) state.onFileDone(done);
        }
    };
    if (workers == 1) {
        work();
    } else {
        std::vector<std::thread> pool;
        for (int w = 0; w < workers; ++w) pool.emplace_back(work);
        for (std::thread& thread : pool) thread.join();
    }

    library.entries = CollectEntries(files, slots, status.get(), previous);
    CloseIndexJournal(journal);
    state.doneCount.store(total);
    state.progress.store(1.0f);
    library.scanned = NowSeconds();
    RegroupMultiMono(library);
    MakeLibrarySummary(library);
    const size_t indexed = library.entries.size();
    if (!library.entries.empty()) {
        std::string why;
        if (!indexPath.empty() &&
            !(EnsureIndexFolder(indexPath, &why) && SaveLibraryIndex(library, indexPath, &why))) {
            std::printf("[Scan] Could not write %s\n", indexPath.c_str());
            std::lock_guard<std::mutex> lock(state.mutex);
            state.indexError = "could not write the library index " + indexPath + ": " + why;
        } else if (!indexPath.empty()) {
            // The index holds everything the journal did.
            RemoveIndexJournal(indexPath);
        }
        std::lock_guard<std::mutex> lock(set.mutex);
        state.finishedLibraries.push_back(std::move(library));
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.statusText = FinishedText(state, total, indexed);
    }
    state.running.store(false);
}

bool StartScan(ScanState& state, LibrarySet& set, const std::string& folder, bool enabled, int weightClass,
               bool deep) {
    if (state.running.load()) return false;
    // A cancelled scan may still be saving its partial library; let it finish so it
    // cannot clear the flag of the new one.
    if (state.scanThread.joinable()) state.scanThread.join();
    state.progress.store(0.0f);
    state.doneCount.store(0);
    state.totalCount.store(0);
    state.reusedCount.store(0);
    state.analysedCount.store(0);
    ScanRequest request;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.statusText.clear();
        state.errorText.clear();
        state.indexError.clear();
        state.currentFolder = folder;
        state.failedFiles.clear();
        state.failures.clear();
        request.maxScanThreads = state.maxScanThreads;
    }
    request.folder = folder;
    request.enabled = enabled;
    request.weightClass = weightClass;
    request.deep = deep;
    state.running.store(true);
    state.scanThread = std::thread([&state, &set, request] { RunScan(state, set, request); });
    return true;
}

void QueueScan(ScanState& state, LibrarySet& set, const std::string& folder) {
    if (!state.running.load() && StartScan(state, set, folder, true, -1, false)) return;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.scanQueue.push_back(folder);
}

void CancelScan(ScanState& state) { state.running.store(false); }

void WaitForScan(ScanState& state) {
    if (state.scanThread.joinable()) state.scanThread.join();
}

void WaitForBackfill(ScanState& state) {
    if (state.backfillThread.joinable()) state.backfillThread.join();
}

std::string ScanStatusText(ScanState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.statusText;
}

std::string ScanErrorText(ScanState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.errorText;
}

std::vector<ScanFailure> ScanFailures(ScanState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.failures;
}

bool IsUnsupportedSoundFile(std::string_view extension) {
    static const char* const kExtensions[] = {".flac", ".mp3", ".ogg", ".oga", ".opus", ".m4a",
                                              ".aac",  ".wma", ".mp2", ".ape", ".wv"};
    std::string lower(extension);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* known : kExtensions)
        if (lower == known) return true;
    return false;
}

std::string ScanIndexErrorText(ScanState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.indexError;
}

namespace {

struct BackfillItem {
    std::string path;
    std::string fileId;
    uint64_t hash = 0;
    uint64_t size = 0;
    bool ok = false;
};

void RunBackfill(ScanState& state, LibrarySet& set, std::vector<BackfillItem> items) {
    for (BackfillItem& item : items) {
        if (!state.backfillRunning.load()) break;
        if (contentHash(item.path, &item.hash, &item.size)) {
            item.fileId = AssignFileId(item.path, item.hash, item.size);
            item.ok = true;
        }
        state.backfillDone.fetch_add(1);
    }
    // The hashes were taken without the lock; entries take them in one pass, found
    // by path in a table rather than by searching every entry for every file. An
    // identity belongs to the file, so a file listed by two libraries (a palette and
    // its folder's library) gets it in both.
    std::unordered_map<std::string_view, const BackfillItem*> byPath;
    for (const BackfillItem& item : items)
        if (item.ok) byPath.emplace(item.path, &item);
    std::lock_guard<std::mutex> lock(set.mutex);
    std::set<std::string> changed;
    for (Library& library : set.libraries)
        for (LibraryEntry& entry : library.entries) {
            if (!entry.fileId.empty() && entry.contentHash != 0) continue;
            auto found = byPath.find(entry.path);
            if (found == byPath.end()) continue;
            entry.fileId = found->second->fileId;
            entry.contentHash = found->second->hash;
            entry.fileSize = found->second->size;
            changed.insert(library.name);
        }
    // Only write when no scan result is on its way: an index written now from the
    // list could otherwise replace a newer one the scan just saved.
    if (!state.running.load() && state.finishedLibraries.empty()) {
        for (const Library& library : set.libraries) {
            if (changed.count(library.name) == 0) continue;
            const std::string indexPath = LibraryIndexPath(set, library.name);
            if (!indexPath.empty() && !SaveLibraryIndex(library, indexPath))
                std::printf("[Scan] Could not write %s\n", indexPath.c_str());
        }
    }
    state.backfillRunning.store(false);
}

// The number of entries of every library: while it stays the same, no entry
// without an identity can have joined since the last look.
size_t EntryCount(const LibrarySet& set) {
    size_t count = set.libraries.size();
    for (const Library& library : set.libraries) count += library.entries.size();
    return count;
}

void StartBackfill(ScanState& state, LibrarySet& set) {
    std::vector<BackfillItem> items;
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        // Called every frame: the entries are only looked through again when the
        // libraries changed, so a large library does not hold the lock each frame.
        const size_t count = EntryCount(set);
        if (count == state.backfillEntryCount) return;
        state.backfillEntryCount = count;
        for (const Library& library : set.libraries)
            for (const LibraryEntry& entry : library.entries)
                if ((entry.fileId.empty() || entry.contentHash == 0) && state.backfillTried.count(entry.path) == 0) {
                    BackfillItem item;
                    item.path = entry.path;
                    items.push_back(std::move(item));
                    // Each path is tried once per run, so a file that cannot be read
                    // is not hashed again on every frame.
                    state.backfillTried.insert(entry.path);
                }
    }
    if (items.empty()) return;
    if (state.backfillThread.joinable()) state.backfillThread.join();
    state.backfillDone.store(0);
    state.backfillTotal.store(static_cast<int>(items.size()));
    state.backfillRunning.store(true);
    state.backfillThread = std::thread(RunBackfill, std::ref(state), std::ref(set), std::move(items));
}

}  // namespace

void ApplyFinishedScans(ScanState& state, LibrarySet& set) {
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        bool took = false;
        for (Library& finished : state.finishedLibraries) {
            auto same = std::find_if(set.libraries.begin(), set.libraries.end(),
                                     [&](const Library& l) { return l.name == finished.name; });
            if (same == set.libraries.end()) {
                set.libraries.push_back(std::move(finished));
            } else {
                same->folder = std::move(finished.folder);
                same->entries = std::move(finished.entries);
                same->enabled = finished.enabled;
                same->weightClass = finished.weightClass;
                same->summary = std::move(finished.summary);
                same->nameSummary = std::move(finished.nameSummary);
                same->ucsSummary = std::move(finished.ucsSummary);
                same->scanned = finished.scanned;
                same->savedPalette = finished.savedPalette;
                same->channelInterpretation = finished.channelInterpretation;
                same->disableGrouping = finished.disableGrouping;
                same->previousNames = std::move(finished.previousNames);
            }
            took = true;
        }
        state.finishedLibraries.clear();
        // New entries may lack identities even when the count of entries is the same.
        if (took) state.backfillEntryCount = SIZE_MAX;
        if (took) RebuildInterpretationTable(set.libraries);
    }
    if (!state.running.load()) {
        std::string next;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (!state.scanQueue.empty()) {
                next = state.scanQueue.front();
                state.scanQueue.erase(state.scanQueue.begin());
            }
        }
        if (!next.empty()) StartScan(state, set, next, true, -1, false);
    }
    if (!state.running.load() && !state.backfillRunning.load()) StartBackfill(state, set);
}

}  // namespace morvane
