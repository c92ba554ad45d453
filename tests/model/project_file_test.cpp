#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "model/json.h"
#include "model/project_file.h"
#include "model/project_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::WriteTinyWav;

int CountFiles(const fs::path& folder) {
    int count = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) ++count;
    return count;
}

// Whether a save's temporary file (the project path + ".tmp-...") lies beside the project.
bool HasTemporary(const std::string& projectPath) {
    const fs::path project(projectPath);
    const std::string prefix = project.filename().string() + ".tmp";
    for (const fs::directory_entry& entry : fs::directory_iterator(project.parent_path()))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}

struct ProviderGuard {
    ~ProviderGuard() {
        SetFileRefProvider({});
        SetFileRefSink({});
    }
};

TEST(ProjectFile, EveryFieldSurvivesSaveLoadSaveByteForByte) {
    TempDir dir;
    ProviderGuard guard;
    const std::string path = dir / "reel1.mvproj";
    Project original = test::FullProject(dir.path.string());

    // The library knows hash and size of two ids; the banned path is its own.
    SetFileRefProvider([](const std::string& id, FileRef& ref) {
        if (id == "lib-door") {
            ref.hasHash = ref.hasSize = true;
            ref.hash = 0x00ab0000cdef1234ull;
            ref.size = 123456789012ull;
            return true;
        }
        if (id == "lib-other") {
            ref.hasHash = true;
            ref.hash = 0xffffffffffffffffull;
            ref.path = "/library/path/not/used.wav";
            return true;
        }
        return false;
    });
    std::vector<FileRef> received;
    SetFileRefSink([&](const FileRef& ref) { received.push_back(ref); });

    SaveProjectResult first = SaveProjectEx(path, original);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.copiedFiles, 0);     // every sound already lies in Audio/
    EXPECT_EQ(first.collectedFiles, 7);
    const std::string firstBytes = ReadFile(path);
    EXPECT_EQ(firstBytes.find(dir.path.string()), std::string::npos) << "paths inside the folder are relative";
    EXPECT_NE(firstBytes.find("\"videoPath\": \"picture/reel1.mp4\""), std::string::npos);
    EXPECT_NE(firstBytes.find("\"hash\": \"00ab0000cdef1234\""), std::string::npos);
    EXPECT_NE(firstBytes.find("\"size\": \"123456789012\""), std::string::npos);
    EXPECT_FALSE(HasTemporary(path));

    Project loaded;
    LoadProjectResult result = LoadProject(path, loaded);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.warning, "");
    EXPECT_EQ(result.missingFiles, 0);
    EXPECT_EQ(result.version, 5);
    EXPECT_EQ(result.videoPath, original.videoPath);
    test::ExpectSameProject(original, loaded);
    EXPECT_FALSE(loaded.modified);

    // fileRefs: one per distinct id, ascending, handed to the library and kept.
    ASSERT_EQ(result.fileRefs.size(), 7u);
    std::vector<std::string> ids;
    for (const FileRef& ref : result.fileRefs) ids.push_back(ref.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"lib-banned", "lib-bed1", "lib-bed2", "lib-door", "lib-env", "lib-mid",
                                             "lib-other"}));
    EXPECT_EQ(received, result.fileRefs);
    const FileRef& door = result.fileRefs[3];
    EXPECT_TRUE(door.hasHash && door.hasSize);
    EXPECT_EQ(door.hash, 0x00ab0000cdef1234ull);
    EXPECT_EQ(door.size, 123456789012ull);
    EXPECT_EQ(door.path, dir / "Audio/door.wav");
    const FileRef& other = result.fileRefs[6];
    EXPECT_EQ(other.hash, 0xffffffffffffffffull);
    EXPECT_FALSE(other.hasSize);
    EXPECT_EQ(other.path, "/elsewhere/other.wav") << "the project's own path wins over the library's";

    // Saving what was loaded writes the very same bytes (and copies nothing).
    SaveProjectResult second = SaveProjectEx(path, loaded);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.copiedFiles, 0);
    EXPECT_EQ(ReadFile(path), firstBytes);
    // The document formatter (used by "info --dump") writes the same document.
    EXPECT_EQ(FormatProjectDocument(loaded, dir.path.string()), firstBytes);
}

