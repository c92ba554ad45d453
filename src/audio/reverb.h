#pragma once
// The shared algorithmic reverb: a pre-delay, three multi-tap diffusers and an
// eight-line feedback delay network mixed through a Hadamard matrix.
//
// Everything the reverb needs lives in fixed arrays inside `Reverb`, so once the
// record exists (the playback mixer allocates it once, up front) the audio thread
// can run it for ever without touching the heap. The network is derived from the
// parameters with a fixed integer hash, so the same settings give the same taps on
// every run and on every machine.
#include <array>
#include <cstdint>

namespace morvane {

inline constexpr int kReverbPreDelaySamples = 19200;
inline constexpr int kReverbDiffuserStages = 3;
inline constexpr int kReverbTaps = 8;
inline constexpr int kReverbMaxTapLength = 8191;
inline constexpr int kReverbLines = 8;
inline constexpr int kReverbMinLineLength = 64;
inline constexpr int kReverbMaxLineLength = 16320;
inline constexpr float kHadamardScale = 0.35355338f;  // 1 / sqrt(8)

// The six values handed to the reverb on every buffer, in this order.
struct ReverbParameters {
    float size = 0.5f;        // 0..1 "Size"
    float decay = 0.4f;       // 0..1 "Decay"
    float damping = 0.5f;     // 0..1 "Damp"
    float preDelay = 0.02f;   // seconds "Pre-Dly"
    float diffusion = 0.7f;   // 0..1 "Density"
    float modulation = 0.2f;  // 0..1 "Mod"
    bool operator==(const ReverbParameters&) const = default;
};

// What the parameters mean for the network at one sample rate.
struct ReverbTargets {
    float t60 = 0.0f;           // seconds
    float baseDelayMs = 0.0f;   // late base delay B
    float diffuserSpanMs = 0.0f;
    std::array<std::array<int, kReverbTaps>, kReverbDiffuserStages> tapLength{};
    std::array<std::array<int8_t, kReverbTaps>, kReverbDiffuserStages> tapSign{};
    std::array<int, kReverbLines> lineLength{};
    float feedback = 0.0f;       // g
    float damping1 = 0.0f;       // one-pole coefficient inside the loop
    float damping2 = 0.0f;       // one-pole coefficient on the wet output
    int preDelay = 0;            // samples
    float modulationDepthMs = 0.0f;
    float diffusion = 0.0f;      // coefficient 0.45..1
    float outputGain = 0.0f;
};

// The mapping from the six parameters to the network at `sampleRate`. Pure: the
// same arguments give the same result.
ReverbTargets ComputeReverbTargets(const ReverbParameters& params, int sampleRate);

// One gliding value: the audio thread moves `current` a fixed part of the way to
// `target` every sample, so knob moves never click.
struct Glide {
    float current = 0.0f;
    float target = 0.0f;
};

struct Reverb {
    int sampleRate = 48000;
    float glideStep = 0.002f;  // part of the way a glide moves per sample (about 10 ms)
    bool primed = false;  // the first parameters jump straight to their targets
    ReverbTargets targets;

    // Delay memories; lengths are powers of two so positions wrap with a mask.
    std::array<float, 32768> preDelayRing{};  // holds the 19200-sample pre-delay
    int preDelayWrite = 0;
    std::array<std::array<float, 8192>, kReverbDiffuserStages> diffuser{};
    int diffuserWrite = 0;
    std::array<std::array<float, 16384>, kReverbLines> line{};
    int lineWrite = 0;
    std::array<float, kReverbLines> lineDamp{};   // in-loop low-pass state per line
    std::array<float, 2> outDamp{};               // output low-pass state, left and right

    // Modulation oscillator: one slow rotating phasor, read at a fixed phase per line.
    double oscCos = 1.0, oscSin = 0.0, oscStepCos = 1.0, oscStepSin = 0.0;
    int oscRenormalise = 0;

    Glide feedback, damping1, damping2, modulation, diffusion, outputGain, preDelay;
    std::array<Glide, kReverbLines> lineLength;
};

// Recomputes every target from the parameters and the sample rate. Called for each
// audio buffer while the reverb is on; cheap and allocation-free.
void SetReverbParameters(Reverb& reverb, const ReverbParameters& params, int sampleRate);

// Turns the two send signals into the two wet signals, `frames` samples each. The
// wet buffers are overwritten. No allocation, no locks.
void ProcessReverb(Reverb& reverb, const float* sendLeft, const float* sendRight, float* wetLeft,
                   float* wetRight, int frames);

// Silences every delay memory and filter state, so no old tail plays over new
// material. Parameters and their glides are kept.
void ClearReverb(Reverb& reverb);

}  // namespace morvane
