// The demo library as a sound designer meets it: real UCS names that the scan
// understands, tags the scan can read, repeatable synthesis, and files that are
// written whole or not at all.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "demo/sound_catalogue.h"
#include "demo/sound_families.h"
#include "demo/wav_with_metadata.h"
#include "library/audio_file.h"
#include "library/entry.h"
#include "library/features.h"
#include "library/scan.h"
#include "library/ucs.h"
#include "support/test_support.h"

namespace morvane::demo {
namespace {

namespace fs = std::filesystem;

TEST(DemoLibrary, CatalogueCoversTheKindsFormatsAndUcsNamesADesignerExpects) {
    const std::vector<DemoSound> catalogue = DemoSoundCatalogue();
    const std::vector<std::string> files = DemoSoundFileNames();
    EXPECT_GE(files.size(), 60u);
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), files.size()) << "file names repeat";

    std::set<int> rates, channelCounts;
    std::set<SoundFamily> families;
    int multiMono = 0;
    for (const DemoSound& sound : catalogue) {
        // A CatID the UCS table does not know would make the scan infer nothing.
        EXPECT_NE(FindUcsRow(sound.catId), nullptr) << sound.catId << " is not a UCS CatID";
        EXPECT_FALSE(sound.description.empty()) << sound.fxName;
        EXPECT_LE(sound.description.size(), 256u) << "bext keeps 256 bytes: " << sound.fxName;
        rates.insert(sound.sampleRate);
        channelCounts.insert(sound.params.channels);
        families.insert(sound.params.family);
        if (!sound.speakerSuffixes.empty()) {
            ++multiMono;
            for (const std::string& suffix : sound.speakerSuffixes) {
                const std::string stem = fs::path(DemoSoundFileName(sound, suffix)).stem().string();
                EXPECT_TRUE(MonoChannelSuffix(stem).has_value()) << stem << " would not group as multi-mono";
            }
        } else {
            const std::string stem = fs::path(DemoSoundFileName(sound)).stem().string();
            EXPECT_FALSE(MonoChannelSuffix(stem).has_value()) << stem << " would be grouped by mistake";
        }
    }
    EXPECT_EQ(rates, (std::set<int>{44100, 48000}));
    EXPECT_EQ(channelCounts, (std::set<int>{1, 2}));
    EXPECT_EQ(multiMono, 1);
    EXPECT_EQ(families.size(), static_cast<size_t>(SoundFamily::Footsteps) + 1) << "every family is in the library";
    EXPECT_EQ(files.front().find("WOODImpt_Door Slam_MV_Demo"), 0u);
}

TEST(DemoLibrary, SynthesisIsRepeatableFiniteAndPeaksWhereAsked) {
    for (const DemoSound& sound : DemoSoundCatalogue()) {
        // A second of each is enough to run every code path of every family.
        SoundParams params = sound.params;
        params.seconds = std::min(params.seconds, 1.0f);
        SynthRng a(sound.seed), b(sound.seed);
        const std::vector<Signal> first = SynthesiseSound(params, sound.sampleRate, a);
        const std::vector<Signal> second = SynthesiseSound(params, sound.sampleRate, b);
        ASSERT_EQ(first, second) << sound.fxName << " differs between two builds";
        ASSERT_EQ(first.size(), static_cast<size_t>(sound.params.channels));
        EXPECT_EQ(first[0].size(), static_cast<size_t>(FramesOf(params.seconds, sound.sampleRate)));
        float peak = 0.0f;
        for (const Signal& channel : first)
            for (float v : channel) {
                ASSERT_TRUE(std::isfinite(v)) << sound.fxName;
                peak = std::max(peak, std::fabs(v));
            }
        EXPECT_NEAR(20.0f * std::log10(peak), sound.params.peakDb, 0.01f) << sound.fxName;
    }
}

// A file written with the demo's writer, read back by the library's own reader.
TEST(DemoLibrary, WrittenTagsAreFoundByTheScanAndFailuresLeaveNothing) {
    test::TempDir dir;
    WavMetadata m;
    m.description = "Heavy <oak> door & frame slammed";
    m.catId = "DOORWood";
    m.category = "DOORS";
    m.subCategory = "WOOD";
    m.fxName = "Oak Slam";
    m.keywords = "oak slam heavy";
    // Past full scale on purpose: a 24-bit writer that wraps instead of clipping turns
    // a loud peak into a full-scale click of the opposite sign.
    Signal left(4800, 0.0f), right(4800, 0.0f);
    left[100] = 1.5f;
    right[100] = -1.5f;
    const std::string path = dir / "DOORWood_Oak Slam_MV_Demo.wav";
    std::string error;
    ASSERT_TRUE(WriteWavWithMetadata(path, {left, right}, 44100, m, &error)) << error;

    LibraryEntry entry;
    AnalysisContextPtr context = MakeAnalysisContext();
    ASSERT_TRUE(AnalyzeFile(path, entry, context.get()));
    EXPECT_EQ(entry.bitDepth, 24);
    EXPECT_EQ(entry.channels, 2);
    EXPECT_EQ(entry.sampleRate, 44100.0f);
    EXPECT_NE(entry.description.find("Heavy <oak> door & frame slammed"), std::string::npos) << entry.description;
    for (const char* word : {"oak", "slam", "DOORWood", "WOOD"})
        EXPECT_NE(entry.keywords.find(word), std::string::npos) << word << " missing from: " << entry.keywords;

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    EXPECT_GT(samples[200], 0.99f);
    EXPECT_LT(samples[201], -0.99f);

    // Unwritable place, and channels of different lengths: an error naming the file, no file.
    const std::string nowhere = dir / "missing-folder/x.wav";
    EXPECT_FALSE(WriteWavWithMetadata(nowhere, {left}, 48000, m, &error));
    EXPECT_NE(error.find(nowhere), std::string::npos) << error;
    const std::string uneven = dir / "uneven.wav";
    EXPECT_FALSE(WriteWavWithMetadata(uneven, {left, Signal(10, 0.0f)}, 48000, m, &error));
    EXPECT_FALSE(fs::exists(uneven));
    EXPECT_FALSE(fs::exists(uneven + ".partial"));
    EXPECT_FALSE(WriteWavWithMetadata(uneven, {}, 48000, m, &error));
}

}  // namespace
}  // namespace morvane::demo
