// The three threads of the render side at once: a rebuild job on its worker, the
// user-interface thread polling it (and evicting), and the audio callback mixing
// the cache while blocks are replaced under it. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "audio/allocation_counter.h"
#include "audio/block_eviction.h"
#include "audio/mixer.h"
#include "audio/render_jobs.h"
#include "render_fixtures.h"

namespace morvane {
namespace {

TEST(RenderConcurrency, RebuildsPollingAndPlaybackTogether) {
    test::BuiltProject b;
    RebuildEvents(b.target, RebuildRequest{});
    SetMemoryBudget(b.cache, int64_t{2} * 48000 * 4 * 4);  // a few blocks: eviction runs all along
    b.project.reverb.enabled = true;
    b.project.reverb.groupSends = {0.3f, 0.3f, 0.3f};
    StartPlayback(b.cache, 0.0);

    // The audio callback: 512 frames at a time, as a device would ask, counting
    // every allocation it makes.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> audioAllocations{0};
    std::atomic<int> buffers{0};
    std::thread audio([&] {
        std::vector<float> left(512), right(512);
        const uint64_t before = test::CountedAllocations();
        {
            test::CountAllocationsHere counting;
            while (!stop.load()) {
                MixStereo(b.cache, left.data(), right.data(), 512);
                buffers.fetch_add(1);
                if (b.cache.mixer.transport.playPosition.load() > 8 * 48000) SeekPlayback(b.cache, 0.0);  // loop the timeline
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        audioAllocations = test::CountedAllocations() - before;
    });

    // The user-interface thread: a whole rebuild, edits of single events and lists,
    // refreshes, with polling, status reads, eviction and the diagnostics between.
    std::vector<RebuildRequest> requests(6);
    requests[1].mode = kRebuildEventList;
    requests[1].events = {0, 2};
    requests[2].mode = kRebuildOneEvent;
    requests[2].eventIndex = 3;
    requests[3].singlePass = true;
    requests[4].mode = kRebuildEventList;
    requests[4].events = {1};
    int submitted = 0, finished = 0, frame = 0;
    while (finished < static_cast<int>(requests.size()) + 1) {
        if (!b.slot.busy.load()) {
            if (submitted < static_cast<int>(requests.size()))
                submitted += RebuildAsync(b.target, requests[static_cast<size_t>(submitted)], "Updating audio") ? 1 : 0;
            else if (submitted == static_cast<int>(requests.size()))
                submitted += RebuildCacheAsync(b.target, "Updating audio", true) ? 1 : 0;
        }
        finished += PollJobSlot(b.slot) ? 1 : 0;
        JobStatusText(b.slot);
        b.slot.progress.load();
        if (frame % 5 == 0) {
            const double seconds = static_cast<double>(b.cache.mixer.transport.playPosition.load()) / 48000.0;
            RunEvictionPass(b.cache, seconds, EvictionWindow{1.0, 2.0});
        }
        if (frame % 50 == 0) WriteAudioDiagnostics(b.cache, static_cast<int64_t>(frame) * 16000000LL);
        ++frame;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    // Keep playing a little after the last rebuild, so the mix also runs over the
    // final blocks.
    const int seen = buffers.load();
    while (buffers.load() < seen + 50) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    stop = true;
    audio.join();

    EXPECT_EQ(audioAllocations.load(), 0u);
    EXPECT_GT(b.cache.mixer.counters.buffersMixed.load(), 50u);
    std::atomic<bool> deferred{false};
    EXPECT_TRUE(CheckCacheIntegrity(b.cache, b.project.timeline.results,
                                    static_cast<int>(b.project.timeline.events.size()), deferred));
}

}  // namespace
}  // namespace morvane
