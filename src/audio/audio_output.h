#pragma once
// The audio device: one output stream through RtAudio, the device callback with
// its sample-rate converter and channel handling, and recovery when the device
// goes away.
//
// The callback never blocks and never allocates: every scratch buffer is sized
// when the stream opens, and the render callbacks it calls (the mixer) take the
// cache lock only by trying it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RtAudio;

namespace morvane {

inline constexpr int kAudioBufferFrames = 512;
inline constexpr int kAudioQueueBuffers = 16;  // buffers queued at the sound server, about 170 ms
// Requests that come within this time of the stream's start only fill the
// server's queue; one after it means the device is taking buffers at its pace.
inline constexpr int64_t kQueueFillNanoseconds = 100'000'000;

// A monotonic clock in nanoseconds; cheap enough for the audio thread.
inline int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
inline constexpr const char* kStatusCouldNotOpen = "Could not open audio device";
inline constexpr const char* kStatusDeviceLost = "Audio device lost \xE2\x80\x94 could not reopen";
inline constexpr const char* kStatusSwitchedToDefault = "Audio device disconnected \xE2\x80\x94 switched to default";

struct AudioDeviceInfo {
    unsigned int id = 0;
    std::string name;
    int outputChannels = 0;
    int preferredRate = 0;
    std::vector<int> rates;
    bool isDefault = false;
};

// What the listener hears while the output plays, in project-rate frames. The mixer's
// position runs ahead of the speakers by the output's latency (the buffers queued at the
// sound server), so whatever follows the sound on screen (the playhead, its timecode,
// the picture) follows this instead. A start or seek is shown at once and held there
// until its first sound comes out; a restart while playing (the work area's loop) lets
// the sound already queued run out first, so picture and sound turn together.
// One thread (the interface's) reads and moves it.
struct HeardPosition {
    int64_t from = 0;        // where the run being mixed started
    int64_t left = -1;       // the mixed position where the previous run was left; -1 none
    int64_t leftFrom = 0;    // where that run had started
    int64_t lastMixed = -1;  // the mixed position at the last reading
};
// The mixer was sent to `position`. `leftAt` is where the run playing until now was
// left (its sound is still queued and is heard first), or -1 to show the new place at once.
void JumpHeardPosition(HeardPosition& heard, int64_t position, int64_t leftAt);
// Where the listener is now, given the mixer's position and the output's latency. A jump
// back of the mixer's position nobody announced (playback set back after a rebuild) is
// taken as a seek.
int64_t HeardFrames(HeardPosition& heard, int64_t mixed, int64_t latency);

// Render callbacks, run on the audio thread.
using StereoRenderFn = std::function<void(float* left, float* right, int frames)>;
using MultichannelRenderFn = std::function<void(float* interleaved, int frames, int channels)>;

// The rate a stream opens at: the project rate when the device supports it, else
// the device's preferred rate, else the last rate it lists (the project rate when
// it lists none).
int ChooseStreamRate(const AudioDeviceInfo& device, int projectRate);
// The channel count a stream opens with: max(2, wanted), cut to min(outputs, 2)
// when the device has fewer outputs than that.
int ChooseStreamChannels(const AudioDeviceInfo& device, int wantedChannels);

class AudioOutput {
public:
    AudioOutput();
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Scans the devices and opens the default output. On failure the status is
    // "Could not open audio device" and the program carries on without sound.
    bool Open(StereoRenderFn stereo, MultichannelRenderFn multichannel, int projectRate, int wantedChannels);
    void Close();
    // Once per user-interface frame: notices a stream the back end reported broken
    // and reopens the default device.
    void CheckDevice();

    bool IsOpen() const { return open_.load(std::memory_order_acquire); }
    // The device takes buffers at its own pace: it asked for one after the server's
    // queue was first filled. A sound server can hold a new stream for a while
    // (PulseAudio's null sink swallows its first two seconds); until it lets go,
    // nothing played is heard and the play position, clocked by the device, stays.
    bool Flowing() const;
    int ProjectRate() const { return projectRate_; }
    // How far what is heard trails what the render callbacks were asked for, in
    // project-rate frames: the latency the back end reports; else the queue the sound
    // server took when the stream started (RtAudio's PulseAudio back end reports none,
    // and the server may take less than was asked); else, until then, the queue asked
    // (buffers × frames at the device rate).
    int64_t LatencyFrames() const;
    int DeviceRate() const { return deviceRate_; }
    int Channels() const { return channels_; }
    std::string DeviceName() const;
    std::string StatusText() const;
    std::vector<AudioDeviceInfo> Devices() const;

    // Channel identification: a sine on one output channel (−1 for none).
    void SetTestChannel(int channel) { testChannel_.store(channel, std::memory_order_relaxed); }
    // Monitoring volume applied to the device output ("monitorGain", 0..10).
    void SetMonitorGain(float gain) { monitorGain_.store(gain, std::memory_order_relaxed); }

    // The device callback's body: `frames` interleaved frames of Channels()
    // channels at the device rate. Public so the converter can be driven without
    // a device.
    void Render(float* out, int frames);
    // Prepares Render() as Open() would, without a device (tests, offline use).
    void ConfigureWithoutDevice(StereoRenderFn stereo, MultichannelRenderFn multichannel, int projectRate,
                                int deviceRate, int channels);
    // Project-rate frames asked of the render callbacks so far.
    int64_t ProjectFramesRendered() const { return projectFrames_.load(std::memory_order_relaxed); }
    double FractionalPosition() const { return fraction_; }

private:
    bool OpenLocked(int projectRate, int wantedChannels);
    void CloseLocked();
    void Prepare(int projectRate, int deviceRate, int channels);
    void SetLatency(long reportedDeviceFrames, long bufferFrames);
    void RenderProject(float* out, int frames);
    static int DeviceCallback(void* output, void* input, unsigned int frames, double streamTime,
                              unsigned int status, void* user);

    mutable std::mutex mutex_;  // guards the stream while it is opened or closed
    std::unique_ptr<RtAudio> rt_;
    std::vector<AudioDeviceInfo> devices_;
    StereoRenderFn stereo_;
    MultichannelRenderFn multichannel_;
    std::atomic<bool> open_{false};
    unsigned int deviceId_ = 0;
    std::string deviceName_;
    int projectRate_ = 48000;
    int deviceRate_ = 48000;
    int channels_ = 2;
    int wantedChannels_ = 2;
    uint64_t errorSerial_ = 0;
    std::string status_;

    // Audio-thread state, sized in Prepare().
    std::vector<float> left_, right_;  // the stereo callback's buffers
    std::vector<float> convert_;       // project-rate frames waiting to be interpolated
    int convertCapacity_ = 0;          // in frames
    int convertHave_ = 0;
    double fraction_ = 0.0;            // read position inside convert_, in frames
    double ratio_ = 1.0;               // project rate ÷ device rate
    double tonePhase_ = 0.0;
    std::atomic<int> testChannel_{-1};
    std::atomic<float> monitorGain_{1.0f};
    std::atomic<int64_t> projectFrames_{0};
    std::atomic<long> reportedLatency_{0};  // device frames, 0 when the back end reports none
    std::atomic<long> askedQueue_{0};       // device frames
    // The first requests come back to back while they fill the server's queue: the
    // frames they took are that queue. Counted on the audio thread until one waits.
    std::atomic<long> queueFill_{0};
    std::atomic<bool> queueFilled_{false};
    std::atomic<int64_t> startedNs_{0};       // when the stream started
    std::atomic<int64_t> lastCallbackNs_{0};  // the audio thread's last request
};

}  // namespace morvane
