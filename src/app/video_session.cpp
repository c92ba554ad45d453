#include "app/video_session.h"

#include <SDL_opengl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/editor_state.h"
#include "audio/reference_audio.h"
#include "model/project_lifecycle.h"
#include "model/timeline.h"
#include "trace/picture_clock.h"
#include "trace/video.h"

namespace morvane {

namespace {

constexpr float kLoadFailureSeconds = 8.0f;

// What the worker reports about a load; the frame loop applies it to the project.
struct LoadOutcome {
    bool ok = false;
    bool import = false;  // chosen by the user, not named by an opened project
    std::string path;
    float fps = 0.0f, duration = 0.0f;
    int width = 0, height = 0;
};

struct VideoSession {
    // ---- Shared between the frame loop and the worker; guarded by `lock` ----
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    bool loadRequested = false, closeRequested = false;
    bool requestIsImport = false;
    std::string requestPath;
    uint64_t requestGeneration = 0;
    float target = 0.0f, startTime = 0.0f;  // the playhead (timeline seconds) and the video's start
    bool targetNew = false;
    bool workPending = false;               // a target is still being decoded toward
    bool outcomeReady = false;
    LoadOutcome outcome;
    uint64_t outcomeGeneration = 0;
    std::vector<uint8_t> frame;             // the newest decoded frame, RGBA, upright
    int frameWidth = 0, frameHeight = 0;
    float frameTime = -1.0f;
    uint64_t frameSerial = 0;

    // ---- The worker's own ----
    std::thread worker;
    VideoState state;

