#include "model/preferences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "platform/folders.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;
using test::ScopedHome;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// key -> values, in file order (a key such as recentProject may repeat).
std::multimap<std::string, std::string> KeyValues(const std::string& text) {
    std::multimap<std::string, std::string> kv;
    for (const std::string& line : Lines(text)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) kv.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return kv;
}

std::vector<std::string> Keys(const std::string& text) {
    std::vector<std::string> keys;
    for (const std::string& line : Lines(text)) keys.push_back(line.substr(0, line.find('=')));
    return keys;
}

Preferences Parsed(const std::string& text, Preferences start = {}) {
    ParsePreferences(text, start);
    return start;
}

// Every setting away from its default, with values the file formats hold exactly.
Preferences EverythingChanged() {
    Preferences p;
    p.handleDuration = 2.5f;
    p.handleFullSource = true;
    p.fadeInDuration = 0.125f;
    p.fadeOutDuration = 0.25f;
    p.exportAAFMarkers = false;
    p.exportAAFVolAuto = false;
    p.exportAAFSourceChannels = true;
    p.exportFormatAAF = true;
    p.exportFormatWAV = false;
    p.exportWavMixdown = false;
    p.exportWavStems = false;
    p.exportWavLayout = 2;
    p.exportWavLUFSIndex = 3;
    p.exportSpatialMode = 1;
    p.spatialAmount = 0.75f;
    p.spatialEnhanced = true;
    p.spatialAmountLast = 0.25f;
    p.monitorLayout = 2;
    p.monitorBinaural = true;
    p.monitorGain = 2.5f;
    p.channelMaps = {{"stereo", {1, 0}}, {"5.1", {5, 4, 3, 2, 1, 0}}};
    p.exportWavTracks = true;
    p.exportWavClips = true;
    p.exportReverbStem = true;
    p.varCount = 12;
    p.varChannels = 1;
    p.varSampleRate = 96000;
    p.varBitDepth = 16;
    p.varReverb = true;
    p.varShowAdvanced = true;
    p.varNameStyle = 1;
    p.varNormalize = true;
    p.projectSampleRate = 88200;
    p.maxEventDuration = 12.5f;
    p.protectSilence = true;
    p.destructiveEQ = true;
    p.chainsImportAsGroup = false;
    p.channelOrderFallback = 2;
    p.showSpectralHeatmap = true;
    p.scaleType = 16;
    p.scaleRoot = 11;
    p.pitchShiftProb = 40;
    p.freqShiftIntensity = 55;
    p.reverseProb = 70;
    p.fontSizePreset = 2;
    p.fontSizeAuto = false;
    p.boldFonts = true;
    p.theme = 6;
    p.colorByWeight = true;
    p.showAdvancedInspector = true;
    p.lastIntensityMode = 2;
    p.autoSaveEnabled = false;
    p.audioFocusLatched = true;
    p.autoSaveInterval = 600.0f;
    p.maxBackups = 50;
    p.weightColorLow = {0x0A, 0x0B, 0x0C};
    p.weightColorMid = {0xFF, 0x80, 0x00};
    p.weightColorHigh = {0x12, 0xAB, 0xEF};
    p.reverbEnabled = true;
    p.reverbSize = 0.875f;
    p.reverbDecay = 0.625f;
    p.reverbDamping = 0.125f;
    p.reverbDiffusion = 0.375f;
    p.reverbModulation = 0.5f;
    p.reverbMacro = 0.25f;
    p.reverbPreDelay = 0.0625f;
    p.reverbSend = {0.5f, 0.75f, 1.0f};
    TraceModelSettings& m = p.traceModel;
    m.valid = true;
    m.totalSpots = 42;
    m.w = {0.5f, 0.25f, 0.125f, 0.0625f, 0.03125f};
    m.defaultCompositeMean = 0.1875f;
    m.thresholdScale = 1.5f;
    m.subtleScale = 0.75f;
    m.spotCutoff = 0.375f;
    m.gainA = 2.0f;
    m.gainB = -0.5f;
    m.weightBias = 0.0625f;
    m.spotDurScale = 1.25f;
    m.sweepDurScale = 0.875f;
    m.minGap = 0.3125f;
    m.posCount = 17;
    m.posMean = {0.5f, 0.25f, 0.75f, 0.125f, 1.0f};
    m.negCount = 9;
    m.negMean = {0.0625f, 0.1875f, 0.3125f, 0.4375f, 0.5625f};
    p.showLauncherOnStartup = false;
    p.updateCheckEnabled = false;
    p.dismissedUpdateVersion = "2026.1.0";
    p.lastUpdateCheck = 1767225600123LL;  // beyond 32 bits
    p.updateAvailableVersion = "2026.9.1";
    p.updateAvailablePageUrl = "https://example.invalid/release?a=b&c=d";
    p.updateAvailableDate = "2026-09-01";
    p.updateAvailableNote = "Faster builds;\ttabs kept";
    p.recentProjects = {"/home/u/Projects/Forest Chase.mvproj", "/home/u/Projects/Été.mvproj", "/tmp/c.mvproj"};
    p.libraries = {{"/lib/a", false, 2}, {"/lib/with|pipe", true, 0}};
    return p;
}

