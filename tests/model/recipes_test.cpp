#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model/json.h"
#include "model/preferences.h"
#include "model/project_fixtures.h"
#include "model/recipes.h"
#include "model/undo.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

EventPreset FullPreset() {
    EventPreset p;
    p.name = "Door Slam / heavy";
    p.keywords = "door, slam";
    p.shape = EventShape::Clip;
    p.intensityMode = IntensityMode::ShapedNoFloor;
    p.duration = 1.5f;
    p.syncOffset = 0.125f;
    p.spread = 0.5f;
    p.weightCenter = 0.75f;
    p.intensityScale = 1.25f;
    p.weightOffset = -0.25f;
    p.alloyMorph = 0.5f;
    p.pitchVariation = 0.25f;
    p.reverbSend = 0.375f;
    p.fillLayers = 3;
    p.groupOverride = 1;
    p.stereo = true;
    p.pinnedFile = "/lib/door.wav";
    p.pinnedFileId = "lib-door";
    p.clipSourceOffset = 0.5f;
    p.clipSourceDuration = 1.0f;
    p.clipFadeIn = 0.0625f;
    p.clipFadeOut = 0.125f;
    p.clipPitchRate = 0.5f;
    p.clipReverse = true;
    p.clipWeight = 0.75f;
    p.libFilter = "Foley";
    p.pinnedFiles = {"/lib/a.wav", "/lib/b.wav"};
    p.pinnedFileIds = {"lib-a", "lib-b"};
    p.pinnedFileHashes = {0x0123456789abcdefull, 0xffffffffffffffffull};
    p.pinnedFileSizes = {12345678901ull, 0};
    p.bedLayerLoop = {1, 0};
    p.bedLayerWeight = {0.25f, -1.0f};
    test::FillCurve(p.weight, 1);
    test::FillCurve(p.intensity, 2);
    return p;
}

TEST(Recipes, FileNamesKeepOnlySafeCharacters) {
    EXPECT_EQ(RecipeFileName("Door  Slam 2"), "Door  Slam 2");
    EXPECT_EQ(RecipeFileName("Door/Slam:2?*"), "DoorSlam2");
    EXPECT_EQ(RecipeFileName("../../etc/passwd"), "etcpasswd");
    EXPECT_EQ(RecipeFileName("Caf\xC3\xA9_fx-1"), "Caf_fx-1");
    EXPECT_EQ(RecipeFileName("\xE2\x98\x85!!"), "recipe");
    EXPECT_EQ(RecipeFileName(""), "recipe");
}

