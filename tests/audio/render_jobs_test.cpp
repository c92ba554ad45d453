// The render job slot and the rebuilds that run in it, over a real built project.
#include "audio/render_jobs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/layer_render.h"
#include "audio/render_sweep.h"
#include "render_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

// Runs frames until the slot is idle again (the job finished and was taken over).
int RunFramesUntilIdle(RenderJobSlot& slot) {
    int frames = 0;
    while (slot.busy.load()) {
        PollJobSlot(slot);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++frames;
    }
    return frames;
}

using test::BuiltProject;

TEST(RenderJobs, SlotTakesOneJobAndStartsItAFrameLater) {
    RenderJobSlot slot;
    std::atomic<int> ran{0};
    ASSERT_TRUE(SubmitJob(slot, "Updating audio\xE2\x80\xA6", [&] { ++ran; }, true, 3.0f));
    EXPECT_TRUE(slot.busy.load());
    EXPECT_EQ(JobStatusText(slot), "Updating audio\xE2\x80\xA6");
    // A second request while one is busy is dropped.
    EXPECT_FALSE(SubmitJob(slot, "Other", [&] { ran += 100; }, false, -1.0f));
    // The first frame only shows the status text; the worker starts on the next.
    PollJobSlot(slot);
    EXPECT_FALSE(slot.started.load());
    RunFramesUntilIdle(slot);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_FALSE(slot.blocking.load());
    EXPECT_EQ(JobStatusText(slot), "");
    // Reasons are cut to 63 bytes; an empty job is refused; after shutdown nothing is accepted.
    ASSERT_TRUE(SubmitJob(slot, std::string(100, 'x'), [] {}, false, -1.0f));
    EXPECT_EQ(JobStatusText(slot).size(), 63u);
    RunFramesUntilIdle(slot);
    EXPECT_FALSE(SubmitJob(slot, "empty", nullptr, false, -1.0f));
    ShutdownJobSlot(slot);
    EXPECT_FALSE(SubmitJob(slot, "late", [] {}, false, -1.0f));
}

TEST(RenderJobs, WholeRebuildThenIncrementalEditsKeepTheCacheInStep) {
    BuiltProject b;
    RebuildRequest whole;
    RebuildOutcome outcome = RebuildEvents(b.target, whole);
    const std::vector<Layer>& results = b.project.timeline.results;
    ASSERT_FALSE(results.empty());
    int renderable = 0;
    for (const Layer& l : results) renderable += l.filepath.empty() && !IsPlaceholderLayer(l) ? 0 : 1;
    EXPECT_GE(renderable, 8);
    EXPECT_EQ(outcome.blocks, renderable);  // "(no match)" layers get no block and ask for no refresh
    EXPECT_TRUE(outcome.integrityOk);
    EXPECT_FALSE(b.slot.deferredRebuild.load());
    // Playback returns to the transport after the rebuild.
    EXPECT_EQ(b.cache.mixer.transport.playPosition.load(), static_cast<int64_t>(1.25 * 48000));
    EXPECT_TRUE(b.cache.ready.load());

    // A locked event listed for an incremental rebuild is unlocked and rebuilt.
    b.project.timeline.events[1].locked = true;
    b.project.timeline.events[1].time = 3.0f;
    RebuildRequest edit;
    edit.mode = kRebuildEventList;
    edit.events = {1, 99};  // an event that no longer exists is skipped
    outcome = RebuildEvents(b.target, edit);
    EXPECT_FALSE(b.project.timeline.events[1].locked);
    EXPECT_EQ(outcome.eventsBuilt, 1);
    EXPECT_TRUE(outcome.integrityOk);
    std::atomic<bool> deferred{false};
    EXPECT_TRUE(CheckCacheIntegrity(b.cache, results, 4, deferred));
    for (const RenderBlock& block : b.cache.blocks)
        if (block.eventIndex == 1) {
            EXPECT_GE(block.start, 3.0f - 0.13f);
        }

    // Every event's blocks together stay at or below unit power.
    for (int e = 0; e < 4; ++e) {
        double power = 0.0;
        for (const RenderBlock& block : b.cache.blocks)
            if (block.eventIndex == e && !block.muted) power += static_cast<double>(block.gain) * block.gain;
        EXPECT_LE(power, 1.0 + 1e-5) << "event " << e;
    }

    // One event.
    RebuildRequest one;
    one.mode = kRebuildOneEvent;
    one.eventIndex = 2;
    outcome = RebuildEvents(b.target, one);
    EXPECT_TRUE(outcome.integrityOk);
    EXPECT_FALSE(b.slot.deferredRebuild.load());
}

