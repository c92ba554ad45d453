// morvane-cli given what a careless script or a hostile user gives it: numbers that
// are not numbers, outputs that are the project or a device, names no file system
// takes, folders that are not there, and a kill in the middle of an export.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_project.h"
#include "cli/cli_runner.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::RunCli;

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

uint32_t LE32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// Whether the RIFF header and every chunk size agree with the file's length, with a
// "data" chunk among them: what a player trusts when it opens the file.
bool WavIsWhole(const std::string& path, std::string* why) {
    const std::string bytes = test::ReadFile(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
        *why = "no RIFF/WAVE header";
        return false;
    }
    if (static_cast<size_t>(LE32(bytes, 4)) + 8 != bytes.size()) {
        *why = "RIFF size " + std::to_string(LE32(bytes, 4)) + " on a file of " + std::to_string(bytes.size());
        return false;
    }
    bool data = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const size_t size = LE32(bytes, at + 4);
        data = data || bytes.compare(at, 4, "data") == 0;
        at += 8 + size + (size & 1);
    }
    if (at != bytes.size() || !data) {
        *why = "chunks end at " + std::to_string(at) + " of " + std::to_string(bytes.size());
        return false;
    }
    return true;
}

// Every file below `folder`, by path relative to it.
std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code code;
    for (const auto& entry : fs::recursive_directory_iterator(folder, code))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

bool IsTemporary(const std::string& name) { return name.find(".morvane-partial") != std::string::npos; }

bool ValidUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || lead == 0xC0 || lead == 0xC1 || at + length > text.size()) return false;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

TEST(CliHostileOptions, MalformedNumbersAreBadUsageAndTouchNothing) {
    CliProject c;
    const std::string before = test::ReadFile(c.project);
    const std::string& p = c.project;
    const std::string out = c.dir + "/out";
    const std::vector<std::vector<std::string>> refused = {
        {"build", p, "--event", "2147483648"},
        {"build", p, "--event", "1e10"},
        {"build", p, "--event", "1.5"},
        {"build", p, "--event", " 1"},
        {"build", p, "--event", "0x1"},
        {"build", p, "--event", "-1"},
        {"build", p, "--range", "nan", "nan"},
        {"build", p, "--range", "0", "inf"},
        {"build", p, "--range", "3", "1"},
        {"build", p, "--range", "1,5", "2"},
        {"build", p, "--salt", "4294967296"},
        {"build", p, "--seed", "-5"},
        {"build", p, "--seed", ""},
        {"build", p, "--event"},
        {"build", p, "--event", "1", "--event", "2"},
        {"build", p, "--bogus"},
        {"build", p, p},
        {"build", ""},
        {"scan", c.dir + "/sounds", "--threads", "1e3"},
        {"scan", c.dir + "/sounds", "--threads", "0"},
        {"trace", c.dir + "/none.mp4", "--sensitivity", "nan"},
        {"import-markers", c.dir + "/s.txt", "--project", p, "--fps", "inf"},
        {"export", p, "--out", out, "--range", "1e400", "2"},
        {"export", p, "--out", out, "--range", "-1", "2"},
        {"export", p, "--out", out, "--lufs", "-14.0"},
        {"export", p, "--out", ""},
        {"variations", p, "--events", "0", "--count", "1.5", "--out", out},
        {"variations", p, "--events", "0,,1", "--count", "2", "--out", out},
        {"bounce", p, "--events", "99999999999"},
        {"revert-bounce", p, "--event", "+1"},
        {"render", p, "--out", c.dir + "/r.wav", "--range", "-1", "2"},
        {"play", p, "--from", "nan"},
        {"play", p, "--from", "1e999"},
        {"library", "show", "x", "--json", "--json"},
        {"relink", "--folder"},
        {"demo", "--out", ""},
    };
    for (const std::vector<std::string>& args : refused) {
        const CliRun run = RunCli(args, c.dir);
        std::string shown;
        for (const std::string& a : args) shown += "'" + a + "' ";
        EXPECT_EQ(run.code, 2) << shown << run.err;
        EXPECT_EQ(Lines(run.err), 1) << shown << run.err;
        EXPECT_NE(run.err.find("usage: morvane-cli " + args[0]), std::string::npos) << shown << run.err;
    }
    // The message names the option and the value it refused.
    const CliRun run = RunCli({"build", p, "--event", "1e10"}, c.dir);
    EXPECT_NE(run.err.find("--event takes a whole number from 0 to 1000000, not '1e10'"), std::string::npos) << run.err;
    EXPECT_EQ(test::ReadFile(c.project), before);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(c.dir + "/r.wav"));

    // A well-formed number the project has no use for is a handled failure, not usage.
    EXPECT_EQ(RunCli({"build", p, "--event", "20"}, c.dir).code, 1);
    EXPECT_EQ(test::ReadFile(c.project), before);
}

