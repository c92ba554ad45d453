#pragma once
// The one reference video: loading through FFmpeg, the frame under the playhead while
// scrubbing and playing, the frame sampler of the picture analysis, and the video's own
// sound extracted as 48 kHz stereo for playback to mix under the designed sound (the
// audio subsystem holds and mixes it; see audio/reference_audio.h).
//
// The core never touches a GPU. Decoded frames go to a frame sink that the desktop app
// supplies (it copies them for its texture); without a sink the frame still lands in
// the decoder's RGBA buffer, which is all a headless caller needs. Phone footage that
// carries a rotation is turned upright here, so the window and the analysis both see
// the picture as it was filmed.
//
// Threads: one thread scrubs and ticks a VideoState (the app's video worker, or the
// caller's thread); the analysis thread may sample frames at the same time, both meeting
// at the decoder's lock. ExtractReferenceAudio runs on any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace morvane {

// Receives each frame that becomes visible: width x height RGBA pixels, row stride width x 4.
// Called on the thread that decoded the frame, with the decoder's lock held.
using FrameSink = std::function<void(int width, int height, const uint8_t* rgba)>;

// An RGBA picture as FFmpeg's scaler writes it. The scaler's vector code stores whole
// blocks of pixels, up to 32 bytes past the end of a row whose width is not a multiple
// of 16, and is fastest on aligned rows: its rows lie `stride` bytes apart (a multiple
// of 64) from an aligned start, with room after the last one. Readers are handed
// Pixels(): rows width x 4 bytes apart, upright, as every frame consumer expects.
struct ScaledPicture {
    int width = 0, height = 0;  // as shown: after turning
    int rotation = 0;           // clockwise degrees (0, 90, 180, 270) the scaled rows are turned by
    size_t stride = 0;
    std::vector<uint8_t> storage;  // the scaler's rows, from the first 64-byte boundary in it
    std::vector<uint8_t> packed;   // the rows without their padding and turned, when either is needed
    int ScaledWidth() const { return rotation % 180 ? height : width; }
    int ScaledHeight() const { return rotation % 180 ? width : height; }
    uint8_t* Rows() { return storage.data() + RowsOffset(); }
    const uint8_t* Pixels() const { return packed.empty() ? storage.data() + RowsOffset() : packed.data(); }
    size_t RowsOffset() const;
};

// Created per load, destroyed by CloseVideo. Every field below `lock` is guarded by it.
struct VideoDecoder {
    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    bool playing = false;
    double playStartClock = 0.0;   // monotonic seconds at playback start
    float playStartMedia = 0.0f;   // video time at playback start
    float pendingTarget = -1.0f;   // scrub target not yet shown; -1 = none
    bool scrubBackward = false;
    bool showWhileSeeking = false;
    bool newSeek = false;
    float lastSeekFrameTime = -1.0f;
    double lastSeekClock = -1.0;

    std::mutex lock;  // around every call into FFmpeg, shared with the analysis thread

    bool usesFfmpeg = false;
    AVFormatContext* formatContext = nullptr;
    AVCodecContext* codecContext = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;       // receives from the decoder
    AVFrame* lastFrame = nullptr;   // the last decoded frame, kept past the end of the stream
    AVPacket* packet = nullptr;
    int streamIndex = -1;
    bool flushed = false;
    float decoderFps = 24.0f;
    double lastPts = 0.0;
    double decodedTime = -1.0;  // video time of the frame the decoder gave last; -1 after a seek
    // The frames decoded most recently (references to the decoder's own pictures, in a
    // ring), with their video times: scrubbing back over them, or onto one a seek passed
    // on its way to its target, shows them without seeking and decoding again.
    static constexpr int kRecentFrames = 32;
    AVFrame* recent[kRecentFrames] = {};
    double recentTime[kRecentFrames] = {};
    int recentNext = 0;
    double streamStart = 0.0;  // the stream's first timestamp; video time 0 lies there
    std::string codecName;
    ScaledPicture picture;  // the frame last shown, at the display size

