#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "library/audio_file.h"
#include "library/features.h"
#include "library/file_id.h"
#include "library/index_file.h"
#include "library/scan.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::SoundParams;
using test::TempDir;

std::string LittleEndian(uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

// A WAV header that promises far more than the file holds.
std::string AbsurdWav() {
    std::string out = "RIFF" + LittleEndian(0xFFFFFFF0u, 4) + "WAVEfmt " + LittleEndian(16, 4);
    out += LittleEndian(1, 2) + LittleEndian(1, 2) + LittleEndian(48000, 4) + LittleEndian(96000, 4);
    out += LittleEndian(2, 2) + LittleEndian(16, 2) + "data" + LittleEndian(0xFFFFFFE0u, 4);
    out += std::string(200, '\x01');
    return out;
}

// Runs one scan to its end and takes the result over, as the interface would.
void ScanAndApply(ScanState& state, LibrarySet& set, const std::string& folder, bool deep = false) {
    ASSERT_TRUE(StartScan(state, set, folder, true, -1, deep));
    WaitForScan(state);
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
}

const Library* Find(const LibrarySet& set, const std::string& name) {
    for (const Library& library : set.libraries)
        if (library.name == name) return &library;
    return nullptr;
}

TEST(Scan, BadFilesAreListedAndTheScanGoesOn) {
    TempDir sounds, index;
    const fs::path root = sounds.path / "Foley.v2";
    fs::create_directories(root / "sub");
    SoundParams sound;
    ASSERT_TRUE(test::WriteSound((root / "b good.wav").string(), sound));
    sound.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    ASSERT_TRUE(test::WriteSound((root / "sub" / "a.AIFF").string(), sound));
    sound.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    sound.frames = 0;
    ASSERT_TRUE(test::WriteSound((root / "empty.wav").string(), sound));
    sound.frames = 1000;
    ASSERT_TRUE(test::WriteSound((root / "short.wav").string(), sound));
    const std::string whole = test::ReadFile(root / "b good.wav");
    test::WriteFile(root / "truncated.wav", whole.substr(0, 30));
    test::WriteFile(root / "text.wav", "plain words, no sound");
    test::WriteFile(root / "absurd.wav", AbsurdWav());
    test::WriteFile(root / "song.mp3", "ID3");

    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    ScanAndApply(state, set, root.string());
    EXPECT_EQ(ScanStatusText(state), "Done! 7 files indexed.");
    EXPECT_EQ(state.totalCount.load(), 7);
    EXPECT_EQ(state.analysedCount.load(), 2);
    EXPECT_FLOAT_EQ(state.progress.load(), 1.0f);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        std::vector<std::string> failed = state.failedFiles;
        std::sort(failed.begin(), failed.end());
        EXPECT_EQ(failed, (std::vector<std::string>{"absurd.wav", "empty.wav", "short.wav", "text.wav",
                                                    "truncated.wav"}));
    }
    const Library* library = Find(set, "Foley");
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(library->entries.size(), 2u);
    EXPECT_EQ(library->entries[0].name, "b good");  // sorted by path text
    EXPECT_EQ(library->entries[1].name, "a");
    EXPECT_GT(library->scanned, 0);
    EXPECT_TRUE(fs::exists(index.path / "Foley.mvlib"));
    EXPECT_EQ(library->summary.rfind("2 files", 0), 0u);
}

