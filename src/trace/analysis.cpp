#include "trace/analysis.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include "trace/video.h"

namespace morvane {

namespace {

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

float Median(std::vector<float>& values) {
    if (values.empty()) return 0.0f;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + mid, values.end());
    float m = values[mid];
    if (values.size() % 2 == 0) {
        float lower = *std::max_element(values.begin(), values.begin() + mid);
        m = 0.5f * (m + lower);
    }
    return m;
}

// Median and 1.4826 x median absolute deviation (a robust standard deviation).
void RobustSpread(const float* data, int count, float* median, float* sigma) {
    std::vector<float> v(data, data + count);
    const float m = Median(v);
    for (float& x : v) x = std::fabs(x - m);
    *median = m;
    *sigma = 1.4826f * Median(v);
}

// Best global shift of the current profile against the previous one within +-maxShift,
// by the mean squared difference over the overlap; content moved by `shift` means
// current[x] matches previous[x - shift]. Each side's mean over the overlap is taken out
// first, so a change of light over the whole frame (a flash, a fade) is not mistaken for
// a camera move. Near-ties keep the smaller shift: a flat or evenly changing picture has
// no shift at all.
int BestShift(const std::vector<float>& current, const std::vector<float>& previous, int maxShift) {
    const int n = static_cast<int>(current.size());
    int best = 0;
    double bestError = 1e300;
    for (int s = 0; s <= maxShift; ++s) {
        for (int sign : {1, -1}) {
            const int shift = s * sign;
            if (s == 0 && sign < 0) continue;
            const int from = std::max(0, shift), to = std::min(n, n + shift);
            if (to - from < 1) continue;
            double meanC = 0, meanP = 0;
            for (int x = from; x < to; ++x) {
                meanC += current[x];
                meanP += previous[x - shift];
            }
            meanC /= to - from;
            meanP /= to - from;
            double error = 0;
            for (int x = from; x < to; ++x) {
                const double d = (current[x] - meanC) - (previous[x - shift] - meanP);
                error += d * d;
            }
            error /= to - from;
            if (error < bestError * (1 - 1e-3) - 1e-9) {
                bestError = error;
                best = shift;
            }
        }
    }
    return best;
}

int MaxShift(int size) {
    const int m = size / 10;
    return m < 5 ? 4 : m;
}

inline float Luma(float r, float g, float b) { return 0.2126f * r + 0.7152f * g + 0.0722f * b; }

}  // namespace

const char* TraceEventTypeName(int type) {
    switch (type) {
        case kTraceCluster: return "Cluster";
        case kTraceFill: return "Fill";
        default: return "Spot";
    }
}

