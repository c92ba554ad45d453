#pragma once
// Markers from a Pro Tools session text export ("Import Pro Tools session text markers"):
// every marker becomes a proposed event like the ones the picture read yields, or a
// scene when its name begins with "scene,".
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/recipes.h"
#include "model/timeline.h"
#include "trace/analysis.h"

namespace morvane {

// What the import needs of a recipe: its name, to be recognised in a marker name, and the
// settings it suggests for the event. The caller fills these from its recipes.
struct MarkerRecipe {
    std::string name;
    std::string keywords;
    int shape = 1;  // an EventShape
    float duration = 2.0f;
    float syncOffset = 0.0f;
    float spread = 0.3f;
    float weightCenter = 0.3f;
    float gain = 1.0f;
};

// The parts of the user's recipes the import looks at.
MarkerRecipe MarkerRecipeFromPreset(const EventPreset& preset);
std::vector<MarkerRecipe> MarkerRecipesFromPresets(const std::vector<std::shared_ptr<EventPreset>>& presets);

// Reads the export at `path` and fills `events` (and `scenes` when given) after emptying
// them. A file that cannot be read leaves both empty; only a regular file is opened, so a
// named pipe or a device never blocks the import.
void ImportSessionMarkers(const std::string& path, float defaultFps, std::vector<TraceEvent>& events,
                          std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes);
// The same on the text of an export.
void ImportSessionMarkersText(std::string_view text, float defaultFps, std::vector<TraceEvent>& events,
                              std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes);

// An imported or proposed event as a timeline event: automatic (-1) suggestions keep the
// event's own defaults. `sceneLink` is left at -1.
Event EventFromTraceEvent(const TraceEvent& proposed);

}  // namespace morvane
