#include "platform/folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedHome;
using test::TempDir;
using test::WriteFile;

// Sets (or, with nullopt, removes) one environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (previous_) setenv(name_, previous_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.push_back(e.path().lexically_relative(root).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Folders, FollowXdgVariablesThenHomeAndVanishWithoutEither) {
    ScopedHome home;
    const std::string h = home.dir.path.string();

    EXPECT_EQ(AppDataFolder(), h + "/.config/Morvane");
    EXPECT_EQ(DocumentsFolder(), h + "/Documents/Morvane");
    EXPECT_EQ(ProjectsFolder(), h + "/Documents/Morvane/Projects");
    EXPECT_EQ(LibrariesFolder(), h + "/Documents/Morvane/Libraries");
    EXPECT_EQ(VariationsFolder(), h + "/Documents/Morvane/Variations/");
    EXPECT_EQ(RecipesFolder(), h + "/Documents/Morvane/Recipes");
    EXPECT_EQ(ChainsFolder(), h + "/Documents/Morvane/Chains");

    {
        // A trailing slash in HOME must not produce "//" in the paths.
        ScopedEnv slash("HOME", h + "/");
        EXPECT_EQ(AppDataFolder(), h + "/.config/Morvane");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", h + "/cfg");
        ScopedEnv docs("XDG_DOCUMENTS_DIR", h + "/Docs");
        EXPECT_EQ(AppDataFolder(), h + "/cfg/Morvane");
        EXPECT_EQ(DocumentsFolder(), h + "/Docs/Morvane");
        EXPECT_EQ(ChainsFolder(), h + "/Docs/Morvane/Chains");
    }
    {
        // Relative or empty values are not folders: the home fallback applies.
        ScopedEnv config("XDG_CONFIG_HOME", "relative/cfg");
        ScopedEnv docs("XDG_DOCUMENTS_DIR", "");
        EXPECT_EQ(AppDataFolder(), h + "/.config/Morvane");
        EXPECT_EQ(DocumentsFolder(), h + "/Documents/Morvane");
    }
    {
        ScopedEnv noHome("HOME", std::nullopt);
        EXPECT_EQ(AppDataFolder(), "");
        EXPECT_EQ(DocumentsFolder(), "");
        // Never a path hanging off the root of the file system.
        EXPECT_EQ(ProjectsFolder(), "");
        EXPECT_EQ(VariationsFolder(), "");
        EXPECT_FALSE(EnsureUserFolders());
    }
}

TEST(Folders, EnsureUserFoldersCreatesTheTreeAndSurvivesABlockedPath) {
    ScopedHome home;
    EXPECT_TRUE(EnsureUserFolders());
    for (const std::string& folder : {AppDataFolder(), ProjectsFolder(), LibrariesFolder(), VariationsFolder(),
                                      RecipesFolder(), ChainsFolder()})
        EXPECT_TRUE(IsFolder(folder)) << folder;
    // Running again on an existing tree is harmless.
    EXPECT_TRUE(EnsureUserFolders());

    // A file where the configuration folder should be: reported, not thrown.
    ScopedEnv config("XDG_CONFIG_HOME", (home.dir.path / "blocker").string());
    WriteFile(home.dir.path / "blocker", "not a folder");
    EXPECT_FALSE(EnsureUserFolders());
    EXPECT_EQ(ReadFile(home.dir.path / "blocker"), "not a folder");
}

TEST(Folders, ProgramDataFolderSearchAndOverrides) {
    ScopedEnv noEnv("MORVANE_DATA_DIR", std::nullopt);
    SetProgramDataFolder("");

    // Default: the running executable's folder when nothing ships beside it.
    const std::string exeFolder = fs::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(ResolveProgramDataFolder(exeFolder), ProgramDataFolder());

    // Installed layout: <prefix>/bin/program with <prefix>/share/morvane/DemoContent.
    TempDir prefix;
    fs::create_directories(prefix.path / "bin");
    fs::create_directories(prefix.path / "share/morvane/DemoContent");
    const std::string bin = (prefix.path / "bin").string();
    EXPECT_EQ(ResolveProgramDataFolder(bin), (prefix.path / "share/morvane").string());
    // Content beside the executable wins over the installed layout.
    fs::create_directories(prefix.path / "bin/Fonts");
    EXPECT_EQ(ResolveProgramDataFolder(bin), bin);
    EXPECT_EQ(ResolveProgramDataFolder(""), "");

    TempDir data;
    fs::create_directories(data.path / "DemoContent");
    {
        ScopedEnv env("MORVANE_DATA_DIR", data.path.string());
        EXPECT_EQ(ProgramDataFolder(), data.path.string());
        EXPECT_EQ(ProgramDataPath("DemoContent"), (data.path / "DemoContent").string());
    }
    TempDir pinned;
    SetProgramDataFolder(pinned.path.string() + "/");
    {
        ScopedEnv env("MORVANE_DATA_DIR", data.path.string());
        EXPECT_EQ(ProgramDataFolder(), pinned.path.string());  // the setter wins
        EXPECT_EQ(ProgramDataPath("DemoContent"), (pinned.path / "DemoContent").string());
        EXPECT_FALSE(IsFolder(ProgramDataPath("DemoContent")));
    }
    SetProgramDataFolder("");
}