void MeasureTraceFrame(TraceAnalysis& a, int index, const uint8_t* rgba, int w, int h) {
    TraceFrame f;
    f.time = index / a.rate;
    if (!rgba || w < 1 || h < 1) {
        a.frames.push_back(f);
        return;
    }
    const float k = 1.0f / 255.0f;
    double sumLuma = 0, sumR = 0, sumG = 0, sumB = 0, sumSat = 0;
    float histogram[24] = {};
    std::vector<float> columns(w, 0.0f), rows(h, 0.0f);
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = rgba + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x, p += 4) {
            const float r = p[0] * k, g = p[1] * k, b = p[2] * k;
            const float luma = Luma(r, g, b);
            sumLuma += luma;
            sumR += r;
            sumG += g;
            sumB += b;
            const float mx = std::max({r, g, b}), mn = std::min({r, g, b});
            if (mx > 0.001f) sumSat += (mx - mn) / mx;
            histogram[std::min(7, static_cast<int>(r * 8))] += 1;
            histogram[8 + std::min(7, static_cast<int>(g * 8))] += 1;
            histogram[16 + std::min(7, static_cast<int>(b * 8))] += 1;
            columns[x] += luma;
            rows[y] += luma;
        }
    }
    const double pixels = static_cast<double>(w) * h;
    f.brightness = static_cast<float>(sumLuma / pixels);
    const float meanR = static_cast<float>(sumR / pixels), meanG = static_cast<float>(sumG / pixels),
                meanB = static_cast<float>(sumB / pixels);
    f.colorTemp = std::clamp((meanR - meanB) / std::max(0.01f, meanG * 0.5f + 0.3f), -1.0f, 1.0f);
    f.saturation = static_cast<float>(sumSat / pixels);
    for (float& bin : histogram) bin = static_cast<float>(bin / pixels);
    if (a.hasPrevHistogram) {
        float diff = 0;
        for (int i = 0; i < 24; ++i) diff += std::fabs(histogram[i] - a.prevHistogram[i]);
        f.histogramDiff = diff / 6.0f;
    }
    for (float& c : columns) c /= h;
    for (float& r : rows) r /= w;

    const bool comparable = a.prevWidth == w && a.prevHeight == h && !a.prevPixels.empty();
    if (comparable) {
        const int dx = BestShift(columns, a.prevColumns, MaxShift(w));
        const int dy = BestShift(rows, a.prevRows, MaxShift(h));
        f.cameraMotion = Clamp01(std::sqrt(static_cast<float>(dx * dx + dy * dy)) /
                                 (std::sqrt(static_cast<float>(w * w + h * h)) * 0.08f));

        auto difference = [](const uint8_t* c, const uint8_t* p) {
            const float k2 = 1.0f / 255.0f;
            const float r = c[0] * k2, g = c[1] * k2, b = c[2] * k2;
            const float r2 = p[0] * k2, g2 = p[1] * k2, b2 = p[2] * k2;
            const float y1 = Luma(r, g, b), y2 = Luma(r2, g2, b2);
            return std::fabs(std::log(y1 + 0.01f) - std::log(y2 + 0.01f)) +
                   0.3f * (std::fabs((r - r2) - (g - g2)) + std::fabs((b - b2) - (g - g2)));
        };
        double rawSum = 0, compSum = 0;
        long rawCount = 0, compCount = 0;
        double regionSum[16] = {};
        long regionCount[16] = {};
        const uint8_t* prev = a.prevPixels.data();
        for (int y = 0; y < h; y += 2) {
            const int ry = std::min(3, 4 * y / h);
            for (int x = 0; x < w; x += 2) {
                const uint8_t* c = rgba + (static_cast<size_t>(y) * w + x) * 4;
                rawSum += difference(c, prev + (static_cast<size_t>(y) * w + x) * 4);
                ++rawCount;
                const int px = x - dx, py = y - dy;
                if (px < 0 || py < 0 || px >= w || py >= h) continue;
                const float d = difference(c, prev + (static_cast<size_t>(py) * w + px) * 4);
                compSum += d;
                ++compCount;
                const int region = ry * 4 + std::min(3, 4 * x / w);
                regionSum[region] += d;
                ++regionCount[region];
            }
        }
        f.rawDifference = rawCount ? static_cast<float>(rawSum / (rawCount * 3.0)) : 0.0f;
        f.motion = compCount ? static_cast<float>(compSum / (compCount * 3.0)) : 0.0f;

        double m[16], sum = 0, sumSq = 0, peak = 0, cx = 0, cy = 0;
        for (int r = 0; r < 16; ++r) {
            m[r] = regionCount[r] ? regionSum[r] / regionCount[r] : 0.0;
            sum += m[r];
            sumSq += m[r] * m[r];
            peak = std::max(peak, m[r]);
            cx += m[r] * (0.125 + 0.25 * (r % 4));
            cy += m[r] * (0.125 + 0.25 * (r / 4));
        }
        f.localMotionPeak = static_cast<float>(peak / 3.0);
        if (sum > 0.000001) {
            const double X = cx / sum, Y = cy / sum;
            f.panX = static_cast<float>(2 * X - 1);
            f.panY = static_cast<float>(2 * Y - 1);
            double spread = 0;
            for (int r = 0; r < 16; ++r) {
                const double ex = 0.125 + 0.25 * (r % 4) - X, ey = 0.125 + 0.25 * (r / 4) - Y;
                spread += m[r] * (ex * ex + ey * ey);
            }
            f.spatialSpread = Clamp01(static_cast<float>(std::sqrt(spread / sum) / 0.4));
        }
        if (sumSq > 0.000000001)
            f.foregroundMass = Clamp01(static_cast<float>((1.0 - sum * sum / (16.0 * sumSq)) * 16.0 / 15.0));
    }
    if (!a.frames.empty()) f.brightnessDelta = f.brightness - a.frames.back().brightness;

    a.prevPixels.assign(rgba, rgba + static_cast<size_t>(w) * h * 4);
    a.prevWidth = w;
    a.prevHeight = h;
    a.prevColumns = std::move(columns);
    a.prevRows = std::move(rows);
    std::copy(histogram, histogram + 24, a.prevHistogram);
    a.hasPrevHistogram = true;
    a.frames.push_back(f);
}

namespace {

struct Candidate {
    int frame = 0;
    int pass = 0;
    float peak = 0;        // P, on the pass's curve
    float prominence = 0;  // S
    float time = 0;
    float peelWidth = 0;   // seconds
    float halfWidth = 0;   // seconds, width at P - 0.5 S
    float baseWidth = 0;   // seconds, width at P - 0.85 S
    bool dropped = false;
};

// Width (in frames) of the run around `peak` where the curve stays at or above `level`.
int RunWidth(const std::vector<float>& curve, int peak, float level) {
    const int n = static_cast<int>(curve.size());
    int left = peak, right = peak;
    while (left - 1 >= 0 && curve[left - 1] >= level) --left;
    while (right + 1 < n && curve[right + 1] >= level) ++right;
    return right - left + 1;
}

// P minus the higher of the two lowest values met walking away from the peak on each side
// until the curve rises above P again.
float Prominence(const std::vector<float>& curve, int peak) {
    const int n = static_cast<int>(curve.size());
    const float p = curve[peak];
    float leftMin = p, rightMin = p;
    for (int i = peak - 1; i >= 0 && curve[i] <= p; --i) leftMin = std::min(leftMin, curve[i]);
    for (int i = peak + 1; i < n && curve[i] <= p; ++i) rightMin = std::min(rightMin, curve[i]);
    return p - std::max(leftMin, rightMin);
}

// Local thresholds over windows clipped to the frame's shot.
void LocalThresholds(const std::vector<float>& curve, const std::vector<int>& shotFirst,
                     const std::vector<int>& shotLast, int half, float sigmas, float floor,
                     std::vector<float>* out, float accentSigmas = 0, float accentFloor = 0,
                     std::vector<float>* accent = nullptr) {
    const int n = static_cast<int>(curve.size());
    out->assign(n, 0.05f);
    if (accent) accent->assign(n, 0.05f);
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(i - half, shotFirst[i]), hi = std::min(i + half, shotLast[i]);
        if (hi - lo + 1 < 3) continue;
        float m = 0, sigma = 0;
        RobustSpread(curve.data() + lo, hi - lo + 1, &m, &sigma);
        (*out)[i] = std::max(floor, m + sigmas * sigma);
        if (accent) (*accent)[i] = std::max(accentFloor, m + accentSigmas * sigma);
    }
}

