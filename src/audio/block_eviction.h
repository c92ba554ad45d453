#pragma once
// Keeping a long timeline's rendered audio within a memory budget. Blocks far from
// the play position are evicted: their samples go once to an anonymous spill file
// (deleted by the system when the program ends) and the memory is released.
// Blocks coming near the play position are restored from it before they sound.
// Eviction and restore run on the render worker and on the user-interface thread,
// never on the audio thread: the mixer simply skips a block without audio (a
// pending restore). A pass takes the cache's lock to choose its blocks and once more
// to swap their audio; the spill file is read and written, and samples are freed,
// with the lock let go.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "audio/render_cache.h"

namespace morvane {

// The anonymous file that holds evicted samples. Written once per block.
struct BlockSpill {
    std::mutex mutex;
    std::FILE* file = nullptr;
    int64_t end = 0;  // bytes written so far
    ~BlockSpill();
};

// The stretch around the play position whose blocks are kept resident.
struct EvictionWindow {
    double before = 5.0;  // seconds behind the position (a short rewind plays at once)
    double after = 30.0;  // seconds ahead of it
};

struct EvictionStats {
    int64_t residentBytes = 0;  // after the pass
    int64_t evictedBytes = 0;   // released by this pass
    int restored = 0;
    int pendingRestores = 0;    // blocks in the window still without audio
    double milliseconds = 0.0;
};

// Bytes of samples a block holds in memory now.
int64_t BlockAudioBytes(const RenderBlock& block);
// Bytes of block audio in memory over the whole cache.
int64_t ResidentAudioBytes(RenderCache& cache);

// Sets the budget (0: no limit) of block audio kept in memory.
void SetMemoryBudget(RenderCache& cache, int64_t bytes);

// One pass at play position `seconds`: restores the evicted blocks that overlap the
// window, then, while the resident audio exceeds the budget, evicts the blocks
// outside it, farthest first. Updates the mixer's counters (restores, pending
// restores, last and longest pass) that the diagnostics log reports.
EvictionStats RunEvictionPass(RenderCache& cache, double seconds, const EvictionWindow& window = {});

// The same for a list of blocks not yet in any cache (a render's staged blocks):
// evicts from the list, farthest from the window first, until it holds at most
// `budget` bytes. Writes to `spill`. Returns the bytes released.
int64_t EvictStagedBlocks(std::vector<RenderBlock>& blocks, BlockSpill& spill, int64_t budget, double seconds,
                          const EvictionWindow& window = {});

// The cache's spill file, made on first use. Null when no file could be made.
std::shared_ptr<BlockSpill> CacheSpill(RenderCache& cache);

// Reads an evicted block's samples back; false when the spill cannot be read.
bool ReadSpilledAudio(BlockSpill& spill, const RenderBlock& block, BlockAudio* out);

}  // namespace morvane
