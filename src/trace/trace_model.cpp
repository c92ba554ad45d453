#include "trace/trace_model.h"

#include <algorithm>
#include <cmath>

#include "trace/analysis.h"
#include "trace/trace_files.h"

namespace morvane {

namespace {

// The fixed composite's share of each feature (impact, flow, |brightnessDelta|,
// histogramDiff, motion), the starting point that judgements move away from.
constexpr float kBaseWeights[kTraceFeatureCount] = {0.32f, 0.26f, 0.10f, 0.14f, 0.13f};

}  // namespace

TraceJudgement JudgeTraceEvent(const TraceAnalysis& analysis, const TraceEvent& event, bool accepted) {
    const TraceReference r = TraceEventReference(analysis, event);
    float maxMotion = 0;
    for (const TraceFrame& f : analysis.frames) maxMotion = std::max(maxMotion, f.motion);
    if (maxMotion <= 0.001f) maxMotion = 1;
    TraceJudgement j;
    j.time = event.time;
    j.features[0] = r.impact;
    j.features[1] = r.flow;
    j.features[2] = r.brightnessDelta;
    j.features[3] = r.histogramDiff;
    j.features[4] = r.motion / maxMotion;
    j.accepted = accepted;
    return j;
}

TraceModel FitTraceModel(const std::vector<TraceJudgement>& judgements, float compositeMean) {
    TraceModel m;
    int pos = 0, neg = 0;
    for (const TraceJudgement& j : judgements) (j.accepted ? pos : neg)++;
    if (pos + neg < 6 || pos < 1) return m;

    // Mean feature vectors of kept and rejected events, and the spread of each feature.
    double sumPos[kTraceFeatureCount] = {}, sumNeg[kTraceFeatureCount] = {}, sumAll[kTraceFeatureCount] = {},
           sumSq[kTraceFeatureCount] = {};
    for (const TraceJudgement& j : judgements) {
        for (int k = 0; k < kTraceFeatureCount; ++k) {
            const double v = std::isfinite(j.features[k]) ? j.features[k] : 0.0;
            (j.accepted ? sumPos : sumNeg)[k] += v;
            sumAll[k] += v;
            sumSq[k] += v * v;
        }
    }
    const int total = pos + neg;
    double weightSum = 0;
    for (int k = 0; k < kTraceFeatureCount; ++k) {
        m.posMean[k] = static_cast<float>(sumPos[k] / pos);
        m.negMean[k] = neg ? static_cast<float>(sumNeg[k] / neg) : 0.0f;
        const double mean = sumAll[k] / total;
        const double sd = std::sqrt(std::max(0.0, sumSq[k] / total - mean * mean));
        // A feature that separates kept from rejected events (in units of its own spread)
        // gains weight; one that marks rejected events loses it. Without rejections, the
        // features the kept events have most of gain a little.
        const double separation =
            neg ? (m.posMean[k] - m.negMean[k]) / (sd + 0.02) : (m.posMean[k] - mean) / (sd + 0.02) + 0.5 * mean;
        m.w[k] = static_cast<float>(kBaseWeights[k] * std::clamp(1.0 + 0.5 * separation, 0.25, 2.5));
        weightSum += m.w[k];
    }
    // Keep the weights' total, so the composite stays on the scale its thresholds expect.
    double baseSum = 0;
    for (float b : kBaseWeights) baseSum += b;
    for (float& w : m.w) w = static_cast<float>(w * baseSum / std::max(weightSum, 1e-9));

    m.defaultCompositeMean = compositeMean > 0.001f && std::isfinite(compositeMean) ? compositeMean : 0.0f;
    // Many rejections: ask for more before proposing; everything kept: propose more.
    const float keptShare = static_cast<float>(pos) / total;
    m.thresholdScale = std::clamp(1.6f - 1.2f * keptShare, 0.6f, 1.4f);
    m.subtleScale = m.thresholdScale;
    m.spotCutoff = 0.3f;
    m.gainA = 1.0f;
    m.gainB = 0.0f;
    m.weightBias = 0.0f;
    m.spotDurScale = 1.0f;
    m.sweepDurScale = 1.0f;
    // The editor never kept two events closer than their smallest spacing: candidates much
    // closer than that are one event to them. The learned gap (most of that spacing, at most
    // 2 s) raises the merging gap of the analysis; the user's own setting stays the floor.
    std::vector<float> times;
    for (const TraceJudgement& j : judgements)
        if (j.accepted && std::isfinite(j.time)) times.push_back(j.time);
    std::sort(times.begin(), times.end());
    float smallest = 2.5f;
    for (size_t i = 1; i < times.size(); ++i) smallest = std::min(smallest, times[i] - times[i - 1]);
    m.minGap = times.size() >= 2 ? std::clamp(0.8f * smallest, 0.0f, 2.0f) : 0.0f;
    m.posCount = pos;
    m.negCount = neg;
    m.totalSpots = total;
    m.valid = true;
    return m;
}

}  // namespace morvane
