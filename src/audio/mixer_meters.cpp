#include "audio/mixer_meters.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

// The part of the way the running mean moves towards a buffer's mean square: one
// pole whose time constant is kMeterRmsSeconds, applied once per buffer.
float RmsWeight(int frames, int rate, float seconds = kMeterRmsSeconds) {
    if (rate < 1 || frames < 1) return 0.0f;
    return 1.0f - std::exp(-static_cast<float>(frames) / (seconds * static_cast<float>(rate)));
}

void RaisePeak(std::atomic<float>& peak, float value) {
    float seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

void Settle(StripMeter& meter, float bufferMeanSquare, float weight) {
    meter.meanSquare += (bufferMeanSquare - meter.meanSquare) * weight;
    // Below -120 dBFS the meter is at rest; no denormals creep in.
    if (meter.meanSquare < 1e-12f) meter.meanSquare = 0.0f;
    meter.rms.store(std::sqrt(meter.meanSquare), std::memory_order_relaxed);
}

}  // namespace

void FeedMeter(MixerMeters& meters, int strip, const float* left, const float* right, int frames, int rate) {
    if (strip < 0 || strip >= kMeterStripCount || frames < 1) return;
    StripMeter& meter = meters.strips[static_cast<size_t>(strip)];
    float peak = 0.0f;
    double sum = 0.0;
    for (int i = 0; i < frames; ++i) {
        const float l = left[i], r = right[i];
        peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
        sum += static_cast<double>(l) * l + static_cast<double>(r) * r;
    }
    RaisePeak(meter.peak, peak);
    Settle(meter, static_cast<float>(sum / (2.0 * frames)), RmsWeight(frames, rate));
}

void RestMeters(MixerMeters& meters, int frames, int rate) {
    // Once the sound has stopped the meters fall quickly rather than integrate: a
    // strip still lit after a stop reads as something still playing.
    const float weight = RmsWeight(frames, rate, kMeterRmsSeconds / 4.0f);
    for (StripMeter& meter : meters.strips)
        if (meter.meanSquare > 0.0f) Settle(meter, 0.0f, weight);
}

void ReadMeter(MixerMeters& meters, int strip, double nowSeconds, MeterDisplay& display) {
    if (strip < 0 || strip >= kMeterStripCount) return;
    StripMeter& meter = meters.strips[static_cast<size_t>(strip)];
    display.peak = meter.peak.exchange(0.0f, std::memory_order_relaxed);
    display.rms = meter.rms.load(std::memory_order_relaxed);
    if (display.peak >= display.hold || nowSeconds - display.holdSince > kPeakHoldSeconds) {
        display.hold = display.peak;
        display.holdSince = nowSeconds;
    }
}

float LevelDb(float linear) { return linear > 1e-5f ? 20.0f * std::log10(linear) : -100.0f; }

}  // namespace morvane