TEST(ProjectFile, CollectsAudioOnceWithoutNameCollisions) {
    TempDir dir;
    const fs::path libA = dir.path / "libA", libB = dir.path / "libB", libC = dir.path / "libC";
    WriteTinyWav(libA / "door.wav", 500, 1);
    WriteTinyWav(libB / "door.wav", 700, 2);  // same name, other sound, other size
    WriteTinyWav(libC / "door.wav", 500, 3);  // same name, same size, other sound
    WriteTinyWav(libA / "glass.wav", 100, 4);
    const std::string project1 = (dir.path / "show" / "one.mvproj").string();
    fs::create_directories(dir.path / "show");

    Project p;
    for (const fs::path& source : {libA / "door.wav", libB / "door.wav", libC / "door.wav", libA / "glass.wav"}) {
        Layer layer;
        layer.filepath = source.string();
        p.timeline.results.push_back(layer);
    }
    Event pinned;
    pinned.pinnedFile = (libB / "door.wav").string();  // referenced twice: collected once
    pinned.hasPinnedFile = true;
    p.timeline.events.push_back(pinned);

    SaveProjectResult first = SaveProjectEx(project1, p);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.copiedFiles, 4);
    EXPECT_EQ(first.collectedFiles, 4);
    EXPECT_EQ(CountFiles(dir.path / "show" / "Audio"), 4);
    const std::string firstBytes = ReadFile(project1);
    EXPECT_EQ(p.timeline.results[0].filepath, (libA / "door.wav").string()) << "memory keeps its paths";

    Project loaded;
    ASSERT_TRUE(LoadProject(project1, loaded).ok);
    // Each layer still plays its own sound.
    for (size_t i = 0; i < p.timeline.results.size(); ++i) {
        const std::string& collected = loaded.timeline.results[i].filepath;
        EXPECT_EQ(collected.rfind((dir.path / "show" / "Audio").string(), 0), 0u) << collected;
        EXPECT_EQ(ReadFile(collected), ReadFile(p.timeline.results[i].filepath)) << collected;
    }
    EXPECT_EQ(loaded.timeline.events[0].pinnedFile, loaded.timeline.results[1].filepath);

    // Saving again, in any order of the sources, copies nothing and changes nothing.
    SaveProjectResult again = SaveProjectEx(project1, p);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.copiedFiles, 0);
    EXPECT_EQ(ReadFile(project1), firstBytes);
    Project reordered = p;
    std::reverse(reordered.timeline.results.begin(), reordered.timeline.results.end());
    ASSERT_TRUE(SaveProjectEx(project1, reordered).ok);
    Project reloaded;
    ASSERT_TRUE(LoadProject(project1, reloaded).ok);
    for (size_t i = 0; i < reordered.timeline.results.size(); ++i)
        EXPECT_EQ(ReadFile(reloaded.timeline.results[i].filepath), ReadFile(reordered.timeline.results[i].filepath));
    EXPECT_EQ(CountFiles(dir.path / "show" / "Audio"), 4);

    // An edited source gets a fresh copy; the older copy is left for whatever used it.
    WriteTinyWav(libA / "glass.wav", 150, 9);
    SaveProjectResult edited = SaveProjectEx(project1, p);
    EXPECT_EQ(edited.copiedFiles, 1);
    Project afterEdit;
    ASSERT_TRUE(LoadProject(project1, afterEdit).ok);
    EXPECT_EQ(ReadFile(afterEdit.timeline.results[3].filepath), ReadFile(libA / "glass.wav"));
}

TEST(ProjectFile, UncopyableSoundKeepsItsOwnPath) {
    TempDir dir;
    // Root reads any file, so for root the uncopyable source is a folder with a sound's name.
    const fs::path locked = dir.path / "lib" / "locked.wav";
    if (::geteuid() == 0) {
        fs::create_directories(locked);
    } else {
        WriteTinyWav(locked, 100, 1);
        fs::permissions(locked, fs::perms::none);
    }
    WriteTinyWav(dir.path / "lib" / "fine.wav", 100, 2);
    Project p;
    for (const fs::path& source : {locked, dir.path / "lib" / "fine.wav", dir.path / "lib" / "gone.wav"}) {
        Layer layer;
        layer.filepath = source.string();
        p.timeline.results.push_back(layer);
    }
    const std::string path = dir / "p.mvproj";
    testing::internal::CaptureStdout();
    SaveProjectResult result = SaveProjectEx(path, p);
    std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.failedCopies, 2);
    EXPECT_EQ(result.copiedFiles, 1);
    EXPECT_NE(log.find("[Project] Failed to collect " + locked.string() + ": "), std::string::npos) << log;
    EXPECT_NE(log.find("[Project] Saved " + path + " \xE2\x80\x94 1 audio files collected"), std::string::npos) << log;

    Project loaded;
    LoadProjectResult loadResult = LoadProject(path, loaded);
    ASSERT_TRUE(loadResult.ok);
    EXPECT_EQ(loaded.timeline.results[0].filepath, locked.string());
    EXPECT_EQ(loaded.timeline.results[1].filepath, dir / "Audio/fine.wav");
    EXPECT_EQ(loaded.timeline.results[2].filepath, (dir.path / "lib" / "gone.wav").string());
    EXPECT_EQ(loadResult.referencedFiles, 3);
    EXPECT_EQ(loadResult.missingFiles, 1);
    if (::geteuid() != 0) fs::permissions(locked, fs::perms::owner_all);
}

