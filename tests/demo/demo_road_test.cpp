// The main job on the demo content, run into a private home as a new user would run
// it: everything it promises must be in the files it leaves behind.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "engine/selection.h"
#include "demo/demo_road.h"
#include "demo/demo_video.h"
#include "demo/sound_catalogue.h"
#include "library/audio_file.h"
#include "model/demo_content.h"
#include "model/preferences.h"
#include "model/project_file.h"
#include "platform/folders.h"
#include "support/test_support.h"

namespace morvane::demo {
namespace {

namespace fs = std::filesystem;

struct Mixdown {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
};

Mixdown ReadMixdown(const std::string& path) {
    Mixdown m;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return m;
    m.rate = info.samplerate;
    m.channels = info.channels;
    m.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, m.samples.data(), info.frames);
    sf_close(file);
    return m;
}

// RMS in dBFS of [from, to) seconds of the mixdown, both channels.
float WindowDb(const Mixdown& m, float from, float to) {
    const size_t a = static_cast<size_t>(std::max(0.0f, from) * m.rate) * m.channels;
    const size_t b = std::min(m.samples.size(), static_cast<size_t>(to * m.rate) * m.channels);
    double sum = 0.0;
    for (size_t i = a; i < b; ++i) sum += static_cast<double>(m.samples[i]) * m.samples[i];
    return b > a ? static_cast<float>(10.0 * std::log10(sum / static_cast<double>(b - a) + 1e-20)) : -200.0f;
}

class DemoRoad : public testing::Test {
protected:
    void SetUp() override {
        Prefs() = Preferences{};
        SetProgramDataFolder(MORVANE_DEMO_DATA_DIR);
    }
    void TearDown() override {
        SetProgramDataFolder("");
        Prefs() = Preferences{};
        TakePreferencesDirty();
    }
    test::ScopedHome home;
};

TEST_F(DemoRoad, RunsFromPictureToMixdownAndASecondScanReusesTheIndex) {
    ASSERT_TRUE(IsFolder(ProgramDataPath("DemoContent"))) << "the build makes the demo content first";
    RoadOptions options;
    options.outFolder = (home.dir.path / "out").string();
    const RoadReport r = RunDemoRoad(options);
    ASSERT_TRUE(r.ok) << r.error;

    {
        SCOPED_TRACE("the library index lists every demo sound");
        const std::string index = test::ReadFile(r.indexPath);
        for (const std::string& name : DemoSoundFileNames())
            EXPECT_NE(index.find(name), std::string::npos) << name << " is not in " << r.indexPath;
        EXPECT_EQ(r.filesScanned, static_cast<int>(DemoSoundFileNames().size()));
        EXPECT_EQ(r.filesFailed, 0);
    }
    {
        SCOPED_TRACE("the picture read finds the reel's cuts and flashes");
        const DemoVideoPlan plan = DemoVideoTimeline();
        std::vector<float> expected = plan.cuts;
        expected.insert(expected.end(), plan.flashes.begin(), plan.flashes.end());
        for (float t : expected) {
            bool found = false;
            for (float proposed : r.proposedTimes) found = found || std::fabs(proposed - t) < 0.25f;
            EXPECT_TRUE(found) << "no proposed event near " << t << " s";
        }
        EXPECT_GE(r.eventsImported, static_cast<int>(plan.flashes.size()));
        EXPECT_TRUE(fs::exists(r.traceBasePath + ".mvtrace"));
        EXPECT_TRUE(fs::exists(r.traceBasePath + ".mvtrace.csv"));
    }
    const Project& built = r.project;
    {
        SCOPED_TRACE("every event is built from the demo library");
        const std::vector<std::string> names = DemoSoundFileNames();
        const std::set<std::string> library(names.begin(), names.end());
        std::vector<int> layersOfEvent(built.timeline.events.size(), 0);
        for (const Layer& l : built.timeline.results) {
            EXPECT_NE(l.name, kNoMatchName);
            EXPECT_NE(l.name, kMissingName);
            EXPECT_EQ(library.count(fs::path(l.filepath).filename().string()), 1u) << l.filepath;
            EXPECT_TRUE(fs::exists(l.filepath)) << l.filepath;
            ++layersOfEvent.at(static_cast<size_t>(l.eventIdx));
        }
        for (size_t i = 0; i < layersOfEvent.size(); ++i) EXPECT_GT(layersOfEvent[i], 0) << "event " << i;
        for (int shape = 0; shape < kEventShapeCount; ++shape)
            EXPECT_GT(r.layersPerShape[static_cast<size_t>(shape)], 0) << kEventShapeNames[shape];
        EXPECT_EQ(r.placeholders, 0);
        EXPECT_EQ(r.noMatch, 0);
        EXPECT_EQ(r.missing, 0);
    }
    {
        SCOPED_TRACE("the mixdown sounds where the events are, and never clips");
        const Mixdown m = ReadMixdown(r.mixdownPath);
        ASSERT_EQ(m.channels, 2);
        ASSERT_EQ(m.rate, built.projectSampleRate);
        const double seconds = static_cast<double>(m.samples.size() / 2) / m.rate;
        EXPECT_NEAR(seconds, built.timeline.settings.totalDuration, 1.0 / m.rate + 1e-6);
        float peak = 0.0f;
        for (float v : m.samples) peak = std::max(peak, std::fabs(v));
        EXPECT_GT(peak, 0.05f);
        EXPECT_LE(peak, 0.8913f + 1e-4f) << "above -1 dBFS";
        for (const Event& e : built.timeline.events)
            EXPECT_GT(WindowDb(m, e.time, e.time + 0.5f), -60.0f) << "a gap where the event at " << e.time << " s is";
        EXPECT_GT(r.loudnessLufs, -40.0f);
        EXPECT_LT(r.loudnessLufs, -6.0f);
        // The export beside it: the mix and a stem for each of the three groups.
        EXPECT_GE(r.exportedFiles.size(), 4u);
        for (const std::string& path : r.exportedFiles) EXPECT_EQ(ReadMixdown(path).rate, m.rate) << path;
    }
    {
        SCOPED_TRACE("the saved project reopens with the same layers");
        Project reopened;
        const LoadProjectResult loaded = LoadProject(r.projectPath, reopened);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        EXPECT_TRUE(reopened.timeline.built);
        ASSERT_EQ(reopened.timeline.results.size(), built.timeline.results.size());
        ASSERT_EQ(reopened.timeline.events.size(), built.timeline.events.size());
        for (size_t i = 0; i < built.timeline.results.size(); ++i) {
            const Layer& a = built.timeline.results[i];
            const Layer& b = reopened.timeline.results[i];
            EXPECT_EQ(a.name, b.name);
            EXPECT_EQ(a.eventIdx, b.eventIdx);
            // The project file keeps six significant digits.
            EXPECT_NEAR(a.startTime, b.startTime, 1e-4f);
            EXPECT_NEAR(a.duration, b.duration, 1e-5f);
            EXPECT_NEAR(a.normGain, b.normGain, 1e-5f);
            // Saving collects the sounds beside the project; the file stays the same sound.
            EXPECT_EQ(fs::path(a.filepath).filename(), fs::path(b.filepath).filename());
            EXPECT_TRUE(fs::exists(b.filepath)) << b.filepath;
        }
        EXPECT_TRUE(fs::exists(reopened.videoPath)) << reopened.videoPath;
        ASSERT_EQ(reopened.timeline.scenes.size(), 1u);
    }
    {
        SCOPED_TRACE("a second scan opens no sound file");
        LibrarySet set;
        RoadReport again;
        ASSERT_TRUE(ScanDemoLibrary(r.libraryFolder, set, again, {})) << again.error;
        EXPECT_EQ(again.audioFilesOpened, 0u);
        EXPECT_EQ(again.filesReused, r.filesScanned);
        EXPECT_EQ(again.filesAnalysed, 0);
    }
}

// The shipped demo, installed on its own: the project finds its reel and its pinned
// sounds from the user's documents folder, where it lands far from where it was made.
TEST_F(DemoRoad, InstalledDemoProjectFindsItsReelAndPinnedSounds) {
    const DemoInstallResult installed = InstallDemoContent(false);
    ASSERT_TRUE(installed.sourceFound);
    EXPECT_EQ(installed.failures, 0);
    ASSERT_EQ(installed.projectsAdded.size(), 1u);
    for (const char* folder : {"Recipes", "Chains", "Projects", "Libraries"})
        EXPECT_FALSE(fs::is_empty(fs::path(DocumentsFolder()) / folder)) << folder;

    Project project;
    const LoadProjectResult loaded = LoadProject(installed.projectsAdded[0], project);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_TRUE(fs::exists(project.videoPath)) << project.videoPath;
    std::set<EventShape> shapes;
    for (const Event& e : project.timeline.events) {
        shapes.insert(e.shape);
        if (!e.pinnedFile.empty()) {
            EXPECT_TRUE(fs::exists(e.pinnedFile)) << e.pinnedFile;
        }
        for (const std::string& pinned : e.pinnedFiles) EXPECT_TRUE(fs::exists(pinned)) << pinned;
    }
    EXPECT_EQ(shapes.size(), static_cast<size_t>(kEventShapeCount));
    EXPECT_FALSE(project.timeline.scenes.empty());
}

}  // namespace
}  // namespace morvane::demo
