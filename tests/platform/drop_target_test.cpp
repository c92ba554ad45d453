#include <gtest/gtest.h>

#include <filesystem>

#include "platform/drop_target.h"
#include "support/test_support.h"

using namespace morvane;

TEST(DropTarget, SortsADropIntoFoldersAndAudioFiles) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path / "Foley");
    // A folder whose name looks like a sound file is still a folder.
    std::filesystem::create_directory(dir.path / "takes.wav");
    for (const char* name : {"door.WAV", "readme.txt", "rain.flac"}) test::WriteFile(dir.path / name, "x");

    DropTarget target;
    DropBegin(target, 120.5f, 44.0f);
    EXPECT_TRUE(target.dragging);
    DropPath(target, dir / "Foley");
    DropPath(target, dir / "door.WAV");
    DropPath(target, dir / "readme.txt");
    DropPath(target, dir / "rain.flac");
    EXPECT_TRUE(target.draggingFolder);
    EXPECT_TRUE(target.draggingAudio);
    DropComplete(target, true);

    EXPECT_FALSE(target.dragging);
    EXPECT_TRUE(target.altHeld);
    EXPECT_FLOAT_EQ(target.dropX, 120.5f);
    EXPECT_FLOAT_EQ(target.dropY, 44.0f);
    ASSERT_EQ(target.droppedFolders.size(), 1u);
    EXPECT_EQ(target.droppedFolders[0], dir / "Foley");
    ASSERT_EQ(target.droppedFiles.size(), 2u);
    EXPECT_EQ(target.droppedFiles[0], dir / "door.WAV");
    EXPECT_EQ(target.droppedFiles[1], dir / "rain.flac");

    // A second drop appends to what the interface has not taken yet.
    DropBegin(target, 0, 0);
    DropPath(target, dir / "takes.wav");
    DropComplete(target, false);
    EXPECT_FALSE(target.altHeld);
    EXPECT_EQ(target.droppedFolders.size(), 2u);
    EXPECT_EQ(target.droppedFiles.size(), 2u);
}

TEST(DropTarget, RecognisesAudioByTheExtensionOfTheFileNameOnly) {
    for (const char* yes : {"a.wav", "B.AIF", "c.Aiff", "d.flac", "e.ogg", "f.MP3", "g.w64", "h.caf",
                            "/x/y.z/take.wav", "C:\\sfx\\hit.WAV"})
        EXPECT_TRUE(IsAudioFileName(yes)) << yes;
    for (const char* no : {"wav", "a.wave", "a.wav.txt", "/lib/sfx.wav/readme", "C:\\a.wav\\b",
                           "a.", "", "noext"})
        EXPECT_FALSE(IsAudioFileName(no)) << no;
}