TEST(Recipes, SaveLoadAndReaderRules) {
    TempDir dir;
    const std::string folder = dir / "Recipes";  // created by the save
    EventPreset preset = FullPreset();
    ASSERT_TRUE(SaveRecipe(preset, folder));
    const std::string path = folder + "/Door Slam  heavy.mvrecipe";
    ASSERT_TRUE(fs::exists(path));
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("\"gain\""), std::string::npos) << "recipes do not carry gain";
    EXPECT_NE(text.find("\"pinnedFileHashes\": [\n    \"0123456789abcdef\""), std::string::npos) << text;

    EventPreset loaded = LoadRecipe(path);
    EXPECT_EQ(loaded.filePath, path);
    loaded.filePath.clear();
    EXPECT_EQ(loaded, preset);

    // Saving under the same name replaces the file.
    preset.keywords = "changed";
    ASSERT_TRUE(SaveRecipe(preset, folder));
    EXPECT_EQ(LoadRecipe(path).keywords, "changed");

    // A recipe with no shape or duration is a 2-second Bloom; older clip keys are read,
    // the newer winning; hashes and sizes that do not convert are 0; gain is accepted.
    WriteFile(dir / "old.json", R"({"format": "MorvaneRecipe", "formatVersion": 1, "name": "Old",
        "placeSourceOffset": 0.5, "placeFadeIn": 0.25, "clipFadeIn": 0.125, "gain": 0.5, "fillLayers": 99,
        "pinnedFiles": ["/x.wav", "/y.wav"], "pinnedFileHashes": ["nothex", "10"], "pinnedFileSizes": ["12k", "7"]})");
    EventPreset old = LoadRecipe(dir / "old.json");
    EXPECT_EQ(old.shape, EventShape::Bloom);
    EXPECT_EQ(old.duration, 2.0f);
    EXPECT_EQ(old.alloyMorph, 0.35f);
    EXPECT_EQ(old.clipSourceOffset, 0.5f);
    EXPECT_EQ(old.clipFadeIn, 0.125f);
    EXPECT_EQ(old.gain, 0.5f);
    EXPECT_EQ(old.fillLayers, 24);
    EXPECT_EQ(old.pinnedFileHashes, (std::vector<uint64_t>{0, 16}));
    EXPECT_EQ(old.pinnedFileSizes, (std::vector<uint64_t>{0, 7}));

    // A newer format is read as far as it goes, with a message on stderr.
    WriteFile(dir / "new.mvrecipe", R"({"format": "MorvaneRecipe", "formatVersion": 2, "name": "Future", "shape": 0})");
    testing::internal::CaptureStderr();
    EventPreset future = LoadRecipe(dir / "new.mvrecipe");
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message, "Recipe '" + (dir / "new.mvrecipe") +
                           "' was saved by a newer version (format 2, this build supports 1). Loading what we can.\n");
    EXPECT_EQ(future.name, "Future");
    EXPECT_EQ(future.shape, EventShape::Spot);
    WriteFile(dir / "new.mvchain", R"({"format": "MorvaneChain", "version": 3, "events": [{"relTime": 1}]})");
    testing::internal::CaptureStderr();
    Chain futureChain = LoadChain(dir / "new.mvchain");
    message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message, "Chain '" + (dir / "new.mvchain") +
                           "' was saved by a newer version (format 3, this build supports 1). Loading what we can.\n");
    EXPECT_EQ(futureChain.events.size(), 1u);

    // The list: recipes and .json files, sorted by name; unreadable ones are skipped.
    WriteFile(folder + "/Another.json", R"({"name": "Another"})");
    WriteFile(folder + "/broken.mvrecipe", "not json at all");
    WriteFile(folder + "/readme.txt", R"({"name": "Not a recipe"})");
    LoadAllRecipes(folder);
    ASSERT_EQ(Recipes().size(), 2u);
    EXPECT_EQ(Recipes()[0]->name, "Another");
    EXPECT_EQ(Recipes()[1]->name, preset.name);
    LoadAllRecipes(dir / "no-such-folder");
    EXPECT_TRUE(Recipes().empty());
}

std::vector<std::string> Keys(const JsonValue& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.members) keys.push_back(member.first);
    return keys;
}

TEST(Recipes, FilesKeepTheirKeyOrder) {
    TempDir dir;
    ASSERT_TRUE(SaveRecipe(FullPreset(), dir.path.string()));
    const JsonValue recipe = JsonParse(ReadFile(dir / "Door Slam  heavy.mvrecipe"));
    EXPECT_EQ(Keys(recipe),
              (std::vector<std::string>{
                  "format", "formatVersion", "createdBy", "name", "keywords", "shape", "intensityMode", "duration",
                  "syncOffset", "spread", "weightCenter", "intensityScale", "weightOffset", "alloyMorph",
                  "pitchVariation", "reverbSend", "fillLayers", "groupOverride", "stereo", "pinnedFile",
                  "pinnedFileId", "clipSourceOffset", "clipSourceDuration", "clipFadeIn", "clipFadeOut",
                  "clipPitchRate", "clipReverse", "clipWeight", "libFilter", "pinnedFiles", "pinnedFileIds",
                  "pinnedFileHashes", "pinnedFileSizes", "bedLayerLoop", "bedLayerWeight", "weight", "intensity"}));

    ChainEvent event;
    event.settings = FullPreset();
    event.settings.name.clear();         // a chain's events have no names
    event.settings.clipWeight = -1.0f;  // nor clip gains
    event.relTime = 0.5f;
    event.hero = true;
    ASSERT_TRUE(SaveChain("Hits", {event}, dir.path.string()));
    const JsonValue chain = JsonParse(ReadFile(dir / "Hits.mvchain"));
    EXPECT_EQ(Keys(chain), (std::vector<std::string>{"format", "formatVersion", "createdBy", "name", "events"}));
    EXPECT_EQ(Keys(JsonItem(JsonMember(chain, "events"), 0)),
              (std::vector<std::string>{
                  "relTime", "syncOffset", "keywords", "shape", "intensityMode", "duration", "spread",
                  "weightCenter", "intensityScale", "weightOffset", "alloyMorph", "pitchVariation", "reverbSend",
                  "gain", "fillLayers", "groupOverride", "stereo", "hero", "alloy", "pinnedFile", "pinnedFileId",
                  "clipSourceOffset", "clipSourceDuration", "clipFadeIn", "clipFadeOut", "clipPitchRate",
                  "clipReverse", "pinnedFiles", "pinnedFileIds", "pinnedFileHashes", "pinnedFileSizes",
                  "bedLayerLoop", "bedLayerWeight", "libFilter", "weight", "intensity"}));
    EXPECT_EQ(LoadChain(dir / "Hits.mvchain").events.at(0), event);
}

