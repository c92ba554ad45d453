#pragma once
// Sound files written under a temporary name beside their final path and renamed into
// place only when whole, so a process killed in the middle of an export leaves whole
// files and temporaries, never a file with a header that promises samples it lacks.
// The next export into the same folder removes the temporaries.
//
// For tests, MORVANE_TEST_KILL_AT_FILE=N in the environment kills the process with
// SIGKILL just before the N-th file it writes is finished (see partial_file.cpp).
//
// Any thread may call these; each open file belongs to the thread writing it.
#include <sndfile.h>

#include <cstddef>
#include <functional>
#include <set>
#include <string>

namespace morvane {

// The temporary of "x.wav" is "x.wav.morvane-partial". A long name is cut first so
// that the temporary's name stays within kMaxPartialNameBytes: a file whose own name
// uses the file system's 255 bytes can still be written, and a fix-up of the
// temporary still has four bytes for its own ".tmp".
inline constexpr const char* kPartialFileSuffix = ".morvane-partial";
inline constexpr size_t kMaxPartialNameBytes = 251;
std::string PartialPathOf(const std::string& path);

struct PartialSoundFile {
    SNDFILE* file = nullptr;
    int fd = -1;
    std::string path;       // where the file goes when whole
    std::string temporary;  // where it is written meanwhile
};

// Opens a new WAV file of `format` under the temporary name of `path` (a leftover of
// that name is replaced). False, with `why` set when given, when it cannot be made.
bool OpenPartialSoundFile(const std::string& path, int format, int channels, int sampleRate, PartialSoundFile* out,
                          std::string* why);

// The samples were all written: closes the file, forces it to disk, applies `fixUp`
// (when given) to the temporary and renames it onto the final path. False, with `why`
// set, on any failure; the temporary is then removed.
bool FinishPartialSoundFile(PartialSoundFile& partial, std::string* why,
                            const std::function<void(const std::string& temporary)>& fixUp = nullptr);

// While one of these lives on a thread, the files that thread finishes are still forced
// to disk before they are named, but their folders are forced once each when it ends
// rather than after every rename: an export of hundreds of files waits for the disk
// once per folder instead of once per file. A power cut before the end can leave a
// finished file under its temporary name (samples whole), which the next export
// into the folder removes; never a named file without its samples.
struct FolderSyncBatch {
    FolderSyncBatch();
    ~FolderSyncBatch();
    FolderSyncBatch(const FolderSyncBatch&) = delete;
    FolderSyncBatch& operator=(const FolderSyncBatch&) = delete;
    std::set<std::string> folders;  // renamed into, not yet forced
    FolderSyncBatch* outer = nullptr;
};

// Closes (when open) and deletes the temporary: a failed file leaves nothing.
void AbandonPartialSoundFile(PartialSoundFile& partial);

// Deletes the temporaries an interrupted export left directly in `folder`; returns how many.
int RemoveLeftoverPartialFiles(const std::string& folder);

}  // namespace morvane
