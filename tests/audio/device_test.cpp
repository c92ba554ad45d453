// Plays through a real sound server: a private PulseAudio daemon with a null sink,
// recorded back from the sink's monitor.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "audio/allocation_counter.h"
#include "audio/audio_output.h"
#include "audio/mixer.h"
#include "support/test_support.h"

// RtAudio's PulseAudio back end does not free its stream handle when opening a
// stream fails (no server), and libpulse keeps a few bytes of its own; neither is
// ours to fix, so the leak checker is told to look away from them only.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:RtApiPulse::probeDeviceOpen\nleak:libpulse.so\n";
}

namespace morvane {
namespace {

constexpr const char* kSink = "morvanetest";

bool ProgramOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const std::string dir = list.substr(start, end - start);
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A PulseAudio daemon of our own, in a private runtime folder, with one null sink.
struct PrivateSoundServer {
    explicit PrivateSoundServer(const std::filesystem::path& root) {
        runtime = root / "pulse";
        std::filesystem::create_directories(runtime);
        std::filesystem::create_directories(root / "state");
        chmod(runtime.c_str(), 0700);
        const std::string config = (root / "client.conf").string();
        test::WriteFile(config, "autospawn = no\n");
        setenv("PULSE_RUNTIME_PATH", runtime.c_str(), 1);
        setenv("PULSE_STATE_PATH", (root / "state").c_str(), 1);
        setenv("PULSE_CLIENTCONFIG", config.c_str(), 1);
        // Clients talk to this daemon only, and never start one of their own.
        setenv("PULSE_SERVER", ("unix:" + (runtime / "native").string()).c_str(), 1);
    }
    bool Start() {
        const std::string command = std::string("pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 -n ") +
                                    "--load=\"module-null-sink sink_name=" + kSink + "\" " +
                                    "--load=module-native-protocol-unix >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return false;
        for (int i = 0; i < 100; ++i) {  // wait for the socket, at most 5 s
            if (std::filesystem::exists(runtime / "native")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    void Kill() { std::system("pulseaudio --kill >/dev/null 2>&1"); }
    ~PrivateSoundServer() {
        Kill();
        for (const char* name : {"PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "PULSE_CLIENTCONFIG", "PULSE_SERVER"})
            unsetenv(name);
    }
    std::filesystem::path runtime;
};

// Records `seconds` of the sink's monitor (stereo float at 48 kHz).
std::vector<float> RecordMonitor(double seconds) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        const std::string device = std::string(kSink) + ".monitor";
        execlp("parec", "parec", "-d", device.c_str(), "--format=float32le", "--rate=48000", "--channels=2",
               "--latency-msec=20", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::vector<float> samples(static_cast<size_t>(seconds * 48000) * 2);
    char* bytes = reinterpret_cast<char*>(samples.data());
    size_t wanted = samples.size() * sizeof(float), got = 0;
    while (got < wanted) {
        const ssize_t n = read(fds[0], bytes + got, wanted - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    kill(pid, SIGTERM);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    samples.resize(got / sizeof(float));
    return samples;
}

RenderBlock ToneBlock(double seconds, double freq, float amplitude) {
    RenderBlock b;
    b.start = 0.0f;
    b.duration = static_cast<float>(seconds);
    auto audio = std::make_shared<BlockAudio>();
    audio->channels.assign(1, std::vector<float>(static_cast<size_t>(seconds * 48000)));
    for (size_t i = 0; i < audio->channels[0].size(); ++i)
        audio->channels[0][i] = amplitude * static_cast<float>(std::sin(2.0 * 3.141592653589793 * freq * i / 48000.0));
    b.audio = audio;
    b.envelope.assign(kEnvelopePoints, amplitude);
    return b;
}

TEST(AudioDevice, PlaysThroughASoundServerAndCarriesOnWithoutOne) {
    if (!ProgramOnPath("pulseaudio") || !ProgramOnPath("parec"))
        GTEST_SKIP() << "PulseAudio (pulseaudio, parec) is not installed";
    test::ScopedHome home;
    PrivateSoundServer server(home.dir.path);
    ASSERT_TRUE(server.Start()) << "the private PulseAudio daemon did not start";

    RenderCache cache;
    AppendBlock(cache, ToneBlock(8.0, 997.0, 0.5f));
    StartPlayback(cache, 0.0);
    std::atomic<int> callbacks{0};
    test::ResetCountedAllocations();
    AudioOutput output;
    const bool opened = output.Open(
        [&](float* l, float* r, int n) {
            test::SetCountAllocations(true);  // only our part of the audio thread is watched
            MixStereo(cache, l, r, n);
            test::SetCountAllocations(false);
            callbacks.fetch_add(1);
        },
        [&](float* out, int n, int channels) {
            test::SetCountAllocations(true);
            MixMultichannel(cache, out, n, channels);
            test::SetCountAllocations(false);
            callbacks.fetch_add(1);
        },
        48000, 2);
    ASSERT_TRUE(opened) << output.StatusText();
    EXPECT_EQ(output.StatusText(), "");
    EXPECT_EQ(output.DeviceRate(), 48000);
    EXPECT_EQ(output.Channels(), 2);
    // The server may hold a new stream before it takes buffers at its pace; the
    // output says when it does, and the play position has moved by then.
    for (int i = 0; i < 100 && !output.Flowing(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(output.Flowing());
    EXPECT_GT(cache.mixer.transport.playPosition.load(), 0);
    // The queue the server took, which is what the listener is behind: some, and no more
    // than was asked (the first requests fill it, then each waits its turn).
    EXPECT_GE(output.LatencyFrames(), kAudioBufferFrames);
    EXPECT_LE(output.LatencyFrames(), kAudioQueueBuffers * kAudioBufferFrames);

    const std::vector<float> recorded = RecordMonitor(1.6);
    ASSERT_GE(recorded.size(), static_cast<size_t>(1.5 * 48000 * 2));
    // Skip the first 0.4 s (stream start-up), measure one second.
    const size_t from = static_cast<size_t>(0.4 * 48000), frames = 48000;
    double sumL = 0.0, sumR = 0.0;
    int crossings = 0;
    for (size_t i = from; i < from + frames; ++i) {
        const float l = recorded[2 * i], r = recorded[2 * i + 1];
        sumL += l * l;
        sumR += r * r;
        if ((recorded[2 * (i - 1)] < 0.0f) != (l < 0.0f)) ++crossings;
    }
    const double frequency = crossings / 2.0;
    const double rmsL = std::sqrt(sumL / frames), rmsR = std::sqrt(sumR / frames);
    std::printf("[  MEASURE ] tone %.1f Hz, level L %.4f R %.4f (%.2f dBFS), %d callbacks\n", frequency, rmsL, rmsR,
                20.0 * std::log10(rmsL * std::sqrt(2.0)), callbacks.load());
    EXPECT_NEAR(frequency, 997.0, 3.0);
    EXPECT_NEAR(rmsL, 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(rmsR, rmsL, 0.005);
    EXPECT_GT(callbacks.load(), 50);
    EXPECT_EQ(test::CountedAllocations(), 0u);
    EXPECT_EQ(cache.mixer.counters.dropouts.load(), 0u);

    // The server goes away while playing: the loss is noticed and reported.
    server.Kill();
    for (int i = 0; i < 60 && output.StatusText().empty(); ++i) {  // once per "frame", at most 3 s
        output.CheckDevice();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(output.StatusText(), kStatusDeviceLost);
    EXPECT_FALSE(output.IsOpen());
    EXPECT_FALSE(output.Flowing());

    // No sound server at all: the program says so and runs on silently.
    AudioOutput silent;
    EXPECT_FALSE(silent.Open([&](float* l, float* r, int n) { MixStereo(cache, l, r, n); }, nullptr, 48000, 2));
    EXPECT_EQ(silent.StatusText(), "Could not open audio device");
    EXPECT_FALSE(silent.IsOpen());
    silent.CheckDevice();  // harmless on a closed output
    std::vector<float> l(512), r(512);
    MixStereo(cache, l.data(), r.data(), 512);  // the mixer still works for export and meters
}

}  // namespace
}  // namespace morvane
