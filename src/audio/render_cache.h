#pragma once
// The store of rendered layer audio that playback, export and variations read
// (`RenderCache`, which carries the state of the mixer that plays it, see
// mixer_state.h), and the process-wide cache of decoded source segments.
//
// Threads: the block list (and what is kept in step with it) is touched only while
// a CacheGuard holds the cache's lock. The lock is the cache's own: nothing else
// names it, and it is never taken twice on one thread. A job renders aside and takes
// the lock once to put its blocks in; an export takes it once for its snapshot; no
// one holds it while rendering, decoding or reading and writing files. The audio
// callback only ever tries it and treats a failed try as a dropout of one buffer, so
// a rebuild can never stall playback and playback can never read a block that is
// being removed. Everything the audio thread writes to is allocated when the cache
// is made.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/ambisonics.h"
#include "audio/mixer_state.h"
#include "audio/pitch_detect.h"
#include "audio/reverb.h"
#include "library/channel_map.h"
#include "model/timeline.h"

namespace morvane {

inline constexpr int kEnvelopePoints = 2048;

// The rendered samples of one block: one buffer per channel at the cache's rate.
struct BlockAudio {
    std::vector<std::vector<float>> channels;
    int64_t Frames() const { return channels.empty() ? 0 : static_cast<int64_t>(channels[0].size()); }
};

constexpr std::array<int, kChannelRoleCount> UnknownRoles() {
    std::array<int, kChannelRoleCount> roles{};
    for (int& r : roles) r = kRoleUnknown;
    return roles;
}

// One rendered layer.
struct RenderBlock {
    int32_t layerIndex = -1;   // index of the layer in the results
    std::string identity;      // the layer's identity token (its first field) when rendered
    int32_t eventIndex = -1;
    int32_t group = 0;         // mix group 0..2

    // Placement as rendered (seconds).
    float start = 0.0f;
    float duration = 0.0f;
    float fadeIn = -1.0f;   // negative: none stored
    float fadeOut = -1.0f;
    float sourceOffset = 0.0f;
    float deconOffset = 0.0f;
    bool isClip = false;     // Clip layers keep their own short fade-ins

    float gain = 1.0f;      // current gain (after per-event normalisation)
    float baseGain = 1.0f;  // the gain the render gave it
    bool muted = false;
    bool disabled = false;
    std::vector<float> envelope;  // kEnvelopePoints values
    float peak = 0.001f;
    std::shared_ptr<const BlockAudio> audio;

    // How the channels enter the sound field.
    bool stereoPair = false;   // a two-channel source placed at ±30°
    bool ambisonic = false;    // the channels are W, Y, Z, X already
    // Role per channel for multichannel sources; unknown roles reach the field
    // through W and the stereo mix through both sides.
    std::array<int, kChannelRoleCount> roles = UnknownRoles();
    int spatialMode = -1;      // -1 no spread, else 0..2 (see ComputeSpread)
    float spatialAmount = -1.0f;
    float azimuth = 0.0f;      // radians, positive to the left
    float elevation = 0.0f;

    // Shape gain.
    bool followsIntensity = false;  // the event's intensity curve shapes this layer
    bool noFloor = false;           // the intensity curve is used without the 0.3 floor
    float intensityScale = 1.0f;
    std::array<float, kCurvePoints> intensity = FilledCurve<kCurvePoints>(1.0f);
    bool hasIntGain = false;
    std::array<float, kIntGainPoints> intGain = FilledCurve<kIntGainPoints>(1.0f);
    bool hasFillGain = false;
    std::array<float, kFillGainPoints> fillGain = FilledCurve<kFillGainPoints>(1.0f);
    bool hasDeconGain = false;
    std::array<float, kDeconGainPoints> deconGain = FilledCurve<kDeconGainPoints>(1.0f);

    float reverbSend = -1.0f;  // the event's own send; negative: the group's send

    // What the render found out about the layer (the layer record has no room for
    // these): its file could not be read, it plays as a silent placeholder, the
    // pitch detected for scale tuning and the tuning shift that followed.
    bool missingFile = false;
    bool placeholder = false;
    DetectedPitch pitch;
    float tuningShift = 0.0f;

    // Where the samples were written when the block was evicted (block_eviction.h);
    // -1 until then. A block whose `audio` is null with a spill offset is evicted.
    int64_t spillOffset = -1;
    int64_t spillFrames = 0;
    int spillChannels = 0;

    // Audio-thread state: the side components' high-pass filters.
    std::array<SideHighPass, 2> sideFilter{};
    int sideFilterRate = 0;
};

// The identity token of a layer: its first field, copied when a block is made.
inline const std::string& LayerIdentity(const Layer& layer) { return layer.name; }

struct BlockSpill;  // block_eviction.h

struct RenderCache {
    // Guarded by the cache's lock (CacheGuard): the blocks, both per-block lists,
    // the serial counter, the timeline extent and the spill file.
    std::vector<RenderBlock> blocks;
    // Two per-block lists kept in step with `blocks`: the serial number the block
    // got when it was added (survives compaction, so a block can be told apart
    // from the one that took its place) and its state bits (kBlockFlag...).
    std::vector<uint32_t> blockSerial;
    std::vector<uint32_t> blockFlags;
    uint32_t nextSerial = 1;
    std::atomic<int> sampleRate{48000};  // the project rate the blocks were rendered at
    std::atomic<bool> ready{false};
    std::atomic<uint32_t> generation{0};
    std::atomic<bool> normalize{true};  // loudness normalisation switch of the render
    float timelineStart = 0.0f, timelineEnd = 0.0f;  // unmuted blocks, for the overview
    // Bytes of block audio kept in memory at most (0: no limit); blocks far from the
    // play position beyond it are written to a spill file and read back on approach.
    std::atomic<int64_t> memoryBudget{0};
    std::shared_ptr<BlockSpill> spill;  // made on the first eviction

