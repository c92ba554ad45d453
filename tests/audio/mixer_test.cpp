#include "audio/mixer.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "audio/allocation_counter.h"
#include "audio/audio_output.h"
#include "audio/mixer_meters.h"
#include "model/preferences.h"
#include "support/test_support.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

// A block of `seconds` of constant `value` (mono) starting at `start`.
RenderBlock ConstantBlock(float start, float seconds, float value, int channels = 1) {
    RenderBlock b;
    b.start = start;
    b.duration = seconds;
    auto audio = std::make_shared<BlockAudio>();
    audio->channels.assign(channels, std::vector<float>(static_cast<size_t>(seconds * kRate) + 1, value));
    b.audio = audio;
    b.envelope.assign(kEnvelopePoints, value);
    return b;
}

RenderBlock SineBlock(float start, float seconds, float freq, float amplitude) {
    RenderBlock b = ConstantBlock(start, seconds, 0.0f);
    auto audio = std::make_shared<BlockAudio>();
    audio->channels.assign(1, std::vector<float>(static_cast<size_t>(seconds * kRate) + 1));
    for (size_t i = 0; i < audio->channels[0].size(); ++i)
        audio->channels[0][i] = amplitude * std::sin(2.0 * 3.14159265358979 * freq * i / kRate);
    b.audio = audio;
    return b;
}

// Renders `seconds` of the mix from time 0 and returns the left channel.
std::vector<float> Render(RenderCache& cache, double seconds, std::vector<float>* right = nullptr) {
    const int total = static_cast<int>(seconds * kRate);
    std::vector<float> left(total), r(total);
    for (int done = 0; done < total; done += 512) {
        const int n = std::min(512, total - done);
        MixStereo(cache, left.data() + done, r.data() + done, n);
    }
    if (right) *right = r;
    return left;
}

float ValueAt(const std::vector<float>& v, double seconds) { return v[static_cast<size_t>(seconds * kRate)]; }

TEST(Mixer, FadesFollowTheirLimitsAndShapes) {
    RenderBlock b = ConstantBlock(0, 2.0f, 1.0f);
    BlockFades f = ComputeBlockFades(b);  // nothing stored
    EXPECT_FLOAT_EQ(f.fadeIn, 0.04f);
    EXPECT_FLOAT_EQ(f.fadeOut, 0.05f);
    b.fadeIn = 0.001f;
    f = ComputeBlockFades(b);
    EXPECT_FLOAT_EQ(f.fadeIn, 0.015f);
    b.isClip = true;  // Clips keep short attacks
    EXPECT_FLOAT_EQ(ComputeBlockFades(b).fadeIn, 0.0015f);
    b.isClip = false;
    b.fadeIn = 5.0f;
    EXPECT_FLOAT_EQ(ComputeBlockFades(b).fadeIn, 0.9f);  // 45 % of the block

    // A 20 ms block: both fades together take 18 ms.
    b = ConstantBlock(0, 0.02f, 1.0f);
    f = ComputeBlockFades(b);
    EXPECT_NEAR(f.fadeIn + f.fadeOut, 0.018f, 1e-6f);

    // Fade-in rises from silence to unity without overshooting much; fade-out is r^4.
    EXPECT_FLOAT_EQ(FadeInGain(0.0f, 0.1f), 0.0f);
    EXPECT_FLOAT_EQ(FadeInGain(0.1f, 0.1f), 1.0f);
    float previous = 0.0f;
    for (int i = 1; i <= 100; ++i) {
        const float g = FadeInGain(0.001f * i, 0.1f);
        EXPECT_LE(g, 1.01f);
        if (i <= 85) {
            EXPECT_GT(g, previous);
        }
        previous = g;
    }
    EXPECT_NEAR(FadeOutGain(1.95f, 2.0f, 0.1f), 0.0625f, 1e-5f);  // r = 0.5
    EXPECT_FLOAT_EQ(FadeOutGain(1.0f, 2.0f, 0.1f), 1.0f);
    EXPECT_FLOAT_EQ(FadeOutGain(2.0f, 2.0f, 0.1f), 0.0f);

    // Soft limiter: untouched below 0.84, never above -1 dBFS.
    EXPECT_FLOAT_EQ(SoftLimit(0.5f), 0.5f);
    EXPECT_FLOAT_EQ(SoftLimit(-0.84f), -0.84f);
    EXPECT_NEAR(SoftLimit(1.5f), 0.891f, 1e-3f);
    EXPECT_NEAR(SoftLimit(-100.0f), -0.891f, 1e-3f);
    EXPECT_LT(SoftLimit(1e9f), 0.8911f);
}

