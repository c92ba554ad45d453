#pragma once
// Small synthesis primitives the demo library is made of: a seeded noise source,
// oscillators, envelopes, one-pole and resonant filters and a few finishing steps.
// Everything is deterministic for a given seed, so every build ships the same sounds.
#include <cstdint>
#include <vector>

namespace morvane::demo {

using Signal = std::vector<float>;

// xorshift32: fast, tiny state, identical on every platform.
struct SynthRng {
    uint32_t state = 0x9E3779B9u;
    explicit SynthRng(uint32_t seed) : state(seed == 0 ? 0x9E3779B9u : seed) {}
    uint32_t NextBits();
    float Uniform();    // [0, 1)
    float Bipolar();    // [-1, 1)
    float Range(float low, float high);
};

inline constexpr float kPi = 3.14159265358979f;

// Frame count of `seconds` at `rate`, at least one frame.
int FramesOf(float seconds, int rate);

Signal WhiteNoise(int frames, SynthRng& rng);

// Brown-ish noise: integrated white noise with a leak, for rumbles and room tone.
Signal BrownNoise(int frames, SynthRng& rng);

// A sine whose frequency moves exponentially from startHz to endHz over the signal.
Signal SineGlide(int frames, int rate, float startHz, float endHz);

// Decaying partials, the body of every struck object: frequencies in Hz, decay
// times (to -60 dB) in seconds, amplitudes. A tiny random detune per partial keeps
// two objects of the same kind from sounding identical.
struct Partial {
    float hz;
    float decay;
    float amplitude;
};
Signal ModalStrike(int frames, int rate, const std::vector<Partial>& partials, SynthRng& rng);

// Multiplies in place by an attack/decay envelope (linear attack, exponential decay
// reaching -60 dB after `decay` seconds).
void ApplyAttackDecay(Signal& s, int rate, float attack, float decay);

// Multiplies in place by a linear fade in and fade out.
void ApplyFades(Signal& s, int rate, float fadeIn, float fadeOut);

// Multiplies in place by a curve given at evenly spaced points (linear between them).
void ApplyCurve(Signal& s, const std::vector<float>& points);

// One-pole filters; cutoffs may move over the signal (startHz -> endHz, exponential).
void LowPass(Signal& s, int rate, float startHz, float endHz);
void HighPass(Signal& s, int rate, float hz);

// A two-pole resonator (band pass) with a centre moving from startHz to endHz.
void BandPass(Signal& s, int rate, float startHz, float endHz, float q);

// Sparse random clicks (crackle): `perSecond` on average, each a short decaying burst.
Signal Crackle(int frames, int rate, float perSecond, float clickDecay, SynthRng& rng);

// Adds b * gain into a, starting at frame `at` (b may run past the end: it is cut).
void MixInto(Signal& a, const Signal& b, int at, float gain);

// Scales so the loudest sample sits at `dbfs`; a silent signal stays as it is.
void NormalisePeak(Signal& s, float dbfs);
// Same for several channels together, keeping their balance.
void NormalisePeak(std::vector<Signal>& channels, float dbfs);

float PeakOf(const Signal& s);

// A decorrelated stereo pair from one mono source: the second channel is the first
// delayed by a few milliseconds and filtered differently, then both are mixed back so
// the image is wide but the mono sum stays solid.
std::vector<Signal> WidenToStereo(const Signal& mono, int rate, SynthRng& rng);

// Equal-power pan of a mono signal whose position moves from startPan to endPan
// (-1 left .. 1 right), for passbys.
std::vector<Signal> PanMoving(const Signal& mono, float startPan, float endPan);

// Frequency in Hz of a MIDI note number (69 = A4 = 440 Hz).
float NoteHz(int midiNote);

}  // namespace morvane::demo
