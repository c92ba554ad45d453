// Choosing files: keywords, candidates, scores, repeats, the draw, offsets, history.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <map>
#include <random>

#include "engine/event_build.h"
#include "engine/selection.h"
#include "build_fixtures.h"

namespace morvane {
namespace {

using test::NeutralEntry;

TEST(Selection, KeywordsParseAndMatchOnWordBoundaries) {
    const std::vector<KeywordTerm> t = ParseKeywords(" door,+metal;-glass\t\t+ - x  ");
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0].word, "door");
    EXPECT_EQ(t[0].kind, TermKind::Plain);
    EXPECT_EQ(t[1].word, "metal");
    EXPECT_EQ(t[1].kind, TermKind::Required);
    EXPECT_EQ(t[2].word, "glass");
    EXPECT_EQ(t[2].kind, TermKind::Excluded);
    EXPECT_EQ(t[3].word, "+");  // too short to be required: plain, as typed
    EXPECT_EQ(t[4].word, "-");
    EXPECT_EQ(t[5].word, "x");
    EXPECT_TRUE(ParseKeywords(" ,; ").empty());

    EXPECT_TRUE(TermFoundIn("door", "door_slam"));
    EXPECT_TRUE(TermFoundIn("door", "Door 2"));
    EXPECT_FALSE(TermFoundIn("door", "doorway"));
    EXPECT_TRUE(TermFoundIn("door*", "doorway"));
    EXPECT_FALSE(TermFoundIn("door", "trapdoor"));
    EXPECT_TRUE(TermFoundIn("*door", "trapdoor"));
    EXPECT_TRUE(TermFoundIn("*OOR*", "trapdoorway"));
    EXPECT_TRUE(TermFoundIn("door", "doorway door"));  // a later occurrence counts
    EXPECT_FALSE(TermFoundIn("*d*", "door"));            // one character left: never found

    LibraryEntry e = NeutralEntry("Door_Slam", 1.0f);
    e.path = "/sfx/Wood/Door_Slam.wav";
    e.description = "heavy oak";
    e.keywords = "creak interior";
    EXPECT_EQ(TermMatchCount("door", e), 3);
    EXPECT_EQ(TermMatchCount("wood", e), 2);
    EXPECT_EQ(TermMatchCount("oak", e), 2);
    EXPECT_EQ(TermMatchCount("creak", e), 2);
    EXPECT_EQ(TermMatchCount("glass", e), 0);
    EXPECT_EQ(TermMatchCount("d", e), 0);
}

TEST(Selection, CandidatesFollowClassesFiltersAndPalettes) {
    std::vector<Library> libs(4);
    libs[0].name = "Foley";
    libs[0].weightClass = 1;
    libs[0].entries = {NeutralEntry("a", 1), NeutralEntry("b", 1)};
    libs[1].name = "Ambiences";
    libs[1].weightClass = 0;
    libs[1].entries = {NeutralEntry("c", 1)};
    libs[2].name = "Any";
    libs[2].entries = {NeutralEntry("d", 1)};
    libs[3].name = "Off";
    libs[3].enabled = false;
    libs[3].entries = {NeutralEntry("e", 1)};
    std::vector<LibraryRoot> roots = RootsOf(libs);
    roots[1].paletteNames = {"Night", "Rain"};

    EXPECT_EQ(CollectCandidates(roots, -1).size(), 4u);
    EXPECT_EQ(CollectCandidates(roots, 1).size(), 3u);  // Foley and the class-free root
    EXPECT_EQ(CollectCandidates(roots, 0).size(), 2u);
    EXPECT_EQ(CollectCandidates(roots, 2).size(), 1u);
    EXPECT_EQ(CollectCandidates(roots, -1, "Foley").size(), 2u);
    EXPECT_EQ(CollectCandidates(roots, -1, " Rain ,,Foley").size(), 3u);
    EXPECT_EQ(CollectCandidates(roots, 1, "Rain").size(), 0u);
    EXPECT_TRUE(CollectCandidates(roots, -1, "~none~").empty());
    EXPECT_TRUE(CollectCandidates(roots, -1, "Off").empty());
    const auto order = CollectCandidates(roots, -1);
    EXPECT_EQ(order[0]->name, "a");
    EXPECT_EQ(order[3]->name, "d");

    Event ev;
    ev.shape = EventShape::Fill;
    ev.groupOverride = 2;
    EXPECT_EQ(EventGroup(ev), 0);
    ev.shape = EventShape::Bloom;
    ev.groupOverride = -1;
    EXPECT_EQ(EventGroup(ev), 2);
    ev.groupOverride = 0;
    EXPECT_EQ(EventGroup(ev), 2);  // the background group is not for a Bloom
    ev.shape = EventShape::Spot;
    EXPECT_EQ(EventGroup(ev), 1);
    ev.groupOverride = 2;
    EXPECT_EQ(EventGroup(ev), 2);
    ev.shape = EventShape::Bed;
    ev.groupOverride = -1;
    EXPECT_EQ(EventGroup(ev), 0);
}