// What the steps of one sequence share: the frames, and the curves and limits
// measured once at the start.
struct SequenceContext {
    std::vector<TraceFrame>& frames;
    const TraceModel& model;
    int n = 0;
    float rate = 10.0f;
    std::vector<float> motion{};   // each frame's motion over the largest
    float largestPeak = 1;         // largest local motion peak
    std::vector<float> energy{};   // the smoothed composite energy, before any peeling
    float largestEnergy = 0.001f;  // C
    std::vector<int> shotFirst{}, shotLast{};
    int half = 2;                  // half the adaptive threshold window, in frames
    float thresholdScale = 1, subtleScale = 1;
};

// Motion normalised to its maximum; each frame's impact and flow.
void MeasureImpactAndFlow(SequenceContext& s) {
    std::vector<TraceFrame>& fr = s.frames;
    const int n = s.n;
    float maxMotion = 0, maxPeak = 0;
    for (const TraceFrame& f : fr) {
        maxMotion = std::max(maxMotion, f.motion);
        maxPeak = std::max(maxPeak, f.localMotionPeak);
    }
    if (maxMotion <= 0.001f) maxMotion = 1;
    if (maxPeak <= 0.001f) maxPeak = 1;
    s.largestPeak = maxPeak;
    std::vector<float>& m = s.motion;
    m.resize(n);
    for (int i = 0; i < n; ++i) m[i] = fr[i].motion / maxMotion;
    for (int i = 0; i < n; ++i) {
        const float p = (i > 0 && i < n - 1) ? std::max(0.0f, m[i] - (m[i - 1] + m[i + 1]) * 0.5f) : 0.0f;
        const float A = 2 * p, B = 3 * std::fabs(fr[i].brightnessDelta), H = 2 * fr[i].histogramDiff;
        fr[i].impact = Clamp01(std::max({A, B, H}) + 0.5f * (p * B + p * H + B * H));
    }
    const int w = std::max(1, static_cast<int>(s.rate * 0.25f));
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - w), hi = std::min(n - 1, i + w);
        float sum = 0;
        for (int j = lo; j <= hi; ++j) sum += m[j];
        fr[i].flow = sum / (hi - lo + 1);
    }
}

// The composite energy of each frame (the learned weights when a model is active),
// smoothed over three frames.
void MeasureCompositeEnergy(SequenceContext& s) {
    std::vector<TraceFrame>& fr = s.frames;
    const TraceModel& model = s.model;
    const int n = s.n;
    std::vector<float> composite(n);
    for (int i = 0; i < n; ++i) {
        const TraceFrame& f = fr[i];
        if (model.valid) {
            composite[i] = model.w[0] * f.impact + model.w[1] * f.flow + model.w[2] * std::fabs(f.brightnessDelta) +
                           model.w[3] * f.histogramDiff + model.w[4] * s.motion[i];
        } else {
            const float g = f.foregroundMass * 0.7f + 0.3f;
            composite[i] = 0.26f * g * f.flow + 0.32f * f.impact + 0.14f * f.histogramDiff + 0.13f * g * s.motion[i] +
                           0.15f * g * (f.localMotionPeak / s.largestPeak);
        }
    }
    if (model.valid && model.defaultCompositeMean > 0.001f) {
        const float mean = std::accumulate(composite.begin(), composite.end(), 0.0f) / n;
        if (mean > 0.001f)
            for (float& c : composite) c *= model.defaultCompositeMean / mean;
    }
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - 1), hi = std::min(n - 1, i + 1);
        float sum = 0;
        for (int j = lo; j <= hi; ++j) sum += composite[j];
        fr[i].composite = sum / (hi - lo + 1);
    }
    s.energy.resize(n);
    for (int i = 0; i < n; ++i) s.energy[i] = fr[i].composite;
    s.largestEnergy = std::max(*std::max_element(s.energy.begin(), s.energy.end()), 0.001f);
}

// Shots: hard cuts stand out of the histogram change by a robust margin.
void FindShots(SequenceContext& s, std::vector<int>& frameShot) {
    const int n = s.n;
    s.shotFirst.assign(n, 0);
    s.shotLast.assign(n, n - 1);
    std::vector<float> hd(n);
    for (int i = 0; i < n; ++i) hd[i] = s.frames[i].histogramDiff;
    float median = 0, sigma = 0;
    RobustSpread(hd.data(), n, &median, &sigma);
    const float cut = std::max(0.25f, median + 5 * sigma);
    std::vector<int> starts{0};
    for (int i = 1; i <= n - 2; ++i) {
        if (hd[i] > cut && hd[i] >= hd[i - 1] && hd[i] > hd[i + 1] && i - starts.back() > 2) starts.push_back(i);
    }
    frameShot.assign(n, 0);
    for (size_t shot = 0; shot < starts.size(); ++shot) {
        const int lo = starts[shot], hi = shot + 1 < starts.size() ? starts[shot + 1] - 1 : n - 1;
        for (int i = lo; i <= hi; ++i) {
            s.shotFirst[i] = lo;
            s.shotLast[i] = hi;
            frameShot[i] = static_cast<int>(shot);
        }
    }
}

