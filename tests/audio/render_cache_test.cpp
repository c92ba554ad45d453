#include "audio/render_cache.h"

#include <gtest/gtest.h>

#include <cmath>

namespace morvane {
namespace {

RenderBlock Block(int layer, const std::string& identity, int event, float gain) {
    RenderBlock b;
    b.layerIndex = layer;
    b.identity = identity;
    b.eventIndex = event;
    b.gain = b.baseGain = gain;
    b.start = static_cast<float>(layer);
    b.duration = 1.0f;
    b.envelope.assign(kEnvelopePoints, 0.0f);
    b.envelope[10] = 0.25f * (layer + 1);
    return b;
}

Layer NamedLayer(const std::string& name, int event) {
    Layer l;
    l.name = name;
    l.filepath = "/sounds/" + name + ".wav";
    l.eventIdx = event;
    return l;
}

TEST(RenderCache, RemovingAnEventKeepsTheOthersAndTheirListsInStep) {
    RenderCache cache;
    ResetCache(cache, 48000, 16);
    const int events[] = {0, 1, 0, 2, 1, 0};
    for (int i = 0; i < 6; ++i) AppendBlock(cache, Block(i, "layer" + std::to_string(i), events[i], 1.0f));
    cache.blockFlags[3] = kBlockFlagEvicted;
    const uint32_t serialOfFourth = cache.blockSerial[3];

    CacheGuard held(cache);
    EXPECT_EQ(RemoveEventBlocks(held, 0), 3);
    ASSERT_EQ(cache.blocks.size(), 3u);
    ASSERT_EQ(cache.blockSerial.size(), 3u);
    ASSERT_EQ(cache.blockFlags.size(), 3u);
    EXPECT_EQ(cache.blocks[0].identity, "layer1");
    EXPECT_EQ(cache.blocks[1].identity, "layer3");
    EXPECT_EQ(cache.blocks[2].identity, "layer4");
    EXPECT_EQ(cache.blockSerial[1], serialOfFourth);  // entries moved with their blocks
    EXPECT_EQ(cache.blockFlags[1], kBlockFlagEvicted);
    EXPECT_EQ(cache.blockFlags[0], 0u);
    EXPECT_EQ(RemoveEventBlocks(held, 7), 0);
}

TEST(RenderCache, FinalizeKeepsEachEventAtUnitPower) {
    RenderCache cache;
    for (int i = 0; i < 3; ++i) AppendBlock(cache, Block(i, "a" + std::to_string(i), 0, 1.0f));
    AppendBlock(cache, Block(3, "b", 1, 0.5f));  // already quiet: untouched
    RenderBlock muted = Block(4, "m", 1, 1.0f);
    muted.muted = true;  // a muted layer does not count towards its event's power
    AppendBlock(cache, muted);
    const uint32_t generation = cache.generation.load();

    FinalizeCache(cache, false);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(cache.blocks[i].gain, 1.0f / std::sqrt(3.0f), 1e-6f);
    EXPECT_FLOAT_EQ(cache.blocks[3].gain, 0.5f);
    EXPECT_FLOAT_EQ(cache.blocks[2].peak, 0.75f);
    EXPECT_FLOAT_EQ(cache.timelineStart, 0.0f);
    EXPECT_FLOAT_EQ(cache.timelineEnd, 4.0f);  // the muted block at 4..5 is left out
    EXPECT_EQ(cache.generation.load(), generation + 1);
    EXPECT_TRUE(cache.ready.load());

    // Finalising again with gain reset starts from the base gains: no compounding.
    FinalizeCache(cache, true);
    EXPECT_NEAR(cache.blocks[0].gain, 1.0f / std::sqrt(3.0f), 1e-6f);
    EXPECT_EQ(cache.generation.load(), generation + 1);
}

TEST(RenderCache, IntegrityCheckFindsStaleBlocksAndOrphans) {
    std::vector<Layer> results = {NamedLayer("x", 0), NamedLayer("y", 0), NamedLayer("z", 1)};
    std::atomic<bool> deferred{false};
    RenderCache cache;
    AppendBlock(cache, Block(0, "x", 0, 1.0f));
    AppendBlock(cache, Block(1, "y", 0, 1.0f));
    AppendBlock(cache, Block(2, "z", 1, 1.0f));
    EXPECT_TRUE(CheckCacheIntegrity(cache, results, 2, deferred));
    EXPECT_FALSE(deferred.load());

    // The third block points past the end of the results.
    cache.blocks[2].layerIndex = 5;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckCacheIntegrity(cache, results, 2, deferred));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[Cache] Integrity check failed at block 2, deferring rebuild\n");
    EXPECT_TRUE(deferred.exchange(false));

    // The passes reordered the results: re-pointing by identity repairs the blocks.
    cache.blocks[2].layerIndex = 2;
    std::swap(results[0], results[2]);
    EXPECT_FALSE(CheckCacheIntegrity(cache, results, 2, deferred));
    deferred = false;
    {
        CacheGuard held(cache);
        RepointBlocks(held, results);
    }
    EXPECT_EQ(cache.blocks[0].layerIndex, 2);
    EXPECT_EQ(cache.blocks[2].layerIndex, 0);
    EXPECT_TRUE(CheckCacheIntegrity(cache, results, 2, deferred));

    // A layer no block plays.
    results.push_back(NamedLayer("new", 1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckCacheIntegrity(cache, results, 2, deferred));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Cache] 1 orphaned results, deferring rebuild\n");
    EXPECT_TRUE(deferred.load());
}

TEST(RenderCache, DecodedSegmentsAreKeyedByPieceFormatAndFileIdentity) {
    ClearSegmentCache();
    const std::string path = "/sounds/door slam.wav";
    const std::string key = SegmentCacheKey(path, 1.25, 0.5, 48000, 2, 1);
    EXPECT_EQ(key, path + "|1.250|0.500|48000|2|f2|o1|i" + std::to_string(FileIdentityNumber(path)));
    EXPECT_NE(key, SegmentCacheKey(path, 1.25, 0.5, 44100, 2, 1));
    EXPECT_NE(key, SegmentCacheKey(path, 1.25, 0.5, 48000, 2, 0));

    auto segment = std::make_shared<DecodedSegment>();
    segment->sampleRate = 48000;
    segment->channels.assign(2, std::vector<float>(10, 0.5f));
    StoreSegment(key, segment);
    ASSERT_NE(FindSegment(key), nullptr);
    EXPECT_EQ(FindSegment(key)->channels[1][9], 0.5f);

    // A replaced file gets a new identity number: its old pieces are never found.
    BumpFileIdentity(path);
    const std::string fresh = SegmentCacheKey(path, 1.25, 0.5, 48000, 2, 1);
    EXPECT_NE(fresh, key);
    EXPECT_EQ(FindSegment(fresh), nullptr);
    EXPECT_EQ(SegmentCacheKey("/sounds/other.wav", 0, 1, 48000, 1, 0), "/sounds/other.wav|0.000|1.000|48000|1|f2|o0|i0");

    ClearSegmentCache();
    EXPECT_EQ(SegmentCacheSize(), 0u);
    EXPECT_EQ(FindSegment(key), nullptr);
}

}  // namespace
}  // namespace morvane
