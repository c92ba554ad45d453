// morvane-cli info, run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::CliRun;
using test::RunCli;

TEST(CliInfo, SummaryDumpAndErrors) {
    test::TempDir dir;
    test::WriteFile(dir / "present.wav", "RIFF");
    Project p;
    p.projectSampleRate = 96000;
    p.timeline.settings.totalDuration = 42.5f;
    p.timeline.events.resize(3);
    p.timeline.events[1].shape = EventShape::Bloom;
    p.timeline.events[2].shape = EventShape::Bloom;
    p.timeline.scenes.resize(2);
    p.timeline.userShapes.resize(1);
    Layer present, gone;
    present.filepath = dir / "present.wav";
    gone.filepath = dir / "gone.wav";
    p.timeline.results = {present, gone};
    // The document as the program wrote it (the save collects the existing sound).
    ASSERT_TRUE(SaveProject(dir / "show.mvproj", p));

    CliRun info = RunCli({"info", dir / "show.mvproj"}, dir);
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(info.err, "");
    EXPECT_NE(info.out.find("Format version: 5"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Sample rate:    96000 Hz"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Duration:       42.500 s"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Events:         3 (Spot 1, Bloom 2)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Layers:         2 (built)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Scenes:         2"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("User shapes:    1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Audio files:    2 referenced, 1 missing"), std::string::npos) << info.out;

    // The dump is the project file's own form, after every reader rule: it reads back
    // and, for a file this program wrote, is that very file.
    CliRun dump = RunCli({"info", dir / "show.mvproj", "--dump"}, dir);
    EXPECT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.out, test::ReadFile(dir / "show.mvproj"));
    test::WriteFile(dir / "odd.mvproj",
                    R"({"format": "Morvane", "projectSampleRate": 22050, "masterGain": 500, "events": [{"gain": 7}]})");
    CliRun clamped = RunCli({"--version"}, dir);
    std::string version = clamped.out.substr(0, clamped.out.find('\n'));
    clamped = RunCli({"info", "--dump", dir / "odd.mvproj"}, dir);
    EXPECT_EQ(clamped.code, 0);
    EXPECT_NE(clamped.out.find("\"savedBy\": \"" + version + "\""), std::string::npos);
    EXPECT_NE(clamped.out.find("\"projectSampleRate\": 48000"), std::string::npos);
    EXPECT_NE(clamped.out.find("\"masterGain\": 100"), std::string::npos);
    EXPECT_NE(clamped.out.find("\"gain\": 1,"), std::string::npos);
    Project reread;
    EXPECT_TRUE(LoadProjectFromText(clamped.out, "", reread).ok);

    // Warnings on stderr, with the summary still on stdout.
    test::WriteFile(dir / "newer.mvproj", R"({"format": "Morvane", "minReaderVersion": 6, "savedBy": "2027.1.0"})");
    CliRun newer = RunCli({"info", dir / "newer.mvproj"}, dir);
    EXPECT_EQ(newer.code, 0);
    EXPECT_EQ(newer.err,
              "Warning: Newer version project (saved by v2027.1.0) \xE2\x80\x94 some data may be lost if you save\n");
    EXPECT_NE(newer.out.find("Saved by:       2027.1.0"), std::string::npos);

    // Files that cannot be loaded: exit 1 and the reader's text on one line.
    test::WriteFile(dir / "empty.mvproj", "");
    test::WriteFile(dir / "blank.mvproj", "   \n");
    test::WriteFile(dir / "other.mvproj", R"({"format": "Other"})");
    const std::vector<std::pair<std::string, std::string>> failures = {
        {dir / "missing.mvproj", "Could not open file: " + (dir / "missing.mvproj")},
        {dir / "empty.mvproj", "Empty file"},
        {dir / "blank.mvproj", "Invalid JSON"},
        {dir / "other.mvproj", "Not a Morvane project file"}};
    for (const auto& [path, error] : failures) {
        CliRun failed = RunCli({"info", path}, dir);
        EXPECT_EQ(failed.code, 1) << path;
        EXPECT_EQ(failed.out, "") << path;
        EXPECT_EQ(failed.err, "morvane-cli info: " + error + "\n");
    }

    // Usage errors.
    EXPECT_EQ(RunCli({"info"}, dir).code, 2);
    EXPECT_EQ(RunCli({"info", dir / "show.mvproj", "--bogus"}, dir).code, 2);
    CliRun help = RunCli({"info", "--help"}, dir);
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: morvane-cli info PROJECT [--dump]"), std::string::npos);
}

}  // namespace
}  // namespace morvane