// A local maximum of `curve` at frame i that is an event of this pass, or nothing.
std::optional<Candidate> CandidateAt(const SequenceContext& s, const std::vector<float>& curve,
                                     const std::vector<float>& thr, int i, int pass) {
    const std::vector<TraceFrame>& fr = s.frames;
    const int n = s.n;
    const float C = s.largestEnergy, rate = s.rate;
    if (!(curve[i] > curve[i - 1] && curve[i] >= curve[i + 1])) return std::nullopt;
    const float level = (1 - 0.35f * fr[i].foregroundMass) * std::max(0.006f * C, thr[i]) * s.thresholdScale;
    float lowest = curve[i];
    for (int j = std::max(0, i - 3); j <= std::min(n - 1, i + 3); ++j) lowest = std::min(lowest, curve[j]);
    const bool above = curve[i] > level;
    const bool prominent = curve[i] - lowest > 0.08f * C * s.subtleScale;
    if (!above && !prominent) return std::nullopt;
    const float prominence = std::max(Prominence(curve, i), 1e-6f);
    // Steady movement sampled at 10 per second ripples (the sampled frames are not
    // evenly spaced in a 24 or 25 fps source). A peak that clears the local threshold
    // but rises less than half its height over its surroundings is that ripple, not a
    // moment; a clearly prominent peak stands on its own.
    if (!prominent && prominence < 0.5f * curve[i]) return std::nullopt;
    // A curve normalised to its own maximum turns grain and compression noise into
    // peaks. Nothing visible changed unless light, colour or the picture moved by a
    // measurable amount around this frame; a sound editor marks nothing there.
    bool visible = false;
    for (int j = std::max(0, i - 1); j <= std::min(n - 1, i + 1); ++j) {
        if (fr[j].impact > 0.03f || fr[j].histogramDiff > 0.02f || fr[j].motion > 0.002f * s.thresholdScale)
            visible = true;
    }
    if (!visible || curve[i] < 0.004f) return std::nullopt;
    Candidate c;
    c.frame = i;
    c.pass = pass;
    c.peak = curve[i];
    c.prominence = prominence;
    float offset = 0;
    const float y0 = curve[i - 1], y1 = curve[i], y2 = curve[i + 1];
    const float denom = y0 - 2 * y1 + y2;
    if (std::fabs(denom) > 1e-9f) offset = std::clamp(0.5f * (y0 - y2) / denom, -1.0f, 1.0f);
    c.time = (i + offset) / rate;
    c.halfWidth = RunWidth(curve, i, c.peak - 0.5f * c.prominence) / rate;
    c.baseWidth = RunWidth(curve, i, c.peak - 0.85f * c.prominence) / rate;
    // Peeling reaches as far as the peak's foot, and at least a frame on each side,
    // so the frames of one peak do not come back as events of their own.
    c.peelWidth = std::max(c.baseWidth, 2.0f / rate);
    return c;
}

// Lowers the curve around each candidate, so the next pass sees what lay beneath.
void PeelCandidates(const std::vector<Candidate>& candidates, float rate, std::vector<float>& curve) {
    const int n = static_cast<int>(curve.size());
    for (const Candidate& c : candidates) {
        const int lo = std::max(0, static_cast<int>((c.time - c.peelWidth) * rate));
        const int hi = std::min(n - 1, static_cast<int>((c.time + c.peelWidth) * rate) + 1);
        for (int i = lo; i <= hi; ++i) {
            const float d = std::fabs(i / rate - c.time);
            if (d < c.peelWidth) curve[i] *= 1 - 0.9f * std::exp(-4.5f * (d / c.peelWidth) * (d / c.peelWidth));
        }
    }
    for (float& v : curve) v = std::max(0.0f, v);
}

// Detection passes with peeling: each pass takes the peaks of the curve left by the
// passes before it.
std::vector<Candidate> FindCandidates(const SequenceContext& s, std::vector<float> thr) {
    std::vector<Candidate> found;
    std::vector<float> curve = s.energy;
    for (int pass = 0; pass < 4; ++pass) {
        std::vector<Candidate> passFound;
        for (int i = 1; i <= s.n - 2; ++i) {
            const std::optional<Candidate> c = CandidateAt(s, curve, thr, i, pass);
            if (!c) continue;
            // A later pass looks for shoulders hidden under a bigger peak, not for that peak's
            // own neighbouring frames: anything within a frame and a half of an event found
            // earlier belongs to that event.
            bool skirt = false;
            for (const Candidate& e : found)
                if (std::fabs(e.time - c->time) < 1.5f / s.rate) skirt = true;
            if (!skirt) passFound.push_back(*c);
        }
        if (passFound.empty()) break;
        PeelCandidates(passFound, s.rate, curve);
        found.insert(found.end(), passFound.begin(), passFound.end());
        if (*std::max_element(curve.begin(), curve.end()) < 0.06f * s.largestEnergy) break;
        LocalThresholds(curve, s.shotFirst, s.shotLast, s.half, 1.35f, 0.006f, &thr);
    }
    return found;
}