TEST(Selection, BaseScoreMatchesHandComputedExamples) {
    // The neutral entry fits intensity 0.5 perfectly: sigma 1, phi 1. No terms:
    // 0.5*50 + 0.3*50 + 0.2*50 = 50; duration twice the need +15; sustained/transient
    // mix at q = 0.5: 10 * (0.5 * 1 + 0.5 * 0.3) = 6.5; Spot: centred length 0, fast
    // attack +5. Total 76.5.
    const LibraryEntry e = NeutralEntry("rumble", 2.0f);
    ScoreWishes w;
    w.intensity = 0.5f;
    w.neededDuration = 1.0f;
    w.shape = EventShape::Spot;
    EXPECT_NEAR(BaseScore(e, w), 76.5f, 0.01f);
    // Fill: +5 length, +3 steady crest, +3 steady flux, +0 zero crossings, +2 centroid.
    w.shape = EventShape::Fill;
    EXPECT_NEAR(BaseScore(e, w), 84.5f, 0.01f);
    // Bloom with a file half as long as needed: +3.75 and then the score halves
    // (53.75 / 2 = 26.875), then +6.5 and +10 for the swell terms.
    w.shape = EventShape::Bloom;
    const LibraryEntry half = NeutralEntry("rumble", 0.5f);
    EXPECT_NEAR(BaseScore(half, w), 43.375f, 0.01f);
    // Keywords: a name hit gives kw = 50 on base 30: 15 + 50 + 9 + 6 + 15 + 6.5 + 5.
    w.shape = EventShape::Spot;
    const std::vector<KeywordTerm> door = ParseKeywords("door");
    w.terms = &door;
    const LibraryEntry slam = NeutralEntry("door_slam", 2.0f);
    EXPECT_NEAR(BaseScore(slam, w), 106.5f, 0.01f);
    // No term matched: (30 + 15 + 6.5 + 5) * 0.15.
    EXPECT_NEAR(BaseScore(e, w), 8.475f, 0.01f);
    // A required term missing, or an excluded one present: nothing.
    const std::vector<KeywordTerm> req = ParseKeywords("door +metal");
    w.terms = &req;
    EXPECT_EQ(BaseScore(slam, w), 0.0f);
    const std::vector<KeywordTerm> exc = ParseKeywords("door -slam");
    w.terms = &exc;
    EXPECT_EQ(BaseScore(slam, w), 0.0f);
    w.terms = nullptr;
    // Far too bright for the wish: shut out.
    LibraryEntry bright = NeutralEntry("hiss", 2.0f);
    bright.features[7] = 0.95f;
    EXPECT_EQ(BaseScore(bright, w), 0.0f);
    // Contrast with an earlier layer of the same noisiness: +0, and x0.7 from the second on.
    w.contrastRef = Noisiness(e);
    w.contrastCount = 2;
    EXPECT_NEAR(BaseScore(e, w), 76.5f * 0.7f, 0.01f);
    w.contrastRef = 1.0f;  // the neutral entry's noisiness is 0.5
    EXPECT_NEAR(BaseScore(e, w), 76.5f + 12.0f, 0.01f);
}