    // ---- The frame loop's own ----
    VideoPicture picture;
    uint64_t generation = 0;  // of the newest load or close asked for
    uint64_t uploadedSerial = 0;
    std::vector<uint8_t> uploadBuffer;  // swapped with `frame`, so neither side allocates per frame
    int textureWidth = 0, textureHeight = 0;
    float sentTarget = -1.0f, sentStart = 0.0f;
    bool targetSent = false;
    PictureClock clock;
    double lastPlayingTick = 0;  // monotonic seconds of the last frame that played; 0 stopped
    std::thread extractor;
    std::atomic<bool> extractCancel{false};
    std::atomic<uint64_t> extractGeneration{0};
};

VideoSession& Session() {
    static VideoSession session;
    return session;
}

// Called by the decoder (on the worker, with the decoder's lock held) for each frame
// that becomes visible.
void KeepFrame(int width, int height, const uint8_t* rgba) {
    VideoSession& s = Session();
    std::lock_guard<std::mutex> guard(s.lock);
    s.frame.assign(rgba, rgba + static_cast<size_t>(width) * height * 4);
    s.frameWidth = width;
    s.frameHeight = height;
    s.frameTime = s.state.currentFrameTime;
    ++s.frameSerial;
}

bool TargetPending(VideoState& state) {
    if (!state.decoder) return false;
    std::lock_guard<std::mutex> guard(state.decoder->lock);
    return state.decoder->pendingTarget >= 0;
}

void LoadOnWorker(VideoSession& s, const std::string& path, bool import, uint64_t generation) {
    s.state.frameSink = KeepFrame;
    const bool ok = LoadVideo(s.state, path);
    std::lock_guard<std::mutex> guard(s.lock);
    s.outcome = {ok, import, path, s.state.fps, s.state.duration, s.state.width, s.state.height};
    s.outcomeGeneration = generation;
    s.outcomeReady = true;
}

// The worker: loads, then decodes toward the newest playhead it was told. A target that
// takes longer than one step's budget is carried on until a newer one replaces it.
void WorkerLoop() {
    VideoSession& s = Session();
    bool pending = false;
    for (;;) {
        std::unique_lock<std::mutex> guard(s.lock);
        s.workPending = pending;
        s.wake.wait(guard, [&] { return s.stop || s.loadRequested || s.closeRequested || s.targetNew || pending; });
        if (s.stop) break;
        if (s.loadRequested || s.closeRequested) {
            const bool load = s.loadRequested;
            const std::string path = s.requestPath;
            const bool import = s.requestIsImport;
            const uint64_t generation = s.requestGeneration;
            s.loadRequested = s.closeRequested = false;
            guard.unlock();
            CloseVideo(s.state);
            if (load) LoadOnWorker(s, path, import, generation);
            pending = false;
            continue;
        }
        const bool fresh = s.targetNew;
        const float target = s.target, start = s.startTime;
        s.targetNew = false;
        s.workPending = true;
        guard.unlock();
        if (fresh) {
            s.state.startTime = start;
            ShowFrameAt(s.state, target);
        } else {
            TickVideo(s.state);
        }
        pending = TargetPending(s.state);
    }
    CloseVideo(s.state);
}

void StartWorker() {
    VideoSession& s = Session();
    if (!s.worker.joinable()) s.worker = std::thread(WorkerLoop);
}

void StopExtraction() {
    VideoSession& s = Session();
    s.extractCancel.store(true);
    if (s.extractor.joinable()) s.extractor.join();
    s.extractCancel.store(false);
}

// The sound track is read on its own thread: a long film takes seconds, and the picture
// must not wait for it. Only the newest load's sound is published.
void StartExtraction(const std::string& path, uint64_t generation) {
    VideoSession& s = Session();
    StopExtraction();
    s.extractGeneration.store(generation);
    s.extractor = std::thread([path, generation] {
        VideoSession& session = Session();
        std::shared_ptr<VideoRefAudio> extracted = ExtractReferenceAudio(path, kReferenceAudioCapSamples, &session.extractCancel);
        if (!extracted || session.extractCancel.load() || session.extractGeneration.load() != generation) return;
        auto audio = std::make_shared<ReferenceAudio>();
        audio->samples = std::move(extracted->samples);
        audio->sampleRate = extracted->sampleRate;
        audio->frameCount = extracted->frameCount;
        PublishReferenceAudio(std::move(audio));
    });
}

// Asks the worker to load `path` (or, when empty, to close), dropping the sound of the
// video before.
void RequestVideo(const std::string& path, bool import) {
    VideoSession& s = Session();
    StartWorker();
    StopExtraction();
    PublishReferenceAudio(nullptr);
    ++s.generation;
    s.picture.loading = !path.empty();
    s.picture.loaded = false;
    s.picture.frameTime = -1.0f;
    s.targetSent = false;
    std::lock_guard<std::mutex> guard(s.lock);
    s.loadRequested = !path.empty();
    s.closeRequested = path.empty();
    s.requestPath = path;
    s.requestIsImport = import;
    s.requestGeneration = s.generation;
    s.outcomeReady = false;
    s.wake.notify_one();
}

void ApplyOutcome(VideoSession& s, const LoadOutcome& outcome) {
    s.picture.loading = false;
    const std::string name = std::filesystem::path(outcome.path).filename().string();
    if (!outcome.ok) {
        s.picture.loaded = false;
        SetStatus(outcome.import ? "Couldn't decode this video \xE2\x80\x94 use an H.264 .mp4 proxy."
                                 : "Couldn't decode the project's video \xE2\x80\x94 use an H.264 .mp4 proxy.",
                  kLoadFailureSeconds);
        return;
    }
    s.picture.loaded = true;
    s.picture.path = outcome.path;
    s.picture.fps = outcome.fps;
    s.picture.duration = outcome.duration;
    s.picture.width = outcome.width;
    s.picture.height = outcome.height;
    Project& project = CurrentProject();
    if (outcome.import) {
        // The project follows the picture: its frame rate is the video's, and the
        // timeline reaches at least to the video's end.
        project.videoPath = outcome.path;
        project.timeline.settings.fps = outcome.fps;
        project.timeline.settings.totalDuration =
            std::max(project.timeline.settings.totalDuration, project.videoStartTime + outcome.duration);
        project.modified = true;
        SetStatus("Video: " + name, kStatusSeconds);
    }
    StartExtraction(outcome.path, s.generation);
}

void UploadFrame(VideoSession& s) {
    int width = 0, height = 0;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.frameSerial == s.uploadedSerial) return;
        s.uploadedSerial = s.frameSerial;
        s.uploadBuffer.swap(s.frame);
        width = s.frameWidth;
        height = s.frameHeight;
        s.picture.frameTime = s.frameTime;
    }
    if (width < 1 || height < 1 || s.uploadBuffer.size() < static_cast<size_t>(width) * height * 4) return;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (!s.picture.texture) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        s.picture.texture = texture;
    }
    glBindTexture(GL_TEXTURE_2D, s.picture.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (width != s.textureWidth || height != s.textureHeight) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        s.textureWidth = width;
        s.textureHeight = height;
    }
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, s.uploadBuffer.data());
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    s.picture.width = width;
    s.picture.height = height;
}

