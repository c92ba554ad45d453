#include "audio/audio_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <chrono>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <RtAudio.h>
#pragma GCC diagnostic pop

namespace morvane {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kTestToneHz = 440.0;
constexpr float kTestToneAmplitude = 0.18f;
// The converter works through the device buffer in pieces of this many frames, so
// its scratch memory has a fixed size whatever buffer the device asks for.
constexpr int kConvertChunk = 1024;
constexpr int kStereoChunk = 4096;

// RtAudio's error callback carries no user pointer; there is one output per
// program, so a counter of reported stream errors is enough. The callback is
// attached to the open stream only, so whatever it reports concerns the running
// stream: the PulseAudio back end reports a lost server as a mere warning ("audio
// write error") and keeps calling back, so warnings count as failures too.
std::atomic<uint64_t> gStreamErrors{0};
std::atomic<bool> gStreamErrorShown{false};

void OnStreamError(RtAudioError::Type type, const std::string& text) {
    if (type == RtAudioError::DEBUG_WARNING) return;
    gStreamErrors.fetch_add(1, std::memory_order_acq_rel);
    // A broken stream may report on every callback until the frame loop reopens
    // it; one line is enough.
    if (!gStreamErrorShown.exchange(true)) {
        std::printf("[Audio] stream error: %s\n", text.c_str());
        std::fflush(stdout);
    }
}

std::vector<AudioDeviceInfo> ScanDevices(RtAudio& rt) {
    std::vector<AudioDeviceInfo> list;
    try {
        const unsigned int count = rt.getDeviceCount();
        const unsigned int defaultId = count ? rt.getDefaultOutputDevice() : 0;
        for (unsigned int id = 0; id < count; ++id) {
            const RtAudio::DeviceInfo info = rt.getDeviceInfo(id);
            if (!info.probed || info.outputChannels == 0) continue;
            AudioDeviceInfo d;
            d.id = id;
            d.name = info.name;
            d.outputChannels = static_cast<int>(info.outputChannels);
            d.preferredRate = static_cast<int>(info.preferredSampleRate);
            for (unsigned int r : info.sampleRates) d.rates.push_back(static_cast<int>(r));
            d.isDefault = id == defaultId || info.isDefaultOutput;
            list.push_back(std::move(d));
        }
    } catch (const std::exception& e) {
        std::printf("[Audio] device scan failed: %s\n", e.what());
    }
    return list;
}

const AudioDeviceInfo* DefaultDevice(const std::vector<AudioDeviceInfo>& devices) {
    for (const AudioDeviceInfo& d : devices)
        if (d.isDefault) return &d;
    return devices.empty() ? nullptr : &devices.front();
}

}  // namespace

int ChooseStreamRate(const AudioDeviceInfo& device, int projectRate) {
    if (std::find(device.rates.begin(), device.rates.end(), projectRate) != device.rates.end()) return projectRate;
    if (device.preferredRate > 0) return device.preferredRate;
    if (!device.rates.empty()) return device.rates.back();
    return projectRate;
}

int ChooseStreamChannels(const AudioDeviceInfo& device, int wantedChannels) {
    int channels = std::max(2, wantedChannels);
    if (device.outputChannels < channels) channels = std::min(device.outputChannels, 2);
    return std::max(1, channels);
}

void JumpHeardPosition(HeardPosition& heard, int64_t position, int64_t leftAt) {
    heard.left = leftAt;
    heard.leftFrom = heard.from;
    heard.from = position;
    heard.lastMixed = -1;
}

int64_t HeardFrames(HeardPosition& heard, int64_t mixed, int64_t latency) {
    if (heard.lastMixed >= 0 && mixed < heard.lastMixed) JumpHeardPosition(heard, mixed, -1);
    heard.lastMixed = mixed;
    const int64_t sinceJump = mixed - heard.from;
    if (heard.left >= 0 && sinceJump < latency)
        return std::max(heard.leftFrom, heard.left - latency + std::max<int64_t>(0, sinceJump));
    heard.left = -1;
    return std::max(heard.from, mixed - latency);
}

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput() { Close(); }

