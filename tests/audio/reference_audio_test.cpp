// The video's own sound under the mix: where it lands, how loud, and that the audio
// thread neither allocates nor frees while it plays it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/allocation_counter.h"
#include "audio/reference_audio.h"

namespace morvane {
namespace {

// `seconds` of 48 kHz stereo silence with one full-scale click (left only) at `clickFrame`.
std::shared_ptr<ReferenceAudio> Click(double seconds, int64_t clickFrame) {
    auto audio = std::make_shared<ReferenceAudio>();
    audio->frameCount = static_cast<int64_t>(seconds * 48000);
    audio->samples.assign(static_cast<size_t>(audio->frameCount) * 2, 0);
    audio->samples[static_cast<size_t>(clickFrame) * 2] = 32767;
    return audio;
}

int Loudest(const std::vector<float>& v) {
    int best = 0;
    for (size_t i = 1; i < v.size(); ++i)
        if (std::fabs(v[i]) > std::fabs(v[best])) best = static_cast<int>(i);
    return best;
}

TEST(ReferenceAudio, PlaysSampleAlignedAtTheVideoTimeAndGain) {
    SetReferenceGain(1.0f);
    PublishReferenceAudio(Click(2.0, 48000));  // a click one second into the video
    std::vector<float> left(4800, 0.0f), right(4800, 0.0f);
    // 50 ms before the click at 48 kHz: it lands 2400 frames into the buffer, left only.
    MixReferenceAudio(left.data(), right.data(), 4800, 0.95, 48000);
    EXPECT_EQ(Loudest(left), 2400);
    EXPECT_NEAR(left[2400], 1.0f, 0.001f);
    for (float r : right) ASSERT_EQ(r, 0.0f);
    // At 96 kHz the same 50 ms is 4800 frames; at 44.1 kHz 2205.
    std::vector<float> fast(9600, 0.0f), fastR(9600, 0.0f);
    MixReferenceAudio(fast.data(), fastR.data(), 9600, 0.95, 96000);
    EXPECT_EQ(Loudest(fast), 4800);
    std::vector<float> cd(4410, 0.0f), cdR(4410, 0.0f);
    MixReferenceAudio(cd.data(), cdR.data(), 4410, 0.95, 44100);
    EXPECT_EQ(Loudest(cd), 2205);

    // Half the gain, half the click; a muted strip and a time before the video add nothing.
    SetReferenceGain(0.5f);
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 4800, 0.95, 48000);
    EXPECT_NEAR(left[2400], 0.5f, 0.001f);
    SetReferenceGain(0.0f);
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 4800, 0.95, 48000);
    EXPECT_EQ(left[2400], 0.0f);
    SetReferenceGain(1.0f);
    std::fill(left.begin(), left.end(), 0.0f);
    MixReferenceAudio(left.data(), right.data(), 4800, -1.0, 48000);  // the video starts a second later
    MixReferenceAudio(left.data(), right.data(), 4800, 5.0, 48000);   // past its end
    for (float l : left) ASSERT_EQ(l, 0.0f);

    // The mix adds to what is there; an empty slot leaves it as it was.
    std::fill(left.begin(), left.end(), 0.25f);
    MixReferenceAudio(left.data(), right.data(), 4800, 0.95, 48000);
    EXPECT_NEAR(left[2400], 1.25f, 0.001f);
    EXPECT_EQ(left[100], 0.25f);
    PublishReferenceAudio(nullptr);
    EXPECT_EQ(CurrentReferenceAudio(), nullptr);
    MixReferenceAudio(left.data(), right.data(), 4800, 0.95, 48000);
    EXPECT_NEAR(left[2400], 1.25f, 0.001f);
}

TEST(ReferenceAudio, TheAudioThreadNeitherAllocatesNorFreesWhileSoundsAreReplaced) {
    SetReferenceGain(1.0f);
    std::atomic<bool> stop{false};
    std::atomic<std::thread::id> audioThread{};
    std::atomic<int> freedOnAudioThread{0}, freed{0};
    std::atomic<uint64_t> buffers{0};
    // Each record notes the thread it dies on.
    auto make = [&](int64_t click) {
        auto copy = new ReferenceAudio(*Click(0.5, click));
        return std::shared_ptr<const ReferenceAudio>(copy, [&](const ReferenceAudio* a) {
            if (std::this_thread::get_id() == audioThread.load()) ++freedOnAudioThread;
            ++freed;
            delete a;
        });
    };
    PublishReferenceAudio(make(100));
    test::ResetCountedAllocations();
    std::thread audio([&] {
        audioThread.store(std::this_thread::get_id());
        std::vector<float> left(512), right(512);
        test::CountAllocationsHere counting;
        while (!stop.load()) {
            MixReferenceAudio(left.data(), right.data(), 512, 0.0, 48000);
            ++buffers;
        }
    });
    while (buffers.load() < 10) std::this_thread::yield();
    for (int i = 0; i < 300; ++i) {
        PublishReferenceAudio(make(100 + i));
        if (i % 3 == 0) std::this_thread::yield();
    }
    const uint64_t mixedWhileReplacing = buffers.load();
    stop.store(true);
    audio.join();
    EXPECT_EQ(test::CountedAllocations(), 0u);
    EXPECT_EQ(freedOnAudioThread.load(), 0);
    EXPECT_GT(mixedWhileReplacing, 10u);
    // Everything replaced is freed by the publishers at the latest at the next collect;
    // the current sound stays until it is replaced.
    CollectReferenceAudio();
    EXPECT_EQ(freed.load(), 300);
    ASSERT_NE(CurrentReferenceAudio(), nullptr);
    PublishReferenceAudio(nullptr);
    EXPECT_EQ(freed.load(), 301);
}

}  // namespace
}  // namespace morvane
