// What keeps large libraries whole and usable: the journal a scan leaves beside its
// index, numbers read the same whatever the process locale, folders stored as full
// paths, and identities filled in across libraries.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <string>

#include "library/file_id.h"
#include "library/index_file.h"
#include "library/libraries.h"
#include "library/relink.h"
#include "library/scan.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

LibraryEntry Entry(const std::string& path, const std::string& keywords) {
    LibraryEntry e;
    e.path = path;
    e.name = fs::path(path).stem().string();
    e.keywords = keywords;
    e.duration = 1.5f;
    e.sampleRate = 48000.0f;
    e.channels = 2;
    e.modifiedTime = 1700000000;
    return e;
}

TEST(LargeLibrary, JournalOfAKilledScanJoinsTheIndexOnLoad) {
    test::TempDir dir;
    const std::string indexPath = dir / "Foley.mvlib";
    Library library;
    library.folder = "/sounds/Foley";
    library.entries = {Entry("/sounds/Foley/b.wav", "old"), Entry("/sounds/Foley/d.wav", "kept")};
    ASSERT_TRUE(SaveLibraryIndex(library, indexPath));

    // Two runs appended to the journal: a re-analysed file, two new ones, a file
    // analysed twice (the later record wins), and a record cut short by the kill.
    IndexJournal journal;
    ASSERT_TRUE(OpenIndexJournal(indexPath, library.folder, &journal));
    ASSERT_TRUE(AppendIndexJournal(journal, Entry("/sounds/Foley/b.wav", "new")));
    ASSERT_TRUE(AppendIndexJournal(journal, Entry("/sounds/Foley/c.wav", "first")));
    CloseIndexJournal(journal);
    std::string cut;
    AppendIndexRecord(cut, Entry("/sounds/Foley/e.wav", "never whole"));
    test::WriteFile(IndexJournalPath(indexPath), test::ReadFile(IndexJournalPath(indexPath)) + cut.substr(0, 40));
    ASSERT_TRUE(OpenIndexJournal(indexPath, library.folder, &journal));
    ASSERT_TRUE(AppendIndexJournal(journal, Entry("/sounds/Foley/c.wav", "second")));
    ASSERT_TRUE(AppendIndexJournal(journal, Entry("/sounds/Foley/a.wav", "added")));
    CloseIndexJournal(journal);

    Library loaded;
    ASSERT_TRUE(LoadLibraryIndex(indexPath, loaded));
    ASSERT_EQ(loaded.entries.size(), 4u);
    const char* paths[] = {"/sounds/Foley/a.wav", "/sounds/Foley/b.wav", "/sounds/Foley/c.wav", "/sounds/Foley/d.wav"};
    const char* words[] = {"added", "new", "second", "kept"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(loaded.entries[i].path, paths[i]);
        EXPECT_EQ(loaded.entries[i].keywords, words[i]);
    }
    EXPECT_EQ(loaded.folder, "/sounds/Foley");
    // The journal is folded in for good: the index holds its entries and it is gone.
    EXPECT_FALSE(fs::exists(IndexJournalPath(indexPath)));
    Library again;
    ASSERT_TRUE(LoadLibraryIndex(indexPath, again));
    EXPECT_EQ(again.entries.size(), 4u);
    EXPECT_EQ(again.entries[2].keywords, "second");
}

TEST(LargeLibrary, NumbersReadTheSameWhateverTheLocaleAndDamageIsCleanedUp) {
    Library library;
    LibraryEntry e = Entry("/a/x.wav", "");
    e.duration = 0.123457f;
    e.features[3] = 1e-40f;  // below float's normal range
    e.contentHash = 0xfedcba9876543210ull;
    e.fileSize = 18446744073709551615ull;
    e.modifiedTime = -5;
    library.entries = {e};
    std::string text = SerializeLibraryIndex(library);
    // A locale whose decimal mark is a comma must not change what the file says.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const bool commaLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    Library loaded;
    ParseLibraryIndex(text, loaded, false);
    std::setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_EQ(loaded.entries.size(), 1u) << (commaLocale ? "with a comma locale" : "");
    EXPECT_EQ(loaded.entries[0].duration, e.duration);
    EXPECT_EQ(loaded.entries[0].features[3], e.features[3]);
    EXPECT_EQ(loaded.entries[0].contentHash, e.contentHash);
    EXPECT_EQ(loaded.entries[0].fileSize, e.fileSize);
    EXPECT_EQ(loaded.entries[0].modifiedTime, -5);

    // Hand-edited numbers: a plus sign is read, a number beyond float becomes the
    // default, and a field with text after its number drops the record.
    auto withDuration = [&](const std::string& duration) {
        std::string edited = text;
        const size_t at = edited.find("\t0.123457\t");
        edited.replace(at + 1, 8, duration);
        Library l;
        ParseLibraryIndex(edited, l, false);
        return l;
    };
    EXPECT_EQ(withDuration("+2.5").entries.at(0).duration, 2.5f);
    EXPECT_EQ(withDuration("1e60").entries.at(0).duration, 0.0f);
    EXPECT_EQ(withDuration("nan").entries.at(0).duration, 0.0f);
    EXPECT_TRUE(withDuration("2.5s").entries.empty());
    EXPECT_TRUE(withDuration("2,5").entries.empty());
}

