#pragma once
// The picture read as the project keeps it (the "optical" record), and back.
#include "model/optical.h"
#include "trace/analysis.h"

namespace morvane {

// The eleven values of a stored frame row, in order: time, brightness, motion,
// cameraMotion, foregroundMass, panX, impact, flow, composite, adaptiveThr, accentThr.
// They are what the trace lane draws (the energy curve with its thresholds) and what
// reopening needs to show it again without reading the picture.
OpticalFrame OpticalFrameFromTrace(const TraceFrame& frame);
TraceFrame TraceFrameFromOptical(const OpticalFrame& row);

OpticalEvent OpticalEventFromTrace(const TraceEvent& event);
TraceEvent TraceEventFromOptical(const OpticalEvent& event);

// The record for the project; the slice level and its side are the caller's settings.
TraceResults TraceResultsFromAnalysis(const TraceAnalysis& analysis, float opticalDetail, bool keepAbove);

}  // namespace morvane