// Candidates closer than the minimum gap are one event: the stronger one (earlier pass,
// then larger peak) stands for both. The survivors in time order.
std::vector<Candidate> MergeCloseCandidates(std::vector<Candidate> found, float minGap) {
    std::sort(found.begin(), found.end(), [](const Candidate& x, const Candidate& y) {
        if (x.pass != y.pass) return x.pass < y.pass;
        return x.peak > y.peak;
    });
    std::vector<Candidate> kept;
    for (const Candidate& c : found) {
        bool close = false;
        for (const Candidate& k : kept)
            if (std::fabs(k.time - c.time) < minGap) close = true;
        if (!close) kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(), [](const Candidate& x, const Candidate& y) { return x.time < y.time; });
    return kept;
}

// Point or longer event. A sudden change (a cut, a flash, a hit: high impact) or a
// sharp peak that clears the accent threshold is a hard sync point: the sound is
// centred on it, with its own lead-in and tail. Anything else is movement that rises
// and falls: the sound starts with it and follows the curve.
void ShapeEvent(const SequenceContext& s, const Candidate& c, float spotCutoff, TraceEvent& e) {
    const std::vector<TraceFrame>& fr = s.frames;
    const TraceModel& model = s.model;
    const int n = s.n;
    float impact = 0;
    for (int j = std::max(0, c.frame - 1); j <= std::min(n - 1, c.frame + 1); ++j)
        impact = std::max(impact, fr[j].impact);
    const bool sharp = c.halfWidth <= 0.25f && s.energy[c.frame] > fr[c.frame].accentThr;
    const bool point = impact >= spotCutoff || sharp;
    if (point) {
        float d = std::clamp(c.baseWidth, 0.6f, 6.0f);
        if (c.pass > 0) d = std::max(0.4f, 0.7f * c.baseWidth);
        if (model.valid) d *= model.spotDurScale;
        e.suggestedDuration = d;
        e.suggestedSyncOffset = d * 0.5f;
        e.suggestedSpread = std::clamp(0.2f * c.baseWidth, 0.1f, 0.5f);
        e.suggestedShape = 0;  // Spot
        return;
    }
    float d = std::clamp(c.baseWidth, 0.3f, 2.5f);
    if (c.pass > 0) d = std::max(0.2f, 0.7f * c.baseWidth);
    if (model.valid) d *= model.sweepDurScale;
    e.suggestedDuration = d;
    e.suggestedSyncOffset = 0;
    e.suggestedSpread = 0;
    e.suggestedShape = 2;  // Contour: follows the motion's curve
    // The intensity curve follows the energy over the event's duration.
    float peak = 1e-6f;
    for (int i = 0; i < 256; ++i) {
        const float t = e.time + d * i / 255.0f;
        const int j = std::clamp(static_cast<int>(t * s.rate), 0, n - 1);
        e.intensityCurve[i] = s.energy[j];
        peak = std::max(peak, s.energy[j]);
    }
    for (float& v : e.intensityCurve) v = Clamp01(v / peak);
    e.hasIntensityCurve = true;
}

// One spot event per kept candidate, with its strength, gain, weight and shape.
std::vector<TraceEvent> EventsFromCandidates(const SequenceContext& s, const std::vector<Candidate>& kept) {
    const TraceModel& model = s.model;
    float maxProminence = 1e-6f;
    for (const Candidate& c : kept) maxProminence = std::max(maxProminence, c.prominence);
    const float spotCutoff = model.valid && model.spotCutoff > 0 ? model.spotCutoff : 0.3f;
    std::vector<TraceEvent> events;
    for (const Candidate& c : kept) {
        const TraceFrame& f = s.frames[c.frame];
        const float k = static_cast<float>(c.pass);
        TraceEvent e;
        e.time = std::max(0.0f, c.time);
        e.type = kTraceSpot;
        e.peelLayer = c.pass;
        e.confidence = c.prominence / maxProminence / (1 + k * 0.5f);
        float gain = (c.prominence / maxProminence * 0.85f + 0.15f) / (1 + 0.7f * k);
        if (model.valid) gain = model.gainA * gain + model.gainB;
        e.suggestedGain = std::clamp(gain, 0.05f, 1.0f);
        e.suggestedWeightCenter = std::clamp(0.7f * f.brightness + 0.15f - 0.15f * f.motion + 0.05f * f.colorTemp +
                                                 (model.valid ? model.weightBias : 0.0f),
                                             0.05f, 0.95f);
        e.intensity = Clamp01(c.peak / s.largestEnergy / (1 + k));
        ShapeEvent(s, c, spotCutoff, e);
        events.push_back(e);
    }
    return events;
}

// Background demotion: an event that neither clears the accent level nor stands out of
// its own shot, or barely rises over its surroundings, is background.
void DemoteBackground(const SequenceContext& s, std::vector<TraceEvent>& events) {
    const std::vector<TraceFrame>& fr = s.frames;
    const std::vector<float>& first = s.energy;
    const int n = s.n;
    const int around = std::max(2, static_cast<int>(s.rate * 0.5f));
    for (TraceEvent& e : events) {
        if (e.background || e.hardCut) continue;
        const int j = std::clamp(static_cast<int>(e.time * s.rate), 0, n - 1);
        float v = 0, acc = 1e30f, fm = 0, M = 0, low = 1e30f;
        for (int i = std::max(0, j - 2); i <= std::min(n - 1, j + 2); ++i) {
            v = std::max(v, first[i]);
            acc = std::min(acc, fr[i].accentThr);
            fm = std::max(fm, fr[i].foregroundMass);
        }
        for (int i = s.shotFirst[j]; i <= s.shotLast[j]; ++i) M = std::max(M, first[i]);
        for (int i = std::max(0, j - around); i <= std::min(n - 1, j + around); ++i) low = std::min(low, first[i]);
        const float r = v > 0.000001f ? (v - low) / v : 0.0f;
        if ((v < (1 - 0.35f * fm) * acc && v < 0.35f * M) || r < 0.2f) {
            e.background = true;
            e.tier = 1;
        }
    }
}