TEST(Mixer, BlocksSoundWithTheirGainsCurvesAndFades) {
    RenderCache cache;
    RenderBlock plain = ConstantBlock(0.5f, 1.0f, 0.5f);
    plain.group = 1;
    AppendBlock(cache, plain);
    const float groups[3] = {1.0f, 0.5f, 1.0f};
    SetMixGains(cache, 0.8f, groups);
    StartPlayback(cache, 0.0);
    std::vector<float> right;
    std::vector<float> left = Render(cache, 2.0, &right);

    EXPECT_EQ(ValueAt(left, 0.25), 0.0f);  // before the block
    EXPECT_NEAR(ValueAt(left, 1.0), 0.5f * 0.5f * 0.8f, 1e-4f);  // block x group x master
    EXPECT_NEAR(ValueAt(right, 1.0), ValueAt(left, 1.0), 1e-6f);  // mono to both sides
    EXPECT_LT(ValueAt(left, 0.5 + 0.01), ValueAt(left, 1.0) * 0.9f);  // still fading in
    EXPECT_LT(ValueAt(left, 1.5 - 0.01), ValueAt(left, 1.0) * 0.1f);  // near the end of the fade-out
    EXPECT_EQ(ValueAt(left, 1.75), 0.0f);
    // No step anywhere: a click is a jump between neighbouring samples.
    for (size_t i = 1; i < left.size(); ++i) ASSERT_LT(std::fabs(left[i] - left[i - 1]), 0.01f) << i;

    // The intensity curve shapes a layer that follows it, with its 0.3 floor.
    RenderCache shaped;
    RenderBlock b = ConstantBlock(0.0f, 2.0f, 0.5f);
    b.followsIntensity = true;
    for (int i = 0; i < kCurvePoints; ++i) b.intensity[i] = i < kCurvePoints / 2 ? 0.0f : 1.0f;
    AppendBlock(shaped, b);
    b.start = 3.0f;
    b.noFloor = true;
    AppendBlock(shaped, b);
    StartPlayback(shaped, 0.0);
    left = Render(shaped, 5.0);
    EXPECT_NEAR(ValueAt(left, 0.5), 0.5f * 0.3f, 1e-4f);
    EXPECT_NEAR(ValueAt(left, 1.5), 0.5f, 1e-4f);
    EXPECT_NEAR(ValueAt(left, 3.5), 0.0f, 1e-6f);

    // Fill and deconfliction curves multiply in; the latter only while deconfliction is on.
    RenderCache curves;
    b = ConstantBlock(0.0f, 1.0f, 0.5f);
    b.hasFillGain = true;
    b.fillGain.fill(0.5f);
    b.hasDeconGain = true;
    b.deconGain.fill(0.5f);
    b.deconOffset = 1.0f;
    AppendBlock(curves, b);
    StartPlayback(curves, 0.0);
    left = Render(curves, 2.5);
    EXPECT_NEAR(ValueAt(left, 1.5), 0.5f * 0.25f, 1e-4f);  // moved by its deconfliction offset
    curves.mixer.settings.deconfliction = false;
    StartPlayback(curves, 0.0);
    left = Render(curves, 2.5);
    EXPECT_NEAR(ValueAt(left, 0.5), 0.5f * 0.5f, 1e-4f);
    EXPECT_EQ(ValueAt(left, 1.5), 0.0f);
}

