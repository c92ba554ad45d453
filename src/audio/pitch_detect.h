#pragma once
// Pitch of a rendered layer, for tuning it to the project's scale, by the program's
// one pitch detector (library/pitch.h) over a lag range of 20 Hz to 10 kHz.
#include <cstdint>
#include <vector>

namespace morvane {

struct DetectedPitch {
    float frequency = 0.0f;   // Hz, 0 when none was found (silence, noise)
    float confidence = 0.0f;  // 0..1: 1 - the normalised difference at the chosen lag
    int note = -1;            // nearest MIDI note number
    float cents = 0.0f;       // offset from that note, -50..+50
};

// Looks for a period between 20 Hz and min(10 kHz, rate / 2) in `frames` samples
// of `samples`. A signal too short for two periods of the lowest pitch searched
// only looks for higher pitches.
DetectedPitch DetectPitch(const float* samples, int64_t frames, int sampleRate);

// MIDI note and cents of a frequency (A4 = 440 Hz = note 69).
void FrequencyToNote(float frequency, int* note, float* cents);

// Start of the loudest window of `window` frames, stepping by window / 2, over
// `frames` frames of the mono mix of `channels` (stereo averaged).
int64_t LoudestWindowStart(const std::vector<std::vector<float>>& channels, int64_t window);

}  // namespace morvane