// A hard cut nothing else proposed: a hit at the first analysed frame of the shot.
TraceEvent CutEvent(const SequenceContext& s, int k) {
    const TraceFrame& f = s.frames[k];
    TraceEvent e;
    e.time = f.time;
    e.type = kTraceSpot;
    e.intensity = Clamp01(s.energy[k] / s.largestEnergy);
    e.confidence = Clamp01(2 * f.histogramDiff);
    e.suggestedGain = std::max(0.15f, e.intensity);
    e.suggestedWeightCenter = std::clamp(0.7f * f.brightness + 0.15f - 0.15f * f.motion + 0.05f * f.colorTemp, 0.05f, 0.95f);
    e.suggestedDuration = 0.6f * (s.model.valid ? s.model.spotDurScale : 1.0f);
    return e;
}

// Hard cuts are sync points whatever moves around them: each shot start gets a
// foreground point event at the first analysed frame of the new shot (the nearest
// proposed spot takes that part, or a new one), kept out of the background demotion
// and out of clusters. The read later moves it onto the cut's own frame.
void MarkCuts(const SequenceContext& s, std::vector<TraceEvent>& events) {
    for (int k = 1; k < s.n; ++k) {
        if (s.shotFirst[k] != k) continue;
        const float t = s.frames[k].time;
        int nearest = -1;
        for (size_t q = 0; q < events.size(); ++q) {
            const float d = std::fabs(events[q].time - t);
            if (events[q].type == kTraceSpot && d <= 1.5f / s.rate &&
                (nearest < 0 || d < std::fabs(events[nearest].time - t)))
                nearest = static_cast<int>(q);
        }
        if (nearest < 0) {
            events.push_back(CutEvent(s, k));
            nearest = static_cast<int>(events.size()) - 1;
        }
        TraceEvent& e = events[nearest];
        e.time = t;
        e.hardCut = true;
        e.background = false;
        e.tier = 0;
        e.suggestedShape = 0;  // Spot: the sound is centred on the cut
        e.suggestedSyncOffset = 0.5f * e.suggestedDuration;
        e.suggestedSpread = std::max(0.1f, e.suggestedSpread);
        e.hasIntensityCurve = false;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const TraceEvent& x, const TraceEvent& y) { return x.time < y.time; });
}

// Whether the intervals of events [i, j) vary by at most half their mean.
bool EvenlySpaced(const std::vector<TraceEvent>& events, size_t i, size_t j) {
    std::vector<float> gaps;
    for (size_t q = i + 1; q < j; ++q) gaps.push_back(events[q].time - events[q - 1].time);
    const float mean = std::accumulate(gaps.begin(), gaps.end(), 0.0f) / gaps.size();
    float var = 0;
    for (float g : gaps) var += (g - mean) * (g - mean);
    const float cv = mean <= 0.0001f ? 1.0f : std::sqrt(var / gaps.size()) / mean;
    return cv <= 0.5f;
}

// The one "Cluster" event standing for the run of events [i, j).
TraceEvent ClusterOf(const std::vector<TraceEvent>& events, size_t i, size_t j) {
    TraceEvent c = events[i];
    c.type = kTraceCluster;
    c.suggestedShape = 4;  // Scatter
    const TraceEvent& last = events[j - 1];
    c.suggestedDuration = std::max(0.3f, last.time - c.time + std::min(last.suggestedDuration, 1.0f));
    c.suggestedSyncOffset = 0;
    c.suggestedSpread = 0.5f;
    c.hasIntensityCurve = false;
    c.background = true;
    float conf = 0;
    for (size_t q = i; q < j; ++q) {
        c.intensity = std::max(c.intensity, events[q].intensity);
        c.suggestedGain = std::max(c.suggestedGain, events[q].suggestedGain);
        c.peelLayer = std::min(c.peelLayer, events[q].peelLayer);
        conf += events[q].confidence;
        // One foreground hit makes the whole run foreground.
        c.background = c.background && events[q].background;
    }
    c.confidence = conf / (j - i);
    c.tier = c.background ? 1 : 0;
    return c;
}

// Runs and the cluster step. Several events of one type in quick, even succession
// (footsteps, a strobe, gunfire) are one rhythmic sound to a sound editor, not a row of
// separate spots: a run of at least 3 with intervals varying by at most half their mean
// becomes one "Cluster" event over the run, shaped as a Scatter.
void GroupRuns(std::vector<TraceEvent>& events) {
    std::vector<TraceEvent> out;
    size_t i = 0;
    while (i < events.size()) {
        size_t j = i + 1;
        while (j < events.size() && events[j].type == events[j - 1].type && events[j].type != kTraceFill &&
               !events[j].hardCut && !events[j - 1].hardCut && events[j].time - events[j - 1].time <= 1.2f)
            ++j;
        if (j - i >= 3 && EvenlySpaced(events, i, j)) {
            out.push_back(ClusterOf(events, i, j));
        } else {
            for (size_t q = i; q < j; ++q) out.push_back(events[q]);
        }
        i = j;
    }
    events = std::move(out);
}