TEST(Mixer, SoloMuteStopAndLimiter) {
    RenderCache cache;
    AppendBlock(cache, ConstantBlock(0.0f, 4.0f, 0.2f));
    RenderBlock muted = ConstantBlock(0.0f, 4.0f, 0.3f);
    muted.muted = true;
    AppendBlock(cache, muted);
    StartPlayback(cache, 0.0);
    EXPECT_NEAR(ValueAt(Render(cache, 1.0), 0.5), 0.2f, 1e-4f);

    cache.mixer.settings.soloBlock = 1;  // a soloed block plays even when muted, alone
    StartPlayback(cache, 0.0);
    EXPECT_NEAR(ValueAt(Render(cache, 1.0), 0.5), 0.3f, 1e-4f);
    cache.mixer.settings.soloBlock = -1;

    // Three loud blocks together stay under -1 dBFS.
    RenderCache loud;
    for (int i = 0; i < 3; ++i) AppendBlock(loud, ConstantBlock(0.0f, 2.0f, 0.5f));
    StartPlayback(loud, 0.0);
    std::vector<float> left = Render(loud, 1.0);
    EXPECT_NEAR(ValueAt(left, 0.5), 0.84f + 0.051f * std::tanh((1.5f - 0.84f) * 10.0f), 1e-4f);
    for (float v : left) ASSERT_LE(v, 0.8911f);

    // Stopping: the output falls to silence within about 6 ms, without a step.
    RenderCache stopping;
    AppendBlock(stopping, ConstantBlock(0.0f, 10.0f, 0.5f));
    StartPlayback(stopping, 0.0);
    std::vector<float> l(512), r(512);
    for (int i = 0; i < 20; ++i) MixStereo(stopping, l.data(), r.data(), 512);
    StopPlayback(stopping);
    const int64_t stoppedAt = stopping.mixer.transport.playPosition.load();
    MixStereo(stopping, l.data(), r.data(), 512);
    EXPECT_NEAR(l[0], 0.5f, 0.01f);
    for (int i = 1; i < 512; ++i) ASSERT_LE(l[i], l[i - 1] + 1e-6f);
    EXPECT_EQ(l[300], 0.0f);  // 288 frames = 6 ms
    EXPECT_EQ(stopping.mixer.transport.playPosition.load(), stoppedAt);
    MixStereo(stopping, l.data(), r.data(), 512);
    for (float v : l) ASSERT_EQ(v, 0.0f);
}

// Adds 0.25 to both sides and notes the video time it was asked for.
void AddReference(void* user, float* left, float* right, int frames, double videoTime, int) {
    static_cast<std::vector<double>*>(user)->push_back(videoTime);
    for (int i = 0; i < frames; ++i) {
        left[i] += 0.25f;
        right[i] += 0.25f;
    }
}

TEST(Mixer, TheVideosSoundPlaysWhileTheTransportMovesRenderedOrNot) {
    RenderCache cache;
    AppendBlock(cache, ConstantBlock(0.0f, 10.0f, 0.2f));
    std::vector<double> asked;
    SetReferenceAudio(cache, AddReference, &asked);
    // Before the blocks are confirmed (nothing rendered yet): the video's sound alone,
    // following the moving transport.
    cache.mixer.settings.blocksSilent = true;
    StartPlayback(cache, 1.0);
    std::vector<float> left = Render(cache, 0.5);
    EXPECT_NEAR(ValueAt(left, 0.25), 0.25f, 1e-4f);
    ASSERT_GE(asked.size(), 2u);
    EXPECT_NEAR(asked.front(), 1.0, 1e-6);
    EXPECT_GT(asked.back(), asked.front());
    EXPECT_NEAR(cache.mixer.transport.playPosition.load() / static_cast<double>(kRate), 1.5, 0.01);
    // The blocks join in under it once they are.
    cache.mixer.settings.blocksSilent = false;
    left = Render(cache, 0.5);
    EXPECT_NEAR(ValueAt(left, 0.25), 0.45f, 1e-3f);
    // Stopped, the video's sound stops at once: the level ramp does not repeat its buffer.
    StopPlayback(cache);
    asked.clear();
    left = Render(cache, 0.2);
    EXPECT_TRUE(asked.empty());
    EXPECT_LT(ValueAt(left, 0.1), 0.01f);
    SetReferenceAudio(cache, nullptr, nullptr);
}

