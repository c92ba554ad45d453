#include "trace/trace_results.h"

#include <algorithm>

#include "model/timeline.h"

namespace morvane {

OpticalFrame OpticalFrameFromTrace(const TraceFrame& f) {
    return {f.time, f.brightness, f.motion, f.cameraMotion, f.foregroundMass, f.panX,
            f.impact, f.flow, f.composite, f.adaptiveThr, f.accentThr};
}

TraceFrame TraceFrameFromOptical(const OpticalFrame& r) {
    TraceFrame f;
    f.time = r[0];
    f.brightness = r[1];
    f.motion = r[2];
    f.cameraMotion = r[3];
    f.foregroundMass = r[4];
    f.panX = r[5];
    f.impact = r[6];
    f.flow = r[7];
    f.composite = r[8];
    f.adaptiveThr = r[9];
    f.accentThr = r[10];
    return f;
}

OpticalEvent OpticalEventFromTrace(const TraceEvent& e) {
    OpticalEvent o;
    o.time = e.time;
    o.type = e.type;
    o.confidence = e.confidence;
    // The stored record has no layer flag: background is its tier 1.
    o.tier = e.background ? std::max(1, e.tier) : e.tier;
    o.suggestedDuration = e.suggestedDuration;
    o.suggestedShape = std::clamp(e.suggestedShape, 0, 6);
    o.intensity = e.intensity;
    o.suggestedGain = e.suggestedGain;
    o.suggestedSyncOffset = e.suggestedSyncOffset;
    o.suggestedWeightCenter = e.suggestedWeightCenter;
    o.suggestedSpread = e.suggestedSpread;
    o.hasIntensityCurve = e.hasIntensityCurve;
    o.intensityCurve = e.intensityCurve;
    o.keywords = CutText(e.keywords, kOpticalKeywordsMaxBytes);
    o.presetName = CutText(e.presetName, kOpticalPresetNameMaxBytes);
    o.accepted = e.accepted;
    o.peelLayer = e.peelLayer;
    return o;
}

TraceEvent TraceEventFromOptical(const OpticalEvent& o) {
    TraceEvent e;
    e.time = o.time;
    e.type = std::clamp(o.type, 0, 2);
    e.confidence = o.confidence;
    e.tier = o.tier;
    e.background = o.tier >= 1;
    e.suggestedDuration = o.suggestedDuration;
    e.suggestedShape = std::clamp(o.suggestedShape, 0, 6);
    e.intensity = o.intensity;
    e.suggestedGain = o.suggestedGain;
    e.suggestedSyncOffset = o.suggestedSyncOffset;
    e.suggestedWeightCenter = o.suggestedWeightCenter;
    e.suggestedSpread = o.suggestedSpread;
    e.hasIntensityCurve = o.hasIntensityCurve;
    e.intensityCurve = o.intensityCurve;
    e.keywords = o.keywords;
    e.presetName = o.presetName;
    e.accepted = o.accepted;
    e.peelLayer = o.peelLayer;
    return e;
}

TraceResults TraceResultsFromAnalysis(const TraceAnalysis& a, float opticalDetail, bool keepAbove) {
    TraceResults r;
    r.present = true;
    r.duration = a.duration;
    r.fps = a.rate;
    r.numFrames = static_cast<int32_t>(a.frames.size());
    r.opticalDetail = opticalDetail;
    r.traceKeepAbove = keepAbove;
    for (const TraceFrame& f : a.frames) {
        r.maxCompositeEnergy = std::max(r.maxCompositeEnergy, f.composite);
        r.frames.push_back(OpticalFrameFromTrace(f));
    }
    for (const TraceEvent& e : a.events) r.events.push_back(OpticalEventFromTrace(e));
    return r;
}

}  // namespace morvane
