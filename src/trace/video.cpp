#include "trace/video.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/regular_file.h"

namespace morvane {

namespace {

void Log(const char* format, const char* a, const char* b = nullptr) {
    if (b) std::printf(format, a, b);
    else std::printf(format, a);
    std::fflush(stdout);
}

// FFmpeg's own chatter about damaged files would drown our one-line diagnostics.
void QuietLibraries() {
    static const bool once = [] {
        av_log_set_level(AV_LOG_FATAL);
        return true;
    }();
    (void)once;
}

// Read once per process. There is only one decoding path on this platform, so the value
// changes nothing; it is read so that the variable behaves as documented.
bool FfmpegForced() {
    static const bool forced = [] {
        const char* value = std::getenv("MV_FORCE_FFMPEG");
        return value && value[0] != '\0';
    }();
    return forced;
}

double ToSeconds(int64_t ts, AVRational base) { return static_cast<double>(ts) * av_q2d(base); }

// One decoded frame into dec.frame; returns its video time through *time.
bool DecodeOneFrame(VideoDecoder& dec, double* time) {
    AVStream* stream = dec.formatContext->streams[dec.streamIndex];
    for (int round = 0; round < 4096; ++round) {
        int r = avcodec_receive_frame(dec.codecContext, dec.frame);
        if (r == 0) {
            int64_t ts = dec.frame->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) ts = dec.frame->pts;
            double t;
            if (ts != AV_NOPTS_VALUE) t = ToSeconds(ts, stream->time_base) - dec.streamStart;
            else t = dec.lastPts + (dec.decoderFps > 0 ? 1.0 / dec.decoderFps : 0.04);
            dec.lastPts = t;
            dec.decodedTime = t;
            av_frame_unref(dec.lastFrame);
            av_frame_move_ref(dec.lastFrame, dec.frame);
            AVFrame* kept = dec.recent[dec.recentNext];
            av_frame_unref(kept);
            if (av_frame_ref(kept, dec.lastFrame) == 0) dec.recentTime[dec.recentNext] = t;
            dec.recentNext = (dec.recentNext + 1) % VideoDecoder::kRecentFrames;
            ++dec.moveSerial;
            *time = t;
            return true;
        }
        if (r != AVERROR(EAGAIN)) return false;  // end of stream or a decoder error
        r = av_read_frame(dec.formatContext, dec.packet);
        if (r < 0) {
            if (dec.flushed) return false;
            avcodec_send_packet(dec.codecContext, nullptr);
            dec.flushed = true;
            continue;
        }
        if (dec.packet->stream_index == dec.streamIndex) {
            // A damaged packet is skipped; the decoder resynchronises on the next one.
            avcodec_send_packet(dec.codecContext, dec.packet);
        }
        av_packet_unref(dec.packet);
    }
    return false;
}

void SeekTo(VideoDecoder& dec, double t) {
    AVStream* stream = dec.formatContext->streams[dec.streamIndex];
    int64_t ts = static_cast<int64_t>((t + dec.streamStart) / av_q2d(stream->time_base));
    av_seek_frame(dec.formatContext, dec.streamIndex, ts, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(dec.codecContext);
    av_frame_unref(dec.lastFrame);  // a frame from before the seek must never pass for the target
    dec.decodedTime = -1.0;
    dec.flushed = false;
    ++dec.moveSerial;
    ++dec.seekCount;
}

constexpr size_t kPictureAlignment = 64;

// `width` x `height` is the picture as shown; the scaler writes it before turning.
void SizePicture(ScaledPicture& picture, int width, int height, int rotation) {
    if (picture.width == width && picture.height == height && picture.rotation == rotation &&
        !picture.storage.empty())
        return;
    picture.width = width;
    picture.height = height;
    picture.rotation = rotation;
    const size_t row = static_cast<size_t>(picture.ScaledWidth()) * 4;
    picture.stride = (row + kPictureAlignment - 1) / kPictureAlignment * kPictureAlignment;
    // Room to align the start, and a whole aligned row of slack after the last row.
    picture.storage.assign(picture.stride * (static_cast<size_t>(picture.ScaledHeight()) + 1) + kPictureAlignment, 0);
    const bool repack = picture.stride != row || rotation != 0;
    picture.packed.assign(repack ? static_cast<size_t>(width) * 4 * static_cast<size_t>(height) : 0, 0);
}

// The scaler's rows into `packed`, turned clockwise by the picture's rotation.
void PackRows(ScaledPicture& picture) {
    const int sw = picture.ScaledWidth(), sh = picture.ScaledHeight(), w = picture.width;
    const uint8_t* rows = picture.Rows();
    uint32_t* out = reinterpret_cast<uint32_t*>(picture.packed.data());
    if (picture.rotation == 0) {
        const size_t row = static_cast<size_t>(sw) * 4;
        for (int y = 0; y < sh; ++y)
            std::memcpy(picture.packed.data() + row * static_cast<size_t>(y), rows + picture.stride * static_cast<size_t>(y), row);
        return;
    }
    for (int sy = 0; sy < sh; ++sy) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(rows + picture.stride * static_cast<size_t>(sy));
        for (int sx = 0; sx < sw; ++sx) {
            int dx = sx, dy = sy;  // where the source pixel lands once turned
            if (picture.rotation == 90) dx = sh - 1 - sy, dy = sx;
            else if (picture.rotation == 180) dx = sw - 1 - sx, dy = sh - 1 - sy;
            else dx = sy, dy = sw - 1 - sx;  // 270
            out[static_cast<size_t>(dy) * w + dx] = in[sx];
        }
    }
}

// Converts `f` into `picture` (its size set by the caller) as RGBA through `scaler`,
// which is made or remade to fit. False when the frame cannot be converted.
bool ScaleFrame(SwsContext*& scaler, const AVFrame* f, ScaledPicture& picture) {
    if (f->width < 1 || f->height < 1 || f->format < 0 || picture.storage.empty()) return false;
    scaler = sws_getCachedContext(scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                  picture.ScaledWidth(), picture.ScaledHeight(), AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr,
                                  nullptr, nullptr);
    if (!scaler) return false;
    uint8_t* dst[4] = {picture.Rows(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(picture.stride), 0, 0, 0};
    if (sws_scale(scaler, f->data, f->linesize, 0, f->height, dst, dstStride) <= 0) return false;
    if (!picture.packed.empty()) PackRows(picture);
    return true;
}

// Converts a decoded frame to the display size and hands it to the sink.
bool UploadFrame(VideoState& state, const AVFrame* frame, double time) {
    VideoDecoder& dec = *state.decoder;
    if (!ScaleFrame(dec.scaler, frame, dec.picture)) return false;
    state.currentFrameTime = static_cast<float>(time);
    if (state.frameSink) state.frameSink(state.width, state.height, dec.picture.Pixels());
    return true;
}

bool Upload(VideoState& state, double time) { return UploadFrame(state, state.decoder->lastFrame, time); }

// A recently decoded frame at video time t (within half a frame period), or null.
const AVFrame* RecentFrame(const VideoDecoder& dec, double t, double tolerance, double* time) {
    for (int i = 0; i < VideoDecoder::kRecentFrames; ++i) {
        const AVFrame* f = dec.recent[i];
        if (f && f->width > 0 && std::fabs(dec.recentTime[i] - t) < tolerance) {
            *time = dec.recentTime[i];
            return f;
        }
    }
    return nullptr;
}

float Tolerance(const VideoState& state) { return state.fps > 0 ? 0.5f / state.fps : 0.02f; }

// Decodes toward the pending scrub target within the time budget. Called with the lock held.
void FrameUpdate(VideoState& state, double budget) {
    VideoDecoder& dec = *state.decoder;
    if (dec.pendingTarget < 0) return;
    if (dec.positionLost) {
        // The analysis moved the decoder; its position says nothing about our target.
        SeekTo(dec, dec.pendingTarget);
        dec.newSeek = true;
        dec.positionLost = false;
    }
    const float tolerance = Tolerance(state);
    const double deadline = MonotonicSeconds() + budget;
    bool haveFrame = false;
    double lastTime = 0.0;
    for (int framesRead = 0;;) {
        double t = 0.0;
        if (!DecodeOneFrame(dec, &t)) {
            if (haveFrame) Upload(state, lastTime);
            dec.pendingTarget = -1.0f;
            return;
        }
        haveFrame = true;
        lastTime = t;
        ++framesRead;
        if (dec.newSeek) {
            dec.newSeek = false;
            // Rapid backward scrubbing shows the key frame it lands on, so the picture
            // follows the hand even when decoding up to the target takes longer.
            if (dec.scrubBackward && dec.showWhileSeeking && std::fabs(t - dec.lastSeekFrameTime) > 0.001)
                Upload(state, t);
            dec.lastSeekFrameTime = static_cast<float>(t);
        }
        if (t + tolerance >= dec.pendingTarget) {
            Upload(state, t);
            dec.pendingTarget = -1.0f;
            return;
        }
        if (MonotonicSeconds() > deadline || framesRead >= 4000) {
            if (!dec.scrubBackward) Upload(state, t);
            return;
        }
    }
}

void FreeDecoder(VideoDecoder& dec) {
    if (dec.scaler) sws_freeContext(dec.scaler);
    dec.scaler = nullptr;
    av_frame_free(&dec.frame);
    av_frame_free(&dec.lastFrame);
    for (AVFrame*& f : dec.recent) av_frame_free(&f);
    av_packet_free(&dec.packet);
    avcodec_free_context(&dec.codecContext);
    avformat_close_input(&dec.formatContext);
}

// The FFmpeg back end. Fills the state on success; the caller closes on failure.
bool OpenFfmpeg(VideoState& state, const std::string& path) {
    VideoDecoder& dec = *state.decoder;
    const char* p = path.c_str();
    dec.packet = av_packet_alloc();
    dec.frame = av_frame_alloc();
    dec.lastFrame = av_frame_alloc();
    bool framesMade = dec.frame && dec.lastFrame;
    for (AVFrame*& f : dec.recent) framesMade = (f = av_frame_alloc()) != nullptr && framesMade;
    if (!dec.packet || !framesMade || avformat_open_input(&dec.formatContext, p, nullptr, nullptr) < 0) {
        Log("[Video] FFmpeg: cannot open container (%s)\n", p);
        return false;
    }
    if (avformat_find_stream_info(dec.formatContext, nullptr) < 0) {
        Log("[Video] FFmpeg: no stream info (%s)\n", p);
        return false;
    }
    const AVCodec* codec = nullptr;
    int index = av_find_best_stream(dec.formatContext, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec) {
        Log("[Video] FFmpeg: no decodable video stream (%s)\n", p);
        return false;
    }
    dec.streamIndex = index;
    AVStream* stream = dec.formatContext->streams[index];
    dec.codecName = codec->name;
    dec.codecContext = avcodec_alloc_context3(codec);
    if (!dec.codecContext || avcodec_parameters_to_context(dec.codecContext, stream->codecpar) < 0) {
        Log("[Video] FFmpeg: decoder open failed (%s, %s)\n", codec->name, p);
        return false;
    }
    // 0 = as many decoding threads as the machine has; the picture read is bound by decoding.
    dec.codecContext->thread_count = 0;
    if (avcodec_open2(dec.codecContext, codec, nullptr) < 0) {
        Log("[Video] FFmpeg: decoder open failed (%s, %s)\n", codec->name, p);
        return false;
    }
    int sourceWidth = stream->codecpar->width, sourceHeight = stream->codecpar->height;
    if (sourceWidth < 1 || sourceHeight < 1) {
        Log("[Video] FFmpeg: bad dimensions (%s)\n", p);
        return false;
    }
    size_t matrixSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    state.rotation = matrix && matrixSize >= 9 * sizeof(int32_t) ? UprightRotation(reinterpret_cast<const int32_t*>(matrix)) : 0;
    if (state.rotation % 180) std::swap(sourceWidth, sourceHeight);
    DisplaySize(sourceWidth, sourceHeight, &state.width, &state.height);

    AVRational rate = av_guess_frame_rate(dec.formatContext, stream, nullptr);
    state.fps = (rate.num < 1 || rate.den < 1) ? 24.0f : static_cast<float>(av_q2d(rate));
    dec.decoderFps = state.fps;

    if (stream->start_time != AV_NOPTS_VALUE) dec.streamStart = ToSeconds(stream->start_time, stream->time_base);
    double duration = 0.0;
    if (stream->duration >= 1) duration = ToSeconds(stream->duration, stream->time_base);
    else if (dec.formatContext->duration > 0) duration = dec.formatContext->duration / 1000000.0;
    if (!(duration > 0.0) || !std::isfinite(duration)) {
        Log("[Video] FFmpeg: zero/unknown duration (%s)\n", p);
        return false;
    }
    state.duration = static_cast<float>(duration);
    SizePicture(dec.picture, state.width, state.height, state.rotation);
    state.currentFrameTime = -1.0f;

    double first = 0.0;
    if (!DecodeOneFrame(dec, &first) || !Upload(state, first)) {
        Log("[Video] FFmpeg: first frame decode failed (%s)\n", p);
        return false;
    }
    state.loaded = true;
    dec.usesFfmpeg = true;
    std::printf("[Video] loaded via FFmpeg (%s) %dx%d %.2ffps %.2fs (%s)\n", dec.codecName.c_str(), state.width,
                state.height, state.fps, state.duration, p);
    std::fflush(stdout);
    return true;
}

}  // namespace

size_t ScaledPicture::RowsOffset() const {
    const auto address = reinterpret_cast<uintptr_t>(storage.data());
    return (kPictureAlignment - address % kPictureAlignment) % kPictureAlignment;
}

double MonotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

VideoDecoder::~VideoDecoder() { FreeDecoder(*this); }

VideoState::~VideoState() {
    // Only the decoder goes; the published reference audio belongs to the application slot.
    decoder.reset();
}

int UprightRotation(const int32_t* displayMatrix) {
    // The matrix says how far the picture turns counter-clockwise to be shown; showing it
    // upright turns it that far the other way.
    const double angle = av_display_rotation_get(displayMatrix);
    if (!std::isfinite(angle)) return 0;
    const int degrees = static_cast<int>(std::lround(-angle / 90.0)) * 90;
    return ((degrees % 360) + 360) % 360;
}

void DisplaySize(int sourceWidth, int sourceHeight, int* width, int* height) {
    *width = sourceWidth;
    *height = sourceHeight;
    if (sourceWidth > 1280 || sourceHeight >= 1281) {
        double scale = 1280.0 / std::max(sourceWidth, sourceHeight);
        *width = std::max(1, static_cast<int>(sourceWidth * scale));
        *height = std::max(1, static_cast<int>(sourceHeight * scale));
    }
}

bool LoadVideo(VideoState& state, const std::string& path) {
    CloseVideo(state);
    QuietLibraries();
    // A missing file is FFmpeg's to report; what is there must be a file, since opening a
    // named pipe would wait for a writer for ever.
    if (const std::string why = ProblemWithPresentFile(path); !why.empty()) {
        std::printf("[Video] cannot read \"%s\": %s\n", path.c_str(), why.c_str());
        std::fflush(stdout);
        return false;
    }
    state.decoder = std::make_unique<VideoDecoder>();
    (void)FfmpegForced();
    if (!OpenFfmpeg(state, path)) {
        CloseVideo(state);
        return false;
    }
    return true;
}

void CloseVideo(VideoState& state) {
    state.decoder.reset();
    state.loaded = false;
    state.currentFrameTime = -1.0f;
    state.duration = state.fps = 0.0f;
    state.width = state.height = 0;
    state.rotation = 0;
}

void ShowFrameAt(VideoState& state, float timelineTime) {
    if (!state.loaded || !state.decoder) return;
    VideoDecoder& dec = *state.decoder;
    float t = std::clamp(timelineTime - state.startTime, 0.0f, state.duration);
    if (!std::isfinite(t)) return;
    if (state.fps > 0) t = static_cast<float>(std::round(t * state.fps) / state.fps);
    if (std::fabs(t - state.currentFrameTime) < 0.0001f) return;

    std::lock_guard<std::mutex> guard(dec.lock);
    const double now = MonotonicSeconds();
    const bool repeats = dec.pendingTarget >= 0 && std::fabs(dec.pendingTarget - t) < 0.0001f;
    if (!repeats) {
        if (state.currentFrameTime >= 0) {
            dec.scrubBackward = state.currentFrameTime - 0.0001f > t;
            dec.showWhileSeeking = dec.scrubBackward && dec.lastSeekClock >= 0 && now - dec.lastSeekClock < 0.3;
        } else {
            dec.scrubBackward = dec.showWhileSeeking = false;
        }
    }
    dec.lastSeekClock = now;
    double recentTime = 0.0;
    if (const AVFrame* recent = RecentFrame(dec, t, Tolerance(state), &recentTime)) {
        // Decoded a moment ago (scrubbing back, or a frame a seek passed): shown at once.
        UploadFrame(state, recent, recentTime);
        dec.pendingTarget = -1.0f;
        if (dec.playing) {
            dec.playStartClock = MonotonicSeconds();
            dec.playStartMedia = std::max(0.0f, state.currentFrameTime);
            dec.positionLost = true;  // playback decodes on from here, not from where the decoder is
        }
        return;
    }
    // Decoding on reaches the target when the decoder stands a little before it.
    const bool nearForward = dec.decodedTime >= 0 && t >= dec.decodedTime && t - dec.decodedTime < 5.0f && !dec.positionLost;
    if (!repeats && !nearForward) {
        dec.newSeek = true;
        SeekTo(dec, t);
        dec.positionLost = false;
    }
    dec.pendingTarget = t;
    FrameUpdate(state, 0.010);
    if (dec.playing) {
        dec.playStartClock = MonotonicSeconds();
        dec.playStartMedia = std::max(0.0f, state.currentFrameTime);
    }
}

void StartVideoPlayback(VideoState& state) {
    if (!state.loaded || !state.decoder) return;
    VideoDecoder& dec = *state.decoder;
    std::lock_guard<std::mutex> guard(dec.lock);
    dec.playing = true;
    // A frame shown from the recent ones leaves the decoder elsewhere: playback seeks first.
    if (std::fabs(dec.decodedTime - state.currentFrameTime) > Tolerance(state)) dec.positionLost = true;
    dec.playStartClock = MonotonicSeconds();
    dec.playStartMedia = dec.pendingTarget >= 0 ? dec.pendingTarget : std::max(0.0f, state.currentFrameTime);
    dec.pendingTarget = -1.0f;
}

void StopVideoPlayback(VideoState& state) {
    if (!state.decoder) return;
    std::lock_guard<std::mutex> guard(state.decoder->lock);
    state.decoder->playing = false;
}

float TickVideo(VideoState& state) {
    if (!state.loaded || !state.decoder) return state.currentFrameTime + state.startTime;
    VideoDecoder& dec = *state.decoder;
    std::lock_guard<std::mutex> guard(dec.lock);
    if (!dec.playing) {
        if (dec.pendingTarget >= 0) FrameUpdate(state, 0.008);
        return state.currentFrameTime + state.startTime;
    }
    const double wanted =
        std::min<double>(state.duration, MonotonicSeconds() - dec.playStartClock + dec.playStartMedia);
    const float tolerance = Tolerance(state);
    double shown = state.currentFrameTime;
    if (dec.positionLost) {
        SeekTo(dec, wanted);
        dec.positionLost = false;
        shown = -1.0;  // whatever the seek lands on is behind or at the wanted time
    }
    bool decoded = false;
    for (int i = 0; i < 16 && wanted > shown + tolerance; ++i) {
        double t = 0.0;
        if (!DecodeOneFrame(dec, &t)) {
            dec.playing = false;
            break;
        }
        decoded = true;
        shown = t;
    }
    if (decoded) Upload(state, shown);
    return state.currentFrameTime + state.startTime;
}

namespace {

// The size a reader asks for: the display size, or narrower at the same aspect.
void ReadingSize(const VideoState& state, int width, int* w, int* h) {
    *w = state.width;
    *h = state.height;
    if (width >= 1 && width < state.width) {
        *w = width;
        *h = std::max(1, static_cast<int>(static_cast<double>(state.height) / state.width * width));
    }
}

}  // namespace

int ReadFramesBetween(VideoState& state, double from, double to, int width, const SampleFrameFn& onFrame) {
    if (!state.loaded || !state.decoder || !onFrame || !(to >= from)) return 0;
    VideoDecoder& dec = *state.decoder;
    int w = 0, h = 0;
    ReadingSize(state, width, &w, &h);
    ScaledPicture picture;
    SizePicture(picture, w, h, state.rotation);
    SwsContext* scaler = nullptr;
    int delivered = 0;
    double frameTime = -1.0;
    std::unique_lock<std::mutex> guard(dec.lock);
    SeekTo(dec, std::max(0.0, from));
    dec.positionLost = true;
    // The bound only stops a stream whose timestamps never reach `to`.
    for (int n = 0; n < 100000 && DecodeOneFrame(dec, &frameTime) && frameTime <= to; ++n) {
        if (frameTime < from) continue;
        if (!ScaleFrame(scaler, dec.lastFrame, picture)) break;
        onFrame(delivered++, static_cast<float>(frameTime), picture.Pixels(), w, h);
    }
    guard.unlock();
    if (scaler) sws_freeContext(scaler);
    return delivered;
}

int SampleFrames(VideoState& state, float rate, int width, const SampleFrameFn& onFrame,
                 const SampleProgressFn& onProgress) {
    if (!state.loaded || !state.decoder || !onFrame) return 0;
    VideoDecoder& dec = *state.decoder;
    const double step = 1.0 / std::max(1.0f, rate);
    const int count = static_cast<int>(std::min(state.duration / step, 2.0e9));
    if (count < 1) return 0;
    int w = 0, h = 0;
    ReadingSize(state, width, &w, &h);
    ScaledPicture picture;
    SizePicture(picture, w, h, state.rotation);
    SwsContext* scaler = nullptr;
    const double tolerance = Tolerance(state);

    // The sampler walks forward through the file. It seeks only when it cannot trust the
    // decoder's position (first frame, or scrubbing moved the decoder since our last frame);
    // otherwise it decodes on, which is what makes reading the picture fast. The frames
    // delivered are the same as seeking for every index: the first frame at or after
    // (target - tolerance).
    uint64_t ourSerial = 0;
    bool haveOurs = false;
    double frameTime = 0.0;
    bool atEnd = false;
    int delivered = 0;
    for (int i = 0; i < count; ++i) {
        const double target = i * step;
        bool ok = true;
        {
            std::lock_guard<std::mutex> guard(dec.lock);
            const bool trusted = haveOurs && dec.moveSerial == ourSerial;
            if (!trusted) {
                SeekTo(dec, target);
                atEnd = false;
                frameTime = -1.0;
            }
            for (int n = 0; n < 2000 && !atEnd && !(frameTime >= target - tolerance); ++n)
                if (!DecodeOneFrame(dec, &frameTime)) atEnd = true;
            // Just past the last frame the picture stays as it ended, as a viewer sees it.
            // A container that claims more time than its frames fill ends the run instead
            // of repeating one picture for the rest of the claimed duration.
            ok = dec.lastFrame->width > 0 && !(atEnd && target - frameTime > step + tolerance);
            dec.positionLost = true;
            ourSerial = dec.moveSerial;
            haveOurs = true;
            ok = ok && ScaleFrame(scaler, dec.lastFrame, picture);
        }
        if (!ok) break;  // nothing decodable at all
        onFrame(i, static_cast<float>(target), picture.Pixels(), w, h);
        ++delivered;
        if (onProgress && onProgress(static_cast<float>(i + 1) / count) < 0) break;
    }
    if (scaler) sws_freeContext(scaler);
    return delivered;
}

std::shared_ptr<VideoRefAudio> ExtractReferenceAudio(const std::string& path, int64_t capSamples,
                                                     const std::atomic<bool>* cancel) {
    QuietLibraries();
    AVFormatContext* fc = nullptr;
    AVCodecContext* cc = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::shared_ptr<VideoRefAudio> result;
    auto audio = std::make_shared<VideoRefAudio>();
    const AVCodec* codec = nullptr;
    int index = -1;
    int64_t framesDecoded = 0;
    bool capped = false;
    std::vector<uint8_t*> out(1, nullptr);
    std::vector<int16_t> chunk;

    auto append = [&](const uint8_t** data, int inSamples) {
        int room = swr_get_out_samples(swr, inSamples);
        if (room <= 0) return;
        chunk.resize(static_cast<size_t>(room) * 2);
        uint8_t* dst = reinterpret_cast<uint8_t*>(chunk.data());
        int got = swr_convert(swr, &dst, room, data, inSamples);
        if (got <= 0) return;
        int64_t take = static_cast<int64_t>(got) * 2;
        const int64_t have = static_cast<int64_t>(audio->samples.size());
        if (have + take >= capSamples) {
            take = capSamples - have;
            capped = true;
        }
        audio->samples.insert(audio->samples.end(), chunk.begin(), chunk.begin() + take);
    };

    // The container is opened by name; only a regular file cannot keep the open waiting.
    if (!packet || !frame || !ProblemWithPresentFile(path).empty() ||
        avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0)
        goto done;
    if (avformat_find_stream_info(fc, nullptr) < 0) goto done;
    index = av_find_best_stream(fc, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0 || !codec) goto done;
    cc = avcodec_alloc_context3(codec);
    if (!cc || avcodec_parameters_to_context(cc, fc->streams[index]->codecpar) < 0) goto done;
    if (avcodec_open2(cc, codec, nullptr) < 0) goto done;
    if (cc->sample_rate < 1 || cc->ch_layout.nb_channels < 1) goto done;
    {
        AVChannelLayout inLayout;
        if (cc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&inLayout, cc->ch_layout.nb_channels);
        else av_channel_layout_copy(&inLayout, &cc->ch_layout);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        int r = swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, 48000, &inLayout, cc->sample_fmt,
                                    cc->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        if (r < 0 || !swr || swr_init(swr) < 0) goto done;
    }
    {
        bool inputEnded = false;
        while (!capped) {
            if (cancel && cancel->load(std::memory_order_relaxed)) goto done;
            int r = avcodec_receive_frame(cc, frame);
            if (r == 0) {
                ++framesDecoded;
                append(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                av_frame_unref(frame);
                continue;
            }
            if (r != AVERROR(EAGAIN)) break;  // drained or broken: keep what we have
            if (inputEnded) break;
            if (av_read_frame(fc, packet) < 0) {
                avcodec_send_packet(cc, nullptr);
                inputEnded = true;
                continue;
            }
            if (packet->stream_index == index) avcodec_send_packet(cc, packet);
            av_packet_unref(packet);
        }
        if (!capped && framesDecoded > 0) append(nullptr, 0);  // what the resampler still holds
    }
    if (capped) Log("[Video] reference audio capped at 60 min (%s)\n", path.c_str());
    audio->frameCount = static_cast<int64_t>(audio->samples.size()) / 2;
    if (framesDecoded > 0) {
        std::printf("[Video] reference audio: %.1fs stereo 48kHz (%s)\n", audio->frameCount / 48000.0,
                    path.c_str());
        std::fflush(stdout);
        result = audio;
    }
done:
    swr_free(&swr);
    avcodec_free_context(&cc);
    avformat_close_input(&fc);
    av_frame_free(&frame);
    av_packet_free(&packet);
    return result;
}

}  // namespace morvane
