// The AAF session writer read back by our own compound-file reader, walked the way
// a workstation walks it: from the header to the composition, through every clip's
// mobs to its media.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "aaf/aaf_session.h"
#include "aaf/session_walk.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

AafSession TwoTrackSession(const std::string& folder) {
    AafSession s;
    s.sampleRate = 48000;
    s.frameRateNumerator = 25;
    s.timecodeStart = 90000;  // 01:00:00:00 at 25 fps
    s.length = 48000 * 10;
    s.media = {{folder + "/Audio Files/Reel 1_001_Door Slam.wav", "Reel 1_001_Door Slam", 48000, 48000},
               {folder + "/Audio Files/Reel 1_002_Wind #2.L.wav", "Reel 1_002_Wind #2.L", 48000, 96000}};
    AafClip door{0, 24000, 48000, 0, 0, 0, {}};
    AafClip wind{1, 96000, 72000, 12000, 4800, 9600, {{0.0, 0.3}, {0.5, 1.0}, {1.0, 0.65}}};
    AafClip again{0, 240000, 24000, 24000, 0, 0, {}};
    s.tracks = {{"Track 1", {door, again}}, {"Track 2", {wind}}, {"Track 3", {}}};
    s.markers = {{24000, "Door Slam"}, {96000, "Wind"}};
    return s;
}

TEST(AafSession, AReaderFindsEveryClipWhereItWasPlacedWithItsMedia) {
    test::TempDir dir;
    const std::string path = dir / "Reel 1.aaf";
    const AafSession session = TwoTrackSession(dir.path.string());
    ASSERT_TRUE(WriteAafSession(session, path, nullptr));
    const test::WalkedSession w = test::WalkAafSession(path);
    ASSERT_TRUE(w.ok) << w.error;

    EXPECT_EQ(w.rootClass, ParseAuid(aaf::kFileKind));
    EXPECT_EQ(w.company, "Morvane");
    EXPECT_EQ(w.product, "Morvane");
    EXPECT_EQ(w.versionString, "1.0.0.0");
    EXPECT_EQ(w.productVersion, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(w.toolkitVersion.size(), 9u);
    // The definitions a workstation looks up by their registered identifiers.
    const std::map<std::string, std::string> expected = {
        {aaf::kOperationMonoAudioDissolve, "Mono Audio Dissolve"}, {aaf::kOperationMonoAudioGain, "Mono Audio Gain"},
        {aaf::kParameterLevel, "Level"},       {aaf::kParameterAmplitude, "Amplitude"},
        {aaf::kInterpolationLinear, "LinearInterp"}};
    for (const auto& [id, name] : expected) EXPECT_EQ(w.definitions.at(FormatAuid(ParseAuid(id))), name);

    EXPECT_EQ(w.compositions, 1);
    EXPECT_EQ(w.topLevel, 1);
    EXPECT_EQ(w.compositionName, "Morvane Timeline");
    EXPECT_EQ(w.tcRate, 25);
    EXPECT_EQ(w.tcFps, 25);
    EXPECT_EQ(w.tcStart, 90000);

    ASSERT_EQ(w.tracks.size(), 3u);
    EXPECT_EQ(w.tracks[0].name, "Track 1");
    for (const test::WalkedTrack& t : w.tracks) EXPECT_EQ(t.length, session.length) << t.name;
    ASSERT_EQ(w.tracks[0].clips.size(), 2u);
    EXPECT_EQ(w.tracks[0].clips[0].position, 24000);
    EXPECT_EQ(w.tracks[0].clips[0].length, 48000);
    EXPECT_EQ(w.tracks[0].clips[1].position, 240000);
    EXPECT_EQ(w.tracks[0].clips[1].sourceOffset, 24000);
    EXPECT_EQ(w.tracks[0].clips[0].path, session.media[0].path);
    EXPECT_EQ(w.tracks[0].clips[0].rate, 48000);
    EXPECT_EQ(w.tracks[0].clips[0].channels, 1u);
    EXPECT_EQ(w.tracks[0].clips[0].mediaLength, 48000);
    EXPECT_EQ(w.tracks[0].clips[0].masterName, "Reel 1_001_Door Slam");
    EXPECT_TRUE(w.tracks[0].transitions.empty());

    // The faded, automated clip: in place despite the transitions around it.
    ASSERT_EQ(w.tracks[1].clips.size(), 1u);
    const test::WalkedClip& wind = w.tracks[1].clips[0];
    EXPECT_EQ(wind.position, 96000);
    EXPECT_EQ(wind.length, 72000);
    EXPECT_EQ(wind.sourceOffset, 12000);
    EXPECT_EQ(wind.path, session.media[1].path);
    EXPECT_EQ(wind.operation, "Mono Audio Gain");
    EXPECT_EQ(wind.interpolation, "LinearInterp");
    ASSERT_EQ(wind.points.size(), 3u);
    EXPECT_NEAR(wind.points[1].first, 0.5, 1e-6);
    EXPECT_NEAR(wind.points[0].second, 0.3, 1e-4);
    EXPECT_NEAR(wind.points[2].second, 0.65, 1e-4);
    ASSERT_EQ(w.tracks[1].transitions.size(), 2u);
    EXPECT_EQ(w.tracks[1].transitions[0].position, 96000);
    EXPECT_EQ(w.tracks[1].transitions[0].length, 4800);
    EXPECT_EQ(w.tracks[1].transitions[0].operation, "Mono Audio Dissolve");
    EXPECT_EQ(w.tracks[1].transitions[0].levels, (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(w.tracks[1].transitions[1].position, 96000 + 72000 - 9600);
    EXPECT_EQ(w.tracks[1].transitions[1].levels, (std::vector<double>{1.0, 0.0}));

    // An empty track still holds one component; markers keep their places and names.
    EXPECT_EQ(w.tracks[2].components, 1);
    ASSERT_EQ(w.markers.size(), 2u);
    EXPECT_EQ(w.markers[1], (std::pair<int64_t, std::string>{96000, "Wind"}));
}

TEST(AafSession, AFailedWriteLeavesNothingAndSaysWhichStep) {
    test::TempDir dir;
    AafSession session = TwoTrackSession(dir.path.string());

    // A folder that cannot exist: the file is never created.
    test::WriteFile(dir.path / "plain file", "x");
    AafWriteError error;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAafSession(session, dir / "plain file/Reel 1.aaf", &error));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(error.step, "OpenNewModifyEx");
    EXPECT_NE(log.find("[AAF] OpenNewModifyEx FAILED hr=0x80120011 path='"), std::string::npos) << log;

    // A folder in the way of the file: written, but it cannot be moved into place.
    fs::create_directory(dir.path / "Reel 1.aaf");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAafSession(session, dir / "Reel 1.aaf", &error));
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(error.step, "Close");
    EXPECT_NE(log.find("[AAF] Close FAILED hr=0x"), std::string::npos) << log;
    EXPECT_TRUE(fs::is_directory(dir.path / "Reel 1.aaf"));

    // A clip reaching past its media is refused before anything is written.
    session.tracks[0].clips[0].length = 48001;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteAafSession(session, dir / "Reel 2.aaf", &error));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(error.why.find("past the end"), std::string::npos) << error.why;

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Reel 1.aaf", "plain file"}));
}

