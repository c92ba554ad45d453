#pragma once
// The files written after every completed picture read: a JSON dump of all measures and
// events (".mvtrace") and an annotation form (".mvtrace.csv") where a person marks, per
// proposed event, whether it is right, where it belongs and what was missed.
#include <string>

#include "trace/analysis.h"

namespace morvane {

// What the files say about where the measures came from.
struct TraceSource {
    std::string videoPath;
    float projectFps = 25.0f;     // the project frame rate; timecodes count at its rounded value
    float timecodeStart = 0.0f;   // seconds of timecode at timeline zero
    float videoStartTime = 0.0f;  // where the video begins on the timeline
    int width = 0, height = 0;    // the video's display size
};

// Folder of the project file (of the video when the project is not saved) + "/" + the
// video's name without its extension + "_trace".
std::string TraceFilesBasePath(const std::string& projectPath, const std::string& videoPath);

// Writes base + ".mvtrace" and base + ".mvtrace.csv"; true only when both were written.
bool WriteTraceFiles(const std::string& basePath, const TraceAnalysis& analysis, const TraceParams& params,
                     const TraceSource& source);

// "%02d:%02d:%02d:%02d" of max(0, timecodeStart + time) at the rounded frame rate
// (30 when the rate is below 1).
std::string TraceTimecode(float time, float timecodeStart, float fps);

// The frame that stands for an event in the files and in model fitting: the strongest
// composite among the five frames around the event's own frame.
struct TraceReference {
    int frame = 0;  // the event's own frame
    int shot = 0;
    float composite = 0, adaptiveThr = 0, accentThr = 0, flow = 0, cameraMotion = 0, spatialSpread = 0,
          brightness = 0, localMotionPeak = 0, panX = 0;
    // Largest over the five frames.
    float foregroundMass = 0, impact = 0, brightnessDelta = 0, histogramDiff = 0, motion = 0;
};
TraceReference TraceEventReference(const TraceAnalysis& analysis, const TraceEvent& event);

}  // namespace morvane
