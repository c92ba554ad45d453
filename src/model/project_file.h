#pragma once
// The project file (".mvproj"): one JSON document holding the whole open project, with
// the project's audio collected into an "Audio" folder beside it so that the folder is
// self-contained.
//
// Saving never leaves a half-written project behind: the document goes to a temporary
// file of its own beside the project (the project path + ".tmp-" and a unique ending),
// is forced to disk, and only then renamed over the project. Loading reads only regular
// files, and never touches the target project unless the whole document was read: a
// document that ends before its root closes is "Truncated file", never a smaller project.
//
// Collecting audio copies only files that start like sound files, and a copy never has
// more permissions than its source.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/timeline.h"

namespace morvane {

inline constexpr const char* kProjectFormatName = "Morvane";
inline constexpr int kProjectFormatVersion = 5;
inline constexpr int kProjectMinReaderVersion = 1;
inline constexpr const char* kProjectExtension = ".mvproj";
inline constexpr const char* kCollectedAudioFolder = "Audio";

// One library file the project refers to by id, so that the library can find the file
// again by id, content hash and size after it has moved.
struct FileRef {
    std::string id;
    bool hasHash = false;
    uint64_t hash = 0;   // the library's content hash
    bool hasSize = false;
    uint64_t size = 0;   // bytes
    std::string path;    // full path in memory
    bool operator==(const FileRef&) const = default;
};

// The library answers here what it knows of an id when a project is written: fills
// hash/size (setting their flags) and, when the project itself holds no path for the id,
// the path. Returns false when the id is unknown. The model never includes the library;
// the library registers itself. No provider: the entries carry the project's paths only.
using FileRefProvider = std::function<bool(const std::string& id, FileRef& ref)>;
void SetFileRefProvider(FileRefProvider provider);
// Receives every "fileRefs" entry of a project as it is loaded (after the document has
// been read whole, before LoadProject returns).
using FileRefSink = std::function<void(const FileRef& ref)>;
void SetFileRefSink(FileRefSink sink);

// The distinct library ids the project refers to (layers, alloy parts, pinned files,
// banned ids), ascending, each with the project's own path for it when it has one and
// what the provider adds.
std::vector<FileRef> CollectFileRefs(const Project& project);

struct SaveProjectResult {
    bool ok = false;
    int collectedFiles = 0;  // files whose written path lies in "Audio/"
    int copiedFiles = 0;     // files copied into "Audio/" by this save
    int failedCopies = 0;    // files that could not be copied (written with their own path)
};

// Writes the project to path (the caller appends ".mvproj" when it wants one). The
// in-memory project is not changed.
bool SaveProject(const std::string& path, const Project& project);
SaveProjectResult SaveProjectEx(const std::string& path, const Project& project);

// Writes an autosave backup of the project saved at projectPath to backupPath (another
// folder, e.g. "Backups" beside the project). Audio is collected into the project's own
// "Audio" folder, exactly as a save of the project would, and the backup refers to it
// relative to the backup's folder ("../Audio/..."), so backups never copy sound files.
SaveProjectResult SaveProjectBackup(const std::string& backupPath, const std::string& projectPath,
                                    const Project& project);

// The document as SaveProject would write it, without collecting audio: every path is
// written as it is in memory, except a path inside projectFolder/Audio, which is written
// relative ("Audio/...") as a save would. projectFolder may be empty.
std::string FormatProjectDocument(const Project& project, const std::string& projectFolder);

struct LoadProjectResult {
    bool ok = false;
    std::string error;    // empty on success
    std::string warning;  // empty when none (a project from a newer version)
    std::string videoPath;
    int missingFiles = 0;  // referenced audio files that do not exist
    int referencedFiles = 0;  // distinct referenced audio files
    int version = 0;          // the document's "version"
    std::string savedBy;
    std::vector<FileRef> fileRefs;  // the "fileRefs" table as read
};

// Empty when path opens as a regular file; else the load error for it ("Could not open
// file: <path>", with the reason when the path names something other than a file).
std::string ProjectFileProblem(const std::string& path);

// Reads path into project. On failure project is left as it was. Keys the document does
// not hold keep the values of `defaults` (a new project's when null). The event list is
// replaced under timelineMutex and the timeline-replaced hook is called.
LoadProjectResult LoadProject(const std::string& path, Project& project, const Project* defaults = nullptr);
// The same from the document's text; projectFolder resolves relative paths (may be empty).
LoadProjectResult LoadProjectFromText(std::string_view text, const std::string& projectFolder, Project& project,
                                      const Project* defaults = nullptr);

// Companion files of a project path.
std::string ProjectThumbnailPath(const std::string& projectPath);  // ".mvproj" -> ".thumb.png"
// path with ".mvproj" appended when it does not end with it.
std::string WithProjectExtension(const std::string& path);

// Writes the thumbnail PNG from top-row-first RGBA pixels, scaled down to at most
// kThumbnailMaxWidth pixels wide. Replaces the old thumbnail only when the new one was
// written whole.
inline constexpr int kThumbnailMaxWidth = 480;
bool WriteProjectThumbnail(const std::string& projectPath, const uint8_t* rgba, int width, int height);

}  // namespace morvane