std::string AudioOutput::DeviceName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deviceName_;
}

std::string AudioOutput::StatusText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::vector<AudioDeviceInfo> AudioOutput::Devices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

bool AudioOutput::Open(StereoRenderFn stereo, MultichannelRenderFn multichannel, int projectRate,
                       int wantedChannels) {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
    stereo_ = std::move(stereo);
    multichannel_ = std::move(multichannel);
    wantedChannels_ = wantedChannels;
    if (!OpenLocked(projectRate, wantedChannels)) {
        status_ = kStatusCouldNotOpen;
        std::printf("[Audio] %s\n", kStatusCouldNotOpen);
        std::fflush(stdout);
        return false;
    }
    return true;
}

bool AudioOutput::OpenLocked(int projectRate, int wantedChannels) {
    try {
        if (!rt_) {
            rt_ = std::make_unique<RtAudio>();
            rt_->showWarnings(false);
        }
    } catch (const std::exception& e) {
        std::printf("[Audio] no audio back end: %s\n", e.what());
        rt_.reset();
        return false;
    }
    devices_ = ScanDevices(*rt_);
    const AudioDeviceInfo* device = DefaultDevice(devices_);
    if (!device) return false;

    const int rate = ChooseStreamRate(*device, projectRate);
    int channels = ChooseStreamChannels(*device, wantedChannels);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Scratch memory is sized, and the shape the callback reads is set, before
        // the stream can call back: some back ends start their thread on opening.
        Prepare(projectRate, rate, channels);
        projectRate_ = projectRate;
        deviceRate_ = rate;
        channels_ = channels;
        RtAudio::StreamParameters params;
        params.deviceId = device->id;
        params.nChannels = static_cast<unsigned int>(channels);
        params.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.streamName = "Morvane";
        // A short queue at the sound server: what is heard stays within a few
        // buffers of the play position (a server's own default keeps up to seconds).
        options.numberOfBuffers = kAudioQueueBuffers;
        unsigned int frames = kAudioBufferFrames;
        bool opened = false;
        try {
            rt_->openStream(&params, nullptr, RTAUDIO_FLOAT32, static_cast<unsigned int>(rate), &frames,
                            &AudioOutput::DeviceCallback, this, &options,
                            &OnStreamError);
            opened = rt_->isStreamOpen();
            if (opened) {
                errorSerial_ = gStreamErrors.load(std::memory_order_acquire);
                lastCallbackNs_.store(0, std::memory_order_relaxed);
                queueFill_.store(0, std::memory_order_relaxed);
                queueFilled_.store(false, std::memory_order_release);
                startedNs_.store(SteadyNanoseconds(), std::memory_order_release);
                gStreamErrorShown.store(false);
                rt_->startStream();
                if (!rt_->isStreamRunning()) throw std::runtime_error("stream did not start");
                SetLatency(rt_->getStreamLatency(), static_cast<long>(frames));
            }
        } catch (const std::exception& e) {
            std::printf("[Audio] opening \"%s\" with %d channels at %d Hz failed: %s\n", device->name.c_str(),
                        channels, rate, e.what());
            try {
                if (rt_->isStreamOpen()) rt_->closeStream();
            } catch (const std::exception&) {
            }
            opened = false;
        }
        if (opened) {
            deviceId_ = device->id;
            deviceName_ = device->name;
            open_.store(true, std::memory_order_release);
            std::printf("[Audio] opened \"%s\": %d Hz, %d channels, %u-frame buffers, latency %s\n",
                        device->name.c_str(), rate, channels, frames,
                        reportedLatency_.load() > 0 ? "reported by the back end" : "measured as the queue fills");
            std::fflush(stdout);
            return true;
        }
        if (channels <= 2) break;
        channels = 2;  // many multichannel devices still take a plain stereo stream
    }
    return false;
}

bool AudioOutput::Flowing() const {
    if (!IsOpen()) return false;
    const int64_t started = startedNs_.load(std::memory_order_acquire);
    return lastCallbackNs_.load(std::memory_order_acquire) - started >= kQueueFillNanoseconds;
}

