#pragma once
// Turning the timeline's events into placed layers (the project's results).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/selection.h"
#include "model/timeline.h"

namespace morvane {

// What the build needs to know of a file it opens itself (Clip events).
struct SoundFileInfo {
    bool ok = false;
    double duration = 0.0;  // seconds
    int channels = 0;
};
using SoundProbe = std::function<SoundFileInfo(const std::string& path)>;
// Opens the file with libsndfile.
SoundProbe FileSoundProbe();

struct BuildOptions {
    // Reproducible draws (tests, benchmarks, the CLI): used instead of the clock.
    bool useFixedSeed = false;
    uint32_t fixedSeed = 0;
    const ReferenceSet* reference = nullptr;
    EnvelopeSource envelopes = FileEnvelopeSource();
    SoundProbe probe = FileSoundProbe();
    // Published with a release store after every built event, for progress display.
    std::atomic<int>* layerCount = nullptr;
};

struct BuildResult {
    int eventsBuilt = 0;
    int layersPlaced = 0;
    int noMatchLayers = 0;
    int placeholderLayers = 0;  // sketches over the whole results after the build
    std::vector<int> missingLayers;  // results indices whose file is not in the library
    uint32_t seed = 0;
    std::string statusText;  // the placeholder line, empty when there are none
};

inline constexpr float kSpanSlack = 0.12f;  // layers may start or ring this far outside their event

float EventStart(const Event& event);
float EventEnd(const Event& event);

// Layers of a Spot, Bloom, Contour, Fill or Scatter event (3 to 7, hero up to 8;
// Fill with fillLayers: at least that many, at most 24).
int EventLayerCount(const Event& event);

// Rise and fall times of the event's intensity contour, in seconds.
struct ContourTimes {
    float rise = 0.0f;
    float fall = 0.0f;
};
ContourTimes EventContourTimes(const Event& event);

// Sketch layers stand in when the library offers nothing; they carry no file.
bool IsPlaceholderLayer(const Layer& layer);
int CountPlaceholderLayers(const std::vector<Layer>& layers);

// Builds one event (eventIndex >= 0; its lock is cleared first) or the whole timeline
// (-1), then limited to events whose time lies in [rangeStart, rangeEnd] when
// rangeStart >= 0 and rangeEnd > rangeStart. Clip and Bed events are always rebuilt
// by a whole-timeline build. The salt enters the random seed. The post-build passes
// are separate (RunPostBuildPasses).
BuildResult BuildEvents(Project& project, const std::vector<LibraryRoot>& roots, int eventIndex, float rangeStart,
                        float rangeEnd, uint32_t salt, const BuildOptions& options = {});

// The layer plays one of its event's pinned files ("Like — always use this sound").
bool LayerIsPinned(const Event& event, const Layer& layer);

// "Next sound": whether the layer's file was drawn (not pinned, not a Clip, Bed,
// Alloy stem or placeholder) so that another can be drawn in its place.
bool CanChooseNextSound(const Project& project, int layerIndex);
// Draws a fresh file for that one layer, as the build draws its slot of the event,
// never the file it has now nor one its event's other layers use (nor a banned one).
// The old sound goes into the layer's history. False, with nothing changed, when
// there is nothing else to choose. The post-build passes are the caller's.
bool ChooseNextSound(Project& project, const std::vector<LibraryRoot>& roots, int layerIndex,
                     const BuildOptions& options = {});

}  // namespace morvane
