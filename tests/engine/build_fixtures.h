#pragma once
// In-memory libraries for the build tests: entries with their features set directly.
#include <string>
#include <vector>

#include "library/entry.h"

namespace morvane::test {

// An entry whose band levels match what a layer of intensity 0.5 wants, brightness
// 0.5, no transients, a centred temporal centroid: a neutral, well-fitting file.
inline LibraryEntry NeutralEntry(const std::string& name, float duration) {
    LibraryEntry e;
    e.name = name;
    e.path = "/lib/" + name + ".wav";
    e.duration = duration;
    e.sampleRate = 48000.0f;
    e.channels = 1;
    const float bands[5] = {0.104985f, 0.541469f, 1.0f, 0.541469f, 0.104985f};
    for (int k = 0; k < 5; ++k) e.features[k] = bands[k];
    e.features[7] = 0.5f;
    e.features[10] = 0.0f;
    e.features[11] = 0.0f;
    e.features[13] = 0.5f;
    e.features[14] = 0.0f;
    return e;
}

}  // namespace morvane::test
