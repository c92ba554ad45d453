// The pieces the demo is made of, at their edges: synthesis on silent or short input,
// the external video maker when ffmpeg or its input is missing, and linking the demo
// project to a library that holds its pinned sounds elsewhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "demo/demo_content_maker.h"
#include "demo/demo_project.h"
#include "demo/demo_road.h"
#include "demo/demo_video.h"
#include "demo/synth.h"
#include "support/test_support.h"

namespace morvane::demo {
namespace {

namespace fs = std::filesystem;

// Gain in dB of a unit sine of `hz` through `filter`, measured past the filter's settling.
template <typename Filter>
float SineGainDb(float hz, Filter filter) {
    const int rate = 48000;
    Signal s = SineGlide(rate, rate, hz, hz);
    filter(s, rate);
    // RMS, not the peak: a few samples per cycle rarely land on the crest.
    double sum = 0.0;
    for (size_t i = s.size() / 2; i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
    const double rms = std::sqrt(sum / static_cast<double>(s.size() - s.size() / 2));
    return static_cast<float>(20.0 * std::log10(rms * std::sqrt(2.0) + 1e-12));
}

TEST(DemoSynth, FiltersShapeTheSpectrumTheWayTheirNamesSay) {
    auto low = [](Signal& s, int rate) { LowPass(s, rate, 500.0f, 500.0f); };
    EXPECT_GT(SineGainDb(100.0f, low), -1.0f);
    EXPECT_LT(SineGainDb(8000.0f, low), -20.0f);

    auto high = [](Signal& s, int rate) { HighPass(s, rate, 500.0f); };
    EXPECT_LT(SineGainDb(30.0f, high), -20.0f);
    EXPECT_GT(SineGainDb(8000.0f, high), -1.0f);

    auto band = [](Signal& s, int rate) { BandPass(s, rate, 1000.0f, 1000.0f, 4.0f); };
    EXPECT_GT(SineGainDb(1000.0f, band), -1.0f);
    EXPECT_LT(SineGainDb(100.0f, band), -20.0f);
    EXPECT_LT(SineGainDb(10000.0f, band), -20.0f);

    // A centre asked above what the rate can hold must not blow the filter up.
    Signal noise(4800, 0.0f);
    noise[0] = 1.0f;
    BandPass(noise, 8000, 30000.0f, 30000.0f, 2.0f);
    for (float v : noise) ASSERT_TRUE(std::isfinite(v));
}

TEST(DemoSynth, SilenceEmptySignalsAndOutOfRangeMixesStaySafe) {
    Signal silent(100, 0.0f);
    NormalisePeak(silent, -3.0f);  // no division by a zero peak
    for (float v : silent) EXPECT_EQ(v, 0.0f);
    std::vector<Signal> none = {Signal(10, 0.0f), Signal(10, 0.0f)};
    NormalisePeak(none, -3.0f);
    EXPECT_EQ(none[1][5], 0.0f);

    // Stereo balance survives the shared normalisation.
    std::vector<Signal> pair = {Signal(4, 0.5f), Signal(4, 0.25f)};
    NormalisePeak(pair, 0.0f);
    EXPECT_FLOAT_EQ(pair[0][0], 1.0f);
    EXPECT_FLOAT_EQ(pair[1][0], 0.5f);

    // Mixing before the start or past the end is cut, never written outside.
    Signal target(10, 0.0f);
    MixInto(target, Signal(5, 1.0f), -3, 1.0f);
    MixInto(target, Signal(5, 1.0f), 8, 2.0f);
    EXPECT_EQ(target, (Signal{1, 1, 0, 0, 0, 0, 0, 0, 2, 2}));

    Signal empty;
    ApplyCurve(empty, {0.0f, 1.0f});
    ApplyFades(empty, 48000, 1.0f, 1.0f);
    Signal one(3, 2.0f);
    ApplyCurve(one, {0.5f});
    EXPECT_EQ(one, (Signal{1, 1, 1}));
    // Fades longer than the signal still end at silence and start from it.
    Signal shortSound(10, 1.0f);
    ApplyFades(shortSound, 48000, 1.0f, 1.0f);
    EXPECT_EQ(shortSound.front(), 0.0f);
    EXPECT_EQ(shortSound.back(), 0.0f);

    EXPECT_EQ(FramesOf(0.0f, 48000), 1);
    EXPECT_EQ(FramesOf(1.0f, 44100), 44100);
    EXPECT_NEAR(NoteHz(69), 440.0f, 1e-3f);
    EXPECT_NEAR(NoteHz(57), 220.0f, 1e-3f);
}

TEST(DemoTools, FfmpegFailuresComeBackAsOneLine) {
    test::TempDir dir;
    // ffmpeg's complaint about a missing sound track comes back as one line, and no
    // partial video stays behind.
    const std::string video = dir / "reel.mp4";
    std::string error;
    EXPECT_FALSE(MakeDemoVideo(video, DemoVideoTimeline(), dir / "missing.wav", &error));
    EXPECT_NE(error.find("ffmpeg"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(video));
    EXPECT_FALSE(fs::exists(video + ".partial"));
}

TEST(DemoTools, WithoutFfmpegTheContentFailsWholeWithOneLine) {
    test::TempDir dir;
    const char* path = std::getenv("PATH");
    const std::optional<std::string> previous = path ? std::optional<std::string>(path) : std::nullopt;
    setenv("PATH", dir.path.c_str(), 1);  // a folder without ffmpeg
    const DemoContentResult result = MakeDemoContent(dir / "DemoContent");
    if (previous) setenv("PATH", previous->c_str(), 1);
    else unsetenv("PATH");

    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("ffmpeg program is not installed"), std::string::npos) << result.error;
    EXPECT_FALSE(fs::exists(dir / "DemoContent"));
    EXPECT_FALSE(fs::exists(dir / "DemoContent.partial")) << "nothing half-made is left";
}

TEST(DemoProject, LinksPinnedSoundsToTheScannedLibraryByFileName) {
    const DemoVideoPlan plan = DemoVideoTimeline();
    Project project = MakeDemoProject(plan, "/shipped/reel.mp4", "/shipped/Sounds");
    Library library;
    library.folder = "/home/me/Documents/Morvane/Libraries/Morvane Demo Sounds";
    LibraryEntry hit;
    hit.path = library.folder + "/DSGNTonl_Tonal Hit C3_MV_Demo.wav";
    hit.fileId = "00000000000000aa";
    LibraryEntry room;
    room.path = library.folder + "/AMBRoom_Office Room Tone_MV_Demo.wav";
    room.fileId = "00000000000000bb";
    library.entries = {hit, room};

    const int moved = LinkProjectToLibrary(project, library);
    EXPECT_EQ(moved, 2);
    EXPECT_EQ(project.libraryPaths, std::vector<std::string>{library.folder});
    bool sawClip = false, sawRoom = false, sawUnknown = false;
    for (const Event& e : project.timeline.events) {
        if (e.shape == EventShape::Clip) {
            sawClip = true;
            EXPECT_EQ(e.pinnedFile, hit.path);
            EXPECT_EQ(e.pinnedFileId, hit.fileId);
        }
        ASSERT_EQ(e.pinnedFileIds.size(), e.pinnedFiles.size());
        for (size_t i = 0; i < e.pinnedFiles.size(); ++i) {
            if (e.pinnedFiles[i] == room.path) {
                sawRoom = true;
                EXPECT_EQ(e.pinnedFileIds[i], room.fileId);
            } else {
                // A pin the library does not hold keeps its own path (the build reports it missing).
                sawUnknown = true;
                EXPECT_EQ(e.pinnedFiles[i].rfind("/shipped/Sounds/", 0), 0u) << e.pinnedFiles[i];
            }
        }
    }
    EXPECT_TRUE(sawClip && sawRoom && sawUnknown);
}

}  // namespace
}  // namespace morvane::demo
