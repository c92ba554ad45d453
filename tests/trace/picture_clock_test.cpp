// The clock the picture follows while the sound plays, fed the position a sound server
// reports: steps of its buffers, read once per drawn frame.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "trace/picture_clock.h"

namespace morvane {
namespace {

constexpr double kBuffer = 3072.0 / 48000.0;  // 64 ms: what PulseAudio's null sink takes at a time
constexpr double kFps = 25.0;

// The position the transport shows at `wall` seconds after play started from `start`:
// the device takes a buffer every kBuffer seconds, first at `phase`, and the position
// counts the frames it has taken.
double Stepped(double start, double wall, double phase) {
    return start + kBuffer * std::floor((wall - phase) / kBuffer + 1.0);
}

TEST(PictureClock, RunsThroughEveryFrameAndNeverLeadsTheSound) {
    PictureClock clock;
    std::set<long> framesAimed, framesOfSteps;
    const double phase = 0.013, frameInterval = 1.0 / 60.0;
    double worstLead = -1.0, worstLag = 0.0;
    for (int i = 0; i < 60 * 20; ++i) {  // 20 s drawn at 60 frames a second
        const double wall = 0.004 + i * frameInterval;
        const double read = Stepped(10.0, wall, phase);
        const double now = AdvancePictureClock(clock, read, wall);
        // The device has taken this much sound by now, at the pace of real time.
        const double truth = 10.0 + (wall - phase);
        framesAimed.insert(std::lround(std::floor(now * kFps)));
        framesOfSteps.insert(std::lround(std::floor(read * kFps)));
        if (i > 60) {  // after a second of readings
            worstLead = std::max(worstLead, now - truth);
            worstLag = std::max(worstLag, truth - now);
        }
    }
    // Every frame from the start to the end is aimed at; the raw steps skip a third of them.
    const long first = *framesAimed.begin(), last = *framesAimed.rbegin();
    EXPECT_EQ(framesAimed.size(), static_cast<size_t>(last - first + 1));
    EXPECT_GT(last - first, 20 * kFps - 3);
    EXPECT_LT(framesOfSteps.size(), framesAimed.size() * 3 / 4);
    // Locked to the sound within a few milliseconds, never ahead of the buffer taken.
    EXPECT_LE(worstLead, kBuffer + 1e-9);
    EXPECT_LT(worstLead, 0.02);
    EXPECT_LT(worstLag, 0.005);
}

TEST(PictureClock, FollowsSeeksStallsAndRestarts) {
    PictureClock clock;
    double wall = 0.0;
    for (; wall < 2.0; wall += 0.016) AdvancePictureClock(clock, Stepped(0.0, wall, 0.0), wall);
    // A click on the ruler: the clock is at the new place at once, backward or forward.
    EXPECT_NEAR(AdvancePictureClock(clock, 30.0, wall), 30.0, 1e-9);
    wall += 0.016;
    EXPECT_NEAR(AdvancePictureClock(clock, 5.0, wall), 5.0, 1e-9);
    // The output stalls (the device stops taking buffers): the picture holds with it
    // instead of running on.
    double held = 0.0;
    for (int i = 0; i < 30; ++i) held = AdvancePictureClock(clock, 5.0, wall += 0.016);
    EXPECT_NEAR(held, 5.0, 1e-9);
    // Stopped and started again a little further on: no reading from before holds it back.
    ResetPictureClock(clock);
    EXPECT_NEAR(AdvancePictureClock(clock, 5.1, wall + 0.016), 5.1, 1e-9);
    // A buffer taken moves the position a whole step; the clock moves with real time.
    EXPECT_NEAR(AdvancePictureClock(clock, 5.1 + kBuffer, wall + 0.026), 5.11, 1e-9);
    EXPECT_NEAR(AdvancePictureClock(clock, 5.1 + kBuffer, wall + 0.046), 5.13, 1e-9);
}

}  // namespace
}  // namespace morvane