    MixerState mixer;

private:
    friend class CacheGuard;
    std::mutex lock_;
};

// Holds the cache's lock while it lives: one per job step or snapshot, never
// nested. Functions below that take a CacheGuard work under the caller's lock; the
// ones that take the cache take the lock themselves, once.
class CacheGuard {
public:
    // Waits for the lock (render worker, interface thread, export).
    explicit CacheGuard(RenderCache& cache) : cache_(cache), lock_(cache.lock_) {}
    // Never waits (the audio thread): tries at most `attempts` times; see Held().
    CacheGuard(RenderCache& cache, int attempts);
    CacheGuard(const CacheGuard&) = delete;
    CacheGuard& operator=(const CacheGuard&) = delete;

    bool Held() const { return lock_.owns_lock(); }
    RenderCache& Cache() const { return cache_; }

private:
    RenderCache& cache_;
    std::unique_lock<std::mutex> lock_;
};

inline constexpr uint32_t kBlockFlagEvicted = 1u;  // samples released, to be restored

// Empties the cache for a new sample rate, keeping room for `reserveBlocks`.
void ResetCache(RenderCache& cache, int sampleRate, size_t reserveBlocks);

// Puts `blocks` in place of every block, in one step under one lock, so playback
// goes from the old set to the new one between two buffers. The old blocks (and
// their audio, unless playback still shares it) are freed after the lock is
// released. Returns the number of blocks.
int ReplaceBlocks(RenderCache& cache, int sampleRate, std::vector<RenderBlock> blocks);

// Adds a block (and its parallel entries). Returns its index.
int AppendBlock(CacheGuard& held, RenderBlock block);
int AppendBlock(RenderCache& cache, RenderBlock block);

// Removes every block of `eventIndex` in one in-place pass, keeping the order of
// the others and both parallel lists in step. Returns how many were removed.
int RemoveEventBlocks(CacheGuard& held, int eventIndex);

// Per-event normalisation: with `resetGains` every block first goes back to its
// base gain; then the blocks of each event are scaled so that the sum of their
// squared gains (unmuted blocks) does not exceed 1; peaks and the timeline extent
// are refreshed. Without `resetGains` the generation advances and ready is set.
void FinalizeCache(CacheGuard& held, bool resetGains);
void FinalizeCache(RenderCache& cache, bool resetGains);

// True when every block points at a layer carrying its identity and an existing
// event, and every layer that can be rendered (it has a file or is a sketch) has
// a block. Otherwise writes the "[Cache]" line to
// stderr, sets `deferredRebuild` and returns false.
bool CheckCacheIntegrity(CacheGuard& held, const std::vector<Layer>& results, int eventCount,
                         std::atomic<bool>& deferredRebuild);
bool CheckCacheIntegrity(RenderCache& cache, const std::vector<Layer>& results, int eventCount,
                         std::atomic<bool>& deferredRebuild);

// Points each block at the current index of the layer with its identity (the
// build's passes may reorder the results). Blocks whose layer is gone keep theirs.
void RepointBlocks(CacheGuard& held, const std::vector<Layer>& results);

// Carries edits that need no new audio into the blocks: a layer's start (its event
// was moved) and muting (the layer's or its event's). Blocks whose layer is not the
// one they were made for are left to the integrity check.
void UpdateBlockPlacement(RenderCache& cache, const std::vector<Layer>& results, const std::vector<Event>& events);

// ---- Decoded-segment cache (process-wide, own mutex) ----

struct DecodedSegment {
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;
    std::vector<int> roles;  // speaker role per channel for files of more than two channels
    bool ambisonic = false;  // the channels are W, Y, Z, X
};

// The file's identity number: a per-path counter, looked up by the FNV-1a hash of
// the path, that changes when the file is replaced.
int FileIdentityNumber(const std::string& path);
// Marks the file at `path` as replaced, so its old decoded pieces are never reused.
void BumpFileIdentity(const std::string& path);

// path + "|%.3f|%.3f|%d|%d|f%d|o%d|i%d" (offset, duration, rate, channels, the
// sample format 2, the channel-order fallback, the identity number).
std::string SegmentCacheKey(const std::string& path, double offset, double duration, int sampleRate,
                            int channels, int channelOrderFallback);

std::shared_ptr<const DecodedSegment> FindSegment(const std::string& key);
void StoreSegment(const std::string& key, std::shared_ptr<const DecodedSegment> segment);
void ClearSegmentCache();
size_t SegmentCacheSize();
// The decoded pieces are kept within a byte budget (256 MiB unless set), oldest
// dropped first; a dropped piece is simply decoded again when next needed.
void SetSegmentCacheBudget(size_t bytes);
size_t SegmentCacheBytes();

}  // namespace morvane
