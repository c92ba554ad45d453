#pragma once
// The destructive five-band EQ the render applies to a layer buried under others.
// The bands are the five the library measures every file in (20-150 Hz,
// 150-750 Hz, 750 Hz-2 kHz, 2-6 kHz, 6-16 kHz), so a cut lands where the build
// saw the masking: a low shelf at 150 Hz, three peaking filters at the centres of
// the middle bands, a high shelf at 6 kHz.
#include <array>
#include <cstdint>

namespace morvane {

// Filters `frames` samples in place with linear band gains (1.0 leaves a band
// untouched; a filter whose gain is 1 is skipped, so all-ones is exact identity).
void ApplyFiveBandEq(float* samples, int64_t frames, int sampleRate, const std::array<float, 5>& gains);

// Second-order section (RBJ cookbook), direct form I in double precision.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    float Run(float x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return static_cast<float>(y);
    }
};
Biquad LowShelf(double frequency, double gainDb, int sampleRate);
Biquad HighShelf(double frequency, double gainDb, int sampleRate);
Biquad Peaking(double frequency, double gainDb, double q, int sampleRate);
// Constant 0 dB peak gain band-pass.
Biquad BandPass(double frequency, double q, int sampleRate);

}  // namespace morvane
