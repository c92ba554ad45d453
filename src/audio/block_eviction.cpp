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

int64_t AudioBytes(const BlockAudio& audio) {
    return static_cast<int64_t>(audio.channels.size()) * audio.Frames() * static_cast<int64_t>(sizeof(float));
}

// Writes the block's samples (channel after channel) at the end of the spill file.
bool WriteSpill(BlockSpill& spill, const BlockAudio& audio, int64_t* offset) {
    std::lock_guard<std::mutex> lock(spill.mutex);
    if (spill.file == nullptr) return false;
    if (std::fseek(spill.file, static_cast<long>(spill.end), SEEK_SET) != 0) return false;
    for (const std::vector<float>& channel : audio.channels)
        if (std::fwrite(channel.data(), sizeof(float), channel.size(), spill.file) != channel.size()) return false;
    if (std::fflush(spill.file) != 0) return false;
    *offset = spill.end;
    spill.end += AudioBytes(audio);
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

int64_t BlockAudioBytes(const RenderBlock& b) { return b.audio ? AudioBytes(*b.audio) : 0; }

int64_t ResidentAudioBytes(RenderCache& cache) {
    const CacheGuard guard(cache);
    int64_t total = 0;
    for (const RenderBlock& b : cache.blocks) total += BlockAudioBytes(b);
    return total;
}

void SetMemoryBudget(RenderCache& cache, int64_t bytes) { cache.memoryBudget.store(std::max<int64_t>(0, bytes)); }

std::shared_ptr<BlockSpill> CacheSpill(RenderCache& cache) {
    {
        const CacheGuard guard(cache);
        if (cache.spill) return cache.spill;
    }
    // The file is made outside the lock; of two threads making one, the first to
    // put it in the cache wins and the other's is closed unused.
    auto spill = std::make_shared<BlockSpill>();
    spill->file = std::tmpfile();  // removed by the system when closed
    if (spill->file == nullptr) return nullptr;
    const CacheGuard guard(cache);
    if (!cache.spill) cache.spill = std::move(spill);
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

namespace {

// A block the pass restores or evicts, found again by its serial number after the
// lock was let go for the file work.
struct PassCandidate {
    uint32_t serial;
    size_t index;
    double distance;
    int64_t bytes;
    std::shared_ptr<const BlockAudio> audio;  // evict: keeps the samples alive while written; restore: read back
    int64_t spillOffset;
    int64_t spillFrames;
    int spillChannels;
};

int CountPendingRestores(const RenderCache& cache, double t0, double t1) {
    int pending = 0;
    for (const RenderBlock& b : cache.blocks)
        if (IsEvicted(b) && DistanceToWindow(b, t0, t1) == 0.0) ++pending;
    return pending;
}

// Under the lock: the blocks to bring back (evicted, inside the window) and the
// ones that could go (resident, outside it). Returns the resident bytes.
int64_t ChooseCandidates(const RenderCache& cache, double t0, double t1, std::vector<PassCandidate>& toRestore,
                         std::vector<PassCandidate>& toEvict) {
    int64_t resident = 0;
    for (size_t i = 0; i < cache.blocks.size(); ++i) {
        const RenderBlock& b = cache.blocks[i];
        const double distance = DistanceToWindow(b, t0, t1);
        const uint32_t serial = i < cache.blockSerial.size() ? cache.blockSerial[i] : 0;
        if (IsEvicted(b)) {
            if (distance == 0.0)
                toRestore.push_back({serial, i, distance, 0, nullptr, b.spillOffset, b.spillFrames, b.spillChannels});
            continue;
        }
        resident += BlockAudioBytes(b);
        if (distance > 0.0 && b.audio)
            toEvict.push_back({serial, i, distance, BlockAudioBytes(b), b.audio, b.spillOffset, 0, 0});
    }
    return resident;
}

// Without the lock: reads the samples of the blocks to restore. Those that could
// not be read are dropped from the list.
void ReadRestores(BlockSpill& spill, std::vector<PassCandidate>& toRestore) {
    std::vector<PassCandidate> read;
    for (PassCandidate& c : toRestore) {
        RenderBlock shape;
        shape.spillOffset = c.spillOffset;
        shape.spillFrames = c.spillFrames;
        shape.spillChannels = c.spillChannels;
        auto audio = std::make_shared<BlockAudio>();
        if (!ReadSpilledAudio(spill, shape, audio.get())) continue;
        c.bytes = AudioBytes(*audio);
        c.audio = std::move(audio);
        read.push_back(std::move(c));
    }
    toRestore.swap(read);
}

// Without the lock: writes the farthest blocks to the spill until what stays
// resident fits the budget. Returns the ones written, with their offsets.
std::vector<PassCandidate> WriteEvictions(BlockSpill& spill, std::vector<PassCandidate>& toEvict, int64_t resident,
                                          int64_t budget) {
    std::sort(toEvict.begin(), toEvict.end(),
              [](const PassCandidate& a, const PassCandidate& b) { return a.distance > b.distance; });
    std::vector<PassCandidate> written;
    for (PassCandidate& c : toEvict) {
        if (resident <= budget) break;
        if (c.spillOffset < 0 && !WriteSpill(spill, *c.audio, &c.spillOffset)) break;  // disk full: stop evicting
        resident -= c.bytes;
        written.push_back(std::move(c));
    }
    return written;
}

}  // namespace

EvictionStats RunEvictionPass(RenderCache& cache, double seconds, const EvictionWindow& window) {
    const auto began = std::chrono::steady_clock::now();
    EvictionStats stats;
    const double t0 = seconds - window.before, t1 = seconds + window.after;
    const int64_t budget = cache.memoryBudget.load();

    std::vector<PassCandidate> toRestore, toEvict;
    int64_t resident = 0;
    {
        const CacheGuard guard(cache);
        resident = ChooseCandidates(cache, t0, t1, toRestore, toEvict);
    }
    std::shared_ptr<BlockSpill> spill;
    if (!toRestore.empty() || (budget > 0 && resident > budget)) spill = CacheSpill(cache);
    if (!spill) toRestore.clear();

    // The file work is done with the lock let go: playback goes on meanwhile.
    // Restores first, they are about to sound; they count against the budget.
    if (spill) ReadRestores(*spill, toRestore);
    int64_t expected = resident;
    for (const PassCandidate& c : toRestore) expected += c.bytes;
    std::vector<PassCandidate> evictions;
    if (spill && budget > 0 && expected > budget) evictions = WriteEvictions(*spill, toEvict, expected, budget);

    // One step under the lock puts the read samples in and takes the written ones out.
    std::vector<std::shared_ptr<const BlockAudio>> released;  // freed after the lock
    {
        const CacheGuard guard(cache);
        for (PassCandidate& c : toRestore) {
            const int at = FindBySerial(cache, c.serial, c.index);
            if (at < 0) continue;
            RenderBlock& b = cache.blocks[static_cast<size_t>(at)];
            if (!IsEvicted(b) || b.spillOffset != c.spillOffset) continue;
            b.audio = std::move(c.audio);
            cache.blockFlags[static_cast<size_t>(at)] &= ~kBlockFlagEvicted;
            resident += c.bytes;
            ++stats.restored;
            cache.mixer.counters.restores.fetch_add(1, std::memory_order_relaxed);
        }
        for (PassCandidate& c : evictions) {
            const int at = FindBySerial(cache, c.serial, c.index);
            if (at < 0) continue;
            RenderBlock& b = cache.blocks[static_cast<size_t>(at)];
            if (b.audio != c.audio) continue;  // replaced meanwhile
            b.spillOffset = c.spillOffset;
            b.spillFrames = c.audio->Frames();
            b.spillChannels = static_cast<int>(c.audio->channels.size());
            released.push_back(std::move(b.audio));
            b.audio.reset();
            cache.blockFlags[static_cast<size_t>(at)] |= kBlockFlagEvicted;
            resident -= c.bytes;
            stats.evictedBytes += c.bytes;
        }
        stats.pendingRestores = CountPendingRestores(cache, t0, t1);
    }
    evictions.clear();  // the last references: the samples are freed here, outside the lock
    released.clear();

    stats.residentBytes = resident;
    stats.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    MixerState& m = cache.mixer;
    m.counters.pendingRestores.store(static_cast<uint64_t>(stats.pendingRestores), std::memory_order_relaxed);
    m.counters.lastEvictMs.store(static_cast<float>(stats.milliseconds), std::memory_order_relaxed);
    if (static_cast<float>(stats.milliseconds) > m.counters.maxEvictMs.load(std::memory_order_relaxed))
        m.counters.maxEvictMs.store(static_cast<float>(stats.milliseconds), std::memory_order_relaxed);
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
