#pragma once
// The sounds of sketch layers: the build places "[Sketch] ..." layers when the
// library offers nothing for an event, and the render gives each a short
// synthesized stand-in, so the user hears where the event is and what character
// it asks for before any library is scanned.
//
// Every sketch is mono, lasts exactly the frames asked for, and peaks at −12 dBFS
// before the render's own peak guard and loudness normalisation. It is made from
// a seed alone (the layer's start time, event and track), so a re-render gives the
// same samples, while two events of the same kind, or the several sketches of one
// event (which start together on different tracks), sound a little different.
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

enum class SketchKind {
    Spot,     // a short filtered-noise hit with an exponential decay
    Alloy,    // an inharmonic metallic strike
    Fill,     // a steady soft noise bed
    Wash,     // a slow swell and fall of noise
    Scatter,  // a handful of small ticks spread over the layer
    Layer,    // a soft low tone burst
};

// The kind a sketch layer's name asks for ("[Sketch] Spot" ... "[Sketch] Layer");
// any other name sounds as "[Sketch] Layer".
SketchKind SketchKindOfName(const std::string& name);

// The seed of a sketch: its layer's start time (seconds), event index and track.
uint32_t SketchSeed(float startTime, int eventIndex, int track);

// `frames` samples (at least one) of the sketch at `sampleRate`.
std::vector<float> SynthesizeSketch(SketchKind kind, int64_t frames, int sampleRate, uint32_t seed);

}  // namespace morvane
