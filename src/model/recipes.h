#pragma once
// Recipes and chains. A recipe (".mvrecipe") is an event's settings saved under a name,
// to apply to other events or place at the playhead; a chain (".mvchain") is a saved
// group of events with their times relative to the first, placed together. Both are
// small JSON files in the user's documents folder ("Recipes", "Chains"), loaded into
// memory lists on the first frame. A recipe in memory is an EventPreset held by
// shared_ptr, so lists and events can refer to the same preset.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/timeline.h"

namespace morvane {

inline constexpr int kRecipeFormatVersion = 1;
inline constexpr int kChainFormatVersion = 1;

// A recipe: the settings an event and a recipe share, under a name. A recipe file without
// shape, duration or alloyMorph gives a 2-second Bloom with an alloy morph of 0.35.
struct EventPreset : EventSettings {
    EventPreset() {
        shape = EventShape::Bloom;
        duration = 2.0f;
        alloyMorph = 0.35f;
    }
    std::string name;            // at most kNameMaxBytes
    float clipPitchRate = 1.0f;  // kept in recipes and chains only, not in project events
    bool clipReverse = false;    // likewise
    // The library's content hash and size in bytes of each pinned file, parallel to
    // pinnedFiles: they let the library find a pinned file that has moved.
    std::vector<uint64_t> pinnedFileHashes;
    std::vector<uint64_t> pinnedFileSizes;
    std::string filePath;  // the file the preset was read from (empty: not from a file)

    bool operator==(const EventPreset&) const = default;
};

// One event of a chain: the preset settings plus its start relative to the chain's start.
struct ChainEvent {
    EventPreset settings;
    float relTime = 0.0f;  // seconds after the chain's first event
    bool hero = false;
    bool alloy = false;
    bool operator==(const ChainEvent&) const = default;
};

struct Chain {
    std::string name;
    std::vector<ChainEvent> events;
    std::string filePath;
    bool operator==(const Chain&) const = default;
};

// The file name stem for a name: only A-Z, a-z, 0-9, space, "-" and "_" are kept, in
// order; "recipe" when nothing is left.
std::string RecipeFileName(std::string_view name);

// Save into folder (created when missing; RecipesFolder()/ChainsFolder() when empty),
// replacing a file of the same name. False when the folder or the file cannot be written.
bool SaveRecipe(const EventPreset& preset, const std::string& folder = {});
bool SaveChain(const std::string& name, const std::vector<ChainEvent>& events, const std::string& folder = {});

// The file a recipe (chain) of this name is saved to in folder (RecipesFolder() /
// ChainsFolder() when empty): names with the same stem share a file, so a save asks
// before it replaces one.
std::string RecipeFilePath(std::string_view name, const std::string& folder = {});
std::string ChainFilePath(std::string_view name, const std::string& folder = {});
// Removes a saved recipe or chain file (its filePath). False when it is not a regular
// file or cannot be removed; the in-memory lists are reloaded by the caller.
bool DeleteSavedFile(const std::string& path);

// Read one file. A file that cannot be opened, or does not hold a JSON object, gives a
// preset (chain) whose filePath is empty; lists skip those. A newer format is read as far
// as its keys are known, with a line on stderr.
EventPreset LoadRecipe(const std::string& path);
Chain LoadChain(const std::string& path);

// The in-memory lists, sorted by name, and their rebuilding from the folders (".mvrecipe"
// or ".json"; ".mvchain" or ".json"). A missing folder gives an empty list.
std::vector<std::shared_ptr<EventPreset>>& Recipes();
std::vector<Chain>& Chains();
void LoadAllRecipes(const std::string& folder = {});
void LoadAllChains(const std::string& folder = {});

// Conversions between events and presets.
EventPreset PresetFromEvent(const Event& event, const std::string& name);
// Sets the event's settings from the preset (its time stays) and records the recipe's
// name in presetName.
void ApplyRecipe(Event& event, const EventPreset& preset);
// relTime is the event's time minus chainStart.
ChainEvent ChainEventFromEvent(const Event& event, float chainStart);
// The chain of these events, their times relative to the earliest.
std::vector<ChainEvent> ChainEventsFromEvents(const std::vector<Event>& events);

// Adds one event made from the recipe at the playhead (after PushUndo); returns its index.
int PlaceRecipe(Project& project, const EventPreset& preset, float playhead);
// Adds one event per chain event at playhead + relTime (after PushUndo) and returns their
// indices. With asGroup the new events share one new event folder, named after the
// chain and unused so far, that is added to the linked groups.
std::vector<int> PlaceChain(Project& project, const Chain& chain, float playhead, bool asGroup);
// The same with the user's choice, preference chainsImportAsGroup ("Place each chain as
// one linked group.").
std::vector<int> PlaceChain(Project& project, const Chain& chain, float playhead);

}  // namespace morvane
