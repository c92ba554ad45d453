// Reading the picture of a one-minute 1920x1080 H.264 video, as a multiple of real time,
// beside FFmpeg decoding the same file and nothing else. The read decodes every frame too
// (the sampler walks forward), so the ratio is the cost of sampling, scaling and measuring.
// Target: at most 1.3x FFmpeg's own decode time.
//
// Then the hard cuts: 90 s videos (25 fps, 1080p and 720p, GOP 250) of alternating
// moving test-pattern and zooming-fractal shots with 8 cuts off the read's own frame
// grid. The read's cut events against the cuts made and against FFmpeg's scene-change
// filter (scdet) on the same file: recall and frame offsets. Target: every cut scdet
// finds, each on its frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "trace/analysis.h"
#include "trace/video.h"

namespace {

std::string gVideo;
double gDuration = 60.0;
double gReadSeconds = 0, gLibraryDecodeSeconds = 0, gProgramDecodeSeconds = 0;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The whole picture read: worker, sampler, per-frame measure and the sequence stage.
void BM_ReadThePicture(benchmark::State& state) {
    for (auto _ : state) {
        morvane::VideoState video;
        const bool loaded = morvane::LoadVideo(video, gVideo);
        if (!loaded) {
            state.SkipWithError("the video did not load");
            return;
        }
        morvane::TraceAnalysis analysis;
        const double start = Now();
        morvane::StartTraceAnalysis(analysis, video, {}, {});
        morvane::JoinTraceAnalysis(analysis);
        gReadSeconds = Now() - start;
        state.SetIterationTime(gReadSeconds);
        state.counters["frames"] = static_cast<double>(analysis.frames.size());
    }
    state.counters["xRealTime"] = gReadSeconds / gDuration;
}

// The peer inside the same process: FFmpeg's library decoding every frame, same threads.
void BM_LibraryDecodeOnly(benchmark::State& state) {
    for (auto _ : state) {
        const double start = Now();
        AVFormatContext* fc = nullptr;
        if (avformat_open_input(&fc, gVideo.c_str(), nullptr, nullptr) < 0) {
            state.SkipWithError("open failed");
            return;
        }
        avformat_find_stream_info(fc, nullptr);
        const AVCodec* codec = nullptr;
        const int index = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        AVCodecContext* cc = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(cc, fc->streams[index]->codecpar);
        cc->thread_count = 0;
        avcodec_open2(cc, codec, nullptr);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        long frames = 0;
        bool ended = false;
        for (;;) {
            const int r = avcodec_receive_frame(cc, frame);
            if (r == 0) {
                ++frames;
                continue;
            }
            if (r != AVERROR(EAGAIN) || ended) break;
            if (av_read_frame(fc, packet) < 0) {
                avcodec_send_packet(cc, nullptr);
                ended = true;
                continue;
            }
            if (packet->stream_index == index) avcodec_send_packet(cc, packet);
            av_packet_unref(packet);
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&cc);
        avformat_close_input(&fc);
        gLibraryDecodeSeconds = Now() - start;
        state.SetIterationTime(gLibraryDecodeSeconds);
        state.counters["frames"] = static_cast<double>(frames);
    }
    state.counters["xRealTime"] = gLibraryDecodeSeconds / gDuration;
}

// The ffmpeg program decoding to nothing ("ffmpeg -i f -f null -").
void BM_ProgramDecodeOnly(benchmark::State& state) {
    for (auto _ : state) {
        const double start = Now();
        const std::string command = "ffmpeg -nostdin -loglevel error -i '" + gVideo + "' -f null -";
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        gProgramDecodeSeconds = Now() - start;
        state.SetIterationTime(gProgramDecodeSeconds);
    }
    state.counters["xRealTime"] = gProgramDecodeSeconds / gDuration;
}

// The cuts of the alternating-shots videos: shot lengths in frames (the last shot fills
// the 90 s), chosen so that no cut lies on a frame the read samples.
const std::vector<int> kShotFrames = {247, 253, 251, 249, 246, 254, 250, 252, 248};

std::vector<int> MadeCutFrames() {
    std::vector<int> cuts;
    int frame = 0;
    for (size_t i = 0; i + 1 < kShotFrames.size(); ++i) cuts.push_back(frame += kShotFrames[i]);
    return cuts;
}

bool MakeAlternatingShots(const std::string& path, int width, int height) {
    std::string graph, inputs;
    for (size_t i = 0; i < kShotFrames.size(); ++i) {
        const std::string label = "[s" + std::to_string(i) + "]";
        // The fractal is drawn small and scaled up: drawing it at 1080p takes minutes.
        graph += std::string(i % 2 ? "mandelbrot=s=480x270:r=25" : "testsrc2=s=480x270:r=25") +
                 ",trim=end_frame=" + std::to_string(kShotFrames[i]) + ",setpts=PTS-STARTPTS,scale=" +
                 std::to_string(width) + ":" + std::to_string(height) + ",format=yuv420p" + label + ";";
        inputs += label;
    }
    graph += inputs + "concat=n=" + std::to_string(kShotFrames.size()) + ":v=1[v]";
    const std::string command = "ffmpeg -nostdin -loglevel error -y -filter_complex \"" + graph +
                                "\" -map \"[v]\" -c:v libx264 -preset ultrafast -g 250 '" + path + ".tmp.mp4' && mv '" +
                                path + ".tmp.mp4' '" + path + "'";
    return std::system(command.c_str()) == 0;
}

// The frames at which FFmpeg's scene-change filter starts a new scene.
std::vector<int> ScdetCutFrames(const std::string& path, double fps) {
    const std::string list = path + ".scdet.txt";
    const std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + path +
                                "' -vf \"scdet,metadata=mode=select:key=lavfi.scd.time,metadata=mode=print:file=" +
                                list + "\" -f null -";
    std::vector<int> frames;
    if (std::system(command.c_str()) != 0) return frames;
    FILE* f = std::fopen(list.c_str(), "r");
    if (!f) return frames;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        double t = 0;
        if (std::sscanf(line, "lavfi.scd.time=%lf", &t) == 1) frames.push_back(static_cast<int>(std::lround(t * fps)));
    }
    std::fclose(f);
    return frames;
}

