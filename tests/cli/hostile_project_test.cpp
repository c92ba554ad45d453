// morvane-cli on project files that are not what they claim to be: things that are not
// files, files cut short, two saves of one project at once, and a project a window holds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "model/project_file.h"
#include "model/project_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::ReadFile;
using test::RunCli;
using test::WriteFile;

// Each test runs in a home of its own (no preferences, no libraries) with its logs apart
// from the project folder, whose contents some tests check.
struct HostileProject : testing::Test {
    test::ScopedHome home;
    test::TempDir logs;
    std::string Path(const std::string& name) { return (home.dir.path / name).string(); }
    CliRun Run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
        return RunCli(args, logs.path.string(), environment);
    }
};

// A project with events and 45 layers, each playing a sound collected into Audio/.
std::string SaveShow(const std::string& path, int layers) {
    const fs::path folder = fs::path(path).parent_path();
    Project show;
    show.projectDescription = "a reel cut by a hostile hand";
    show.timeline.events.resize(3);
    for (int i = 0; i < layers; ++i) {
        const fs::path sound = folder / "lib" / ("take" + std::to_string(i) + ".wav");
        test::WriteTinyWav(sound, 200 + i, i);
        Layer layer;
        layer.filepath = sound.string();
        layer.eventIdx = i % 3;
        layer.startTime = static_cast<float>(i) * 0.5f;
        show.timeline.results.push_back(layer);
    }
    testing::internal::CaptureStdout();
    const bool saved = SaveProject(path, show);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(saved);
    return ReadFile(path);
}

