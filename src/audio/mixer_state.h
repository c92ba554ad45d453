#pragma once
// The playback mixer's state (the mixer is mixer.h), in parts by who may touch them:
//
//   settings     the interface thread (and render jobs) write, the audio thread reads:
//                atomics only, so a setting changes between two buffers, never inside one;
//   transport    play position and playing flag: the interface starts, stops and seeks,
//                the audio thread advances the position (atomics);
//   audio        the audio thread alone: scratch buffers, level ramp, reverb and filter
//                histories. No lock, no allocation (all made with the cache); an offline
//                mix on a cache no device plays may use them instead;
//   guarded      read by the audio thread under the cache's lock; set them under it
//                (CacheGuard): the video's sound, the alternative renderer, the decoders;
//   counters     written by the audio thread and the eviction pass, read by anyone (atomics);
//   preview      behind its own small lock, which the audio thread only tries;
//   diagnostics  the once-per-second log's own bookkeeping: the interface thread alone.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/ambisonics.h"
#include "audio/mixer_meters.h"
#include "audio/reverb.h"
#include "model/timeline.h"

namespace morvane {

// A function the video code supplies that adds its reference sound to two buffers
// (frames, video time in seconds, output rate). Runs on the audio thread.
using ReferenceAudioFn = void (*)(void* user, float* left, float* right, int frames, double videoTime,
                                  int outputRate);
// A separate stereo renderer that replaces the timeline mix when switched on.
using AlternativeRendererFn = void (*)(void* user, float* left, float* right, int frames);

inline constexpr int kMixFrames = 4096;  // the mixer's fixed buffer length
inline constexpr int kReverbParamCount = 6;  // size, decay, damping, preDelay, diffusion, modulation

struct MixerSettings {
    std::atomic<float> masterGain{1.0f};
    std::array<std::atomic<float>, kGroupCount> groupGain{};
    std::atomic<int> soloBlock{-1};
    // The mixer's strips muted and soloed (StripBit of kStripGroup0..kStripReference;
    // the master mutes only). A soloed strip silences every strip not soloed.
    std::atomic<int> mutedStrips{0};
    std::atomic<int> soloStrips{0};
    std::atomic<bool> deconfliction{true};
    std::atomic<double> videoStartTime{0.0};
    std::atomic<bool> useAlternativeRenderer{false};
    // Set while the cache does not hold what the timeline is (nothing rendered yet, or
    // blocks awaiting their check): the transport runs with the video's sound only.
    std::atomic<bool> blocksSilent{false};

    std::atomic<bool> reverbEnabled{false};
    std::array<std::atomic<float>, kReverbParamCount> reverbParams{};
    std::array<std::atomic<float>, kGroupCount> reverbSend{};

    // Monitoring: layout, headphones, routing of speakers to device channels.
    std::atomic<int> monitorLayout{0};
    std::atomic<bool> monitorBinaural{false};
    std::atomic<bool> routingSet{false};
    std::array<std::atomic<int>, kMaxSpeakers> channelOfSpeaker{};
};

struct MixerTransport {
    std::atomic<int64_t> playPosition{0};  // samples at the project rate
    std::atomic<bool> playing{false};
    // Set by other threads; the audio thread clears its histories at the next buffer.
    std::atomic<bool> clearHistories{false};
};

struct MixerAudioState {
    float outputLevel = 0.0f;  // ramps 0..1
    float tailLevel = 0.0f;    // peak of the last wet buffer
    std::unique_ptr<Reverb> reverb;
    std::unique_ptr<BinauralDecoder> binaural;
    int binauralRate = 0;
    std::vector<float> sendLeft, sendRight, wetLeft, wetRight;  // reverb sends and returns
    std::vector<float> fieldW, fieldY, fieldZ, fieldX;          // the sound field of one buffer
    std::vector<float> stereoLeft, stereoRight;                  // the stereo mix for multichannel output
    std::vector<float> mixLeft, mixRight;                        // the timeline's dry mix of one buffer
    std::vector<float> speakers;                                 // kMaxSpeakers × kMixFrames decoded output
    // Per-group sums of one buffer, for the groups' meters (only while meters are on).
    std::array<std::vector<float>, kGroupCount> groupLeft, groupRight;
    std::vector<float> referenceLeft, referenceRight;            // the video's sound, metered apart
};

struct MixerGuarded {
    ReferenceAudioFn referenceAudio = nullptr;
    void* referenceAudioUser = nullptr;
    AlternativeRendererFn alternativeRenderer = nullptr;
    void* alternativeRendererUser = nullptr;
    std::array<SpeakerDecoder, kMonitorLayoutCount> decoders;
};

struct MixerCounters {
    std::atomic<uint64_t> buffersMixed{0};
    std::atomic<uint64_t> dropouts{0};  // buffers whose try of the cache's lock failed
    std::atomic<uint64_t> restores{0};
    std::atomic<uint64_t> pendingRestores{0};
    std::atomic<float> lastEvictMs{0.0f};
    std::atomic<float> maxEvictMs{0.0f};
    std::atomic<float> outputLevelShown{0.0f};
    std::atomic<float> meterLeft{0.0f}, meterRight{0.0f};  // peak after the limiter
};

// Preview of a single sound from the panels; plays whether or not the timeline plays.
struct PreviewSlot {
    std::mutex lock;  // the audio thread only tries it
    std::vector<float> samples;
    int sampleRate = 48000;
    int64_t position = 0;  // in project-rate frames
    int64_t end = 0;       // in project-rate frames
    float gain = 1.0f;
};

struct DiagnosticsLogState {
    bool started = false;
    int64_t startNs = 0, lastNs = 0;
    uint64_t buffers = 0, dropouts = 0, restores = 0;
};

struct MixerState {
    MixerState();  // makes every buffer the audio thread will use

    MixerSettings settings;
    MixerTransport transport;
    MixerAudioState audio;
    MixerGuarded guarded;
    MixerCounters counters;
    PreviewSlot preview;
    DiagnosticsLogState diagnostics;
    MixerMeters meters;
};

}  // namespace morvane
