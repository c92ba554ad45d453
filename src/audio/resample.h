#pragma once
// Changing the length of rendered audio: band-limited resampling with libsoxr (new
// sample rates, pitch shift by resampling) and the cheap linear stretch that lines
// extra channel buffers up with the main one.
#include <cstdint>
#include <vector>

namespace morvane {

// Resamples one channel from `fromRate` to `toRate` with libsoxr (high quality).
// Returns the input unchanged when the rates are equal or either is not positive.
std::vector<float> ResampleChannel(const std::vector<float>& input, double fromRate, double toRate);

// Resamples one channel to exactly `frames` frames: pitch and duration change
// together (a shorter result sounds higher). Band-limited, so shifting up does not
// fold high partials back down as aliases.
std::vector<float> ResampleToLength(const std::vector<float>& input, int64_t frames);

// Stretches `input` to `frames` frames by linear interpolation: frame i reads
// position i x (input length / frames) between its two neighbours, the last index
// clamped. For buffers that differ from the main one by a few frames, where a
// band-limited filter would only add delay.
std::vector<float> StretchLinear(const std::vector<float>& input, int64_t frames);

// The number of frames a buffer has after a pitch shift of `semitones`:
// floor(frames / 2^(semitones / 12) + 0.5).
int64_t PitchShiftedLength(int64_t frames, double semitones);

}  // namespace morvane
