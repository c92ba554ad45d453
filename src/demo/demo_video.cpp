#include "demo/demo_video.h"

#include <unistd.h>

#include <cstdio>

#include "platform/run_program.h"

namespace morvane::demo {

namespace {

std::string Num(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
    return text;
}

}  // namespace

DemoVideoPlan DemoVideoTimeline() {
    DemoVideoPlan plan;
    plan.cuts = {8.0f, 16.0f, 26.0f};
    plan.flashes = {10.0f, 12.5f, 14.0f, 21.0f, 30.0f};
    return plan;
}

std::vector<std::string> DemoVideoCommand(const std::string& output, const DemoVideoPlan& plan,
                                          const std::string& soundTrack) {
    const std::string size = std::to_string(plan.width) + "x" + std::to_string(plan.height);
    const std::string rate = std::to_string(plan.fps);
    auto shot = [&](const char* colour, float from, float to, const char* label, const char* extra) {
        return std::string("color=c=") + colour + ":s=" + size + ":r=" + rate + ":d=" + Num(to - from) + extra +
               "[" + label + "];";
    };
    // Four shots with clearly different light, joined by hard cuts.
    std::string graph;
    const std::vector<float> edges = {0.0f, plan.cuts[0], plan.cuts[1], plan.cuts[2], plan.duration};
    graph += shot("0x1a2a4a", edges[0], edges[1], "s0", "");
    graph += shot("0x707070", edges[1], edges[2], "s1", "");
    graph += shot("0x7a3008", edges[2], edges[3], "s2", ",noise=alls=24:allf=t");  // a flickering fire-lit room
    graph += shot("0x203820", edges[3], edges[4], "s3", "");
    graph += "[s0][s1][s2][s3]concat=n=4:v=1:a=0[bg];";
    // A bright box crosses the first shot; a yellow box falls in the last one.
    graph += "color=c=0xe8e8e8:s=40x40:r=" + rate + ":d=" + Num(plan.duration) + "[box];";
    graph += "[bg][box]overlay=x='(t-" + Num(plan.passStart) + ")/" + Num(plan.passEnd - plan.passStart) + "*" +
             std::to_string(plan.width + 40) + "-40':y=" + std::to_string(plan.height / 2 - 20) +
             ":enable='between(t," + Num(plan.passStart) + "," + Num(plan.passEnd) + ")'[m1];";
    const int landY = plan.height - 60;
    graph += "color=c=0xd8c040:s=48x48:r=" + rate + ":d=" + Num(plan.duration) + "[drop];";
    graph += "[m1][drop]overlay=x=" + std::to_string(plan.width / 2 - 24) + ":y='min(" + std::to_string(landY) +
             ",-48+(t-" + Num(plan.dropStart) + ")/" + Num(plan.dropLand - plan.dropStart) + "*" +
             std::to_string(landY + 48) + ")':enable='between(t," + Num(plan.dropStart) + "," +
             Num(plan.fadeStart + 2.0f) + ")'[m2];";
    // Full-frame white flashes.
    std::string enable;
    for (float t : plan.flashes) {
        if (!enable.empty()) enable += "+";
        enable += "between(t," + Num(t) + "," + Num(t + plan.flashLength - 0.001f) + ")";
    }
    graph += "[m2]drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='" + enable + "'[m3];";
    graph += "[m3]fade=t=out:st=" + Num(plan.fadeStart) + ":d=" + Num(plan.duration - plan.fadeStart) + "[v]";

    return {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
            "-i", soundTrack,
            "-filter_complex", graph,
            "-map", "[v]", "-map", "0:a",
            "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-pix_fmt", "yuv420p",
            // One key frame a second keeps seeking in the reel quick.
            "-g", rate,
            "-c:a", "aac", "-b:a", "128k",
            "-t", Num(plan.duration),
            "-movflags", "+faststart", "-f", "mp4", output};
}

bool MakeDemoVideo(const std::string& path, const DemoVideoPlan& plan, const std::string& soundTrack,
                   std::string* error) {
    const std::string temporary = path + ".partial";
    const ProgramRun run = RunProgram(DemoVideoCommand(temporary, plan, soundTrack));
    if (!run.started || run.exitCode != 0) {
        ::unlink(temporary.c_str());
        if (error) {
            *error = !run.started ? "cannot make the demo video: the ffmpeg program is not installed"
                                  : "cannot make the demo video " + path + ": ffmpeg: " +
                                        (run.lastErrorLine.empty() ? "failed" : run.lastErrorLine);
        }
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        if (error) *error = "cannot move the demo video into place at " + path;
        return false;
    }
    return true;
}

}  // namespace morvane::demo