TEST(Selection, ScoringDropsBannedAndWeakCandidatesAndKeepsTheBestFew) {
    std::vector<LibraryEntry> entries;
    for (int i = 0; i < 20; ++i) entries.push_back(NeutralEntry("f" + std::to_string(i), 0.5f + 0.2f * i));
    std::vector<const LibraryEntry*> cands;
    for (const LibraryEntry& e : entries) cands.push_back(&e);
    TimelineState tl;
    tl.bannedFiles = {entries[19].path};
    entries[18].fileId = "00000000000000aa";
    tl.bannedFileIds = {"00000000000000aa"};
    ScoreWishes w;
    w.neededDuration = 1.0f;
    const auto scored = ScoreCandidates(tl, cands, w, 12, nullptr);
    ASSERT_EQ(scored.size(), 12u);
    for (size_t i = 1; i < scored.size(); ++i) EXPECT_GE(scored[i - 1].score, scored[i].score);
    for (const ScoredCandidate& c : scored) {
        EXPECT_NE(c.entry, &entries[19]);
        EXPECT_NE(c.entry, &entries[18]);
    }
    // A required word nobody has: only the best entry remains, at 0.01.
    const std::vector<KeywordTerm> none = ParseKeywords("+zebra");
    w.terms = &none;
    const auto only = ScoreCandidates(tl, cands, w, 12, nullptr);
    ASSERT_EQ(only.size(), 1u);
    EXPECT_EQ(only[0].entry, &entries[0]);
    EXPECT_FLOAT_EQ(only[0].score, 0.01f);
    // The reference set lifts files that sound like it, and its own files by half.
    w.terms = nullptr;
    ReferenceSet ref;
    ref.active = true;
    ref.count = 1;
    ref.paths = {entries[3].path};
    ref.profile = {0.045f, 0.236f, 0.436f, 0.236f, 0.045f, 0.5f, 0.0f, 0.0f};
    const auto plain = ScoreCandidates(tl, {&entries[3], &entries[4]}, w, 12, nullptr);
    const auto lifted = ScoreCandidates(tl, {&entries[3], &entries[4]}, w, 12, &ref);
    std::map<const LibraryEntry*, float> before, after;
    for (auto c : plain) before[c.entry] = c.score;
    for (auto c : lifted) after[c.entry] = c.score;
    EXPECT_NEAR(after[&entries[3]], before[&entries[3]] * 1.5f, 0.01f);
    EXPECT_NEAR(after[&entries[4]], before[&entries[4]] + 15.0f, 0.1f);
    ref.count = 0;  // inactive without members
    const auto inactive = ScoreCandidates(tl, {&entries[4]}, w, 12, &ref);
    EXPECT_NEAR(inactive[0].score, before[&entries[4]], 1e-4f);
}

TEST(Selection, LayersOfABuildKeepTheSameFewAsScoringEveryFileAlone) {
    // A build scores many layers against one large list, passing over the files that
    // cannot reach the kept few. Whatever a layer asks, what it keeps must be exactly
    // the best files by their own scores, in the same order.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const char* const words[] = {"door", "metal", "wind", "rain", "glass", "hum"};
    std::vector<LibraryEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        LibraryEntry e = NeutralEntry(std::string(words[i % 6]) + "_" + words[(i / 6) % 6] + std::to_string(i),
                                      0.05f + 12.0f * unit(random));
        float weighted = 0.0f, sum = 0.0f;
        for (int k = 0; k < 5; ++k) {
            e.features[k] = unit(random);
            weighted += (0.1f + 0.2f * k) * e.features[k];
            sum += e.features[k];
        }
        e.features[7] = weighted / sum;
        e.features[10] = unit(random);
        e.features[11] = 25.0f * unit(random);
        e.features[13] = unit(random);
        e.features[14] = unit(random);
        e.attackTime = 0.6f * unit(random);
        e.harmonicity = unit(random);
        e.spectralFlatness = unit(random);
        e.pitchConfidence = unit(random);
        entries.push_back(std::move(e));
    }
    std::vector<const LibraryEntry*> cands;
    for (const LibraryEntry& e : entries) cands.push_back(&e);
    TimelineState tl;
    tl.bannedFiles = {entries[5].path, entries[77].path};
    const std::array<float, 5> occupancy = {0.9f, 0.2f, 0.0f, 0.6f, 1.0f};
    const std::vector<KeywordTerm> plain = ParseKeywords("door glass");
    const std::vector<KeywordTerm> strict = ParseKeywords("+metal -rain");
    SelectionCache cache;
    int layers = 0;
    for (int shape = 0; shape < kEventShapeCount; ++shape) {
        for (float intensity : {0.05f, 0.5f, 0.93f}) {
            for (int variant = 0; variant < 4; ++variant) {
                ScoreWishes w;
                w.intensity = intensity;
                w.neededDuration = 0.5f + 2.0f * variant;
                w.shape = static_cast<EventShape>(shape);
                w.transient = variant / 3.0f;
                w.occupancy = variant == 1 ? &occupancy : nullptr;
                w.contrastRef = variant >= 2 ? 0.4f : -1.0f;
                w.contrastCount = variant - 1;
                w.terms = variant == 2 ? &plain : variant == 3 ? &strict : nullptr;
                const int maxCount = variant == 0 ? 1 : 12 + 4 * variant;
                std::vector<ScoredCandidate> alone;
                for (const LibraryEntry* e : cands) {
                    const float score = BaseScore(*e, w);
                    if (!IsFileBanned(tl, *e) && score > 5.0f) alone.push_back({e, score});
                }
                std::sort(alone.begin(), alone.end(),
                          [](const ScoredCandidate& a, const ScoredCandidate& b) { return a.score > b.score; });
                alone.resize(std::min(alone.size(), static_cast<size_t>(maxCount)));
                ASSERT_FALSE(alone.empty());
                const std::vector<ScoredCandidate> kept = ScoreCandidates(cache, tl, cands, w, maxCount);
                ASSERT_EQ(kept.size(), alone.size()) << "layer " << layers;
                for (size_t k = 0; k < kept.size(); ++k) {
                    EXPECT_EQ(kept[k].entry, alone[k].entry) << "layer " << layers << ", place " << k;
                    EXPECT_EQ(kept[k].score, alone[k].score) << "layer " << layers << ", place " << k;
                }
                ++layers;
            }
        }
    }
}

