#pragma once
// The Alloy morph: one layer made of four library files. The main file keeps its
// fine structure (its partials, its noise, its stereo image); the mid and high
// files lend it their spectral envelope, band by band; the envelope file lends it
// its loudness contour over time. The result sounds like the main material cast
// in the shape of the others, which is what a designer layering three files by
// hand is after but without the phasing of stacked copies.
//
// How it is done (a short-time Fourier transform, 2048-point Hann frames with a
// hop of 512, overlap-added back):
//  - The spectrum 40 Hz..16 kHz is split into `filterBands` log-spaced bands
//    (4..24: more bands follow the donors' spectra more closely, fewer keep more of
//    the main's own colour). Bands below 2 kHz take the mid file as donor, bands
//    above it the high file (algorithm 0 takes the mid file everywhere).
//  - In every frame each band's level is measured in the main and in its donor,
//    each relative to its whole signal's RMS, so the donor's spectral balance
//    moves over and its absolute loudness does not. The band's gain is
//    (donor / main) ^ transferDepth, limited to +-12 dB, interpolated between band
//    centres over log frequency so no bin sees a step.
//  - The output spectrum is the main's plus morph x (gain - 1) x the spectrum of
//    a copy of the main detuned by microPitch x morph semitones: morph 0 or gains
//    of 1 give the main unchanged, and the moved energy sits a few cents apart
//    from the main so the two do not comb-filter.
//  - Algorithm 3 also blends in half of each donor's own spectrum (level-matched
//    to the main), scaled by morph: a true cross of the materials.
//  - Algorithms 2 and 3 then impose the envelope file's broadband loudness
//    contour (its shape over time, as a ratio to the result's own contour, raised
//    to transferDepth x morph, limited to +-12 dB).
//  - attackGraft seconds at the start are crossfaded back to the untouched main:
//    frame-wise processing smears a transient, and the attack is what the ear
//    uses to recognise the material.
#include <cstdint>
#include <vector>

namespace morvane {

struct AlloySettings {
    int algorithm = 2;            // 0..3
    float transferDepth = 0.2f;   // 0..1
    float attackGraft = 0.03f;    // seconds, 0..0.2
    float microPitch = 0.03f;     // semitones, 0..0.15
    int filterBands = 10;         // 4..24
    float morph = 1.0f;           // the layer's amount, 0..1
};

// Renders the alloy of `main` (one buffer per channel) with the three mono donor
// sources; each donor is stretched to the main's length first. An empty donor is
// left out (its bands or contour stay as the main's).
std::vector<std::vector<float>> RenderAlloy(const std::vector<std::vector<float>>& main, const std::vector<float>& mid,
                                            const std::vector<float>& high, const std::vector<float>& envelope,
                                            int sampleRate, const AlloySettings& settings);

// Centre frequencies of the bands (log-spaced 40 Hz..16 kHz, capped below Nyquist).
std::vector<double> AlloyBandCentres(int bands, int sampleRate);

}  // namespace morvane