TEST(Mixer, ReverbTailOutlivesTheStopAndClearsAfterARebuild) {
    RenderCache cache;
    RenderBlock b = ConstantBlock(0.0f, 1.0f, 0.0f);
    b.audio = SineBlock(0.0f, 1.0f, 500.0f, 0.5f).audio;
    b.reverbSend = 1.0f;
    AppendBlock(cache, b);
    ReverbSettings rv;
    rv.enabled = true;
    rv.decay = 0.5f;
    SetReverbSettings(cache, rv);
    StartPlayback(cache, 0.5);
    std::vector<float> l(512), r(512);
    for (int i = 0; i < 40; ++i) MixStereo(cache, l.data(), r.data(), 512);
    StopPlayback(cache);
    for (int i = 0; i < 4; ++i) MixStereo(cache, l.data(), r.data(), 512);
    float tail = 0.0f;
    for (float v : l) tail = std::max(tail, std::fabs(v));
    EXPECT_GT(tail, 1e-3f);  // the dry sound is gone, the room still rings

    ResetPlaybackAfterRebuild(cache, 0.0);
    MixStereo(cache, l.data(), r.data(), 512);
    for (float v : l) ASSERT_EQ(v, 0.0f);
}

TEST(Mixer, BusyCacheCountsADropoutAndNeverWaits) {
    RenderCache cache;
    AppendBlock(cache, ConstantBlock(0.0f, 4.0f, 0.4f));
    StartPreview(cache, std::vector<float>(2400, 0.1f), 24000, 1.0f);  // 0.1 s
    StartPlayback(cache, 1.0);
    std::vector<float> l(512), r(512);
    {
        CacheGuard rebuild(cache);  // a rebuild replacing blocks
        std::thread audio([&] { MixStereo(cache, l.data(), r.data(), 512); });
        audio.join();
    }
    EXPECT_EQ(cache.mixer.counters.dropouts.load(), 1u);
    EXPECT_EQ(cache.mixer.counters.buffersMixed.load(), 1u);
    EXPECT_FLOAT_EQ(l[100], 0.1f);  // the preview alone
    EXPECT_EQ(cache.mixer.transport.playPosition.load(), 48000 + 512);  // the clock runs on

    // The preview plays its length at the project rate and ends.
    StopPlayback(cache);
    for (int i = 0; i < 10; ++i) MixStereo(cache, l.data(), r.data(), 512);
    EXPECT_FALSE(PreviewPlaying(cache));
}

TEST(Mixer, MixingNeverAllocatesOnTheAudioThread) {
    RenderCache cache;
    for (int i = 0; i < 50; ++i) {
        RenderBlock b = ConstantBlock(0.1f * i, 1.5f, 0.01f, 1 + i % 2);
        b.spatialMode = i % 3;
        b.spatialAmount = 0.8f;
        b.followsIntensity = i % 2;
        b.reverbSend = 0.3f;
        AppendBlock(cache, b);
    }
    ReverbSettings rv;
    rv.enabled = true;
    SetReverbSettings(cache, rv);
    SetMetersEnabled(cache, true);  // the strips' meters are measured in the same buffers
    SetReferenceAudio(cache, [](void*, float* l, float* r, int n, double, int) {
        for (int i = 0; i < n; ++i) l[i] += r[i] += 0.01f;
    }, nullptr);
    StartPreview(cache, std::vector<float>(48000, 0.01f), 44100, 1.0f);
    StartPlayback(cache, 0.0);
    std::vector<float> l(512), r(512), multi(512 * 12), device(2 * 1200);
    // The device callback converting a 48 kHz project for a 44.1 kHz device.
    AudioOutput output;
    output.ConfigureWithoutDevice([&](float* a, float* b, int n) { MixStereo(cache, a, b, n); }, nullptr, 48000,
                                  44100, 2);
    test::ResetCountedAllocations();
    std::thread audio([&] {
        test::CountAllocationsHere counting;
        for (int i = 0; i < 600; ++i) MixStereo(cache, l.data(), r.data(), 512);
        for (int i = 0; i < 1000; ++i) output.Render(device.data(), i % 2 ? 512 : 1200);
        cache.mixer.settings.monitorLayout = kMonitor714;
        for (int i = 0; i < 200; ++i) MixMultichannel(cache, multi.data(), 512, 12);
        cache.mixer.settings.monitorBinaural = true;
        for (int i = 0; i < 200; ++i) MixMultichannel(cache, multi.data(), 512, 2);
    });
    audio.join();
    EXPECT_EQ(test::CountedAllocations(), 0u);
}

