#pragma once
// Musical scales, the tuning of detected pitches to the project's scale, and the
// random pitch, frequency-shift and reverse choices the build gives each layer.
#include <cstdint>
#include <span>
#include <string>

#include "model/timeline.h"

namespace morvane {

inline constexpr int kScaleCount = 17;
inline constexpr int kScaleChromatic = 10;

// Display name of a scale ("Off", "Major", ... "Power (1-5)"); out of range gives "Off".
const char* ScaleName(int scaleIndex);
// Root note names "C" .. "B"; out of range is clamped.
const char* ScaleRootName(int root);

// Semitone offsets of the scale from its root; empty for "Off" and out of range.
std::span<const int> ScaleNotes(int scaleIndex);

// Shift in semitones (-6..+6) that moves a detected note (fractional note number,
// note + cents / 100) to the nearest note of the scale on `root`; the first note of
// the table wins a tie. 0 for a scale without notes.
float TuningShift(float note, int scaleIndex, int root);

// A detected pitch counts only strictly between 20 Hz and 10 kHz and with a
// confidence above 0.25.
bool PitchAccepted(float frequencyHz, float confidence);

// The tuning the render adds to a layer's pitchVarShift: 0 when the scale is "Off" or
// "Chromatic", the event forces tuning off (scaleTuneOverride 2), no pitch was
// accepted, or the layer is a fill.
float LayerTuningShift(int scaleType, int scaleRoot, int scaleTuneOverride, bool isFill, bool pitchAccepted,
                       float note);

// The random pitch choice of one layer, in semitones, from two uniform draws in
// [0, 1]. pitchVariation (0..1, "± semitones") spreads each layer by up to that many
// semitones; the project's pitchShiftProb (%) is the chance of an additional shift of
// up to two semitones, the range an editor reaches for to stop a repeated sound from
// sounding repeated.
float DrawPitchVarShift(float pitchVariation, int pitchShiftProb, float u1, float u2, float u3);

// Reverse and frequency shift have no fields of their own on a layer, so the render
// derives them from the layer's identity: the same layer always gets the same answer,
// and a new choice of file or placement draws again.
uint32_t LayerVariationHash(const Layer& layer);
// True for about reverseProb % of layers. Never for fills, whose chunks must join.
bool LayerReversed(const Layer& layer, int reverseProb);
// Frequency shift in Hz for the render's single-sideband shifter: up to
// freqShiftIntensity % of 40 Hz, either direction; 0 for fills and at 0 %.
float LayerFrequencyShiftHz(const Layer& layer, int freqShiftIntensity);

}  // namespace morvane