// The "Fill" event over frames [i, j) of the smoothed density curve, whose highest
// value is `peak`.
TraceEvent FillEvent(const SequenceContext& s, const std::vector<float>& smooth, int i, int j, double peak) {
    const std::vector<TraceFrame>& fr = s.frames;
    TraceEvent e;
    e.time = i / s.rate;
    e.type = kTraceFill;
    e.suggestedShape = 3;  // Fill
    e.suggestedDuration = (j - i) / s.rate;
    e.intensity = Clamp01(static_cast<float>(peak));
    e.confidence = Clamp01(static_cast<float>(peak));
    e.suggestedGain = std::clamp(static_cast<float>(peak) * 0.6f, 0.05f, 1.0f);
    e.suggestedWeightCenter =
        std::clamp(0.7f * fr[i].brightness + 0.15f - 0.15f * fr[i].motion + 0.05f * fr[i].colorTemp, 0.05f, 0.95f);
    e.background = true;
    e.tier = 1;
    for (int k = 0; k < 256; ++k) {
        const int q = std::clamp(i + static_cast<int>((j - i) * k / 256.0f), 0, s.n - 1);
        e.intensityCurve[k] = Clamp01(smooth[q] / static_cast<float>(peak));
    }
    e.hasIntensityCurve = true;
    return e;
}

// The fill step. Motion spread over the whole frame for a sustained stretch (rain, a crowd,
// traffic, foliage) asks for a background bed, not for spots: where the density curve
// (diffuse flow) stays above 0.35 for at least 2 s and the picture really moves, one
// "Fill" event covers the stretch. The events end in time order.
void AddFills(const SequenceContext& s, std::vector<TraceEvent>& events) {
    const std::vector<TraceFrame>& fr = s.frames;
    const int n = s.n;
    std::vector<float> density(n), smooth(n);
    for (int i = 0; i < n; ++i) density[i] = (1 - 0.85f * fr[i].foregroundMass) * fr[i].flow;
    const int w = std::max(5, static_cast<int>(s.rate * 1.75f));
    for (int i = 0; i < n; ++i) {
        const int lo = std::max(0, i - w), hi = std::min(n - 1, i + w);
        float sum = 0;
        for (int j = lo; j <= hi; ++j) sum += density[j];
        smooth[i] = sum / (hi - lo + 1);
    }
    const float level = 0.35f * s.thresholdScale;
    for (int i = 0; i < n;) {
        if (smooth[i] < level) {
            ++i;
            continue;
        }
        int j = i;
        double motion = 0, peak = 0;
        while (j < n && smooth[j] >= level) {
            motion += fr[j].motion;
            peak = std::max<double>(peak, smooth[j]);
            ++j;
        }
        const float length = (j - i) / s.rate;
        if (length >= 2.0f && motion / (j - i) >= 0.01) events.push_back(FillEvent(s, smooth, i, j, peak));
        i = j;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const TraceEvent& x, const TraceEvent& y) { return x.time < y.time; });
}

}  // namespace

void RunTraceSequence(TraceAnalysis& a, const TraceParams& params) {
    a.events.clear();
    a.frameShot.clear();
    const int n = static_cast<int>(a.frames.size());
    a.frameCount = n;
    if (n < 5) {
        a.done = true;
        return;
    }
    SequenceContext s{a.frames, a.model};
    s.n = n;
    s.rate = a.rate > 0 ? a.rate : 10.0f;
    MeasureImpactAndFlow(s);
    MeasureCompositeEnergy(s);
    FindShots(s, a.frameShot);

    const int window = std::max(5, static_cast<int>(params.adaptiveWindowSec * s.rate));
    s.half = std::max(2, window / 2);
    std::vector<float> thr, accent;
    LocalThresholds(s.energy, s.shotFirst, s.shotLast, s.half, 1.2f, 0.006f, &thr, 1.6f, 0.012f, &accent);
    for (int i = 0; i < n; ++i) {
        a.frames[i].adaptiveThr = thr[i];
        a.frames[i].accentThr = accent[i];
    }
    // Sensitivity 0.5 keeps the thresholds as measured; 1 halves them, 0 raises them by half.
    s.thresholdScale = 1.5f - Clamp01(params.sensitivity);
    s.subtleScale = s.thresholdScale;
    if (a.model.valid) {
        s.thresholdScale *= a.model.thresholdScale;
        s.subtleScale *= a.model.subtleScale;
    }

    const float minGap = std::max(params.minEventGap, a.model.valid ? a.model.minGap : 0.0f);
    a.events = EventsFromCandidates(s, MergeCloseCandidates(FindCandidates(s, thr), minGap));
    MarkCuts(s, a.events);
    DemoteBackground(s, a.events);
    GroupRuns(a.events);
    AddFills(s, a.events);
    a.done = true;
}

