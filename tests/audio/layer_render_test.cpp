// Rendering single layers into blocks: level, pitch, tuning, loudness, relink,
// missing files, fills, EQ and the alloy morph.
#include <gtest/gtest.h>

#include <filesystem>

#include "audio/alloy_morph.h"
#include "audio/fill_assembly.h"
#include "audio/five_band_eq.h"
#include "audio/layer_render.h"
#include "audio/pitch_detect.h"
#include "audio/segment_loader.h"
#include "engine/loudness.h"
#include "library/file_id.h"
#include "render_fixtures.h"
#include "support/test_support.h"

namespace morvane {
namespace {

constexpr int kRate = 48000;

LayerRenderContext PlainContext() {
    LayerRenderContext ctx;
    ctx.sampleRate = kRate;
    ctx.normalize = false;
    return ctx;
}

RenderBlock Render(const LayerRenderContext& ctx, Layer& layer) {
    RenderBlock block;
    EXPECT_TRUE(RenderLayerBlock(ctx, layer, 0, &block));
    return block;
}

const std::vector<float>& Samples(const RenderBlock& b, int channel = 0) { return b.audio->channels[channel]; }

TEST(LayerRender, WeightAndPitchShapeTheBlock) {
    test::TempDir dir;
    const std::string a440 = test::SineFile(dir.path.string(), "a440", 440.0, 3.0);
    LayerRenderContext ctx = PlainContext();

    Layer light = test::FileLayer("light", a440, 0.0f, 1.0f);
    light.weight = 0.5f;
    Layer heavy = light;
    heavy.weight = 0.9f;
    Layer between = light;
    between.weight = 0.775f;
    const float g = Render(ctx, light).baseGain;
    EXPECT_NEAR(Render(ctx, heavy).baseGain / g, 0.7f, 1e-4f);   // heavy layers lose 30 %
    EXPECT_NEAR(Render(ctx, between).baseGain / g, 0.85f, 1e-4f);

    // An octave up: half the frames, twice the frequency, same span of the file.
    Layer up = test::FileLayer("up", a440, 0.0f, 1.0f);
    up.pitchShift = 12.0f;
    const RenderBlock shifted = Render(ctx, up);
    EXPECT_EQ(Samples(shifted).size(), 48000u);  // 2 s of source, resampled to 1 s
    EXPECT_NEAR(test::CrossingFrequency(Samples(shifted), kRate), 880.0, 3.0);
    // A shift within 0.01 semitones is no shift at all.
    Layer tiny = test::FileLayer("tiny", a440, 0.0f, 1.0f);
    tiny.pitchShift = 0.005f;
    EXPECT_EQ(Samples(Render(ctx, tiny)).size(), 48000u);
    EXPECT_NEAR(test::CrossingFrequency(Samples(Render(ctx, tiny)), kRate), 440.0, 2.0);
}

TEST(LayerRender, LoudnessNormalisationMeetsTheGroupTargetUnderTheCeiling) {
    test::TempDir dir;
    LayerRenderContext ctx = PlainContext();
    ctx.normalize = true;
    ctx.groupTargetLUFS = {-24.0f, -30.0f, -24.0f};

    // A loud sine is brought down to its group's target.
    Layer loud = test::FileLayer("loud", test::SineFile(dir.path.string(), "loud", 1000.0, 2.0, 0.9), 0.0f, 1.5f);
    loud.group = 1;
    const RenderBlock block = Render(ctx, loud);
    std::vector<float> scaled = Samples(block);
    for (float& v : scaled) v *= loud.normGain;
    EXPECT_NEAR(MeasureLoudness(scaled.data(), nullptr, static_cast<int>(scaled.size()), kRate), -30.0f, 0.3f);
    EXPECT_NEAR(block.baseGain, loud.normGain, 1e-6f);  // the peak guard does not pull it further down

    // A quiet file: at most +18 dB, and never past -1 dBFS at its peak.
    Layer quiet = test::FileLayer("quiet", test::SineFile(dir.path.string(), "quiet", 1000.0, 2.0, 0.01), 0.0f, 1.5f);
    Render(ctx, quiet);
    EXPECT_NEAR(quiet.normGain, std::pow(10.0f, 18.0f / 20.0f), 0.01f);
    // A crest-heavy click: the ceiling wins over the loudness target.
    test::SoundParams click;
    click.frames = 96000;
    click.frequency = 0.0;
    const std::string clickPath = dir / "click.wav";
    test::WriteSound(clickPath, click);
    {
        SF_INFO info{};
        SNDFILE* f = sf_open(clickPath.c_str(), SFM_RDWR, &info);
        const float one[1] = {0.5f};
        sf_seek(f, 24000, SEEK_SET);
        sf_writef_float(f, one, 1);
        sf_close(f);
    }
    Layer spike = test::FileLayer("spike", clickPath, 0.0f, 1.5f);
    Render(ctx, spike);
    EXPECT_NEAR(spike.normGain, 0.891f / 0.5f, 1e-3f);

    // Silence is not normalised: the layer keeps what it had.
    Layer silent = test::FileLayer("silent", test::SineFile(dir.path.string(), "silent", 0.0, 2.0), 0.0f, 1.0f);
    silent.normGain = 0.75f;
    Render(ctx, silent);
    EXPECT_FLOAT_EQ(silent.normGain, 0.75f);
    // With normalisation off every layer plays at normGain 1.
    ctx.normalize = false;
    Render(ctx, loud);
    EXPECT_FLOAT_EQ(loud.normGain, 1.0f);
}

TEST(LayerRender, RelinkMissingFilesAndPlaceholders) {
    test::TempDir dir;
    const std::string original = test::SineFile(dir.path.string(), "door", 300.0, 2.0);
    std::filesystem::create_directories(dir.path / "moved");
    const std::string moved = (dir.path / "moved" / "door.wav").string();
    std::filesystem::rename(original, moved);

    // The library knows the file's identity under its new path.
    LayerRenderContext ctx = PlainContext();
    ctx.pathOfFileId["0123456789abcdef"] = moved;
    Layer layer = test::FileLayer("door", original, 1.0f, 1.0f);
    layer.fileId = "0123456789abcdef";
    RenderBlock block = Render(ctx, layer);
    EXPECT_EQ(layer.filepath, moved);
    EXPECT_FALSE(block.missingFile);
    EXPECT_GT(test::Peak(Samples(block)), 0.4f);

    // Unknown identity and no file at the path: a silent block of the layer's length.
    Layer gone = test::FileLayer("gone", dir / "nowhere.wav", 2.0f, 0.5f);
    gone.fileId = "ffffffffffffffff";
    block = Render(ctx, gone);
    EXPECT_TRUE(block.missingFile);
    EXPECT_TRUE(block.placeholder);
    EXPECT_EQ(Samples(block).size(), 24000u);
    EXPECT_EQ(test::Peak(Samples(block)), 0.0f);
    EXPECT_FLOAT_EQ(block.start, 2.0f);
    // Renders that only reuse earlier results do not mark placeholders.
    ctx.analysisFree = true;
    EXPECT_FALSE(Render(ctx, gone).placeholder);
    ctx.analysisFree = false;

    // A sketch is a placeholder (what it sounds like: sketch_sound_test.cpp); a layer
    // with no file that is no sketch gets no block.
    Layer sketch;
    sketch.name = "[Sketch] Spot";
    sketch.duration = 0.25f;
    block = Render(ctx, sketch);
    EXPECT_TRUE(block.placeholder);
    EXPECT_FALSE(block.missingFile);
    EXPECT_EQ(Samples(block).size(), 12000u);
    Layer nothing;
    nothing.name = "(no match)";
    nothing.duration = 1.0f;
    RenderBlock none;
    EXPECT_FALSE(RenderLayerBlock(ctx, nothing, 0, &none));
}

TEST(LayerRender, ScaleTuningMovesTheLayerToTheNearestScaleNote) {
    test::TempDir dir;
    // 450 Hz is 39 cents above A4; A is in C major, so the layer is tuned down.
    const std::string path = test::SineFile(dir.path.string(), "tone", 450.0, 2.0);
    std::vector<Event> events(1);
    LayerRenderContext ctx = PlainContext();
    ctx.events = &events;
    ctx.scaleType = 1;  // Major
    ctx.scaleRoot = 0;  // C
    Layer layer = test::FileLayer("tone", path, 0.0f, 1.0f);
    layer.pitchVarShift = 1.0f;
    const RenderBlock block = Render(ctx, layer);
    EXPECT_NEAR(block.pitch.frequency, 450.0f, 1.0f);
    EXPECT_EQ(block.pitch.note, 69);
    EXPECT_GT(block.pitch.confidence, 0.8f);
    const float expectedShift = -12.0f * std::log2(450.0f / 440.0f);
    EXPECT_NEAR(block.tuningShift, expectedShift, 0.02f);
    EXPECT_NEAR(layer.pitchShift, expectedShift + 1.0f, 0.02f);  // tuning plus the build's variation
    // Tuned onto A#4 (one semitone above A4 after the variation): 466 Hz, and still
    // a full second long (the source span grew with the shift).
    EXPECT_NEAR(test::CrossingFrequency(Samples(block), kRate), 466.16, 2.0);
    EXPECT_NEAR(static_cast<double>(Samples(block).size()), 48000.0, 2.0);

    // "Force Off" on the event, fills, and reuse renders stay untuned.
    events[0].scaleTuneOverride = 2;
    Layer forced = test::FileLayer("tone", path, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(Render(ctx, forced).tuningShift, 0.0f);
    events[0].scaleTuneOverride = 0;
    ctx.analysisFree = true;
    Layer reused = test::FileLayer("tone", path, 0.0f, 1.0f);
    Render(ctx, reused);
    EXPECT_FLOAT_EQ(reused.pitchShift, 0.0f);
}

TEST(LayerRender, PitchDetectorFindsPeriodsAndRejectsNoise) {
    std::vector<float> tone(8192), noise(8192);
    uint32_t state = 7;
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.5f * std::sin(2.0 * M_PI * 110.0 * i / kRate) + 0.25f * std::sin(2.0 * M_PI * 330.0 * i / kRate);
        state = state * 1664525u + 1013904223u;
        noise[i] = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
    }
    DetectedPitch p = DetectPitch(tone.data(), 8192, kRate);
    EXPECT_NEAR(p.frequency, 110.0f, 0.5f);  // the fundamental, not the louder-looking partial
    EXPECT_EQ(p.note, 45);
    EXPECT_LT(DetectPitch(noise.data(), 8192, kRate).confidence, 0.25f);
    EXPECT_EQ(DetectPitch(noise.data(), 8192, kRate).frequency, 0.0f);  // no period, no pitch reported
    std::vector<float> silence(8192, 0.0f);
    EXPECT_EQ(DetectPitch(silence.data(), 8192, kRate).frequency, 0.0f);
    EXPECT_EQ(DetectPitch(tone.data(), 10, kRate).frequency, 0.0f);
}

TEST(LayerRender, FillsAreLaidEndToEndAndReusedWithinTolerance) {
    test::TempDir dir;
    // A 0.5 s source filling 2 s: chunks with crossfades, no hole at the joins.
    const std::string path = test::SineFile(dir.path.string(), "hum", 200.0, 0.5);
    LayerRenderContext ctx = PlainContext();
    Layer fill = test::FileLayer("hum", path, 0.0f, 2.0f);
    fill.procMode = ProcMode::Fill;
    fill.sourceDuration = 0.5f;
    const RenderBlock block = Render(ctx, fill);
    ASSERT_GE(fill.fillChunks.size(), 4u);
    EXPECT_EQ(FillLength(fill.fillChunks), 96000);
    EXPECT_EQ(Samples(block).size(), 96000u);
    // Every 10 ms stretch carries sound: the joins overlap instead of leaving gaps.
    for (size_t at = 0; at + 480 <= 96000; at += 480)
        ASSERT_GT(test::Rms(Samples(block), at, at + 480), 0.2) << "quiet stretch at frame " << at;

    // Chunks within 5 % of the wanted length are reused as they are.
    std::vector<FillChunk> kept = {{0, 24000, 0}, {0, 24000, 2400}, {0, 24000, 2400}, {0, 24000, 2400},
                                   {0, 8000, 2400}};
    EXPECT_TRUE(FillChunksFit(kept, 96000));  // 94400 frames, 1.7 % short
    fill.fillChunks = kept;
    Render(ctx, fill);
    EXPECT_EQ(fill.fillChunks, kept);
    // Further off, they are computed afresh.
    fill.fillChunks = {{0, 24000, 0}};
    Render(ctx, fill);
    EXPECT_EQ(FillLength(fill.fillChunks), 96000);
    EXPECT_FALSE(FillChunksFit({}, 96000));
}

TEST(LayerRender, FiveBandEqCutsOnlyItsBand) {
    auto sine = [](double f) {
        std::vector<float> x(kRate);
        for (size_t i = 0; i < x.size(); ++i) x[i] = 0.5f * std::sin(2.0 * M_PI * f * i / kRate);
        return x;
    };
    const std::array<float, 5> unity = {1, 1, 1, 1, 1};
    std::vector<float> x = sine(1200.0);
    const std::vector<float> original = x;
    ApplyFiveBandEq(x.data(), static_cast<int64_t>(x.size()), kRate, unity);
    EXPECT_EQ(x, original);  // all ones is exact identity

    const std::array<float, 5> cutMid = {1, 1, 0.5f, 1, 1};  // -6 dB at 750 Hz..2 kHz
    ApplyFiveBandEq(x.data(), static_cast<int64_t>(x.size()), kRate, cutMid);
    EXPECT_NEAR(test::Rms(x, 4800) / test::Rms(original, 4800), 0.5, 0.05);
    std::vector<float> low = sine(60.0);
    const double lowBefore = test::Rms(low, 4800);
    ApplyFiveBandEq(low.data(), static_cast<int64_t>(low.size()), kRate, cutMid);
    EXPECT_NEAR(test::Rms(low, 4800) / lowBefore, 1.0, 0.05);
    std::vector<float> air = sine(10000.0);
    const std::array<float, 5> cutAir = {1, 1, 1, 1, 0.25f};
    const double airBefore = test::Rms(air, 4800);
    ApplyFiveBandEq(air.data(), static_cast<int64_t>(air.size()), kRate, cutAir);
    EXPECT_NEAR(test::Rms(air, 4800) / airBefore, 0.25, 0.05);
}

// Energy above and below 2 kHz, by a crude split (one-pole low-pass).
std::pair<double, double> LowHighEnergy(const std::vector<float>& x) {
    double low = 0.0, high = 0.0;
    float y = 0.0f;
    const float a = std::exp(-2.0f * static_cast<float>(M_PI) * 2000.0f / kRate);
    for (float v : x) {
        y = a * y + (1.0f - a) * v;
        low += static_cast<double>(y) * y;
        high += static_cast<double>(v - y) * (v - y);
    }
    return {low, high};
}

TEST(LayerRender, AlloyCastsTheMainInTheDonorsShape) {
    test::TempDir dir;
    const std::string bright = test::NoiseFile(dir.path.string(), "bright", 1.5, 0.0f, 3);
    const std::string dark = test::NoiseFile(dir.path.string(), "dark", 1.5, 0.97f, 5);
    LayerRenderContext ctx = PlainContext();
    ctx.alloy.transferDepth = 1.0f;
    ctx.alloy.microPitch = 0.0f;
    Layer plain = test::FileLayer("bright", bright, 0.0f, 1.0f);
    const std::vector<float> main = Samples(Render(ctx, plain));

    // Morphed with itself, an alloy stem is the plain file.
    Layer self = plain;
    self.procMode = ProcMode::Alloy;
    self.alloyAlgo = 1;
    self.alloyMid = self.alloyHigh = self.alloyEnv = AlloyPart{bright, "", 0.0f, 1.0f, "bright"};
    EXPECT_EQ(Samples(Render(ctx, self)), main);

    // With a dark donor in both regions the bright main loses its top end.
    Layer alloy = self;
    alloy.alloyMid = alloy.alloyHigh = alloy.alloyEnv = AlloyPart{dark, "", 0.0f, 1.0f, "dark"};
    const std::vector<float> morphed = Samples(Render(ctx, alloy));
    ASSERT_EQ(morphed.size(), main.size());
    const auto [mainLow, mainHigh] = LowHighEnergy(main);
    const auto [morphLow, morphHigh] = LowHighEnergy(morphed);
    EXPECT_LT(morphHigh / morphLow, 0.5 * mainHigh / mainLow);
    // The attack is grafted back: the first samples are the main's own.
    EXPECT_FLOAT_EQ(morphed[0], main[0]);
    // Morph 0 is the plain file; half a morph lies between.
    alloy.alloyMorph = 0.0f;
    EXPECT_EQ(Samples(Render(ctx, alloy)), main);
    alloy.alloyMorph = 0.5f;
    const auto [halfLow, halfHigh] = LowHighEnergy(Samples(Render(ctx, alloy)));
    EXPECT_LT(halfHigh / halfLow, mainHigh / mainLow);
    EXPECT_GT(halfHigh / halfLow, morphHigh / morphLow);
}

TEST(LayerRender, ChannelsAndTheSegmentCache) {
    test::TempDir dir;
    const std::string stereo = test::SineFile(dir.path.string(), "wide", 500.0, 1.0, 0.5, 44100, 2);
    LayerRenderContext ctx = PlainContext();
    Layer wide = test::FileLayer("wide", stereo, 0.0f, 0.5f);
    wide.stereo = true;
    const uint64_t decodesBefore = SegmentDecodeCount();
    RenderBlock block = Render(ctx, wide);
    ASSERT_EQ(block.audio->channels.size(), 2u);
    EXPECT_TRUE(block.stereoPair);
    // Resampled from 44.1 kHz to the project's 48 kHz at the same pitch.
    EXPECT_NEAR(static_cast<double>(Samples(block).size()), 24000.0, 2.0);
    EXPECT_NEAR(test::CrossingFrequency(Samples(block), kRate), 500.0, 3.0);
    // A second render of the same span decodes nothing.
    Render(ctx, wide);
    EXPECT_EQ(SegmentDecodeCount(), decodesBefore + 1);
    // A replaced file is decoded again.
    BumpFileIdentity(stereo);
    Render(ctx, wide);
    EXPECT_EQ(SegmentDecodeCount(), decodesBefore + 2);

    Layer narrow = wide;
    narrow.stereo = false;
    block = Render(ctx, narrow);
    EXPECT_EQ(block.audio->channels.size(), 1u);
    EXPECT_FALSE(block.stereoPair);
}

}  // namespace
}  // namespace morvane
