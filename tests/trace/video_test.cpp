// Loading, scrubbing, playback, the frame sampler and the reference audio, on real files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "library/hostile_paths.h"
#include "trace/trace_media.h"
#include "trace/video.h"

namespace morvane {
namespace {

using test::MakeMedia;

// A sink that keeps the last frame, as the desktop app's texture would.
struct KeptFrame {
    int width = 0, height = 0, calls = 0;
    std::vector<uint8_t> pixels;
    FrameSink Sink() {
        return [this](int w, int h, const uint8_t* rgba) {
            width = w;
            height = h;
            ++calls;
            pixels.assign(rgba, rgba + static_cast<size_t>(w) * h * 4);
        };
    }
    double MeanRed() const {
        double s = 0;
        for (size_t i = 0; i < pixels.size(); i += 4) s += pixels[i];
        return pixels.empty() ? 0 : s / (pixels.size() / 4);
    }
};

std::string LoadQuietly(VideoState& state, const std::string& path, bool* ok) {
    testing::internal::CaptureStdout();
    *ok = LoadVideo(state, path);
    return testing::internal::GetCapturedStdout();
}

// Lets the idle tick finish a scrub that did not fit in its first 10 ms.
void Settle(VideoState& state) {
    for (int i = 0; i < 200 && state.decoder && state.decoder->pendingTarget >= 0; ++i) TickVideo(state);
}

TEST(Video, LoadsH264AndMpeg4WithTheirMeasuresAndShowsTheFirstFrame) {
    const std::string mp4 = test::FlashVideo(), mkv = test::MkvVideo();
    ASSERT_FALSE(mp4.empty());
    ASSERT_FALSE(mkv.empty());
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    state.startTime = 2.5f;
    bool ok = false;
    std::string log = LoadQuietly(state, mp4, &ok);
    ASSERT_TRUE(ok);
    EXPECT_NE(log.find("[Video] loaded via FFmpeg (h264) 320x180 25.00fps 6.00s (" + mp4 + ")\n"), std::string::npos)
        << log;
    EXPECT_TRUE(state.loaded);
    EXPECT_EQ(state.width, 320);
    EXPECT_EQ(state.height, 180);
    EXPECT_FLOAT_EQ(state.fps, 25.0f);
    EXPECT_NEAR(state.duration, 6.0f, 0.05f);
    EXPECT_NEAR(state.currentFrameTime, 0.0f, 0.001f);
    EXPECT_EQ(shown.calls, 1);
    EXPECT_EQ(shown.width, 320);
    EXPECT_EQ(shown.pixels.size(), 320u * 180 * 4);
    EXPECT_NEAR(shown.MeanRed(), 0x20, 8);
    // A video without sound loads normally and leaves no reference audio.
    EXPECT_NEAR(TickVideo(state), 2.5f, 0.001f);

    log = LoadQuietly(state, mkv, &ok);
    ASSERT_TRUE(ok) << log;
    EXPECT_NE(log.find("[Video] loaded via FFmpeg (mpeg4) 320x180 30.00fps 2.00s"), std::string::npos) << log;
    EXPECT_FLOAT_EQ(state.fps, 30.0f);

    CloseVideo(state);
    EXPECT_FALSE(state.loaded);
    EXPECT_EQ(state.decoder, nullptr);
    EXPECT_EQ(state.width, 0);
    EXPECT_EQ(state.duration, 0.0f);
    EXPECT_EQ(state.currentFrameTime, -1.0f);
    EXPECT_EQ(state.startTime, 2.5f);  // belongs to the project, not to the file
    EXPECT_NEAR(TickVideo(state), 1.5f, 0.001f);
}

TEST(Video, LargeFramesShowAtMost1280OnTheLongerSide) {
    int w = 0, h = 0;
    DisplaySize(1280, 1280, &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 1280);
    DisplaySize(1280, 1281, &w, &h);
    EXPECT_EQ(h, 1280);
    EXPECT_EQ(w, 1279);

    const struct {
        const char* name;
        const char* size;
        int width, height;
    } cases[] = {{"landscape.mp4", "1920x1080", 1280, 720}, {"portrait.mp4", "1080x1920", 720, 1280}};
    for (const auto& c : cases) {
        const std::string path =
            MakeMedia(c.name, std::string("-f lavfi -i testsrc=s=") + c.size + ":r=5:d=1 -c:v libx264 -preset ultrafast -pix_fmt yuv420p");
        ASSERT_FALSE(path.empty());
        VideoState state;
        KeptFrame shown;
        state.frameSink = shown.Sink();
        bool ok = false;
        LoadQuietly(state, path, &ok);
        ASSERT_TRUE(ok) << c.name;
        EXPECT_EQ(state.width, c.width) << c.name;
        EXPECT_EQ(state.height, c.height) << c.name;
        EXPECT_EQ(shown.width, c.width);
        EXPECT_EQ(shown.height, c.height);
        EXPECT_EQ(shown.pixels.size(), static_cast<size_t>(c.width) * c.height * 4);
    }
}

TEST(Video, ScrubbingShowsTheFrameAtTheTargetAndSeeksOnlyWhenItMust) {
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    bool ok = false;
    LoadQuietly(state, test::FlashVideo(), &ok);
    ASSERT_TRUE(ok);
    VideoDecoder& dec = *state.decoder;

    // Far forward (5.9 s ahead) seeks.
    uint64_t seeks = dec.seekCount;
    ShowFrameAt(state, 5.88f);
    Settle(state);
    EXPECT_EQ(dec.seekCount, seeks + 1);
    EXPECT_NEAR(state.currentFrameTime, 5.88f, 0.001f);

    // Backward seeks and lands on the flash.
    ShowFrameAt(state, 1.0f);
    Settle(state);
    EXPECT_NEAR(state.currentFrameTime, 1.0f, 0.001f);
    EXPECT_GT(shown.MeanRed(), 200);

    // The frame already shown (after snapping to the frame grid) does nothing.
    const int calls = shown.calls;
    seeks = dec.seekCount;
    ShowFrameAt(state, 1.01f);
    EXPECT_EQ(shown.calls, calls);
    EXPECT_EQ(dec.pendingTarget, -1.0f);

    // 3 s ahead decodes on without a seek, to the next flash.
    ShowFrameAt(state, 4.0f);
    Settle(state);
    EXPECT_EQ(dec.seekCount, seeks);
    EXPECT_NEAR(state.currentFrameTime, 4.0f, 0.001f);
    EXPECT_GT(shown.MeanRed(), 200);

    // Timeline times are shifted by the start time and clamped to the video.
    state.startTime = 10.0f;
    ShowFrameAt(state, 12.48f);
    Settle(state);
    EXPECT_NEAR(state.currentFrameTime, 2.48f, 0.001f);
    EXPECT_GT(shown.MeanRed(), 200);
    ShowFrameAt(state, 3.0f);  // before the video: its first frame
    Settle(state);
    EXPECT_NEAR(state.currentFrameTime, 0.0f, 0.001f);
    EXPECT_NEAR(shown.MeanRed(), 0x20, 8);
    ShowFrameAt(state, 100.0f);  // after it: the last frame
    Settle(state);
    EXPECT_GT(state.currentFrameTime, 5.8f);
    EXPECT_EQ(dec.pendingTarget, -1.0f);
}

TEST(Video, PlaybackFollowsTheClockAndStopsAtTheEnd) {
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    bool ok = false;
    LoadQuietly(state, test::FlashVideo(), &ok);
    ASSERT_TRUE(ok);

    ShowFrameAt(state, 2.0f);
    Settle(state);
    StartVideoPlayback(state);
    const double start = MonotonicSeconds();
    while (MonotonicSeconds() - start < 0.4) {
        TickVideo(state);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(state.currentFrameTime, 2.25f);
    EXPECT_LT(state.currentFrameTime, 2.6f);
    StopVideoPlayback(state);
    const float stoppedAt = state.currentFrameTime;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TickVideo(state);
    EXPECT_EQ(state.currentFrameTime, stoppedAt);

    // Playing into the end of the stream returns to paused.
    ShowFrameAt(state, 5.8f);
    Settle(state);
    StartVideoPlayback(state);
    const double again = MonotonicSeconds();
    while (MonotonicSeconds() - again < 0.5 && state.decoder->playing) {
        TickVideo(state);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(state.decoder->playing);
    EXPECT_GT(state.currentFrameTime, 5.9f);
}

TEST(Video, SamplerDeliversTheFramesScrubbingWouldShowAndStopsWhenAsked) {
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    bool ok = false;
    LoadQuietly(state, test::FlashVideo(), &ok);
    ASSERT_TRUE(ok);

    std::vector<double> red;
    std::vector<float> times;
    int width = 0, height = 0;
    const int seeksBefore = static_cast<int>(state.decoder->seekCount);
    const int count = SampleFrames(
        state, 10.0f, 160,
        [&](int index, float time, const uint8_t* rgba, int w, int h) {
            EXPECT_EQ(index, static_cast<int>(red.size()));
            width = w;
            height = h;
            double s = 0;
            for (int i = 0; i < w * h; ++i) s += rgba[i * 4];
            red.push_back(s / (w * h));
            times.push_back(time);
        },
        nullptr);
    EXPECT_EQ(count, 60);
    ASSERT_EQ(red.size(), 60u);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 90);
    EXPECT_FLOAT_EQ(times[25], 2.5f);
    // Exactly the flash frames are white.
    for (int i = 0; i < 60; ++i) {
        const bool flash = i == 10 || i == 25 || i == 40;
        EXPECT_EQ(red[i] > 200, flash) << "frame " << i;
    }
    // It read forward: one seek for the whole run.
    EXPECT_EQ(static_cast<int>(state.decoder->seekCount) - seeksBefore, 1);

    // The sampler moved the decoder; a scrub near the shown frame still finds its target.
    ShowFrameAt(state, 1.0f);
    Settle(state);
    EXPECT_NEAR(state.currentFrameTime, 1.0f, 0.001f);
    EXPECT_GT(shown.MeanRed(), 200);

    // A rate below 1 samples once a second; a negative progress answer stops after the frame.
    int slow = SampleFrames(state, 0.2f, 160, [](int, float, const uint8_t*, int, int) {}, nullptr);
    EXPECT_EQ(slow, 6);
    int progressCalls = 0;
    int stopped = SampleFrames(
        state, 10.0f, 160, [](int, float, const uint8_t*, int, int) {},
        [&](float fraction) {
            ++progressCalls;
            return fraction >= 0.25f ? -1.0f : 0.0f;
        });
    EXPECT_EQ(stopped, 15);
    EXPECT_EQ(progressCalls, 15);
}

TEST(Video, SampledFramesMatchScrubbedFramesOnAMovingPicture) {
    // testsrc draws a moving pattern and a running counter: every frame differs.
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    bool ok = false;
    LoadQuietly(state, test::MkvVideo(), &ok);
    ASSERT_TRUE(ok);
    std::vector<std::vector<uint8_t>> sampled;
    SampleFrames(
        state, 10.0f, 0,
        [&](int, float, const uint8_t* rgba, int w, int h) { sampled.emplace_back(rgba, rgba + w * h * 4); }, nullptr);
    ASSERT_EQ(sampled.size(), 20u);
    for (int index : {13, 3, 19, 7, 8}) {
        ShowFrameAt(state, index * 0.1f);
        Settle(state);
        EXPECT_TRUE(shown.pixels == sampled[index]) << "index " << index;
    }
}

TEST(Video, ScrubbingBackOverFramesJustDecodedShowsThemAtOnceAndRight) {
    // testsrc's running pattern: every frame differs, so a wrong frame is seen.
    VideoState state;
    KeptFrame shown;
    state.frameSink = shown.Sink();
    bool ok = false;
    LoadQuietly(state, test::MkvVideo(), &ok);
    ASSERT_TRUE(ok);
    VideoDecoder& dec = *state.decoder;
    auto at = [](int k) { return 1.0f + k / 30.0f; };
    std::vector<std::vector<uint8_t>> forward;
    for (int k = 0; k <= 10; ++k) {
        ShowFrameAt(state, at(k));
        Settle(state);
        ASSERT_NEAR(state.currentFrameTime, at(k), 0.001f);
        forward.push_back(shown.pixels);
    }
    // Dragging back over them: each frame at once (nothing left to decode), without a
    // seek, and the very frame shown on the way forward.
    const uint64_t seeks = dec.seekCount;
    for (int k = 9; k >= 0; --k) {
        ShowFrameAt(state, at(k));
        EXPECT_EQ(dec.pendingTarget, -1.0f) << k;
        EXPECT_NEAR(state.currentFrameTime, at(k), 0.001f) << k;
        EXPECT_TRUE(shown.pixels == forward[static_cast<size_t>(k)]) << "frame " << k;
    }
    EXPECT_EQ(dec.seekCount, seeks);
    // Forward again past them: the decoder, left where it stood, gives the right frames.
    VideoState fresh;
    KeptFrame truth;
    fresh.frameSink = truth.Sink();
    LoadQuietly(fresh, test::MkvVideo(), &ok);
    ASSERT_TRUE(ok);
    for (int k : {10, 12, 13}) {
        ShowFrameAt(state, at(k));
        Settle(state);
        ShowFrameAt(fresh, at(k));
        Settle(fresh);
        EXPECT_NEAR(state.currentFrameTime, at(k), 0.001f) << k;
        EXPECT_TRUE(shown.pixels == truth.pixels) << "frame " << k;
    }
}

TEST(Video, ReferenceAudioIsThe48kStereoSoundOfTheFile) {
    const std::string sine = test::SineVideo();
    ASSERT_FALSE(sine.empty());
    testing::internal::CaptureStdout();
    std::shared_ptr<const VideoRefAudio> audio = ExtractReferenceAudio(sine);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Video] reference audio: 2.0s stereo 48kHz (" + sine + ")\n"), std::string::npos) << log;
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->sampleRate, 48000);
    EXPECT_EQ(audio->frameCount * 2, static_cast<int64_t>(audio->samples.size()));
    EXPECT_NEAR(audio->frameCount, 96000, 2400);

