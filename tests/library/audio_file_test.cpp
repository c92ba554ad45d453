#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "library/audio_file.h"
#include "library/channel_map.h"
#include "library/file_id.h"
#include "library/sound_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::SoundParams;
using test::TempDir;
using test::WriteSound;

TEST(AudioFile, SineFeaturesAndStreamParameters) {
    TempDir dir;
    SoundParams sound;
    sound.frames = 48000;
    sound.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    const std::string path = dir / "tone.wav";
    ASSERT_TRUE(WriteSound(path, sound));
    LibraryEntry entry;
    AnalysisContextPtr context = MakeAnalysisContext();
    ASSERT_TRUE(context);
    ASSERT_TRUE(AnalyzeFile(path, entry, context.get()));
    EXPECT_EQ(entry.name, "tone");
    EXPECT_EQ(entry.bitDepth, 24);
    EXPECT_EQ(entry.channels, 1);
    EXPECT_FLOAT_EQ(entry.sampleRate, 48000.0f);
    EXPECT_NEAR(entry.duration, 1.0f, 1e-6);
    EXPECT_EQ(entry.channelLayout, 1);
    EXPECT_FLOAT_EQ(entry.features[2], 1.0f);
    for (int band : {0, 1, 3, 4}) EXPECT_LT(entry.features[band], 0.05f) << band;
    EXPECT_NEAR(entry.features[15], 1000.0f, 2.0f);
    EXPECT_EQ(entry.midiNote, 83);
    EXPECT_NEAR(entry.pitchCents, 21.0f, 2.0f);
    EXPECT_GT(entry.pitchConfidence, 0.95f);
    // A 0.5 amplitude sine: RMS -9 dBFS, crest 3 dB.
    EXPECT_NEAR(entry.features[12], -9.03f, 0.1f);
    EXPECT_NEAR(entry.features[11], 3.01f, 0.1f);
    EXPECT_EQ(entry.features[8], entry.features[11]);
    EXPECT_GT(entry.harmonicity, 0.5f);
    EXPECT_LT(entry.spectralFlatness, 0.1f);
    EXPECT_NE(entry.fileId.size(), 0u);
    EXPECT_NE(entry.contentHash, 0u);
    EXPECT_EQ(entry.fileSize, std::filesystem::file_size(path));
    EXPECT_GT(entry.modifiedTime, 1600000000);

    // The same analysis without a caller-owned context gives the same numbers.
    LibraryEntry again;
    ASSERT_TRUE(AnalyzeFile(path, again, nullptr));
    EXPECT_EQ(again.features[15], entry.features[15]);
    EXPECT_EQ(again.fileId, entry.fileId);
}

TEST(AudioFile, SilenceShortAndUnreadableFiles) {
    TempDir dir;
    SoundParams silent;
    silent.frequency = 0;
    silent.frames = 9000;
    ASSERT_TRUE(WriteSound(dir / "silent.wav", silent));
    LibraryEntry entry;
    ASSERT_TRUE(AnalyzeFile(dir / "silent.wav", entry, nullptr));
    EXPECT_EQ(entry.features[12], -100.0f);
    EXPECT_EQ(entry.features[8], 0.0f);
    EXPECT_EQ(entry.features[11], 0.0f);
    for (int band = 0; band < 5; ++band) EXPECT_EQ(entry.features[band], 0.0f);
    EXPECT_EQ(entry.midiNote, -1);

    SoundParams tiny;
    tiny.frames = 2047;
    ASSERT_TRUE(WriteSound(dir / "tiny.wav", tiny));
    LibraryEntry shortEntry;
    EXPECT_FALSE(AnalyzeFile(dir / "tiny.wav", shortEntry, nullptr));
    tiny.frames = 2048;
    ASSERT_TRUE(WriteSound(dir / "exact.wav", tiny));
    EXPECT_TRUE(AnalyzeFile(dir / "exact.wav", shortEntry, nullptr));

    test::WriteFile(dir.path / "text.wav", "this is not a sound file at all, just words");
    LibraryEntry textEntry;
    EXPECT_FALSE(AnalyzeFile(dir / "text.wav", textEntry, nullptr));
    EXPECT_FALSE(AnalyzeFile(dir / "missing.wav", textEntry, nullptr));
}

