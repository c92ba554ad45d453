#include "model/project_lifecycle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "model/preferences.h"
#include "model/undo.h"
#include "platform/folders.h"
#include "platform/regular_file.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

void ShowStatus(const std::string& text) {
    if (CurrentLifecycleHooks().status) CurrentLifecycleHooks().status(text, kStatusSeconds);
}

void ResetAutosaveTimer() {
    if (CurrentLifecycleHooks().resetAutosaveTimer) CurrentLifecycleHooks().resetAutosaveTimer();
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool ModifiedTime(const std::string& path, struct timespec& time) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    time = st.st_mtim;
    return true;
}

bool IsNewer(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

// A new project's settings: the fixed defaults, with the choices the preferences keep
// for new projects.
Project NewProjectDefaults() {
    const Preferences& prefs = Prefs();
    Project p;
    if (IsProjectSampleRate(prefs.projectSampleRate)) p.projectSampleRate = prefs.projectSampleRate;
    TimelineSettings& s = p.timeline.settings;
    s.maxEventDuration = prefs.maxEventDuration;
    s.scaleType = prefs.scaleType;
    s.scaleRoot = prefs.scaleRoot;
    s.pitchShiftProb = prefs.pitchShiftProb;
    s.freqShiftIntensity = prefs.freqShiftIntensity;
    s.reverseProb = prefs.reverseProb;
    ClampTimelineSettings(s);
    ExportSettings& x = p.exportSettings;
    x.handleDuration = prefs.handleDuration;
    x.handleFullSource = prefs.handleFullSource;
    x.fadeInDuration = prefs.fadeInDuration;
    x.fadeOutDuration = prefs.fadeOutDuration;
    x.exportAAFMarkers = prefs.exportAAFMarkers;
    x.exportAAFVolAuto = prefs.exportAAFVolAuto;
    x.exportAAFSourceChannels = prefs.exportAAFSourceChannels;
    x.exportFormatAAF = prefs.exportFormatAAF;
    x.exportFormatWAV = prefs.exportFormatWAV;
    x.exportWavMixdown = prefs.exportWavMixdown;
    x.exportWavStems = prefs.exportWavStems;
    x.exportWavTracks = prefs.exportWavTracks;
    x.exportWavClips = prefs.exportWavClips;
    x.exportReverbStem = prefs.exportReverbStem;
    ReverbSettings& r = p.reverb;
    r.enabled = prefs.reverbEnabled;
    r.size = prefs.reverbSize;
    r.decay = prefs.reverbDecay;
    r.damping = prefs.reverbDamping;
    r.preDelay = prefs.reverbPreDelay;
    r.diffusion = prefs.reverbDiffusion;
    r.modulation = prefs.reverbModulation;
    r.groupSends = prefs.reverbSend;
    r.macro = prefs.reverbMacro;
    return p;
}

// A lock this process holds is no sign of a crash. (The process id inside the file
// proves nothing: after a restart the program may well get the same id again.)
bool LockIsOurs(const std::string& lockPath) { return CurrentSession().heldCrashLock == lockPath; }

// The process id a lock names ("pid=<id>"), or 0.
long LockProcess(const std::string& lockPath) {
    std::string text;
    if (!ReadRegularFile(lockPath, text, nullptr, 64) || text.rfind("pid=", 0) != 0) return 0;
    return std::strtol(text.c_str() + 4, nullptr, 10);
}

}  // namespace

LifecycleHooks& CurrentLifecycleHooks() {
    static LifecycleHooks hooks;
    return hooks;
}

void SetLifecycleHooks(LifecycleHooks hooks) { CurrentLifecycleHooks() = std::move(hooks); }

ProjectSession& CurrentSession() {
    static ProjectSession session;
    return session;
}

std::string CrashLockPath(const std::string& projectPath) { return projectPath + ".lock"; }

std::string BackupsFolder(const std::string& projectPath) {
    fs::path folder = fs::path(projectPath).parent_path();
    return (folder / "Backups").string();
}

