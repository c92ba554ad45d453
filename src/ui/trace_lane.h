#pragma once
// The trace lane, under the marker lane while the project holds a picture read: the
// read's energy curve, its proposals standing as high as they are strong, the slice
// level that decides which proposals are kept ("Keeping above the line" or below), and
// the review of one proposal at a time (accept or reject). It draws the project's
// record and calls app/trace_session.h.
//
// Interface thread only. HandleTraceLane submits the lane's controls before the
// timeline's own mouse area (so they take the pointer first); DrawTraceLane draws the
// lane over the timeline's backgrounds.
struct ImDrawList;

namespace morvane {

struct Project;

// Where the lane lies this frame and the timeline's time scale.
struct TraceLaneArea {
    float namesX = 0;       // left edge of the lane names
    float x = 0, y = 0, w = 0, h = 0;
    float scroll = 0, pps = 1;
};

// The lane's height: 0 while the project has no picture read.
float TraceLaneHeight(const Project& project);
void HandleTraceLane(const TraceLaneArea& lane);
void DrawTraceLane(ImDrawList* draw, const TraceLaneArea& lane);

}  // namespace morvane