// The target folder refuses new files. Permissions do not stop root, so as root the save
// runs in a child that has given up root for an unprivileged user.
TEST(ProjectFile, UnwritableFolderFailsAndKeepsThePreviousFile) {
    TempDir dir;
    const fs::path folder = dir.path / "project";
    fs::create_directories(folder);
    const std::string path = (folder / "p.mvproj").string();
    Project before;
    before.projectDescription = "before";
    ASSERT_TRUE(SaveProject(path, before));
    const std::string previous = ReadFile(path);
    WriteTinyWav(dir.path / "lib" / "door.wav", 100, 1);

    fs::permissions(dir.path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(dir.path / "lib", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        Project after;
        after.projectDescription = "after";
        Layer layer;
        layer.filepath = (dir.path / "lib" / "door.wav").string();
        after.timeline.results.push_back(layer);
        ::_exit(SaveProject(path, after) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
    EXPECT_EQ(ReadFile(path), previous);
    EXPECT_FALSE(HasTemporary(path));
    EXPECT_FALSE(fs::exists(folder / "Audio"));

    // A target whose folder is a file fails the same way, for every user.
    WriteFile(dir.path / "plain", "x");
    EXPECT_FALSE(SaveProject((dir.path / "plain" / "p.mvproj").string(), before));
}

// A child saves a large project over and over; the parent kills it at random moments.
// After every kill the project file must be one complete version, never a torn one and
// never the temporary file.
TEST(ProjectFile, KilledSaveLeavesACompleteProject) {
    TempDir dir;
    const std::string path = dir / "big.mvproj";
    std::mt19937 random(1234);
    auto makeProject = [&](int eventCount) {
        Project big;
        for (int i = 0; i < eventCount; ++i) {
            Event e;
            e.time = static_cast<float>(i) * 0.25f;
            e.keywords = "event " + std::to_string(i);
            for (size_t k = 0; k < e.weight.size(); ++k) {
                e.weight[k] = static_cast<float>(random() % 1000) / 1000.0f;
                e.intensity[k] = static_cast<float>(random() % 1000) / 1000.0f;
            }
            big.timeline.events.push_back(e);
        }
        return big;
    };
    auto timeSave = [&](const Project& project) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(SaveProject(path, project));
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    };
    // Thousands of events with full curves: a save takes long enough that many kills
    // land in the middle of writing.
    const int eventCount = 2000;
    Project big = makeProject(eventCount);
    testing::internal::CaptureStdout();
    const long long saveMicros = timeSave(big);
    testing::internal::GetCapturedStdout();

    // Versions differ only in the marker; the expected bytes of version v are the
    // template with the marker filled in.
    const std::string marker = "version-##########";
    big.projectDescription = marker;
    const std::string templ = FormatProjectDocument(big, dir.path.string());
    const size_t markerAt = templ.find(marker);
    ASSERT_NE(markerAt, std::string::npos);
    auto markerText = [](long v) {
        char text[32];
        std::snprintf(text, sizeof text, "version-%010ld", v);
        return std::string(text);
    };
    // The file is version v exactly when it is the template with v's marker.
    auto isVersion = [&](const std::string& bytes, long v) {
        const size_t tail = markerAt + marker.size();
        return bytes.size() == templ.size() && bytes.compare(0, markerAt, templ, 0, markerAt) == 0 &&
               bytes.compare(markerAt, marker.size(), markerText(v)) == 0 &&
               bytes.compare(tail, std::string::npos, templ, tail, std::string::npos) == 0;
    };
    big.projectDescription = markerText(0);
    ASSERT_TRUE(SaveProject(path, big));

    long seen = 0;
    int kills = 0, tornTemporaries = 0, newVersions = 0, fullLoads = 0;
    std::uniform_int_distribution<long> delay(0, std::max<long long>(2000, saveMicros));
    while (kills < 200) {
        // The child reports the start of each save, so that the kill lands inside the
        // save loop rather than in the child's start-up.
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(started[0]);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            Project mine = big;
            for (long v = seen + 1;; ++v) {
                mine.projectDescription = markerText(v);
                if (::write(started[1], "s", 1) < 0) ::_exit(1);
                SaveProject(path, mine);
            }
        }
        ::close(started[1]);
        // Every fourth kill waits for the second save to start, so that at least one
        // save has completed and a new version must be on disk, however slow the machine.
        char ready = 0;
        ASSERT_EQ(::read(started[0], &ready, 1), 1);
        if (kills % 4 == 3) {
            ASSERT_EQ(::read(started[0], &ready, 1), 1);
        }
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(started[0]);
        ++kills;

        // Byte-identical to a complete version proves the file whole; it is never older
        // than what was seen before.
        const std::string bytes = ReadFile(path);
        ASSERT_GT(bytes.size(), markerAt + marker.size());
        long version = std::strtol(bytes.c_str() + markerAt + 8, nullptr, 10);
        ASSERT_GE(version, seen) << "an older version came back after kill " << kills;
        ASSERT_TRUE(isVersion(bytes, version)) << "torn project file after kill " << kills;
        if (version > seen) ++newVersions;
        seen = version;
        const bool torn = HasTemporary(path);
        if (torn) ++tornTemporaries;
        // The loader itself, on the first kills that interrupted a write and every tenth.
        if ((torn && fullLoads < 20) || kills % 10 == 0) {
            Project loaded;
            LoadProjectResult result = LoadProject(path, loaded);
            ASSERT_TRUE(result.ok) << result.error;
            ASSERT_EQ(loaded.timeline.events.size(), static_cast<size_t>(eventCount));
            ASSERT_EQ(loaded.projectDescription, markerText(version));
            ++fullLoads;
        }
    }
    // Both outcomes must have happened for the test to mean anything: kills while a save
    // was writing (a temporary left behind) and kills after a save had completed.
    EXPECT_GT(tornTemporaries, 0);
    EXPECT_GT(newVersions, 0);
    std::printf("[KillTest] %d events, save %lld us: %d kills, %d during a write, %d new versions, %d full loads\n",
                eventCount, saveMicros, kills, tornTemporaries, newVersions, fullLoads);

    // A save after torn ones sweeps the temporaries the killed saves left, and succeeds.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(SaveProject(path, big));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(HasTemporary(path));
}

// A document cut anywhere before its root closes is an error, never a smaller project:
// the caller would otherwise show it, and the next save would make the loss permanent.
TEST(ProjectFile, CutDocumentIsTruncatedFileNeverASmallerProject) {
    TempDir dir;
    Project full = test::FullProject(dir.path.string());
    const std::string document = FormatProjectDocument(full, dir.path.string());
    Project current;
    current.projectDescription = "keep me";
    // Cuts from the first byte to the one before the closing brace: every byte of the
    // head and the tail, and a stride through the middle that lands on every kind of token.
    int cuts = 0, truncated = 0;
    for (size_t length = 1; length + 1 < document.size();
         length += (length < 400 || length + 400 > document.size()) ? 1 : 7) {
        ++cuts;
        LoadProjectResult result = LoadProjectFromText(std::string_view(document).substr(0, length), "", current);
        if (result.error == "Truncated file") ++truncated;
        else {
            ADD_FAILURE() << "cut at " << length << " of " << document.size() << ": '" << result.error << "'";
            break;
        }
    }
    EXPECT_EQ(truncated, cuts);
    EXPECT_EQ(current.projectDescription, "keep me");
    EXPECT_TRUE(current.timeline.results.empty());
    // The closing brace without its newline is the whole document.
    Project whole;
    ASSERT_TRUE(LoadProjectFromText(std::string_view(document).substr(0, document.size() - 1), "", whole).ok);
    EXPECT_EQ(whole.timeline.results.size(), full.timeline.results.size());

    // Lenient as ever inside a finished document: missing and mistyped keys, a missing comma.
    Project lenient;
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane" "masterGain": "loud", "events": [{"time": 2}]})", "",
                                    lenient).ok);
    EXPECT_EQ(lenient.masterGain, 1.0f);
    EXPECT_EQ(lenient.timeline.events.size(), 1u);
}

