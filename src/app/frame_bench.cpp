#include "app/frame_bench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "app/timeline_view.h"
#include "app/video_session.h"
#include "audio/audio_output.h"
#include "audio/reference_audio.h"
#include "audio/render_cache.h"
#include "edit/selection.h"
#include "model/timeline.h"

namespace morvane {

void FillBenchProject(int count) {
    static const char* const words[] = {"door slam", "glass", "wood creak", "metal hit", "rain", "wind gust",
                                        "footsteps gravel", "whoosh", "impact heavy", "crowd murmur"};
    Project& project = CurrentProject();
    project = Project{};
    project.timeline.settings.totalDuration = 600.0f;
    for (int i = 0; i < count; ++i) {
        Event e;
        e.shape = EventShapeFromInt(i % kEventShapeCount);
        e.time = 600.0f * static_cast<float>(i) / static_cast<float>(count);
        e.duration = 0.5f + 3.5f * static_cast<float>((i * 37) % 100) / 100.0f;
        e.keywords = words[i % 10];
        e.muted = i % 17 == 0;
        e.locked = i % 13 == 0;
        for (int p = 0; p < kCurvePoints; ++p)
            e.intensity[static_cast<size_t>(p)] = 0.5f + 0.4f * std::sin(static_cast<float>(p + i) * 0.05f);
        project.timeline.events.push_back(std::move(e));
    }
    SyncSelection(CurrentEdit());
    for (size_t i = 0; i < Edits().selected.size(); i += 10) Edits().selected[i] = 1;
    Editor().playhead = 300.0f;
    RequestZoomToFit();
}

void ClearBenchProject() {
    CurrentProject() = Project{};
    Edits().selected.clear();
    Editor().playhead = 0.0f;
    RequestZoomToFit();
}

namespace {

using BenchClock = std::chrono::steady_clock;

double Milliseconds(BenchClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Where the mixer has got to, in timeline seconds, read straight from the transport the
// device callback advances; what is heard trails it by the output's latency.
bool MixedSeconds(double* seconds) {
    const RenderCache& cache = RenderedAudio();
    const int rate = cache.sampleRate.load();
    if (!cache.mixer.transport.playing.load() || rate <= 0) return false;
    *seconds = static_cast<double>(cache.mixer.transport.playPosition.load()) / rate;
    return true;
}

struct FrameSpread {
    double median = 0, p95 = 0, worst = 0;
    size_t count = 0;
};

FrameSpread SpreadOf(std::vector<double> v) {
    FrameSpread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.count = v.size();
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
    s.worst = v.back();
    return s;
}

// Draws frames at the pace the program's busy frames keep (60 per second) until
// `done` says so or `seconds` pass; `each` sees every frame after it was drawn.
// Returns the milliseconds each frame took to draw.
template <typename Done, typename Each>
std::vector<double> PacedFrames(void (*drawFrame)(), double seconds, Done done, Each each) {
    std::vector<double> ms;
    const BenchClock::time_point start = BenchClock::now();
    const auto period = std::chrono::duration_cast<BenchClock::duration>(std::chrono::duration<double>(1.0 / 60.0));
    for (BenchClock::time_point next = start; !done(); next += period) {
        if (BenchClock::now() - start > std::chrono::duration<double>(seconds)) break;
        std::this_thread::sleep_until(next);
        const BenchClock::time_point before = BenchClock::now();
        drawFrame();
        ms.push_back(Milliseconds(BenchClock::now() - before));
        each();
    }
    return ms;
}

std::vector<double> PacedFrames(void (*drawFrame)(), double seconds) {
    return PacedFrames(drawFrame, seconds, [] { return false; }, [] {});
}

// One frame drawn while the video played: when it was finished, the position heard then
// and the mixer's (video time), and the video time of the frame in the texture.
struct PlayedFrame {
    double wall = 0, output = 0, mixed = 0, picture = 0;
};

void RecordFrame(std::vector<PlayedFrame>& frames, double start) {
    double heard = 0, mixed = 0;
    const VideoPicture& picture = CurrentVideoPicture();
    if (!AudioHeardSeconds(&heard) || !MixedSeconds(&mixed) || picture.frameTime < 0) return;
    const double videoStart = CurrentProject().videoStartTime;
    // Each new picture with the monotonic time it was drawn, for a check against a
    // recording of the speakers made beside the program.
    if (frames.empty() || frames.back().picture != picture.frameTime)
        std::printf("[Shown] %.6f %.6f\n", std::chrono::duration<double>(BenchClock::now().time_since_epoch()).count(),
                    picture.frameTime);
    frames.push_back({std::chrono::duration<double>(BenchClock::now() - BenchClock::time_point()).count() - start,
                      heard - videoStart, mixed - videoStart, picture.frameTime});
}

// The output's position read from the transport moves in steps of the buffers the device
// takes; the device itself moves through them at the pace of real time. The position at
// each frame is the tightest bound the steps read then and in the next half second give:
// it cannot have passed any of them, less the time until it was read.
std::vector<double> ContinuousPositions(const std::vector<PlayedFrame>& frames) {
    constexpr double kLookAhead = 0.5;
    std::vector<double> positions(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        double bound = frames[i].output;
        for (size_t j = i + 1; j < frames.size() && frames[j].wall - frames[i].wall < kLookAhead; ++j)
            bound = std::min(bound, frames[j].output - (frames[j].wall - frames[i].wall));
        positions[i] = bound;
    }
    return positions;
}

struct PlaybackFigures {
    long due = 0;
    int shown = 0, skipped = 0, late = 0, beyondOnePeriod = 0;
    double playedSeconds = 0;
    FrameSpread offset;               // the frame's middle minus the position, ms
    double earliest = 0, latest = 0;  // ms
};

PlaybackFigures Judge(const std::vector<PlayedFrame>& frames, const std::vector<double>& positions, double fps) {
    PlaybackFigures f;
    if (frames.empty()) return f;
    const double period = 1.0 / fps, eps = 1e-4;
    std::vector<double> offsets;
    double last = -1;
    for (size_t i = 0; i < frames.size(); ++i) {
        const double picture = frames[i].picture, position = positions[i];
        if (picture != last) {
            if (last >= 0) {
                ++f.shown;
                f.skipped += static_cast<int>(std::max(0L, std::lround((picture - last) * fps) - 1));
            }
            last = picture;
        }
        // The frame due is the one whose period holds the position.
        const double due = std::floor(position * fps + 1e-6) / fps;
        if (due - picture > period + eps) ++f.late;
        // Measured from the middle of the frame's period: a picture on the frame due is
        // within half a frame of the sound.
        const double offset = picture + period / 2 - position;
        if (std::fabs(offset) > period + eps) ++f.beyondOnePeriod;
        offsets.push_back(offset * 1000.0);
    }
    f.due = std::lround(std::floor(positions.back() * fps + 1e-6) - std::floor(positions.front() * fps + 1e-6));
    f.playedSeconds = positions.back() - positions.front();
    f.earliest = *std::min_element(offsets.begin(), offsets.end());
    f.latest = *std::max_element(offsets.begin(), offsets.end());
    f.offset = SpreadOf(std::move(offsets));
    return f;
}

void PrintOffsets(const char* against, const PlaybackFigures& f, double periodMs) {
    std::printf("[Bench]   shown frame's middle minus %s: median %.1f ms, from %.1f to %.1f ms; %d of %zu frames beyond one "
                "frame period (target: within %.0f ms)\n",
                against, f.offset.median, f.earliest, f.latest, f.beyondOnePeriod, f.offset.count, periodMs);
}

bool StartPlayingFromZero() {
    Editor().playhead = 0.0f;
    Editor().playing = false;
    TogglePlay();
    return RenderedAudio().mixer.transport.playing.load();
}

void StopPlaying() {
    Editor().playing = false;
    StopAudioPlayback();
}

}  // namespace

int RunVideoPlaybackBench(const std::string& videoPath, void (*drawFrame)()) {
    constexpr double kPlaySeconds = 60.0, kBaseSeconds = 10.0, kWaitSeconds = 60.0;
    ClearBenchProject();
    CurrentProject().timeline.settings.totalDuration = 120.0f;
    // A sound server can hold a new stream back for its first seconds; play starts
    // once the output takes buffers at the device's pace.
    PacedFrames(drawFrame, kWaitSeconds, [] { return AudioSettled(); }, [] {});
    if (!StartPlayingFromZero()) {
        std::printf("[Bench] video playback: no audio output to play against\n");
        return 1;
    }
    const FrameSpread without = SpreadOf(PacedFrames(drawFrame, kBaseSeconds));
    StopPlaying();

    ImportVideo(videoPath);
    PacedFrames(drawFrame, kWaitSeconds,
                [] {
                    const VideoPicture& p = CurrentVideoPicture();
                    return !p.loading && (!p.loaded || (p.frameTime >= 0 && CurrentReferenceAudio()));
                },
                [] {});
    const VideoPicture& picture = CurrentVideoPicture();
    if (!picture.loaded || picture.frameTime < 0 || picture.fps <= 0) {
        std::printf("[Bench] video playback: %s did not load\n", videoPath.c_str());
        return 1;
    }
    const float fps = picture.fps;
    PacedFrames(drawFrame, kWaitSeconds, [] { return AudioSettled(); }, [] {});
    // The same picture held still: what drawing it costs, without the decoder at work.
    const FrameSpread held = SpreadOf(PacedFrames(drawFrame, kBaseSeconds));
    StartPlayingFromZero();
    // The first half second fills the sound server's queue, faster than real time.
    PacedFrames(drawFrame, 0.5);
    std::vector<PlayedFrame> played;
    const double playFor = std::min<double>(kPlaySeconds, picture.duration - 1.0);
    const double zero = std::chrono::duration<double>(BenchClock::now() - BenchClock::time_point()).count();
    const FrameSpread with = SpreadOf(PacedFrames(
        drawFrame, playFor + 5.0,
        [&] { return !Editor().playing || (!played.empty() && played.back().output - played.front().output >= playFor); },
        [&] { RecordFrame(played, zero); }));
    StopPlaying();

    std::vector<double> steps(played.size());
    for (size_t i = 0; i < played.size(); ++i) steps[i] = played[i].output;
    const PlaybackFigures smooth = Judge(played, ContinuousPositions(played), fps);
    const PlaybackFigures stepped = Judge(played, steps, fps);
    std::vector<PlayedFrame> mixedFrames = played;
    for (PlayedFrame& f : mixedFrames) f.output = f.mixed;
    const PlaybackFigures mixed = Judge(mixedFrames, ContinuousPositions(mixedFrames), fps);
    std::printf("[Bench] video playback %dx%d at %.3g fps with the audio output running, %.1f s played:\n",
                picture.width, picture.height, static_cast<double>(fps), smooth.playedSeconds);
    std::printf("[Bench]   frames shown %d of %ld due (%.1f %%), %d skipped (target: every frame)\n", smooth.shown,
                smooth.due, smooth.due > 0 ? 100.0 * smooth.shown / static_cast<double>(smooth.due) : 0.0,
                smooth.skipped);
    std::printf("[Bench]   frames drawn with the picture more than one frame period late: %d of %zu (target 0)\n",
                smooth.late, smooth.offset.count);
    const double period = 1000.0 / fps;
    std::printf("[Bench]   the output's latency: %.1f ms\n",
                1000.0 * static_cast<double>(PlaybackOutput().LatencyFrames()) / RenderedAudio().sampleRate.load());
    PrintOffsets("the position heard", smooth, period);
    PrintOffsets("the position heard as the transport steps it", stepped, period);
    PrintOffsets("the mixer's position (what is handed to the device)", mixed, period);
    std::printf("[Bench] frame time playing, no video:    median %.2f ms, p95 %.2f ms, worst %.2f ms (%zu frames)\n",
                without.median, without.p95, without.worst, without.count);
    std::printf("[Bench] frame time stopped, video held:  median %.2f ms, p95 %.2f ms, worst %.2f ms (%zu frames)\n",
                held.median, held.p95, held.worst, held.count);
    std::printf("[Bench] frame time playing, video shown: median %.2f ms, p95 %.2f ms, worst %.2f ms (%zu frames)\n",
                with.median, with.p95, with.worst, with.count);
    std::printf("[Bench] the playing video adds %.2f ms to the median frame, %.2f ms to the p95 (target: within "
                "2 ms); against the held picture %.2f ms and %.2f ms\n",
                with.median - without.median, with.p95 - without.p95, with.median - held.median, with.p95 - held.p95);
    ClearBenchProject();
    return 0;
}

}  // namespace morvane
