#pragma once
// The learned trace model: a handful of parameters fitted to the user's decisions on
// proposed events (accepted or rejected). It replaces the fixed composite weights of the
// picture analysis and nudges detection and suggestions. Stored in the preferences file
// under keys beginning with "tm_".
#include <string>
#include <vector>

#include "model/preferences.h"

namespace morvane {

// The five features every judged event is described by, in the order of the weights:
// impact, flow, |brightnessDelta|, histogramDiff, normalised motion.
constexpr int kTraceFeatureCount = 5;

// The model itself lives in the preferences (TraceModelSettings, the "tm_" keys), which
// read and write it; the analysis and the fitting below only use it.
using TraceModel = TraceModelSettings;

// One judged event: its five features and whether the user kept it.
struct TraceJudgement {
    float time = 0;  // seconds
    float features[kTraceFeatureCount] = {};
    bool accepted = false;
};

struct TraceAnalysis;
struct TraceEvent;

// The features of a proposed event, read at its reference frame.
TraceJudgement JudgeTraceEvent(const TraceAnalysis& analysis, const TraceEvent& event, bool accepted);

// Fits a model from judged events. Fewer than 6 judgements, or no accepted event, gives an
// invalid model (the fixed weights stay in force). compositeMean is the mean of the
// composite curve the judgements were made on; the learned curve is rescaled to it, so the
// thresholds keep their meaning.
TraceModel FitTraceModel(const std::vector<TraceJudgement>& judgements, float compositeMean);

}  // namespace morvane
