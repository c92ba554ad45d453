#pragma once
// How the channels of a sound file are read: which speaker role each channel has,
// and which layout class the file belongs to. Kept free of any render code so the
// library's analysis and the renderer share one interpretation.
#include <string>
#include <vector>

namespace morvane {

// Speaker roles in canonical order; kRoleUnknown marks a channel without a role.
enum ChannelRole : int {
    kRoleL = 0, kRoleR = 1, kRoleC = 2, kRoleLFE = 3, kRoleLs = 4, kRoleRs = 5,
    kRoleLrs = 6, kRoleRrs = 7, kRoleLtf = 8, kRoleRtf = 9, kRoleLtr = 10, kRoleRtr = 11,
    kRoleUnknown = 12,
};
constexpr int kChannelRoleCount = 12;

// "L", "R", ... for roles 0..11; "?" for anything else.
const char* ChannelRoleLabel(int role);

// How the multichannel files of a library are read.
enum ChannelInterpretation : int {
    kInterpretAuto = 0, kInterpretSurround = 1, kInterpretDiscrete = 2, kInterpretAmbisonic = 3,
};

// Default channel orders for files without a channel map ("channelOrderFallback").
enum ChannelOrderFallback : int {
    kOrderSmpte = 0,  // L R C LFE Ls Rs ..., the order of WAV speaker masks
    kOrderFilm = 1,   // L C R Ls Rs LFE ...
    kOrderDts = 2,    // L R Ls Rs C LFE ...
};

struct ChannelMap {
    std::vector<int> roles;  // one per channel, kRoleUnknown when not known
    bool explicitLayout = false;
    bool ambisonic = false;
    bool discrete = false;
};

// Interprets a file of `channels` channels. `fileMap` holds the file's own channel
// map as libsndfile reports it (SF_CHANNEL_MAP_* values, one per channel), or is
// empty when the file has none; a map of the wrong length, with unknown positions or
// with a position twice counts as none. `fallbackOrder` 0..2, `mode` a
// ChannelInterpretation.
ChannelMap InterpretChannelMap(int channels, const std::vector<int>& fileMap, int fallbackOrder,
                               int mode);

// The layout number of an interpreted file: 10 ambisonic, 1 mono, 2 stereo, and for
// explicit layouts 3 (3 ch), 4 (4), 5 (5), 6 (6), 7 (8), 8 (10), 9 (12); else 0.
int LayoutClass(const ChannelMap& map, int channels);

// "mono", "stereo", "LCR", "quad", "5.0", "5.1", "7.1", "7.1.2", "7.1.4", "ambisonic"
// for layouts 1..10; "%dch" with the channel count otherwise.
std::string LayoutName(int layout, int channels);

}  // namespace morvane