// How many of `cuts` have an event within 4 frames, and the offsets (event frame - cut
// frame) of those, as text.
std::string CutRecall(const std::vector<int>& cuts, const std::vector<float>& eventFrames, int* found, int* exact) {
    std::string offsets;
    *found = *exact = 0;
    for (int cut : cuts) {
        float best = 1e9f;
        for (float e : eventFrames)
            if (std::fabs(e - cut) < std::fabs(best)) best = e - cut;
        if (std::fabs(best) > 4.0f) {
            offsets += " miss";
            continue;
        }
        ++*found;
        if (std::fabs(best) < 0.01f) ++*exact;
        char text[32];
        std::snprintf(text, sizeof text, " %+.0f", best);
        offsets += text;
    }
    return offsets;
}

struct CutFigures {
    std::string name;
    double readSeconds = 0;
    int made = 0, madeFound = 0, madeExact = 0, scdet = 0, scdetFound = 0, scdetExact = 0;
    std::string madeOffsets, scdetOffsets;
};
std::vector<CutFigures> gCutFigures;

void MeasureCuts(benchmark::State& state, const std::string& name, int width, int height) {
    namespace fs = std::filesystem;
    const std::string path = (fs::temp_directory_path() / "morvane-trace-bench" / ("cuts_" + name + ".mp4")).string();
    if (!fs::exists(path) && !MakeAlternatingShots(path, width, height)) {
        state.SkipWithError("ffmpeg could not make the alternating shots");
        return;
    }
    for (auto _ : state) {
        morvane::VideoState video;
        if (!morvane::LoadVideo(video, path)) {
            state.SkipWithError("the video did not load");
            return;
        }
        morvane::TraceAnalysis analysis;
        const double start = Now();
        morvane::StartTraceAnalysis(analysis, video, {}, {});
        morvane::JoinTraceAnalysis(analysis);
        CutFigures f;
        f.name = name;
        f.readSeconds = Now() - start;
        state.SetIterationTime(f.readSeconds);
        std::vector<float> eventFrames;
        for (const morvane::TraceEvent& e : analysis.events)
            if (e.type == morvane::kTraceSpot && !e.background) eventFrames.push_back(e.time * 25.0f);
        const std::vector<int> made = MadeCutFrames(), scdet = ScdetCutFrames(path, 25.0);
        f.made = static_cast<int>(made.size());
        f.scdet = static_cast<int>(scdet.size());
        f.madeOffsets = CutRecall(made, eventFrames, &f.madeFound, &f.madeExact);
        f.scdetOffsets = CutRecall(scdet, eventFrames, &f.scdetFound, &f.scdetExact);
        std::vector<float> scdetFrames(scdet.begin(), scdet.end());
        int scdetOnMade = 0, unused = 0;
        CutRecall(made, scdetFrames, &unused, &scdetOnMade);
        state.counters["recall"] = f.scdet ? static_cast<double>(f.scdetFound) / f.scdet : 0.0;
        state.counters["onFrame"] = f.scdet ? static_cast<double>(f.scdetExact) / f.scdet : 0.0;
        state.counters["scdetOnMadeCuts"] = scdetOnMade;
        gCutFigures.push_back(f);
    }
}