// The blocks of one event, as (layer index, source offset) in cache order.
std::vector<std::pair<int, float>> EventBlocks(RenderCache& cache, int event) {
    CacheGuard guard(cache);
    std::vector<std::pair<int, float>> out;
    for (const RenderBlock& block : cache.blocks)
        if (block.eventIndex == event) out.emplace_back(block.layerIndex, block.sourceOffset);
    return out;
}

TEST(RenderJobs, NextSoundAndHistoryStepsRenderOnlyTheirEvent) {
    BuiltProject b;
    RebuildEvents(b.target, RebuildRequest{});
    std::vector<Layer>& results = b.project.timeline.results;
    int target = -1;
    for (size_t i = 0; i < results.size() && target < 0; ++i)
        if (CanChooseNextSound(b.project, static_cast<int>(i))) target = static_cast<int>(i);
    ASSERT_GE(target, 0);
    const int event = results[static_cast<size_t>(target)].eventIdx;
    const Layer before = results[static_cast<size_t>(target)];
    const int other = event == 0 ? 1 : 0;
    const auto otherBlocks = EventBlocks(b.cache, other);

    RebuildRequest next;
    next.mode = kRebuildOneEvent;
    next.eventIndex = event;
    next.nextSoundLayer = target;
    const RebuildOutcome outcome = RebuildEvents(b.target, next);
    EXPECT_EQ(outcome.eventsBuilt, 1);
    EXPECT_TRUE(outcome.integrityOk);
    EXPECT_FALSE(b.slot.deferredRebuild.load());
    // The one layer has a new sound and its old one in its history; the other events'
    // blocks were not touched, and the cache matches the results.
    const Layer& now = results[static_cast<size_t>(target)];
    EXPECT_NE(now.filepath, before.filepath);
    EXPECT_TRUE(HistoryCanGoBack(now));
    EXPECT_EQ(EventBlocks(b.cache, other), otherBlocks);
    std::atomic<bool> deferred{false};
    EXPECT_TRUE(CheckCacheIntegrity(b.cache, results, static_cast<int>(b.project.timeline.events.size()), deferred));

    // Back in the history, rendered without a new choice: the old sound plays again.
    ASSERT_TRUE(HistoryBack(results[static_cast<size_t>(target)]));
    RebuildRequest render = next;
    render.nextSoundLayer = -1;
    render.renderOnly = true;
    RebuildEvents(b.target, render);
    EXPECT_EQ(results[static_cast<size_t>(target)].filepath, before.filepath);
    bool found = false;
    for (const auto& [layer, offset] : EventBlocks(b.cache, event))
        if (layer == target) found = offset == before.sourceOffset;
    EXPECT_TRUE(found);
    EXPECT_TRUE(CheckCacheIntegrity(b.cache, results, static_cast<int>(b.project.timeline.events.size()), deferred));
}

