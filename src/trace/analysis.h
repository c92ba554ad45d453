#pragma once
// Reading the picture: every sampled frame is measured for light and motion, then a
// sequence stage turns the measures into an energy curve, local thresholds and proposed
// events ("Spot", "Cluster", "Fill") for the user to review on the timeline.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace_model.h"

namespace morvane {

struct VideoState;

// One measured frame; the field order is the file order of the trace dump.
struct TraceFrame {
    float time = 0, brightness = 0, brightnessDelta = 0, motion = 0, histogramDiff = 0, colorTemp = 0,
          saturation = 0, cameraMotion = 0, rawDifference = 0, foregroundMass = 0, panX = 0, panY = 0,
          spatialSpread = 0, localMotionPeak = 0, impact = 0, flow = 0, composite = 0, adaptiveThr = 0,
          accentThr = 0;
};

enum TraceEventType : int32_t { kTraceSpot = 0, kTraceCluster = 1, kTraceFill = 2 };
const char* TraceEventTypeName(int type);  // "Spot", "Cluster", "Fill"

struct TraceEvent {
    float time = 0;
    int32_t type = kTraceSpot;
    float confidence = 0;
    int32_t tier = 0;
    float suggestedDuration = 1.0f;
    int32_t suggestedShape = 0;  // an EventShape
    float intensity = 0;
    float suggestedGain = 1.0f;
    float suggestedSyncOffset = 0;
    float suggestedWeightCenter = 0.5f;
    float suggestedSpread = 0;
    std::array<float, 256> intensityCurve{};
    bool hasIntensityCurve = false;
    std::string keywords;    // at most 127 bytes
    std::string presetName;  // at most 63 bytes
    std::string name;        // marker name of an imported event, at most 127 bytes
    bool accepted = false;
    int32_t peelLayer = 0;   // the detection pass that found the event
    bool background = false; // "BG" layer; otherwise "FG"
    bool imported = false;   // came from session markers (shown, hidden and cleared as a set)
    bool hardCut = false;    // the first frame of a new shot: never background, never in a cluster
};

struct TraceParams {
    float sensitivity = 0.5f;       // 0..1; higher proposes more, quieter events
    float minEventGap = 0.25f;      // seconds; closer candidates merge
    float adaptiveWindowSec = 3.0f; // seconds of the local threshold window
};

// State shared between the worker and the user interface. The interface reads progress
// and running every frame and sets cancel; it reads frames and events only once running
// is false.
struct TraceAnalysis {
    TraceAnalysis() = default;
    ~TraceAnalysis();
    TraceAnalysis(const TraceAnalysis&) = delete;
    TraceAnalysis& operator=(const TraceAnalysis&) = delete;

    std::atomic<bool> done{false}, running{false}, cancel{false};
    std::atomic<float> progress{0.0f};
    float rate = 10.0f;
    int frameCount = 0;
    float duration = 0;
    std::vector<TraceFrame> frames;
    std::vector<int> frameShot;   // shot index of each frame (after the sequence stage)
    std::vector<TraceEvent> events;

    // The previous frame, for the measures that compare two frames.
    std::vector<uint8_t> prevPixels;
    int prevWidth = 0, prevHeight = 0;
    std::vector<float> prevColumns, prevRows;
    float prevHistogram[24] = {};
    bool hasPrevHistogram = false;

    // The learned model, when one is active (its weights and target composite mean).
    TraceModel model;

    std::thread worker;
};

// Measures one delivered RGBA frame (index i) and appends it to analysis.frames.
void MeasureTraceFrame(TraceAnalysis& analysis, int index, const uint8_t* rgba, int width, int height);
// Turns the measured frames into curves, thresholds and events; sets done.
void RunTraceSequence(TraceAnalysis& analysis, const TraceParams& params);

// Moves each hard cut event from the analysed frame after the cut onto the cut's own
// frame, found by comparing the frames between the two analysed ones at the video's
// full rate. A change spread over several frames (a dissolve) keeps its analysed time.
void PlaceCutsOnTheirFrames(TraceAnalysis& analysis, VideoState& video);

// Starts the worker over the loaded video (false when nothing is loaded or a run is
// active). onFinished runs on the worker after an uncancelled run, before running clears;
// it is where the caller writes the trace files. The video stays loaded until the worker
// has been joined (cancel and join before closing or loading another).
bool StartTraceAnalysis(TraceAnalysis& analysis, VideoState& video, const TraceParams& params,
                        const TraceModel& model, std::function<void(TraceAnalysis&)> onFinished = {});
void CancelTraceAnalysis(TraceAnalysis& analysis);
void JoinTraceAnalysis(TraceAnalysis& analysis);
// Empties frames and events ("Clear the picture read"); joins a running worker first.
void ClearTraceAnalysis(TraceAnalysis& analysis);

// The event's strength on the trace lane, 0..1: what the slice level is compared with.
float TraceEventStrength(const TraceEvent& event);
// Indices of the events on the kept side of the slice level.
std::vector<int> EventsKeptBySlice(const std::vector<TraceEvent>& events, float level, bool keepAbove);

}  // namespace morvane