namespace {

// Mean colour difference of two pictures of the same size, 0..1.
float PictureDifference(const uint8_t* x, const uint8_t* y, size_t pixels) {
    uint64_t sum = 0;
    for (size_t i = 0; i < pixels * 4; i += 4)
        sum += std::abs(x[i] - y[i]) + std::abs(x[i + 1] - y[i + 1]) + std::abs(x[i + 2] - y[i + 2]);
    return pixels ? static_cast<float>(sum / (pixels * 3.0 * 255.0)) : 0.0f;
}

// The time of the frame that starts the new shot between the analysed frames k - 1 and
// k, or a negative number when no single change stands out there.
double CutFrameTime(const TraceAnalysis& a, VideoState& video, int k) {
    // The sampler delivers, for each of its times, the first frame within half a frame
    // period before it or later (timestamps rounded either way); the range holds both
    // analysed frames with room for that rounding.
    const double margin = video.fps > 0 ? 0.75 / video.fps : 0.03;
    const double from = (k - 1) / a.rate - margin, to = k / a.rate + margin;
    std::vector<uint8_t> previous;
    std::vector<double> times;
    std::vector<float> changes;  // changes[j]: between frames j and j + 1
    ReadFramesBetween(video, from, to, 160, [&](int, float time, const uint8_t* rgba, int w, int h) {
        const size_t bytes = static_cast<size_t>(w) * h * 4;
        if (previous.size() == bytes) changes.push_back(PictureDifference(previous.data(), rgba, bytes / 4));
        previous.assign(rgba, rgba + bytes);
        times.push_back(time);
    });
    if (changes.empty()) return -1.0;
    const auto best = std::max_element(changes.begin(), changes.end());
    float second = 0;
    for (auto it = changes.begin(); it != changes.end(); ++it)
        if (it != best) second = std::max(second, *it);
    if (*best < 0.02f || *best < 2 * second) return -1.0;
    return times[static_cast<size_t>(best - changes.begin()) + 1];
}

}  // namespace

void PlaceCutsOnTheirFrames(TraceAnalysis& a, VideoState& video) {
    for (TraceEvent& e : a.events) {
        if (!e.hardCut || a.cancel) continue;
        const int k = static_cast<int>(std::lround(e.time * a.rate));
        if (k < 1) continue;
        const double t = CutFrameTime(a, video, k);
        if (t >= 0) e.time = static_cast<float>(t);
    }
    std::stable_sort(a.events.begin(), a.events.end(),
                     [](const TraceEvent& x, const TraceEvent& y) { return x.time < y.time; });
}

TraceAnalysis::~TraceAnalysis() {
    cancel = true;
    if (worker.joinable()) worker.join();
}

bool StartTraceAnalysis(TraceAnalysis& a, VideoState& video, const TraceParams& params, const TraceModel& model,
                        std::function<void(TraceAnalysis&)> onFinished) {
    if (!video.loaded || a.running) return false;
    if (a.worker.joinable()) a.worker.join();
    a.progress = 0;
    a.cancel = false;
    a.done = false;
    a.running = true;
    a.rate = 10.0f;
    a.duration = video.duration;
    a.frames.clear();
    // A damaged file can claim any duration; the reservation is only a hint, so it is capped
    // (ten hours) rather than trusted.
    a.frames.reserve(static_cast<size_t>(std::clamp(a.duration * 10.0f, 0.0f, 360000.0f)) + 2);
    a.frameShot.clear();
    a.events.clear();
    a.prevPixels.clear();
    a.prevWidth = a.prevHeight = 0;
    a.hasPrevHistogram = false;
    a.model = model.valid ? model : TraceModel{};
    a.worker = std::thread([&a, &video, params, finished = std::move(onFinished)] {
        SampleFrames(
            video, a.rate, 160,
            [&a](int index, float, const uint8_t* rgba, int w, int h) { MeasureTraceFrame(a, index, rgba, w, h); },
            [&a](float fraction) {
                a.progress = fraction;
                return a.cancel ? -1.0f : 0.0f;
            });
        if (!a.cancel) {
            RunTraceSequence(a, params);
            PlaceCutsOnTheirFrames(a, video);  // reads the video again: it can be cancelled too
        }
        if (a.cancel) {
            // A cancelled run keeps nothing.
            a.frames.clear();
            a.events.clear();
            a.frameShot.clear();
            a.done = false;
        } else {
            a.progress = 1.0f;
            if (finished) finished(a);
        }
        a.prevPixels.clear();
        a.prevPixels.shrink_to_fit();
        a.running = false;
    });
    return true;
}

void CancelTraceAnalysis(TraceAnalysis& a) { a.cancel = true; }

void JoinTraceAnalysis(TraceAnalysis& a) {
    if (a.worker.joinable()) a.worker.join();
}

void ClearTraceAnalysis(TraceAnalysis& a) {
    a.cancel = true;
    JoinTraceAnalysis(a);
    a.frames.clear();
    a.frameShot.clear();
    a.events.clear();
    a.frameCount = 0;
    a.done = false;
    a.progress = 0;
}

float TraceEventStrength(const TraceEvent& e) {
    // Loud and certain events stand high on the lane; background events sit in its lower
    // half, so a slice level around the middle keeps the foreground.
    const float s = Clamp01(e.intensity) * (0.5f + 0.5f * Clamp01(e.confidence));
    return e.background ? 0.5f * s : s;
}

std::vector<int> EventsKeptBySlice(const std::vector<TraceEvent>& events, float level, bool keepAbove) {
    std::vector<int> kept;
    for (size_t i = 0; i < events.size(); ++i) {
        const float s = TraceEventStrength(events[i]);
        if (keepAbove ? s >= level : s < level) kept.push_back(static_cast<int>(i));
    }
    return kept;
}

}  // namespace morvane
