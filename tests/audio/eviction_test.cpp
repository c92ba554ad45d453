// Keeping a long timeline within a memory budget: eviction far from the play
// position, restore on approach, and mixes that sound the same as without it.
#include "audio/block_eviction.h"

#include <gtest/gtest.h>

#include "audio/mixer.h"
#include "audio/render_timeline.h"
#include "render_fixtures.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

// `count` blocks of 2 s each, one every 5 s, each a sine of its own frequency.
void FillLongCache(RenderCache& cache, int count) {
    ResetCache(cache, kRate, static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        RenderBlock b;
        b.layerIndex = i;
        b.identity = "block" + std::to_string(i);
        b.eventIndex = i;
        b.start = 5.0f * i;
        b.duration = 2.0f;
        auto audio = std::make_shared<BlockAudio>();
        audio->channels.assign(1, std::vector<float>(2 * kRate));
        for (size_t k = 0; k < audio->channels[0].size(); ++k)
            audio->channels[0][k] = 0.3f * std::sin(2.0 * M_PI * (100.0 + 10.0 * i) * k / kRate);
        b.audio = audio;
        AppendBlock(cache, std::move(b));
    }
    FinalizeCache(cache, false);
}

std::vector<float> Mix(RenderCache& cache, double from, double to) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(MixOffline(cache, from, to, 2, out, nullptr, &error)) << error;
    return out;
}

TEST(Eviction, FarBlocksLeaveMemoryAndComeBackBeforeTheySound) {
    RenderCache reference, cache;
    FillLongCache(reference, 60);  // five minutes
    FillLongCache(cache, 60);
    const int64_t blockBytes = 2 * kRate * 4;
    SetMemoryBudget(cache, 10 * blockBytes);

    EvictionStats stats = RunEvictionPass(cache, 0.0);
    EXPECT_LE(stats.residentBytes, 10 * blockBytes);
    EXPECT_EQ(ResidentAudioBytes(cache), stats.residentBytes);
    EXPECT_EQ(stats.evictedBytes, 50 * blockBytes);
    EXPECT_TRUE(cache.blocks[0].audio && cache.blocks[6].audio);  // inside the 30 s ahead
    EXPECT_FALSE(cache.blocks[59].audio);                         // the farthest went first
    EXPECT_EQ(cache.blockFlags[59], kBlockFlagEvicted);
    EXPECT_EQ(stats.pendingRestores, 0);

    // Seeking far ahead: the blocks there are missing until a pass brings them back,
    // and then the mix is exactly the one of a cache that never evicted anything.
    SeekPlayback(cache, 200.0);
    stats = RunEvictionPass(cache, 200.0);
    EXPECT_GE(stats.restored, 6);
    EXPECT_EQ(stats.pendingRestores, 0);
    EXPECT_LE(stats.residentBytes, 10 * blockBytes);
    EXPECT_EQ(cache.mixer.counters.restores.load(), static_cast<uint64_t>(stats.restored));
    EXPECT_GE(cache.mixer.counters.maxEvictMs.load(), cache.mixer.counters.lastEvictMs.load());
    EXPECT_EQ(Mix(cache, 195.0, 230.0), Mix(reference, 195.0, 230.0));

    // A mix across the whole timeline restores as it goes.
    EXPECT_EQ(Mix(cache, 0.0, 300.0), Mix(reference, 0.0, 300.0));
    EXPECT_LE(ResidentAudioBytes(cache), 10 * blockBytes + 8 * blockBytes);

    // Blocks removed and re-added keep their lists in step with their spill state.
    {
        CacheGuard held(cache);
        RemoveEventBlocks(held, 3);
    }
    EXPECT_EQ(cache.blocks.size(), cache.blockFlags.size());
    for (size_t i = 0; i < cache.blocks.size(); ++i)
        EXPECT_EQ(cache.blockFlags[i] == kBlockFlagEvicted, !cache.blocks[i].audio) << i;
}

TEST(Eviction, RenderingALongTimelineStaysWithinTheBudget) {
    test::TempDir dir;
    const std::string tone = test::SineFile(dir.path.string(), "tone", 300.0, 4.0);
    Project p;
    p.projectSampleRate = kRate;
    for (int i = 0; i < 50; ++i) {
        p.timeline.events.emplace_back();
        p.timeline.results.push_back(test::FileLayer("layer" + std::to_string(i), tone, 4.0f * i, 1.0f, i));
    }
    const int64_t layerBytes = 1 * kRate * 4;
    for (bool singlePass : {true, false}) {
        SCOPED_TRACE(singlePass ? "one sweep" : "two sweeps");
        RenderCache budgeted, free;
        SetMemoryBudget(budgeted, 16 * layerBytes);
        RenderOptions options;
        options.singlePass = singlePass;
        std::string error;
        ASSERT_TRUE(RenderTimelineBlocking(p, budgeted, options, &error)) << error;
        ASSERT_TRUE(RenderTimelineBlocking(p, free, options, &error)) << error;
        EXPECT_LE(ResidentAudioBytes(budgeted), 16 * layerBytes);
        EXPECT_EQ(budgeted.blocks.size(), 50u);
        // Evicted or not, the timeline sounds the same from start to end.
        EXPECT_EQ(Mix(budgeted, 0.0, 200.0), Mix(free, 0.0, 200.0));
    }
}

TEST(Eviction, DiagnosticsLineReportsTheCounters) {
    test::ScopedHome home;
    RenderCache cache;
    FillLongCache(cache, 40);
    SetMemoryBudget(cache, 4 * 2 * kRate * 4);
    WriteAudioDiagnostics(cache, 0);  // the first call only takes the baseline
    RunEvictionPass(cache, 0.0);
    SeekPlayback(cache, 150.0);
    RunEvictionPass(cache, 150.0);
    StartPlayback(cache, 150.0);
    std::vector<float> l(512), r(512);
    for (int i = 0; i < 10; ++i) MixStereo(cache, l.data(), r.data(), 512);
    ASSERT_TRUE(WriteAudioDiagnostics(cache, 1500000000LL));
    const std::string log = test::ReadFile(AudioDiagnosticsPath());
    EXPECT_NE(log.find("buffers=10 dropouts=0 (0.00%)"), std::string::npos) << log;
    EXPECT_NE(log.find("restores="), std::string::npos);
    EXPECT_EQ(log.find("restores=0 "), std::string::npos) << log;
    EXPECT_NE(log.find("evictPass[last="), std::string::npos);
    EXPECT_NE(log.find("pendingRestores=0"), std::string::npos) << log;
}

}  // namespace
}  // namespace morvane
