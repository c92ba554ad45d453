#pragma once
// The records of the open project: timeline settings, events, built layers ("results"),
// user shapes, the three mix groups and their track layout, scenes, and the banned and
// linked sets. Plain records copied by value; the event list, undo snapshots and a
// bounced Clip's sources all hold copies.
//
// Units: times and durations in seconds on the timeline (zero is the start of the video),
// gains as linear factors, curves as 256 points spread evenly over an event's duration,
// each 0..1 with 0.5 neutral. Paths are full paths in memory.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/optical.h"

namespace morvane {

enum class EventShape : int32_t { Spot = 0, Bloom = 1, Contour = 2, Fill = 3, Scatter = 4, Clip = 5, Bed = 6 };
inline constexpr int kEventShapeCount = 7;
// Display names in shape order: "Spot", "Bloom", "Contour", "Fill", "Scatter", "Clip", "Bed".
extern const char* const kEventShapeNames[kEventShapeCount];
// The shape's display name; a value outside the table is clamped into it.
const char* EventShapeName(EventShape shape);
// Clamps a stored shape number to 0..6.
EventShape EventShapeFromInt(int value);

// Byte limits of the fixed-size text fields. Longer input is cut on reading and by
// CutText, never in the middle of a UTF-8 character.
inline constexpr size_t kKeywordsMaxBytes = 255;
inline constexpr size_t kNameMaxBytes = 63;
inline constexpr size_t kGroupNameMaxBytes = 31;
inline constexpr size_t kSceneKeywordsMaxBytes = 127;
inline constexpr size_t kPinnedFileMaxBytes = 511;
inline constexpr size_t kLibFilterMaxBytes = 511;

// text cut to at most maxBytes bytes, ending on a whole UTF-8 character.
std::string CutText(std::string_view text, size_t maxBytes);

inline constexpr int kCurvePoints = 256;
using Curve = std::array<float, kCurvePoints>;

template <size_t N>
constexpr std::array<float, N> FilledCurve(float value) {
    std::array<float, N> curve{};
    for (float& point : curve) point = value;
    return curve;
}
inline constexpr Curve kNeutralCurve = FilledCurve<kCurvePoints>(0.5f);

inline constexpr int kMaxFillLayers = 24;
inline constexpr int kMaxSceneCrossfadeFrames = 120;

// What an event's intensity curve does to its layers: nothing (the chosen files keep
// their own shape), shape them with a floor of 0.3 so quiet stretches thin out rather
// than vanish, or shape them without the floor. Stored as 0..2.
enum class IntensityMode : int32_t { FromFiles = 0, Shaped = 1, ShapedNoFloor = 2 };
inline constexpr int kIntensityModeCount = 3;

// The settings an event and a recipe share: what a recipe saves and applies. Their
// JSON keys, limits and older key names are the rows of kEventSettingsFields
// (model/event_fields.h), one row per field in this order.
struct EventSettings {
    float duration = 1.0f;
    float spread = 0.3f;
    float weightCenter = 0.3f;
    float intensityScale = 1.0f;
    float weightOffset = 0.0f;
    float syncOffset = 0.0f;
    EventShape shape = EventShape::Spot;
    IntensityMode intensityMode = IntensityMode::FromFiles;
    bool stereo = false;
    float gain = 1.0f;  // 0..1
    float alloyMorph = 1.0f;
    float pitchVariation = 0.0f;  // 0..1
    int32_t fillLayers = 0;         // 0..24
    float reverbSend = -1.0f;       // negative: the group's send applies
    int32_t groupOverride = -1;     // mix group 0..2 forced for this event, -1 none
    std::string keywords;           // at most kKeywordsMaxBytes
    std::string pinnedFile;         // at most kPinnedFileMaxBytes
    std::string pinnedFileId;
    std::vector<std::string> pinnedFiles;    // bed layers of a Bed; forced files otherwise
    std::vector<std::string> pinnedFileIds;  // parallel to pinnedFiles
    std::vector<uint8_t> bedLayerLoop;       // per pinned file: 0/1
    std::vector<float> bedLayerWeight;       // per pinned file: 0..1, or -1 not set
    float clipWeight = -1.0f;         // Clip only: "Clip gain"; negative means not set
    float clipSourceOffset = 0.0f;    // Clip only: start inside the source file
    float clipSourceDuration = 0.0f;  // Clip only: length taken from the source
    float clipFadeIn = -1.0f;         // Clip only: negative means not set
    float clipFadeOut = -1.0f;
    std::string libFilter;  // at most kLibFilterMaxBytes
    Curve weight = kNeutralCurve;
    Curve intensity = kNeutralCurve;

