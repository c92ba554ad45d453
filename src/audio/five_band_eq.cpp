#include "audio/five_band_eq.h"

#include <algorithm>
#include <cmath>

namespace morvane {

namespace {

Biquad Normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    Biquad q;
    q.b0 = b0 / a0;
    q.b1 = b1 / a0;
    q.b2 = b2 / a0;
    q.a1 = a1 / a0;
    q.a2 = a2 / a0;
    return q;
}

// Keeps a corner frequency below Nyquist at low project rates.
double Corner(double frequency, int sampleRate) { return std::min(frequency, 0.45 * sampleRate); }

}  // namespace

Biquad LowShelf(double frequency, double gainDb, int sampleRate) {
    const double A = std::pow(10.0, gainDb / 40.0);
    const double w = 2.0 * M_PI * Corner(frequency, sampleRate) / sampleRate;
    const double c = std::cos(w), s = std::sin(w);
    const double alpha = s / 2.0 * std::sqrt(2.0);  // shelf slope 1
    const double k = 2.0 * std::sqrt(A) * alpha;
    return Normalised(A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c), A * ((A + 1) - (A - 1) * c - k),
                      (A + 1) + (A - 1) * c + k, -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k);
}

Biquad HighShelf(double frequency, double gainDb, int sampleRate) {
    const double A = std::pow(10.0, gainDb / 40.0);
    const double w = 2.0 * M_PI * Corner(frequency, sampleRate) / sampleRate;
    const double c = std::cos(w), s = std::sin(w);
    const double alpha = s / 2.0 * std::sqrt(2.0);
    const double k = 2.0 * std::sqrt(A) * alpha;
    return Normalised(A * ((A + 1) + (A - 1) * c + k), -2 * A * ((A - 1) + (A + 1) * c),
                      A * ((A + 1) + (A - 1) * c - k), (A + 1) - (A - 1) * c + k, 2 * ((A - 1) - (A + 1) * c),
                      (A + 1) - (A - 1) * c - k);
}

Biquad Peaking(double frequency, double gainDb, double q, int sampleRate) {
    const double A = std::pow(10.0, gainDb / 40.0);
    const double w = 2.0 * M_PI * Corner(frequency, sampleRate) / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    return Normalised(1 + alpha * A, -2 * c, 1 - alpha * A, 1 + alpha / A, -2 * c, 1 - alpha / A);
}

Biquad BandPass(double frequency, double q, int sampleRate) {
    const double w = 2.0 * M_PI * Corner(frequency, sampleRate) / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    return Normalised(alpha, 0.0, -alpha, 1 + alpha, -2 * c, 1 - alpha);
}

void ApplyFiveBandEq(float* samples, int64_t frames, int sampleRate, const std::array<float, 5>& gains) {
    if (samples == nullptr || frames <= 0 || sampleRate < 1) return;
    // Centres are the geometric means of the band edges; Q from each band's width.
    constexpr double kEdges[6] = {20, 150, 750, 2000, 6000, 16000};
    Biquad stages[5];
    bool active[5] = {};
    for (int b = 0; b < 5; ++b) {
        const float g = gains[static_cast<size_t>(b)];
        if (!(g > 0.0f) || std::fabs(g - 1.0f) < 1e-6f) continue;  // untouched (or invalid) band
        const double db = 20.0 * std::log10(std::clamp(static_cast<double>(g), 1e-3, 16.0));
        if (b == 0) {
            stages[b] = LowShelf(kEdges[1], db, sampleRate);
        } else if (b == 4) {
            stages[b] = HighShelf(kEdges[4], db, sampleRate);
        } else {
            const double centre = std::sqrt(kEdges[b] * kEdges[b + 1]);
            const double q = centre / (kEdges[b + 1] - kEdges[b]);
            stages[b] = Peaking(centre, db, std::max(0.3, q), sampleRate);
        }
        active[b] = true;
    }
    for (int b = 0; b < 5; ++b) {
        if (!active[b]) continue;
        Biquad f = stages[b];
        for (int64_t i = 0; i < frames; ++i) samples[i] = f.Run(samples[i]);
    }
}

}  // namespace morvane