TEST(AafSession, LocatorsAreFileUrlsWithEveryOddCharacterEncoded) {
    EXPECT_EQ(FileUrl("/home/ana/Reel 1/Audio Files/Door_Slam-2.wav"),
              "file:///home/ana/Reel%201/Audio%20Files/Door_Slam-2.wav");
    EXPECT_EQ(FileUrl("/x/Café #1 & [take] 100%.wav"), "file:///x/Caf%C3%A9%20%231%20%26%20%5Btake%5D%20100%25.wav");
}

TEST(AafSession, ACompoundFileWithoutAafObjectsIsRefusedWithAReason) {
    test::TempDir dir;
    CompoundNode root;
    root.AddStorage("Header-2", ClassId{})->AddStream("not properties", {1, 2, 3});
    ASSERT_TRUE(WriteCompoundFile(dir / "odd.aaf", root, nullptr));
    std::string why;
    std::unique_ptr<CompoundNode> back = ReadCompoundFile(dir / "odd.aaf", &why);
    ASSERT_NE(back, nullptr) << why;
    ASSERT_NE(back->Child("Header-2"), nullptr);
    EXPECT_EQ(back->Child("Header-2")->Child("not properties")->bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(LoadAafFile(*back, &why), nullptr);
    EXPECT_NE(why.find("no properties"), std::string::npos) << why;

    test::WriteFile(dir.path / "text.aaf", "just text");
    EXPECT_EQ(ReadCompoundFile(dir / "text.aaf", &why), nullptr);
    EXPECT_EQ(test::WalkAafSession(dir / "text.aaf").ok, false);
}

}  // namespace
}  // namespace morvane
