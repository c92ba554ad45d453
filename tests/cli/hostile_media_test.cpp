// Every command that reads a sound file, a session text or a video refuses a path that is
// no regular file at once: a named pipe, a device, a folder, a link to itself. Each run
// ends with exit 1 and one line naming the path and what it is, and leaves the project
// as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "library/hostile_paths.h"
#include "library/sound_fixtures.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::CliRun;
using test::RunCli;

// A built project of two layers: a real tone and the file under test.
Project BuiltProject(const test::TempDir& dir, const std::string& secondSound) {
    test::SoundParams tone;
    tone.frames = 2 * 48000;
    test::WriteSound(dir / "tone.wav", tone);
    Project p;
    p.projectSampleRate = 48000;
    p.timeline.settings.totalDuration = 3.0f;
    p.timeline.events.resize(2);
    p.timeline.built = true;
    Layer a;
    a.name = "tone";
    a.filepath = dir / "tone.wav";
    a.duration = 1.5f;
    Layer b = a;
    b.name = "second";
    b.filepath = secondSound;
    b.startTime = 1.0f;
    b.eventIdx = 1;
    p.timeline.results = {a, b};
    return p;
}

void ExpectRefused(const CliRun& run, const std::string& command, const test::HostilePath& hostile) {
    EXPECT_EQ(run.code, 1) << command << " " << hostile.path << "\n" << run.err;
    EXPECT_EQ(run.err, "morvane-cli " + command + ": cannot read \"" + hostile.path + "\": " + hostile.kind + "\n");
}

TEST(CliHostileMedia, LayerSoundFilesThatAreNotFilesStopBuildRenderAndExport) {
    test::ScopedHome home;
    test::TempDir dir;
    for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".wav")) {
        const std::string project = dir / "reel.mvproj";
        ASSERT_TRUE(SaveProject(project, BuiltProject(dir, hostile.path)));
        const std::string before = test::ReadFile(project);

        ExpectRefused(RunCli({"build", project}, dir), "build", hostile);
        ExpectRefused(RunCli({"render", project, "--out", dir / "mix.wav"}, dir), "render", hostile);
        std::filesystem::create_directory(dir.path / "exports");
        ExpectRefused(RunCli({"export", project, "--out", dir / "exports", "--mix"}, dir), "export", hostile);

        EXPECT_EQ(test::ReadFile(project), before) << hostile.path;
        EXPECT_FALSE(std::filesystem::exists(dir.path / "mix.wav"));
        EXPECT_TRUE(std::filesystem::is_empty(dir.path / "exports"));
    }
    // A layer whose file is simply missing still renders, as silence.
    ASSERT_TRUE(SaveProject(dir / "missing.mvproj", BuiltProject(dir, dir / "gone.wav")));
    const CliRun run = RunCli({"render", dir / "missing.mvproj", "--out", dir / "mix.wav"}, dir);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("1 layer had no readable sound file"), std::string::npos) << run.out;
}

TEST(CliHostileMedia, SessionTextsAndVideosThatAreNotFilesAreRefused) {
    test::ScopedHome home;
    test::TempDir dir;
    const std::string project = dir / "reel.mvproj";
    ASSERT_TRUE(SaveProject(project, BuiltProject(dir, dir / "tone.wav")));
    const std::string before = test::ReadFile(project);
    for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".txt"))
        ExpectRefused(RunCli({"import-markers", hostile.path, "--project", project}, dir), "import-markers", hostile);
    for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".mp4")) {
        ExpectRefused(RunCli({"trace", hostile.path, "--project", project}, dir), "trace", hostile);
        ExpectRefused(RunCli({"trace", hostile.path}, dir), "trace", hostile);
    }
    EXPECT_EQ(test::ReadFile(project), before);
    // A project that did not exist yet is not started by a refused import.
    ExpectRefused(RunCli({"import-markers", dir / "pipe.txt", "--project", dir / "new.mvproj"}, dir),
                  "import-markers", {"is a named pipe, not a file", dir / "pipe.txt"});
    EXPECT_FALSE(std::filesystem::exists(dir.path / "new.mvproj"));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) left.push_back(entry.path().filename());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& name) {
                  return name.find("mvtrace") != std::string::npos;
              }),
              0);
}

}  // namespace
}  // namespace morvane