TEST(Preferences, EverySettingSurvivesAFullRoundTripByteForByte) {
    TempDir dir;
    const Preferences original = EverythingChanged();
    const std::string path = dir / "com.morvane.prefs";
    ASSERT_TRUE(SavePreferencesTo(path, original));
    const std::string written = ReadFile(path);

    // Every key written for the defaults carries a different value here, so the
    // round trip below really exercises every setting.
    const std::string defaults = FormatPreferences(Preferences{});
    const auto changed = KeyValues(written);
    for (const auto& [key, value] : KeyValues(defaults)) {
        auto it = changed.find(key);
        ASSERT_NE(it, changed.end()) << key;
        EXPECT_NE(it->second, value) << key;
    }

    Preferences loaded;
    ASSERT_TRUE(LoadPreferencesFrom(path, loaded));
    EXPECT_EQ(loaded, original);
    ASSERT_TRUE(SavePreferencesTo(path, loaded));
    EXPECT_EQ(ReadFile(path), written);

    // The exact text other tools and older versions rely on.
    for (const char* line :
         {"handleDuration=2.50", "handleFullSource=1", "fadeInDuration=0.125", "spatialAmount=0.7500",
          "monitorGain=2.5000", "chmap.5.1=5,4,3,2,1,0", "chmap.stereo=1,0", "projectSampleRate=88200",
          "maxEventDuration=12.5", "autoSaveInterval=600", "weightColorLow=#0A0B0C", "weightColorHigh=#12ABEF",
          "reverbSize=0.875", "reverbPreDelay=0.0625", "reverbSend2=1.000", "tm_valid=1", "tm_w4=0.031250",
          "tm_gainB=-0.500000", "tm_negCount=9", "lastUpdateCheck=1767225600123",
          "updateAvailablePageUrl=https://example.invalid/release?a=b&c=d", "libraryEx=/lib/a|0|2",
          "libraryEx=/lib/with|pipe|1|0", "recentProject=/home/u/Projects/Été.mvproj"})
        EXPECT_NE(("\n" + written).find(std::string("\n") + line + "\n"), std::string::npos) << line;

    const std::vector<std::string> expectedOrder = {
        "handleDuration", "handleFullSource", "fadeInDuration", "fadeOutDuration", "exportAAFMarkers",
        "exportAAFVolAuto", "exportAAFSourceChannels", "exportFormatAAF", "exportFormatWAV", "exportWavMixdown",
        "exportWavStems", "exportWavLayout", "exportWavLUFSIndex", "exportSpatialMode", "spatialAmount",
        "spatialEnhanced", "spatialAmountLast", "monitorLayout", "monitorBinaural", "monitorGain", "chmap.5.1",
        "chmap.stereo", "exportWavTracks", "exportWavClips", "exportReverbStem", "varCount", "varChannels",
        "varSampleRate", "varBitDepth", "varReverb", "varShowAdvanced", "varNameStyle", "varNormalize",
        "projectSampleRate", "maxEventDuration", "protectSilence", "destructiveEQ", "chainsImportAsGroup",
        "channelOrderFallback", "showSpectralHeatmap", "scaleType", "scaleRoot", "pitchShiftProb",
        "freqShiftIntensity", "reverseProb", "fontSizePreset", "fontSizeAuto", "boldFonts", "theme",
        "colorByWeight", "showAdvancedInspector", "lastIntensityMode", "autoSaveEnabled", "audioFocusLatched",
        "autoSaveInterval", "maxBackups", "weightColorLow", "weightColorMid", "weightColorHigh", "reverbEnabled",
        "reverbSize", "reverbDecay", "reverbDamping", "reverbDiffusion", "reverbModulation", "reverbMacro",
        "reverbPreDelay", "reverbSend0", "reverbSend1", "reverbSend2", "tm_valid", "tm_totalSpots", "tm_w0",
        "tm_w1", "tm_w2", "tm_w3", "tm_w4", "tm_defaultCompositeMean", "tm_thresholdScale", "tm_subtleScale",
        "tm_spotCutoff", "tm_gainA", "tm_gainB", "tm_weightBias", "tm_spotDurScale", "tm_sweepDurScale",
        "tm_minGap", "tm_posCount", "tm_posMean0", "tm_posMean1", "tm_posMean2", "tm_posMean3", "tm_posMean4",
        "tm_negCount", "tm_negMean0", "tm_negMean1", "tm_negMean2", "tm_negMean3", "tm_negMean4",
        "showLauncherOnStartup", "updateCheckEnabled", "dismissedUpdateVersion", "lastUpdateCheck",
        "updateAvailableVersion", "updateAvailablePageUrl", "updateAvailableDate", "updateAvailableNote",
        "recentProject", "recentProject", "recentProject", "libraryEx", "libraryEx"};
    EXPECT_EQ(Keys(written), expectedOrder);
}

