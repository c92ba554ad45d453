#pragma once
// Monitoring output routing: which device channel each speaker of the monitoring
// layout plays on ("chmap.<layout name>" lines of the preferences), and where the
// plain stereo mix lands.
#include <array>
#include <string>
#include <vector>

#include "audio/ambisonics.h"

namespace morvane {

struct Preferences;

// Device channel per speaker of a monitoring layout, in the layout's role order.
struct MonitorRouting {
    int speakerCount = 2;
    std::array<int, kMaxSpeakers> channelOfSpeaker{};
};

// The key of a layout's map in the preferences: its layout name ("stereo", "5.1",
// "7.1.4").
std::string ChannelMapKey(int monitorLayout);

// The canonical map of a layout: speaker i on device channel i.
std::vector<int> CanonicalChannelMap(int monitorLayout);

// The routing for `monitorLayout` from the user's maps. A missing map, a missing
// entry or a negative entry falls back to the canonical channel of that speaker.
MonitorRouting ResolveMonitorRouting(const Preferences& prefs, int monitorLayout);

// "Reset map": the layout's map back to the canonical order.
void ResetChannelMap(Preferences& prefs, int monitorLayout);

// The device channels the plain stereo mix is written to. Without routing, 0 and
// 1; a left channel out of range falls back to 0, a right one to 1 when the device
// has two channels or more, else 0.
void StereoOutputChannels(const MonitorRouting* routing, int deviceChannels, int* left, int* right);

}  // namespace morvane
