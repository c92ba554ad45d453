// "Similar": the nearest files by what the scan measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "build_fixtures.h"
#include "engine/similar.h"

namespace morvane {
namespace {

LibraryEntry Sound(const std::string& name, float duration, float brightness, float crest, float attack) {
    LibraryEntry entry = test::NeutralEntry(name, duration);
    FeatureOf(entry, Feature::Brightness) = brightness;
    FeatureOf(entry, Feature::Crest) = crest;
    entry.attackTime = attack;
    return entry;
}

std::vector<std::string> Names(const std::vector<SimilarFile>& files) {
    std::vector<std::string> names;
    for (const SimilarFile& f : files) names.push_back(f.entry->name);
    return names;
}

TEST(Similar, NearestByEveryMeasurementOnComparableScales) {
    Library library;
    library.name = "Mixed";
    const LibraryEntry target = Sound("target", 2.0f, 0.5f, 12.0f, 0.01f);
    library.entries = {target,
                       Sound("twin", 2.1f, 0.51f, 12.5f, 0.011f),
                       // One dB more crest is a small difference; twice as bright is not.
                       Sound("crest_plus_1dB", 2.0f, 0.5f, 13.0f, 0.01f),
                       Sound("much_brighter", 2.0f, 0.9f, 12.0f, 0.01f),
                       // Ten times as long, or a slow swell instead of a hit.
                       Sound("ten_times_longer", 20.0f, 0.5f, 12.0f, 0.01f),
                       Sound("slow_attack", 2.0f, 0.5f, 12.0f, 0.8f),
                       Sound("far_off", 40.0f, 0.1f, 30.0f, 1.5f)};
    LibraryEntry bassy = Sound("bass_heavy", 2.0f, 0.5f, 12.0f, 0.01f);
    for (int k = 0; k < 5; ++k) bassy.features[k] = k == 0 ? 1.0f : 0.05f;
    library.entries.push_back(bassy);

    const std::vector<Library> libraries = {library};
    const std::vector<SimilarFile> near = SimilarFiles(libraries, target);
    const std::vector<std::string> names = Names(near);
    ASSERT_EQ(names.size(), library.entries.size() - 1);  // all but the file itself
    EXPECT_EQ(names[0], "twin");
    EXPECT_EQ(names[1], "crest_plus_1dB");
    EXPECT_EQ(names.back(), "far_off");
    for (const std::string& name : names) EXPECT_NE(name, "target");
    for (size_t i = 1; i < near.size(); ++i) EXPECT_LE(near[i - 1].distance, near[i].distance);
    const auto rank = [&](const std::string& name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
    // Each kind of large difference places a file behind the small ones.
    for (const char* big : {"much_brighter", "ten_times_longer", "slow_attack", "bass_heavy"})
        EXPECT_GT(rank(big), rank("crest_plus_1dB")) << big;
}

TEST(Similar, OnlyEnabledLibrariesAndAtMostTwenty) {
    Library many;
    many.name = "Many";
    for (int i = 0; i < 50; ++i)
        many.entries.push_back(Sound("hit" + std::to_string(i), 0.5f + 0.1f * static_cast<float>(i), 0.5f, 14.0f, 0.005f));
    Library off;
    off.name = "Off";
    off.enabled = false;
    const LibraryEntry target = many.entries[10];
    off.entries = {target};  // its exact twin, but the library is switched off
    off.entries[0].path = "/elsewhere/twin.wav";

    std::vector<Library> libraries = {many, off};
    const std::vector<SimilarFile> near = SimilarFiles(libraries, target);
    ASSERT_EQ(near.size(), static_cast<size_t>(kSimilarCount));
    for (const SimilarFile& f : near) EXPECT_NE(f.entry->path, "/elsewhere/twin.wav");
    // The neighbours in length come first.
    EXPECT_TRUE(near[0].entry->name == "hit9" || near[0].entry->name == "hit11") << near[0].entry->name;
    EXPECT_EQ(SimilarFiles(libraries, target, 3).size(), 3u);

    // Switched on, the twin is the nearest of all, at no distance.
    libraries[1].enabled = true;
    const std::vector<SimilarFile> withTwin = SimilarFiles(libraries, target);
    EXPECT_EQ(withTwin[0].entry->path, "/elsewhere/twin.wav");
    EXPECT_FLOAT_EQ(withTwin[0].distance, 0.0f);

    // Nothing else to compare with: an empty list.
    Library alone;
    alone.entries = {target};
    EXPECT_TRUE(SimilarFiles(std::vector<Library>{alone}, target).empty());
}

}  // namespace
}  // namespace morvane
