#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "library/audio_file.h"
#include "library/channel_map.h"
#include "library/file_id.h"
#include "library/hostile_paths.h"
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

TEST(AudioFile, MetadataTextIsAlwaysUtf8) {
    // Latin-1 and Windows-1252 bytes, as older recorders write bext and INFO text.
    const auto bext = [](std::string_view field) { return BextDescriptionText(field.data(), field.size()); };
    EXPECT_EQ(bext("Caf\xE9 cr\xE8me \x80 5"), "Caf\u00E9 cr\u00E8me \u20AC 5");
    EXPECT_EQ(bext("\x93quoted\x94\x81"), "\u201Cquoted\u201D\uFFFD");
    // Text that already is UTF-8 stays as it is; the field still ends at its first zero.
    EXPECT_EQ(bext(std::string_view("Caf\xC3\xA9\0junk", 10)), "Caf\u00E9");
    // A truncated or overlong sequence is not UTF-8: the whole text is read byte by byte.
    EXPECT_EQ(MetadataText("ab\xC3"), "ab\u00C3");
    EXPECT_EQ(MetadataText("\xC0\xAF"), "\u00C0\u00AF");
    EXPECT_EQ(MetadataText("\xED\xA0\x80"), "\u00ED\u00A0\u20AC");  // a UTF-16 surrogate
    const std::string full(256, '\xFF');
    EXPECT_EQ(BextDescriptionText(full.data(), full.size()).size(), 512u);

    TempDir dir;
    SoundParams sound;
    sound.bextDescription = "Porte \xE0 battant, \xE9t\xE9";
    sound.strings = {{SF_STR_ARTIST, "M\xFCller"}, {SF_STR_COMMENT, "Stra\xDF" "e"}};
    ASSERT_TRUE(WriteSound(dir / "latin.wav", sound));
    LibraryEntry entry;
    ASSERT_TRUE(AnalyzeFile(dir / "latin.wav", entry, nullptr));
    EXPECT_EQ(entry.description, "Porte \u00E0 battant, \u00E9t\u00E9 Stra\u00DFe");
    EXPECT_EQ(entry.keywords, "M\u00FCller");
}

// Rewrites the channel count in the COMM chunk of an AIFF file, as a damaged or hostile
// file would claim more channels than its CHAN chunk describes.
void SetAiffChannelCount(const std::string& path, int channels) {
    std::string bytes = test::ReadFile(path);
    const size_t comm = bytes.find("COMM");
    ASSERT_NE(comm, std::string::npos);
    bytes[comm + 8] = static_cast<char>(channels >> 8);
    bytes[comm + 9] = static_cast<char>(channels & 0xFF);
    test::WriteFile(path, bytes);
}