// A project path that names a pipe, a device, a folder or a link loop is refused at
// once with the reason, never read (a pipe would block the reader for good).
TEST(ProjectFile, OnlyRegularFilesAreRead) {
    TempDir dir;
    ::alarm(60);  // a hang ends the test run instead of blocking it
    ASSERT_EQ(::mkfifo((dir / "pipe.mvproj").c_str(), 0600), 0);
    fs::create_symlink(dir.path / "loop-b", dir.path / "loop-a");
    fs::create_symlink(dir.path / "loop-a", dir.path / "loop-b");
    Project current;
    current.projectDescription = "keep me";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {dir / "pipe.mvproj", "is a named pipe, not a file"},
        {"/dev/zero", "is a device, not a file"},
        {dir.path.string(), "is a folder, not a file"},
        {dir / "loop-a", std::strerror(ELOOP)},
    };
    for (const auto& [path, why] : refused) {
        const std::string expected = "Could not open file: " + path + " (" + why + ")";
        EXPECT_EQ(LoadProject(path, current).error, expected);
        EXPECT_EQ(ProjectFileProblem(path), expected);
    }
    EXPECT_EQ(ProjectFileProblem(dir / "missing.mvproj"), "Could not open file: " + (dir / "missing.mvproj"));
    EXPECT_EQ(current.projectDescription, "keep me");

    // A pipe named as a layer's sound does not hold the save either.
    Project piped;
    Layer layer;
    layer.filepath = dir / "pipe.mvproj";
    piped.timeline.results.push_back(layer);
    testing::internal::CaptureStdout();
    SaveProjectResult saved = SaveProjectEx(dir / "piped.mvproj", piped);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(saved.ok);
    EXPECT_EQ(saved.failedCopies, 1);
    ::alarm(0);
}

