// Reading the picture of a one-minute 1920x1080 H.264 video, as a multiple of real time,
// beside FFmpeg decoding the same file and nothing else. The read decodes every frame too
// (the sampler walks forward), so the ratio is the cost of sampling, scaling and measuring.
// Target: at most 1.3x FFmpeg's own decode time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

BENCHMARK(BM_ReadThePicture)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibraryDecodeOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramDecodeOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

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
    return 0;
}