TEST(AudioFile, AiffAndCafChannelMapsGiveSaneRoles) {
    // libsndfile keeps the map of an AIFF CHAN chunk (or a CAF chan chunk) in a block
    // sized by the layout the chunk names, and its query copies one entry per channel of
    // the file out of it. The roles come from the channel count instead, and all of them
    // are real speakers.
    TempDir dir;
    SoundParams sound;
    sound.channels = 6;
    sound.frames = 9600;
    sound.channelMap = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
                        SF_CHANNEL_MAP_LFE,  SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
    sound.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    ASSERT_TRUE(WriteSound(dir / "surround.aiff", sound));
    ASSERT_TRUE(WriteSound(dir / "claims8.aiff", sound));
    SetAiffChannelCount(dir / "claims8.aiff", 8);  // its CHAN chunk still names 5.1
    sound.format = SF_FORMAT_CAF | SF_FORMAT_PCM_16;
    ASSERT_TRUE(WriteSound(dir / "surround.caf", sound));

    for (const char* name : {"surround.aiff", "surround.caf"}) {
        LibraryEntry entry;
        ASSERT_TRUE(AnalyzeFile(dir / name, entry, nullptr)) << name;
        EXPECT_EQ(entry.channelLayout, 6) << name;
        std::vector<int> roles = InterpretChannelMap(6, SoundFileChannelMap(dir / name), kOrderSmpte, kInterpretAuto).roles;
        std::sort(roles.begin(), roles.end());
        EXPECT_EQ(std::unique(roles.begin(), roles.end()), roles.end()) << name;  // each speaker once
        EXPECT_LT(roles.back(), kRoleUnknown) << name;
    }
    LibraryEntry claims8;
    ASSERT_TRUE(AnalyzeFile(dir / "claims8.aiff", claims8, nullptr));
    EXPECT_EQ(claims8.channels, 8);
    EXPECT_EQ(claims8.channelLayout, 7);  // 7.1 by its channel count
    EXPECT_EQ(InterpretChannelMap(8, SoundFileChannelMap(dir / "claims8.aiff"), kOrderSmpte, kInterpretAuto).roles,
              (std::vector<int>{kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLrs, kRoleRrs, kRoleLs, kRoleRs}));

    // A WAV channel mask is sized by the file and still read.
    sound.format = SF_FORMAT_WAVEX | SF_FORMAT_PCM_16;
    sound.channelMap = {SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER,
                        SF_CHANNEL_MAP_LFE,        SF_CHANNEL_MAP_REAR_LEFT,   SF_CHANNEL_MAP_REAR_RIGHT};
    ASSERT_TRUE(WriteSound(dir / "surround.wav", sound));
    EXPECT_EQ(InterpretChannelMap(6, SoundFileChannelMap(dir / "surround.wav"), kOrderSmpte, kInterpretAuto).roles,
              (std::vector<int>{kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLrs, kRoleRrs}));

    // Maps that cannot describe the file count as none: a speaker twice, a position
    // libsndfile does not know, an empty entry.
    const std::vector<int> smpte3 = {kRoleL, kRoleR, kRoleC};
    for (const std::vector<int>& garbage :
         {std::vector<int>{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_CENTER},
          std::vector<int>{SF_CHANNEL_MAP_LEFT, 0x41414141, SF_CHANNEL_MAP_CENTER},
          std::vector<int>{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_INVALID, SF_CHANNEL_MAP_CENTER}}) {
        const ChannelMap map = InterpretChannelMap(3, garbage, kOrderSmpte, kInterpretAuto);
        EXPECT_EQ(map.roles, smpte3);
        EXPECT_TRUE(map.explicitLayout);
    }
}

TEST(AudioFile, PathsThatAreNotFilesAreRefusedAtOnce) {
    test::HangGuard guard;
    TempDir dir;
    for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".wav")) {
        LibraryEntry entry;
        EXPECT_FALSE(AnalyzeFile(hostile.path, entry, nullptr)) << hostile.path;
        RegionRead region;
        EXPECT_FALSE(ReadRegion(hostile.path, 0.0, 100, &region)) << hostile.path;
        EXPECT_TRUE(LoudnessEnvelope(hostile.path, 20.0f).empty()) << hostile.path;
        ComputeWaveformOverview(hostile.path);
        WaveformOverview overview;
        EXPECT_FALSE(FindWaveformOverview(hostile.path, &overview)) << hostile.path;
        EXPECT_TRUE(SoundFileChannelMap(hostile.path).empty()) << hostile.path;
        EXPECT_EQ(SoundFileRefusal(hostile.path), "cannot read \"" + hostile.path + "\": " + hostile.kind);
    }
    // A missing source is not refused here: it plays as silence until it is relinked.
    EXPECT_EQ(SoundFileRefusal(dir / "missing.wav"), "");
    EXPECT_EQ(SoundFileRefusal(dir / "missing/deeper.wav"), "");
    test::WriteFile(dir.path / "words.wav", "not a sound");
    EXPECT_EQ(SoundFileRefusal(dir / "words.wav"), "");

    TimelineState timeline;
    timeline.results.resize(2);
    timeline.results[0].filepath = dir / "missing.wav";
    timeline.results[1].alloyHigh.filepath = dir / "pipe.wav";
    EXPECT_EQ(RefusedSoundFileOf(timeline), "cannot read \"" + dir / "pipe.wav" + "\": is a named pipe, not a file");
    timeline.results[1].alloyHigh.filepath.clear();
    EXPECT_EQ(RefusedSoundFileOf(timeline), "");
    timeline.events.resize(1);
    timeline.events[0].pinnedFiles = {dir / "words.wav", dir / "folder.wav"};
    EXPECT_NE(RefusedSoundFileOf(timeline).find("is a folder, not a file"), std::string::npos);
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