TEST(Recipes, ApplyingARecipeCarriesEverySettingWithinItsLimits) {
    // Every shared setting goes from an event into a recipe and back onto another event.
    Event source;
    source.time = 4.0f;
    static_cast<EventSettings&>(source) = FullPreset();
    source.hasPinnedFile = true;
    source.pinnedFileIds.resize(source.pinnedFiles.size());
    Event target;
    target.time = 9.0f;
    target.hero = true;
    ApplyRecipe(target, PresetFromEvent(source, "Copy"));
    EXPECT_EQ(static_cast<const EventSettings&>(target), static_cast<const EventSettings&>(source));
    EXPECT_EQ(target.time, 9.0f);
    EXPECT_TRUE(target.hero);
    EXPECT_TRUE(target.hasPinnedFile);
    EXPECT_EQ(target.presetName, "Copy");

    // A pinned path the event does not use stays out of the recipe.
    source.hasPinnedFile = false;
    EXPECT_EQ(PresetFromEvent(source, "Loose").pinnedFile, "");

    // A recipe edited by hand is brought into the event's limits.
    EventPreset wild = FullPreset();
    wild.gain = 1.7f;
    wild.fillLayers = 99;
    wild.groupOverride = 5;
    wild.pitchVariation = -0.5f;
    wild.intensityMode = static_cast<IntensityMode>(7);
    wild.shape = static_cast<EventShape>(-3);
    wild.keywords = std::string(400, 'k');
    wild.pinnedFileIds = {"a", "b", "c"};
    Event placed;
    ApplyRecipe(placed, wild);
    EXPECT_EQ(placed.gain, 1.0f);
    EXPECT_EQ(placed.fillLayers, kMaxFillLayers);
    EXPECT_EQ(placed.groupOverride, -1);
    EXPECT_EQ(placed.pitchVariation, 0.0f);
    EXPECT_EQ(placed.intensityMode, IntensityMode::ShapedNoFloor);
    EXPECT_EQ(placed.shape, EventShape::Spot);
    EXPECT_EQ(placed.keywords.size(), kKeywordsMaxBytes);
    EXPECT_EQ(placed.pinnedFileIds.size(), placed.pinnedFiles.size());
}

