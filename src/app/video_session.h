#pragma once
// The desktop program's reference video: a decoder worker that loads the video and
// decodes the frame under the playhead, the GL texture the video area draws, and the
// worker that extracts the video's sound for playback.
//
// The frame loop never decodes. Each frame it tells the worker where the playhead is
// (while playing, that is the audio output's position: the sound leads and the picture
// follows), takes over the newest decoded frame with glTexSubImage2D, and picks up the
// outcome of a load. Everything here is called on the main thread, with the GL context
// current.
#include <cstdint>
#include <cstdio>
#include <string>

namespace morvane {

// What the video area needs to draw.
struct VideoPicture {
    bool loaded = false;
    bool loading = false;       // a load is under way
    unsigned int texture = 0;   // GL texture name; 0 until the first frame arrived
    int width = 0, height = 0;  // the picture's size, upright
    float fps = 0.0f, duration = 0.0f;
    float frameTime = -1.0f;    // video time of the frame in the texture; -1 none
    std::string path;
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // where the video area drew it last, interface units
};

// Sets the lifecycle's video hook (a project that opens loads its video; a new project
// closes it), the shell's close hook and the busy source.
void ConnectVideoSession();

// File > Import Video…: loads `path` for the open project. Once it loads, the project's
// frame rate becomes the video's and the timeline lasts at least to the video's end.
void ImportVideo(const std::string& path);

// Once per frame, before the panels.
void TickVideoSession();

const VideoPicture& CurrentVideoPicture();
// The video area says where it drew the picture (for the scripted tests' state dump).
void SetVideoPictureRect(float x0, float y0, float x1, float y1);
// One line for the scripted tests' state dump:
//   video loaded 0|1 frame T size W H fps F duration D rect X0 Y0 X1 Y1
void DumpVideoState(std::FILE* f);

}  // namespace morvane