// A layer's path is text anyone can put in a document. Collecting copies only sounds,
// and a copy never has more permissions than its source.
TEST(ProjectFile, CollectsOnlySoundsAndNeverWidensPermissions) {
    TempDir dir;
    fs::create_directories(dir.path / "private");
    WriteFile(dir.path / "private" / "secret.wav", "root:$6$salt$hash:19000:0:99999:7:::\n");
    fs::permissions(dir.path / "private" / "secret.wav", fs::perms::owner_read | fs::perms::owner_write);
    WriteTinyWav(dir.path / "private" / "mine.wav", 100, 1);
    fs::permissions(dir.path / "private" / "mine.wav", fs::perms::owner_read | fs::perms::owner_write);
    WriteTinyWav(dir.path / "lib" / "open.wav", 100, 2);
    fs::permissions(dir.path / "lib" / "open.wav", fs::perms::owner_read | fs::perms::owner_write |
                                                       fs::perms::group_read | fs::perms::others_read);
    fs::create_directories(dir.path / "show" / "reel");

    Project p;
    WriteFile(dir.path / "lib" / "notes.wav", "not a sound, only words about one");
    for (const std::string& source : {dir / "show/reel/../../private/secret.wav", dir / "private/mine.wav",
                                      dir / "lib/open.wav", dir / "lib/notes.wav"}) {
        Layer layer;
        layer.filepath = source;
        p.timeline.results.push_back(layer);
    }
    const std::string path = dir / "show/reel.mvproj";
    testing::internal::CaptureStdout();
    SaveProjectResult result = SaveProjectEx(path, p);
    std::string log = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.copiedFiles, 2);
    EXPECT_EQ(result.failedCopies, 2);
    EXPECT_NE(log.find("Failed to collect " + (dir / "show/reel/../../private/secret.wav") + ": not a sound file"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Failed to collect " + (dir / "lib/notes.wav") + ": not a sound file"), std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(dir.path / "show" / "Audio" / "secret.wav"));
    EXPECT_FALSE(fs::exists(dir.path / "show" / "Audio" / "notes.wav"));
    auto mode = [](const fs::path& file) {
        struct stat st {};
        return ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0u;
    };
    EXPECT_EQ(mode(dir.path / "show" / "Audio" / "mine.wav"), 0600u) << "a private sound stays private";
    EXPECT_EQ(mode(dir.path / "show" / "Audio" / "open.wav"), 0644u);
    EXPECT_EQ(ReadFile(dir.path / "show" / "Audio" / "mine.wav"), ReadFile(dir.path / "private" / "mine.wav"));

    // The refused files keep their own paths in the document.
    Project loaded;
    ASSERT_TRUE(LoadProject(path, loaded).ok);
    EXPECT_EQ(loaded.timeline.results[3].filepath, dir / "lib/notes.wav");
    EXPECT_EQ(loaded.timeline.results[1].filepath, dir / "show/Audio/mine.wav");
}

TEST(ProjectFile, LoadErrorsLeaveTheProjectUntouched) {
    TempDir dir;
    Project current;
    current.projectDescription = "keep me";
    current.timeline.events.resize(3);

    auto loadText = [&](const std::string& text) {
        WriteFile(dir.path / "x.mvproj", text);
        return LoadProject(dir / "x.mvproj", current);
    };
    LoadProjectResult missing = LoadProject(dir / "nothing.mvproj", current);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "Could not open file: " + (dir / "nothing.mvproj"));
    EXPECT_EQ(LoadProject(dir.path.string(), current).error,
              "Could not open file: " + dir.path.string() + " (is a folder, not a file)");
    EXPECT_EQ(loadText("").error, "Empty file");
    EXPECT_EQ(loadText(" \n\t \r\n").error, "Invalid JSON");
    EXPECT_EQ(loadText("[1, 2]").error, "Invalid JSON");
    EXPECT_EQ(loadText("{\"version\": 5, \"events\": []}").error, "Not a Morvane project file");
    EXPECT_EQ(loadText("{\"format\": \"morvane\"}").error, "Not a Morvane project file");
    EXPECT_EQ(loadText("{\"format\": 5}").error, "Not a Morvane project file");
    EXPECT_EQ(current.projectDescription, "keep me");
    EXPECT_EQ(current.timeline.events.size(), 3u);
}