std::string BackupPath(const std::string& projectPath, int slot) {
    std::string base = fs::path(projectPath).stem().string();
    char name[64];
    std::snprintf(name, sizeof name, ".backup%d.mvproj", slot);
    return (fs::path(BackupsFolder(projectPath)) / (base + name)).string();
}

void WriteCrashLock(const std::string& projectPath) {
    if (projectPath.empty()) return;
    ProjectSession& session = CurrentSession();
    const std::string lock = CrashLockPath(projectPath);
    if (!session.heldCrashLock.empty() && session.heldCrashLock != lock) {
        // Saved under another name: the old project is no longer open here.
        ::unlink(session.heldCrashLock.c_str());
        session.heldCrashLock.clear();
    }
    std::FILE* file = std::fopen(lock.c_str(), "wb");
    if (!file) return;
    std::fprintf(file, "pid=%d\n", static_cast<int>(::getpid()));
    if (std::fclose(file) != 0) return;
    session.heldCrashLock = lock;
}

void ReleaseCrashLock() {
    ProjectSession& session = CurrentSession();
    if (session.heldCrashLock.empty()) return;
    ::unlink(session.heldCrashLock.c_str());
    session.heldCrashLock.clear();
}

bool RotateBackups(const std::string& projectPath, int maxBackups) {
    if (maxBackups < 1 || projectPath.empty()) return true;
    std::error_code ec;
    fs::create_directories(BackupsFolder(projectPath), ec);
    if (!IsFolder(BackupsFolder(projectPath))) return false;
    ::unlink(BackupPath(projectPath, maxBackups).c_str());
    for (int k = maxBackups - 1; k >= 1; --k) {
        const std::string from = BackupPath(projectPath, k);
        if (IsFile(from)) ::rename(from.c_str(), BackupPath(projectPath, k + 1).c_str());
    }
    return true;
}

void NewProject() {
    Project& project = CurrentProject();
    ClearUndoHistory(project);
    Project fresh = NewProjectDefaults();
    fresh.history = std::move(project.history);
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        project = std::move(fresh);
        NotifyTimelineReplaced();
    }
    LifecycleHooks& hooks = CurrentLifecycleHooks();
    if (hooks.clearCaches) hooks.clearCaches();
    if (hooks.resetSelection) hooks.resetSelection();
    ReleaseCrashLock();
    project.modified = false;
    ResetAutosaveTimer();
    ProjectSession& session = CurrentSession();
    session.projectPath.clear();
    session.recoveredFromBackup = false;
    session.lastLoad = LoadProjectResult{};
    if (hooks.videoChanged) hooks.videoChanged(std::string());
    ShowStatus("New project");
}

long ProjectLockHolder(const std::string& projectPath) {
    if (projectPath.empty()) return 0;
    const long pid = LockProcess(CrashLockPath(projectPath));
    if (pid == static_cast<long>(::getpid())) return 0;
    return ProcessIsRunning(pid) ? pid : 0;
}

std::string SaveProjectBesideWindow(const std::string& path, const Project& project) {
    if (const long holder = ProjectLockHolder(path))
        return path + " is open in Morvane (process " + std::to_string(holder) + "); close it there first";
    if (!SaveProject(path, project)) return "could not save " + path;
    return {};
}