    // Frequency from rising zero crossings of the left channel over the middle second.
    int crossings = 0;
    for (int64_t i = 24000; i < 72000; ++i)
        if (audio->samples[2 * i] < 0 && audio->samples[2 * i + 2] >= 0) ++crossings;
    EXPECT_NEAR(crossings, 1000, 5);
    EXPECT_EQ(audio->samples[48000 * 2], audio->samples[48000 * 2 + 1]);  // mono source on both sides

    // The cap cuts at exactly the limit and says so.
    testing::internal::CaptureStdout();
    std::shared_ptr<VideoRefAudio> capped = ExtractReferenceAudio(sine, 9600);
    const std::string capLog = testing::internal::GetCapturedStdout();
    ASSERT_NE(capped, nullptr);
    EXPECT_EQ(capped->samples.size(), 9600u);
    EXPECT_EQ(capped->frameCount, 4800);
    EXPECT_NE(capLog.find("[Video] reference audio capped at 60 min (" + sine + ")\n"), std::string::npos);

    // A cancelled extraction gives nothing, and a video without sound has none.
    std::atomic<bool> cancel{true};
    testing::internal::CaptureStdout();
    EXPECT_EQ(ExtractReferenceAudio(sine, kReferenceAudioCapSamples, &cancel), nullptr);
    EXPECT_EQ(ExtractReferenceAudio(test::FlashVideo()), nullptr);
    testing::internal::GetCapturedStdout();
}

// A picture filmed upright on a phone is stored sideways with a rotation; it is shown
// and read upright: a white top half stays on top whichever way the file stores it.
TEST(Video, RotatedPhoneFootageIsShownAndSampledUpright) {
    const std::string upright = "-f lavfi -i \"color=c=black:s=360x640:r=25:d=0.4,drawbox=x=0:y=0:w=iw:h=ih/2:color=white:t=fill\" ";
    // Stored turned a quarter clockwise (top half now on the right), with the display
    // matrix a phone writes to turn it back (as ffmpeg itself shows the file).
    const std::string stored = MakeMedia("stored.mp4", "-f lavfi -i \"color=c=black:s=360x640:r=25:d=0.4,"
                                         "drawbox=x=0:y=0:w=iw:h=ih/2:color=white:t=fill,transpose=clock\" "
                                         "-c:v libx264 -pix_fmt yuv420p");
    const std::string sideways = MakeMedia("sideways.mp4", "-i '" + stored + "' -c copy -metadata:s:v:0 rotate=90");
    const std::string plain = MakeMedia("upright-360x640.mp4", upright + "-c:v libx264 -pix_fmt yuv420p");
    ASSERT_FALSE(sideways.empty());
    ASSERT_FALSE(plain.empty());
    for (const std::string& path : {sideways, plain}) {
        VideoState state;
        KeptFrame kept;
        state.frameSink = kept.Sink();
        bool ok = false;
        LoadQuietly(state, path, &ok);
        ASSERT_TRUE(ok) << path;
        EXPECT_EQ(state.width, 360) << path;
        EXPECT_EQ(state.height, 640) << path;
        ASSERT_EQ(kept.width, 360);
        ASSERT_EQ(kept.height, 640);
        auto lumaAt = [](const uint8_t* rgba, int w, int x, int y) { return rgba[(static_cast<size_t>(y) * w + x) * 4 + 1]; };
        EXPECT_GT(lumaAt(kept.pixels.data(), 360, 180, 100), 200) << path;  // top: white
        EXPECT_LT(lumaAt(kept.pixels.data(), 360, 180, 540), 50) << path;   // bottom: black
        int sampled = 0;
        SampleFrames(state, 10.0f, 90, [&](int, float, const uint8_t* rgba, int w, int h) {
            ++sampled;
            EXPECT_EQ(w, 90);
            EXPECT_EQ(h, 160);
            EXPECT_GT(lumaAt(rgba, w, 45, 20), 200) << path;
            EXPECT_LT(lumaAt(rgba, w, 45, 140), 50) << path;
        }, nullptr);
        EXPECT_GT(sampled, 0);
    }
    // The display matrix is read as the player reads it.
    int32_t quarter[9] = {0, 65536, 0, -65536, 0, 0, 0, 0, 1 << 30};  // turn 90 degrees clockwise to show
    EXPECT_EQ(UprightRotation(quarter), 90);
    int32_t none[9] = {65536, 0, 0, 0, 65536, 0, 0, 0, 1 << 30};
    EXPECT_EQ(UprightRotation(none), 0);
}

TEST(Video, BadFilesGiveTheirLineAndLeaveTheVideoClosed) {
    test::TempDir dir;
    const std::string flashes = test::FlashVideo();
    const std::string whole = test::ReadFile(flashes);
    ASSERT_GT(whole.size(), 1000u);
    test::WriteFile(dir.path / "truncated.mp4", whole.substr(0, whole.size() * 2 / 5));
    std::string noise(64 * 1024, '\0');
    uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    test::WriteFile(dir.path / "random.mp4", noise);
    test::WriteFile(dir.path / "empty.mp4", "");
    const std::string audioOnly = MakeMedia("audio.m4a", "-f lavfi -i sine=frequency=440:duration=1 -c:a aac");
    const std::string rawStream =
        MakeMedia("raw.mjpeg", "-f lavfi -i color=c=gray:s=160x90:r=25:d=1 -c:v mjpeg -f mjpeg");
    ASSERT_FALSE(audioOnly.empty());
    ASSERT_FALSE(rawStream.empty());

    const struct {
        std::string path;
        const char* line;
    } cases[] = {
        {dir / "truncated.mp4", "[Video] FFmpeg: cannot open container ("},
        {dir / "random.mp4", "[Video] FFmpeg: cannot open container ("},
        {dir / "empty.mp4", "[Video] FFmpeg: cannot open container ("},
        {dir / "missing.mp4", "[Video] FFmpeg: cannot open container ("},
        {audioOnly, "[Video] FFmpeg: no decodable video stream ("},
        {rawStream, "[Video] FFmpeg: zero/unknown duration ("},
    };
    for (const auto& c : cases) {
        VideoState state;
        bool ok = true;
        LoadQuietly(state, flashes, &ok);  // a loaded video goes away with a failed load
        ASSERT_TRUE(ok);
        const std::string log = LoadQuietly(state, c.path, &ok);
        EXPECT_FALSE(ok) << c.path;
        EXPECT_FALSE(state.loaded);
        EXPECT_EQ(state.decoder, nullptr);
        EXPECT_EQ(state.width, 0);
        EXPECT_EQ(log, std::string(c.line) + c.path + ")\n") << c.path;
        // Everything on a closed video is a quiet no-op.
        ShowFrameAt(state, 1.0f);
        StartVideoPlayback(state);
        EXPECT_EQ(SampleFrames(state, 10.0f, 160, [](int, float, const uint8_t*, int, int) {}, nullptr), 0);
    }
}

// True when every row of an RGBA picture is white on its left half and black on its
// right half, as the two-tone test videos below are drawn: rows out of place or written
// over would break the pattern.
bool TwoToneRows(const uint8_t* rgba, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rgba + static_cast<size_t>(y) * width * 4;
        if (row[(width / 4) * 4] < 180 || row[(width * 3 / 4) * 4] > 75 || row[(width / 4) * 4 + 3] != 255) return false;
    }
    return true;
}