// Plays `seconds` and reads every strip's meter once at the end, as the window does
// (the displays keep their peak hold from reading to reading).
std::array<MeterDisplay, kMeterStripCount> PlayAndRead(RenderCache& cache, double seconds, double now) {
    static std::array<MeterDisplay, kMeterStripCount> shown{};
    Render(cache, seconds);
    for (int s = 0; s < kMeterStripCount; ++s) ReadMeter(cache.mixer.meters, s, now, shown[s]);
    return shown;
}

TEST(Mixer, StripsMeterTheirOwnSoundAndObeyMuteAndSolo) {
    RenderCache cache;
    RenderBlock a = ConstantBlock(0.0f, 6.0f, 0.1f);  // group 0
    RenderBlock b = ConstantBlock(0.0f, 6.0f, 0.4f);  // group 2
    b.group = 2;
    AppendBlock(cache, a);
    AppendBlock(cache, b);
    // The video's sound: a constant 0.05 on both sides.
    SetReferenceAudio(cache, [](void*, float* l, float* r, int n, double, int) {
        for (int i = 0; i < n; ++i) {
            l[i] += 0.05f;
            r[i] += 0.05f;
        }
    }, nullptr);
    SetMetersEnabled(cache, true);
    StartPlayback(cache, 0.0);
    auto shown = PlayAndRead(cache, 1.5, 0.0);
    // Each strip shows its own level; the master shows the groups together.
    EXPECT_NEAR(shown[kStripGroup0].peak, 0.1f, 1e-3f);
    EXPECT_NEAR(shown[kStripGroup0].rms, 0.1f, 0.01f);
    EXPECT_FLOAT_EQ(shown[kStripGroup1].peak, 0.0f);
    EXPECT_NEAR(shown[kStripGroup2].peak, 0.4f, 0.005f);  // the fade-in's small overshoot
    EXPECT_NEAR(shown[kStripMaster].peak, 0.5f, 0.005f);
    EXPECT_NEAR(shown[kStripReference].peak, 0.05f, 1e-3f);
    EXPECT_NEAR(shown[kStripReference].rms, 0.05f, 0.005f);
    EXPECT_NEAR(shown[kStripMaster].hold, 0.5f, 0.005f);

    // A group's fader: its strip and the output drop by the same factor.
    const float half[kGroupCount] = {1.0f, 1.0f, 0.5f};
    SetMixGains(cache, 1.0f, half);
    shown = PlayAndRead(cache, 0.5, 0.5);
    EXPECT_NEAR(shown[kStripGroup2].peak, 0.2f, 1e-3f);
    EXPECT_NEAR(shown[kStripMaster].peak, 0.3f, 1e-3f);
    // The master's hold keeps the louder peak for a while, then lets go.
    EXPECT_NEAR(shown[kStripMaster].hold, 0.5f, 0.005f);
    MeterDisplay later = shown[kStripMaster];
    Render(cache, 0.1);
    ReadMeter(cache.mixer.meters, kStripMaster, 0.5 + kPeakHoldSeconds + 0.1, later);
    EXPECT_NEAR(later.hold, 0.3f, 1e-3f);

    // Solo on group 0: group 2 and the video's sound fall silent, and the output
    // carries group 0 alone; muting group 0 too leaves nothing.
    SetStripSwitches(cache, 0, StripBit(kStripGroup0));
    std::vector<float> left = Render(cache, 0.5);
    EXPECT_NEAR(left.back(), 0.1f, 1e-4f);
    SetStripSwitches(cache, StripBit(kStripGroup0), StripBit(kStripGroup0));
    left = Render(cache, 0.5);
    EXPECT_NEAR(left.back(), 0.0f, 1e-6f);
    // A muted video strip leaves the groups alone; a muted master leaves the video's sound.
    SetStripSwitches(cache, StripBit(kStripReference), 0);
    left = Render(cache, 0.5);
    EXPECT_NEAR(left.back(), 0.3f, 1e-4f);
    SetStripSwitches(cache, StripBit(kStripMaster), 0);
    left = Render(cache, 0.5);
    EXPECT_NEAR(left.back(), 0.05f, 1e-4f);
    SetStripSwitches(cache, 0, 0);

    // Stopped, the meters come to rest (the first reading still has the stop's fade).
    StopPlayback(cache);
    PlayAndRead(cache, 0.05, 9.0);
    shown = PlayAndRead(cache, 1.0, 10.0);
    for (int s = 0; s < kMeterStripCount; ++s) {
        EXPECT_LT(shown[s].rms, 1e-3f) << "strip " << s;
        EXPECT_LT(shown[s].peak, 1e-3f) << "strip " << s;
    }

    // Meters off: nothing is measured.
    SetMetersEnabled(cache, false);
    StartPlayback(cache, 0.0);
    shown = PlayAndRead(cache, 0.5, 20.0);
    EXPECT_FLOAT_EQ(shown[kStripMaster].peak, 0.0f);
    EXPECT_FLOAT_EQ(shown[kStripGroup0].peak, 0.0f);
}