TEST(Scan, RescanReusesUnchangedFilesAndKeepsIdentities) {
    TempDir sounds, index;
    SoundParams sound;
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(test::WriteSound(sounds / ("f" + std::to_string(i) + ".wav"), sound));
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    const std::string name = LibraryNameOfFolder(sounds.path.string());
    ScanAndApply(state, set, sounds.path.string());
    ASSERT_NE(Find(set, name), nullptr);
    const std::string renamedId = Find(set, name)->entries[5].fileId;
    ASSERT_FALSE(renamedId.empty());

    const uint64_t opensBefore = AudioFileOpenCount();
    ScanAndApply(state, set, sounds.path.string());
    EXPECT_EQ(AudioFileOpenCount(), opensBefore);
    EXPECT_EQ(state.reusedCount.load(), 6);
    EXPECT_EQ(state.analysedCount.load(), 0);

    // A touched file is analysed again; the others are still re-used.
    fs::last_write_time(sounds.path / "f0.wav", fs::last_write_time(sounds.path / "f0.wav") + std::chrono::seconds(5));
    ScanAndApply(state, set, sounds.path.string());
    EXPECT_EQ(state.analysedCount.load(), 1);
    EXPECT_EQ(state.reusedCount.load(), 5);

    // A renamed file keeps its identity.
    fs::rename(sounds.path / "f5.wav", sounds.path / "renamed.wav");
    ScanAndApply(state, set, sounds.path.string());
    const Library* library = Find(set, name);
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(library->entries.size(), 6u);
    EXPECT_EQ(library->entries[5].name, "renamed");
    EXPECT_EQ(library->entries[5].fileId, renamedId);

    // Deep rescan analyses everything again but keeps the library's settings.
    {
        Library stored;
        ASSERT_TRUE(LoadLibraryIndex(index / (name + ".mvlib"), stored));
        stored.channelInterpretation = 2;
        stored.disableGrouping = true;
        ASSERT_TRUE(SaveLibraryIndex(stored, index / (name + ".mvlib")));
    }
    ScanAndApply(state, set, sounds.path.string(), true);
    EXPECT_EQ(state.analysedCount.load(), 6);
    EXPECT_EQ(state.reusedCount.load(), 0);
    library = Find(set, name);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->channelInterpretation, 2);
    EXPECT_TRUE(library->disableGrouping);
    EXPECT_EQ(InterpretationOfPath(sounds / "f1.wav"), 2);
}

TEST(Scan, CancelledScanKeepsItsWorkAndTheOldIndex) {
    TempDir sounds, index;
    SoundParams sound;
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(test::WriteSound(sounds / ("s" + std::to_string(10 + i) + ".wav"), sound));
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    state.maxScanThreads = 1;
    state.onFileDone = [&state](int done) {
        if (done == 3) CancelScan(state);
    };
    const std::string name = LibraryNameOfFolder(sounds.path.string());
    ScanAndApply(state, set, sounds.path.string());
    const Library* library = Find(set, name);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->entries.size(), 3u);
    Library stored;
    ASSERT_TRUE(LoadLibraryIndex(index / (name + ".mvlib"), stored));
    EXPECT_EQ(stored.entries.size(), 3u);

    // Finish the library, then stop a deep rescan early: files not reached yet keep
    // their old entries instead of vanishing from the index.
    state.onFileDone = nullptr;
    ScanAndApply(state, set, sounds.path.string());
    ASSERT_EQ(Find(set, name)->entries.size(), 12u);
    state.onFileDone = [&state](int done) {
        if (done == 2) CancelScan(state);
    };
    ScanAndApply(state, set, sounds.path.string(), true);
    EXPECT_EQ(state.analysedCount.load(), 2);
    EXPECT_EQ(Find(set, name)->entries.size(), 12u);
    ASSERT_TRUE(LoadLibraryIndex(index / (name + ".mvlib"), stored));
    EXPECT_EQ(stored.entries.size(), 12u);
}

TEST(Scan, EmptyAndMissingFoldersQueueAndBackfill) {
    TempDir sounds, index;
    test::WriteFile(sounds.path / "only.mp3", "ID3");
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    ASSERT_TRUE(StartScan(state, set, sounds.path.string(), true, -1, false));
    WaitForScan(state);
    EXPECT_EQ(ScanStatusText(state), "No audio files found. 1 file skipped as unsupported (FLAC, MP3, Ogg and the like).");
    ASSERT_TRUE(StartScan(state, set, (sounds.path / "nowhere").string(), true, -1, false));
    WaitForScan(state);
    EXPECT_EQ(ScanErrorText(state), "Scan interrupted: folder became inaccessible");
    EXPECT_FALSE(state.running.load());

    // A folder added while a scan runs waits in the queue and starts afterwards.
    fs::create_directories(sounds.path / "one");
    fs::create_directories(sounds.path / "two");
    SoundParams sound;
    ASSERT_TRUE(test::WriteSound((sounds.path / "one" / "x.wav").string(), sound));
    ASSERT_TRUE(test::WriteSound((sounds.path / "two" / "y.wav").string(), sound));
    QueueScan(state, set, (sounds.path / "one").string());
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.scanQueue.push_back((sounds.path / "two").string());
    }
    for (int frame = 0; frame < 2000 && (Find(set, "one") == nullptr || Find(set, "two") == nullptr); ++frame) {
        ApplyFinishedScans(state, set);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    WaitForScan(state);
    ApplyFinishedScans(state, set);
    EXPECT_NE(Find(set, "one"), nullptr);
    EXPECT_NE(Find(set, "two"), nullptr);

    // Entries from an old index without identities get them from the backfill.
    Library old;
    old.name = "Old";
    LibraryEntry entry;
    entry.path = (sounds.path / "one" / "x.wav").string();
    entry.name = "x";
    old.entries.push_back(entry);
    {
        std::lock_guard<std::mutex> lock(set.mutex);
        set.libraries.push_back(old);
    }
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
    const Library* filled = Find(set, "Old");
    ASSERT_NE(filled, nullptr);
    EXPECT_EQ(filled->entries[0].fileId, Find(set, "one")->entries[0].fileId);
    EXPECT_NE(filled->entries[0].contentHash, 0u);
}

