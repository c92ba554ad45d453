#pragma once
// The video's own sound during playback: one application-wide slot holding the sound
// track (48 kHz interleaved stereo) and its gain, mixed under the designed sound.
//
// Threads: PublishReferenceAudio, CurrentReferenceAudio, CollectReferenceAudio and
// SetReferenceGain from any thread but the audio thread. MixReferenceAudio from the one
// audio thread only; it is real-time safe: it takes no lock, allocates nothing and never
// frees the sound (a record replaced while the audio thread reads it is freed by the
// next publish or collect, on the caller's thread).
#include <cstdint>
#include <memory>
#include <vector>

namespace morvane {

struct ReferenceAudio {
    std::vector<int16_t> samples;  // interleaved left, right
    int32_t sampleRate = 48000;
    int64_t frameCount = 0;        // samples / 2
};

// Replaces what plays; null empties the slot.
void PublishReferenceAudio(std::shared_ptr<const ReferenceAudio> audio);
std::shared_ptr<const ReferenceAudio> CurrentReferenceAudio();
// Frees the records replaced since the audio thread stopped reading them.
void CollectReferenceAudio();

// Linear gain; 0 while the reference strip is muted.
void SetReferenceGain(float gain);
float ReferenceGain();

// Adds the sound at `videoTime` seconds (video time: the timeline time minus where the
// video starts) into `left` and `right`, resampled to `outputRate` by linear
// interpolation. Frames before the start or past the end of the sound add nothing.
void MixReferenceAudio(float* left, float* right, int frames, double videoTime, int outputRate);

}  // namespace morvane