    bool operator==(const EventSettings&) const = default;
};

// One event on the timeline: its settings plus where it sits and how it is tied to the
// rest of the project.
struct Event : EventSettings {
    float time = 0.0f;
    int32_t userShapeIdx = -1;  // index into the project's user shapes, -1 none
    bool locked = false;        // Clip and Bed always count as locked: see IsEventLocked
    bool muted = false;
    bool hero = false;  // ranks first under the track budget
    bool alloy = false;
    int32_t scaleTuneOverride = 0;  // 0..2
    int32_t sceneLink = -1;         // index of the scene whose timing this event follows, -1 none
    int32_t sceneCrossfade = 1;     // video frames, 0..120
    bool sceneFill = false;         // the background (Fill or Bed) of a scene
    bool hasPinnedFile = false;     // set when a non-empty pinnedFile was read or chosen
    std::vector<Event> bounceSource;  // a bounced Clip's original events, to reverse the bounce
    std::string folder;      // event folder, at most kNameMaxBytes
    std::string presetName;  // recipe applied to this event, at most kNameMaxBytes
    // The session text file (its name) this event was imported from as a marker; a new
    // import of that file replaces these events. Empty for every other event.
    std::string markerSource;
    Curve traceGain = kNeutralCurve;  // gain measured by the picture trace
    bool hasTraceGain = false;

    bool operator==(const Event&) const = default;
};

// Clip and Bed events are always locked, whatever their flag says.
bool IsEventLocked(const Event& event);

struct FillChunk {
    int32_t s = 0;
    int32_t l = 0;
    int32_t x = 0;
    bool operator==(const FillChunk&) const = default;
};

// One source of an alloy layer.
struct AlloyPart {
    std::string filepath;
    std::string fileId;
    float offset = 0.0f;
    float duration = 0.0f;
    std::string name;
    bool operator==(const AlloyPart&) const = default;
};

// How a layer's audio is made. Stored as 0..3.
enum class ProcMode : int32_t {
    Segment = 0,        // a stretch of its file
    Fill = 1,           // assembled from the fill chunks
    StereoSegment = 2,  // a stretch of its file with the layer's stereo handling passed through
    Alloy = 3,          // made from the alloy parts (alloyMid, alloyHigh, alloyEnv)
};
inline constexpr int kProcModeCount = 4;

inline constexpr int kIntGainPoints = 256;
inline constexpr int kFillGainPoints = 128;
inline constexpr int kDeconGainPoints = 32;
inline constexpr int kEqBands = 5;

struct Layer;

// Earlier sounds of one layer, oldest first, each a snapshot of the layer's sound,
// and a cursor: -1 while the layer plays its newest choice, else the snapshot shown.
// Part of undo with the layer, and saved with it in the project file under "history".
struct LayerHistory {
    std::vector<Layer> entries;
    int32_t cursor = -1;
    bool operator==(const LayerHistory&) const;
};

// One placed sound of a built event: an element of the results list.
struct Layer {
    std::string name;
    std::string filepath;
    std::string fileId;
    float sourceOffset = 0.0f;
    float sourceDuration = 0.0f;
    float startTime = 0.0f;
    float duration = 0.0f;
    float weight = 0.0f;
    int32_t eventIdx = 0;
    int32_t track = 0;
    int32_t group = 0;  // mix group 0..2
    int32_t groupTrack = 0;
    ProcMode procMode = ProcMode::Segment;
    float fadeIn = 0.01f;
    float fadeOut = 0.05f;
    float audioSyncOffset = 0.0f;
    bool stereo = false;
    bool muted = false;
    bool fillLoop = false;
    float layerGain = 1.0f;
    float userVolume = 1.0f;  // 0..2
    float normGain = 1.0f;    // loudness normalisation, 0.001..8
    float pitchShift = 0.0f;
    float pitchVarShift = 0.0f;
    float deconOffset = 0.0f;  // shift applied by deconfliction
    // Optional curves, each meaningful only when its flag is set.
    bool hasIntGain = false;
    std::array<float, kIntGainPoints> intGain = FilledCurve<kIntGainPoints>(1.0f);
    bool hasFillGain = false;
    std::array<float, kFillGainPoints> fillGain = FilledCurve<kFillGainPoints>(1.0f);
    bool hasDeconGain = false;
    std::array<float, kDeconGainPoints> deconGain = FilledCurve<kDeconGainPoints>(1.0f);
    bool hasEqGains = false;
    std::array<float, kEqBands> eqGains = FilledCurve<kEqBands>(1.0f);
    std::vector<FillChunk> fillChunks;  // ProcMode::Fill
    float alloyMorph = 1.0f;            // ProcMode::Alloy and the alloy fields below
    int32_t alloyAlgo = 0;              // 0..3
    AlloyPart alloyMid;
    AlloyPart alloyHigh;
    AlloyPart alloyEnv;
    LayerHistory history;

