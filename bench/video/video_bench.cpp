// The picture under the playhead, in the decoder's own terms (the desktop program runs
// the same calls on its video worker, so the frame loop only uploads what they give):
//
// - Scrub latency: from a playhead move to the new frame handed over for the screen, on
//   60 s H.264 videos at 1920x1080 and 1280x720 with a key frame every 250 frames.
//   A hand dragging the ruler (2-frame steps forward, then back over new ground, then
//   forward again) and jumps to random places, median and 95th percentile. Target: a
//   drag's median under 50 ms.
// - Playback: 60 s of the 1080p video played against the clock at a 60 Hz frame loop:
//   frames shown against frames due, frames later than one frame period, and the
//   largest lag of the picture behind the clock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "trace/video.h"

namespace {

constexpr float kFps = 25.0f;

std::string VideoPath(int width, int height) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "morvane-video-bench";
    fs::create_directories(folder);
    const std::string path = (folder / ("minute_" + std::to_string(height) + "p_gop250.mp4")).string();
    if (fs::exists(path)) return path;
    std::printf("making a 60 s %dx%d H.264 video (GOP 250) with ffmpeg...\n", width, height);
    std::fflush(stdout);
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=" + std::to_string(width) + "x" +
                                std::to_string(height) + ":r=25:d=60 -c:v libx264 -preset veryfast -g 250 -pix_fmt yuv420p '" +
                                path + ".tmp.mp4' && mv '" + path + ".tmp.mp4' '" + path + "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}

double Now() { return morvane::MonotonicSeconds(); }

// Milliseconds from asking for `target` (video time) until the decoder handed that frame
// over, driving it as the video worker does.
double ScrubTo(morvane::VideoState& video, float target) {
    const double start = Now();
    morvane::ShowFrameAt(video, target);
    const float wanted = std::round(target * kFps) / kFps;
    for (int i = 0; i < 100000 && std::fabs(video.currentFrameTime - wanted) > 0.5f / kFps; ++i) morvane::TickVideo(video);
    return (Now() - start) * 1000.0;
}

struct Spread {
    double median = 0, p95 = 0;
};

Spread SpreadOf(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, static_cast<size_t>(std::ceil(v.size() * 0.95)) - 1)];
    return s;
}

struct ScrubFigures {
    std::string name;
    Spread drag, jump;
};
std::vector<ScrubFigures> gScrub;

void MeasureScrub(benchmark::State& state, int width, int height) {
    const std::string path = VideoPath(width, height);
    morvane::VideoState video;
    if (path.empty() || !morvane::LoadVideo(video, path)) {
        state.SkipWithError("no video");
        return;
    }
    for (auto _ : state) {
        ScrubTo(video, 20.0f);
        std::vector<double> drag, jump;
        const float step = 2.0f / kFps;
        float t = 20.0f;
        for (int i = 0; i < 75; ++i) drag.push_back(ScrubTo(video, t += step));    // forward 6 s
        for (int i = 0; i < 150; ++i) drag.push_back(ScrubTo(video, t -= step));   // back 12 s, past two key frames
        for (int i = 0; i < 75; ++i) drag.push_back(ScrubTo(video, t += step));    // forward again
        std::mt19937 random(7);
        std::uniform_real_distribution<float> anywhere(0.0f, 59.0f);
        for (int i = 0; i < 40; ++i) jump.push_back(ScrubTo(video, anywhere(random)));
        ScrubFigures f{std::to_string(height) + "p", SpreadOf(drag), SpreadOf(jump)};
        state.counters["dragMedianMs"] = f.drag.median;
        state.counters["dragP95Ms"] = f.drag.p95;
        state.counters["jumpMedianMs"] = f.jump.median;
        gScrub.push_back(f);
    }
}

void BM_Scrub1080p(benchmark::State& state) { MeasureScrub(state, 1920, 1080); }
void BM_Scrub720p(benchmark::State& state) { MeasureScrub(state, 1280, 720); }

struct PlaybackFigures {
    int shown = 0, due = 0, late = 0;
    double worstLagMs = 0, tickMedianMs = 0, tickP95Ms = 0;
};
PlaybackFigures gPlayback;

void BM_Playback1080p(benchmark::State& state) {
    const std::string path = VideoPath(1920, 1080);
    morvane::VideoState video;
    if (path.empty() || !morvane::LoadVideo(video, path)) {
        state.SkipWithError("no video");
        return;
    }
    for (auto _ : state) {
        ScrubTo(video, 0.0f);
        morvane::StartVideoPlayback(video);
        const double start = Now(), seconds = 59.0;
        PlaybackFigures f;
        std::vector<double> ticks;
        float last = video.currentFrameTime;
        for (int frame = 1;; ++frame) {
            std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                          std::chrono::duration<double>(std::max(0.0, start + frame / 60.0 - Now())));
            const double clock = Now() - start;
            if (clock > seconds) break;
            const double tickStart = Now();
            morvane::TickVideo(video);
            ticks.push_back((Now() - tickStart) * 1000.0);
            if (video.currentFrameTime != last) ++f.shown;
            last = video.currentFrameTime;
            // The frame due now starts at or before the clock; the one shown lags by this much.
            const double lag = std::floor(clock * kFps) / kFps - video.currentFrameTime;
            f.worstLagMs = std::max(f.worstLagMs, lag * 1000.0);
            if (lag > 1.0 / kFps + 1e-6) ++f.late;
        }
        morvane::StopVideoPlayback(video);
        f.due = static_cast<int>(seconds * kFps);
        const Spread tick = SpreadOf(ticks);
        f.tickMedianMs = tick.median;
        f.tickP95Ms = tick.p95;
        state.counters["shown"] = f.shown;
        state.counters["due"] = f.due;
        gPlayback = f;
    }
}

BENCHMARK(BM_Scrub1080p)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scrub720p)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Playback1080p)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const ScrubFigures& f : gScrub)
        std::printf("scrub %s GOP 250: drag median %.1f ms, p95 %.1f ms (target median < 50 ms); "
                    "random jumps median %.1f ms, p95 %.1f ms\n",
                    f.name.c_str(), f.drag.median, f.drag.p95, f.jump.median, f.jump.p95);
    if (gPlayback.due > 0)
        std::printf("playback 1080p: %d frames shown of %d due (%.3f), %d frame-loop ticks with the picture more than "
                    "one frame late, largest lag %.1f ms; decoder step per tick median %.2f ms, p95 %.2f ms\n",
                    gPlayback.shown, gPlayback.due, static_cast<double>(gPlayback.shown) / gPlayback.due, gPlayback.late,
                    gPlayback.worstLagMs, gPlayback.tickMedianMs, gPlayback.tickP95Ms);
    return 0;
}
