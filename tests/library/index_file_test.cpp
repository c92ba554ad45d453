#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/file_id.h"
#include "library/index_file.h"
#include "library/libraries.h"
#include "library/scan.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::TempDir;

LibraryEntry SampleEntry(const std::string& path) {
    LibraryEntry e;
    e.path = path;
    e.name = "name\twith tab";
    e.description = "line one\nline two\ttabbed \\n literal\r";
    e.keywords = "door slam \\ back";
    e.fileId = "0123456789abcdef";
    e.contentHash = 0x00ab00cd00ef0012ull;
    e.fileSize = 18446744073709551615ull;
    e.modifiedTime = -5;
    e.duration = 1.234567f;
    e.sampleRate = 96000;
    e.channels = 6;
    e.bitDepth = 24;
    e.groupId = 42;
    e.channelLayout = 6;
    e.channelInterpretation = 2;
    for (int i = 0; i < 16; ++i) e.features[i] = 0.125f * static_cast<float>(i) - 1.0f;
    e.midiNote = 83;
    e.pitchCents = 21.5f;
    e.pitchConfidence = 0.99f;
    e.spectralFlatness = 1e-7f;
    e.harmonicity = 0.5f;
    e.onsetPosition = 0.25f;
    e.attackTime = 0.0426667f;
    return e;
}

TEST(IndexFile, EveryFieldAndAwkwardPathSurvivesWriteAndRead) {
    TempDir dir;
    Library library;
    library.folder = "/sounds/with\nnewline";
    library.name = "Mixed";
    library.scanned = 1700000000;
    library.savedPalette = true;
    library.channelInterpretation = 3;
    library.disableGrouping = true;
    library.previousNames = {"Old Name", "Older"};
    const std::vector<std::string> paths = {"/s/with space.wav", "/s/tab\there.wav", "/s/new\nline.wav",
                                            "/s/caf\xc3\xa9 \xe9\x9f\xb3.wav", "/s/bad\xff\xfe utf8.wav",
                                            "/s/back\\slash\\n.wav", "/s/cr\r.wav"};
    for (const std::string& path : paths) library.entries.push_back(SampleEntry(path));
    const std::string file = dir / "Mixed.mvlib";
    ASSERT_TRUE(SaveLibraryIndex(library, file));
    const std::string text = test::ReadFile(file);
    EXPECT_EQ(text.rfind("# Morvane SFX Library v9\n", 0), 0u);
    EXPECT_NE(text.find("\n# files: 7\n"), std::string::npos);

    Library loaded;
    ASSERT_TRUE(LoadLibraryIndex(file, loaded));
    EXPECT_EQ(loaded.name, "Mixed");
    EXPECT_EQ(loaded.folder, library.folder);
    EXPECT_EQ(loaded.scanned, 1700000000);
    EXPECT_TRUE(loaded.savedPalette);
    EXPECT_EQ(loaded.channelInterpretation, 3);
    EXPECT_TRUE(loaded.disableGrouping);
    EXPECT_EQ(loaded.previousNames, library.previousNames);
    ASSERT_EQ(loaded.entries.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        const LibraryEntry& a = library.entries[i];
        const LibraryEntry& b = loaded.entries[i];
        EXPECT_EQ(b.path, paths[i]);
        EXPECT_EQ(b.name, a.name);
        EXPECT_EQ(b.description, a.description);
        EXPECT_EQ(b.keywords, a.keywords);
        EXPECT_EQ(b.fileId, a.fileId);
        EXPECT_EQ(b.contentHash, a.contentHash);
        EXPECT_EQ(b.fileSize, a.fileSize);
        EXPECT_EQ(b.modifiedTime, a.modifiedTime);
        EXPECT_FLOAT_EQ(b.duration, 1.23457f);
        EXPECT_EQ(b.sampleRate, a.sampleRate);
        EXPECT_EQ(b.channels, 6);
        EXPECT_EQ(b.bitDepth, 24);
        EXPECT_EQ(b.groupId, 0u);  // grouping is off for this library
        EXPECT_EQ(b.channelLayout, 6);
        EXPECT_EQ(b.channelInterpretation, 2);
        for (int f = 0; f < 16; ++f) EXPECT_EQ(b.features[f], a.features[f]);
        EXPECT_EQ(b.midiNote, 83);
        EXPECT_FLOAT_EQ(b.spectralFlatness, 1e-7f);
        EXPECT_FLOAT_EQ(b.attackTime, 0.0426667f);
    }
    // Reading an index registers the identities it holds.
    FileIdentity identity;
    ASSERT_TRUE(LookupFileId("0123456789abcdef", &identity));
    EXPECT_EQ(identity.contentHash, 0x00ab00cd00ef0012ull);

    Library missing;
    EXPECT_FALSE(LoadLibraryIndex(dir / "absent.mvlib", missing));
}

