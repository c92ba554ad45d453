#pragma once
// Level meters of the mixer's strips (the three groups, the master and the video's
// sound): the audio thread measures each buffer and publishes its peak and running
// RMS through atomics; the interface thread reads them and keeps the peak hold.
//
// Real time: FeedMeter and RestMeters run on the audio thread and only touch
// atomics and the meters' own audio-thread fields: no lock, no allocation.
// ReadMeter runs on the interface thread alone.
#include <array>
#include <atomic>

namespace morvane {

enum MeterStrip : int { kStripGroup0 = 0, kStripGroup1 = 1, kStripGroup2 = 2, kStripMaster = 3, kStripReference = 4 };
inline constexpr int kMeterStripCount = 5;
// Strips as bits of the mute and solo masks (bit = 1 << strip).
inline constexpr int StripBit(int strip) { return 1 << strip; }

// How long the RMS integrates, and how long a peak stays held on screen.
inline constexpr float kMeterRmsSeconds = 0.3f;
inline constexpr double kPeakHoldSeconds = 1.5;

struct StripMeter {
    std::atomic<float> peak{0.0f};  // largest sample since the interface last took it
    std::atomic<float> rms{0.0f};   // running RMS over about kMeterRmsSeconds
    float meanSquare = 0.0f;        // the audio thread's running mean of squares
};

struct MixerMeters {
    // Off, the mixer skips every meter's work (and the per-group sums that feed them).
    std::atomic<bool> enabled{false};
    std::array<StripMeter, kMeterStripCount> strips;
};

// Audio thread: measures one buffer of a strip (right may equal left for mono).
void FeedMeter(MixerMeters& meters, int strip, const float* left, const float* right, int frames, int rate);
// Audio thread: a buffer with no timeline sound lets every strip's RMS fall as if it
// had been fed `frames` of silence, so the meters rest when playback stops.
void RestMeters(MixerMeters& meters, int frames, int rate);

// What a strip shows: the peak and RMS of the frames since the last reading, and
// the held peak, which stays kPeakHoldSeconds and then follows the peak down.
struct MeterDisplay {
    float peak = 0.0f;
    float rms = 0.0f;
    float hold = 0.0f;
    double holdSince = 0.0;  // when `hold` was last raised, on the caller's clock
};
// Interface thread: takes the strip's peak (the audio thread starts a fresh one)
// and updates `display` at `nowSeconds`.
void ReadMeter(MixerMeters& meters, int strip, double nowSeconds, MeterDisplay& display);

// Level in dBFS for drawing: -100 for silence.
float LevelDb(float linear);

}  // namespace morvane