TEST(Scan, AwkwardFileNamesSurviveScanIndexAndRescan) {
    TempDir sounds, index;
    const std::vector<std::string> names = {"with space.wav", "tab\there.wav", "new\nline.wav",
                                            "caf\xc3\xa9 \xe9\x9f\xb3.wav", "bad\xff\xfe.wav", "back\\n.wav"};
    SoundParams sound;
    for (size_t i = 0; i < names.size(); ++i) {
        sound.frequency = 700.0 + static_cast<double>(i);
        ASSERT_TRUE(test::WriteSound(sounds / names[i], sound)) << i;
    }
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    const std::string name = LibraryNameOfFolder(sounds.path.string());
    ScanAndApply(state, set, sounds.path.string());
    Library stored;
    ASSERT_TRUE(LoadLibraryIndex(index / (name + ".mvlib"), stored));
    ASSERT_EQ(stored.entries.size(), names.size());
    for (const LibraryEntry& entry : stored.entries) {
        EXPECT_TRUE(fs::is_regular_file(entry.path)) << entry.path;
        EXPECT_EQ(entry.name + ".wav", fs::path(entry.path).filename().string());
    }
    const uint64_t opensBefore = AudioFileOpenCount();
    ScanAndApply(state, set, sounds.path.string());
    EXPECT_EQ(AudioFileOpenCount(), opensBefore);
    EXPECT_EQ(state.reusedCount.load(), static_cast<int>(names.size()));
}