// The picture follows the playhead: while playing, that is the audio output's position
// run smoothly between the device's buffers, so the sound leads and the picture follows
// it through every frame.
void SendTarget(VideoSession& s) {
    if (!s.picture.loaded) return;
    float playhead = Editor().playhead;
    const double now = MonotonicSeconds();
    if (Editor().playing) {
        // The frame asked for now reaches the screen with the next frame drawn: aim it
        // one frame loop ahead (at most one video frame), where the sound will be then.
        const double period = s.picture.fps > 0 ? 1.0 / s.picture.fps : 0.04;
        const double ahead = s.lastPlayingTick > 0 ? std::clamp(now - s.lastPlayingTick, 0.0, period) : 0.0;
        s.lastPlayingTick = now;
        playhead = static_cast<float>(AdvancePictureClock(s.clock, playhead, now) + ahead);
    } else {
        ResetPictureClock(s.clock);
        s.lastPlayingTick = 0;
    }
    const float start = CurrentProject().videoStartTime;
    if (s.targetSent && playhead == s.sentTarget && start == s.sentStart) return;
    s.targetSent = true;
    s.sentTarget = playhead;
    s.sentStart = start;
    std::lock_guard<std::mutex> guard(s.lock);
    s.target = playhead;
    s.startTime = start;
    s.targetNew = true;
    s.wake.notify_one();
}

void ShutDown() {
    VideoSession& s = Session();
    StopExtraction();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.stop = true;
        s.wake.notify_one();
    }
    if (s.worker.joinable()) s.worker.join();
    PublishReferenceAudio(nullptr);
    if (s.picture.texture) {
        const GLuint texture = s.picture.texture;
        glDeleteTextures(1, &texture);
    }
    s.picture = VideoPicture{};
}

bool Busy() {
    VideoSession& s = Session();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.loadRequested || s.targetNew || s.workPending || s.outcomeReady || s.frameSerial != s.uploadedSerial;
}

}  // namespace

void ConnectVideoSession() {
    LifecycleHooks lifecycle = CurrentLifecycleHooks();
    lifecycle.videoChanged = [](const std::string& path) { RequestVideo(path, false); };
    SetLifecycleHooks(lifecycle);
    App().hooks.closeVideo = ShutDown;
    App().hooks.busySources.push_back(Busy);
}

void ImportVideo(const std::string& path) { RequestVideo(path, true); }

void TickVideoSession() {
    VideoSession& s = Session();
    CollectReferenceAudio();
    SetReferenceGain(CurrentProject().refGain);
    LoadOutcome outcome;
    bool haveOutcome = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.outcomeReady && s.outcomeGeneration == s.generation) {
            outcome = s.outcome;
            haveOutcome = true;
        }
        s.outcomeReady = false;
    }
    if (haveOutcome) ApplyOutcome(s, outcome);
    SendTarget(s);
    UploadFrame(s);
}

const VideoPicture& CurrentVideoPicture() { return Session().picture; }

void SetVideoPictureRect(float x0, float y0, float x1, float y1) {
    VideoPicture& picture = Session().picture;
    picture.x0 = x0, picture.y0 = y0, picture.x1 = x1, picture.y1 = y1;
}

void DumpVideoState(std::FILE* f) {
    const VideoPicture& p = Session().picture;
    std::fprintf(f, "video loaded %d frame %.3f size %d %d fps %.3f duration %.3f rect %.0f %.0f %.0f %.0f\n",
                 p.loaded ? 1 : 0, static_cast<double>(p.frameTime), p.width, p.height, static_cast<double>(p.fps),
                 static_cast<double>(p.duration), static_cast<double>(p.x0), static_cast<double>(p.y0),
                 static_cast<double>(p.x1), static_cast<double>(p.y1));
}

}  // namespace morvane
