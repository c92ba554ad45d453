#include "audio/reverb.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kPreDelayMask = 32768 - 1;
constexpr int kDiffuserMask = 8192 - 1;
constexpr int kLineMask = 16384 - 1;
constexpr double kModulationRateHz = 0.7;  // slow enough to read as movement, not vibrato

// Fixed phase of the modulation oscillator for each late line (k × 45°), so the
// lines never move together and the tail does not pump.
constexpr float kLinePhaseCos[kReverbLines] = {1.0f, 0.70710678f, 0.0f, -0.70710678f,
                                               -1.0f, -0.70710678f, 0.0f, 0.70710678f};
constexpr float kLinePhaseSin[kReverbLines] = {0.0f, 0.70710678f, 1.0f, 0.70710678f,
                                               0.0f, -0.70710678f, -1.0f, -0.70710678f};
// Which sign each line's input gets and with which sign it reaches its output side:
// lines 0, 2, 4, 6 feed the left output and 1, 3, 5, 7 the right one, with signs
// chosen so the two sides are decorrelated while carrying equal energy.
constexpr float kLineInputSign[kReverbLines] = {1, -1, 1, 1, -1, 1, -1, -1};
constexpr float kLineOutputSign[kReverbLines] = {1, 1, -1, 1, 1, -1, -1, -1};

uint32_t Mix(uint32_t x) {
    const uint32_t y1 = (x ^ (x >> 16)) * 73244475u;
    return (y1 ^ (y1 >> 16)) * 73244475u;
}

float Clamp01(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

void Approach(Glide& g, float step) { g.current += (g.target - g.current) * step; }

// Reads a delay memory `delay` samples behind `write`, with linear interpolation.
float ReadFractional(const float* memory, int mask, int write, float delay) {
    const int whole = static_cast<int>(delay);
    const float frac = delay - static_cast<float>(whole);
    const float a = memory[(write - whole) & mask];
    const float b = memory[(write - whole - 1) & mask];
    return a + (b - a) * frac;
}

}  // namespace

ReverbTargets ComputeReverbTargets(const ReverbParameters& params, int sampleRate) {
    const double R = std::max(1, sampleRate);
    const double S = Clamp01(params.size);
    const double D = Clamp01(params.decay);
    const double P = Clamp01(params.damping);
    const double F = Clamp01(params.diffusion);
    const double M = Clamp01(params.modulation);
    const double T = std::isfinite(params.preDelay) ? std::max(0.0f, params.preDelay) : 0.0;

    ReverbTargets t;
    t.t60 = static_cast<float>(0.3 + 9.7 * D);
    const double B = 15.0 + S * std::min(15360.0 / (2.0 * R * 0.001) - 15.0, 135.0);
    t.baseDelayMs = static_cast<float>(B);
    const double E = 30.0 + 130.0 * S;
    t.diffuserSpanMs = static_cast<float>(E);

    double span = E;
    for (int k = 0; k < kReverbDiffuserStages; ++k) {
        span *= 0.5;
        const double L = span * 0.001 * R;
        for (int j = 0; j < kReverbTaps; ++j) {
            const uint32_t yl = Mix(static_cast<uint32_t>(42 + 1000 * k + 137 * j));
            const double h = static_cast<double>((yl >> 16) ^ (yl & 0xFFFFu)) / 65536.0;
            const double lo = L * j / 8.0;
            const double hi = L * (j + 1) / 8.0;
            const double len = std::clamp(lo + (hi - lo) * h, 1.0, static_cast<double>(kReverbMaxTapLength));
            t.tapLength[k][j] = static_cast<int>(len);
            const uint32_t ys = Mix(static_cast<uint32_t>(777 * k + 31 * j));
            t.tapSign[k][j] = (((~(ys >> 16)) ^ ys) & 1u) ? 1 : -1;
        }
    }

    for (int i = 0; i < kReverbLines; ++i) {
        const uint32_t x = static_cast<uint32_t>(12345 + 997 * i);
        const uint32_t w = x * 73244475u;
        const uint32_t w2 = (w ^ (w >> 16)) * 73244475u;
        const int jitter = static_cast<int>(((w2 >> 16) ^ w2) % 131u) - 65;
        const double len = std::pow(2.0, i / 8.0) * B * 0.001 * R + jitter;
        t.lineLength[i] = static_cast<int>(std::clamp(len, static_cast<double>(kReverbMinLineLength),
                                                      static_cast<double>(kReverbMaxLineLength)));
    }

    t.feedback = static_cast<float>(std::min(0.9995, std::pow(10.0, -3.0 * (1.5 * B * 0.001) / t.t60)));
    const double f1 = std::max(200.0, 18000.0 * std::exp(-3.5 * P));
    const double f2 = std::max(3000.0, 16000.0 * std::exp(-1.5 * P));
    // Above Nyquist the coefficient saturates towards 1 (no damping), which is what a
    // low-pass there means.
    t.damping1 = static_cast<float>(1.0 - std::exp(-kTwoPi * f1 / R));
    t.damping2 = static_cast<float>(1.0 - std::exp(-kTwoPi * f2 / R));
    t.preDelay = static_cast<int>(std::clamp(R * T, 0.0, static_cast<double>(kReverbPreDelaySamples - 1)));
    t.modulationDepthMs = static_cast<float>((0.06 * S + 0.03 + 0.06 * D) * M + 0.005);
    t.diffusion = static_cast<float>(0.45 + 0.55 * F);
    t.outputGain = static_cast<float>(std::min(5.0, 3.0 / std::max(std::sqrt((0.7 * S + 0.3) * (0.8 * D + 0.2)), 0.15)));
    return t;
}

