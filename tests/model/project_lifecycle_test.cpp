#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "model/preferences.h"
#include "model/project_file.h"
#include "model/project_fixtures.h"
#include "model/project_lifecycle.h"
#include "model/undo.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// The lifecycle works on the one open project; each test starts from a new project in
// its own home and records what the hooks were asked to do.
struct Lifecycle : testing::Test {
    test::ScopedHome home;
    std::vector<std::string> statuses;
    std::vector<std::string> calls;

    void SetUp() override {
        Prefs() = Preferences{};
        LifecycleHooks hooks;
        hooks.status = [this](const std::string& text, float) { statuses.push_back(text); };
        hooks.clearCaches = [this] { calls.push_back("clearCaches"); };
        hooks.reopenAudio = [this](int rate) { calls.push_back("audio " + std::to_string(rate)); };
        hooks.startRebuild = [this](const std::string& text) { calls.push_back("rebuild " + text); };
        hooks.requestThumbnail = [this](const std::string& path) { calls.push_back("thumb " + path); };
        hooks.videoChanged = [this](const std::string& path) { calls.push_back("video " + path); };
        SetLifecycleHooks(hooks);
        NewProject();
        statuses.clear();
        calls.clear();
    }
    void TearDown() override {
        NewProject();
        SetLifecycleHooks({});
    }
    std::string Path(const std::string& name) { return (home.dir.path / name).string(); }
    std::string LastStatus() { return statuses.empty() ? std::string() : statuses.back(); }
};

