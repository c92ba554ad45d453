#pragma once
// The open project's identity on disk and the commands that change it (new, open,
// save), the rotating autosave backups beside the project, and the crash lock that tells
// the next start that the program did not end cleanly.
//
// The desktop program and morvane-cli both go through these. Everything runs on the
// thread that owns the project (the user-interface thread in the program). Work owned by
// higher subsystems (the render cache, the audio output, the background rebuild, the
// window thumbnail) is reached through hooks the caller registers; an absent hook does
// nothing.
//
// Files for a project P in folder F with base name B:
//   crash lock  P + ".lock", holding "pid=<id>\n"
//   backups     F/Backups/B.backup<k>.mvproj, slot 1 the newest
#include <functional>
#include <string>

#include "model/project_file.h"
#include "model/timeline.h"

namespace morvane {

struct LifecycleHooks {
    // The one-line status text for the user, shown for the given seconds.
    std::function<void(const std::string& text, float seconds)> status;
    // Empty the render cache, the per-event caches and the playback state.
    std::function<void()> clearCaches;
    // Reset the selection and put the playhead at 0.
    std::function<void()> resetSelection;
    // The project's reference video changed (empty: none); the video code opens it.
    std::function<void(const std::string& videoPath)> videoChanged;
    // Reopen the audio output at the project's sample rate.
    std::function<void(int sampleRate)> reopenAudio;
    // Start the background rebuild of the render cache, showing this status text.
    std::function<void(const std::string& statusText)> startRebuild;
    // Capture the window after this frame and write it with WriteProjectThumbnail.
    std::function<void(const std::string& projectPath)> requestThumbnail;
    // Set the frame loop's autosave accumulator back to 0.
    std::function<void()> resetAutosaveTimer;
};

// Replaces every hook at once.
void SetLifecycleHooks(LifecycleHooks hooks);
LifecycleHooks& CurrentLifecycleHooks();

inline constexpr float kStatusSeconds = 3.0f;

// The open project's place on disk.
struct ProjectSession {
    std::string projectPath;    // empty for a new, unsaved project
    std::string heldCrashLock;  // the lock file this process holds; empty when none
    bool recoveredFromBackup = false;  // the last open loaded backup slot 1
    LoadProjectResult lastLoad;        // what the last successful open read (fileRefs...)
};
ProjectSession& CurrentSession();

// Companion paths.
std::string CrashLockPath(const std::string& projectPath);           // P + ".lock"
std::string BackupsFolder(const std::string& projectPath);           // F/Backups
std::string BackupPath(const std::string& projectPath, int slot);    // F/Backups/B.backup<k>.mvproj

// Empties the project (undo, events, results, settings back to a new project's, whose
// defaults come from the preferences), deletes the held crash lock, clears the path and
// modified, shows "New project".
void NewProject();

// Opens path into the current project, recovering from backup slot 1 when a crash lock
// for path is found and the backup reads as a whole document (a damaged backup opens
// path itself, with the status "Backup damaged — opened the last saved project"). The
// project path becomes path (never the backup's). False, with the current project
// untouched, when the file does not exist ("File not found"), is not a regular file or
// cannot be read ("Error: ...").
bool OpenProject(const std::string& path);

// The save command: appends ".mvproj" when missing, saves, and on success makes the
// path the project path, clears modified, adds it to the recent projects, rewrites the
// crash lock, saves the preferences and requests the thumbnail. Shows "Project saved"
// or "Save failed".
bool SaveProjectCommand(const std::string& path);

// Writes the project to backup slot 1 after rotating the older slots (maxBackups from the
// preferences). False for an untitled project. modified stays as it is.
bool Autosave();

// Shifts slots 1..N-1 to 2..N, deleting slot N. Nothing happens when maxBackups is below
// 1 or the project path is empty. False when the Backups folder cannot be made.
bool RotateBackups(const std::string& projectPath, int maxBackups);

// Writes "pid=<id>\n" to the lock of projectPath and remembers it as held (a lock that
// cannot be written is ignored). A different lock held before is deleted first.
void WriteCrashLock(const std::string& projectPath);
// Deletes the held lock (a new project, clean shutdown) and forgets it.
void ReleaseCrashLock();

// The id of another running process whose lock is on projectPath (a window that has the
// project open), or 0: no lock, our own, or one left by a process that has ended.
long ProjectLockHolder(const std::string& projectPath);

// The save of a tool that edits project files beside the window (morvane-cli): refuses a
// project a running window holds, whose next save would silently undo this one. Empty on
// success, else one line saying why ("<path> is open in Morvane (process <id>); close it
// there first", or "could not save <path>").
std::string SaveProjectBesideWindow(const std::string& path, const Project& project);

}  // namespace morvane