std::string NumberFields(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += "\t0.5";
    return out;
}

TEST(IndexFile, OlderVersionsAndDamagedLines) {
    // Version 8: no keywords column; the whole tail, tabs included, is the description.
    const std::string v8Record = "/a/one.wav\tone\t1\t48000\t1\t16" + NumberFields(16) + "\t-1" + NumberFields(6) +
                                 "\tfedcba9876543210\t00000000000000ff\t100\t1700000000\t7\t1\t0\tfirst\tsecond\\tthird";
    Library v8;
    ParseLibraryIndex("# Morvane SFX Library v8\r\n# files: 99\n\n" + v8Record + "\n", v8, false);
    ASSERT_EQ(v8.entries.size(), 1u);
    EXPECT_EQ(v8.entries[0].description, "first\tsecond\tthird");
    EXPECT_EQ(v8.entries[0].keywords, "");
    EXPECT_EQ(v8.entries[0].fileId, "fedcba9876543210");
    EXPECT_EQ(v8.entries[0].contentHash, 255u);
    EXPECT_EQ(v8.entries[0].modifiedTime, 1700000000);

    // No version line: version 3, everything after field 29 is the description.
    const std::string v3Record = "/a/two.wav\ttwo\t1\t44100\t2\t24" + NumberFields(16) + "\t60" + NumberFields(6) +
                                 "\tabc\t123\tmore";
    Library v3;
    ParseLibraryIndex(v3Record + "\n", v3, false);
    ASSERT_EQ(v3.entries.size(), 1u);
    EXPECT_EQ(v3.entries[0].description, "abc\t123\tmore");
    EXPECT_EQ(v3.entries[0].fileId, "");
    EXPECT_EQ(v3.entries[0].midiNote, 60);

    // Unreadable numbers, an empty path and short lines are skipped; the rest loads.
    const std::string good = "/a/three.wav\tthree\t2\t48000\t1\t16" + NumberFields(16) + "\t-1" + NumberFields(6) +
                             "\t\t0000000000000000\t0\t0\t0\t-1\t0\tdesc\tkw";
    const std::string badNumber = "/a/four.wav\tfour\tlong\t48000\t1\t16" + NumberFields(16) + "\t-1" +
                                  NumberFields(6) + "\t\t0\t0\t0\t0\t-1\t0\td\tk";
    const std::string noPath = "\tfive\t2\t48000\t1\t16" + NumberFields(16) + "\t-1" + NumberFields(6) +
                               "\t\t0\t0\t0\t0\t-1\t0\td\tk";
    Library mixed;
    ParseLibraryIndex("# Morvane SFX Library v9\n" + badNumber + "\n" + noPath + "\nshort\tline\n" + good, mixed,
                      false);
    ASSERT_EQ(mixed.entries.size(), 1u);
    EXPECT_EQ(mixed.entries[0].path, "/a/three.wav");
    EXPECT_EQ(mixed.entries[0].fileId, "");
    EXPECT_EQ(mixed.entries[0].keywords, "kw");
    EXPECT_EQ(EscapeIndexText("a\\b\tc\nd\re"), "a\\\\b\\tc\\nd\\re");
    EXPECT_EQ(UnescapeIndexText("x\\q\\"), "x\\q\\");
}

TEST(Libraries, PalettesInterpretationsAndLoadingAll) {
    TempDir sounds, index;
    LibrarySet set;
    set.indexFolder = index.path.string();
    test::SoundParams sound;
    ASSERT_TRUE(test::WriteSound(sounds / "a.wav", sound));
    ASSERT_TRUE(test::WriteSound(sounds / "b.wav", sound));
    test::WriteFile(sounds.path / "broken.wav", "not audio");

    const std::string first = SavePalette(set, "", {sounds / "a.wav", sounds / "gone.wav", sounds / "broken.wav"});
    EXPECT_EQ(first, "Palette");
    const std::string second = SavePalette(set, "", {sounds / "a.wav", sounds / "b.wav"});
    EXPECT_EQ(second, "Palette 2");
    EXPECT_EQ(SavePalette(set, "", {}, "/work/Foley/"), "Foley Palette");
    EXPECT_EQ(SavePalette(set, "../escape", {}), ".._escape");
    ASSERT_EQ(set.libraries.size(), 4u);
    EXPECT_EQ(set.libraries[0].entries.size(), 1u);
    EXPECT_EQ(set.libraries[1].entries.size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(index.path / "Palette 2.mvlib"));
    EXPECT_EQ(set.libraries[1].summary.rfind("2 files", 0), 0u);

    EXPECT_EQ(InterpretationOfPath(sounds / "a.wav"), 0);
    EXPECT_EQ(SetFileInterpretation(set, sounds / "a.wav", 3), 2);
    EXPECT_EQ(InterpretationOfPath(sounds / "a.wav"), 3);
    EXPECT_EQ(InterpretationOfPath(sounds / "b.wav"), 0);

    std::filesystem::create_directories(index.path / "nested");
    test::WriteFile(index.path / "nested" / "Hidden.mvlib", "# Morvane SFX Library v9\n");
    test::WriteFile(index.path / "notes.txt", "x");
    LibrarySet reloaded;
    reloaded.indexFolder = index.path.string();
    EXPECT_EQ(LoadAllLibraries(reloaded), 4);
    ASSERT_EQ(reloaded.libraries.size(), 4u);
    EXPECT_EQ(reloaded.libraries[0].name, ".._escape");
    EXPECT_TRUE(reloaded.libraries[1].savedPalette);
    EXPECT_EQ(InterpretationOfPath(sounds / "a.wav"), 3);
    for (const Library& library : reloaded.libraries)
        for (const LibraryEntry& entry : library.entries)
            if (entry.path == sounds / "a.wav") {
                EXPECT_EQ(entry.channelInterpretation, 3);
            }
}

