#pragma once
// The demo reel: a short H.264 MP4 made by the ffmpeg program from its own test
// sources, with hard cuts between differently lit shots, white flashes, objects that
// move and land, and a slow fade to black at the end; its sound track is a quiet
// guide track with a hit on every flash. The times of every cut and flash are known,
// so the picture read can be checked against them.
#include <string>
#include <vector>

namespace morvane::demo {

struct DemoVideoPlan {
    float duration = 40.0f;  // seconds
    int width = 320, height = 180;
    int fps = 25;
    std::vector<float> cuts;     // hard cuts between shots
    std::vector<float> flashes;  // start of each white flash
    float flashLength = 0.12f;   // seconds a flash stays on screen
    float passStart = 2.0f, passEnd = 6.0f;  // a box crosses the first shot left to right
    float dropStart = 27.0f, dropLand = 30.0f;  // a box falls and lands (with a flash) in the last shot
    float fadeStart = 35.0f;     // the picture fades to black from here to the end
};

// The reel's fixed timeline.
DemoVideoPlan DemoVideoTimeline();

// Writes the reel to `path` (through a temporary file renamed into place) with
// `soundTrack` (a WAV file) as its sound. False with one line in *error when ffmpeg
// is missing or fails.
bool MakeDemoVideo(const std::string& path, const DemoVideoPlan& plan, const std::string& soundTrack,
                   std::string* error);

// The ffmpeg arguments MakeDemoVideo runs (argv[0] is "ffmpeg").
std::vector<std::string> DemoVideoCommand(const std::string& output, const DemoVideoPlan& plan,
                                          const std::string& soundTrack);

}  // namespace morvane::demo