void AudioOutput::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
}

void AudioOutput::CloseLocked() {
    open_.store(false, std::memory_order_release);
    if (!rt_) return;
    try {
        if (rt_->isStreamRunning()) rt_->stopStream();
    } catch (const std::exception&) {
    }
    try {
        if (rt_->isStreamOpen()) rt_->closeStream();
    } catch (const std::exception&) {
    }
}

void AudioOutput::CheckDevice() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_.load(std::memory_order_acquire) || !rt_) return;
    bool broken = gStreamErrors.load(std::memory_order_acquire) != errorSerial_;
    try {
        broken = broken || !rt_->isStreamOpen() || !rt_->isStreamRunning();
    } catch (const std::exception&) {
        broken = true;
    }
    if (!broken) return;

    const std::string lostName = deviceName_;
    std::printf("[Audio] device \"%s\" reported an error; reopening the default device\n", lostName.c_str());
    CloseLocked();
    // A fresh back end sees the device list as it is now.
    rt_.reset();
    if (!OpenLocked(projectRate_, wantedChannels_)) {
        status_ = kStatusDeviceLost;
        std::printf("[Audio] %s\n", kStatusDeviceLost);
    } else if (deviceName_ != lostName) {
        status_ = kStatusSwitchedToDefault;
        std::printf("[Audio] %s\n", kStatusSwitchedToDefault);
    }
    std::fflush(stdout);
}

void AudioOutput::ConfigureWithoutDevice(StereoRenderFn stereo, MultichannelRenderFn multichannel, int projectRate,
                                         int deviceRate, int channels) {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
    stereo_ = std::move(stereo);
    multichannel_ = std::move(multichannel);
    projectRate_ = projectRate;
    deviceRate_ = deviceRate;
    channels_ = channels;
    Prepare(projectRate, deviceRate, channels);
    SetLatency(0, kAudioBufferFrames);
}

void AudioOutput::SetLatency(long reportedDeviceFrames, long bufferFrames) {
    reportedLatency_.store(std::max(0L, reportedDeviceFrames), std::memory_order_relaxed);
    askedQueue_.store(kAudioQueueBuffers * bufferFrames, std::memory_order_relaxed);
}

int64_t AudioOutput::LatencyFrames() const {
    long device = reportedLatency_.load(std::memory_order_relaxed);
    if (device <= 0 && queueFilled_.load(std::memory_order_acquire)) device = queueFill_.load(std::memory_order_relaxed);
    if (device <= 0) device = askedQueue_.load(std::memory_order_relaxed);
    const double seconds = deviceRate_ > 0 ? static_cast<double>(device) / deviceRate_ : 0.0;
    return std::llround(seconds * projectRate_);
}

void AudioOutput::Prepare(int projectRate, int deviceRate, int channels) {
    ratio_ = deviceRate > 0 ? static_cast<double>(projectRate) / deviceRate : 1.0;
    left_.assign(kStereoChunk, 0.0f);
    right_.assign(kStereoChunk, 0.0f);
    convertCapacity_ = static_cast<int>(std::ceil(kConvertChunk * ratio_)) + 8;
    convert_.assign(static_cast<size_t>(convertCapacity_) * std::max(1, channels), 0.0f);
    convertHave_ = 0;
    fraction_ = 0.0;
    tonePhase_ = 0.0;
}

