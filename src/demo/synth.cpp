#include "demo/synth.h"

#include <algorithm>
#include <cmath>

namespace morvane::demo {

uint32_t SynthRng::NextBits() {
    uint32_t x = state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state = x;
    return x;
}

float SynthRng::Uniform() { return static_cast<float>(NextBits() >> 8) * (1.0f / 16777216.0f); }
float SynthRng::Bipolar() { return Uniform() * 2.0f - 1.0f; }
float SynthRng::Range(float low, float high) { return low + (high - low) * Uniform(); }

int FramesOf(float seconds, int rate) {
    return std::max(1, static_cast<int>(std::lround(static_cast<double>(seconds) * rate)));
}

Signal WhiteNoise(int frames, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames));
    for (float& v : s) v = rng.Bipolar();
    return s;
}

Signal BrownNoise(int frames, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames));
    float y = 0.0f;
    for (float& v : s) {
        y = 0.995f * y + 0.05f * rng.Bipolar();
        v = y;
    }
    return s;
}

Signal SineGlide(int frames, int rate, float startHz, float endHz) {
    Signal s(static_cast<size_t>(frames));
    double phase = 0.0;
    const double ratio = static_cast<double>(endHz) / startHz;
    for (int i = 0; i < frames; ++i) {
        const double hz = startHz * std::pow(ratio, static_cast<double>(i) / frames);
        phase += 2.0 * 3.14159265358979 * hz / rate;
        s[static_cast<size_t>(i)] = static_cast<float>(std::sin(phase));
    }
    return s;
}

Signal ModalStrike(int frames, int rate, const std::vector<Partial>& partials, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    for (const Partial& p : partials) {
        if (p.hz <= 0.0f || p.hz >= 0.45f * rate) continue;
        const double hz = p.hz * (1.0 + 0.01 * rng.Bipolar());
        const double step = 2.0 * 3.14159265358979 * hz / rate;
        // Decay to -60 dB (a factor of 1000) after p.decay seconds.
        const double perFrame = std::exp(std::log(0.001) / (std::max(0.005f, p.decay) * rate));
        double amplitude = p.amplitude;
        const double phase0 = rng.Uniform() * 6.283;
        for (int i = 0; i < frames && amplitude > 1e-6; ++i) {
            s[static_cast<size_t>(i)] += static_cast<float>(amplitude * std::sin(phase0 + step * i));
            amplitude *= perFrame;
        }
    }
    return s;
}

void ApplyAttackDecay(Signal& s, int rate, float attack, float decay) {
    const double attackFrames = std::max(1.0, static_cast<double>(attack) * rate);
    const double perFrame = std::exp(std::log(0.001) / (std::max(0.005f, decay) * rate));
    double level = 1.0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double rise = std::min(1.0, static_cast<double>(i) / attackFrames);
        if (static_cast<double>(i) >= attackFrames) level *= perFrame;
        s[i] = static_cast<float>(s[i] * rise * level);
    }
}

void ApplyFades(Signal& s, int rate, float fadeIn, float fadeOut) {
    const size_t inFrames = static_cast<size_t>(std::max(0.0f, fadeIn) * rate);
    const size_t outFrames = static_cast<size_t>(std::max(0.0f, fadeOut) * rate);
    for (size_t i = 0; i < s.size() && i < inFrames; ++i) s[i] *= static_cast<float>(i) / inFrames;
    for (size_t i = 0; i < s.size() && i < outFrames; ++i) s[s.size() - 1 - i] *= static_cast<float>(i) / outFrames;
}

void ApplyCurve(Signal& s, const std::vector<float>& points) {
    if (points.empty() || s.empty()) return;
    if (points.size() == 1) {
        for (float& v : s) v *= points[0];
        return;
    }
    const double span = static_cast<double>(points.size() - 1);
    for (size_t i = 0; i < s.size(); ++i) {
        const double at = span * static_cast<double>(i) / static_cast<double>(s.size());
        const size_t k = std::min(points.size() - 2, static_cast<size_t>(at));
        const double f = at - static_cast<double>(k);
        s[i] *= static_cast<float>(points[k] * (1.0 - f) + points[k + 1] * f);
    }
}

void LowPass(Signal& s, int rate, float startHz, float endHz) {
    float y = 0.0f;
    const double ratio = static_cast<double>(endHz) / startHz;
    for (size_t i = 0; i < s.size(); ++i) {
        const double hz = startHz * std::pow(ratio, static_cast<double>(i) / s.size());
        const float a = static_cast<float>(1.0 - std::exp(-2.0 * 3.14159265358979 * hz / rate));
        y += a * (s[i] - y);
        s[i] = y;
    }
}