TEST(ProjectFile, ReaderRulesForVersionsRatesAndHostileValues) {
    TempDir dir;
    Project p;
    // A newer writer's file opens with a warning naming its version.
    LoadProjectResult newer = LoadProjectFromText(
        R"({"format": "Morvane", "version": 7, "minReaderVersion": 6, "savedBy": "2027.1.0", "totalDuration": 12})",
        "", p);
    ASSERT_TRUE(newer.ok);
    EXPECT_EQ(newer.warning,
              "Newer version project (saved by v2027.1.0) \xE2\x80\x94 some data may be lost if you save");
    EXPECT_EQ(p.timeline.settings.totalDuration, 12.0f);
    LoadProjectResult anonymous = LoadProjectFromText(R"({"format": "Morvane", "minReaderVersion": 9})", "", p);
    EXPECT_EQ(anonymous.warning, "Newer version project \xE2\x80\x94 some data may be lost if you save");
    EXPECT_EQ(LoadProjectFromText(R"({"format": "Morvane", "minReaderVersion": 5})", "", p).warning, "");

    // Only the four project rates are taken; anything else keeps a new project's 48000.
    p.projectSampleRate = 44100;
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane", "projectSampleRate": 22050})", "", p).ok);
    EXPECT_EQ(p.projectSampleRate, 48000);
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane", "projectSampleRate": 88200})", "", p).ok);
    EXPECT_EQ(p.projectSampleRate, 88200);

    // A version-1 project's shape 2 is an alloyed Bloom; gains are clamped; a scene link
    // past the scenes and a frame count past the rows are cut back; a bad size is 0.
    const char* hostile = R"({"format": "Morvane", "version": 1, "masterGain": 1e6, "refGain": -3, "fps": 0,
        "events": [{"shape": 2, "sceneLink": 4}, {"sceneLink": 0}],
        "scenes": [{"name": "only"}],
        "fileRefs": [{"id": "a", "hash": "zz", "size": "12x"}, {"id": "b", "hash": "0000000000000010", "size": "99"}],
        "optical": {"numFrames": 2000000000, "frameStride": 11, "frames": ["1,2,3", "nan,inf,-1e-3,4,5,6,7,8,9,10,11,12"],
                    "events": [{"type": 9, "suggestedShape": -4, "keywords": 5}]}})";
    ASSERT_TRUE(LoadProjectFromText(hostile, "", p).ok);
    EXPECT_EQ(p.masterGain, 100.0f);
    EXPECT_EQ(p.refGain, 0.0f);
    EXPECT_EQ(p.timeline.settings.fps, 24.0f);
    ASSERT_EQ(p.timeline.events.size(), 2u);
    EXPECT_EQ(p.timeline.events[0].shape, EventShape::Bloom);
    EXPECT_TRUE(p.timeline.events[0].alloy);
    EXPECT_EQ(p.timeline.events[0].sceneLink, -1);
    EXPECT_EQ(p.timeline.events[1].sceneLink, 0);
    ASSERT_TRUE(p.optical.present);
    ASSERT_EQ(p.optical.frames.size(), 2u);
    EXPECT_EQ(p.optical.numFrames, 2);
    EXPECT_EQ(p.optical.frames[0][2], 3.0f);
    EXPECT_EQ(p.optical.frames[0][3], 0.0f);
    EXPECT_EQ(p.optical.frames[1][0], 0.0f) << "non-finite values read as 0";
    EXPECT_EQ(p.optical.frames[1][2], -0.001f);
    EXPECT_EQ(p.optical.frames[1][10], 11.0f);
    EXPECT_EQ(p.optical.events[0].type, 2);
    EXPECT_EQ(p.optical.events[0].suggestedShape, 0);
    Project q;
    LoadProjectResult refs = LoadProjectFromText(hostile, "", q);
    ASSERT_EQ(refs.fileRefs.size(), 2u);
    EXPECT_FALSE(refs.fileRefs[0].hasHash);
    EXPECT_TRUE(refs.fileRefs[0].hasSize);
    EXPECT_EQ(refs.fileRefs[0].size, 0u);
    EXPECT_EQ(refs.fileRefs[1].hash, 16u);
    EXPECT_EQ(refs.fileRefs[1].size, 99u);

    // Rows of another width are not forced into eleven columns.
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane", "optical": {"frameStride": 19, "frames": ["1,2"], "numFrames": 1}})",
                                    "", p)
                    .ok);
    EXPECT_TRUE(p.optical.frames.empty());
    EXPECT_EQ(p.optical.numFrames, 0);
    // No optical object: no trace results, and none are written.
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane"})", "", p).ok);
    EXPECT_FALSE(p.optical.present);
    EXPECT_EQ(FormatProjectDocument(p, "").find("optical"), std::string::npos);
}

