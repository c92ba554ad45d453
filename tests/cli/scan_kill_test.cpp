// A scan killed at any moment (a crash, a power cut, the user's kill) keeps what it
// analysed: the library it leaves loads, and the next scan re-uses that work instead
// of analysing the files again.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 40;

// "N analysed, M re-used" from the scan's summary line; -1 when absent.
int Count(const std::string& out, const std::string& what) {
    const size_t at = out.find(" " + what);
    if (at == std::string::npos) return -1;
    size_t start = out.rfind(' ', at - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return std::stoi(out.substr(start, at - start));
}

// The files of the library as `library show` lists them (one line each after the
// name, folder and summary lines).
int ListedFiles(const std::string& dir, const std::string& name) {
    const test::CliRun shown = test::RunCli({"library", "show", name}, dir);
    if (shown.code != 0) return -1;
    int files = 0;
    for (size_t at = shown.out.find(".wav\t"); at != std::string::npos; at = shown.out.find(".wav\t", at + 1)) ++files;
    return files;
}

TEST(CliScanKill, AKilledScanLeavesAUsableLibraryAndTheRescanReusesItsWork) {
    test::ScopedHome home;
    const std::string dir = home.dir / "work";
    const std::string sounds = dir + "/Field";
    fs::create_directories(sounds + "/deeper");
    for (int i = 0; i < kFiles; ++i) {
        test::SoundParams p;
        p.frames = 4800 + 10 * i;
        p.frequency = 200.0 + 37.0 * i;
        ASSERT_TRUE(test::WriteSound(sounds + (i % 3 == 0 ? "/deeper/" : "/") + "tone" + std::to_string(i) + ".wav", p));
    }
    auto killedAt = [&](int file, const std::string& threads) {
        return test::RunCli({"scan", sounds, "--threads", threads}, dir,
                            {"MORVANE_TEST_KILL_AT_FILE=" + std::to_string(file)});
    };

    // Killed after the first file of the very first scan: no index was ever written,
    // yet the library is there with at least that file.
    test::CliRun run = killedAt(1, "1");
    ASSERT_EQ(run.signal, SIGKILL) << run.out << run.err;
    EXPECT_GE(ListedFiles(dir, "Field"), 1);

    // Killed again part-way with two workers: what the first run kept is re-used,
    // and the files finished before the kill are kept as well.
    run = killedAt(25, "2");
    ASSERT_EQ(run.signal, SIGKILL) << run.out << run.err;
    const int kept = ListedFiles(dir, "Field");
    EXPECT_GE(kept, 25);
    EXPECT_LE(kept, kFiles);

    // Killed as the last file finished, before the index was written at the end.
    run = killedAt(kFiles, "2");
    ASSERT_EQ(run.signal, SIGKILL) << run.out << run.err;
    EXPECT_EQ(ListedFiles(dir, "Field"), kFiles);

    // The finishing scan analyses nothing: every file was kept by a killed run.
    run = test::RunCli({"scan", sounds}, dir);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(Count(run.out, "analysed"), 0) << run.out;
    EXPECT_EQ(Count(run.out, "re-used"), kFiles) << run.out;
    EXPECT_EQ(ListedFiles(dir, "Field"), kFiles);

    // Nothing is left beside the index once a scan has finished, and a kill during
    // a rescan in which nothing changed loses nothing.
    const size_t indexAt = run.out.find("index: ");
    ASSERT_NE(indexAt, std::string::npos) << run.out;
    const std::string indexLine = run.out.substr(indexAt + 7, run.out.find('\n', indexAt) - indexAt - 7);
    const fs::path index = fs::path(indexLine).parent_path();
    for (const auto& item : fs::directory_iterator(index))
        EXPECT_EQ(item.path().extension(), ".mvlib") << item.path();
    run = killedAt(kFiles / 2, "2");
    ASSERT_EQ(run.signal, SIGKILL);
    EXPECT_EQ(ListedFiles(dir, "Field"), kFiles);
    run = test::RunCli({"scan", sounds}, dir);
    EXPECT_EQ(Count(run.out, "re-used"), kFiles) << run.out;
}

}  // namespace
}  // namespace morvane