// The Library tab's channel settings: a library's interpretation applies to its files
// unless a file has its own, "Treat as separate files" splits multi-mono sets, and
// both survive a restart.
TEST(Libraries, ChannelInterpretationAndGroupingPerLibrary) {
    TempDir index;
    LibrarySet set;
    set.indexFolder = index.path.string();
    Library library;
    library.name = "Rain";
    library.folder = "/sfx/rain";
    for (const char* name : {"Rain_L", "Rain_R", "Rain_C", "Quad"}) {
        LibraryEntry entry;
        entry.name = name;
        entry.path = std::string("/sfx/rain/") + name + ".wav";
        entry.channels = std::string(name) == "Quad" ? 4 : 1;
        library.entries.push_back(entry);
    }
    RegroupMultiMono(library);
    ASSERT_NE(library.entries[0].groupId, 0u);
    ASSERT_EQ(library.entries[0].groupId, library.entries[1].groupId);
    set.libraries.push_back(library);

    EXPECT_TRUE(SetLibraryInterpretation(set, "Rain", 3));
    EXPECT_EQ(InterpretationOfPath("/sfx/rain/Quad.wav"), 3);
    EXPECT_EQ(SetFileInterpretation(set, "/sfx/rain/Quad.wav", 1), 1);
    EXPECT_EQ(InterpretationOfPath("/sfx/rain/Quad.wav"), 1);  // the file's own wins
    EXPECT_EQ(InterpretationOfPath("/sfx/rain/Rain_L.wav"), 3);
    EXPECT_TRUE(SetLibraryInterpretation(set, "Rain", 9));     // clamped
    EXPECT_EQ(set.libraries[0].channelInterpretation, 3);
    EXPECT_STREQ(kChannelInterpretationNames[2], "Discrete (multi-mono)");

    EXPECT_TRUE(SetLibraryGroupingOff(set, "Rain", true));
    for (const LibraryEntry& entry : set.libraries[0].entries) EXPECT_EQ(entry.groupId, 0u) << entry.name;
    EXPECT_FALSE(SetLibraryGroupingOff(set, "Nowhere", true));
    EXPECT_FALSE(SetLibraryInterpretation(set, "Nowhere", 1));

    LibrarySet reloaded;
    reloaded.indexFolder = index.path.string();
    ASSERT_EQ(LoadAllLibraries(reloaded), 1);
    const Library& again = reloaded.libraries[0];
    EXPECT_EQ(again.channelInterpretation, 3);
    EXPECT_TRUE(again.disableGrouping);
    for (const LibraryEntry& entry : again.entries) EXPECT_EQ(entry.groupId, 0u) << entry.name;

    // Grouping back on: the L/R/C set is one group again, the four-channel file alone.
    EXPECT_TRUE(SetLibraryGroupingOff(reloaded, "Rain", false));
    const auto& entries = reloaded.libraries[0].entries;
    EXPECT_NE(entries[0].groupId, 0u);
    EXPECT_EQ(entries[0].groupId, entries[1].groupId);
    EXPECT_EQ(entries[0].groupId, entries[2].groupId);
    EXPECT_EQ(entries[3].groupId, 0u);
}

TEST(Libraries, FolderNames) {
    EXPECT_EQ(LibraryNameOfFolder("/sounds/Foley.v2"), "Foley");
    EXPECT_EQ(LibraryNameOfFolder("/sounds/Foley/"), "Foley");
    EXPECT_EQ(LibraryNameOfFolder("/sounds/.hidden"), ".hidden");
    EXPECT_EQ(LibraryNameOfFolder("/"), "Library");
}

}  // namespace
}  // namespace morvane
