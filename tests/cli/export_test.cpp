// morvane-cli export, variations, bounce and revert-bounce, run as a user would:
// scan a folder of sounds, build a project, then write its files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "aaf/session_walk.h"
#include "cli/cli_project.h"
#include "cli/cli_runner.h"
#include "library/sound_fixtures.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

using test::CliRun;

CliRun Cli(const std::vector<std::string>& args, const std::string& dir) { return test::RunCli(args, dir); }

std::string Probe(const std::string& path, const std::string& entry) {
    std::string out;
    FILE* pipe = ::popen(("ffprobe -v error -show_entries " + entry + " -of default=nw=1:nk=1 '" + path + "'").c_str(), "r");
    char buffer[256];
    size_t got;
    while (pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    if (pipe) ::pclose(pipe);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(CliExport, ScanBuildExportAndTheFilesLandAtTheirTimecode) {
    CliProject c;
    ASSERT_EQ(Cli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    // Not built yet: one line, no files.
    CliRun r = Cli({"export", c.project, "--out", c.dir + "/out"}, c.dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("build the timeline first"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(c.dir + "/out"));

    ASSERT_EQ(Cli({"build", c.project, "--seed", "5"}, c.dir).code, 0);
    r = Cli({"export", c.project, "--out", c.dir + "/out", "--mix", "--stems", "--clips", "--range", "1", "4"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("Exporting mix…"), std::string::npos);
    EXPECT_NE(r.out.find("Exporting clips…"), std::string::npos);
    EXPECT_NE(r.out.find("[Export] Export complete — "), std::string::npos) << r.out;
    const std::string mix = c.dir + "/out/Reel 2.wav";
    EXPECT_EQ(Probe(mix, "format_tags=time_reference"), std::to_string(3601ull * 48000));
    EXPECT_EQ(Probe(mix, "stream=duration"), "3.000000");
    EXPECT_FALSE(fs::exists(c.dir + "/out/Tracks"));
    int clips = 0;
    for (const auto& entry : fs::directory_iterator(c.dir + "/out/Clips")) {
        ++clips;
        const uint64_t reference = std::stoull(Probe(entry.path().string(), "format_tags=time_reference"));
        EXPECT_GE(reference, 3601ull * 48000) << entry.path();  // inside the range, past its start
        EXPECT_LT(reference, 3604ull * 48000) << entry.path();
    }
    EXPECT_GT(clips, 0);

    // Surround: the layout's mask and no "fact" chunk, as ffprobe reads it.
    r = Cli({"export", c.project, "--out", c.dir + "/surround", "--mix", "--layout", "5.1", "--lufs", "-23"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Probe(c.dir + "/surround/Reel 2.wav", "stream=channel_layout"), "5.1");
    EXPECT_NE(r.out.find("[ExportWAV] 5.1 mixdown written to"), std::string::npos);

    // Bad usage is exit 2 with the usage line; a folder under a file is a handled failure.
    EXPECT_EQ(Cli({"export", c.project, "--out", c.dir + "/x", "--lufs", "-20"}, c.dir).code, 2);
    EXPECT_EQ(Cli({"export", c.project, "--out", c.dir + "/x", "--layout", "quad"}, c.dir).code, 2);
    EXPECT_EQ(Cli({"export", c.project}, c.dir).code, 2);
    test::WriteFile(c.dir + "/plain", "x");
    r = Cli({"export", c.project, "--out", c.dir + "/plain/out", "--mix"}, c.dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Export FAILED"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("[Export] Rollback: removed 0 files"), std::string::npos);
}

TEST(CliExport, VariationsBounceAndRevert) {
    CliProject c;
    ASSERT_EQ(Cli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(Cli({"build", c.project, "--seed", "5"}, c.dir).code, 0);
    Project before;
    ASSERT_TRUE(LoadProject(c.project, before).ok);

    CliRun r = Cli({"variations", c.project, "--events", "0,2", "--count", "3", "--out", c.dir + "/takes"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Rendering 3 variations…"), std::string::npos);
    EXPECT_NE(r.out.find("Exported 3 variations"), std::string::npos) << r.out;
    for (const char* n : {"01", "02", "03"})
        EXPECT_TRUE(fs::exists(c.dir + "/takes/Variations/Metal Hit_" + std::string(n) + ".wav")) << n;
    EXPECT_EQ(Cli({"variations", c.project, "--events", "0,x", "--count", "3", "--out", c.dir}, c.dir).code, 2);
    EXPECT_EQ(Cli({"variations", c.project, "--events", "9", "--count", "3", "--out", c.dir}, c.dir).code, 1);

    r = Cli({"bounce", c.project, "--events", "0,1"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(c.dir + "/Bounce/Metal Hit.wav"));
    Project bounced;
    ASSERT_TRUE(LoadProject(c.project, bounced).ok);
    ASSERT_EQ(bounced.timeline.events.size(), 2u);
    EXPECT_EQ(bounced.timeline.events[0].shape, EventShape::Clip);
    EXPECT_EQ(bounced.timeline.events[0].bounceSource.size(), 2u);

    r = Cli({"revert-bounce", c.project, "--event", "1"}, c.dir);
    EXPECT_EQ(r.code, 1);  // not a bounced clip
    r = Cli({"revert-bounce", c.project, "--event", "0"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err;
    Project after;
    ASSERT_TRUE(LoadProject(c.project, after).ok);
    ASSERT_EQ(after.timeline.events.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(after.timeline.events[i].time, before.timeline.events[i].time);
        EXPECT_EQ(after.timeline.events[i].shape, before.timeline.events[i].shape);
        EXPECT_TRUE(after.timeline.events[i].bounceSource.empty());
    }
    bool everyEventBuilt[3] = {false, false, false};
    for (const Layer& l : after.timeline.results)
        if (l.eventIdx >= 0 && l.eventIdx < 3) everyEventBuilt[l.eventIdx] = true;
    EXPECT_TRUE(everyEventBuilt[0] && everyEventBuilt[1] && everyEventBuilt[2]);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(CliExport, AafSessionWithItsOptionsBesideTheWavFiles) {
    CliProject c;
    ASSERT_EQ(test::RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(test::RunCli({"build", c.project, "--seed", "5"}, c.dir).code, 0);
    test::CliRun r = test::RunCli({"export", c.project, "--out", c.dir + "/out", "--aaf", "--handles", "abc"}, c.dir);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_FALSE(fs::exists(c.dir + "/out"));

    r = test::RunCli({"export", c.project, "--out", c.dir + "/out", "--aaf", "--mix", "--handles", "0.5", "--markers",
                      "--fade-in", "0.05", "--snap"},
                     c.dir);
    ASSERT_EQ(r.code, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("[AAF] writing '" + c.dir + "/out/Reel 2.aaf'"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[Export] Export complete — 2 files"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(c.dir + "/out/Reel 2.wav"));
    const test::WalkedSession s = test::WalkAafSession(c.dir + "/out/Reel 2.aaf");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.tcStart, 3600 * 24);
    EXPECT_EQ(s.markers.size(), 3u);
    int clips = 0;
    for (const test::WalkedTrack& track : s.tracks)
        for (const test::WalkedClip& clip : track.clips) {
            ++clips;
            EXPECT_TRUE(fs::exists(clip.path)) << clip.path;
            EXPECT_EQ(clip.path.rfind(c.dir + "/out/Audio Files/Reel 2_", 0), 0u) << clip.path;
            EXPECT_LE(clip.sourceOffset + clip.length, clip.mediaLength);
            EXPECT_EQ(clip.position % 2000, 0);  // 24 fps frames at 48 kHz
        }
    EXPECT_GE(clips, 3);

    // Only the session when no WAV kind is named.
    r = test::RunCli({"export", c.project, "--out", c.dir + "/aaf-only", "--aaf"}, c.dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(c.dir + "/aaf-only/Reel 2.aaf"));
    EXPECT_FALSE(fs::exists(c.dir + "/aaf-only/Reel 2.wav"));
}

}  // namespace
}  // namespace morvane
