#include "audio/monitor_layout.h"

#include "library/channel_map.h"
#include "model/preferences.h"

namespace morvane {

std::string ChannelMapKey(int monitorLayout) {
    const MonitorLayoutInfo info = MonitorLayout(monitorLayout);
    return LayoutName(info.layoutNumber, info.speakerCount);
}

std::vector<int> CanonicalChannelMap(int monitorLayout) {
    const MonitorLayoutInfo info = MonitorLayout(monitorLayout);
    std::vector<int> map(info.speakerCount);
    for (int i = 0; i < info.speakerCount; ++i) map[i] = i;
    return map;
}

MonitorRouting ResolveMonitorRouting(const Preferences& prefs, int monitorLayout) {
    const MonitorLayoutInfo info = MonitorLayout(monitorLayout);
    MonitorRouting routing;
    routing.speakerCount = info.speakerCount;
    for (int i = 0; i < kMaxSpeakers; ++i) routing.channelOfSpeaker[i] = i;
    const auto found = prefs.channelMaps.find(ChannelMapKey(monitorLayout));
    if (found == prefs.channelMaps.end()) return routing;
    const std::vector<int>& map = found->second;
    for (int i = 0; i < info.speakerCount && i < static_cast<int>(map.size()); ++i)
        if (map[i] >= 0) routing.channelOfSpeaker[i] = map[i];
    return routing;
}

void ResetChannelMap(Preferences& prefs, int monitorLayout) {
    prefs.channelMaps[ChannelMapKey(monitorLayout)] = CanonicalChannelMap(monitorLayout);
}

void StereoOutputChannels(const MonitorRouting* routing, int deviceChannels, int* left, int* right) {
    int l = 0, r = 1;
    if (routing && routing->speakerCount >= 2) {
        l = routing->channelOfSpeaker[0];
        r = routing->channelOfSpeaker[1];
    }
    if (l < 0 || l >= deviceChannels) l = 0;
    if (r < 0 || r >= deviceChannels) r = deviceChannels >= 2 ? 1 : 0;
    *left = l;
    *right = r;
}

}  // namespace morvane
