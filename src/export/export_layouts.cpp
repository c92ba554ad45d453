#include "export/export_layouts.h"

#include <algorithm>

#include "audio/ambisonics.h"
#include "audio/mixer.h"
#include "library/channel_map.h"
#include "model/preferences.h"

namespace morvane {

namespace {

// WAVE_FORMAT_EXTENSIBLE speaker positions.
constexpr uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCenter = 0x4, kLowFrequency = 0x8;
constexpr uint32_t kBackLeft = 0x10, kBackRight = 0x20, kSideLeft = 0x200, kSideRight = 0x400;
constexpr uint32_t kTopFrontLeft = 0x1000, kTopFrontRight = 0x4000, kTopBackLeft = 0x8000, kTopBackRight = 0x20000;

// The field itself as four "speakers": W, Y, Z, X.
SpeakerDecoder AmbiXPassThrough() {
    SpeakerDecoder d;
    d.speakerCount = kAmbisonicChannels;
    d.roles.fill(kRoleUnknown);
    d.gains[0].w = 1.0f;
    d.gains[1].y = 1.0f;
    d.gains[2].z = 1.0f;
    d.gains[3].x = 1.0f;
    return d;
}

}  // namespace

ExportLayoutInfo DescribeExportLayout(int layout) {
    ExportLayoutInfo info;
    switch (layout) {
        case kExport51:
            // L R C LFE Ls Rs: the surrounds of a 5.1 file are announced as the back pair,
            // which is how receiving tools name the usual 5.1 layout.
            info.name = "5.1";
            info.channels = 6;
            info.speakerMask = kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
            info.mixChannelOfFileChannel = {0, 1, 2, 3, 4, 5};
            break;
        case kExport714:
            // The mix comes in role order L R C LFE Ls Rs Lrs Rrs Ltf Rtf Ltr Rtr; Ls/Rs
            // are the side pair and Lrs/Rrs the back pair, and the back pair's bits come first.
            info.name = "7.1.4";
            info.channels = 12;
            info.speakerMask = kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight |
                               kSideLeft | kSideRight | kTopFrontLeft | kTopFrontRight | kTopBackLeft | kTopBackRight;
            info.mixChannelOfFileChannel = {0, 1, 2, 3, 6, 7, 4, 5, 8, 9, 10, 11};
            break;
        case kExportAmbiX:
            info.name = "AmbiX";
            info.channels = kAmbisonicChannels;
            info.speakerMask = 0;
            info.plainContainer = true;
            info.mixChannelOfFileChannel = {0, 1, 2, 3};
            break;
        default:
            info.mixChannelOfFileChannel = {0, 1};
            break;
    }
    return info;
}

void ConfigureExportLayout(RenderCache& cache, int layout) {
    Preferences monitoring;  // canonical routing: speaker i on channel i, no headphones
    monitoring.monitorBinaural = false;
    switch (layout) {
        case kExport51: monitoring.monitorLayout = kMonitor51; break;
        case kExport714: monitoring.monitorLayout = kMonitor714; break;
        case kExportAmbiX: monitoring.monitorLayout = kMonitor714; break;  // its decoder is replaced below
        default: monitoring.monitorLayout = kMonitorStereo; break;
    }
    SetMonitoring(cache, monitoring);
    const CacheGuard guard(cache);
    cache.mixer.guarded.decoders[kMonitor51] = MakeSpeakerDecoder(kMonitor51);
    cache.mixer.guarded.decoders[kMonitor714] = layout == kExportAmbiX ? AmbiXPassThrough() : MakeSpeakerDecoder(kMonitor714);
}

std::string ExportLayoutChannels(int layout) {
    // The sound field's channels are components, not speakers: they are named by
    // their convention.
    if (layout == kExportAmbiX) return "W Y Z X (ACN / SN3D)";
    std::string text;
    for (int mixChannel : DescribeExportLayout(layout).mixChannelOfFileChannel) {
        if (!text.empty()) text += ' ';
        text += ChannelRoleLabel(mixChannel);
    }
    return text;
}

std::vector<std::vector<float>> FileChannelsFromMix(const std::vector<float>& interleaved, int64_t frames,
                                                    const ExportLayoutInfo& layout) {
    const int channels = layout.channels;
    std::vector<std::vector<float>> out(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(frames), 0.0f));
    const int64_t have = channels > 0 ? static_cast<int64_t>(interleaved.size()) / channels : 0;
    const int64_t n = std::min(frames, have);
    for (int c = 0; c < channels; ++c) {
        const int from = layout.mixChannelOfFileChannel[static_cast<size_t>(c)];
        float* dst = out[static_cast<size_t>(c)].data();
        for (int64_t i = 0; i < n; ++i) dst[i] = interleaved[static_cast<size_t>(i * channels + from)];
    }
    return out;
}

}  // namespace morvane
