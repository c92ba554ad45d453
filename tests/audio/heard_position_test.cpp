// The position shown while playing is the one the listener hears: the output is driven
// without a device, and the sound server's queue is played by hand (what was handed over
// `latency` frames ago is what comes out of the speakers now).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/audio_output.h"
#include "audio/mixer.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

// A short full-scale click at `seconds` on the timeline.
RenderBlock ClickBlock(float seconds) {
    RenderBlock b;
    b.start = seconds;
    b.duration = 0.005f;
    auto audio = std::make_shared<BlockAudio>();
    audio->channels.assign(1, std::vector<float>(static_cast<size_t>(0.005 * kRate), 0.9f));
    b.audio = audio;
    b.envelope.assign(kEnvelopePoints, 0.9f);
    return b;
}

// Plays the cache through an output with no device, one 512-frame device buffer at a
// time, keeping every buffer's sound and what the heard position said after it.
struct Playback {
    RenderCache cache;
    AudioOutput output;
    HeardPosition heard;
    std::vector<float> handed;        // left channel of everything handed to the device
    std::vector<int64_t> shown;       // the heard position after each buffer
    std::vector<int64_t> mixedAfter;  // the mixer's position after each buffer

    Playback(int deviceRate) {
        output.ConfigureWithoutDevice([this](float* l, float* r, int n) { MixStereo(cache, l, r, n); }, nullptr,
                                      kRate, deviceRate, 2);
    }
    void Start(double seconds) {
        StartPlayback(cache, seconds);
        JumpHeardPosition(heard, cache.mixer.transport.playPosition.load(), -1);
    }
    int64_t Mixed() const { return cache.mixer.transport.playPosition.load(); }
    void Buffers(int count) {
        std::vector<float> buffer(2 * 512);
        for (int i = 0; i < count; ++i) {
            output.Render(buffer.data(), 512);
            for (int k = 0; k < 512; ++k) handed.push_back(buffer[2 * k]);
            shown.push_back(HeardFrames(heard, Mixed(), output.LatencyFrames()));
            mixedAfter.push_back(Mixed());
        }
    }
};

TEST(HeardPosition, ThePlayheadShowsAClickWhenItComesOutOfTheSpeakers) {
    // The latency is the queue asked of the sound server, at the project's rate.
    EXPECT_EQ(Playback(48000).output.LatencyFrames(), kAudioQueueBuffers * kAudioBufferFrames);
    EXPECT_EQ(Playback(44100).output.LatencyFrames(),
              std::llround(kAudioQueueBuffers * kAudioBufferFrames * 48000.0 / 44100.0));

    Playback p(48000);
    AppendBlock(p.cache, ClickBlock(10.5f));
    p.Start(10.0);
    p.Buffers(200);  // about two seconds
    const int64_t latency = p.output.LatencyFrames();
    const int64_t start = 10 * kRate;

    // Until the first sound reaches the speakers the playhead stays where play started;
    // then it trails the mixer by exactly the latency.
    for (size_t i = 0; i < p.shown.size(); ++i) {
        const int64_t handedFrames = static_cast<int64_t>(i + 1) * 512;
        if (handedFrames <= latency) {
            EXPECT_EQ(p.shown[i], start) << i;
        } else {
            EXPECT_EQ(p.shown[i], p.mixedAfter[i] - latency) << i;
        }
        if (i > 0) {
            EXPECT_GE(p.shown[i], p.shown[i - 1]) << i;
        }
    }

    // The click leaves the speakers `latency` frames after it was handed over; the
    // playhead then reads the click's time, within one device buffer.
    size_t click = 0;
    while (click < p.handed.size() && p.handed[click] < 0.5f) ++click;
    ASSERT_LT(click, p.handed.size()) << "the click was never mixed";
    const size_t heardAfter = (click + static_cast<size_t>(latency)) / 512;
    ASSERT_LT(heardAfter, p.shown.size());
    EXPECT_NEAR(static_cast<double>(p.shown[heardAfter]) / kRate, 10.5, 512.0 / kRate);
    // The mixer itself was a whole queue ahead: what the window showed before.
    EXPECT_NEAR(static_cast<double>(p.mixedAfter[heardAfter] - p.shown[heardAfter]) / kRate,
                static_cast<double>(latency) / kRate, 1e-9);
}

TEST(HeardPosition, SeeksLoopsAndResetsTurnWithTheSound) {
    Playback p(48000);
    p.Start(0.0);
    p.Buffers(100);
    const int64_t latency = p.output.LatencyFrames();

    // A seek forward: the playhead goes there at once and waits for the sound.
    SeekPlayback(p.cache, 30.0);
    JumpHeardPosition(p.heard, p.Mixed(), -1);
    const size_t seekAt = p.shown.size();
    p.Buffers(40);
    for (size_t i = seekAt; i < p.shown.size(); ++i) {
        EXPECT_GE(p.shown[i], 30 * kRate) << i;
        EXPECT_EQ(p.shown[i], std::max<int64_t>(30 * kRate, p.mixedAfter[i] - latency)) << i;
    }

    // The loop turns back to 5 s while the end of the run is still queued: the playhead
    // runs on through what is still heard, never past where the run was left, and is at
    // 5 s when the first sound from there comes out.
    const int64_t leftAt = p.Mixed();
    const int64_t heardBefore = p.shown.back();
    StartPlayback(p.cache, 5.0);
    JumpHeardPosition(p.heard, p.Mixed(), leftAt);
    const size_t loopAt = p.shown.size();
    p.Buffers(40);
    int64_t previous = heardBefore;
    for (size_t i = loopAt; i < p.shown.size(); ++i) {
        const int64_t sinceTurn = p.mixedAfter[i] - 5 * kRate;
        if (sinceTurn < latency) {
            EXPECT_EQ(p.shown[i], leftAt - latency + sinceTurn) << i;
            EXPECT_GT(p.shown[i], previous) << i;
            EXPECT_LT(p.shown[i], leftAt) << i;
        } else {
            EXPECT_EQ(p.shown[i], p.mixedAfter[i] - latency) << i;
            EXPECT_GE(p.shown[i], 5 * kRate) << i;
        }
        previous = p.shown[i];
    }
    EXPECT_EQ(p.shown.back(), p.mixedAfter.back() - latency);

    // Playback set back without a word (after a rebuild): taken as a seek, so the
    // playhead holds there rather than showing a time before it.
    SeekPlayback(p.cache, 2.0);
    const size_t resetAt = p.shown.size();
    p.Buffers(40);
    // It is noticed at the first reading after it, one device buffer in.
    for (size_t i = resetAt; i < p.shown.size(); ++i) {
        EXPECT_GE(p.shown[i], 2 * kRate) << i;
        EXPECT_LE(p.shown[i], std::max<int64_t>(2 * kRate + 512, p.mixedAfter[i] - latency)) << i;
    }
    EXPECT_EQ(p.shown.back(), p.mixedAfter.back() - latency);
}

}  // namespace
}  // namespace morvane
