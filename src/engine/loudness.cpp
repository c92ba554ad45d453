#include "engine/loudness.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace morvane {
namespace {

struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// The two K-weighting stages, derived for the actual rate so 44.1 kHz and 96 kHz
// material measure alike.
void KWeighting(double rate, Biquad* shelf, Biquad* highPass) {
    {
        const double k = std::tan(std::numbers::pi * 1681.974450955533 / rate);
        const double q = 0.7071752369554196, vh = 1.58489319246111, vb = 1.25872093023786;
        const double a0 = 1.0 + k / q + k * k;
        shelf->b0 = (vh + vb * k / q + k * k) / a0;
        shelf->b1 = 2.0 * (k * k - vh) / a0;
        shelf->b2 = (vh - vb * k / q + k * k) / a0;
        shelf->a1 = 2.0 * (k * k - 1.0) / a0;
        shelf->a2 = (1.0 - k / q + k * k) / a0;
    }
    {
        const double k = std::tan(std::numbers::pi * 38.13547087602444 / rate);
        const double q = 0.5003270373238773;
        const double a0 = 1.0 + k / q + k * k;
        highPass->b0 = 1.0 / a0;
        highPass->b1 = -2.0 / a0;
        highPass->b2 = 1.0 / a0;
        highPass->a1 = 2.0 * (k * k - 1.0) / a0;
        highPass->a2 = (1.0 - k / q + k * k) / a0;
    }
}

// Per hop of S samples: the summed squared K-weighted signal of the whole hop and of
// its first `partial` samples (a block of B = q*S + partial samples is then q whole
// hops plus the head of the next, whatever the rate).
struct HopSums {
    std::vector<double> whole;
    std::vector<double> head;
};

void AccumulateChannel(const float* x, int32_t frames, const Biquad& s1, const Biquad& s2, int32_t hop,
                       int32_t partial, HopSums& sums) {
    // Direct form I; each stage's output is kept as a float, as the stored signal would be.
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;  // shelf
    double u1 = 0, u2 = 0, w1 = 0, w2 = 0;  // high-pass
    for (int32_t i = 0; i < frames; ++i) {
        const double in = x[i];
        const float y = static_cast<float>(s1.b0 * in + s1.b1 * x1 + s1.b2 * x2 - s1.a1 * y1 - s1.a2 * y2);
        x2 = x1, x1 = in, y2 = y1, y1 = y;
        const double v = y;
        const float w = static_cast<float>(s2.b0 * v + s2.b1 * u1 + s2.b2 * u2 - s2.a1 * w1 - s2.a2 * w2);
        u2 = u1, u1 = v, w2 = w1, w1 = w;
        const double sq = static_cast<double>(w) * w;
        const size_t h = static_cast<size_t>(i / hop);
        sums.whole[h] += sq;
        if (i - static_cast<int32_t>(h) * hop < partial) sums.head[h] += sq;
    }
}

}  // namespace

float MeasureLoudness(const float* left, const float* right, int32_t frames, int32_t sampleRate) {
    if (left == nullptr || frames < 1 || sampleRate < 1) return kLoudnessSilence;
    Biquad shelf, highPass;
    KWeighting(static_cast<double>(sampleRate), &shelf, &highPass);

    const int32_t block = std::max(1, static_cast<int32_t>(0.4 * sampleRate));
    const int32_t hop = std::max(1, static_cast<int32_t>(0.1 * sampleRate));
    const int32_t whole = block / hop, partial = block % hop;
    const size_t hops = static_cast<size_t>(frames / hop) + 1;
    HopSums sums{std::vector<double>(hops, 0.0), std::vector<double>(hops, 0.0)};
    AccumulateChannel(left, frames, shelf, highPass, hop, partial, sums);
    if (right != nullptr) AccumulateChannel(right, frames, shelf, highPass, hop, partial, sums);

    std::vector<double> blocks;
    if (frames < block) {
        double total = 0;
        for (double v : sums.whole) total += v;
        blocks.push_back(total / frames);
    } else {
        const int32_t count = (frames - block) / hop + 1;
        blocks.reserve(static_cast<size_t>(count));
        for (int32_t k = 0; k < count; ++k) {
            double total = 0;
            for (int32_t j = 0; j < whole; ++j) total += sums.whole[static_cast<size_t>(k + j)];
            if (partial > 0) total += sums.head[static_cast<size_t>(k + whole)];
            blocks.push_back(total / block);
        }
    }

    const double absoluteGate = std::pow(10.0, -6.9309);
    double sum = 0;
    int kept = 0;
    for (double z : blocks)
        if (z > absoluteGate) sum += z, ++kept;
    if (kept == 0) return kLoudnessSilence;
    const double relativeGate = sum / kept / 10.0;
    double gatedSum = 0;
    int gated = 0;
    for (double z : blocks)
        if (z > absoluteGate && z > relativeGate) gatedSum += z, ++gated;
    if (gated == 0) return kLoudnessSilence;
    return static_cast<float>(-0.691 + 10.0 * std::log10(gatedSum / gated));
}

namespace {

// The meter takes 32-bit frame counts; longer material (over 12 hours at 48 kHz) is
// measured over its first 2^31-1 frames, which says as much about its loudness.
int32_t MeterFrames(int64_t frames) {
    return static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX));
}

}  // namespace

float LoudnessNormaliseGain(const float* left, const float* right, int64_t frames, int32_t sampleRate,
                            float targetLUFS) {
    if (frames < 1) return 1.0f;
    const float measured = MeasureLoudness(left, right, MeterFrames(frames), sampleRate);
    if (measured <= kLoudnessSilence) return 1.0f;
    const float correction = std::clamp(targetLUFS - measured, -30.0f, 30.0f);
    return std::pow(10.0f, correction / 20.0f);
}

float LayerNormGain(const float* left, const float* right, int64_t frames, int32_t sampleRate,
                    float groupTargetLUFS, bool normalizeOn, float previousNormGain) {
    if (!normalizeOn) return 1.0f;
    if (frames < 1) return previousNormGain;
    const float measured = MeasureLoudness(left, right, MeterFrames(frames), sampleRate);
    if (measured <= -90.0f) return previousNormGain;
    const float correction = std::clamp(groupTargetLUFS - measured, -30.0f, 18.0f);
    float gain = std::pow(10.0f, correction / 20.0f);
    float peak = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        peak = std::max(peak, std::fabs(left[i]));
        if (right != nullptr) peak = std::max(peak, std::fabs(right[i]));
    }
    if (peak > 0.0f) gain = std::min(gain, 0.891f / peak);
    return gain;
}

}  // namespace morvane