void HighPass(Signal& s, int rate, float hz) {
    const float a = static_cast<float>(std::exp(-2.0 * 3.14159265358979 * hz / rate));
    float low = 0.0f;
    for (float& v : s) {
        low = a * low + (1.0f - a) * v;
        v -= low;
    }
}

void BandPass(Signal& s, int rate, float startHz, float endHz, float q) {
    // Constant-peak resonator (RBJ band pass, 0 dB peak), coefficients per 32 frames.
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double b0 = 0, b2 = 0, a1 = 0, a2 = 0;
    const double ratio = static_cast<double>(endHz) / startHz;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i % 32 == 0) {
            double hz = startHz * std::pow(ratio, static_cast<double>(i) / s.size());
            hz = std::min(hz, 0.45 * rate);
            const double w = 2.0 * 3.14159265358979 * hz / rate;
            const double alpha = std::sin(w) / (2.0 * std::max(0.1f, q));
            const double a0 = 1.0 + alpha;
            b0 = alpha / a0;
            b2 = -alpha / a0;
            a1 = -2.0 * std::cos(w) / a0;
            a2 = (1.0 - alpha) / a0;
        }
        const double x = s[i];
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        s[i] = static_cast<float>(y);
    }
}

Signal Crackle(int frames, int rate, float perSecond, float clickDecay, SynthRng& rng) {
    Signal s(static_cast<size_t>(frames), 0.0f);
    const float chance = perSecond / rate;
    const double perFrame = std::exp(std::log(0.001) / (std::max(0.0005f, clickDecay) * rate));
    for (int i = 0; i < frames; ++i) {
        if (rng.Uniform() >= chance) continue;
        double amplitude = rng.Range(0.2f, 1.0f);
        amplitude *= amplitude;
        for (int k = i; k < frames && amplitude > 1e-4; ++k) {
            s[static_cast<size_t>(k)] += static_cast<float>(amplitude * rng.Bipolar());
            amplitude *= perFrame;
        }
    }
    return s;
}

void MixInto(Signal& a, const Signal& b, int at, float gain) {
    for (size_t i = 0; i < b.size(); ++i) {
        const long k = static_cast<long>(at) + static_cast<long>(i);
        if (k < 0) continue;
        if (static_cast<size_t>(k) >= a.size()) break;
        a[static_cast<size_t>(k)] += b[i] * gain;
    }
}

float PeakOf(const Signal& s) {
    float peak = 0.0f;
    for (float v : s) peak = std::max(peak, std::fabs(v));
    return peak;
}

void NormalisePeak(Signal& s, float dbfs) {
    const float peak = PeakOf(s);
    if (peak <= 0.0f) return;
    const float gain = std::pow(10.0f, dbfs / 20.0f) / peak;
    for (float& v : s) v *= gain;
}

void NormalisePeak(std::vector<Signal>& channels, float dbfs) {
    float peak = 0.0f;
    for (const Signal& s : channels) peak = std::max(peak, PeakOf(s));
    if (peak <= 0.0f) return;
    const float gain = std::pow(10.0f, dbfs / 20.0f) / peak;
    for (Signal& s : channels)
        for (float& v : s) v *= gain;
}

std::vector<Signal> WidenToStereo(const Signal& mono, int rate, SynthRng& rng) {
    const int delay = static_cast<int>(rng.Range(0.004f, 0.011f) * rate);
    Signal left = mono, right(mono.size(), 0.0f);
    for (size_t i = static_cast<size_t>(delay); i < mono.size(); ++i) right[i] = mono[i - static_cast<size_t>(delay)];
    LowPass(right, rate, 9000.0f, 9000.0f);
    for (size_t i = 0; i < mono.size(); ++i) {
        const float l = left[i], r = right[i];
        left[i] = 0.8f * l + 0.2f * r;
        right[i] = 0.8f * r + 0.2f * l;
    }
    return {left, right};
}

std::vector<Signal> PanMoving(const Signal& mono, float startPan, float endPan) {
    Signal left(mono.size()), right(mono.size());
    for (size_t i = 0; i < mono.size(); ++i) {
        const float pan = startPan + (endPan - startPan) * static_cast<float>(i) / static_cast<float>(mono.size());
        const float angle = (pan + 1.0f) * 0.25f * kPi;
        left[i] = mono[i] * std::cos(angle);
        right[i] = mono[i] * std::sin(angle);
    }
    return {left, right};
}

float NoteHz(int midiNote) { return 440.0f * std::pow(2.0f, (midiNote - 69) / 12.0f); }

}  // namespace morvane::demo
