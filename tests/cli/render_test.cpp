// morvane-cli render, run as a user would, on a small built project.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "library/sound_fixtures.h"
#include "model/project_file.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::CliRun;
using test::RunCli;

struct Wav {
    SF_INFO info{};
    std::vector<float> samples;
};

bool ReadWav(const std::string& path, Wav* wav) {
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav->info);
    if (file == nullptr) return false;
    wav->samples.resize(static_cast<size_t>(wav->info.frames * wav->info.channels));
    sf_readf_float(file, wav->samples.data(), wav->info.frames);
    sf_close(file);
    return true;
}

// Two events of loud tones driven into the limiter by the master gain.
Project LoudProject(const test::TempDir& dir) {
    test::SoundParams tone;
    tone.frames = 3 * 48000;
    tone.amplitude = 0.9;
    tone.frequency = 220.0;
    test::WriteSound(dir / "low.wav", tone);
    tone.frequency = 880.0;
    test::WriteSound(dir / "high.wav", tone);
    Project p;
    p.projectSampleRate = 48000;
    p.masterGain = 20.0f;  // layers are normalised to -24 LUFS; this takes them well past full scale
    p.timeline.settings.totalDuration = 4.0f;
    p.timeline.events.resize(2);
    p.timeline.built = true;
    Layer a;
    a.name = "low";
    a.filepath = dir / "low.wav";
    a.startTime = 0.5f;
    a.duration = 2.0f;
    Layer b = a;
    b.name = "high";
    b.filepath = dir / "high.wav";
    b.startTime = 1.0f;
    b.eventIdx = 1;
    p.timeline.results = {a, b};
    return p;
}

TEST(CliRender, BuiltProjectRendersToALimitedWavOfTheRange) {
    test::ScopedHome home;
    test::TempDir dir;
    ASSERT_TRUE(SaveProject(dir / "loud.mvproj", LoudProject(dir)));

    CliRun run = RunCli({"render", dir / "loud.mvproj", "--out", dir / "mix.wav", "--range", "0.5", "2.5"}, dir);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("Rendered 2 layers"), std::string::npos) << run.out;
    Wav wav;
    ASSERT_TRUE(ReadWav(dir / "mix.wav", &wav));
    EXPECT_EQ(wav.info.samplerate, 48000);
    EXPECT_EQ(wav.info.channels, 2);
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(wav.info.frames, 2 * 48000);  // exactly the range
    float peak = 0.0f;
    double sum = 0.0;
    for (float v : wav.samples) {
        peak = std::max(peak, std::fabs(v));
        sum += static_cast<double>(v) * v;
    }
    // The limiter holds every sample at or below 0.891 (-1 dBFS), however hot the mix.
    EXPECT_LE(peak, 0.8913f);
    EXPECT_GT(peak, 0.8f);
    EXPECT_GT(std::sqrt(sum / static_cast<double>(wav.samples.size())), 0.1);
    EXPECT_FALSE(std::filesystem::exists(dir / "mix.wav.partial"));

    // Without a range the whole timeline is rendered.
    run = RunCli({"render", dir / "loud.mvproj", "--out", dir / "all.wav"}, dir);
    ASSERT_EQ(run.code, 0) << run.err;
    ASSERT_TRUE(ReadWav(dir / "all.wav", &wav));
    EXPECT_EQ(wav.info.frames, 4 * 48000);
}

TEST(CliRender, FailuresLeaveTheOutputAlone) {
    test::ScopedHome home;
    test::TempDir dir;
    test::WriteFile(dir / "mix.wav", "previous take");
    Project unbuilt = LoudProject(dir);
    unbuilt.timeline.results.clear();
    unbuilt.timeline.built = false;
    ASSERT_TRUE(SaveProject(dir / "unbuilt.mvproj", unbuilt));

    CliRun run = RunCli({"render", dir / "unbuilt.mvproj", "--out", dir / "mix.wav"}, dir);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("has no built layers"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);  // one line
    run = RunCli({"render", dir / "missing.mvproj", "--out", dir / "mix.wav"}, dir);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(RunCli({"render", dir / "unbuilt.mvproj"}, dir).code, 2);  // no --out
    ASSERT_TRUE(SaveProject(dir / "loud.mvproj", LoudProject(dir)));
    EXPECT_EQ(RunCli({"render", dir / "loud.mvproj", "--out", dir / "mix.wav", "--range", "3", "1"}, dir).code, 2);
    EXPECT_EQ(RunCli({"render", dir / "loud.mvproj", "--out", dir / "mix.wav", "--range", "x", "1"}, dir).code, 2);
    // An output folder that does not exist: a clear failure, nothing written.
    run = RunCli({"render", dir / "loud.mvproj", "--out", dir / "no/such/folder/mix.wav"}, dir);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_EQ(test::ReadFile(dir / "mix.wav"), "previous take");

    CliRun help = RunCli({"render", "--help"}, dir);
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: morvane-cli render PROJECT --out FILE.wav [--range START END]"), std::string::npos);
}

}  // namespace
}  // namespace morvane
