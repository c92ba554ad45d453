#pragma once
// Integrated loudness after ITU-R BS.1770 (K-weighting, 400 ms blocks with 75 %
// overlap, absolute gate at -70 LUFS, relative gate at -10 LU), the mixdown
// normalisation gain and the per-layer normalisation the render applies.
#include <cstdint>

namespace morvane {

inline constexpr float kLoudnessSilence = -100.0f;

// Integrated loudness in LUFS of one channel (right == nullptr) or two. -100 when it
// cannot be measured: no frames, a rate below 1, or no block above the gates.
float MeasureLoudness(const float* left, const float* right, int32_t frames, int32_t sampleRate);

// Linear gain that brings the signal to targetLUFS, the correction limited to
// -30..+30 dB; 1.0 when there is nothing to measure.
float LoudnessNormaliseGain(const float* left, const float* right, int64_t frames, int32_t sampleRate,
                            float targetLUFS);

// The normGain of one rendered layer. With normalisation off: 1.0. A layer measured
// at -90 LUFS or below keeps previousNormGain. Otherwise the correction towards the
// group's target (-30..+18 dB), never letting the peak exceed 0.891 (about -1 dBFS).
float LayerNormGain(const float* left, const float* right, int64_t frames, int32_t sampleRate,
                    float groupTargetLUFS, bool normalizeOn, float previousNormGain);

}  // namespace morvane
