#pragma once
// The clock the picture follows while the sound plays. Called on one thread (the
// desktop program's frame loop); it holds no lock and touches nothing else.
//
// The audio output's position moves in steps of the buffers the device takes (64 ms on
// PulseAudio, longer than a frame at 25 fps), so a picture that followed the steps would
// show some frames twice and skip others. The device itself moves through the sound at
// the pace of real time and has never passed a position read from it: each reading,
// plus the time since, bounds where the sound is now, and the lowest of the last
// second's bounds is the clock. It runs smoothly through every frame, stays locked to
// the sound, and a stall of the output holds it at once.
#include <vector>

namespace morvane {

struct PictureClock {
    struct Reading {
        double wall = 0.0, lead = 0.0;  // when, and the position read less `wall`
    };
    std::vector<Reading> readings;  // the last second's, oldest first
    double output = 0.0;            // the position read last
};

// Takes a reading of the output's position (`output`, timeline seconds) at `now`
// (monotonic seconds) and returns where the sound is now. A jump back, or forward by
// more than any device buffer, is a seek: the clock starts again from it.
double AdvancePictureClock(PictureClock& clock, double output, double now);

// Playback stopped: the next reading starts the clock again.
void ResetPictureClock(PictureClock& clock);

}  // namespace morvane