TEST(ProjectFile, GroupPlacementIsKeptAndOlderFilesOpenDirect) {
    TempDir dir;
    const std::string path = dir / "placed.mvproj";
    Project placed;
    placed.groupPlacement[0] = {PlacementMode::Diffuse, 80.0f};
    placed.groupPlacement[2] = {PlacementMode::Spread, 25.0f};
    placed.reverb.macro = 0.25f;
    ASSERT_TRUE(SaveProjectEx(path, placed).ok);
    Project reopened;
    ASSERT_TRUE(LoadProject(path, reopened).ok);
    EXPECT_EQ(reopened.groupPlacement, placed.groupPlacement);
    EXPECT_EQ(reopened.reverb.macro, 0.25f);

    // A project written before the key existed opens with every group Direct at 50 %,
    // whatever the project open before it held.
    ASSERT_TRUE(LoadProjectFromText(R"({"format": "Morvane", "version": 5})", "", reopened).ok);
    for (const GroupPlacement& g : reopened.groupPlacement) {
        EXPECT_EQ(g.mode, PlacementMode::Direct);
        EXPECT_EQ(g.amount, 50.0f);
    }
    // Hostile values are brought into range; a missing group keeps its default.
    ASSERT_TRUE(LoadProjectFromText(
                    R"({"format": "Morvane", "groupPlacement": [{"mode": 9, "amount": 400}, "x", {"mode": -2, "amount": -5}]})",
                    "", reopened)
                    .ok);
    EXPECT_EQ(reopened.groupPlacement[0].mode, PlacementMode::Diffuse);
    EXPECT_EQ(reopened.groupPlacement[0].amount, 100.0f);
    EXPECT_EQ(reopened.groupPlacement[1], GroupPlacement{});
    EXPECT_EQ(reopened.groupPlacement[2].mode, PlacementMode::Direct);
    EXPECT_EQ(reopened.groupPlacement[2].amount, 0.0f);
}