std::string TwoToneVideo(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return MakeMedia("two_tone_" + size + ".mp4", "-f lavfi -i \"color=c=black:s=" + size +
                                                     ":r=25:d=0.2,drawbox=x=0:y=0:w=iw/2:h=ih:color=white:t=fill\" "
                                                     "-c:v libx264 -qp 0 -pix_fmt yuv420p");
}

TEST(Video, FramesOfEveryWidthStayInsideTheirPictures) {
    // The scaler writes whole blocks of pixels; at widths 8 more than a multiple of 16 it
    // used to write past the end of the picture (the sanitizer build catches it).
    std::vector<std::pair<int, int>> sizes;
    for (int width = 8; width <= 432; width += 8) sizes.emplace_back(width, 16);
    sizes.emplace_back(360, 640);  // a portrait phone clip
    for (const auto& [width, height] : sizes) {
        const std::string path = TwoToneVideo(width, height);
        ASSERT_FALSE(path.empty());
        VideoState state;
        KeptFrame shown;
        state.frameSink = shown.Sink();
        bool ok = false;
        LoadQuietly(state, path, &ok);
        ASSERT_TRUE(ok) << path;
        ASSERT_EQ(shown.width, width);
        ASSERT_EQ(shown.height, height);
        EXPECT_TRUE(TwoToneRows(shown.pixels.data(), width, height)) << path;
        bool sampledRight = false;
        EXPECT_EQ(SampleFrames(
                      state, 10.0f, 0,
                      [&](int, float, const uint8_t* rgba, int w, int h) {
                          sampledRight = w == width && h == height && TwoToneRows(rgba, w, h);
                      },
                      nullptr),
                  2);
        EXPECT_TRUE(sampledRight) << path;
    }

    // The sampler's own scaling, to every width from one wider picture.
    const std::string wide = TwoToneVideo(448, 64);
    ASSERT_FALSE(wide.empty());
    VideoState state;
    bool ok = false;
    LoadQuietly(state, wide, &ok);
    ASSERT_TRUE(ok);
    for (int width = 8; width <= 432; width += 8) {
        int gotWidth = 0, gotHeight = 0;
        bool twoTone = false;
        SampleFrames(
            state, 10.0f, width,
            [&](int, float, const uint8_t* rgba, int w, int h) {
                gotWidth = w;
                gotHeight = h;
                twoTone = TwoToneRows(rgba, w, h);
            },
            nullptr);
        EXPECT_EQ(gotWidth, width);
        EXPECT_EQ(gotHeight, std::max(1, 64 * width / 448));
        EXPECT_TRUE(twoTone) << "sampled at width " << width;
    }
}