TEST(AudioFile, MetadataFromBextStringsIxmlAndName) {
    TempDir dir;
    SoundParams sound;
    sound.strings = {{SF_STR_TITLE, "Heavy door slam"}, {SF_STR_ARTIST, "Field Team  "}};
    sound.ixml =
        "<BWFXML><USER><Keywords>Heavy door slam</Keywords><CATEGORY>DOORS</CATEGORY>"
        "<Description>Oak &amp; iron &lt;close&gt;</Description><Notes/></USER></BWFXML>";
    const std::string path = dir / "AIRBlow_Door.wav";
    ASSERT_TRUE(WriteSound(path, sound));
    LibraryEntry entry;
    ASSERT_TRUE(AnalyzeFile(path, entry, nullptr));
    // No bext: the title becomes the description, then the iXML text follows it.
    EXPECT_EQ(entry.description, "Heavy door slam Oak & iron <close>");
    // The title leads the keywords; the iXML keywords equal to it are not repeated;
    // the CatID prefix adds its category, subcategory and synonyms.
    EXPECT_EQ(entry.keywords.rfind("Heavy door slam Field Team DOORS air blow air blow aerate aerosol", 0), 0u)
        << entry.keywords;
    EXPECT_EQ(entry.keywords.find("Heavy door slam", 1), std::string::npos);

    SoundParams bext;
    bext.bextDescription = "Metal clang";
    bext.strings = {{SF_STR_COMMENT, "recorded close"}};
    ASSERT_TRUE(WriteSound(dir / "DSGNBoom_Hit.wav", bext));
    LibraryEntry designed;
    ASSERT_TRUE(AnalyzeFile(dir / "DSGNBoom_Hit.wav", designed, nullptr));
    EXPECT_EQ(designed.description.rfind("Metal clang", 0), 0u);
    EXPECT_EQ(designed.keywords, "");  // a designed CatID adds nothing
}

TEST(AudioFile, IxmlTextExtraction) {
    std::string description, keywords;
    ExtractIxmlText("<CatID>AIRBlow</CatID><SubCategory>blow</SubCategory><Category>air</Category>"
                    "<Keywords>wind gust</Keywords><Keywords>second</Keywords><CategoryFull>x</CategoryFull>",
                    description, keywords);
    EXPECT_EQ(keywords, "wind gust air blow AIRBlow");
    EXPECT_EQ(description, "");
    std::string text;
    EXPECT_FALSE(IxmlElementText("<Notes>unterminated", "Notes", &text));
    EXPECT_FALSE(IxmlElementText("<Notes", "Notes", &text));
    EXPECT_TRUE(IxmlElementText("<notes attr=\"1\">a &quot;b&quot; &apos;c&apos; &bogus;</NOTES>", "Notes", &text));
    EXPECT_EQ(text, "a \"b\" 'c' &bogus;");
}

TEST(AudioFile, WordAppendingAndExtensions) {
    std::string target;
    AppendUniqueWord(target, "door \t\r\n");
    AppendUniqueWord(target, "  ");
    AppendUniqueWord(target, "oo");  // already inside "door"
    AppendUniqueWord(target, "Door");
    EXPECT_EQ(target, "door Door");
    for (const char* ok : {".wav", ".WAV", ".Aiff", ".aif", ".caf", ".w64", ".rf64", ".au", ".snd", ".raw", ".sd2",
                           ".paf", ".iff", ".svx"})
        EXPECT_TRUE(IsSupportedAudioFile(ok)) << ok;
    for (const char* no : {".flac", ".ogg", ".mp3", "wav", "", ".wavx"}) EXPECT_FALSE(IsSupportedAudioFile(no)) << no;
}

// Reference FNV-1a over a list of byte ranges, for the identity windows.
uint64_t Fnv(const std::vector<std::string>& parts) {
    uint64_t h = 0x14650fb0739d0383ull;
    for (const std::string& part : parts)
        for (unsigned char c : part) {
            h ^= c;
            h *= 0x100000001b3ull;
        }
    return h;
}

std::string SizeBytes(uint64_t size) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
    return out;
}

