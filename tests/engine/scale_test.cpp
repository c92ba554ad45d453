// Scale tuning and the per-layer random variation.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/scale.h"

namespace morvane {
namespace {

TEST(Scale, TableNamesAndNotes) {
    EXPECT_STREQ(ScaleName(0), "Off");
    EXPECT_STREQ(ScaleName(16), "Power (1-5)");
    EXPECT_STREQ(ScaleName(99), "Off");
    EXPECT_TRUE(ScaleNotes(0).empty());
    EXPECT_TRUE(ScaleNotes(17).empty());
    EXPECT_TRUE(ScaleNotes(-1).empty());
    EXPECT_EQ(ScaleNotes(1).size(), 7u);
    EXPECT_EQ(ScaleNotes(10).size(), 12u);
    EXPECT_EQ(ScaleNotes(6).size(), 5u);
    EXPECT_EQ(ScaleNotes(8)[3], 6);  // the blue note
    EXPECT_STREQ(ScaleRootName(1), "C#");
    EXPECT_STREQ(ScaleRootName(40), "B");
}

TEST(Scale, TuningMovesToTheNearestScaleNote) {
    // One semitone above C in C major: C and D are equally near; C comes first.
    EXPECT_FLOAT_EQ(TuningShift(61.0f, 1, 0), -1.0f);
    // Six above C with the power chord: -6 to C, +1 to G; G wins.
    EXPECT_FLOAT_EQ(TuningShift(66.0f, 16, 0), 1.0f);
    // Fractional pitches and a root other than C: 40 cents above E in A minor pentatonic.
    EXPECT_NEAR(TuningShift(64.4f, 7, 9), -0.4f, 1e-4f);
    // Wrapping across the octave: B is a semitone below C (root), 11 is not in Sus2.
    EXPECT_FLOAT_EQ(TuningShift(71.0f, 15, 0), 1.0f);
    for (float note = 0.0f; note < 128.0f; note += 0.37f)
        for (int scale = 1; scale < kScaleCount; ++scale) {
            const float s = TuningShift(note, scale, 3);
            EXPECT_LE(std::fabs(s), 6.0f);
        }
}

TEST(Scale, WhenTuningStaysOff) {
    EXPECT_EQ(LayerTuningShift(0, 0, 0, false, true, 61.0f), 0.0f);
    EXPECT_EQ(LayerTuningShift(kScaleChromatic, 0, 0, false, true, 61.3f), 0.0f);
    EXPECT_EQ(LayerTuningShift(1, 0, 2, false, true, 61.0f), 0.0f);
    EXPECT_EQ(LayerTuningShift(1, 0, 0, true, true, 61.0f), 0.0f);
    EXPECT_EQ(LayerTuningShift(1, 0, 0, false, false, 61.0f), 0.0f);
    EXPECT_EQ(LayerTuningShift(1, 0, 1, false, true, 61.0f), -1.0f);
    EXPECT_FALSE(PitchAccepted(20.0f, 0.9f));
    EXPECT_FALSE(PitchAccepted(440.0f, 0.25f));
    EXPECT_FALSE(PitchAccepted(10000.0f, 0.9f));
    EXPECT_TRUE(PitchAccepted(20.01f, 0.26f));
}

TEST(Scale, PitchVariationStaysWithinItsRange) {
    EXPECT_EQ(DrawPitchVarShift(0.0f, 0, 0.9f, 0.1f, 0.9f), 0.0f);
    float lo = 0.0f, hi = 0.0f;
    for (int i = 0; i <= 100; ++i) {
        const float u = static_cast<float>(i) / 100.0f;
        const float s = DrawPitchVarShift(0.5f, 0, u, u, u);
        lo = std::min(lo, s), hi = std::max(hi, s);
    }
    EXPECT_FLOAT_EQ(lo, -0.5f);
    EXPECT_FLOAT_EQ(hi, 0.5f);
    // The project's chance: a draw under the percentage shifts by half to two semitones.
    const float shifted = DrawPitchVarShift(0.0f, 30, 0.5f, 0.29f, 0.9f);
    EXPECT_GE(std::fabs(shifted), 0.5f);
    EXPECT_LE(std::fabs(shifted), 2.0f);
    EXPECT_EQ(DrawPitchVarShift(0.0f, 30, 0.5f, 0.31f, 0.9f), 0.0f);
}

TEST(Scale, ReverseAndFrequencyShiftFollowTheLayerAndTheirPercentages) {
    int reversed = 0;
    for (int i = 0; i < 2000; ++i) {
        Layer l;
        l.filepath = "/lib/file" + std::to_string(i) + ".wav";
        l.startTime = static_cast<float>(i) * 0.5f;
        reversed += LayerReversed(l, 25) ? 1 : 0;
        EXPECT_EQ(LayerReversed(l, 25), LayerReversed(l, 25));
        EXPECT_FALSE(LayerReversed(l, 0));
        EXPECT_LE(std::fabs(LayerFrequencyShiftHz(l, 50)), 20.0f);
        EXPECT_EQ(LayerFrequencyShiftHz(l, 0), 0.0f);
        l.procMode = ProcMode::Fill;
        EXPECT_FALSE(LayerReversed(l, 100));
    }
    EXPECT_NEAR(reversed / 2000.0, 0.25, 0.04);
}

}  // namespace
}  // namespace morvane
