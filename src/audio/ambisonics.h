#pragma once
// First-order ambisonics: encoding sources and their spread into the sound field
// (ACN channel order W, Y, Z, X with SN3D normalisation) and decoding the field to
// the monitoring layouts (stereo, 5.1, 7.1.4) and to binaural headphones.
//
// Encoders and decoders are plain gain tables made once, off the audio thread; the
// binaural decoder keeps its delay lines and filters in fixed arrays, so running
// any of them never allocates.
#include <array>
#include <cstdint>

namespace morvane {

inline constexpr int kAmbisonicChannels = 4;  // W, Y, Z, X (ACN)

// Gains of one direction in the field, in ACN order.
struct AmbiGains {
    float w = 0.0f, y = 0.0f, z = 0.0f, x = 0.0f;
};

// A source at azimuth `azimuth` (radians, positive to the left) and `elevation`
// (radians, positive up): W 1, Y sin a cos e, Z sin e, X cos a cos e.
AmbiGains EncodeDirection(float azimuth, float elevation);

// The horizontal direction of a speaker role in radians (L +30°, R −30°, C 0°,
// Ls +110°, Rs −110°, Lrs +150°, Rrs −150°). False for LFE and roles without a
// direction of their own, which reach the field through W alone.
bool RoleAzimuth(int role, float* azimuth);

// How channel `channel` of a source with `channels` channels enters the field:
// a mono source at the front, a stereo pair at +30° and −30°, otherwise by the
// channel's role (`roles` may be null, every channel then W only).
AmbiGains EncodeSourceChannel(int channel, int channels, const int* roles, bool stereoPair);

// The direct and side parts of a placed layer. `mode` 0 Direct, 1 Spread,
// 2 Diffuse; `amount` 0..1, negative when the layer has none (0.5 is used).
struct SpreadComponents {
    float direct = 1.0f;  // gain of the source at its own place
    float side = 0.0f;    // gain of each of the two side components
    bool hasSides = false;
    float sideAzimuth[2] = {0.0f, 0.0f};  // layer azimuth + 110°, − 110°
    float sideElevation = 0.0f;           // layer elevation + 15°
};
SpreadComponents ComputeSpread(int mode, float amount, float azimuth, float elevation);

// The spatial mode a layer gets from its group's placement (0 "Direct", 1
// "Spread", 2 "Diffuse"): Direct places the layer without side components (-1),
// Spread and Diffuse keep their numbers, so Diffuse (factor 0.6) spreads wider
// than Spread (0.25) at the same amount.
inline int SpatialModeForPlacement(int placement) { return placement == 1 || placement == 2 ? placement : -1; }

// Second-order high-pass near 250 Hz for the side components: the low band stays
// with the direct sound, so spreading widens the image without smearing the bass
// around the room or cancelling it in a stereo fold-down.
struct SideHighPass {
    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
};
void InitSideHighPass(SideHighPass& filter, int sampleRate);
inline float RunSideHighPass(SideHighPass& f, float in) {
    const float out = f.b0 * in + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    f.x2 = f.x1;
    f.x1 = in;
    f.y2 = f.y1;
    f.y1 = (out > -1e-20f && out < 1e-20f) ? 0.0f : out;
    return f.y1;
}

// Monitoring layouts ("monitorLayout"): the speaker sets playback can decode to.
enum MonitorLayoutKind : int { kMonitorStereo = 0, kMonitor51 = 1, kMonitor714 = 2 };
inline constexpr int kMonitorLayoutCount = 3;
inline constexpr int kMaxSpeakers = 12;

// The roles of a monitoring layout in canonical order, and its number in the
// layout table (2 "stereo", 6 "5.1", 9 "7.1.4"). A value outside 0..2 reads as stereo.
struct MonitorLayoutInfo {
    int layoutNumber = 2;
    int speakerCount = 2;
    std::array<int, kMaxSpeakers> roles{};
};
MonitorLayoutInfo MonitorLayout(int monitorLayout);

// A speaker decoder: one gain row per speaker, in the layout's role order.
//
// Design: an in-phase (cardioid) first-order decoder, g = k (W + X x + Y y + Z z)
// for a speaker in direction (x, y, z). In-phase decoding never feeds a speaker in
// opposite polarity, so a sound stays on its side of the room for listeners away
// from the centre of the mix stage. The LFE speaker gets nothing from the field
// (there is no bass management in monitoring). k is set so that a source moving
// round the horizontal circle keeps on average the energy of the source itself,
// which keeps decoded layouts at the level of the plain stereo mix. Stereo is the
// same decoder with two virtual cardioids aimed at ±90°.
struct SpeakerDecoder {
    int speakerCount = 0;
    std::array<int, kMaxSpeakers> roles{};
    std::array<AmbiGains, kMaxSpeakers> gains{};  // per speaker: weights of W, Y, Z, X
};
SpeakerDecoder MakeSpeakerDecoder(int monitorLayout);

// Decodes one frame of the field into `speakers` (speakerCount values).
inline void DecodeFrame(const SpeakerDecoder& d, float w, float y, float z, float x, float* speakers) {
    for (int s = 0; s < d.speakerCount; ++s) {
        const AmbiGains& g = d.gains[s];
        speakers[s] = g.w * w + g.y * y + g.z * z + g.x * x;
    }
}

// Binaural headphone decoder.
//
// Design: the field is first decoded in phase to six virtual speakers around the
// head (0°, ±60°, ±120°, 180°, all at ear height); each virtual speaker reaches
// each ear through a spherical-head model: the interaural time difference of
// Woodworth's formula as a fractional delay, and the head shadow as a first-order
// shelving filter whose treble loss grows as the ear turns away from the source
// (Brown and Duda's model). This gives stable left/right and front/back cues
// without measured responses and costs a few operations per speaker and ear.
inline constexpr int kBinauralSpeakers = 6;
inline constexpr int kBinauralDelayLength = 256;  // enough for 0.7 ms at 192 kHz

struct BinauralDecoder {
    int sampleRate = 48000;
    std::array<AmbiGains, kBinauralSpeakers> speakerGains{};
    // Per virtual speaker and ear (0 left, 1 right): delay in samples and the
    // shadow filter's coefficients and state.
    std::array<std::array<float, 2>, kBinauralSpeakers> delay{};
    std::array<std::array<float, 3>, kBinauralSpeakers * 2> shadow{};  // b0, b1, a1
    std::array<float, kBinauralSpeakers * 2> shadowX1{}, shadowY1{};
    std::array<std::array<float, kBinauralDelayLength>, kBinauralSpeakers> history{};
    int write = 0;
    float outputGain = 1.0f;
};
void InitBinauralDecoder(BinauralDecoder& decoder, int sampleRate);
// Decodes `frames` frames of the four field buffers into left and right
// (overwritten). No allocation.
void ProcessBinaural(BinauralDecoder& decoder, const float* w, const float* y, const float* z,
                     const float* x, float* left, float* right, int frames);
void ClearBinaural(BinauralDecoder& decoder);

}  // namespace morvane