TEST(Mixer, ReverbMacroTurnsARoomIntoAHall) {
    ReverbSettings room;
    room.diffusion = 0.3f;
    room.modulation = 0.7f;
    ReverbSettings hall = room;
    ApplyReverbMacro(room, 0.0f);
    ApplyReverbMacro(hall, 1.0f);
    const auto asParameters = [](const ReverbSettings& r) {
        ReverbParameters p;
        p.size = r.size;
        p.decay = r.decay;
        p.damping = r.damping;
        p.preDelay = r.preDelay;
        p.diffusion = r.diffusion;
        p.modulation = r.modulation;
        return p;
    };
    const ReverbTargets small = ComputeReverbTargets(asParameters(room), kRate);
    const ReverbTargets large = ComputeReverbTargets(asParameters(hall), kRate);
    // The hall rings longer, from farther walls, after a longer gap, and darker.
    EXPECT_GT(large.t60, small.t60 + 5.0f);
    EXPECT_GT(large.baseDelayMs, 2.0f * small.baseDelayMs);
    EXPECT_GT(large.preDelay, small.preDelay);
    EXPECT_LT(large.damping1, small.damping1);
    // Density and Mod stay the user's; the macro itself is kept, and out-of-range
    // values are brought back into it.
    EXPECT_EQ(hall.diffusion, 0.3f);
    EXPECT_EQ(hall.modulation, 0.7f);
    EXPECT_EQ(hall.macro, 1.0f);
    ApplyReverbMacro(hall, 7.0f);
    EXPECT_EQ(hall.macro, 1.0f);
    ApplyReverbMacro(hall, std::nanf(""));
    EXPECT_EQ(hall.macro, 0.5f);
}

