#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/file_id.h"
#include "library/index_file.h"
#include "library/relink.h"
#include "library/scan.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::SoundParams;
using test::TempDir;

void Scan(ScanState& state, LibrarySet& set, const std::string& folder) {
    ASSERT_TRUE(StartScan(state, set, folder, true, -1, false));
    WaitForScan(state);
    ApplyFinishedScans(state, set);
    WaitForBackfill(state);
}

const LibraryEntry* EntryNamed(LibrarySet& set, const std::string& library, const std::string& name) {
    for (const Library& l : set.libraries)
        if (l.name == library)
            for (const LibraryEntry& e : l.entries)
                if (e.name == name) return &e;
    return nullptr;
}

TEST(Relink, MovedFileIsFoundThroughItsIdentity) {
    TempDir root, index;
    fs::create_directories(root.path / "Old");
    fs::create_directories(root.path / "New");
    SoundParams sound;
    sound.frequency = 523.0;  // content of its own, unlike other tests' files
    ASSERT_TRUE(test::WriteSound((root.path / "Old" / "bell.wav").string(), sound));
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    Scan(state, set, (root.path / "Old").string());
    const LibraryEntry* before = EntryNamed(set, "Old", "bell");
    ASSERT_NE(before, nullptr);
    const std::string id = before->fileId;
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(ResolveFileId(id), (root.path / "Old" / "bell.wav").string());

    // Moved by the user, then scanned in its new folder: "Relink all" needs no search.
    fs::rename(root.path / "Old" / "bell.wav", root.path / "New" / "bell2.wav");
    Scan(state, set, (root.path / "New").string());
    std::vector<std::pair<std::string, std::string>> seen;
    const int relinked = RelinkAll(set, [&](const std::string& a, const std::string& b) { seen.emplace_back(a, b); });
    EXPECT_EQ(relinked, 1);
    EXPECT_EQ(RelinkResultText(relinked), "Relinked 1 file");
    EXPECT_EQ(RelinkResultText(3), "Relinked 3 files");
    const LibraryEntry* moved = EntryNamed(set, "Old", "bell2");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->path, (root.path / "New" / "bell2.wav").string());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, (root.path / "Old" / "bell.wav").string());
    Library stored;
    ASSERT_TRUE(LoadLibraryIndex(index / "Old.mvlib", stored));
    ASSERT_EQ(stored.entries.size(), 1u);
    EXPECT_EQ(stored.entries[0].path, moved->path);
    // Nothing left to find.
    EXPECT_EQ(RelinkResultText(RelinkAll(set)), "No matching files found");
}

TEST(Relink, LocateFolderAndLocateFileCompareContent) {
    TempDir root, index;
    fs::create_directories(root.path / "Lib");
    SoundParams sound;
    sound.frequency = 611.0;
    ASSERT_TRUE(test::WriteSound((root.path / "Lib" / "horn.wav").string(), sound));
    sound.frequency = 733.0;
    ASSERT_TRUE(test::WriteSound((root.path / "Lib" / "buzz.wav").string(), sound));
    LibrarySet set;
    set.indexFolder = index.path.string();
    ScanState state;
    Scan(state, set, (root.path / "Lib").string());
    const std::string hornId = EntryNamed(set, "Lib", "horn")->fileId;
    const std::string buzzId = EntryNamed(set, "Lib", "buzz")->fileId;

    // Both vanish; elsewhere lie the real horn under another name and a different
    // file that carries buzz's name and size.
    fs::create_directories(root.path / "Elsewhere" / "deep");
    fs::rename(root.path / "Lib" / "horn.wav", root.path / "Elsewhere" / "deep" / "renamed horn.wav");
    fs::remove(root.path / "Lib" / "buzz.wav");
    sound.frequency = 401.0;
    ASSERT_TRUE(test::WriteSound((root.path / "Elsewhere" / "buzz.wav").string(), sound));
    EXPECT_EQ(RelinkAll(set), 0);
    EXPECT_EQ(ResolveFileId(hornId), "");
    const std::vector<MissingSource> missing = MissingSources(set);
    EXPECT_GE(missing.size(), 2u);

    EXPECT_EQ(LocateFolder(set, (root.path / "Elsewhere").string()), 1);
    EXPECT_EQ(ResolveFileId(hornId), (root.path / "Elsewhere" / "deep" / "renamed horn.wav").string());
    ASSERT_NE(EntryNamed(set, "Lib", "renamed horn"), nullptr);
    EXPECT_EQ(ResolveFileId(buzzId), "");

    // The same-named file has other content: only "Use anyway" takes it.
    const std::string impostor = (root.path / "Elsewhere" / "buzz.wav").string();
    EXPECT_EQ(LocateFile(set, buzzId, impostor, false), LocateResult::DifferentContent);
    EXPECT_STREQ(LocateResultText(LocateResult::DifferentContent), "Selected file has different content.");
    EXPECT_EQ(EntryNamed(set, "Lib", "buzz")->path, (root.path / "Lib" / "buzz.wav").string());
    EXPECT_EQ(LocateFile(set, buzzId, (root.path / "none.wav").string(), true), LocateResult::Unreadable);
    EXPECT_STREQ(LocateResultText(LocateResult::Unreadable), "Could not read the selected file");
    EXPECT_EQ(LocateFile(set, buzzId, impostor, true), LocateResult::Relinked);
    EXPECT_EQ(EntryNamed(set, "Lib", "buzz")->path, impostor);
    EXPECT_EQ(ResolveFileId(buzzId), impostor);
}

}  // namespace
}  // namespace morvane
