#pragma once
// The program's one pitch detector, YIN: the difference function (worked out through
// the FFT, so a long analysis costs a few transforms instead of millions of
// multiply-adds), cumulative-mean normalisation, the absolute threshold 0.15 followed
// down to the local minimum, and parabolic refinement. The library describes every
// file by it (one block of 2,048 samples) and the render tunes layers to the
// project's scale by it (audio/pitch_detect.h: up to 8,192 frames).
//
// Any thread may call it.

namespace morvane {

// The lags searched and the window the differences are summed over: lag tau compares
// samples [0, window) with [tau, tau + window).
struct YinSearch {
    int window = 0;
    int minLag = 0;
    int maxLag = 0;  // lowered to what `count` samples hold
};

struct YinPitch {
    bool searched = false;    // false only when the samples leave no lag to search
    double confidence = 0.0;  // 1 - the normalised difference at the chosen lag, 0..1
    double frequency = 0.0;   // Hz; 0 when no lag went below the threshold and the best was above 0.5
};

// Looks for the period of `count` samples of `x` at `sampleRate`.
YinPitch FindPitchYin(const float* x, int count, int sampleRate, const YinSearch& search);

}  // namespace morvane
