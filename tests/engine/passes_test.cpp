// The post-build passes on hand-made layers.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/event_build.h"
#include "engine/passes.h"

namespace morvane {
namespace {

Layer At(int eventIdx, float start, float duration, float gain = 1.0f) {
    Layer l;
    l.filepath = "/lib/layer.wav";
    l.eventIdx = eventIdx;
    l.startTime = start;
    l.duration = duration;
    l.layerGain = gain;
    l.fadeIn = 0.05f;
    l.fadeOut = 0.2f;
    l.group = 1;
    return l;
}

Event Span(float time, float duration, EventShape shape = EventShape::Spot) {
    Event ev;
    ev.time = time;
    ev.duration = duration;
    ev.shape = shape;
    return ev;
}

const BandLookup kFlat = [](const Layer&) { return std::array<float, 5>{0.2f, 0.2f, 0.2f, 0.2f, 0.2f}; };

TEST(Passes, SilenceProtectionCutsOrMutesLayersRingingIntoGaps) {
    Project p;
    p.timeline.events = {Span(0, 2), Span(4, 1)};
    p.timeline.results = {At(0, 0.5f, 1.54f), At(0, 0.5f, 1.7f), At(0, 1.98f, 0.3f), At(1, 4.0f, 1.1f)};
    ProtectSilencePass(p);
    const auto& r = p.timeline.results;
    EXPECT_FALSE(r[0].muted);
    EXPECT_NEAR(r[0].duration, 1.5f, 1e-5f);  // cut at the gap
    EXPECT_NEAR(r[1].duration, 1.5f, 1e-5f);
    EXPECT_LE(r[1].fadeOut, 0.45f * 1.5f);
    EXPECT_GE(r[1].fadeOut, 0.03f);
    EXPECT_TRUE(r[2].muted);  // 0.02 s would remain
    EXPECT_FALSE(r[3].muted);  // after the last event there is no gap to protect
    EXPECT_NEAR(r[3].duration, 1.1f, 1e-6f);

    // 0.04 s into the silence is muted only when too little is left; a short layer
    // ringing 0.2 s into it is cut with fades of at most 0.09 s.
    Project q;
    q.timeline.events = {Span(0, 1), Span(3, 1)};
    q.timeline.results = {At(0, 0.97f, 0.07f), At(0, 0.8f, 0.4f)};
    q.timeline.results[1].fadeIn = 0.3f;
    ProtectSilencePass(q);
    EXPECT_TRUE(q.timeline.results[0].muted);
    EXPECT_NEAR(q.timeline.results[1].duration, 0.2f, 1e-5f);
    EXPECT_LE(q.timeline.results[1].fadeIn, 0.09f + 1e-6f);
    EXPECT_LE(q.timeline.results[1].fadeOut, 0.09f + 1e-6f);
    // The budget pass does not bring a protected layer back.
    AssignTracks(q);
    EXPECT_TRUE(q.timeline.results[0].muted);
}

TEST(Passes, DeconflictionSpreadsAStackBy5To30Milliseconds) {
    Project p;
    p.timeline.events = {Span(1, 2)};
    for (int i = 0; i < 5; ++i) p.timeline.results.push_back(At(0, 1.0f + 0.002f * i, 1.0f, 1.0f - 0.15f * i));
    DeconflictPass(p, kFlat);
    const auto& r = p.timeline.results;
    EXPECT_EQ(r[0].deconOffset, 0.0f);  // the loudest leads
    EXPECT_GT(r[1].deconOffset, 0.0f);  // then trailing and leading in turn
    EXPECT_LT(r[2].deconOffset, 0.0f);
    EXPECT_GT(r[3].deconOffset, 0.0f);
    EXPECT_LT(r[4].deconOffset, 0.0f);
    for (const Layer& l : r) EXPECT_LE(std::fabs(l.deconOffset), 0.03f);
    // k = 1 of 5 at r = 0.85: 0.2 * 0.01 + 0.005 + 0.15 * 0.015.
    EXPECT_NEAR(r[1].deconOffset, 0.00925f, 1e-6f);
    // Running it again gives the same: it starts by clearing its own offsets.
    const std::vector<Layer> once = p.timeline.results;
    DeconflictPass(p, kFlat);
    EXPECT_EQ(p.timeline.results, once);
}

TEST(Passes, MaskedLayersAreDuckedUnlessHero) {
    Project p;
    p.timeline.events = {Span(0, 2), Span(0, 2)};
    p.timeline.events[1].hero = true;
    p.timeline.results = {At(0, 0, 2, 0.2f), At(0, 0, 2, 1.0f), At(1, 0, 2, 0.2f)};
    DeconflictPass(p, kFlat);
    EXPECT_TRUE(p.timeline.results[0].hasDeconGain);
    EXPECT_LT(p.timeline.results[0].deconGain[16], 0.99f);
    EXPECT_GE(p.timeline.results[0].deconGain[16], std::pow(10.0f, -9.0f / 20.0f));
    EXPECT_FALSE(p.timeline.results[1].hasDeconGain);  // the loud one is not masked
    EXPECT_FALSE(p.timeline.results[2].hasDeconGain);  // hero layers are left alone
}

TEST(Passes, DensityDucksQuietLayersInCrowdsByAtMostFourDecibels) {
    Project p;
    p.timeline.events = {Span(0, 3), Span(0, 3)};
    p.timeline.events[1].hero = true;
    for (int i = 0; i < 10; ++i) p.timeline.results.push_back(At(0, 0.0f, 3.0f, 1.0f));
    p.timeline.results.push_back(At(0, 0.0f, 3.0f, 0.2f));
    p.timeline.results.push_back(At(1, 0.0f, 3.0f, 0.2f));
    DensityDuckingPass(p);
    const Layer& quiet = p.timeline.results[10];
    ASSERT_TRUE(quiet.hasDeconGain);
    float lowest = 1.0f;
    for (float g : quiet.deconGain) lowest = std::min(lowest, g);
    EXPECT_LT(lowest, 0.8f);
    EXPECT_GE(lowest, std::pow(10.0f, -4.0f / 20.0f) - 1e-5f);
    EXPECT_FALSE(p.timeline.results[11].hasDeconGain);
    // Loud layers in the same crowd are cut less than quiet ones.
    EXPECT_GT(p.timeline.results[0].deconGain[16], quiet.deconGain[16]);
    // A sparse timeline is untouched.
    Project sparse;
    sparse.timeline.events = {Span(0, 3)};
    sparse.timeline.results = {At(0, 0, 3), At(0, 0, 3)};
    DensityDuckingPass(sparse);
    EXPECT_FALSE(sparse.timeline.results[0].hasDeconGain);
}

TEST(Passes, DestructiveEqCutsBuriedBands) {
    Project p;
    p.timeline.events = {Span(0, 2)};
    p.timeline.results = {At(0, 0, 2, 0.2f), At(0, 0, 2, 1.0f), At(0, 5, 1, 1.0f)};
    const BandLookup lows = [](const Layer&) { return std::array<float, 5>{0.8f, 0.2f, 0.0f, 0.0f, 0.0f}; };
    DestructiveEqPass(p, lows);
    const Layer& buried = p.timeline.results[0];
    EXPECT_TRUE(buried.hasEqGains);
    EXPECT_NEAR(buried.eqGains[0], std::pow(10.0f, -6.0f / 20.0f), 1e-4f);  // 4x over: the full 6 dB
    EXPECT_EQ(buried.eqGains[2], 1.0f);  // a band it does not use
    EXPECT_FALSE(p.timeline.results[1].hasEqGains);
    EXPECT_FALSE(p.timeline.results[2].hasEqGains);  // nothing overlaps it
}

TEST(Passes, TrackBudgetMutesOrdinaryLayersFirstAndKeepsBeds) {
    Project p;
    p.timeline.events = {Span(0, 5), Span(0, 5), Span(0, 5, EventShape::Bed), Span(0, 5)};
    p.timeline.events[3].hero = true;
    p.timeline.trackLayout.budgetMode = true;
    p.timeline.trackLayout.groups[1].trackCount = 2;
    p.timeline.trackLayout.groups[0].trackCount = 1;
    Layer a = At(0, 0.0f, 3), b = At(1, 0.5f, 3), c = At(1, 1.0f, 3);
    Layer bed1 = At(2, 0, 5), bed2 = At(2, 0, 5);
    bed1.group = bed2.group = 0;
    p.timeline.results = {a, b, c, bed1, bed2};
    AssignTracks(p);
    auto& r = p.timeline.results;
    EXPECT_EQ(r[0].groupTrack, 0);
    EXPECT_EQ(r[1].groupTrack, 1);
    EXPECT_TRUE(r[2].muted);
    EXPECT_EQ(r[2].groupTrack, -1);
    EXPECT_EQ(r[3].groupTrack, 0);
    EXPECT_EQ(r[4].groupTrack, 1);  // beyond the limit, but a Bed keeps its track
    EXPECT_FALSE(r[4].muted);
    // Group 1 first, then 2 (none), then the background.
    EXPECT_EQ(r[3].track, 2);
    EXPECT_EQ(r[4].track, 3);
    // A slot without a file takes no track.
    Layer empty = At(1, 0.2f, 3);
    empty.filepath.clear();
    empty.name = "(no match)";
    p.timeline.results.push_back(empty);
    AssignTracks(p);
    EXPECT_FALSE(r[5].muted);
    EXPECT_TRUE(r[2].muted);
    EXPECT_FALSE(r[1].muted);
    r.pop_back();
    // A hero layer starting last still gets a track; an ordinary one gives way.
    Layer hero = At(3, 2.0f, 1);
    r.push_back(hero);
    AssignTracks(p);
    EXPECT_FALSE(r[5].muted);
    int mutedOrdinary = 0;
    for (int i = 0; i < 3; ++i) mutedOrdinary += r[static_cast<size_t>(i)].muted ? 1 : 0;
    EXPECT_EQ(mutedOrdinary, 2);
    // Without the budget nothing is muted and the earlier budget mutes are undone.
    p.timeline.trackLayout.budgetMode = false;
    r[0].pitchVarShift = 1.5f;
    r[0].pitchShift = 3.0f;
    AssignTracks(p);
    for (const Layer& l : r) EXPECT_FALSE(l.muted);
    EXPECT_EQ(r[0].pitchShift, 1.5f);
}

}  // namespace
}  // namespace morvane