bool HasCall(const std::vector<std::string>& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST_F(Lifecycle, SaveOpenAndNewMoveTheProjectAndItsLock) {
    Project& project = CurrentProject();
    project.timeline.events.resize(2);
    project.projectSampleRate = 96000;
    PushUndo(project);
    ASSERT_TRUE(project.modified);

    // The save command appends the extension and takes the path over.
    ASSERT_TRUE(SaveProjectCommand(Path("reel")));
    const std::string path = Path("reel.mvproj");
    EXPECT_EQ(LastStatus(), "Project saved");
    EXPECT_EQ(CurrentSession().projectPath, path);
    EXPECT_FALSE(project.modified);
    EXPECT_EQ(ReadFile(CrashLockPath(path)), "pid=" + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(Prefs().recentProjects.front(), path);
    EXPECT_TRUE(HasCall(calls, "thumb " + path));

    // Save As moves the lock: the old project is no longer open here.
    ASSERT_TRUE(SaveProjectCommand(Path("copy.mvproj")));
    EXPECT_FALSE(fs::exists(CrashLockPath(path)));
    EXPECT_TRUE(fs::exists(CrashLockPath(Path("copy.mvproj"))));

    // A missing file leaves the open project as it is.
    EXPECT_FALSE(OpenProject(Path("missing.mvproj")));
    EXPECT_EQ(LastStatus(), "File not found");
    EXPECT_EQ(CurrentSession().projectPath, Path("copy.mvproj"));
    EXPECT_EQ(project.timeline.events.size(), 2u);
    // A file that is not a project: "Error: " and the reader's text, project untouched.
    WriteFile(Path("notes.mvproj"), "{\"hello\": 1}");
    EXPECT_FALSE(OpenProject(Path("notes.mvproj")));
    EXPECT_EQ(LastStatus(), "Error: Not a Morvane project file");
    EXPECT_EQ(project.timeline.events.size(), 2u);

    NewProject();
    EXPECT_EQ(LastStatus(), "New project");
    EXPECT_TRUE(project.timeline.events.empty());
    EXPECT_EQ(CurrentSession().projectPath, "");
    EXPECT_FALSE(fs::exists(CrashLockPath(Path("copy.mvproj")))) << "a new project releases the lock";
    EXPECT_FALSE(CanUndo(project));

    calls.clear();
    ASSERT_TRUE(OpenProject(path));
    EXPECT_EQ(LastStatus(), "Project opened");
    EXPECT_EQ(project.timeline.events.size(), 2u);
    EXPECT_FALSE(CanUndo(project));
    EXPECT_TRUE(HasCall(calls, "audio 96000"));
    EXPECT_TRUE(HasCall(calls, "clearCaches"));
    EXPECT_FALSE(HasCall(calls, "rebuild Loading audio\xE2\x80\xA6")) << "nothing built, nothing to rebuild";
    EXPECT_TRUE(fs::exists(CrashLockPath(path)));

    // A built project starts the rebuild; missing sounds and newer files change the text.
    Layer layer;
    layer.filepath = Path("nowhere.wav");
    project.timeline.results.push_back(layer);
    project.timeline.built = true;
    ASSERT_TRUE(SaveProjectCommand(path));
    calls.clear();
    ASSERT_TRUE(OpenProject(path));
    EXPECT_EQ(LastStatus(), "Opened (some files missing)");
    EXPECT_TRUE(HasCall(calls, "rebuild Loading audio\xE2\x80\xA6"));
    WriteFile(Path("newer.mvproj"), R"({"format": "Morvane", "minReaderVersion": 6, "savedBy": "2027.1.0"})");
    ASSERT_TRUE(OpenProject(Path("newer.mvproj")));
    EXPECT_EQ(LastStatus(), "Newer version project (saved by v2027.1.0) \xE2\x80\x94 some data may be lost if you save");
}

TEST_F(Lifecycle, AutosaveRotatesBackupsAndNeverRunsUntitled) {
    Project& project = CurrentProject();
    project.timeline.events.resize(1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Autosave()) << "an untitled project is never autosaved";
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(home.dir.path / "Backups"));

    test::WriteTinyWav(home.dir.path / "lib" / "door.wav", 100, 1);
    Layer layer;
    layer.filepath = Path("lib/door.wav");
    project.timeline.results.push_back(layer);
    ASSERT_TRUE(SaveProjectCommand(Path("reel.mvproj")));
    const std::string path = Path("reel.mvproj");

    Prefs().maxBackups = 3;
    fs::create_directories(home.dir.path / "Backups");
    for (int slot = 1; slot <= 3; ++slot) WriteFile(BackupPath(path, slot), "old slot " + std::to_string(slot));
    project.projectDescription = "newest";
    project.modified = true;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Autosave());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[AutoSave] Backed up to slot 1 (" + BackupPath(path, 1) + ")"), std::string::npos) << log;
    EXPECT_EQ(BackupPath(path, 2), Path("Backups/reel.backup2.mvproj"));
    EXPECT_EQ(ReadFile(BackupPath(path, 2)), "old slot 1");
    EXPECT_EQ(ReadFile(BackupPath(path, 3)), "old slot 2");
    EXPECT_FALSE(fs::exists(BackupPath(path, 4)));
    EXPECT_TRUE(project.modified) << "the project file itself was not written";

    // The backup shares the project's collected sounds instead of copying them again.
    EXPECT_FALSE(fs::exists(home.dir.path / "Backups" / "Audio"));
    Project backup;
    ASSERT_TRUE(LoadProject(BackupPath(path, 1), backup).ok);
    EXPECT_EQ(backup.projectDescription, "newest");
    EXPECT_EQ(ReadFile(backup.timeline.results[0].filepath), ReadFile(Path("lib/door.wav")));
    EXPECT_EQ(fs::canonical(backup.timeline.results[0].filepath), fs::canonical(Path("Audio/door.wav")));
}

