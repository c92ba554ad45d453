#include "audio/render_cache.h"

#include "engine/event_build.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <unordered_map>

namespace morvane {

CacheGuard::CacheGuard(RenderCache& cache, int attempts) : cache_(cache), lock_(cache.lock_, std::defer_lock) {
    for (int attempt = 0; attempt < attempts && !lock_.owns_lock(); ++attempt) lock_.try_lock();
}

namespace {

void ClearBlocks(RenderCache& cache, int sampleRate, size_t reserveBlocks) {
    cache.sampleRate = sampleRate;
    cache.blocks.clear();
    cache.blockSerial.clear();
    cache.blockFlags.clear();
    cache.blocks.reserve(reserveBlocks);
    cache.blockSerial.reserve(reserveBlocks);
    cache.blockFlags.reserve(reserveBlocks);
}

}  // namespace

void ResetCache(RenderCache& cache, int sampleRate, size_t reserveBlocks) {
    std::vector<RenderBlock> old;
    CacheGuard guard(cache);
    old.swap(cache.blocks);
    ClearBlocks(cache, sampleRate, reserveBlocks);
    // `old` goes after the guard, so its audio is freed outside the lock.
}

int ReplaceBlocks(RenderCache& cache, int sampleRate, std::vector<RenderBlock> blocks) {
    std::vector<RenderBlock> old;
    CacheGuard guard(cache);
    old.swap(cache.blocks);
    ClearBlocks(cache, sampleRate, blocks.size());
    for (RenderBlock& block : blocks) AppendBlock(guard, std::move(block));
    return static_cast<int>(cache.blocks.size());
}

int AppendBlock(CacheGuard& held, RenderBlock block) {
    RenderCache& cache = held.Cache();
    if (block.envelope.size() != static_cast<size_t>(kEnvelopePoints)) block.envelope.resize(kEnvelopePoints, 0.0f);
    const bool evicted = !block.audio && block.spillOffset >= 0;
    cache.blocks.push_back(std::move(block));
    cache.blockSerial.push_back(cache.nextSerial++);
    cache.blockFlags.push_back(evicted ? kBlockFlagEvicted : 0u);
    return static_cast<int>(cache.blocks.size()) - 1;
}

int AppendBlock(RenderCache& cache, RenderBlock block) {
    CacheGuard guard(cache);
    return AppendBlock(guard, std::move(block));
}

int RemoveEventBlocks(CacheGuard& held, int eventIndex) {
    RenderCache& cache = held.Cache();
    size_t kept = 0;
    const size_t count = cache.blocks.size();
    for (size_t i = 0; i < count; ++i) {
        if (cache.blocks[i].eventIndex == eventIndex) continue;
        if (kept != i) {
            cache.blocks[kept] = std::move(cache.blocks[i]);
            if (i < cache.blockSerial.size()) cache.blockSerial[kept] = cache.blockSerial[i];
            if (i < cache.blockFlags.size()) cache.blockFlags[kept] = cache.blockFlags[i];
        }
        ++kept;
    }
    cache.blocks.resize(kept);
    cache.blockSerial.resize(kept);
    cache.blockFlags.resize(kept);
    return static_cast<int>(count - kept);
}

void FinalizeCache(CacheGuard& held, bool resetGains) {
    RenderCache& cache = held.Cache();
    if (resetGains)
        for (RenderBlock& b : cache.blocks) b.gain = b.baseGain;

    // Sum of squared gains per event, over unmuted blocks.
    std::unordered_map<int, double> power;
    for (const RenderBlock& b : cache.blocks)
        if (!b.muted) power[b.eventIndex] += static_cast<double>(b.gain) * b.gain;
    for (RenderBlock& b : cache.blocks) {
        const auto found = power.find(b.eventIndex);
        if (found != power.end() && found->second > 1.0)
            b.gain = static_cast<float>(b.gain / std::sqrt(found->second));
    }

    bool any = false;
    float earliest = 0.0f, latest = 0.0f;
    for (RenderBlock& b : cache.blocks) {
        float peak = 0.001f;
        for (float v : b.envelope) peak = std::max(peak, v);
        b.peak = peak;
        if (b.muted) continue;
        const float start = b.start;
        const float end = b.start + b.duration;
        if (!any || start < earliest) earliest = start;
        if (!any || end > latest) latest = end;
        any = true;
    }
    cache.timelineStart = any ? earliest : 0.0f;
    cache.timelineEnd = any ? latest : 0.0f;
    if (!resetGains) {
        cache.generation.fetch_add(1, std::memory_order_acq_rel);
        cache.ready.store(true, std::memory_order_release);
    }
}

void FinalizeCache(RenderCache& cache, bool resetGains) {
    CacheGuard guard(cache);
    FinalizeCache(guard, resetGains);
}

bool CheckCacheIntegrity(CacheGuard& held, const std::vector<Layer>& results, int eventCount,
                         std::atomic<bool>& deferredRebuild) {
    const RenderCache& cache = held.Cache();
    std::vector<char> referenced(results.size(), 0);
    for (size_t i = 0; i < cache.blocks.size(); ++i) {
        const RenderBlock& b = cache.blocks[i];
        const bool good = b.layerIndex >= 0 && static_cast<size_t>(b.layerIndex) < results.size() &&
                          LayerIdentity(results[b.layerIndex]) == b.identity && b.eventIndex >= 0 &&
                          b.eventIndex < eventCount;
        if (!good) {
            std::fprintf(stderr, "[Cache] Integrity check failed at block %d, deferring rebuild\n", static_cast<int>(i));
            deferredRebuild.store(true, std::memory_order_release);
            return false;
        }
        referenced[b.layerIndex] = 1;
    }
    // A layer that has neither a file nor a sketch ("(no match)") never gets a block;
    // counting it would ask for a refresh that cannot help, every frame, for ever.
    int orphans = 0;
    for (size_t i = 0; i < results.size(); ++i)
        if (!referenced[i] && !(results[i].filepath.empty() && !IsPlaceholderLayer(results[i]))) ++orphans;
    if (orphans > 0) {
        std::fprintf(stderr, "[Cache] %d orphaned results, deferring rebuild\n", orphans);
        deferredRebuild.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

bool CheckCacheIntegrity(RenderCache& cache, const std::vector<Layer>& results, int eventCount,
                         std::atomic<bool>& deferredRebuild) {
    CacheGuard guard(cache);
    return CheckCacheIntegrity(guard, results, eventCount, deferredRebuild);
}

void RepointBlocks(CacheGuard& held, const std::vector<Layer>& results) {
    std::unordered_multimap<std::string, int> byIdentity;
    for (size_t i = 0; i < results.size(); ++i) byIdentity.emplace(LayerIdentity(results[i]), static_cast<int>(i));
    for (RenderBlock& b : held.Cache().blocks) {
        if (b.layerIndex >= 0 && static_cast<size_t>(b.layerIndex) < results.size() &&
            LayerIdentity(results[b.layerIndex]) == b.identity)
            continue;  // still in place
        // Among layers with the same identity prefer the one of the block's event.
        int chosen = -1;
        const auto range = byIdentity.equal_range(b.identity);
        for (auto it = range.first; it != range.second; ++it) {
            if (results[it->second].eventIdx == b.eventIndex) { chosen = it->second; break; }
            if (chosen < 0) chosen = it->second;
        }
        if (chosen >= 0) b.layerIndex = chosen;
    }
}

void UpdateBlockPlacement(RenderCache& cache, const std::vector<Layer>& results, const std::vector<Event>& events) {
    CacheGuard guard(cache);
    for (RenderBlock& b : cache.blocks) {
        if (b.layerIndex < 0 || static_cast<size_t>(b.layerIndex) >= results.size()) continue;
        const Layer& layer = results[static_cast<size_t>(b.layerIndex)];
        if (LayerIdentity(layer) != b.identity || layer.eventIdx != b.eventIndex) continue;
        b.start = layer.startTime;
        const bool eventMuted = b.eventIndex >= 0 && static_cast<size_t>(b.eventIndex) < events.size() &&
                                events[static_cast<size_t>(b.eventIndex)].muted;
        b.muted = layer.muted || eventMuted;
    }
}

// ---- Decoded-segment cache ----

namespace {

std::mutex& SegmentMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<std::string, std::shared_ptr<const DecodedSegment>>& Segments() {
    static std::unordered_map<std::string, std::shared_ptr<const DecodedSegment>> map;
    return map;
}
// Oldest first, with their sizes, so the cache can stay within its byte budget.
std::deque<std::pair<std::string, size_t>>& SegmentOrder() {
    static std::deque<std::pair<std::string, size_t>> order;
    return order;
}
size_t segmentBytes = 0;
size_t segmentBudget = size_t{256} << 20;

size_t SegmentBytes(const DecodedSegment& segment) {
    size_t bytes = 0;
    for (const auto& channel : segment.channels) bytes += channel.size() * sizeof(float);
    return bytes;
}

std::unordered_map<uint64_t, int>& IdentityNumbers() {
    static std::unordered_map<uint64_t, int> map;
    return map;
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

int FileIdentityNumber(const std::string& path) {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    const auto found = IdentityNumbers().find(Fnv1a(path));
    return found == IdentityNumbers().end() ? 0 : found->second;
}

void BumpFileIdentity(const std::string& path) {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    ++IdentityNumbers()[Fnv1a(path)];
}

std::string SegmentCacheKey(const std::string& path, double offset, double duration, int sampleRate,
                            int channels, int channelOrderFallback) {
    char text[160];
    std::snprintf(text, sizeof text, "|%.3f|%.3f|%d|%d|f%d|o%d|i%d", offset, duration, sampleRate, channels, 2,
                  channelOrderFallback, FileIdentityNumber(path));
    return path + text;
}

std::shared_ptr<const DecodedSegment> FindSegment(const std::string& key) {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    const auto found = Segments().find(key);
    return found == Segments().end() ? nullptr : found->second;
}

void StoreSegment(const std::string& key, std::shared_ptr<const DecodedSegment> segment) {
    std::vector<std::shared_ptr<const DecodedSegment>> dropped;  // freed outside the lock
    std::lock_guard<std::mutex> lock(SegmentMutex());
    const size_t bytes = segment ? SegmentBytes(*segment) : 0;
    auto& map = Segments();
    auto& order = SegmentOrder();
    if (map.count(key) == 0) {
        order.emplace_back(key, bytes);
        segmentBytes += bytes;
    }
    map[key] = std::move(segment);
    // Oldest pieces go first; the newest always stays, however large.
    while (segmentBytes > segmentBudget && order.size() > 1) {
        const auto found = map.find(order.front().first);
        if (found != map.end()) {
            dropped.push_back(std::move(found->second));
            map.erase(found);
        }
        segmentBytes -= order.front().second;
        order.pop_front();
    }
}

void SetSegmentCacheBudget(size_t bytes) {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    segmentBudget = bytes;
}

size_t SegmentCacheBytes() {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    return segmentBytes;
}

void ClearSegmentCache() {
    std::unordered_map<std::string, std::shared_ptr<const DecodedSegment>> old;
    {
        std::lock_guard<std::mutex> lock(SegmentMutex());
        old.swap(Segments());
        SegmentOrder().clear();
        segmentBytes = 0;
    }
    // The decoded audio is freed here, outside the lock.
}

size_t SegmentCacheSize() {
    std::lock_guard<std::mutex> lock(SegmentMutex());
    return Segments().size();
}

}  // namespace morvane