bool OpenProject(const std::string& path) {
    if (path.empty()) return false;
    // Only a regular file opens; anything else (a pipe would block the window for good)
    // is refused here with the reason.
    if (const std::string problem = ProjectFileProblem(path); !problem.empty()) {
        ShowStatus(PathExists(path) ? "Error: " + problem : "File not found");
        return false;
    }
    ProjectSession& session = CurrentSession();
    const std::string lock = CrashLockPath(path);
    const std::string backup = BackupPath(path, 1);

    // A lock left behind means the last session with this project did not end cleanly:
    // its newest work is in backup slot 1. Only a backup newer than the project itself
    // holds newer work (a save after the last autosave leaves the project newer), and a
    // lock this process holds is no crash at all.
    bool recover = false;
    struct timespec backupTime {}, projectTime {};
    if (IsFile(lock) && !LockIsOurs(lock) && ModifiedTime(backup, backupTime)) {
        if (!ModifiedTime(path, projectTime) || IsNewer(backupTime, projectTime)) {
            recover = true;
            std::printf("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: %s\n", backup.c_str());
        } else {
            std::printf("[Recovery] Crash lock detected, but %s is newer than its backup \xE2\x80\x94 loading it\n",
                        path.c_str());
        }
        std::fflush(stdout);
    }
    if (session.heldCrashLock != lock) ::unlink(lock.c_str());

    Project& project = CurrentProject();
    const Project defaults = NewProjectDefaults();
    LoadProjectResult result;
    bool backupDamaged = false;
    if (recover) {
        // Only a backup that reads whole is recovered: one cut short by the crash would
        // open as a smaller project under the project's path, and the next save would
        // write its remains over the project. Such a backup never keeps the project
        // itself from opening.
        result = LoadProject(backup, project, &defaults);
        if (!result.ok) {
            std::printf("[Recovery] Backup is damaged (%s) \xE2\x80\x94 loading %s\n", result.error.c_str(),
                        path.c_str());
            std::fflush(stdout);
            recover = false;
            backupDamaged = true;
        }
    }
    if (!recover) result = LoadProject(path, project, &defaults);
    if (!result.ok) {
        ShowStatus("Error: " + result.error);
        return false;
    }

    ClearUndoHistory(project);
    LifecycleHooks& hooks = CurrentLifecycleHooks();
    if (hooks.clearCaches) hooks.clearCaches();
    session.projectPath = path;
    session.recoveredFromBackup = recover;
    if (hooks.videoChanged) hooks.videoChanged(project.videoPath);
    if (hooks.resetSelection) hooks.resetSelection();
    if (hooks.reopenAudio) hooks.reopenAudio(project.projectSampleRate);
    // Recovered work is not in the project file yet: closing must ask before it is lost.
    project.modified = recover;
    ResetAutosaveTimer();

    if (recover) ShowStatus("Recovered from backup");
    else if (backupDamaged) ShowStatus("Backup damaged \xE2\x80\x94 opened the last saved project");
    else if (!result.warning.empty()) ShowStatus(result.warning);
    else if (result.missingFiles > 0) ShowStatus("Opened (some files missing)");
    else ShowStatus("Project opened");

    AddRecentProject(path);
    WriteCrashLock(path);
    SavePreferences();
    const bool built = project.timeline.built;
    session.lastLoad = std::move(result);
    if (built && hooks.startRebuild) hooks.startRebuild("Loading audio\xE2\x80\xA6");
    return true;
}

bool SaveProjectCommand(const std::string& requestedPath) {
    if (requestedPath.empty()) {
        ShowStatus("Save failed");
        return false;
    }
    const std::string path = WithProjectExtension(requestedPath);
    Project& project = CurrentProject();
    if (!SaveProject(path, project)) {
        ShowStatus("Save failed");
        return false;
    }
    ShowStatus("Project saved");
    ProjectSession& session = CurrentSession();
    session.projectPath = path;
    project.modified = false;
    ResetAutosaveTimer();
    AddRecentProject(path);
    WriteCrashLock(path);
    SavePreferences();
    if (CurrentLifecycleHooks().requestThumbnail) CurrentLifecycleHooks().requestThumbnail(path);
    return true;
}

bool Autosave() {
    const std::string path = CurrentSession().projectPath;
    if (path.empty()) return false;
    RotateBackups(path, Prefs().maxBackups);
    const std::string backup = BackupPath(path, 1);
    // A failed autosave still resets the timer: it is tried again after the next interval.
    ResetAutosaveTimer();
    if (!SaveProjectBackup(backup, path, CurrentProject()).ok) {
        std::printf("[AutoSave] Backup failed (%s)\n", backup.c_str());
        std::fflush(stdout);
        return false;
    }
    WriteCrashLock(path);
    std::printf("[AutoSave] Backed up to slot 1 (%s)\n", backup.c_str());
    std::fflush(stdout);
    return true;
}

}  // namespace morvane