TEST(Preferences, ReadingClampsEveryValueToItsRange) {
    Preferences p = Parsed(
        "autoSaveInterval=5\nmaxBackups=0\nprojectSampleRate=44100\nprojectSampleRate=22050\n"
        "theme=3\ntheme\nreverbSize=abc\nmonitorGain=-3\nhandleDuration=0\nfadeOutDuration=99\n"
        "exportWavLayout=9\nexportWavLUFSIndex=-2\nspatialAmountLast=0\nmaxEventDuration=1e9\n"
        "scaleType=40\nscaleRoot=-1\npitchShiftProb=250\nreverbPreDelay=0.5\nreverbSend1=7\n"
        "varBitDepth=20\nvarSampleRate=22050\nspatialAmount=-0.3\n");
    EXPECT_EQ(p.autoSaveInterval, 30.0f);
    EXPECT_EQ(p.maxBackups, 1);
    EXPECT_EQ(p.projectSampleRate, 44100);  // 22050 is not a project rate: the previous value stays
    EXPECT_EQ(p.theme, 3);                  // "theme" without "=" is not a setting
    EXPECT_EQ(p.reverbSize, 0.0f);          // letters read as 0
    EXPECT_EQ(p.monitorGain, 0.0f);
    EXPECT_EQ(p.handleDuration, 0.01f);
    EXPECT_EQ(p.fadeOutDuration, 30.0f);
    EXPECT_EQ(p.exportWavLayout, 3);
    EXPECT_EQ(p.exportWavLUFSIndex, 0);
    EXPECT_EQ(p.spatialAmountLast, 0.01f);
    EXPECT_EQ(p.maxEventDuration, 600.0f);
    EXPECT_EQ(p.scaleType, 16);
    EXPECT_EQ(p.scaleRoot, 0);
    EXPECT_EQ(p.pitchShiftProb, 100);
    EXPECT_EQ(p.reverbPreDelay, 0.2f);
    EXPECT_EQ(p.reverbSend[1], 1.0f);
    EXPECT_EQ(p.varBitDepth, 24);
    EXPECT_EQ(p.varSampleRate, 48000);
    EXPECT_EQ(p.spatialAmount, -1.0f);  // any negative amount means "not set"

    Preferences high = Parsed("autoSaveInterval=7200\nmaxBackups=99\n");
    EXPECT_EQ(high.autoSaveInterval, 3600.0f);
    EXPECT_EQ(high.maxBackups, 50);

    // atoi/atof: leading blanks and trailing garbage, booleans by any non-zero integer,
    // and numbers beyond any range reach a bound instead of wrapping or turning
    // into infinity.
    Preferences q = Parsed(
        "maxBackups= 12abc\nvarReverb=7\nvarNormalize=-1\nboldFonts=0.9\nreverbDecay=0.5xyz\n"
        "theme=99999999999999999999\nlastIntensityMode=-99999999999999999999\nmonitorGain=inf\n"
        "reverbMacro=nan\ntm_w0=1e300\nlastUpdateCheck=-5\n");
    EXPECT_EQ(q.maxBackups, 12);
    EXPECT_TRUE(q.varReverb);
    EXPECT_TRUE(q.varNormalize);
    EXPECT_FALSE(q.boldFonts);
    EXPECT_EQ(q.reverbDecay, 0.5f);
    EXPECT_EQ(q.theme, 6);
    EXPECT_EQ(q.lastIntensityMode, 0);
    EXPECT_EQ(q.monitorGain, 10.0f);
    EXPECT_EQ(q.reverbMacro, 0.0f);
    EXPECT_TRUE(std::isfinite(q.traceModel.w[0]));
    EXPECT_EQ(q.lastUpdateCheck, 0);

    // Colours: "#" and six hexadecimal digits in either case; anything else keeps the colour.
    Preferences c = Parsed(
        "weightColorLow=#a1B2c3\nweightColorMid=#12345\nweightColorHigh=#GG0000\n"
        "weightColorOther=#000000\n");
    EXPECT_EQ(c.weightColorLow, (RgbColor{0xA1, 0xB2, 0xC3}));
    EXPECT_EQ(c.weightColorMid, Preferences{}.weightColorMid);
    EXPECT_EQ(c.weightColorHigh, Preferences{}.weightColorHigh);
    Preferences c2 = Parsed("weightColorLow=A1B2C3\nweightColorMid=#1234567\nweightColorHigh=#00ff7F\r\n");
    EXPECT_EQ(c2.weightColorLow, Preferences{}.weightColorLow);
    EXPECT_EQ(c2.weightColorMid, Preferences{}.weightColorMid);
    EXPECT_EQ(c2.weightColorHigh, (RgbColor{0x00, 0xFF, 0x7F}));
}