TEST(Recipes, PlacingRecipesAndChains) {
    TempDir dir;
    Project project;
    const int index = PlaceRecipe(project, FullPreset(), 7.5f);
    ASSERT_EQ(index, 0);
    const Event& placed = project.timeline.events[0];
    EXPECT_EQ(placed.time, 7.5f);
    EXPECT_EQ(placed.shape, EventShape::Clip);
    EXPECT_EQ(placed.presetName, "Door Slam / heavy");
    EXPECT_TRUE(placed.hasPinnedFile);
    EXPECT_EQ(placed.pinnedFiles.size(), 2u);
    EXPECT_TRUE(CanUndo(project));

    // A chain saved from three events keeps their spacing.
    std::vector<Event> source(3);
    source[0].time = 3.0f;
    source[1].time = 3.5f;
    source[1].hero = true;
    source[2].time = 4.25f;
    source[2].alloy = true;
    source[2].gain = 0.5f;
    source[2].keywords = "tail";
    ASSERT_TRUE(SaveChain("Punch Combo", ChainEventsFromEvents(source), dir / "Chains"));
    Chain chain = LoadChain(dir / "Chains/Punch Combo.mvchain");
    ASSERT_EQ(chain.events.size(), 3u);
    EXPECT_EQ(chain.name, "Punch Combo");

    std::vector<int> loose = PlaceChain(project, chain, 10.0f, false);
    ASSERT_EQ(loose.size(), 3u);
    const auto& events = project.timeline.events;
    EXPECT_EQ(events[static_cast<size_t>(loose[0])].time, 10.0f);
    EXPECT_EQ(events[static_cast<size_t>(loose[1])].time, 10.5f);
    EXPECT_EQ(events[static_cast<size_t>(loose[2])].time, 11.25f);
    EXPECT_TRUE(events[static_cast<size_t>(loose[1])].hero);
    EXPECT_TRUE(events[static_cast<size_t>(loose[2])].alloy);
    EXPECT_EQ(events[static_cast<size_t>(loose[2])].gain, 0.5f);
    EXPECT_EQ(events[static_cast<size_t>(loose[2])].keywords, "tail");
    EXPECT_EQ(events[static_cast<size_t>(loose[0])].folder, "");
    EXPECT_TRUE(project.timeline.linkedGroups.empty());

    // As a group (the preference's default): one new linked folder per placement, never
    // joining an existing one.
    Prefs().chainsImportAsGroup = true;
    std::vector<int> first = PlaceChain(project, chain, 20.0f);
    std::vector<int> second = PlaceChain(project, chain, 30.0f, true);
    ASSERT_EQ(project.timeline.linkedGroups.size(), 2u);
    const std::string folderA = project.timeline.linkedGroups[0];
    const std::string folderB = project.timeline.linkedGroups[1];
    EXPECT_EQ(folderA, "Punch Combo");
    EXPECT_NE(folderA, folderB);
    for (int i : first) EXPECT_EQ(events[static_cast<size_t>(i)].folder, folderA);
    for (int i : second) EXPECT_EQ(events[static_cast<size_t>(i)].folder, folderB);
    EXPECT_EQ(events.size(), 10u);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(Recipes, SavedFilesAreFoundByNameAndDeletedWithoutTouchingOthers) {
    test::TempDir dir;
    const std::string folder = dir / "Recipes";
    EventPreset preset;
    preset.name = "Door / Slam #2";
    const std::string path = RecipeFilePath(preset.name, folder);
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_TRUE(SaveRecipe(preset, folder));
    EXPECT_TRUE(std::filesystem::exists(path)) << "the save writes the file the name is looked up by";
    EXPECT_NE(RecipeFilePath("Door  Slam 2", folder), RecipeFilePath("Door Slam 2", folder));
    EXPECT_EQ(RecipeFilePath(preset.name, folder), RecipeFilePath("Door  Slam 2", folder))
        << "names with the same stem share a file, so the second save must ask first";

    const std::string chains = dir / "Chains";
    ASSERT_TRUE(SaveChain("Footsteps", {}, chains));
    EXPECT_TRUE(std::filesystem::exists(ChainFilePath("Footsteps", chains)));

    LoadAllRecipes(folder);
    ASSERT_EQ(Recipes().size(), 1u);
    EXPECT_TRUE(DeleteSavedFile(Recipes()[0]->filePath));
    LoadAllRecipes(folder);
    EXPECT_TRUE(Recipes().empty());
    EXPECT_TRUE(std::filesystem::exists(ChainFilePath("Footsteps", chains)));
    // Nothing else goes: a folder, a missing file, an empty path.
    EXPECT_FALSE(DeleteSavedFile(chains));
    EXPECT_TRUE(std::filesystem::is_directory(chains));
    EXPECT_FALSE(DeleteSavedFile(path));
    EXPECT_FALSE(DeleteSavedFile(""));
}

}  // namespace
}  // namespace morvane