TEST(AudioFile, ContentHashWindowsAndIdentities) {
    TempDir dir;
    std::string bytes(65537, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    const std::string exact = bytes.substr(0, 65536);
    test::WriteFile(dir.path / "exact.bin", exact);
    test::WriteFile(dir.path / "over.bin", bytes);
    uint64_t hash = 0, size = 0;
    ASSERT_TRUE(contentHash(dir / "exact.bin", &hash, &size));
    EXPECT_EQ(size, 65536u);
    EXPECT_EQ(hash, Fnv({exact, SizeBytes(65536)}));
    ASSERT_TRUE(contentHash(dir / "over.bin", &hash, &size));
    EXPECT_EQ(hash, Fnv({bytes.substr(0, 65536), bytes.substr(1, 65536), SizeBytes(65537)}));
    EXPECT_FALSE(contentHash(dir / "absent.bin", &hash, &size));

    // Byte-identical content shares one identity, whatever the path; the earlier
    // path is remembered for relinking.
    const std::string first = AssignFileId("/a/one.wav", 0x1234, 99);
    EXPECT_EQ(first.size(), 16u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(AssignFileId("/b/two.wav", 0x1234, 99), first);
    EXPECT_NE(AssignFileId("/a/one.wav", 0x1234, 100), first);
    FileIdentity identity;
    ASSERT_TRUE(LookupFileId(first, &identity));
    EXPECT_EQ(identity.path, "/b/two.wav");
    ASSERT_EQ(identity.otherPaths.size(), 1u);
    EXPECT_EQ(identity.otherPaths[0], "/a/one.wav");
    RegisterFileId("", "/x.wav", 1, 1);
    EXPECT_FALSE(LookupFileId("", &identity));
}

TEST(AudioFile, ChannelLayoutsOfFiles) {
    TempDir dir;
    SoundParams sound;
    sound.channels = 6;
    ASSERT_TRUE(WriteSound(dir / "six.wav", sound));
    sound.channels = 7;
    ASSERT_TRUE(WriteSound(dir / "seven.wav", sound));
    sound.channels = 4;
    sound.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    sound.channelMap = {SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_Y, SF_CHANNEL_MAP_AMBISONIC_B_Z,
                       SF_CHANNEL_MAP_AMBISONIC_B_X};
    ASSERT_TRUE(WriteSound(dir / "bformat.caf", sound));
    LibraryEntry six, seven, bformat;
    ASSERT_TRUE(AnalyzeFile(dir / "six.wav", six, nullptr));
    ASSERT_TRUE(AnalyzeFile(dir / "seven.wav", seven, nullptr));
    ASSERT_TRUE(AnalyzeFile(dir / "bformat.caf", bformat, nullptr));
    EXPECT_EQ(six.channelLayout, 6);
    EXPECT_EQ(seven.channelLayout, -1);
    EXPECT_EQ(bformat.bitDepth, 32);

    const ChannelMap film = InterpretChannelMap(6, {}, kOrderFilm, kInterpretAuto);
    EXPECT_EQ(film.roles, (std::vector<int>{kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs, kRoleLFE}));
    const ChannelMap mapped = InterpretChannelMap(
        3, {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_TOP_REAR_RIGHT}, kOrderFilm, kInterpretAuto);
    EXPECT_EQ(mapped.roles, (std::vector<int>{kRoleL, kRoleLFE, kRoleRtr}));
    const std::vector<int> ambiMap = {SF_CHANNEL_MAP_AMBISONIC_B_W, SF_CHANNEL_MAP_AMBISONIC_B_Y,
                                      SF_CHANNEL_MAP_AMBISONIC_B_Z, SF_CHANNEL_MAP_AMBISONIC_B_X};
    EXPECT_EQ(LayoutClass(InterpretChannelMap(4, ambiMap, 0, kInterpretAuto), 4), 10);
    EXPECT_EQ(LayoutClass(InterpretChannelMap(4, ambiMap, 0, kInterpretSurround), 4), 4);
    const ChannelMap discrete = InterpretChannelMap(6, {}, 0, kInterpretDiscrete);
    EXPECT_TRUE(discrete.discrete);
    EXPECT_FALSE(discrete.explicitLayout);
    EXPECT_EQ(LayoutClass(InterpretChannelMap(1, {}, 0, kInterpretAmbisonic), 1), 1);
    EXPECT_EQ(LayoutClass(InterpretChannelMap(12, {}, 2, kInterpretAuto), 12), 9);
    EXPECT_EQ(LayoutName(6, 6), "5.1");
    EXPECT_EQ(LayoutName(0, 7), "7ch");
    EXPECT_STREQ(ChannelRoleLabel(kRoleRtr), "Rtr");
}

TEST(AudioFile, OverviewEnvelopeAndRegionReads) {
    TempDir dir;
    SoundParams sound;
    sound.channels = 2;
    sound.frames = 24000;  // 0.5 s
    ASSERT_TRUE(WriteSound(dir / "half.wav", sound));
    ComputeWaveformOverview(dir / "half.wav");
    WaveformOverview overview;
    ASSERT_TRUE(FindWaveformOverview(dir / "half.wav", &overview));
    EXPECT_EQ(overview.peak.size(), 100u);
    EXPECT_EQ(overview.rms.size(), 100u);
    EXPECT_NEAR(overview.peak[50], 0.5f, 0.01f);
    EXPECT_NEAR(overview.rms[50], 0.5f / std::sqrt(2.0f), 0.02f);
    EXPECT_FALSE(FindWaveformOverview(dir / "none.wav", &overview));

    const std::vector<float> envelope = LoudnessEnvelope(dir / "half.wav", 20.0f);
    ASSERT_EQ(envelope.size(), 10u);
    for (float value : envelope) EXPECT_NEAR(value, 0.5f / std::sqrt(2.0f), 0.02f);
    EXPECT_TRUE(LoudnessEnvelope(dir / "none.wav", 20.0f).empty());

    RegionRead region;
    ASSERT_TRUE(ReadRegion(dir / "half.wav", 0.25, 100000, &region));
    EXPECT_EQ(region.frames, 12000);
    EXPECT_EQ(region.samples.size(), 24000u);
    ASSERT_TRUE(ReadRegion(dir / "half.wav", 9.0, 10, &region));
    EXPECT_EQ(region.frames, 0);
    ASSERT_TRUE(ReadRegion(dir / "half.wav", -1.0, 10, &region));
    EXPECT_EQ(region.frames, 10);
    EXPECT_FALSE(ReadRegion(dir / "none.wav", 0, 10, &region));
}

}  // namespace
}  // namespace morvane