void BM_HardCuts1080p(benchmark::State& state) { MeasureCuts(state, "1080p", 1920, 1080); }
void BM_HardCuts720p(benchmark::State& state) { MeasureCuts(state, "720p", 1280, 720); }

BENCHMARK(BM_ReadThePicture)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryDecodeOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramDecodeOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HardCuts1080p)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HardCuts720p)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "morvane-trace-bench";
    fs::create_directories(folder);
    gVideo = (folder / "minute_1080p.mp4").string();
    if (!fs::exists(gVideo)) {
        std::printf("making a 60 s 1920x1080 H.264 video with ffmpeg...\n");
        std::fflush(stdout);
        const std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=60 "
            "-c:v libx264 -preset veryfast -pix_fmt yuv420p '" + gVideo + ".tmp.mp4' && mv '" + gVideo +
            ".tmp.mp4' '" + gVideo + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "trace_bench: ffmpeg could not make the test video\n");
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gReadSeconds > 0 && gLibraryDecodeSeconds > 0)
        std::printf("picture read %.2fs (%.3fx real time), library decode only %.2fs: ratio %.2fx (target <= 1.3x)\n",
                    gReadSeconds, gReadSeconds / gDuration, gLibraryDecodeSeconds, gReadSeconds / gLibraryDecodeSeconds);
    if (gReadSeconds > 0 && gProgramDecodeSeconds > 0)
        std::printf("picture read %.2fs, ffmpeg -f null %.2fs: ratio %.2fx\n", gReadSeconds, gProgramDecodeSeconds,
                    gReadSeconds / gProgramDecodeSeconds);
    for (const CutFigures& f : gCutFigures) {
        std::printf("hard cuts %s: read %.1fs (%.3fx real time); scdet reports %d cuts (%d made); "
                    "the read found %d of scdet's %d, %d on their frame (offsets in frames:%s); "
                    "of the %d made: %d found, %d on their frame (offsets:%s) (target: all, each on its frame)\n",
                    f.name.c_str(), f.readSeconds, f.readSeconds / 90.0, f.scdet, f.made, f.scdetFound, f.scdet,
                    f.scdetExact, f.scdetOffsets.c_str(), f.made, f.madeFound, f.madeExact, f.madeOffsets.c_str());
    }
    return 0;
}