TEST(Folders, CopyTreeKeepsExistingFilesAndSkipsWhatCannotBeCopied) {
    TempDir src, dst;
    WriteFile(src.path / "a.txt", "alpha");
    fs::create_directories(src.path / "deep/deeper");
    WriteFile(src.path / "deep/deeper/b.bin", std::string("b\0b", 3));
    WriteFile(src.path / "mine.txt", "shipped version");
    fs::create_directories(src.path / "empty");
    // A pipe would block a naive copy forever; a folder link back to the root
    // would make it endless.
    ASSERT_EQ(mkfifo((src.path / "pipe").c_str(), 0600), 0);
    fs::create_directory_symlink(src.path, src.path / "loop");
    WriteFile(dst.path / "mine.txt", "user's version");

    TreeCopyResult r = CopyTreeKeepingExisting(src.path.string(), dst.path.string());
    EXPECT_EQ(r.copiedFiles.size(), 2u);
    EXPECT_EQ(r.keptFiles, 1);
    EXPECT_EQ(r.failures, 0);
    EXPECT_EQ(ReadFile(dst.path / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dst.path / "deep/deeper/b.bin"), std::string("b\0b", 3));
    EXPECT_EQ(ReadFile(dst.path / "mine.txt"), "user's version");
    EXPECT_TRUE(fs::is_directory(dst.path / "empty"));
    EXPECT_FALSE(fs::exists(dst.path / "pipe"));
    EXPECT_FALSE(fs::exists(dst.path / "loop"));
    // No temporary leftovers next to the copies.
    EXPECT_EQ(FilesBelow(dst.path), (std::vector<std::string>{"a.txt", "deep", "deep/deeper", "deep/deeper/b.bin",
                                                               "empty", "mine.txt"}));

    // Copying again changes nothing and reports everything as kept.
    TreeCopyResult again = CopyTreeKeepingExisting(src.path.string(), dst.path.string());
    EXPECT_TRUE(again.copiedFiles.empty());
    EXPECT_EQ(again.keptFiles, 3);

    // A destination blocked by a file fails for that part only.
    TempDir blocked;
    WriteFile(blocked.path / "deep", "a file, not a folder");
    TreeCopyResult partial = CopyTreeKeepingExisting(src.path.string(), blocked.path.string());
    EXPECT_GE(partial.failures, 1);
    EXPECT_EQ(ReadFile(blocked.path / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(blocked.path / "deep"), "a file, not a folder");

    // A missing source copies nothing.
    TreeCopyResult none = CopyTreeKeepingExisting((src.path / "absent").string(), dst.path.string());
    EXPECT_TRUE(none.copiedFiles.empty());
    EXPECT_EQ(none.failures, 0);
}

TEST(Folders, WriteFileAtomicallyReplacesWholeOrNotAtAll) {
    TempDir dir;
    const fs::path file = dir.path / "settings";
    ASSERT_TRUE(WriteFileAtomically(file.string(), "first\n"));
    EXPECT_EQ(ReadFile(file), "first\n");

    // Replacing keeps the permissions the user gave the file.
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(file.string(), std::string("second\0x", 8)));
    EXPECT_EQ(ReadFile(file), std::string("second\0x", 8));
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A link (for example into a dotfiles repository) stays a link; its target changes.
    const fs::path target = dir.path / "real";
    WriteFile(target, "old");
    fs::create_symlink(target, dir.path / "link");
    ASSERT_TRUE(WriteFileAtomically((dir.path / "link").string(), "through the link"));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link"));
    EXPECT_EQ(ReadFile(target), "through the link");

    // Failures report false and leave what was there.
    EXPECT_FALSE(WriteFileAtomically((file / "inside-a-file").string(), "x"));
    fs::create_directories(dir.path / "folder");
    EXPECT_FALSE(WriteFileAtomically((dir.path / "folder").string(), "x"));
    EXPECT_TRUE(fs::is_directory(dir.path / "folder"));
    EXPECT_FALSE(WriteFileAtomically("", "x"));
    EXPECT_EQ(FilesBelow(dir.path), (std::vector<std::string>{"folder", "link", "real", "settings"}));
}

// Writer A holds with its temporary open while writer B replaces the same file whole;
// then A finishes. Each had its own temporary, so the file is A's bytes, whole.
std::string gHeldPath;
void RunSecondWriter() {
    EXPECT_TRUE(ReplaceFileAtomically(gHeldPath, "second writer, a longer text than the first\n", "", 0644).ok);
}

TEST(Folders, TwoWritersOfOneFileNeverShareATemporary) {
    TempDir dir;
    gHeldPath = (dir.path / "project").string();
    WriteFile(gHeldPath, "before\n");
    AtomicWriteResult first = ReplaceFileAtomically(gHeldPath, "first\n", "", 0644, RunSecondWriter);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(ReadFile(gHeldPath), "first\n");
    EXPECT_EQ(FilesBelow(dir.path), (std::vector<std::string>{"project"}));

    // A writer killed before its rename leaves its temporary; the next sweep removes that
    // one and keeps those of running processes, which may be writing right now.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = "project.tmp-" + std::to_string(child) + "-a1b2c3";
    const std::string live = "project.tmp-" + std::to_string(::getpid()) + "-d4e5f6";
    for (const std::string& name : {dead, live, std::string("project.tmp-notes"), "other.tmp-" + std::to_string(child) + "-x"})
        WriteFile(dir.path / name, "partial");
    RemoveAbandonedTemporaries(gHeldPath);
    std::vector<std::string> expected = {"other.tmp-" + std::to_string(child) + "-x", "project", live,
                                         "project.tmp-notes"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(dir.path), expected);
    EXPECT_TRUE(ProcessIsRunning(::getpid()));
    EXPECT_FALSE(ProcessIsRunning(child));
}

}  // namespace
}  // namespace morvane
