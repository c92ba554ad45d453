#pragma once
// Test videos made with the ffmpeg program from lavfi sources, once per test run, in a
// temporary folder shared by the trace tests.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::test {

inline TempDir& MediaDir() {
    static TempDir dir;
    return dir;
}

// Runs ffmpeg with the given arguments writing `name` in the media folder (once).
// Returns the path, or an empty string when ffmpeg failed.
inline std::string MakeMedia(const std::string& name, const std::string& arguments) {
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    const std::string path = MediaDir() / name;
    const std::string command = "ffmpeg -nostdin -loglevel error -y " + arguments + " '" + path + "'";
    const int rc = std::system(command.c_str());
    const std::string result = rc == 0 ? path : std::string();
    made[name] = result;
    return result;
}

// A textured, perfectly still background: aperiodic stripes in both directions, so the
// column and row profiles have one clear alignment (no false camera motion).
inline const char* kStillTexture =
    "nullsrc=s=320x180:r=25:d=4,format=gray,geq=lum='128+50*sin(X*X/900)+50*sin(Y*Y/400)',format=yuv420p";

inline std::string StillVideo() {
    return MakeMedia("still.mp4", "-f lavfi -i color=c=0x406080:s=320x180:r=25:d=3 -c:v libx264 -pix_fmt yuv420p");
}

// Dark field with white flashes of two frames at 1.0, 2.5 and 4.0 s (6 s at 25 fps).
inline std::string FlashVideo() {
    return MakeMedia("flashes.mp4",
                     "-f lavfi -i \"color=c=0x202020:s=320x180:r=25:d=6,"
                     "drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:"
                     "enable='between(t,0.99,1.05)+between(t,2.47,2.53)+between(t,3.99,4.05)'\" "
                     "-c:v libx264 -pix_fmt yuv420p -g 25");
}

// A white box crossing a still textured background from left to right (4 s).
inline std::string BoxVideo() {
    return MakeMedia("box.mp4", std::string("-f lavfi -i \"") + kStillTexture +
                                    "[bg];color=c=white:s=40x40:r=25:d=4[box];"
                                    "[bg][box]overlay=x='20+t*60':y=70:shortest=1\" "
                                    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -crf 12");
}

// The camera pans right over the still texture at 40 pixels a second (4 s).
inline std::string PanVideo() {
    return MakeMedia("pan.mp4",
                     "-f lavfi -i \"nullsrc=s=520x180:r=25:d=4,format=gray,"
                     "geq=lum='128+50*sin(X*X/900)+50*sin(Y*Y/400)',crop=320:180:'t*40':0,format=yuv420p\" "
                     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -crf 12");
}

// Temporal noise over the whole frame: motion everywhere, evenly (4 s).
inline std::string NoiseVideo() {
    return MakeMedia("noise.mp4",
                     "-f lavfi -i color=c=gray:s=320x180:r=25:d=4,noise=alls=60:allf=t "
                     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -crf 28");
}

// Two scenes with a hard cut at 2 s: the box crossing the texture, then a still blue field.
inline std::string CutVideo() {
    return MakeMedia("cut.mp4", std::string("-f lavfi -i \"") + kStillTexture +
                                    ",trim=duration=2[bg];color=c=white:s=40x40:r=25:d=2[box];"
                                    "[bg][box]overlay=x='20+t*120':y=70:shortest=1[a];"
                                    "color=c=0x2040c0:s=320x180:r=25:d=2[b];[a][b]concat=n=2:v=1\" "
                                    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -crf 12");
}

// Shots of the moving test pattern and of the zooming fractal, alternating, 25 fps
// 320x180; the shots last `frames` frames each. Every cut between them is a hard cut on
// a known frame.
inline std::string AlternatingShotsVideo(const std::string& name, const std::vector<int>& frames) {
    std::string graph, inputs;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string label = "s" + std::to_string(i);
        graph += (i % 2 ? "mandelbrot=s=320x180:r=25" : "testsrc2=s=320x180:r=25") + std::string(",trim=end_frame=") +
                 std::to_string(frames[i]) + ",setpts=PTS-STARTPTS,format=yuv420p[" + label + "];";
        inputs += "[" + label + "]";
    }
    graph += inputs + "concat=n=" + std::to_string(frames.size()) + ":v=1[v]";
    return MakeMedia(name, "-filter_complex \"" + graph + "\" -map \"[v]\" -c:v libx264 -preset ultrafast -pix_fmt yuv420p");
}

// Colour bars with a 1 kHz sine sound track (44.1 kHz AAC in MP4, 2 s).
inline std::string SineVideo() {
    return MakeMedia("sine.mp4",
                     "-f lavfi -i color=c=green:s=320x180:r=25:d=2 -f lavfi -i "
                     "sine=frequency=1000:sample_rate=44100:duration=2 -c:v libx264 -pix_fmt yuv420p "
                     "-c:a aac -b:a 128k -shortest");
}

// A second codec and container: MPEG-4 Visual in Matroska, 2 s at 30 fps.
inline std::string MkvVideo() {
    return MakeMedia("mpeg4.mkv", "-f lavfi -i testsrc=s=320x180:r=30:d=2 -c:v mpeg4 -q:v 4");
}

}  // namespace morvane::test
