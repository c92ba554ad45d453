#pragma once
// The user's folders, the program's own data folder, and the few file operations
// that must never leave a half-written or overwritten file behind.
//
// Every folder text is a UTF-8 path without a trailing separator (except
// VariationsFolder, which ends with "/" because callers append file names to it).
// An empty text means "there is no such folder": the environment names no home.
#include <string>
#include <vector>

namespace morvane {

// $XDG_CONFIG_HOME/Morvane, else $HOME/.config/Morvane; empty when neither names an
// absolute folder (then the program keeps no preferences file).
std::string AppDataFolder();

// $XDG_DOCUMENTS_DIR/Morvane, else $HOME/Documents/Morvane; empty when neither names
// an absolute folder. The subfolders below are empty whenever this one is.
std::string DocumentsFolder();
std::string ProjectsFolder();
std::string LibrariesFolder();
std::string VariationsFolder();  // ends with "/"
std::string RecipesFolder();
std::string ChainsFolder();

// The folder that holds what ships beside the program ("DemoContent", "Fonts"):
// the folder of the running executable when it holds either, else
// ../share/morvane beside it when that holds either, else the executable's folder.
// MORVANE_DATA_DIR in the environment, or SetProgramDataFolder, replaces the search.
std::string ProgramDataFolder();

// The path of one shipped item (e.g. "DemoContent"): the first candidate folder that
// holds it, else ProgramDataFolder() + "/" + name.
std::string ProgramDataPath(const std::string& name);

// Pins the program data folder (tests, packaging); an empty text restores the search.
void SetProgramDataFolder(const std::string& folder);

// The search of ProgramDataFolder for a given executable folder; exposed so the
// installed layout (bin/ beside share/morvane/) can be checked without installing.
std::string ResolveProgramDataFolder(const std::string& executableFolder);

// Creates the application data folder and the documents tree (Projects, Libraries,
// Variations, Recipes, Chains) when missing. A folder that cannot be created is
// skipped. Returns true when the application data folder exists afterwards.
bool EnsureUserFolders();

bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

// Joins with a single "/" between the parts.
std::string JoinPath(const std::string& folder, const std::string& name);

// Outcome of copying a folder tree without replacing anything at the destination.
struct TreeCopyResult {
    std::vector<std::string> copiedFiles;  // destination paths of the files written
    int keptFiles = 0;                     // already present at the destination, left alone
    int failures = 0;                      // files or folders that could not be created
};

// Copies the regular files below `from` into `to`, creating folders as needed.
// A destination that already exists is kept as it is (a user's own file is never
// replaced); each file appears whole or not at all. Symbolic links to folders are
// not followed (no loops), and special files (pipes, sockets, devices) are skipped.
TreeCopyResult CopyTreeKeepingExisting(const std::string& from, const std::string& to);

// Replaces `path` with `bytes` through a temporary file in the same folder that is
// flushed to disk before it is renamed over the old file, so a crash leaves either
// the old or the new content. When `path` is a symbolic link, its target is replaced.
// Returns false (and leaves the old file untouched) on any failure.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

// How an atomic replacement went, for callers that report the failing step.
struct AtomicWriteResult {
    bool ok = false;
    bool renameFailed = false;  // the temporary was written but could not replace the file
    int error = 0;              // the system's error number of the failing step
    std::string temporary;      // the temporary file that was used (removed on failure)
};

// WriteFileAtomically with a fixed temporary name (the target's path + temporarySuffix),
// or, when the suffix is empty, a name of its own: the target's path + ".tmp-", this
// process's id, "-" and a unique ending, so that two writers of one file never share a
// temporary. A new file gets newFileMode; an existing file keeps its permissions.
// afterOpen, when given, runs once the temporary is open and before anything is written
// to it (a test holds one writer there while another runs).
AtomicWriteResult ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                                        const std::string& temporarySuffix, unsigned newFileMode,
                                        void (*afterOpen)() = nullptr);

// Whether pid names a running process (one of another user counts too).
bool ProcessIsRunning(long pid);

// Deletes the unique temporaries of `path` whose writing process has ended (a writer
// killed between creating and renaming its temporary). Those of running processes stay:
// they may be writing right now.
void RemoveAbandonedTemporaries(const std::string& path);

// write(2) until every byte is out, retrying interrupted calls.
bool WriteFully(int fd, const char* data, size_t size);

// Forces the folder holding `path` to disk, so a rename into it survives a power cut.
void SyncFolderOf(const std::string& path);

}  // namespace morvane
