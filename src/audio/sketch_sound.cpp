#include "audio/sketch_sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace morvane {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kSketchPeak = 0.25f;  // −12 dBFS

// The build's generator (state × 1103515245 + 12345), seeded by the caller.
struct SketchRandom {
    uint32_t state;
    float Next() {
        state = state * 1103515245u + 12345u;
        return static_cast<float>((state >> 16) & 0xFFFFu) / 65535.0f;
    }
    float Between(float lo, float hi) { return lo + (hi - lo) * Next(); }
    float Noise() { return 2.0f * Next() - 1.0f; }
};

// Coefficient of a one-pole low-pass at `hz`.
float OnePole(double hz, int rate) {
    return static_cast<float>(1.0 - std::exp(-2.0 * kPi * std::max(1.0, hz) / std::max(1, rate)));
}

struct Context {
    int64_t frames;
    int rate;
    double seconds;
    SketchRandom rng;
};

void SpotHit(Context& c, std::vector<float>& out) {
    // A band of noise (low-passed, minus its own rumble) with a fast attack.
    const float low = OnePole(c.rng.Between(1500.0f, 4000.0f), c.rate);
    const float rumble = OnePole(150.0, c.rate);
    const double tau = std::clamp(c.seconds * 0.2, 0.03, 0.15) * c.rng.Between(0.8f, 1.2f);
    const double attack = 0.002 * c.rate;
    float lp = 0.0f, hp = 0.0f;
    for (int64_t i = 0; i < c.frames; ++i) {
        lp += low * (c.rng.Noise() - lp);
        hp += rumble * (lp - hp);
        const double t = static_cast<double>(i) / c.rate;
        const double env = std::min(1.0, (i + 1) / attack) * std::exp(-t / tau);
        out[static_cast<size_t>(i)] = static_cast<float>((lp - hp) * env);
    }
}

void AlloyStrike(Context& c, std::vector<float>& out) {
    // The modes of a free bar: far from harmonic, so the strike reads as metal.
    constexpr double kRatios[] = {1.0, 2.756, 5.404, 8.933, 13.34};
    const double base = c.rng.Between(220.0f, 520.0f);
    const double tau = std::clamp(c.seconds * 0.35, 0.15, 1.2);
    double phase0[5], level[5], decay[5];
    for (int k = 0; k < 5; ++k) {
        phase0[k] = c.rng.Next() * 2.0 * kPi;
        level[k] = std::pow(k + 1.0, -0.7);  // higher modes quieter and shorter
        decay[k] = (1.0 + 0.6 * k) / tau;
    }
    const double attack = 0.001 * c.rate;
    const int64_t click = static_cast<int64_t>(0.003 * c.rate);
    for (int64_t i = 0; i < c.frames; ++i) {
        const double t = static_cast<double>(i) / c.rate;
        double v = 0.0;
        for (int k = 0; k < 5; ++k) {
            const double f = base * kRatios[k];
            if (f > 0.45 * c.rate) break;
            v += std::sin(2.0 * kPi * f * t + phase0[k]) * level[k] * std::exp(-t * decay[k]);
        }
        if (i < click) v += 0.5 * c.rng.Noise() * (1.0 - static_cast<double>(i) / click);
        out[static_cast<size_t>(i)] = static_cast<float>(v * std::min(1.0, (i + 1) / attack));
    }
}

void FillBed(Context& c, std::vector<float>& out) {
    // Twice low-passed noise: a soft, even bed without a shape of its own.
    const float low = OnePole(c.rng.Between(500.0f, 1000.0f), c.rate);
    float a = 0.0f, b = 0.0f;
    for (int i = 0; i < c.rate / 10; ++i) {  // settle the filters before the first sample
        a += low * (c.rng.Noise() - a);
        b += low * (a - b);
    }
    const double ramp = 0.02 * c.rate;
    for (int64_t i = 0; i < c.frames; ++i) {
        a += low * (c.rng.Noise() - a);
        b += low * (a - b);
        const double edge = std::min({1.0, (i + 1) / ramp, (c.frames - i) / ramp});
        out[static_cast<size_t>(i)] = static_cast<float>(b * edge);
    }
}