TEST(Selection, RepeatFactorPenalisesRecentAndFrequentReuse) {
    const LibraryEntry e = NeutralEntry("hit", 1.0f);
    std::vector<UsageRecord> event, build;
    EXPECT_EQ(RepeatFactor(e, event, build, 10.0f), 1.0f);
    build.push_back({e.path, "", 0, 1, 6.0f});
    EXPECT_NEAR(RepeatFactor(e, event, build, 10.0f), 0.2f * 0.75f, 1e-6f);  // once, 4 s ago
    build.push_back({e.path, "", 0, 1, 0.0f});
    EXPECT_NEAR(RepeatFactor(e, event, build, 20.0f), 1.0f * 0.5f, 1e-6f);  // twice, nearest 14 s away
    build.push_back({e.path, "", 0, 1, 12.0f});
    build.push_back({e.path, "", 0, 1, 14.5f});
    EXPECT_NEAR(RepeatFactor(e, event, build, 16.0f), 0.1f * 0.3f, 1e-6f);  // four times, last 1.5 s away
    event.push_back({e.path, "", 0, 1, 16.0f});
    EXPECT_EQ(RepeatFactor(e, event, build, 16.0f), 0.0f);
    // The same content under another path is still the same file within an event.
    LibraryEntry copy = e;
    copy.path = "/elsewhere/hit.wav";
    copy.fileId = "0123456789abcdef";
    std::vector<UsageRecord> byId{{"/lib/hit.wav", "0123456789abcdef", 0, 1, 0}};
    EXPECT_EQ(RepeatFactor(copy, byId, {}, 0.0f), 0.0f);
    // A single candidate already used in the event leaves nothing to draw.
    std::vector<ScoredCandidate> scored{{&e, 40.0f}};
    ApplyRepeatFactors(scored, event, build, 16.0f);
    EXPECT_TRUE(scored.empty());
}

TEST(Selection, GeneratorAndWeightedDraw) {
    BuildRng rng = MakeBuildRngFromSeed(0);
    EXPECT_EQ(rng.Next(), 0.0f);
    EXPECT_EQ(rng.state, 12345u);
    EXPECT_NEAR(rng.Next(), 0.8275883f, 1e-6f);
    EXPECT_EQ(rng.state, 3554416254u);
    // Same salt within a second, same sequence; different salts, different seeds.
    EXPECT_NE(MakeBuildRng(1).state, MakeBuildRng(2).state);

    const LibraryEntry a = NeutralEntry("a", 1), b = NeutralEntry("b", 1);
    BuildRng r = MakeBuildRngFromSeed(77);
    EXPECT_EQ(PickWeighted({{&a, 5.0f}}, r), 0);
    EXPECT_EQ(PickWeighted({{&a, 0.0f}, {&b, 0.0f}}, r), 0);
    int second = 0;
    for (int i = 0; i < 20000; ++i) second += PickWeighted({{&a, 1.0f}, {&b, 3.0f}}, r);
    EXPECT_NEAR(second / 20000.0, 0.75, 0.02);
}