    // The analysis thread decodes on the same decoder. Afterwards the display cannot trust
    // the position it left, so its next request seeks instead of decoding on.
    bool positionLost = false;
    // Counts every decoded frame and every seek, so the sampler can tell whether anybody
    // moved the decoder since its own last frame.
    uint64_t moveSerial = 0;
    uint64_t seekCount = 0;  // seeks issued (scrubbing, playback and sampler)
};

struct VideoState {
    VideoState() = default;
    ~VideoState();
    VideoState(const VideoState&) = delete;
    VideoState& operator=(const VideoState&) = delete;

    bool loaded = false;
    float duration = 0.0f;       // seconds
    float fps = 0.0f;
    int width = 0, height = 0;   // display size, upright, after the size limit
    int rotation = 0;            // clockwise degrees the decoded picture is turned to stand upright
    float startTime = 0.0f;      // where video time 0 lies on the timeline
    float currentFrameTime = -1.0f;  // video time of the frame last handed to the sink; -1 none
    FrameSink frameSink;         // set by the app before loading; may stay empty
    std::unique_ptr<VideoDecoder> decoder;
};

// The video's own sound, 48 kHz interleaved stereo, as extraction makes it.
struct VideoRefAudio {
    std::vector<int16_t> samples;
    int32_t sampleRate = 48000;
    int64_t frameCount = 0;  // samples / 2
};

constexpr int64_t kReferenceAudioCapSamples = 345600000;  // 60 minutes of stereo at 48 kHz

// Display size rule: a source wider than 1280 or 1281 and more high is scaled so that its
// longer side is 1280; each side is truncated.
void DisplaySize(int sourceWidth, int sourceHeight, int* width, int* height);

// Clockwise degrees (0, 90, 180 or 270) a picture with this display matrix (FFmpeg's
// nine 16.16 fixed-point values) is turned to stand upright; 0 for none.
int UprightRotation(const int32_t* displayMatrix);

// Both replace the decoder: a picture read sampling this video on another thread must be
// cancelled and joined first. Loading does not extract the sound (a long film takes a
// while): the caller runs ExtractReferenceAudio where it suits it. A path where something other than a regular file is (a
// named pipe would block the open for ever) is refused with one "[Video] cannot read"
// line; a missing file fails as a container that cannot be opened.
bool LoadVideo(VideoState& state, const std::string& path);
void CloseVideo(VideoState& state);

// Scrubbing to a timeline time; spends at most 10 ms and leaves the rest to TickVideo.
void ShowFrameAt(VideoState& state, float timelineTime);
void StartVideoPlayback(VideoState& state);
void StopVideoPlayback(VideoState& state);
// Once per UI frame: advances the shown frame; returns currentFrameTime + startTime.
float TickVideo(VideoState& state);

// Frame sampler for the picture analysis. onFrame(index, time, rgba, width, height);
// onProgress(fraction) returns a negative number to stop. Returns the frames delivered.
using SampleFrameFn = std::function<void(int index, float time, const uint8_t* rgba, int width, int height)>;
using SampleProgressFn = std::function<float(float fraction)>;
int SampleFrames(VideoState& state, float rate, int width, const SampleFrameFn& onFrame,
                 const SampleProgressFn& onProgress);

// Every frame whose video time lies in [from, to], in order, scaled to at most `width`
// pixels wide: onFrame(index, frame time, rgba, width, height). Seeks to the key frame
// before `from` and decodes forward, so the sampler's neighbours can be compared at the
// video's full rate. Returns the frames delivered.
int ReadFramesBetween(VideoState& state, double from, double to, int width, const SampleFrameFn& onFrame);

// The video's sound track as 48 kHz stereo; null when it has none that decodes, or when
// `cancel` was raised meanwhile (checked between packets). Capped at `capSamples`.
std::shared_ptr<VideoRefAudio> ExtractReferenceAudio(const std::string& path,
                                                     int64_t capSamples = kReferenceAudioCapSamples,
                                                     const std::atomic<bool>* cancel = nullptr);

// Monotonic seconds (steady clock).
double MonotonicSeconds();

}  // namespace morvane