TEST(CliHostileOptions, RenderReplacesOnlyAWavFile) {
    CliProject c;
    ASSERT_EQ(RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(RunCli({"build", c.project, "--seed", "3"}, c.dir).code, 0);
    const std::string project = test::ReadFile(c.project);

    const std::string notes = c.dir + "/notes.txt", fifo = c.dir + "/pipe", device = c.dir + "/device",
                      folder = c.dir + "/folder", link = c.dir + "/project-link.wav";
    test::WriteFile(notes, "my notes");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", device);
    fs::create_directory(folder);
    fs::create_symlink(c.project, link);
    for (const std::string& target : {c.project, link, notes, fifo, device, folder}) {
        const CliRun run = RunCli({"render", c.project, "--out", target}, c.dir);
        EXPECT_EQ(run.code, 1) << target << run.err;
        EXPECT_EQ(Lines(run.err), 1) << target << run.err;
    }
    EXPECT_EQ(test::ReadFile(c.project), project);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::ReadFile(notes), "my notes");
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(device));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));

    // A new file, then the same WAV again: both written whole, no temporary left.
    const std::string wav = c.dir + "/mix.wav";
    ASSERT_EQ(RunCli({"render", c.project, "--out", wav}, c.dir).code, 0);
    const CliRun again = RunCli({"render", c.project, "--out", wav, "--range", "1", "2"}, c.dir);
    EXPECT_EQ(again.code, 0) << again.err;
    std::string why;
    EXPECT_TRUE(WavIsWhole(wav, &why)) << why;
    for (const std::string& name : FilesBelow(c.dir)) EXPECT_FALSE(IsTemporary(name)) << name;
}

TEST(CliHostileOptions, AKilledExportLeavesOnlyWholeFilesAndTheNextRemovesTheRest) {
    CliProject c;
    ASSERT_EQ(RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(RunCli({"build", c.project, "--seed", "7"}, c.dir).code, 0);
    const std::string out = c.dir + "/out";
    const std::vector<std::string> exportAll = {"export", c.project, "--out", out, "--mix", "--stems", "--clips"};

    // Killed as the first, the third and the fifth file is about to be finished.
    for (const char* at : {"1", "3", "5"}) {
        const CliRun killed = RunCli(exportAll, c.dir, {std::string("MORVANE_TEST_KILL_AT_FILE=") + at});
        EXPECT_EQ(killed.signal, SIGKILL) << "kill at file " << at << ": " << killed.out;
        int temporaries = 0;
        for (const std::string& name : FilesBelow(out)) {
            if (IsTemporary(name)) {
                ++temporaries;
                continue;
            }
            std::string why;
            EXPECT_TRUE(WavIsWhole(out + "/" + name, &why)) << "kill at file " << at << ": " << name << ": " << why;
        }
        EXPECT_EQ(temporaries, 1) << "kill at file " << at;
    }

    const CliRun finished = RunCli(exportAll, c.dir);
    ASSERT_EQ(finished.code, 0) << finished.err;
    EXPECT_NE(finished.out.find("unfinished file"), std::string::npos) << finished.out;
    const std::vector<std::string> files = FilesBelow(out);
    EXPECT_GT(files.size(), 3u);
    for (const std::string& name : files) {
        EXPECT_FALSE(IsTemporary(name)) << name;
        std::string why;
        EXPECT_TRUE(WavIsWhole(out + "/" + name, &why)) << name << ": " << why;
    }
}

TEST(CliHostileOptions, ClipNamesFitTheFileSystemAndStayApart) {
    CliProject c({0.5f, 1.5f, 2.5f, 3.5f, 4.5f, 5.5f, 6.5f});
    ASSERT_EQ(RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(RunCli({"build", c.project, "--seed", "11"}, c.dir).code, 0);
    Project project;
    ASSERT_TRUE(LoadProject(c.project, project).ok);
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";  // 300 bytes of "é"
    const std::vector<std::string> names = {std::string(300, 'a'), std::string(300, 'a'), std::string("a\0b", 3),
                                            std::string("a\0c", 3), "tab\there\x01", "Door/Slam", accents};
    ASSERT_GE(project.timeline.results.size(), names.size());
    for (size_t i = 0; i < project.timeline.results.size(); ++i) {
        project.timeline.results[i].name = names[i % names.size()];
        project.timeline.results[i].muted = false;
    }
    ASSERT_TRUE(SaveProject(c.project, project));

    const CliRun run = RunCli({"export", c.project, "--out", c.dir + "/out", "--clips"}, c.dir);
    ASSERT_EQ(run.code, 0) << run.err << run.out;
    const std::vector<std::string> files = FilesBelow(c.dir + "/out/Clips");
    const std::string reported = std::to_string(files.size()) + " clips written";
    EXPECT_NE(run.out.find(reported), std::string::npos) << "on disk: " << files.size() << "\n" << run.out;
    EXPECT_GE(files.size(), names.size());
    for (const std::string& name : files) {
        EXPECT_LE(name.size(), 255u) << name;
        EXPECT_TRUE(ValidUtf8(name)) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".wav") << name;
        EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](char ch) { return static_cast<unsigned char>(ch) < 32; }))
            << name;
    }
    EXPECT_TRUE(std::find(files.begin(), files.end(), "a_b.wav") != files.end());
    EXPECT_TRUE(std::find(files.begin(), files.end(), "a_c.wav") != files.end());
    EXPECT_TRUE(std::find(files.begin(), files.end(), "Door_Slam.wav") != files.end());
}

