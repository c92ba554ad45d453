// The single-sideband frequency shift: where tones land, their level, low tones,
// long layers across many blocks, channels treated alike, and its use by the
// layer render under the project's intensity.
#include "audio/frequency_shift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "audio/layer_render.h"
#include "engine/scale.h"
#include "library/fft.h"
#include "render_fixtures.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

std::vector<float> Sine(double hz, double seconds, double amplitude = 0.5, int rate = kRate) {
    std::vector<float> x(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / rate));
    return x;
}

// Magnitude spectrum of 65536 Hann-windowed samples from the middle of `x`.
std::vector<double> Spectrum(const std::vector<float>& x) {
    constexpr size_t n = 65536;
    std::vector<std::complex<double>> a(n);
    const size_t from = x.size() > n ? (x.size() - n) / 2 : 0;
    for (size_t i = 0; i < n && from + i < x.size(); ++i)
        a[i] = x[from + i] * (0.5 - 0.5 * std::cos(2.0 * kPi * i / n));
    Fft(a, false);
    std::vector<double> mag(n / 2);
    for (size_t i = 0; i < n / 2; ++i) mag[i] = std::abs(a[i]);
    return mag;
}

double BinHz(size_t bin) { return static_cast<double>(bin) * kRate / 65536.0; }

// The frequency of the strongest component, refined between bins.
double PeakHz(const std::vector<float>& x) {
    const std::vector<double> mag = Spectrum(x);
    size_t best = 1;
    for (size_t i = 1; i + 1 < mag.size(); ++i)
        if (mag[i] > mag[best]) best = i;
    const double l = mag[best - 1], c = mag[best], r = mag[best + 1];
    const double offset = 0.5 * (l - r) / (l - 2.0 * c + r);
    return BinHz(best) + offset * kRate / 65536.0;
}

