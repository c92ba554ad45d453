#include "trace/picture_clock.h"

#include <algorithm>

namespace morvane {

namespace {

constexpr double kWindowSeconds = 1.0;
// A jump of the position larger than any device buffer is a seek, not a step.
constexpr double kSeekJumpSeconds = 0.25;

}  // namespace

double AdvancePictureClock(PictureClock& c, double output, double now) {
    const double jump = output - c.output;
    if (c.readings.empty() || jump < -1e-6 || jump > kSeekJumpSeconds) c.readings.clear();
    c.output = output;
    c.readings.push_back({now, output - now});
    const auto fresh = std::find_if(c.readings.begin(), c.readings.end(),
                                    [&](const PictureClock::Reading& r) { return now - r.wall <= kWindowSeconds; });
    c.readings.erase(c.readings.begin(), fresh);
    double lead = c.readings.back().lead;
    for (const PictureClock::Reading& r : c.readings) lead = std::min(lead, r.lead);
    return lead + now;
}

void ResetPictureClock(PictureClock& clock) { clock.readings.clear(); }

}  // namespace morvane
