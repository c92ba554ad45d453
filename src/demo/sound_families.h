#pragma once
// The kinds of sound the demo library holds and how each is synthesised: struck
// materials, whooshes and passbys, risers, drones, tuned hits, fire, water, room
// tones, ambiences and footsteps. A family turns a few musical parameters into
// finished channels (peak-normalised, faded at the ends).
#include <vector>

#include "demo/synth.h"

namespace morvane::demo {

enum class SoundFamily {
    WoodImpact,
    MetalImpact,
    GlassImpact,
    GlassBreak,
    BodyImpact,
    BodyFall,
    StoneImpact,
    Whoosh,
    Passby,
    Riser,
    Drone,
    TonalHit,
    FireCrackle,
    FireBurn,
    WaterFlow,
    WaterBubbles,
    WaterDrips,
    WaterSplash,
    RoomTone,
    Wind,
    Rain,
    Forest,
    Footsteps,
};

struct SoundParams {
    SoundFamily family = SoundFamily::WoodImpact;
    float seconds = 1.0f;
    float size = 0.5f;        // 0 small/light .. 1 big/heavy: lowers pitch, lengthens decay
    float brightness = 0.5f;  // 0 dull .. 1 bright
    int note = 60;            // MIDI note of tuned families
    int channels = 1;         // 1 or 2
    float peakDb = -3.0f;     // where the finished sound peaks
};

// The finished channels (1 or 2, as asked) of one sound at `rate`.
std::vector<Signal> SynthesiseSound(const SoundParams& params, int rate, SynthRng& rng);

}  // namespace morvane::demo