    bool operator==(const Layer&) const = default;
};

// A custom shape the user saved; events refer to it by index (userShapeIdx).
struct UserShape {
    std::string name;      // at most kNameMaxBytes
    std::string keywords;  // at most kKeywordsMaxBytes
    float defaultDuration = 2.0f;
    float spread = 0.3f;
    float weightCenter = 0.3f;
    float intensityScale = 1.0f;
    float weightOffset = 0.0f;
    float syncOffset = 0.0f;
    Curve weight = kNeutralCurve;
    Curve intensity = kNeutralCurve;
    bool operator==(const UserShape&) const = default;
};

// A named time range. Linked events follow its timing; it may own one background event.
struct Scene {
    std::string name;  // at most kNameMaxBytes
    float inTime = 0.0f;
    float outTime = 0.0f;
    std::string keywords;  // at most kSceneKeywordsMaxBytes
    bool operator==(const Scene&) const = default;
};

inline constexpr int kGroupCount = 3;

// One of the three mix groups, numbered 0, 1, 2.
struct Group {
    std::string name;  // at most kGroupNameMaxBytes
    int32_t trackCount = 4;  // 1..32
    bool stereo = false;
    float targetLUFS = -24.0f;  // -60..-6
    bool operator==(const Group&) const = default;
};

struct TrackLayout {
    std::array<Group, kGroupCount> groups;
    // "Cap each group's track count. Excess layers are muted, Hero events first."
    bool budgetMode = false;
    bool operator==(const TrackLayout&) const = default;
};

struct TimelineSettings {
    float totalDuration = 30.0f;
    float fps = 24.0f;
    float startTC = 0.0f;  // timecode of timeline zero
    float maxEventDuration = 30.0f;
    int32_t scaleType = 0;           // 0..16
    int32_t scaleRoot = 0;           // 0..11
    int32_t pitchShiftProb = 0;      // % 0..100
    int32_t freqShiftIntensity = 0;  // % 0..100
    int32_t reverseProb = 0;         // % 0..100
    bool normalizeLUFS = true;
    int32_t alloyAlgorithm = 2;       // 0..3
    float alloyTransferDepth = 0.2f;  // 0..1
    float alloyAttackGraft = 0.03f;   // 0..0.2
    float alloyMicroPitch = 0.03f;    // 0..0.15
    int32_t alloyFilterBands = 10;    // 4..24
    bool operator==(const TimelineSettings&) const = default;
};

// Brings every setting into its limits.
void ClampTimelineSettings(TimelineSettings& settings);

// The timeline part of the open project. The event list is read by the render side while
// the user interface edits it; replacing it wholesale (undo, redo, opening) happens under
// timelineMutex.
struct TimelineState {
    TimelineSettings settings;
    std::vector<Event> events;  // in order of creation, addressed by index
    std::vector<Layer> results;
    std::vector<UserShape> userShapes;
    bool built = false;  // the timeline has been built and layers exist
    TrackLayout trackLayout;
    std::vector<std::string> bannedFiles;  // paths never to be chosen again
    std::vector<std::string> bannedFileIds;
    std::vector<std::string> linkedGroups;  // event folders that select and move as a unit
    std::vector<Scene> scenes;
};

// Guards wholesale replacement of the event list. There is one open project per process,
// so there is one lock.
extern std::mutex timelineMutex;

// Export choices saved with the project. The export code owns their meaning.
struct ExportSettings {
    bool exportWithHandles = false;
    float handleDuration = 1.0f;
    bool handleFullSource = false;
    float fadeInDuration = 0.0f;
    float fadeOutDuration = 0.0f;
    bool snapToFrames = false;
    bool exportAAFMarkers = false;
    bool exportAAFVolAuto = false;
    bool exportFillVirtual = false;
    bool exportFormatAAF = false;
    bool exportFormatWAV = true;
    bool exportWavMixdown = true;
    bool exportWavStems = false;
    bool exportWavTracks = false;
    bool exportWavClips = false;
    bool exportReverbStem = false;
    bool exportAAFSourceChannels = false;
    bool operator==(const ExportSettings&) const = default;
};

// The project's reverb; the reverb code owns the meaning of each value.
struct ReverbSettings {
    bool enabled = false;
    float size = 0.5f;
    float decay = 0.5f;
    float damping = 0.5f;
    float preDelay = 0.0f;
    float diffusion = 0.5f;
    float modulation = 0.0f;
    std::array<float, kGroupCount> groupSends{0.0f, 0.0f, 0.0f};
    float macro = 0.5f;  // one control over several of the values above; 0..1
    bool operator==(const ReverbSettings&) const = default;
};

// TraceResults, the picture-trace record kept with the project, lives in model/optical.h.

// Undo keeps copies of these, and nothing else.
struct UndoSnapshot {
    std::vector<Event> events;
    std::vector<Layer> results;
    std::vector<UserShape> userShapes;
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;  // kept with the paths they belong to
    std::vector<Scene> scenes;
    // The linked folders go with the events' folder names: undoing an ungroup gives
    // back a folder that still selects as a unit.
    std::vector<std::string> linkedGroups;
    bool built = false;
};

struct UndoHistory {
    std::vector<UndoSnapshot> undo;  // oldest first
    std::vector<UndoSnapshot> redo;  // oldest first
};

inline constexpr int kMaxUndoSnapshots = 50;

// Where a mix group's layers sit in the sound field.
enum class PlacementMode : int32_t { Direct = 0, Spread = 1, Diffuse = 2 };
inline constexpr int kPlacementModeCount = 3;

// A group's placement mode and its amount in percent (0..100).
struct GroupPlacement {
    PlacementMode mode = PlacementMode::Direct;
    float amount = 50.0f;
    bool operator==(const GroupPlacement&) const = default;
};

struct Project {
    TimelineState timeline;
    std::string videoPath;
    float videoStartTime = 0.0f;
    int32_t projectSampleRate = 48000;  // 44100, 48000, 88200 or 96000
    float masterGain = 1.0f;
    float refGain = 1.0f;  // reference-audio gain
    std::array<float, kGroupCount> groupGain{1.0f, 1.0f, 1.0f};  // groupGain0..groupGain2
    std::string projectDescription;
    std::vector<std::string> libraryPaths;  // library folders used by this project
    ExportSettings exportSettings;
    float workAreaIn = -1.0f;  // -1: no work area
    float workAreaOut = -1.0f;
    ReverbSettings reverb;
    TraceResults optical;
    std::array<GroupPlacement, kGroupCount> groupPlacement{};
    bool modified = false;  // unsaved changes exist
    UndoHistory history;
};

// True for 44100, 48000, 88200 and 96000.
bool IsProjectSampleRate(int rate);

// The one open project of this process.
Project& CurrentProject();

}  // namespace morvane