TEST_F(Lifecycle, CrashLockRecoversFromTheNewestBackup) {
    Project& project = CurrentProject();
    project.projectDescription = "saved";
    ASSERT_TRUE(SaveProjectCommand(Path("reel.mvproj")));
    const std::string path = Path("reel.mvproj");
    project.projectDescription = "autosaved later";
    project.modified = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Autosave());
    testing::internal::GetCapturedStdout();

    // Reopening while this process holds the lock is no crash: the project file opens.
    ASSERT_TRUE(OpenProject(path));
    EXPECT_EQ(project.projectDescription, "saved");
    EXPECT_EQ(LastStatus(), "Project opened");

    // The program died: the lock stays behind and this process no longer holds it.
    CurrentSession().heldCrashLock.clear();
    WriteFile(CrashLockPath(path), "pid=99999\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(path));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LastStatus(), "Recovered from backup");
    EXPECT_NE(log.find("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: " + BackupPath(path, 1)),
              std::string::npos)
        << log;
    EXPECT_EQ(project.projectDescription, "autosaved later");
    EXPECT_EQ(CurrentSession().projectPath, path) << "never the backup's path";
    EXPECT_TRUE(project.modified) << "recovered work is not in the project file yet";
    EXPECT_EQ(ReadFile(CrashLockPath(path)), "pid=" + std::to_string(::getpid()) + "\n");
    ASSERT_TRUE(SaveProjectCommand(CurrentSession().projectPath));
    Project onDisk;
    ASSERT_TRUE(LoadProject(path, onDisk).ok);
    EXPECT_EQ(onDisk.projectDescription, "autosaved later");

    // A save after the last autosave leaves the project newer than slot 1: a crash then
    // must not bring the older backup back.
    project.projectDescription = "saved after the backup";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(SaveProjectCommand(path));
    CurrentSession().heldCrashLock.clear();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(path));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(project.projectDescription, "saved after the backup");
    EXPECT_EQ(LastStatus(), "Project opened");

    // A clean exit leaves no lock; the next open reads the project itself.
    ReleaseCrashLock();
    EXPECT_FALSE(fs::exists(CrashLockPath(path)));
    ASSERT_TRUE(OpenProject(path));
    EXPECT_EQ(LastStatus(), "Project opened");
}

// The crash that left the lock may also have cut the backup short. Such a backup is
// never opened in the project's place (it would read as a project with fewer layers,
// and the next save would write that over the project).
TEST_F(Lifecycle, DamagedBackupOpensTheProjectItself) {
    Project& project = CurrentProject();
    project.projectDescription = "saved";
    project.timeline.results.resize(45);
    ASSERT_TRUE(SaveProjectCommand(Path("reel.mvproj")));
    const std::string path = Path("reel.mvproj");
    const std::string saved = ReadFile(path);
    project.projectDescription = "autosaved later";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Autosave());
    testing::internal::GetCapturedStdout();
    const std::string backup = ReadFile(BackupPath(path, 1));
    WriteFile(BackupPath(path, 1), backup.substr(0, backup.size() / 2));

    CurrentSession().heldCrashLock.clear();
    WriteFile(CrashLockPath(path), "pid=99999\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(path));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LastStatus(), "Backup damaged \xE2\x80\x94 opened the last saved project");
    EXPECT_NE(log.find("[Recovery] Backup is damaged (Truncated file)"), std::string::npos) << log;
    EXPECT_EQ(project.projectDescription, "saved");
    EXPECT_EQ(project.timeline.results.size(), 45u);
    EXPECT_FALSE(project.modified) << "nothing was recovered, nothing is unsaved";
    ASSERT_TRUE(SaveProjectCommand(CurrentSession().projectPath));
    EXPECT_EQ(ReadFile(path), saved);
}

// A pipe or a folder as the project to open is refused at once with the reason; the
// window would otherwise wait on the pipe for good.
TEST_F(Lifecycle, OpenRefusesWhatIsNotAFile) {
    ::alarm(60);  // a hang ends the test run instead of blocking it
    const std::string pipe = Path("pipe.mvproj");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    CurrentProject().projectDescription = "current";
    EXPECT_FALSE(OpenProject(pipe));
    EXPECT_EQ(LastStatus(), "Error: Could not open file: " + pipe + " (is a named pipe, not a file)");
    fs::create_directories(Path("folder.mvproj"));
    EXPECT_FALSE(OpenProject(Path("folder.mvproj")));
    EXPECT_EQ(LastStatus(), "Error: Could not open file: " + Path("folder.mvproj") + " (is a folder, not a file)");
    EXPECT_EQ(CurrentProject().projectDescription, "current");
    EXPECT_EQ(CurrentSession().projectPath, "");
    ::alarm(0);
}

}  // namespace
}  // namespace morvane
