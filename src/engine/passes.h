#pragma once
// The project-wide passes that run after every build, in this order:
// ProtectSilencePass (with protectSilence on), DensityDuckingPass, DeconflictPass,
// DestructiveEqPass (with destructiveEQ on), AssignTracks.
#include <array>
#include <functional>
#include <vector>

#include "engine/selection.h"
#include "model/timeline.h"

namespace morvane {

// The five band shares of a layer's file (0.2 each when unknown).
using BandLookup = std::function<std::array<float, 5>(const Layer&)>;
BandLookup MakeBandLookup(const std::vector<LibraryRoot>& roots);

// The level the passes compare: layerGain x userVolume.
float LayerLoudness(const Layer& layer);

// Layers that would ring into a gap between events are cut at the gap (or muted
// when less than 0.05 s would remain).
void ProtectSilencePass(Project& project);
// Crowded stretches (more than four layers in 2.25 s) duck the quieter non-hero
// layers by up to 4 dB, into deconGain.
void DensityDuckingPass(Project& project);
// Micro-offsets for layers of one event starting together, and spectral-masking
// ducking of non-hero layers.
void DeconflictPass(Project& project, const BandLookup& bands);
// Up to 6 dB of cut per band where a layer is buried under overlapping layers.
void DestructiveEqPass(Project& project, const BandLookup& bands);
// Tracks per group (hero layers placed first), the budget, the overall layout
// (group 1, then 2, then 0); every layer's pitchShift returns to its pitchVarShift.
void AssignTracks(Project& project);

// All passes in order, with the two switches.
void RunPostBuildPasses(Project& project, const BandLookup& bands, bool protectSilence, bool destructiveEQ);

}  // namespace morvane
