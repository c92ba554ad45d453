#pragma once
// The results of the last picture trace as the project keeps them (the "optical" object
// of the project file). The picture-trace code converts its analysis into this record;
// the model only stores it, so the record holds plain numbers and no analysis state.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// Values per stored frame row. The file names the stride ("frameStride") so a reader can
// tell rows of another width apart; this build writes and reads rows of eleven.
inline constexpr int kOpticalFrameStride = 11;
using OpticalFrame = std::array<float, kOpticalFrameStride>;

inline constexpr size_t kOpticalKeywordsMaxBytes = 127;
inline constexpr size_t kOpticalPresetNameMaxBytes = 63;

// One event the trace proposed, with the user's review state.
struct OpticalEvent {
    float time = 0.0f;                // seconds on the timeline
    int32_t type = 0;                 // 0 Spot, 1 Cluster, 2 Fill
    float confidence = 0.0f;
    int32_t tier = 0;                 // 1: demoted to background
    float suggestedDuration = 1.0f;   // seconds
    int32_t suggestedShape = 0;       // an EventShape, 0..6
    float intensity = 0.0f;           // 0..1
    float suggestedGain = 1.0f;
    float suggestedSyncOffset = 0.0f;
    float suggestedWeightCenter = 0.5f;
    float suggestedSpread = 0.0f;
    bool hasIntensityCurve = false;   // intensityCurve is written and read only when set
    std::array<float, 256> intensityCurve{};
    std::string keywords;             // at most kOpticalKeywordsMaxBytes
    std::string presetName;           // at most kOpticalPresetNameMaxBytes
    bool accepted = false;
    int32_t peelLayer = 0;            // the detection pass that found the event

    bool operator==(const OpticalEvent&) const = default;
};

// Results of the last picture trace, kept with the project. `present` says that a trace
// has run; only then is the "optical" object written.
struct TraceResults {
    bool present = false;
    float duration = 0.0f;            // seconds of video analysed
    float fps = 10.0f;                // analysis rate, frames per second
    int32_t numFrames = 0;            // never more than frames.size() after reading
    float maxCompositeEnergy = 0.0f;
    float opticalDetail = 0.35f;      // the slice level on the trace lane
    bool traceKeepAbove = true;       // which side of the slice level stays
    float spatialAmount = -1.0f;      // -1 not set, else 0..1
    bool spatialEnhanced = false;
    std::vector<OpticalFrame> frames;
    std::vector<OpticalEvent> events;

    bool operator==(const TraceResults&) const = default;
};

}  // namespace morvane