void SetReverbParameters(Reverb& reverb, const ReverbParameters& params, int sampleRate) {
    const int rate = std::max(1, sampleRate);
    const bool rateChanged = rate != reverb.sampleRate;
    reverb.sampleRate = rate;
    reverb.targets = ComputeReverbTargets(params, rate);
    const ReverbTargets& t = reverb.targets;

    reverb.glideStep = static_cast<float>(1.0 - std::exp(-1.0 / (0.01 * rate)));
    reverb.feedback.target = t.feedback;
    reverb.damping1.target = t.damping1;
    reverb.damping2.target = t.damping2;
    // The modulation depth glides in samples of delay-line excursion.
    reverb.modulation.target = t.modulationDepthMs * 0.001f * static_cast<float>(rate);
    reverb.diffusion.target = t.diffusion;
    reverb.outputGain.target = t.outputGain;
    reverb.preDelay.target = static_cast<float>(t.preDelay);
    for (int i = 0; i < kReverbLines; ++i) reverb.lineLength[i].target = static_cast<float>(t.lineLength[i]);

    if (!reverb.primed || rateChanged) {
        for (Glide* g : {&reverb.feedback, &reverb.damping1, &reverb.damping2, &reverb.modulation,
                         &reverb.diffusion, &reverb.outputGain, &reverb.preDelay})
            g->current = g->target;
        for (Glide& g : reverb.lineLength) g.current = g.target;
        const double step = kTwoPi * kModulationRateHz / rate;
        reverb.oscStepCos = std::cos(step);
        reverb.oscStepSin = std::sin(step);
        reverb.primed = true;
    }
}

