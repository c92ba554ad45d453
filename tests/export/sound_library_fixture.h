#pragma once
// A small library of real sound files (tones of different pitches and lengths) for
// the tests that build, render and bounce events.
#include <string>
#include <vector>

#include "engine/build_fixtures.h"
#include "engine/event_build.h"
#include "library/sound_fixtures.h"
#include "model/timeline.h"

namespace morvane::test {

inline Library ToneLibrary(const std::string& folder, int count) {
    Library lib;
    lib.folder = folder;
    lib.name = "Tones";
    for (int i = 0; i < count; ++i) {
        const std::string name = "tone" + std::to_string(i);
        SoundParams p;
        p.frames = 48000 + 12000 * (i % 5);
        p.frequency = 200.0 + 97.0 * i;
        p.amplitude = 0.4;
        const std::string path = folder + "/" + name + ".wav";
        WriteSound(path, p);
        LibraryEntry e = NeutralEntry(name, static_cast<float>(p.frames) / 48000.0f);
        e.path = path;
        e.keywords = "door slam";
        lib.entries.push_back(e);
    }
    return lib;
}

inline BuildOptions SeededBuild(uint32_t seed) {
    BuildOptions o;
    o.useFixedSeed = true;
    o.fixedSeed = seed;
    o.envelopes = [](const std::string&) { return std::vector<float>{}; };
    return o;
}

inline Event SpotEvent(float time, const std::string& keywords) {
    Event ev;
    ev.shape = EventShape::Spot;
    ev.time = time;
    ev.duration = 1.0f;
    ev.keywords = keywords;
    return ev;
}

}  // namespace morvane::test