// The interface thread's view: every frame it takes finished scans over, reads the
// progress, and sometimes cancels or starts a scan, while workers and the identity
// backfill run. Run under the thread sanitizer this checks the sharing.
TEST(Scan, CancelAndRescanWhileTheInterfaceAppliesResults) {
    TempDir sounds, index;
    SoundParams sound;
    sound.frames = 4096;
    for (int i = 0; i < 24; ++i) {
        sound.frequency = 300.0 + i;
        ASSERT_TRUE(test::WriteSound(sounds / ("c" + std::to_string(i) + ".wav"), sound));
    }
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    state.maxScanThreads = 2;
    const std::string name = LibraryNameOfFolder(sounds.path.string());
    int cycles = 0;
    bool cancelled = false;
    float lastProgress = 0.0f;
    ASSERT_TRUE(StartScan(state, set, sounds.path.string(), true, -1, cycles % 2 == 1));
    for (int frame = 0; frame < 20000 && cycles < 4; ++frame) {
        ApplyFinishedScans(state, set);
        lastProgress = state.progress.load();
        (void)ScanStatusText(state);
        if (state.running.load()) {
            if (!cancelled && cycles < 3 && state.doneCount.load() >= 3) {
                CancelScan(state);
                cancelled = true;
            }
        } else {
            ++cycles;
            cancelled = false;
            if (cycles < 4) StartScan(state, set, sounds.path.string(), true, -1, cycles % 2 == 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    WaitForScan(state);
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
    EXPECT_EQ(cycles, 4);
    EXPECT_FLOAT_EQ(lastProgress, 1.0f);
    const Library* library = Find(set, name);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->entries.size(), 24u);
    for (const LibraryEntry& entry : library->entries) EXPECT_FALSE(entry.fileId.empty());
}

// Four workers on two cores: the checkpoint at 500 files is written while workers
// go on, the interface thread queues a second folder, cancels past the checkpoint
// and keeps applying results. Run under the thread sanitizer this checks the
// checkpoint writer, the queue hand-over and the cancellation path.
TEST(Scan, ManyWorkersCheckpointQueueAndCancelWhileTheInterfaceApplies) {
    TempDir big, small, index;
    SoundParams sound;
    sound.frames = 2100;  // one full analysis block each
    constexpr int kFiles = 540;
    for (int i = 0; i < kFiles; ++i) {
        sound.frequency = 200.0 + i;
        char name[32];
        std::snprintf(name, sizeof name, "s%03d.wav", i);
        ASSERT_TRUE(test::WriteSound(big / name, sound));
    }
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(test::WriteSound(small / ("q" + std::to_string(i) + ".wav"), sound));
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    state.maxScanThreads = 4;
    std::atomic<int> filesReported{0};
    state.onFileDone = [&filesReported](int) { filesReported.fetch_add(1); };
    const std::string bigName = LibraryNameOfFolder(big.path.string());
    const std::string smallName = LibraryNameOfFolder(small.path.string());

    ASSERT_TRUE(StartScan(state, set, big.path.string(), true, -1, false));
    QueueScan(state, set, small.path.string());
    bool cancelled = false;
    for (int frame = 0; frame < 200000; ++frame) {
        ApplyFinishedScans(state, set);
        (void)state.progress.load();
        (void)ScanStatusText(state);
        if (!cancelled && state.doneCount.load() >= 510) {
            CancelScan(state);
            cancelled = true;
        }
        bool haveSmall = false;
        {
            std::lock_guard<std::mutex> lock(set.mutex);
            haveSmall = Find(set, smallName) != nullptr;
        }
        if (cancelled && haveSmall && !state.running.load()) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    WaitForScan(state);
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
    ASSERT_TRUE(cancelled);

    // The cancelled scan handed over what it finished, and saved it.
    const Library* cut = Find(set, bigName);
    ASSERT_NE(cut, nullptr);
    const size_t kept = cut->entries.size();
    EXPECT_GE(kept, 510u);
    EXPECT_LE(kept, static_cast<size_t>(kFiles));
    Library saved;
    ASSERT_TRUE(LoadLibraryIndex(LibraryIndexPath(set, bigName), saved));
    EXPECT_EQ(saved.entries.size(), kept);
    const Library* queued = Find(set, smallName);
    ASSERT_NE(queued, nullptr);
    EXPECT_EQ(queued->entries.size(), 6u);
    EXPECT_GE(filesReported.load(), static_cast<int>(kept) + 6);

    // The rescan re-uses every file the cancelled scan finished and analyses the rest.
    state.onFileDone = nullptr;
    ScanAndApply(state, set, big.path.string());
    EXPECT_EQ(state.reusedCount.load(), static_cast<int>(kept));
    EXPECT_EQ(state.analysedCount.load(), kFiles - static_cast<int>(kept));
    EXPECT_EQ(Find(set, bigName)->entries.size(), static_cast<size_t>(kFiles));
}

LibraryEntry Mono(const std::string& path, float duration = 1.0f, float rate = 48000.0f, int channels = 1) {
    LibraryEntry entry;
    entry.path = path;
    entry.name = fs::path(path).stem().string();
    entry.duration = duration;
    entry.sampleRate = rate;
    entry.channels = channels;
    return entry;
}

TEST(Scan, MultiMonoGrouping) {
    EXPECT_EQ(MonoChannelSuffix("Door_L"), std::make_optional(std::make_pair(0, std::string("Door"))));
    EXPECT_EQ(MonoChannelSuffix("Amb.lrs")->first, 6);
    EXPECT_FALSE(MonoChannelSuffix("_L"));
    EXPECT_FALSE(MonoChannelSuffix("Door_"));
    EXPECT_FALSE(MonoChannelSuffix("Door_X"));
    EXPECT_FALSE(MonoChannelSuffix("DoorL"));

    Library library;
    library.entries = {Mono("/a/Door_L.wav"), Mono("/a/Door_R.wav"),          Mono("/b/Door_L.wav"),
                       Mono("/c/Door_R.wav"), Mono("/d/Step_L.wav"),          Mono("/d/Step_R.wav", 1.0f + 1.0f / 48000),
                       Mono("/e/Hit_L.wav"),  Mono("/e/Hit-L.wav"),           Mono("/f/Amb_LS.wav"),
                       Mono("/f/Amb_RS.wav"), Mono("/g/Wide_L.wav", 1, 48000, 2), Mono("/g/Wide_R.wav", 1, 48000, 2)};
    library.entries[0].groupChannel = 7;
    GroupMultiMono(library);
    const auto& e = library.entries;
    EXPECT_NE(e[0].groupId, 0u);
    EXPECT_EQ(e[0].groupId, e[1].groupId);
    EXPECT_EQ(e[0].groupChannel, 0);
    EXPECT_EQ(e[1].groupChannel, 1);
    for (int i : {2, 3, 4, 5, 6, 7, 10, 11}) {
        EXPECT_EQ(e[static_cast<size_t>(i)].groupId, 0u) << i;
        EXPECT_EQ(e[static_cast<size_t>(i)].groupChannel, -1) << i;
    }
    EXPECT_EQ(e[8].groupChannel, 4);
    EXPECT_EQ(e[9].groupChannel, 5);
    EXPECT_NE(e[8].groupId, e[0].groupId);
}

TEST(Scan, LibrarySummaries) {
    Library library;
    LibraryEntry entry;
    entry.duration = 0.2f;
    for (int b = 0; b < 5; ++b) entry.features[b] = 0.8f;
    library.entries.assign(1234, entry);
    MakeLibrarySummary(library);
    EXPECT_EQ(library.summary, "1,234 files, balanced, mostly transient");

    library.entries.assign(4, entry);
    for (LibraryEntry& e : library.entries) {
        e.features[0] = 1.0f;
        e.features[1] = 0.9f;
        e.features[2] = 0.1f;
        e.features[3] = 0.7f;
        e.features[4] = 0.1f;
    }
    library.entries[0].duration = 5.0f;
    library.entries[1].duration = 1.0f;
    library.entries[0].name = "Door Slam Heavy";
    library.entries[1].name = "door_creak_01";
    MakeLibrarySummary(library);
    EXPECT_EQ(library.summary, "4 files, sub-heavy and bright, transient");
    EXPECT_NE(library.nameSummary.find("door"), std::string::npos);
    EXPECT_NE(library.ucsSummary.find("door"), std::string::npos);

    library.entries.resize(1);
    MakeLibrarySummary(library);
    EXPECT_EQ(library.summary.rfind("1 file,", 0), 0u) << library.summary;

    Library empty;
    MakeLibrarySummary(empty);
    EXPECT_EQ(empty.summary, "0 files");
}

// What a user meets pointing a scan at real folders: AIFF-C files are read, a file
// given instead of a folder is one clear error, a folder of formats the library
// cannot read says how many it passed over, and a folder whose only file fails
// says nothing was indexed and why instead of "Done!".
TEST(Scan, RealWorldFoldersReportWhatHappened) {
    TempDir sounds, index;
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;

    const fs::path aifc = sounds.path / "Compressed";
    fs::create_directories(aifc);
    SoundParams sound;
    sound.format = SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    ASSERT_TRUE(test::WriteSound((aifc / "Wind.aifc").string(), sound));
    ScanAndApply(state, set, aifc.string());
    EXPECT_EQ(ScanStatusText(state), "Done! 1 files indexed.");
    ASSERT_NE(Find(set, "Compressed"), nullptr);
    EXPECT_EQ(Find(set, "Compressed")->entries.size(), 1u);

    ASSERT_TRUE(StartScan(state, set, (aifc / "Wind.aifc").string(), true, -1, false));
    WaitForScan(state);
    EXPECT_EQ(ScanErrorText(state), "Scan interrupted: not a folder: " + (aifc / "Wind.aifc").string());

    const fs::path lossy = sounds.path / "Lossy";
    fs::create_directories(lossy);
    test::WriteFile(lossy / "a.flac", "fLaC");
    test::WriteFile(lossy / "b.MP3", "ID3");
    test::WriteFile(lossy / "notes.txt", "words");
    ASSERT_TRUE(StartScan(state, set, lossy.string(), true, -1, false));
    WaitForScan(state);
    EXPECT_EQ(ScanStatusText(state),
              "No audio files found. 2 files skipped as unsupported (FLAC, MP3, Ogg and the like).");

    const fs::path broken = sounds.path / "Broken";
    fs::create_directories(broken);
    test::WriteFile(broken / "text.wav", "plain words, no sound");
    ScanAndApply(state, set, broken.string());
    const std::string status = ScanStatusText(state);
    EXPECT_EQ(status.rfind("Nothing could be indexed: 1 file failed (text.wav: ", 0), 0u) << status;
    EXPECT_EQ(Find(set, "Broken"), nullptr);
    EXPECT_FALSE(fs::exists(index.path / "Broken.mvlib"));
    const std::vector<ScanFailure> failures = ScanFailures(state);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, (broken / "text.wav").string());
    EXPECT_FALSE(failures[0].reason.empty());
}

}  // namespace
}  // namespace morvane