TEST(Preferences, DamagedFilesLoadEverythingThatIsReadable) {
    // Garbage, lines without "=", an overlong line whose tail looks like a setting,
    // NUL bytes, CRLF endings and a last line without a line feed.
    const std::string overlong = "recentProject=/" + std::string(1100, 'a') + "theme=5";
    const std::string longest = "dismissedUpdateVersion=" + std::string(1023 - 23, 'v');
    ASSERT_EQ(longest.size(), kMaxPreferenceLineBytes);
    std::string text = "\x01\x02 binary junk \xff\xfe\n"
                       "=no key\n"
                       "just words\n"
                       "Theme=4\n" +  // keys are case-sensitive
                       overlong + "\n" + longest + "\n" +
                       "maxBackups=7\r\n"
                       "autoSaveEnabled=0\r\n"
                       "updateAvailableVersion=2.0\r\n"
                       "scaleRoot=4\0scaleRoot=9\n"
                       "\0theme=2\n"
                       "reverbSize=0.25\n"
                       "varCount=9"s;
    ASSERT_NE(text.find('\0'), std::string::npos);
    Preferences p = Parsed(text);
    EXPECT_EQ(p.theme, 0);                  // neither "Theme", the overlong tail nor "\0theme"
    EXPECT_TRUE(p.recentProjects.empty());  // the overlong path is dropped, not cut
    EXPECT_EQ(p.dismissedUpdateVersion, std::string(1000, 'v'));
    EXPECT_EQ(p.maxBackups, 7);
    EXPECT_FALSE(p.autoSaveEnabled);
    EXPECT_EQ(p.updateAvailableVersion, "2.0\r");  // a carriage return stays part of the value
    EXPECT_EQ(p.scaleRoot, 4);                     // the text after NUL is not read
    EXPECT_EQ(p.reverbSize, 0.25f);
    EXPECT_EQ(p.varCount, 9);

    // The same file read from disk gives the same settings.
    TempDir dir;
    WriteFile(dir.path / "prefs", text);
    Preferences fromDisk;
    ASSERT_TRUE(LoadPreferencesFrom((dir.path / "prefs").string(), fromDisk));
    EXPECT_EQ(fromDisk, p);

    // Missing files, folders and pipes are not preferences files: nothing changes.
    Preferences untouched = EverythingChanged();
    EXPECT_FALSE(LoadPreferencesFrom((dir.path / "absent").string(), untouched));
    EXPECT_FALSE(LoadPreferencesFrom(dir.path.string(), untouched));
    ASSERT_EQ(mkfifo((dir.path / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(LoadPreferencesFrom((dir.path / "pipe").string(), untouched));
    EXPECT_EQ(untouched, EverythingChanged());
}

TEST(Preferences, WrittenFileNeverHoldsALineTheReaderWouldMisread) {
    Preferences p;
    // Notes from the update server may hold line breaks; written raw they would
    // start a line of their own and could set something else.
    p.updateAvailableNote = "Fixes:\ntheme=6\nmaxBackups=1";
    p.dismissedUpdateVersion = std::string("1.0\0x", 5);
    p.updateAvailableDate = std::string(2000, 'd');
    std::string longNote;
    for (int i = 0; i < 700; ++i) longNote += "é";  // two bytes each
    p.updateAvailablePageUrl = longNote;
    p.libraries = {{"/lib/line\nbreak", true, -1}, {"/" + std::string(1100, 'l'), true, -1}, {"/ok", true, 9}};
    p.channelMaps = {{"bad=name", {1}}, {"stereo", {0, 1}}};

    std::vector<std::string> log;
    const std::string text = FormatPreferences(p, &log);
    for (const std::string& line : Lines(text)) EXPECT_LE(line.size(), kMaxPreferenceLineBytes);
    Preferences back = Parsed(text);
    EXPECT_EQ(back.theme, 0);
    EXPECT_EQ(back.maxBackups, Preferences{}.maxBackups);
    EXPECT_EQ(back.updateAvailableNote, "Fixes: theme=6 maxBackups=1");
    EXPECT_EQ(back.dismissedUpdateVersion, "1.0 x");
    EXPECT_EQ(back.updateAvailableDate, std::string(kMaxPreferenceLineBytes - 20, 'd'));
    // Cut at a character boundary: the text stays valid UTF-8.
    EXPECT_EQ(back.updateAvailablePageUrl.size() % 2, 0u);
    EXPECT_EQ(back.updateAvailablePageUrl, longNote.substr(0, back.updateAvailablePageUrl.size()));
    ASSERT_EQ(back.libraries.size(), 1u);
    EXPECT_EQ(back.libraries[0], (LibraryFolderSetting{"/ok", true, 2}));
    EXPECT_EQ(back.channelMaps, (std::map<std::string, std::vector<int>>{{"stereo", {0, 1}}}));
    EXPECT_EQ(log.size(), 3u);  // two library folders and one channel map left out
    EXPECT_EQ(FormatPreferences(back), text);
}

TEST(Preferences, RecentProjectsKeepTenNewestAndSkipCorruptedEntries) {
    Preferences p;
    for (int i = 1; i <= 11; ++i) AddRecentProject(p, "/p/" + std::to_string(i) + ".mvproj");
    ASSERT_EQ(p.recentProjects.size(), 10u);
    EXPECT_EQ(p.recentProjects.front(), "/p/11.mvproj");
    EXPECT_EQ(p.recentProjects.back(), "/p/2.mvproj");  // the first one opened was pushed out

    AddRecentProject(p, "/p/5.mvproj");  // reopening moves it to the front, once
    EXPECT_EQ(p.recentProjects.front(), "/p/5.mvproj");
    EXPECT_EQ(std::count(p.recentProjects.begin(), p.recentProjects.end(), "/p/5.mvproj"), 1);
    EXPECT_EQ(p.recentProjects.size(), 10u);
    AddRecentProject(p, "");
    EXPECT_EQ(p.recentProjects.front(), "/p/5.mvproj");

    Preferences q;
    q.recentProjects = {"/a.mvproj", "", "/bad\x01name.mvproj", "/tab\tok.mvproj", "/cr.mvproj\r"};
    TempDir dir;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(SavePreferencesTo(dir / "prefs", q));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[SavePrefs] Skipping corrupted recent project entry 2\n"
              "[SavePrefs] Skipping corrupted recent project entry 4\n");
    Preferences back;
    ASSERT_TRUE(LoadPreferencesFrom(dir / "prefs", back));
    EXPECT_EQ(back.recentProjects, (std::vector<std::string>{"/a.mvproj", "/tab\tok.mvproj"}));

    // A hand-edited file with too many or repeated entries reads as the first ten distinct.
    std::string text;
    for (int i = 0; i < 14; ++i) text += "recentProject=/r/" + std::to_string(i % 12) + "\n";
    Preferences r = Parsed(text);
    ASSERT_EQ(r.recentProjects.size(), 10u);
    EXPECT_EQ(r.recentProjects.front(), "/r/0");
    EXPECT_EQ(r.recentProjects.back(), "/r/9");

    ClearRecentProjects(r);
    EXPECT_TRUE(r.recentProjects.empty());
}

TEST(Preferences, LibraryFoldersChannelMapsAndOlderKeysAreKept) {
    const std::string text =
        "libraryEx=/lib/a|0|2\n"
        "libraryEx=/lib/b\n"
        "libraryEx=/lib/c|0\n"
        "libraryEx=/lib/d|1|9\r\n"
        "library=/legacy/with|pipe\n"
        "libraryEx=/lib/a|1|-1\n"  // the same folder again: the first line wins
        "libraryEx=|1|1\n"
        "maxLayersPerEvent=3\ndeconflictEnabled=1\nadaptiveLayerCount=1\n"
        "dynamicRangePreserve=0\nmurchCeiling=0.5\nnarrativeDensity=2\n"
        "chmap.stereo=1,0\n"
        "chmap.5.1=0,1,2,3,4,5\r\n"
        "chmap.7.1.4=\n"
        "chmap.=3\n"
        "chmap.quad=1,,x,-4,999\n";
    Preferences p = Parsed(text);
    ASSERT_EQ(p.libraries.size(), 5u);
    EXPECT_EQ(p.libraries[0], (LibraryFolderSetting{"/lib/a", false, 2}));
    EXPECT_EQ(p.libraries[1], (LibraryFolderSetting{"/lib/b", true, -1}));
    EXPECT_EQ(p.libraries[2], (LibraryFolderSetting{"/lib/c", false, -1}));
    EXPECT_EQ(p.libraries[3], (LibraryFolderSetting{"/lib/d", true, 2}));
    EXPECT_EQ(p.libraries[4], (LibraryFolderSetting{"/legacy/with|pipe", true, -1}));
    EXPECT_EQ(p.channelMaps, (std::map<std::string, std::vector<int>>{
                                 {"stereo", {1, 0}}, {"5.1", {0, 1, 2, 3, 4, 5}}, {"7.1.4", {}}, {"quad", {1, 0, 0, 255}}}));

    // The older keys change nothing at all.
    Preferences withoutOld = Parsed(text.substr(0, text.find("maxLayers")) + text.substr(text.find("chmap.")));
    EXPECT_EQ(p, withoutOld);

    // Written back: every library as a libraryEx line, maps in a stable order,
    // and the older keys are gone.
    const std::string out = FormatPreferences(p);
    EXPECT_NE(out.find("libraryEx=/legacy/with|pipe|1|-1\n"), std::string::npos);
    EXPECT_EQ(out.find("\nlibrary="), std::string::npos);
    EXPECT_EQ(out.find("maxLayersPerEvent"), std::string::npos);
    EXPECT_NE(out.find("chmap.5.1=0,1,2,3,4,5\nchmap.7.1.4=\nchmap.quad=1,0,0,255\nchmap.stereo=1,0\n"),
              std::string::npos);
    EXPECT_EQ(Parsed(out), p);

    // The lists are the file's: loading a file replaces them rather than adding.
    Preferences q = Parsed("libraryEx=/only\n", p);
    EXPECT_EQ(q.libraries, (std::vector<LibraryFolderSetting>{{"/only", true, -1}}));
    EXPECT_TRUE(q.channelMaps.empty());
}

TEST(Preferences, TraceModelIsWrittenOnlyWhenValid) {
    Preferences p = EverythingChanged();
    p.traceModel.valid = false;
    const std::string text = FormatPreferences(p);
    std::vector<std::string> tm;
    for (const std::string& key : Keys(text))
        if (key.rfind("tm_", 0) == 0) tm.push_back(key);
    EXPECT_EQ(tm, (std::vector<std::string>{"tm_valid"}));
    EXPECT_NE(text.find("\ntm_valid=0\n"), std::string::npos);
    // Read back, the learned numbers are gone and the fixed weights apply again.
    EXPECT_EQ(Parsed(text).traceModel, TraceModelSettings{});

    Preferences model = Parsed("tm_valid=1\ntm_w1=0.123456789\ntm_posCount=-4\ntm_minGap=0.25\n");
    EXPECT_TRUE(model.traceModel.valid);
    EXPECT_EQ(model.traceModel.posCount, 0);
    const std::string written = FormatPreferences(model);
    EXPECT_NE(written.find("\ntm_w1=0.123457\n"), std::string::npos);
    EXPECT_NE(written.find("\ntm_minGap=0.250000\n"), std::string::npos);
}

TEST(Preferences, NumbersUseTheCLocaleWhateverTheProcessLocale) {
    // Build a comma-decimal locale when the system has none installed.
    TempDir localeDir;
    const bool hadLocPath = std::getenv("LOCPATH") != nullptr;
    const std::string savedLocPath = hadLocPath ? std::getenv("LOCPATH") : "";
    bool ok = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (!ok) {
        std::string command = "localedef -i de_DE -f UTF-8 '" + localeDir.path.string() +
                              "/de_DE.UTF-8' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            setenv("LOCPATH", localeDir.path.c_str(), 1);
            ok = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        }
    }
    auto restore = [&] {
        std::setlocale(LC_ALL, "C");
        if (hadLocPath) setenv("LOCPATH", savedLocPath.c_str(), 1);
        else unsetenv("LOCPATH");
    };
    if (!ok) {
        restore();
        GTEST_SKIP() << "no comma-decimal locale available";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");  // the locale really is active

    Preferences p = Parsed("reverbSize=0.625\nmonitorGain=2.5\n");
    const std::string text = FormatPreferences(p);

    restore();

    EXPECT_EQ(p.reverbSize, 0.625f);
    EXPECT_EQ(p.monitorGain, 2.5f);
    EXPECT_NE(text.find("\nreverbSize=0.625\n"), std::string::npos);
    EXPECT_NE(text.find("\nmonitorGain=2.5000\n"), std::string::npos);
}

TEST(Preferences, DefaultFileFollowsTheFoldersAndIsAbsentWithoutAHome) {
    ScopedHome home;
    Prefs() = Preferences{};

    // Neither XDG_CONFIG_HOME nor HOME: nothing is read or written anywhere.
    {
        unsetenv("HOME");
        EXPECT_EQ(PreferencesFilePath(), "");
        Prefs().theme = 5;
        EXPECT_FALSE(SavePreferences());
        EXPECT_FALSE(LoadPreferences());
        EXPECT_EQ(Prefs().theme, 5);
        setenv("HOME", home.dir.path.c_str(), 1);
        EXPECT_TRUE(fs::is_empty(home.dir.path));
        EXPECT_FALSE(fs::exists("com.morvane.prefs"));
    }

    // HOME alone: ~/.config/Morvane/com.morvane.prefs, created on the first save.
    const fs::path homeFile = home.dir.path / ".config/Morvane/com.morvane.prefs";
    EXPECT_EQ(PreferencesFilePath(), homeFile.string());
    EXPECT_FALSE(LoadPreferences());  // no file yet: the settings stay as they are
    EXPECT_EQ(Prefs().theme, 5);
    ASSERT_TRUE(SavePreferences());
    EXPECT_NE(ReadFile(homeFile).find("\ntheme=5\n"), std::string::npos);
    // Other users cannot read a new preferences file; no temporary file remains.
    struct stat st {};
    ASSERT_EQ(stat(homeFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(homeFile.parent_path()), fs::directory_iterator()), 1);

    Prefs() = Preferences{};
    ASSERT_TRUE(LoadPreferences());
    EXPECT_EQ(Prefs().theme, 5);

    // XDG_CONFIG_HOME takes precedence.
    setenv("XDG_CONFIG_HOME", (home.dir.path / "xdg").c_str(), 1);
    EXPECT_EQ(PreferencesFilePath(), (home.dir.path / "xdg/Morvane/com.morvane.prefs").string());
    AddRecentProject("/x/y.mvproj");
    EXPECT_TRUE(TakePreferencesDirty());
    ASSERT_TRUE(SavePreferences());
    EXPECT_NE(ReadFile(home.dir.path / "xdg/Morvane/com.morvane.prefs").find("recentProject=/x/y.mvproj\n"),
              std::string::npos);

    // A save that cannot be written fails quietly and keeps the settings in memory.
    setenv("XDG_CONFIG_HOME", (homeFile).c_str(), 1);  // a file, not a folder
    EXPECT_FALSE(SavePreferences());
    EXPECT_EQ(Prefs().recentProjects.front(), "/x/y.mvproj");
    Prefs() = Preferences{};
}

TEST(Preferences, DirtyFlagIsTakenOncePerRequestFromAnyThread) {
    TakePreferencesDirty();
    EXPECT_FALSE(TakePreferencesDirty());
    std::thread worker([] { MarkPreferencesDirty(); });
    worker.join();
    EXPECT_TRUE(PreferencesDirtyFlag().load());
    EXPECT_TRUE(TakePreferencesDirty());
    EXPECT_FALSE(TakePreferencesDirty());
    ClearRecentProjects();
    EXPECT_TRUE(TakePreferencesDirty());
    Prefs() = Preferences{};
}

}  // namespace
}  // namespace morvane
