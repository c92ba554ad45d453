#include "audio/block_eviction.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace morvane {

namespace {

// Distance in seconds from the block's span to the window; 0 inside it.
double DistanceToWindow(const RenderBlock& b, double t0, double t1) {
    const double start = b.start + b.deconOffset;
    const double end = start + b.duration;
    if (end < t0) return t0 - end;
    if (start > t1) return start - t1;
    return 0.0;
}

bool IsEvicted(const RenderBlock& b) { return !b.audio && b.spillOffset >= 0; }

// Writes the block's samples (channel after channel) at the end of the spill file.
bool WriteSpill(BlockSpill& spill, const BlockAudio& audio, int64_t* offset) {
    std::lock_guard<std::mutex> lock(spill.mutex);
    if (spill.file == nullptr) return false;
    if (std::fseek(spill.file, static_cast<long>(spill.end), SEEK_SET) != 0) return false;
    for (const std::vector<float>& channel : audio.channels)
        if (std::fwrite(channel.data(), sizeof(float), channel.size(), spill.file) != channel.size()) return false;
    if (std::fflush(spill.file) != 0) return false;
    *offset = spill.end;
    spill.end += static_cast<int64_t>(audio.channels.size()) * audio.Frames() * static_cast<int64_t>(sizeof(float));
    return true;
}

// Makes sure the block's samples are in the spill file; returns false when they
// cannot be written (the block then stays resident).
bool EnsureSpilled(BlockSpill& spill, RenderBlock& b) {
    if (b.spillOffset >= 0) return true;
    if (!b.audio) return false;
    int64_t offset = 0;
    if (!WriteSpill(spill, *b.audio, &offset)) return false;
    b.spillOffset = offset;
    b.spillFrames = b.audio->Frames();
    b.spillChannels = static_cast<int>(b.audio->channels.size());
    return true;
}

int FindBySerial(const RenderCache& cache, uint32_t serial, size_t hint) {
    if (hint < cache.blockSerial.size() && cache.blockSerial[hint] == serial) return static_cast<int>(hint);
    for (size_t i = 0; i < cache.blockSerial.size(); ++i)
        if (cache.blockSerial[i] == serial) return static_cast<int>(i);
    return -1;
}

}  // namespace

BlockSpill::~BlockSpill() {
    if (file != nullptr) std::fclose(file);
}

int64_t BlockAudioBytes(const RenderBlock& b) {
    if (!b.audio) return 0;
    return static_cast<int64_t>(b.audio->channels.size()) * b.audio->Frames() * static_cast<int64_t>(sizeof(float));
}

int64_t ResidentAudioBytes(RenderCache& cache) {
    std::lock_guard<std::recursive_mutex> lock(cache.mutex);
    int64_t total = 0;
    for (const RenderBlock& b : cache.blocks) total += BlockAudioBytes(b);
    return total;
}

void SetMemoryBudget(RenderCache& cache, int64_t bytes) { cache.memoryBudget.store(std::max<int64_t>(0, bytes)); }

std::shared_ptr<BlockSpill> CacheSpill(RenderCache& cache) {
    std::lock_guard<std::recursive_mutex> lock(cache.mutex);
    if (!cache.spill) {
        auto spill = std::make_shared<BlockSpill>();
        spill->file = std::tmpfile();  // removed by the system when closed
        if (spill->file == nullptr) return nullptr;
        cache.spill = std::move(spill);
    }
    return cache.spill;
}

bool ReadSpilledAudio(BlockSpill& spill, const RenderBlock& b, BlockAudio* out) {
    if (b.spillOffset < 0 || b.spillChannels < 1 || b.spillFrames < 0) return false;
    std::lock_guard<std::mutex> lock(spill.mutex);
    if (spill.file == nullptr || std::fseek(spill.file, static_cast<long>(b.spillOffset), SEEK_SET) != 0) return false;
    out->channels.assign(static_cast<size_t>(b.spillChannels), std::vector<float>(static_cast<size_t>(b.spillFrames)));
    for (std::vector<float>& channel : out->channels)
        if (std::fread(channel.data(), sizeof(float), channel.size(), spill.file) != channel.size()) return false;
    return true;
}