void WashSwell(Context& c, std::vector<float>& out) {
    // Noise that opens as it swells and closes as it falls.
    const double top = c.rng.Between(2000.0f, 4000.0f);
    const double peakAt = c.rng.Between(0.4f, 0.6f);
    float lp = 0.0f;
    for (int64_t i = 0; i < c.frames; ++i) {
        const double x = (i + 0.5) / static_cast<double>(c.frames);
        const double u = x < peakAt ? x / peakAt * 0.5 : 0.5 + (x - peakAt) / (1.0 - peakAt) * 0.5;
        const double s = std::sin(kPi * u);
        const double env = s * s;
        lp += OnePole(300.0 + top * env, c.rate) * (c.rng.Noise() - lp);
        out[static_cast<size_t>(i)] = static_cast<float>(lp * env);
    }
}

void ScatterTicks(Context& c, std::vector<float>& out) {
    const int ticks = std::clamp(static_cast<int>(c.seconds * 4.0) + 3, 3, 9);
    const int64_t length = std::max<int64_t>(1, std::min<int64_t>(static_cast<int64_t>(0.025 * c.rate), c.frames));
    const double tau = 0.004 * c.rate;
    for (int k = 0; k < ticks; ++k) {
        const int64_t at = static_cast<int64_t>(c.rng.Next() * static_cast<double>(c.frames - length));
        const float level = c.rng.Between(0.5f, 1.0f);
        float previous = 0.0f;
        for (int64_t i = 0; i < length && at + i < c.frames; ++i) {
            const float n = c.rng.Noise();
            const float bright = n - previous;  // first difference: a dry, bright tick
            previous = n;
            out[static_cast<size_t>(at + i)] += static_cast<float>(level * bright * std::exp(-i / tau));
        }
    }
}

void LowTone(Context& c, std::vector<float>& out) {
    const double f = c.rng.Between(70.0f, 140.0f);
    const double attack = 0.04;
    const double tau = std::clamp(c.seconds * 0.3, 0.1, 0.8);
    for (int64_t i = 0; i < c.frames; ++i) {
        const double t = static_cast<double>(i) / c.rate;
        const double rise = t < attack ? 0.5 - 0.5 * std::cos(kPi * t / attack) : 1.0;
        const double env = rise * std::exp(-std::max(0.0, t - attack) / tau);
        const double v = std::sin(2.0 * kPi * f * t) + 0.3 * std::sin(4.0 * kPi * f * t);
        out[static_cast<size_t>(i)] = static_cast<float>(v * env);
    }
}

}  // namespace

SketchKind SketchKindOfName(const std::string& name) {
    static constexpr struct {
        const char* name;
        SketchKind kind;
    } kNames[] = {{"[Sketch] Spot", SketchKind::Spot},   {"[Sketch] Alloy", SketchKind::Alloy},
                  {"[Sketch] Fill", SketchKind::Fill},   {"[Sketch] Wash", SketchKind::Wash},
                  {"[Sketch] Scatter", SketchKind::Scatter}};
    for (const auto& entry : kNames)
        if (name == entry.name) return entry.kind;
    return SketchKind::Layer;
}

uint32_t SketchSeed(float startTime, int eventIndex, int track) {
    uint32_t bits = 0;
    std::memcpy(&bits, &startTime, sizeof bits);
    // FNV-1a over the three values, then a final mix so nearby times differ widely.
    uint32_t h = 2166136261u;
    for (uint32_t v : {bits, static_cast<uint32_t>(eventIndex), static_cast<uint32_t>(track)})
        for (int b = 0; b < 4; ++b) h = (h ^ ((v >> (8 * b)) & 0xFFu)) * 16777619u;
    h ^= h >> 16;
    h *= 73244475u;
    h ^= h >> 16;
    return h;
}

std::vector<float> SynthesizeSketch(SketchKind kind, int64_t frames, int sampleRate, uint32_t seed) {
    Context c{std::max<int64_t>(1, frames), std::max(1000, sampleRate), 0.0, SketchRandom{seed}};
    c.seconds = static_cast<double>(c.frames) / c.rate;
    std::vector<float> out(static_cast<size_t>(c.frames), 0.0f);
    switch (kind) {
        case SketchKind::Spot: SpotHit(c, out); break;
        case SketchKind::Alloy: AlloyStrike(c, out); break;
        case SketchKind::Fill: FillBed(c, out); break;
        case SketchKind::Wash: WashSwell(c, out); break;
        case SketchKind::Scatter: ScatterTicks(c, out); break;
        case SketchKind::Layer: LowTone(c, out); break;
    }
    float peak = 0.0f;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    if (peak > 0.0f && std::isfinite(peak))
        for (float& v : out) v *= kSketchPeak / peak;
    return out;
}

}  // namespace morvane