int AudioOutput::DeviceCallback(void* output, void*, unsigned int frames, double, unsigned int, void* user) {
    AudioOutput& self = *static_cast<AudioOutput*>(user);
    const int64_t now = SteadyNanoseconds();
    const int64_t last = self.lastCallbackNs_.exchange(now, std::memory_order_acq_rel);
    if (!self.queueFilled_.load(std::memory_order_relaxed)) {
        // A request that waited for more than half a buffer came once the
        // queue was full: the ones before it filled the queue.
        const int64_t bufferNs = self.deviceRate_ > 0 ? int64_t{1'000'000'000} * frames / self.deviceRate_ : 0;
        if (last != 0 && now - last > bufferNs / 2) self.queueFilled_.store(true, std::memory_order_release);
        else self.queueFill_.fetch_add(static_cast<long>(frames), std::memory_order_relaxed);
    }
    self.Render(static_cast<float*>(output), static_cast<int>(frames));
    return 0;
}

// `frames` project-rate frames, interleaved, from the render callbacks.
void AudioOutput::RenderProject(float* out, int frames) {
    const int channels = channels_;
    std::fill(out, out + static_cast<size_t>(frames) * channels, 0.0f);
    if (frames <= 0 || channels <= 0) return;
    projectFrames_.fetch_add(frames, std::memory_order_relaxed);
    const bool useStereo = stereo_ && (channels == 2 || !multichannel_);
    if (!useStereo && multichannel_) {
        multichannel_(out, frames, channels);
        return;
    }
    if (!stereo_) return;
    for (int done = 0; done < frames;) {
        const int n = std::min(kStereoChunk, frames - done);
        stereo_(left_.data(), right_.data(), n);
        for (int i = 0; i < n; ++i) {
            float* frame = out + static_cast<size_t>(done + i) * channels;
            frame[0] = left_[i];
            if (channels > 1) frame[1] = right_[i];
        }
        done += n;
    }
}

void AudioOutput::Render(float* out, int frames) {
    const int channels = channels_;
    if (frames <= 0) return;  // nothing to render; the fractional position stays
    if (channels <= 0) return;
    if (ratio_ == 1.0) {
        RenderProject(out, frames);
    } else {
        // Linear interpolation through a small carry-over: frames rendered but not
        // yet passed stay for the next callback, so the timeline advances exactly
        // as fast as the device consumes it (no drift) and the phase of the
        // interpolation runs on across callbacks.
        for (int done = 0; done < frames;) {
            const int n = std::min(kConvertChunk, frames - done);
            const int need = static_cast<int>(std::floor(fraction_ + (n - 1) * ratio_)) + 2;
            if (need > convertHave_) {
                const int add = std::min(need, convertCapacity_) - convertHave_;
                RenderProject(convert_.data() + static_cast<size_t>(convertHave_) * channels, add);
                convertHave_ += add;
            }
            for (int i = 0; i < n; ++i) {
                const double x = fraction_ + i * ratio_;
                const int k = std::min(static_cast<int>(x), convertHave_ - 2);
                const float f = static_cast<float>(x - k);
                const float* a = convert_.data() + static_cast<size_t>(k) * channels;
                const float* b = a + channels;
                float* o = out + static_cast<size_t>(done + i) * channels;
                for (int c = 0; c < channels; ++c) o[c] = a[c] + (b[c] - a[c]) * f;
            }
            fraction_ += n * ratio_;
            const int drop = std::min(static_cast<int>(fraction_), convertHave_);
            if (drop > 0) {
                std::memmove(convert_.data(), convert_.data() + static_cast<size_t>(drop) * channels,
                             static_cast<size_t>(convertHave_ - drop) * channels * sizeof(float));
                convertHave_ -= drop;
                fraction_ -= drop;
            }
            done += n;
        }
    }

    const float gain = monitorGain_.load(std::memory_order_relaxed);
    if (gain != 1.0f)
        for (size_t i = 0, total = static_cast<size_t>(frames) * channels; i < total; ++i) out[i] *= gain;

    const int test = testChannel_.load(std::memory_order_relaxed);
    if (test >= 0 && test < channels) {
        const double step = kTwoPi * kTestToneHz / std::max(1, deviceRate_);
        for (int i = 0; i < frames; ++i) {
            float* frame = out + static_cast<size_t>(i) * channels;
            for (int c = 0; c < channels; ++c) frame[c] = 0.0f;
            frame[test] = kTestToneAmplitude * static_cast<float>(std::sin(tonePhase_));
            tonePhase_ += step;
            if (tonePhase_ >= kTwoPi) tonePhase_ -= kTwoPi;
        }
    }
}

}  // namespace morvane