TEST(Video, PathsThatAreNotFilesAreRefusedWithOneLine) {
    test::HangGuard guard;
    test::TempDir dir;
    for (const test::HostilePath& hostile : test::MakeHostilePaths(dir, ".mp4")) {
        VideoState state;
        bool ok = true;
        const std::string log = LoadQuietly(state, hostile.path, &ok);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(state.loaded);
        EXPECT_EQ(log, "[Video] cannot read \"" + hostile.path + "\": " + hostile.kind + "\n");
        EXPECT_EQ(ExtractReferenceAudio(hostile.path), nullptr);
    }
}

TEST(Video, APictureShorterThanItsSoundIsSampledOnlyWhereItExists) {
    // Matroska gives the container's duration (the 4 s of sound) for a 2 s picture.
    const std::string path = MakeMedia("short_picture.mkv",
                                       "-f lavfi -i testsrc=s=160x90:r=25:d=2 -f lavfi -i sine=duration=4 "
                                       "-c:v mpeg4 -c:a pcm_s16le");
    ASSERT_FALSE(path.empty());
    VideoState state;
    bool ok = false;
    LoadQuietly(state, path, &ok);
    ASSERT_TRUE(ok);
    EXPECT_NEAR(state.duration, 4.0f, 0.1f);
    std::vector<float> times;
    const int n = SampleFrames(
        state, 10.0f, 160, [&](int, float time, const uint8_t*, int, int) { times.push_back(time); }, nullptr);
    EXPECT_GE(n, 20);
    EXPECT_LE(n, 22);
    ASSERT_FALSE(times.empty());
    EXPECT_LT(times.back(), 2.2f);
    // Scrubbing into the part without picture shows the last frame and ends the request.
    ShowFrameAt(state, 3.5f);
    Settle(state);
    EXPECT_EQ(state.decoder->pendingTarget, -1.0f);
    EXPECT_NEAR(state.currentFrameTime, 1.96f, 0.05f);
}

TEST(Video, AFileCutShortAfterItsHeaderPlaysWhatItHas) {
    // With the index at the front the file opens; the missing second half must end scrubs,
    // playback and sampling quietly.
    const std::string fast = MakeMedia("faststart.mp4",
                                       "-f lavfi -i testsrc=s=320x180:r=25:d=6 -c:v libx264 "
                                       "-pix_fmt yuv420p -g 25 -movflags +faststart");
    ASSERT_FALSE(fast.empty());
    test::TempDir dir;
    const std::string whole = test::ReadFile(fast);
    const std::string cut = dir / "cut.mp4";
    test::WriteFile(cut, whole.substr(0, whole.size() / 2));
    VideoState state;
    bool ok = false;
    LoadQuietly(state, cut, &ok);
    ASSERT_TRUE(ok);
    ShowFrameAt(state, 5.5f);
    Settle(state);
    EXPECT_EQ(state.decoder->pendingTarget, -1.0f);
    StartVideoPlayback(state);
    TickVideo(state);
    const int n = SampleFrames(state, 10.0f, 160, [](int, float, const uint8_t*, int, int) {}, nullptr);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 60);
}

}  // namespace
}  // namespace morvane
