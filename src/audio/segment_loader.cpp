#include "audio/segment_loader.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "audio/resample.h"
#include "library/audio_file.h"
#include "library/channel_map.h"
#include "library/libraries.h"

namespace morvane {

namespace {

std::atomic<uint64_t> decodeCount{0};

}  // namespace

uint64_t SegmentDecodeCount() { return decodeCount.load(std::memory_order_relaxed); }

std::shared_ptr<const DecodedSegment> LoadSegment(const std::string& path, double offset, double duration,
                                                  int sampleRate, bool keepChannels, int channelOrderFallback) {
    if (path.empty() || sampleRate < 1 || !(duration > 0.0)) return nullptr;
    offset = std::max(0.0, offset);
    const std::string key =
        SegmentCacheKey(path, offset, duration, sampleRate, keepChannels ? 0 : 1, channelOrderFallback);
    if (auto found = FindSegment(key)) return found;

    decodeCount.fetch_add(1, std::memory_order_relaxed);
    // Learn the file's rate first, then read exactly the frames the span needs.
    RegionRead probe;
    if (!ReadRegion(path, 0.0, 0, &probe) || probe.sampleRate < 1 || probe.channels < 1) return nullptr;
    const int64_t wanted = static_cast<int64_t>(std::ceil(duration * probe.sampleRate));
    RegionRead read;
    if (!ReadRegion(path, offset, wanted, &read) || read.frames <= 0) return nullptr;

    auto segment = std::make_shared<DecodedSegment>();
    segment->sampleRate = sampleRate;
    const int fileChannels = read.channels;
    const size_t frames = static_cast<size_t>(read.frames);
    if (!keepChannels || fileChannels == 1) {
        std::vector<float> mono(frames, 0.0f);
        const float scale = 1.0f / static_cast<float>(fileChannels);
        for (size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (int c = 0; c < fileChannels; ++c) sum += read.samples[i * fileChannels + c];
            mono[i] = std::isfinite(sum) ? sum * scale : 0.0f;  // float files may hold NaN
        }
        segment->channels.push_back(std::move(mono));
    } else {
        const int kept = std::min(fileChannels, kChannelRoleCount);
        segment->channels.assign(static_cast<size_t>(kept), std::vector<float>(frames, 0.0f));
        for (size_t i = 0; i < frames; ++i)
            for (int c = 0; c < kept; ++c) {
                const float v = read.samples[i * fileChannels + c];
                segment->channels[c][i] = std::isfinite(v) ? v : 0.0f;
            }
        if (kept > 2) {
            const ChannelMap map = InterpretChannelMap(kept, SoundFileChannelMap(path),
                                                       channelOrderFallback, InterpretationOfPath(path));
            segment->roles = map.roles;
            segment->ambisonic = map.ambisonic;
        }
    }
    read.samples = {};  // the interleaved copy is not needed any more
    if (read.sampleRate != sampleRate)
        for (std::vector<float>& channel : segment->channels)
            channel = ResampleChannel(channel, read.sampleRate, sampleRate);
    StoreSegment(key, segment);
    return segment;
}

}  // namespace morvane