TEST_F(HostileProject, WhatIsNotAFileIsRefusedAtOnce) {
    const std::string pipe = Path("pipe.mvproj"), folder = Path("folder.mvproj");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directories(folder);
    fs::create_symlink(Path("loop-b.mvproj"), Path("loop-a.mvproj"));
    fs::create_symlink(Path("loop-a.mvproj"), Path("loop-b.mvproj"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {pipe, "is a named pipe, not a file"},
        {"/dev/null", "is a device, not a file"},
        {folder, "is a folder, not a file"},
        {Path("loop-a.mvproj"), std::strerror(ELOOP)},
    };
    for (const auto& [path, why] : cases) {
        for (const char* command : {"info", "build"}) {
            // A hang is ended by the runner's alarm and shows as code -1.
            CliRun run = Run({command, path});
            EXPECT_EQ(run.code, 1) << command << " " << path;
            EXPECT_EQ(run.err, std::string("morvane-cli ") + command + ": Could not open file: " + path + " (" +
                                   why + ")\n");
        }
    }
    EXPECT_TRUE(fs::is_fifo(pipe)) << "the pipe was left as it was";
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HostileProject, CutProjectIsAnErrorAndIsNeverSavedOver) {
    const std::string whole = SaveShow(Path("show.mvproj"), 45);
    CliRun info = Run({"info", Path("show.mvproj")});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Layers:         45 (built)"), std::string::npos) << info.out;

    const std::string cut = Path("cut.mvproj");
    for (int percent : {10, 30, 50, 70, 90}) {
        const std::string bytes = whole.substr(0, whole.size() * static_cast<size_t>(percent) / 100);
        WriteFile(cut, bytes);
        CliRun read = Run({"info", cut});
        EXPECT_EQ(read.code, 1) << percent << "%: " << read.out;
        EXPECT_EQ(read.err, "morvane-cli info: Truncated file\n") << percent << "%";
        EXPECT_EQ(read.out, "");
        CliRun built = Run({"build", cut, "--seed", "1"});
        EXPECT_EQ(built.code, 1) << percent << "%: " << built.out;
        EXPECT_EQ(built.err, "morvane-cli build: Truncated file\n") << percent << "%";
        EXPECT_TRUE(ReadFile(cut) == bytes) << "a build at " << percent << "% saved over the cut file";
    }
}

// While the pipe's writer holds it open, a save that carries MORVANE_SAVE_GATE waits with
// its temporary file open; opening the pipe for writing returns only once it waits there.
struct Gate {
    int fd = -1;
    ~Gate() { Release(); }
    void Release() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

void NoteAlarm(int) {}

TEST_F(HostileProject, TwoSavesOfOneProjectNeverWeave) {
    const std::string show = Path("show.mvproj");
    SaveShow(show, 0);
    const std::string gatePath = logs / "gate";
    ASSERT_EQ(::mkfifo(gatePath.c_str(), 0600), 0);

    // The first build (event 0 only: fewer layers, a shorter document) reaches its save
    // and waits there with its temporary open.
    test::CliChild first = test::StartCli({"build", show, "--event", "0", "--seed", "1"}, logs.path.string(), "first",
                                          {"MORVANE_SAVE_GATE=" + gatePath});
    struct sigaction quiet {}, previous {};
    quiet.sa_handler = NoteAlarm;  // no SA_RESTART: a hang here ends the open with EINTR
    ::sigaction(SIGALRM, &quiet, &previous);
    ::alarm(test::kCliTimeoutSeconds);
    Gate gate;
    gate.fd = ::open(gatePath.c_str(), O_WRONLY | O_CLOEXEC);
    ::alarm(0);
    ::sigaction(SIGALRM, &previous, nullptr);
    if (gate.fd < 0) {
        ::kill(first.pid, SIGKILL);
        test::FinishCli(first);
        FAIL() << "the first build never reached its save";
    }

    // The second build of every event runs whole meanwhile.
    CliRun second = Run({"build", show, "--seed", "2"});
    EXPECT_EQ(second.code, 0) << second.err;
    CliRun between = Run({"info", show});
    EXPECT_NE(between.out.find("Layers:         12 (built)"), std::string::npos) << between.out;

    // Then the first save goes on: it replaces the second's document whole.
    gate.Release();
    CliRun firstRun = test::FinishCli(first);
    EXPECT_EQ(firstRun.code, 0) << firstRun.err;
    CliRun info = Run({"info", show});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("Layers:         4 (built)"), std::string::npos) << "the save that said it saved is on disk\n"
                                                                                << info.out;
    // Whole means nothing after the document's end: the file is exactly the document read from it.
    CliRun dump = Run({"info", "--dump", show});
    EXPECT_TRUE(dump.out == ReadFile(show)) << "the file holds one document with the tail of another";
    for (const fs::directory_entry& entry : fs::directory_iterator(home.dir.path))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// A process that sleeps until it is killed, standing in for a window with the project open.
struct LockHolder {
    pid_t pid = ::fork();
    LockHolder() {
        if (pid == 0) {
            for (;;) ::pause();
        }
    }
    ~LockHolder() { End(); }
    void End() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

TEST_F(HostileProject, ToolLeavesAProjectOpenInAWindowAlone) {
    const std::string show = Path("show.mvproj");
    const std::string before = SaveShow(show, 6);
    LockHolder window;
    ASSERT_GT(window.pid, 0);
    WriteFile(show + ".lock", "pid=" + std::to_string(window.pid) + "\n");

    CliRun refused = Run({"build", show, "--seed", "3"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "morvane-cli build: " + show + " is open in Morvane (process " +
                               std::to_string(window.pid) + "); close it there first\n");
    EXPECT_TRUE(ReadFile(show) == before) << "the refused build changed the project";
    EXPECT_EQ(Run({"info", show}).code, 0) << "reading is fine while the window has it";

    // A lock whose process has ended is a crash's leftover, not an open window.
    window.End();
    CliRun built = Run({"build", show, "--seed", "3"});
    EXPECT_EQ(built.code, 0) << built.err;
    EXPECT_FALSE(ReadFile(show) == before) << "the build saved nothing";
}

}  // namespace
}  // namespace morvane