TEST(Mixer, MultichannelOutputFollowsTheRouting) {
    RenderCache cache;
    RenderBlock b = ConstantBlock(0.0f, 2.0f, 0.25f, 2);
    b.stereoPair = true;
    b.audio = std::make_shared<BlockAudio>(BlockAudio{{std::vector<float>(kRate * 2, 0.25f), std::vector<float>(kRate * 2, 0.0f)}});
    AppendBlock(cache, b);
    Preferences prefs;
    prefs.channelMaps["stereo"] = {3, 2};
    SetMonitoring(cache, prefs);
    StartPlayback(cache, 0.5);
    std::vector<float> out(512 * 4);
    MixMultichannel(cache, out.data(), 512, 4);
    EXPECT_NEAR(out[400 * 4 + 3], 0.25f, 1e-4f);  // left on channel 3 (after the 6 ms start ramp)
    EXPECT_EQ(out[400 * 4 + 2], 0.0f);             // right (silent) on channel 2
    EXPECT_EQ(out[400 * 4 + 0], 0.0f);

    // 5.1 monitoring: the left channel of the pair is loudest on the L speaker.
    prefs.monitorLayout = kMonitor51;
    prefs.channelMaps.clear();
    SetMonitoring(cache, prefs);
    std::vector<float> six(512 * 6);
    double energy[6] = {};
    for (int k = 0; k < 8; ++k) {
        MixMultichannel(cache, six.data(), 512, 6);
        for (int i = 0; i < 512; ++i)
            for (int c = 0; c < 6; ++c) energy[c] += six[i * 6 + c] * six[i * 6 + c];
    }
    for (int c = 1; c < 6; ++c) EXPECT_GT(energy[0], energy[c]) << c;
    EXPECT_EQ(energy[3], 0.0);
}

TEST(Mixer, RateConverterKeepsTimeAcrossCallbacks) {
    // A 48 kHz project on a 44.1 kHz device: the timeline advances exactly as fast
    // as the device plays, and a steady tone stays a steady tone.
    RenderCache cache;
    AppendBlock(cache, SineBlock(0.0f, 40.0f, 1000.0f, 0.5f));
    StartPlayback(cache, 0.0);
    AudioOutput out;
    out.ConfigureWithoutDevice([&](float* l, float* r, int n) { MixStereo(cache, l, r, n); }, nullptr, 48000,
                               44100, 2);
    std::vector<float> buffer(2 * 1024);
    const int sizes[] = {512, 441, 1024, 7, 0, 300};
    int64_t deviceFrames = 0;
    std::vector<float> tail;
    for (int i = 0; i < 3000; ++i) {  // about half a minute of device time
        const int n = sizes[i % 6];
        out.Render(buffer.data(), n);
        deviceFrames += n;
        if (i >= 2990)
            for (int k = 0; k < n; ++k) tail.push_back(buffer[2 * k]);
    }
    const double expected = deviceFrames * 48000.0 / 44100.0;
    EXPECT_NEAR(static_cast<double>(cache.mixer.transport.playPosition.load()), expected, 3.0);
    EXPECT_NEAR(static_cast<double>(out.ProjectFramesRendered()), expected, 3.0);
    // Phase continuity: a 1 kHz tone at 44.1 kHz never jumps by more than one step.
    const float maxStep = 0.5f * 2.0f * 3.14159265f * 1000.0f / 44100.0f * 1.05f;
    for (size_t i = 1; i < tail.size(); ++i) ASSERT_LT(std::fabs(tail[i] - tail[i - 1]), maxStep) << i;
}

TEST(Mixer, DiagnosticsLogOncePerSecond) {
    test::ScopedHome home;
    RenderCache cache;
    EXPECT_FALSE(WriteAudioDiagnostics(cache, 1'000'000'000));  // first call only starts
    cache.mixer.counters.buffersMixed = 90;
    cache.mixer.counters.dropouts = 10;
    EXPECT_FALSE(WriteAudioDiagnostics(cache, 1'500'000'000));  // less than a second
    EXPECT_TRUE(WriteAudioDiagnostics(cache, 2'250'000'000));
    EXPECT_FALSE(WriteAudioDiagnostics(cache, 3'500'000'000));  // nothing happened since
    const std::string text = test::ReadFile(home.dir.path / "Morvane_audio_diag.log");
    EXPECT_EQ(text,
              "t=1.25s buffers=90 dropouts=10 (10.00%) restores=0 evictPass[last=0.00ms max=0.00ms] "
              "pendingRestores=0\n");
}

}  // namespace
}  // namespace morvane
