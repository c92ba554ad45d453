#include "library/channel_map.h"

#include <sndfile.h>

#include <cstdio>

namespace morvane {

namespace {

// Default orders by channel count, for each fallback order. Counts without an
// entry stay unknown.
struct DefaultOrder {
    int channels;
    int roles[12];
};

constexpr DefaultOrder kSmpteOrders[] = {
    {3, {kRoleL, kRoleR, kRoleC}},
    {4, {kRoleL, kRoleR, kRoleLs, kRoleRs}},
    {5, {kRoleL, kRoleR, kRoleC, kRoleLs, kRoleRs}},
    {6, {kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLs, kRoleRs}},
    {8, {kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLrs, kRoleRrs, kRoleLs, kRoleRs}},
    {10, {kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLrs, kRoleRrs, kRoleLs, kRoleRs, kRoleLtf, kRoleRtf}},
    {12, {kRoleL, kRoleR, kRoleC, kRoleLFE, kRoleLrs, kRoleRrs, kRoleLs, kRoleRs, kRoleLtf, kRoleRtf,
          kRoleLtr, kRoleRtr}},
};

constexpr DefaultOrder kFilmOrders[] = {
    {3, {kRoleL, kRoleC, kRoleR}},
    {4, {kRoleL, kRoleR, kRoleLs, kRoleRs}},
    {5, {kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs}},
    {6, {kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs, kRoleLFE}},
    {8, {kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleLFE}},
    {10, {kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleLFE, kRoleLtf, kRoleRtf}},
    {12, {kRoleL, kRoleC, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleLFE, kRoleLtf, kRoleRtf,
          kRoleLtr, kRoleRtr}},
};

constexpr DefaultOrder kDtsOrders[] = {
    {3, {kRoleL, kRoleR, kRoleC}},
    {4, {kRoleL, kRoleR, kRoleLs, kRoleRs}},
    {5, {kRoleL, kRoleR, kRoleLs, kRoleRs, kRoleC}},
    {6, {kRoleL, kRoleR, kRoleLs, kRoleRs, kRoleC, kRoleLFE}},
    {8, {kRoleL, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleC, kRoleLFE}},
    {10, {kRoleL, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleC, kRoleLFE, kRoleLtf, kRoleRtf}},
    {12, {kRoleL, kRoleR, kRoleLs, kRoleRs, kRoleLrs, kRoleRrs, kRoleC, kRoleLFE, kRoleLtf, kRoleRtf,
          kRoleLtr, kRoleRtr}},
};

int RoleOfMapEntry(int entry) {
    switch (entry) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT: return kRoleL;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT: return kRoleR;
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER: return kRoleC;
        case SF_CHANNEL_MAP_REAR_LEFT: return kRoleLrs;
        case SF_CHANNEL_MAP_REAR_RIGHT: return kRoleRrs;
        case SF_CHANNEL_MAP_LFE: return kRoleLFE;
        case SF_CHANNEL_MAP_SIDE_LEFT: return kRoleLs;
        case SF_CHANNEL_MAP_SIDE_RIGHT: return kRoleRs;
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT: return kRoleLtf;
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT: return kRoleRtf;
        case SF_CHANNEL_MAP_TOP_REAR_LEFT: return kRoleLtr;
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return kRoleRtr;
        default: return kRoleUnknown;
    }
}

bool IsAmbisonicEntry(int entry) {
    return entry == SF_CHANNEL_MAP_AMBISONIC_B_W || entry == SF_CHANNEL_MAP_AMBISONIC_B_X ||
           entry == SF_CHANNEL_MAP_AMBISONIC_B_Y || entry == SF_CHANNEL_MAP_AMBISONIC_B_Z;
}

// A map can describe a file only with one entry per channel, each a position libsndfile
// knows, and no position twice. Anything else came from a damaged file (or from memory
// the library never filled) and is treated as no map at all.
bool UsableMap(const std::vector<int>& fileMap, int channels) {
    if (fileMap.size() != static_cast<size_t>(channels)) return false;
    for (size_t i = 0; i < fileMap.size(); ++i) {
        if (fileMap[i] <= SF_CHANNEL_MAP_INVALID || fileMap[i] >= SF_CHANNEL_MAP_MAX) return false;
        for (size_t j = 0; j < i; ++j)
            if (fileMap[j] == fileMap[i]) return false;
    }
    return true;
}

}  // namespace

const char* ChannelRoleLabel(int role) {
    static const char* const kLabels[kChannelRoleCount] = {"L",  "R",   "C",   "LFE", "Ls",  "Rs",
                                                            "Lrs", "Rrs", "Ltf", "Rtf", "Ltr", "Rtr"};
    return role >= 0 && role < kChannelRoleCount ? kLabels[role] : "?";
}

ChannelMap InterpretChannelMap(int channels, const std::vector<int>& fileMap, int fallbackOrder,
                               int mode) {
    ChannelMap map;
    if (channels <= 0) return map;
    map.roles.assign(static_cast<size_t>(channels), kRoleUnknown);
    if (channels == 1) {
        map.roles[0] = kRoleC;
        map.explicitLayout = true;
        return map;
    }
    if (mode == kInterpretDiscrete) {
        map.discrete = true;
        return map;
    }
    if (mode == kInterpretAmbisonic) {
        map.ambisonic = true;
        return map;
    }
    if (channels == 2) {
        map.roles[0] = kRoleL;
        map.roles[1] = kRoleR;
        map.explicitLayout = true;
        return map;
    }
    if (UsableMap(fileMap, channels)) {
        map.explicitLayout = true;
        for (int i = 0; i < channels; ++i) {
            const int entry = fileMap[static_cast<size_t>(i)];
            map.roles[static_cast<size_t>(i)] = RoleOfMapEntry(entry);
            if (IsAmbisonicEntry(entry) && mode != kInterpretSurround) map.ambisonic = true;
        }
        return map;
    }
    const DefaultOrder* orders = fallbackOrder == kOrderFilm  ? kFilmOrders
                                 : fallbackOrder == kOrderDts ? kDtsOrders
                                                              : kSmpteOrders;
    for (int k = 0; k < 7; ++k) {
        if (orders[k].channels != channels) continue;
        for (int i = 0; i < channels; ++i) map.roles[static_cast<size_t>(i)] = orders[k].roles[i];
        map.explicitLayout = true;
        break;
    }
    return map;
}

int LayoutClass(const ChannelMap& map, int channels) {
    if (map.ambisonic) return 10;
    if (channels == 1) return 1;
    if (channels == 2) return 2;
    if (!map.explicitLayout) return 0;
    switch (channels) {
        case 3: return 3;
        case 4: return 4;
        case 5: return 5;
        case 6: return 6;
        case 8: return 7;
        case 10: return 8;
        case 12: return 9;
        default: return 0;
    }
}

std::string LayoutName(int layout, int channels) {
    static const char* const kNames[] = {"mono", "stereo", "LCR",   "quad",  "5.0",
                                         "5.1",  "7.1",    "7.1.2", "7.1.4", "ambisonic"};
    if (layout >= 1 && layout <= 10) return kNames[layout - 1];
    char text[32];
    std::snprintf(text, sizeof text, "%dch", channels);
    return text;
}

}  // namespace morvane