TEST(Selection, SourceOffsetFollowsTheLoudnessShape) {
    BuildRng rng = MakeBuildRngFromSeed(5);
    TargetCurve16 loud{};
    loud.fill(0.9f);
    const EnvelopeSource none = [](const std::string&) { return std::vector<float>{}; };
    // A file shorter than the layer is used whole.
    const LibraryEntry shortFile = NeutralEntry("short", 0.5f);
    SourceSpan s = ChooseSourceOffset(shortFile, 1.0f, loud, rng, none);
    EXPECT_EQ(s.offset, 0.0f);
    EXPECT_EQ(s.duration, 0.5f);
    // Exactly 0.01 s to spare: from the start.
    const LibraryEntry barely = NeutralEntry("barely", 1.01f);
    s = ChooseSourceOffset(barely, 1.0f, loud, rng, none);
    EXPECT_EQ(s.offset, 0.0f);
    // No envelope: anywhere in the free length.
    const LibraryEntry longFile = NeutralEntry("long", 6.0f);
    s = ChooseSourceOffset(longFile, 1.0f, loud, rng, none);
    EXPECT_GE(s.offset, 0.0f);
    EXPECT_LE(s.offset, 5.0f);
    EXPECT_EQ(s.duration, 1.0f);
    // Quiet except 3..4 s: a loud steady target finds that second.
    const EnvelopeSource burst = [](const std::string&) {
        std::vector<float> env(120, 0.02f);
        for (int i = 60; i < 80; ++i) env[static_cast<size_t>(i)] = 1.0f;
        return env;
    };
    s = ChooseSourceOffset(longFile, 1.0f, loud, rng, burst);
    EXPECT_NEAR(s.offset, 3.0f, 0.12f);
    // A target that swells at its end finds the window whose burst comes late.
    TargetCurve16 swell{};
    for (int i = 0; i < 16; ++i) swell[static_cast<size_t>(i)] = i < 12 ? 0.02f : 1.0f;
    s = ChooseSourceOffset(longFile, 1.0f, swell, rng, burst);
    EXPECT_NEAR(s.offset, 2.25f, 0.15f);
}

TEST(Selection, HistoryButtonsAndSteps) {
    Layer layer;
    EXPECT_FALSE(HistoryCanGoBack(layer));
    EXPECT_FALSE(HistoryCanGoForward(layer));
    EXPECT_STREQ(HistoryBackTooltip(layer), "No history");
    EXPECT_STREQ(HistoryForwardTooltip(layer), "Next sound");
    layer.filepath = "/lib/one.wav";
    layer.startTime = 4.0f;
    Layer next = layer;
    next.filepath = "/lib/two.wav";
    HistoryRecord(next, layer);
    layer = next;
    EXPECT_TRUE(HistoryCanGoBack(layer));
    EXPECT_STREQ(HistoryBackTooltip(layer), "Previous sound");
    layer.startTime = 5.0f;  // the layer moved since
    ASSERT_TRUE(HistoryBack(layer));
    EXPECT_EQ(layer.filepath, "/lib/one.wav");
    EXPECT_EQ(layer.startTime, 5.0f);
    EXPECT_EQ(layer.history.cursor, 0);
    EXPECT_FALSE(HistoryCanGoBack(layer));
    EXPECT_TRUE(HistoryCanGoForward(layer));
    EXPECT_STREQ(HistoryForwardTooltip(layer), "Next sound (history)");
    ASSERT_TRUE(HistoryForward(layer));
    EXPECT_EQ(layer.filepath, "/lib/two.wav");
    EXPECT_FALSE(HistoryCanGoForward(layer));
    EXPECT_STREQ(HistoryForwardTooltip(layer), "Next sound");
    EXPECT_FALSE(HistoryForward(layer));
    // Snapshots hold sounds, not histories of their own: nothing nests or grows.
    for (const Layer& kept : layer.history.entries) EXPECT_TRUE(kept.history.entries.empty());
    // A fresh choice while at the newest sound keeps it once, and the list stays bounded.
    for (int i = 0; i < 40; ++i) {
        Layer fresh = layer;
        fresh.filepath = "/lib/n" + std::to_string(i) + ".wav";
        HistoryRecord(fresh, layer);
        layer = fresh;
    }
    EXPECT_EQ(static_cast<int>(layer.history.entries.size()), kLayerHistoryMax);
    EXPECT_EQ(layer.history.entries.back().filepath, "/lib/n38.wav");
}

TEST(Selection, PlaceholderStatusTexts) {
    EXPECT_EQ(PlaceholderStatusText(0, true), "");
    EXPECT_EQ(PlaceholderStatusText(1, false), "No palette — 1 placeholder clip");
    EXPECT_EQ(PlaceholderStatusText(3, true), "Some files unreadable — 3 placeholder clips");
}

}  // namespace
}  // namespace morvane