// The strongest magnitude within `width` Hz of `hz`, in dB.
double LevelNearDb(const std::vector<float>& x, double hz, double width = 3.0) {
    const std::vector<double> mag = Spectrum(x);
    double best = 1e-30;
    for (size_t i = 0; i < mag.size(); ++i)
        if (std::fabs(BinHz(i) - hz) <= width) best = std::max(best, mag[i]);
    return 20.0 * std::log10(best);
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

TEST(FrequencyShift, TonesMoveByHertzAtTheirLevel) {
    // Up 25 Hz: 1 kHz becomes 1025 Hz at the same level, with no mirror image.
    const std::vector<float> tone = Sine(1000.0, 3.0);
    std::vector<float> up = tone;
    ShiftFrequency(up, 25.0f, kRate);
    EXPECT_NEAR(PeakHz(up), 1025.0, 0.5);
    const size_t edge = kRate / 4;  // leave out the edges, where the tone starts and stops
    EXPECT_NEAR(Db(test::Rms(up, edge, up.size() - edge) / test::Rms(tone, edge, tone.size() - edge)), 0.0, 0.3);
    EXPECT_LT(LevelNearDb(up, 975.0) - LevelNearDb(up, 1025.0), -60.0);

    // Low tones stay right: 100 Hz up 30 is 130 Hz, its image at 70 Hz far below.
    std::vector<float> low = Sine(100.0, 3.0);
    ShiftFrequency(low, 30.0f, kRate);
    EXPECT_NEAR(PeakHz(low), 130.0, 0.5);
    EXPECT_LT(LevelNearDb(low, 70.0) - LevelNearDb(low, 130.0), -50.0);

    // Down 40 Hz.
    std::vector<float> down = tone;
    ShiftFrequency(down, -40.0f, kRate);
    EXPECT_NEAR(PeakHz(down), 960.0, 0.5);
    EXPECT_NEAR(Db(test::Rms(down, edge, down.size() - edge) / test::Rms(tone, edge, tone.size() - edge)), 0.0, 0.3);

    // Another project rate: the shift is in hertz there too.
    std::vector<float> at96 = Sine(1000.0, 1.0, 0.5, 96000);
    ShiftFrequency(at96, 25.0f, 96000);
    double crossings = 0;
    for (size_t i = 1; i < at96.size(); ++i) crossings += (at96[i - 1] < 0.0f) != (at96[i] < 0.0f) ? 1 : 0;
    EXPECT_NEAR(crossings / 2.0, 1025.0, 2.0);

    // No shift: not a sample changes. Nor does a non-finite shift or an empty buffer fail.
    std::vector<float> same = tone;
    ShiftFrequency(same, 0.0f, kRate);
    EXPECT_EQ(same, tone);
    ShiftFrequency(same, std::nanf(""), kRate);
    EXPECT_EQ(same, tone);
    std::vector<float> empty;
    ShiftFrequency(empty, 10.0f, kRate);
    EXPECT_TRUE(empty.empty());
}

TEST(FrequencyShift, LongLayersKeepAnEvenLevelAndChannelsStayAlike) {
    // Twenty seconds run through many convolution blocks: a steady tone must come
    // out steady in every stretch of ten of its cycles (1000 frames at 480 Hz),
    // with no step or dip where blocks meet, and a round trip up and back down
    // gives the tone again.
    const std::vector<float> tone = Sine(440.0, 20.0, 0.4);
    std::vector<float> shifted = tone;
    ShiftFrequency(shifted, 40.0f, kRate);
    const double expected = 0.4 / std::sqrt(2.0);
    for (size_t at = kRate / 4; at + 1000 < shifted.size() - kRate / 4; at += 1000)
        ASSERT_NEAR(Db(test::Rms(shifted, at, at + 1000) / expected), 0.0, 0.05) << "at frame " << at;
    std::vector<float> back = shifted;
    ShiftFrequency(back, -40.0f, kRate);
    double error = 0.0;
    for (size_t i = kRate / 4; i < back.size() - kRate / 4; ++i) error = std::max(error, std::fabs(double(back[i]) - tone[i]));
    EXPECT_LT(error, 0.4 * 0.01);  // within -40 dB of the tone

    // A DC offset does not turn into a hum at the shift frequency.
    std::vector<float> offset(static_cast<size_t>(kRate), 0.2f);
    ShiftFrequency(offset, 30.0f, kRate);
    EXPECT_LT(test::Rms(offset, kRate / 4, kRate * 3 / 4), 0.002);

    // Stereo: both channels get the same shift and the same carrier, so a right
    // channel at half the left's level stays exactly that.
    std::vector<std::vector<float>> stereo{Sine(700.0, 2.0, 0.5), Sine(700.0, 2.0, 0.25)};
    ShiftFrequency(stereo, -22.0f, kRate);
    double worst = 0.0;
    for (size_t i = 0; i < stereo[0].size(); ++i) worst = std::max(worst, std::fabs(0.5 * stereo[0][i] - stereo[1][i]));
    EXPECT_LT(worst, 1e-6);
    EXPECT_NEAR(PeakHz(stereo[1]), 678.0, 0.5);
}

TEST(FrequencyShift, LayerRenderShiftsByTheProjectIntensityButNeverFills) {
    test::TempDir dir;
    const std::string path = test::SineFile(dir.path.string(), "tone", 1000.0, 4.0);
    LayerRenderContext ctx;
    ctx.sampleRate = kRate;
    ctx.normalize = false;
    // A layer's shift is drawn from its path and place, and the temporary folder's
    // name changes from run to run: take the first start that draws a clear shift.
    Layer layer = test::FileLayer("tone", path, 0.0f, 3.0f);
    for (int k = 0; k < 100 && std::fabs(LayerFrequencyShiftHz(layer, 100)) < 5.0f; ++k) layer.startTime += 0.01f;
    const float shiftHz = LayerFrequencyShiftHz(layer, 100);
    ASSERT_GE(std::fabs(shiftHz), 5.0f);

    RenderBlock plain, shifted, again;
    ctx.freqShiftIntensity = 0;
    ASSERT_TRUE(RenderLayerBlock(ctx, layer, 0, &plain));
    ctx.freqShiftIntensity = 100;
    ASSERT_TRUE(RenderLayerBlock(ctx, layer, 0, &shifted));
    ASSERT_TRUE(RenderLayerBlock(ctx, layer, 0, &again));
    EXPECT_NEAR(PeakHz(plain.audio->channels[0]), 1000.0, 0.5);
    EXPECT_NEAR(PeakHz(shifted.audio->channels[0]), 1000.0 + shiftHz, 0.5);
    EXPECT_EQ(shifted.audio->channels[0].size(), plain.audio->channels[0].size());
    EXPECT_EQ(shifted.audio->channels, again.audio->channels);  // the same layer, the same shift

    // The project's intensity reaches the render context.
    Project project;
    project.timeline.settings.freqShiftIntensity = 60;
    EXPECT_EQ(MakeLayerRenderContext(project, nullptr, 0).freqShiftIntensity, 60);

    // A fill's chunks must join, so fills are never shifted.
    Layer fill = test::FileLayer("hum", path, 0.0f, 2.0f);
    fill.procMode = ProcMode::Fill;
    fill.sourceDuration = 4.0f;
    RenderBlock fillPlain, fillAtFull;
    ctx.freqShiftIntensity = 0;
    ASSERT_TRUE(RenderLayerBlock(ctx, fill, 0, &fillPlain));
    ctx.freqShiftIntensity = 100;
    ASSERT_TRUE(RenderLayerBlock(ctx, fill, 0, &fillAtFull));
    EXPECT_EQ(fillPlain.audio->channels, fillAtFull.audio->channels);
}

}  // namespace
}  // namespace morvane