TEST(ProjectFile, ThumbnailBesideTheProject) {
    TempDir dir;
    EXPECT_EQ(ProjectThumbnailPath("/a/b/Reel.mvproj"), "/a/b/Reel.thumb.png");
    EXPECT_EQ(ProjectThumbnailPath("/a/b/Reel"), "/a/b/Reel.thumb.png");
    EXPECT_EQ(WithProjectExtension("/a/Reel"), "/a/Reel.mvproj");
    EXPECT_EQ(WithProjectExtension("/a/Reel.mvproj"), "/a/Reel.mvproj");

    const int width = 1280, height = 720;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 0; i < pixels.size(); i += 4) pixels[i] = 200;
    const std::string project = dir / "Reel.mvproj";
    ASSERT_TRUE(WriteProjectThumbnail(project, pixels.data(), width, height));
    const std::string png = ReadFile(dir / "Reel.thumb.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto be32 = [&](size_t at) {
        return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<uint8_t>(png[at + 3]));
    };
    EXPECT_EQ(be32(16), static_cast<uint32_t>(kThumbnailMaxWidth));
    EXPECT_EQ(be32(20), 270u);
    EXPECT_FALSE(WriteProjectThumbnail(project, nullptr, width, height));
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

Layer HistorySound(const std::string& path, const std::string& name, float offset) {
    Layer sound;
    sound.name = name;
    sound.filepath = path;
    sound.fileId = "id-" + name;
    sound.sourceOffset = offset;
    sound.sourceDuration = 0.5f;
    sound.duration = 0.5f;
    return sound;
}

TEST(ProjectFile, LayerHistorySurvivesSaveAndOpenAndHostileFormsShowTheLiveSound) {
    TempDir dir;
    const std::string audio = dir / "Audio/";
    test::WriteTinyWav(audio + "door.wav", 400, 1);
    test::WriteTinyWav(audio + "old-door.wav", 300, 1);
    TempDir elsewhere;
    const std::string outside = elsewhere / "older.wav";
    test::WriteTinyWav(outside, 300, 1);

    Project project;
    project.timeline.events.push_back(Event{});
    Layer layer = HistorySound(audio + "door.wav", "door", 0.25f);
    layer.history.entries = {HistorySound(audio + "old-door.wav", "old-door", 0.1f),
                             HistorySound(outside, "older", 0.2f)};
    layer.history.cursor = 0;
    project.timeline.results = {layer};
    project.timeline.built = true;

    const std::string path = dir / "history.mvproj";
    const SaveProjectResult saved = SaveProjectEx(path, project);
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(saved.copiedFiles, 1) << "an earlier sound from outside the folder is collected like the live one";
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.find(dir.path.string()), std::string::npos) << "earlier sounds are written relative";

    Project opened;
    ASSERT_TRUE(LoadProject(path, opened).ok);
    ASSERT_EQ(opened.timeline.results.size(), 1u);
    const LayerHistory& history = opened.timeline.results[0].history;
    ASSERT_EQ(history.entries.size(), 2u);
    EXPECT_EQ(history.cursor, 0);
    EXPECT_EQ(history.entries[0], project.timeline.results[0].history.entries[0]);
    EXPECT_EQ(history.entries[1].name, "older");
    EXPECT_TRUE(fs::exists(history.entries[1].filepath)) << history.entries[1].filepath;
    EXPECT_EQ(opened.timeline.results[0].filepath, audio + "door.wav");
    ASSERT_TRUE(SaveProjectEx(path, opened).ok);
    EXPECT_EQ(ReadFile(path), bytes) << "saving what was opened writes the same bytes";

    // A layer without history writes no key; a cursor past the entries, a history that
    // is not an object and a nested history in an entry all leave the live sound shown.
    EXPECT_EQ(FormatProjectDocument(Project{}, dir.path.string()).find("\"history\""), std::string::npos);
    const char* const hostile = R"({"format": "Morvane", "version": 5, "events": [{}], "results": [
        {"name": "a", "filepath": "/x/a.wav", "history": {"cursor": 7, "entries": [
            {"name": "b", "filepath": "/x/b.wav", "history": {"cursor": 0, "entries": [{"name": "c"}]}}, 3]}},
        {"name": "d", "filepath": "/x/d.wav", "history": "earlier"},
        {"name": "e", "filepath": "/x/e.wav", "history": {"cursor": -4, "entries": {}}}]})";
    Project read;
    const LoadProjectResult readResult = LoadProjectFromText(hostile, "", read);
    ASSERT_TRUE(readResult.ok) << readResult.error;
    ASSERT_EQ(read.timeline.results.size(), 3u);
    const LayerHistory& a = read.timeline.results[0].history;
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(a.cursor, -1);
    EXPECT_EQ(a.entries[0].name, "b");
    EXPECT_TRUE(a.entries[0].history.entries.empty());
    EXPECT_EQ(read.timeline.results[1].history, LayerHistory{});
    EXPECT_EQ(read.timeline.results[2].history, LayerHistory{});
}

}  // namespace
}  // namespace morvane