void ProcessReverb(Reverb& rv, const float* sendLeft, const float* sendRight, float* wetLeft,
                   float* wetRight, int frames) {
    const float step = rv.glideStep;
    for (int n = 0; n < frames; ++n) {
        Approach(rv.feedback, step);
        Approach(rv.damping1, step);
        Approach(rv.damping2, step);
        Approach(rv.modulation, step);
        Approach(rv.diffusion, step);
        Approach(rv.outputGain, step);
        Approach(rv.preDelay, step);

        // Pre-delay.
        const float in = 0.5f * (sendLeft[n] + sendRight[n]);
        rv.preDelayRing[rv.preDelayWrite] = in;
        float x = rv.preDelay.current < 0.5f
                      ? in
                      : ReadFractional(rv.preDelayRing.data(), kPreDelayMask, rv.preDelayWrite, rv.preDelay.current);
        rv.preDelayWrite = (rv.preDelayWrite + 1) & kPreDelayMask;

        // Three diffusers: each blends its input with the signed sum of its eight taps.
        const float c = rv.diffusion.current;
        for (int k = 0; k < kReverbDiffuserStages; ++k) {
            float* memory = rv.diffuser[k].data();
            memory[rv.diffuserWrite] = x;
            float sum = 0.0f;
            for (int j = 0; j < kReverbTaps; ++j)
                sum += rv.targets.tapSign[k][j] * memory[(rv.diffuserWrite - rv.targets.tapLength[k][j]) & kDiffuserMask];
            x = (1.0f - c) * x + c * kHadamardScale * sum;
        }
        rv.diffuserWrite = (rv.diffuserWrite + 1) & kDiffuserMask;

        // The late network: read every line at its slowly moving length.
        const double oc = rv.oscCos, os = rv.oscSin;
        rv.oscCos = oc * rv.oscStepCos - os * rv.oscStepSin;
        rv.oscSin = oc * rv.oscStepSin + os * rv.oscStepCos;
        if (++rv.oscRenormalise >= 4096) {  // keeps the phasor on the unit circle
            rv.oscRenormalise = 0;
            const double r = std::sqrt(rv.oscCos * rv.oscCos + rv.oscSin * rv.oscSin);
            if (r > 0.0) { rv.oscCos /= r; rv.oscSin /= r; } else { rv.oscCos = 1.0; rv.oscSin = 0.0; }
        }
        float o[kReverbLines];
        for (int i = 0; i < kReverbLines; ++i) {
            Approach(rv.lineLength[i], step);
            const float phase = static_cast<float>(oc) * kLinePhaseCos[i] - static_cast<float>(os) * kLinePhaseSin[i];
            const float delay = std::max(1.0f, rv.lineLength[i].current + rv.modulation.current * phase);
            o[i] = ReadFractional(rv.line[i].data(), kLineMask, rv.lineWrite, delay);
        }

        float outL = 0.0f, outR = 0.0f;
        for (int i = 0; i < kReverbLines; i += 2) {
            outL += kLineOutputSign[i] * o[i];
            outR += kLineOutputSign[i + 1] * o[i + 1];
        }

        // Hadamard mix in place (three butterfly stages), then scale, damp, feed back.
        float h[kReverbLines];
        for (int i = 0; i < kReverbLines; ++i) h[i] = o[i];
        for (int width = 1; width < kReverbLines; width <<= 1)
            for (int i = 0; i < kReverbLines; i += 2 * width)
                for (int j = i; j < i + width; ++j) {
                    const float a = h[j], b = h[j + width];
                    h[j] = a + b;
                    h[j + width] = a - b;
                }
        const float g = rv.feedback.current;
        const float a1 = rv.damping1.current;
        const float feed = x * kHadamardScale;
        for (int i = 0; i < kReverbLines; ++i) {
            float& state = rv.lineDamp[i];
            state += a1 * (h[i] * kHadamardScale - state);
            // Flush values far below audibility so a decayed tail cannot fall into
            // denormals and cost the audio thread its deadline.
            if (std::fabs(state) < 1e-20f) state = 0.0f;
            rv.line[i][rv.lineWrite] = kLineInputSign[i] * feed + g * state;
        }
        rv.lineWrite = (rv.lineWrite + 1) & kLineMask;

        const float a2 = rv.damping2.current;
        rv.outDamp[0] += a2 * (0.5f * outL - rv.outDamp[0]);
        rv.outDamp[1] += a2 * (0.5f * outR - rv.outDamp[1]);
        if (std::fabs(rv.outDamp[0]) < 1e-20f) rv.outDamp[0] = 0.0f;
        if (std::fabs(rv.outDamp[1]) < 1e-20f) rv.outDamp[1] = 0.0f;
        wetLeft[n] = rv.outDamp[0] * rv.outputGain.current;
        wetRight[n] = rv.outDamp[1] * rv.outputGain.current;
    }
}

void ClearReverb(Reverb& reverb) {
    reverb.preDelayRing.fill(0.0f);
    for (auto& d : reverb.diffuser) d.fill(0.0f);
    for (auto& l : reverb.line) l.fill(0.0f);
    reverb.lineDamp.fill(0.0f);
    reverb.outDamp.fill(0.0f);
    reverb.preDelayWrite = reverb.diffuserWrite = reverb.lineWrite = 0;
    // The modulation restarts from its first phase, so the same material played
    // again after a reset comes out the same (an offline render twice, a bounce).
    reverb.oscCos = 1.0;
    reverb.oscSin = 0.0;
    reverb.oscRenormalise = 0;
}

}  // namespace morvane