TEST(RenderJobs, StaleCacheDefersOneRefreshThatRepairsIt) {
    BuiltProject b;
    RebuildEvents(b.target, RebuildRequest{});
    // A layer added and one removed under the cache: the check notices and asks for
    // a rebuild.
    {
        std::lock_guard<std::mutex> lock(b.resultsMutex);
        std::vector<Layer>& results = b.project.timeline.results;
        results.push_back(results.front());
        results.back().name = "added";
        results.erase(results.begin());
    }
    std::atomic<bool>& deferred = b.slot.deferredRebuild;
    EXPECT_FALSE(CheckCacheIntegrity(b.cache, b.project.timeline.results, 4, deferred));
    EXPECT_TRUE(deferred.load());

    // Two requests in one frame: the second is dropped, and the deferred flag still
    // brings one refresh once the first has finished.
    ASSERT_TRUE(RebuildCacheAsync(b.target, "Adjusting loudness target\xE2\x80\xA6", false));
    EXPECT_FALSE(RebuildCacheAsync(b.target, "Applying loudness normalization\xE2\x80\xA6", false));
    EXPECT_FALSE(RunDeferredRebuilds(b.target, nullptr));  // busy: nothing yet
    RunFramesUntilIdle(b.slot);
    EXPECT_TRUE(RunDeferredRebuilds(b.target, nullptr));
    EXPECT_FALSE(b.slot.deferredRebuild.load());
    RunFramesUntilIdle(b.slot);
    EXPECT_FALSE(RunDeferredRebuilds(b.target, nullptr));  // nothing left to do
    EXPECT_TRUE(CheckCacheIntegrity(b.cache, b.project.timeline.results, 4, deferred));
    // A changed Bed asks for a refresh by itself.
    EXPECT_TRUE(RunDeferredRebuilds(b.target, [] { return true; }));
    RunFramesUntilIdle(b.slot);
}

TEST(RenderJobs, CancelStopsAWholeRebuild) {
    BuiltProject b;
    RebuildEvents(b.target, RebuildRequest{});
    const size_t before = b.cache.blocks.size();
    const auto firstAudio = b.cache.blocks[0].audio;
    b.slot.cancelRequested = true;  // Escape before the render
    const RebuildOutcome outcome = RebuildEvents(b.target, RebuildRequest{});
    EXPECT_TRUE(outcome.cancelled);
    // The two-sweep render never swapped its blocks in: the old ones still play.
    EXPECT_EQ(b.cache.blocks.size(), before);
    EXPECT_EQ(b.cache.blocks[0].audio, firstAudio);
}

TEST(RenderJobs, SinglePassRebuildMatchesTheDoublePassOne) {
    BuiltProject a, b;
    RebuildRequest single;
    single.singlePass = true;
    setenv("MV_SINGLE_PASS", "1", 1);
    RebuildEvents(a.target, single);
    unsetenv("MV_SINGLE_PASS");
    ClearSegmentCache();
    RebuildEvents(b.target, RebuildRequest{});
    ASSERT_EQ(a.project.timeline.results.size(), b.project.timeline.results.size());
    ASSERT_EQ(a.cache.blocks.size(), b.cache.blocks.size());
    for (size_t i = 0; i < a.cache.blocks.size(); ++i) {
        EXPECT_EQ(a.cache.blocks[i].identity, b.cache.blocks[i].identity);
        EXPECT_EQ(a.cache.blocks[i].gain, b.cache.blocks[i].gain);
        EXPECT_EQ(a.cache.blocks[i].audio->channels, b.cache.blocks[i].audio->channels);
    }
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

TEST(RenderJobs, TimingLinesWhenAskedFor) {
    test::BuiltProject b;
    setenv("MV_RENDER_TIMING", "1", 1);
    testing::internal::CaptureStderr();
    RebuildEvents(b.target, RebuildRequest{});
    RebuildRequest single;
    single.singlePass = true;
    setenv("MV_SINGLE_PASS", "1", 1);
    RebuildEvents(b.target, single);
    unsetenv("MV_SINGLE_PASS");
    RebuildRequest edit;
    edit.mode = kRebuildEventList;
    edit.events = {2};
    RebuildEvents(b.target, edit);
    const std::string err = testing::internal::GetCapturedStderr();
    unsetenv("MV_RENDER_TIMING");
    EXPECT_NE(err.find("[RenderTiming] double-pass | stream(render)="), std::string::npos) << err;
    EXPECT_NE(err.find("[RenderTiming] SINGLE-PASS | stream(render+cache)="), std::string::npos) << err;
    EXPECT_NE(err.find("[RenderTiming] INCREMENTAL | 1 event(s) re-rendered, "), std::string::npos) << err;
    EXPECT_NE(err.find("blocks)\n"), std::string::npos);
    // Without the variable the rebuilds are quiet.
    testing::internal::CaptureStderr();
    RebuildEvents(b.target, edit);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("[RenderTiming]"), std::string::npos);
}

}  // namespace
}  // namespace morvane