TEST(CliHostileOptions, FailuresSayWhatAndWhyOnOneLine) {
    CliProject c;
    ASSERT_EQ(RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    ASSERT_EQ(RunCli({"build", c.project, "--seed", "2"}, c.dir).code, 0);

    // Export: a "Clips" that is a file stops the clips and says so on stderr.
    fs::create_directories(c.dir + "/out");
    test::WriteFile(c.dir + "/out/Clips", "in the way");
    CliRun run = RunCli({"export", c.project, "--out", c.dir + "/out", "--mix", "--clips"}, c.dir);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("Export FAILED"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("clips: cannot create the folder " + c.dir + "/out/Clips"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(c.dir + "/out/Reel 2.wav"));  // the mix is whole and kept

    // Relink: a folder that is not there, or is a file, is an error.
    for (const std::string& folder : {c.dir + "/missing", c.dir + "/out/Clips"}) {
        run = RunCli({"relink", "--folder", folder}, c.dir);
        EXPECT_EQ(run.code, 1) << folder << run.out;
        EXPECT_EQ(Lines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find("is not a folder"), std::string::npos) << run.err;
    }
    EXPECT_EQ(RunCli({"relink", "--folder", c.dir + "/sounds"}, c.dir).code, 0);

    // Scan: an index that cannot be written is a failure, not "index: PATH".
    test::WriteFile(c.dir + "/documents-file", "x");
    run = RunCli({"scan", c.dir + "/sounds"}, c.dir, {"XDG_DOCUMENTS_DIR=" + c.dir + "/documents-file"});
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("could not write the library index"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("index: "), std::string::npos) << run.out;

    // Import markers: a folder or a binary file is not a session; the project is not saved.
    const std::string project = test::ReadFile(c.project);
    const std::string fresh = c.dir + "/fresh.mvproj";
    test::WriteFile(c.dir + "/binary.txt", std::string("\x00\x01\x02 not text", 12));
    for (const std::string& session : {c.dir + "/sounds", c.dir + "/binary.txt", c.dir + "/absent.txt"}) {
        for (const std::string& target : {c.project, fresh}) {
            run = RunCli({"import-markers", session, "--project", target}, c.dir);
            EXPECT_EQ(run.code, 1) << session << run.out;
            EXPECT_EQ(Lines(run.err), 1) << run.err;
        }
    }
    EXPECT_EQ(test::ReadFile(c.project), project);
    EXPECT_FALSE(fs::exists(fresh));
}

TEST(CliHostileOptions, LibraryJsonIsValidUtf8WhateverTheFileNames) {
    CliProject c;
    test::SoundParams tone;
    tone.bextDescription = "Latin-1 caf\xE9 and a bell \x07";
    test::WriteSound(c.dir + "/sounds/caf\xE9 hit.wav", tone);
    ASSERT_EQ(RunCli({"scan", c.dir + "/sounds"}, c.dir).code, 0);
    const CliRun run = RunCli({"library", "show", "sounds", "--json"}, c.dir);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(ValidUtf8(run.out));
    EXPECT_NE(run.out.find("caf\xEF\xBF\xBD hit.wav"), std::string::npos) << run.out.substr(0, 400);
    EXPECT_EQ(run.out.find('\x07'), std::string::npos);
}

}  // namespace
}  // namespace morvane