EvictionStats RunEvictionPass(RenderCache& cache, double seconds, const EvictionWindow& window) {
    const auto began = std::chrono::steady_clock::now();
    EvictionStats stats;
    const double t0 = seconds - window.before, t1 = seconds + window.after;
    const int64_t budget = cache.memoryBudget.load();
    std::shared_ptr<BlockSpill> spill;

    struct Candidate {
        uint32_t serial;
        size_t index;
        double distance;
        int64_t bytes;
        std::shared_ptr<const BlockAudio> audio;  // keeps the samples alive while they are written
        int64_t spillOffset;
    };
    std::vector<Candidate> toRestore, toEvict;
    int64_t resident = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(cache.mutex);
        for (size_t i = 0; i < cache.blocks.size(); ++i) {
            const RenderBlock& b = cache.blocks[i];
            const double distance = DistanceToWindow(b, t0, t1);
            const uint32_t serial = i < cache.blockSerial.size() ? cache.blockSerial[i] : 0;
            if (IsEvicted(b)) {
                if (distance == 0.0) toRestore.push_back({serial, i, distance, 0, nullptr, b.spillOffset});
                continue;
            }
            resident += BlockAudioBytes(b);
            if (distance > 0.0 && b.audio) toEvict.push_back({serial, i, distance, BlockAudioBytes(b), b.audio, b.spillOffset});
        }
    }

    if (!toRestore.empty() || (budget > 0 && resident > budget)) spill = CacheSpill(cache);

    // Restores first: they are about to sound.
    for (const Candidate& c : toRestore) {
        if (!spill) break;
        RenderBlock shape;  // the spill location, copied under the lock
        {
            std::lock_guard<std::recursive_mutex> lock(cache.mutex);
            const int at = FindBySerial(cache, c.serial, c.index);
            if (at < 0 || !IsEvicted(cache.blocks[static_cast<size_t>(at)])) continue;
            const RenderBlock& b = cache.blocks[static_cast<size_t>(at)];
            shape.spillOffset = b.spillOffset;
            shape.spillFrames = b.spillFrames;
            shape.spillChannels = b.spillChannels;
        }
        auto audio = std::make_shared<BlockAudio>();
        if (!ReadSpilledAudio(*spill, shape, audio.get())) continue;
        std::lock_guard<std::recursive_mutex> lock(cache.mutex);
        const int at = FindBySerial(cache, c.serial, c.index);
        if (at < 0) continue;
        RenderBlock& b = cache.blocks[static_cast<size_t>(at)];
        if (!IsEvicted(b) || b.spillOffset != shape.spillOffset) continue;
        b.audio = std::move(audio);
        cache.blockFlags[static_cast<size_t>(at)] &= ~kBlockFlagEvicted;
        resident += BlockAudioBytes(b);
        ++stats.restored;
        cache.mixer.restores.fetch_add(1, std::memory_order_relaxed);
    }

    if (budget > 0 && resident > budget && spill) {
        std::sort(toEvict.begin(), toEvict.end(),
                  [](const Candidate& a, const Candidate& b) { return a.distance > b.distance; });
        for (Candidate& c : toEvict) {
            if (resident <= budget) break;
            int64_t offset = c.spillOffset;
            if (offset < 0 && !WriteSpill(*spill, *c.audio, &offset)) break;  // disk full: stop evicting
            std::shared_ptr<const BlockAudio> released;
            {
                std::lock_guard<std::recursive_mutex> lock(cache.mutex);
                const int at = FindBySerial(cache, c.serial, c.index);
                if (at < 0) continue;
                RenderBlock& b = cache.blocks[static_cast<size_t>(at)];
                if (b.audio != c.audio) continue;  // replaced meanwhile
                b.spillOffset = offset;
                b.spillFrames = c.audio->Frames();
                b.spillChannels = static_cast<int>(c.audio->channels.size());
                released = std::move(b.audio);
                b.audio.reset();
                cache.blockFlags[static_cast<size_t>(at)] |= kBlockFlagEvicted;
            }
            resident -= c.bytes;
            stats.evictedBytes += c.bytes;
            c.audio.reset();
            // `released` is the last reference: the samples are freed here, outside the lock.
        }
    }

    {
        std::lock_guard<std::recursive_mutex> lock(cache.mutex);
        for (const RenderBlock& b : cache.blocks)
            if (IsEvicted(b) && DistanceToWindow(b, t0, t1) == 0.0) ++stats.pendingRestores;
    }
    stats.residentBytes = resident;
    stats.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    MixerState& m = cache.mixer;
    m.pendingRestores.store(static_cast<uint64_t>(stats.pendingRestores), std::memory_order_relaxed);
    m.lastEvictMs.store(static_cast<float>(stats.milliseconds), std::memory_order_relaxed);
    if (static_cast<float>(stats.milliseconds) > m.maxEvictMs.load(std::memory_order_relaxed))
        m.maxEvictMs.store(static_cast<float>(stats.milliseconds), std::memory_order_relaxed);
    return stats;
}

int64_t EvictStagedBlocks(std::vector<RenderBlock>& blocks, BlockSpill& spill, int64_t budget, double seconds,
                          const EvictionWindow& window) {
    if (budget <= 0) return 0;
    const double t0 = seconds - window.before, t1 = seconds + window.after;
    int64_t resident = 0;
    std::vector<std::pair<double, size_t>> order;
    for (size_t i = 0; i < blocks.size(); ++i) {
        resident += BlockAudioBytes(blocks[i]);
        const double distance = DistanceToWindow(blocks[i], t0, t1);
        if (blocks[i].audio && distance > 0.0) order.emplace_back(distance, i);
    }
    if (resident <= budget) return 0;
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    int64_t released = 0;
    for (const auto& [distance, i] : order) {
        if (resident <= budget) break;
        RenderBlock& b = blocks[i];
        const int64_t bytes = BlockAudioBytes(b);
        if (!EnsureSpilled(spill, b)) break;
        b.audio.reset();
        resident -= bytes;
        released += bytes;
    }
    return released;
}

}  // namespace morvane