TEST(LargeLibrary, FoldersTypedAsRelativePathsAreStoredInFull) {
    test::ScopedHome home;
    const fs::path work = fs::path(home.dir.path) / "work";
    fs::create_directories(work / "Sounds" / "sub");
    test::SoundParams sound;
    ASSERT_TRUE(test::WriteSound((work / "Sounds" / "one.wav").string(), sound));
    sound.frequency = 880.0;
    ASSERT_TRUE(test::WriteSound((work / "Sounds" / "sub" / "two.wav").string(), sound));
    const fs::path before = fs::current_path();
    fs::current_path(work);
    LibrarySet set;
    set.indexFolder = (fs::path(home.dir.path) / "index").string();
    for (const std::string typed : {"Sounds", "./Sounds/", "sub/../Sounds"}) {
        ScanState state;
        ScanRequest request;
        request.folder = typed;
        state.running.store(true);
        RunScan(state, set, request);
        ASSERT_EQ(state.finishedLibraries.size(), 1u) << typed;
        const Library& library = state.finishedLibraries[0];
        EXPECT_EQ(library.name, "Sounds") << typed;
        EXPECT_EQ(library.folder, (work / "Sounds").string()) << typed;
        ASSERT_EQ(library.entries.size(), 2u) << typed;
        EXPECT_EQ(library.entries[0].path, (work / "Sounds" / "one.wav").string());
        EXPECT_EQ(library.entries[1].path, (work / "Sounds" / "sub" / "two.wav").string());
        // Whatever was typed, it is the same library, and the second scan re-uses.
        if (typed != "Sounds") {
            EXPECT_EQ(state.reusedCount.load(), 2) << typed;
        }
    }
    fs::current_path(before);
    // The index found from elsewhere still points at the files.
    Library saved;
    ASSERT_TRUE(LoadLibraryIndex(LibraryIndexPath(set, "Sounds"), saved));
    for (const LibraryEntry& entry : saved.entries) EXPECT_TRUE(fs::exists(entry.path)) << entry.path;
}

TEST(LargeLibrary, IdentitiesAreFilledInEveryLibraryThatLacksThem) {
    test::ScopedHome home;
    const fs::path sounds = fs::path(home.dir.path) / "old";
    fs::create_directories(sounds);
    LibrarySet set;
    set.indexFolder = (fs::path(home.dir.path) / "index").string();
    fs::create_directories(set.indexFolder);
    // Two libraries from an index version without identities share some files.
    Library first, second;
    first.name = "First";
    second.name = "Second";
    for (int i = 0; i < 30; ++i) {
        test::SoundParams sound;
        sound.frequency = 100.0 + 20 * i;
        const std::string path = (sounds / ("f" + std::to_string(i) + ".wav")).string();
        ASSERT_TRUE(test::WriteSound(path, sound));
        first.entries.push_back(Entry(path, ""));
        if (i % 3 == 0) second.entries.push_back(Entry(path, ""));
    }
    second.entries.push_back(Entry((sounds / "gone.wav").string(), ""));
    set.libraries = {first, second};
    ScanState state;
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
    ApplyFinishedScans(state, set);  // nothing new: no second pass is started
    WaitForBackfill(state);
    for (const Library& library : set.libraries)
        for (const LibraryEntry& entry : library.entries) {
            if (entry.name == "gone") {
                EXPECT_TRUE(entry.fileId.empty());
                continue;
            }
            EXPECT_EQ(entry.fileId.size(), 16u) << library.name << " " << entry.path;
            EXPECT_NE(entry.contentHash, 0u);
        }
    // The same file has the same identity in both libraries, and was read once.
    EXPECT_EQ(set.libraries[0].entries[3].fileId, set.libraries[1].entries[1].fileId);
    EXPECT_EQ(state.backfillTotal.load(), 31);
    // Both indexes were written with the identities.
    Library saved;
    ASSERT_TRUE(LoadLibraryIndex(LibraryIndexPath(set, "Second"), saved));
    EXPECT_EQ(saved.entries[0].fileId, set.libraries[1].entries[0].fileId);
}

}  // namespace
}  // namespace morvane
