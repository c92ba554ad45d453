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

// What a read learned besides the markers: whether the text has a markers section at all
// (a session exported without markers, or not a session text).
struct SessionMarkersRead {
    bool markersSection = false;
};

// Reads the export at `path` and fills `events` (and `scenes` when given) after emptying
// them. Times count from the session's start (its sample counts do; a timecode LOCATION
// has the SESSION START TIMECODE taken off), so the session's start is the timeline's zero.
// Names reach the events as UTF-8 whatever the text's encoding. A file that cannot be read
// leaves both empty; only a regular file is opened, so a named pipe or a device never
// blocks the import.
SessionMarkersRead ImportSessionMarkers(const std::string& path, float defaultFps, std::vector<TraceEvent>& events,
                          std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes);
// The same on the text of an export.
SessionMarkersRead ImportSessionMarkersText(std::string_view text, float defaultFps, std::vector<TraceEvent>& events,
                              std::vector<Scene>* scenes, std::span<const MarkerRecipe> recipes);

// A session text as UTF-8: unchanged when it already is; otherwise decoded as Mac Roman
// (older Mac exports) or Windows Latin-1, whichever its bytes point to.
std::string SessionTextToUtf8(std::string_view text);

// What importing a session's markers changes on a timeline. The events imported before
// from the same file (their markerSource) are replaced, so a second import of a file
// never doubles its markers; the duration grows to hold every marker.
struct MarkerImportPlan {
    std::vector<char> remove;   // per existing event: 1 when the import replaces it
    std::vector<Event> events;  // the markers as events, each tagged with the source
    std::vector<Scene> scenes;  // the scenes not on the timeline already
    float totalDuration = 0.0f;
    int replaced = 0;
};
// The tag of the events imported from `path`: its file name.
std::string MarkerSourceName(const std::string& path);
MarkerImportPlan PlanMarkerImport(const TimelineState& timeline, const std::string& source,
                                  const std::vector<TraceEvent>& proposed, const std::vector<Scene>& scenes);
// The plan is carried out by ReplaceEventsAndAddScenes (edit/timeline_edit.h).

// An imported or proposed event as a timeline event: automatic (-1) suggestions keep the
// event's own defaults. `sceneLink` is left at -1.
Event EventFromTraceEvent(const TraceEvent& proposed);

}  // namespace morvane
