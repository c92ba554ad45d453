// Building events into layers over in-memory libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/event_build.h"
#include "engine/passes.h"
#include "build_fixtures.h"

namespace morvane {
namespace {

using test::NeutralEntry;

BuildOptions Fixed(uint32_t seed) {
    BuildOptions o;
    o.useFixedSeed = true;
    o.fixedSeed = seed;
    o.envelopes = [](const std::string&) { return std::vector<float>{}; };
    o.probe = [](const std::string&) { return SoundFileInfo{}; };
    return o;
}

// A varied library: random band profiles, brightness, transients and lengths.
Library RandomLibrary(int count, uint32_t seed) {
    BuildRng rng = MakeBuildRngFromSeed(seed);
    Library lib;
    lib.name = "Random";
    for (int i = 0; i < count; ++i) {
        LibraryEntry e = NeutralEntry("snd" + std::to_string(i), 0.05f + 12.0f * rng.Next() * rng.Next());
        for (int k = 0; k < 5; ++k) e.features[k] = rng.Next();
        e.features[7] = rng.Next();
        e.features[10] = rng.Next() * 0.5f;
        e.features[11] = rng.Next() * 25.0f;
        e.features[13] = rng.Next();
        e.features[14] = rng.Next() * 0.6f;
        e.attackTime = rng.Next() * 0.3f;
        e.onsetPosition = rng.Next() * 0.4f;
        e.harmonicity = rng.Next();
        e.spectralFlatness = rng.Next();
        e.fileId = i % 3 == 0 ? "" : "id" + std::to_string(i);
        lib.entries.push_back(e);
    }
    return lib;
}

Event MakeEvent(EventShape shape, float time, float duration) {
    Event ev;
    ev.shape = shape;
    ev.time = time;
    ev.duration = duration;
    return ev;
}

std::vector<std::string> ChosenFiles(const Project& p) {
    std::vector<std::string> files;
    for (const Layer& l : p.timeline.results) files.push_back(l.filepath);
    return files;
}

TEST(EventBuild, LayerCountRules) {
    Event ev = MakeEvent(EventShape::Spot, 1, 1);
    ev.spread = 0.0f;
    ev.intensity.fill(0.8f);
    EXPECT_EQ(EventLayerCount(ev), 3);  // 0.8 is not above 0.8
    ev.intensity[100] = 0.81f;
    EXPECT_EQ(EventLayerCount(ev), 4);
    ev.intensityScale = 0.5f;
    EXPECT_EQ(EventLayerCount(ev), 3);
    ev.intensityScale = 1.0f;
    ev.spread = 1.0f;
    ev.intensity.fill(1.0f);
    ev.hero = true;
    EXPECT_EQ(EventLayerCount(ev), 8);  // 11, cut to 8
    ev.hero = false;
    EXPECT_EQ(EventLayerCount(ev), 7);
    ev.spread = 0.5f;
    EXPECT_EQ(EventLayerCount(ev), 6);  // floor(1.5 + 0.5) + 3 + 1
    Event fill = MakeEvent(EventShape::Fill, 0, 10);
    fill.fillLayers = 30;
    EXPECT_EQ(EventLayerCount(fill), 24);
    fill.fillLayers = 2;
    EXPECT_EQ(EventLayerCount(fill), 2);  // the cap is the fill count
    fill.fillLayers = 12;
    EXPECT_EQ(EventLayerCount(fill), 12);
}

TEST(EventBuild, SaltAndSeedDecideTheDraw) {
    const std::vector<Library> libs{RandomLibrary(200, 3)};
    const std::vector<LibraryRoot> roots = RootsOf(libs);
    Project base;
    for (int i = 0; i < 30; ++i) base.timeline.events.push_back(MakeEvent(static_cast<EventShape>(i % 5), i * 2.0f, 1.5f));
    Project a = base, b = base, c = base;
    BuildEvents(a, roots, -1, -1, -1, 0, Fixed(11));
    BuildEvents(b, roots, -1, -1, -1, 0, Fixed(11));
    BuildEvents(c, roots, -1, -1, -1, 0, Fixed(12));
    EXPECT_EQ(a.timeline.results, b.timeline.results);
    EXPECT_NE(ChosenFiles(a), ChosenFiles(c));
    // With the clock: builds in the same second differ by their salts.
    BuildOptions clock = Fixed(0);
    clock.useFixedSeed = false;
    Project d = base, e = base;
    const BuildResult rd = BuildEvents(d, roots, -1, -1, -1, 1, clock);
    const BuildResult re = BuildEvents(e, roots, -1, -1, -1, 2, clock);
    EXPECT_NE(rd.seed, re.seed);
    EXPECT_NE(ChosenFiles(d), ChosenFiles(e));
}

TEST(EventBuild, EventsWithoutCandidatesGetSketchesOrNoMatch) {
    Library lib;
    lib.name = "One";
    lib.entries = {NeutralEntry("only", 2.0f)};
    const std::vector<Library> libs{lib};
    const std::vector<LibraryRoot> roots = RootsOf(libs);
    Project p;
    p.timeline.events.push_back(MakeEvent(EventShape::Spot, 1, 1));
    p.timeline.events[0].spread = 0.0f;
    BuildResult r = BuildEvents(p, roots, -1, -1, -1, 0, Fixed(1));
    ASSERT_EQ(p.timeline.results.size(), 3u);
    EXPECT_EQ(p.timeline.results[0].filepath, "/lib/only.wav");
    EXPECT_EQ(p.timeline.results[1].name, "(no match)");  // the only file is taken
    EXPECT_EQ(r.noMatchLayers, 2);
    EXPECT_EQ(r.placeholderLayers, 0);

    p.timeline.events[0].libFilter = "~none~";
    r = BuildEvents(p, roots, -1, -1, -1, 0, Fixed(1));
    ASSERT_EQ(p.timeline.results.size(), 3u);
    EXPECT_EQ(p.timeline.results[0].name, "[Sketch] Spot");
    EXPECT_TRUE(IsPlaceholderLayer(p.timeline.results[0]));
    EXPECT_EQ(r.statusText, "Some files unreadable — 3 placeholder clips");
    r = BuildEvents(p, {}, -1, -1, -1, 0, Fixed(1));
    EXPECT_EQ(r.statusText, "No palette — 3 placeholder clips");
    // A filter naming nothing in the event's group falls back to all classes.
    std::vector<Library> classed = libs;
    classed[0].weightClass = 0;
    p.timeline.events[0].libFilter = "One";
    r = BuildEvents(p, RootsOf(classed), -1, -1, -1, 0, Fixed(1));
    EXPECT_EQ(p.timeline.results[0].filepath, "/lib/only.wav");
}

TEST(EventBuild, PinnedFilesComeFirstAndMissingOnesAreKept) {
    Library lib = RandomLibrary(50, 9);
    lib.entries[7].fileId = "feedfeedfeedfeed";
    const std::vector<Library> libs{lib};
    Project p;
    Event ev = MakeEvent(EventShape::Spot, 2, 1);
    ev.spread = 0.0f;
    ev.pinnedFiles = {"/old/place.wav", "/gone.wav"};
    ev.pinnedFileIds = {"feedfeedfeedfeed", ""};
    p.timeline.events.push_back(ev);
    const BuildResult r = BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(4));
    ASSERT_EQ(p.timeline.results.size(), 3u);
    EXPECT_EQ(p.timeline.results[0].filepath, lib.entries[7].path);  // found by identity
    EXPECT_EQ(p.timeline.results[0].name, lib.entries[7].name);
    EXPECT_EQ(p.timeline.results[1].filepath, "/gone.wav");
    ASSERT_EQ(r.missingLayers.size(), 1u);
    EXPECT_EQ(r.missingLayers[0], 1);
    for (const Layer& l : p.timeline.results) {
        EXPECT_GE(l.startTime, 2.0f - kSpanSlack - 1e-5f);
        EXPECT_LE(l.fadeIn + l.fadeOut, 0.85f * l.duration + 1e-5f);
    }
    // The third, chosen layer never repeats a pinned file.
    EXPECT_NE(p.timeline.results[2].filepath, lib.entries[7].path);
}

TEST(EventBuild, NextSoundBansAndPinsAcrossRebuilds) {
    const std::vector<Library> libs{RandomLibrary(60, 21)};
    const auto roots = RootsOf(libs);
    Project p;
    p.timeline.events = {MakeEvent(EventShape::Spot, 2, 1), MakeEvent(EventShape::Bloom, 6, 3)};
    BuildEvents(p, roots, -1, -1, -1, 0, Fixed(5));
    auto layersOf = [&](int event) {
        std::vector<int> out;
        for (size_t i = 0; i < p.timeline.results.size(); ++i)
            if (p.timeline.results[i].eventIdx == event) out.push_back(static_cast<int>(i));
        return out;
    };
    auto filesOf = [&](int event) {
        std::set<std::string> files;
        for (int i : layersOf(event)) files.insert(p.timeline.results[static_cast<size_t>(i)].filepath);
        return files;
    };

    // "Next sound" draws a file none of the event's layers had, and keeps the old one
    // in the layer's history; "Previous sound" brings it back.
    const int target = layersOf(1)[1];
    const std::set<std::string> bloomFiles = filesOf(1);
    const Layer before = p.timeline.results[static_cast<size_t>(target)];
    ASSERT_TRUE(ChooseNextSound(p, roots, target, Fixed(6)));
    Layer& now = p.timeline.results[static_cast<size_t>(target)];
    EXPECT_EQ(bloomFiles.count(now.filepath), 0u) << now.filepath;
    EXPECT_EQ(now.eventIdx, 1);
    EXPECT_EQ(now.track, before.track);
    ASSERT_TRUE(HistoryCanGoBack(now));
    ASSERT_TRUE(HistoryBack(now));
    EXPECT_EQ(now.filepath, before.filepath);
    ASSERT_TRUE(HistoryForward(now));
    EXPECT_NE(now.filepath, before.filepath);

    // A banned file never comes back, however often the event is built again.
    const std::string banned = p.timeline.results[static_cast<size_t>(layersOf(0)[0])].filepath;
    p.timeline.bannedFiles.push_back(banned);
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        BuildEvents(p, roots, 0, -1, -1, 0, Fixed(seed));
        EXPECT_EQ(filesOf(0).count(banned), 0u) << "seed " << seed;
    }
    // Rebuilt layers carry the sounds before the rebuild in their histories.
    EXPECT_TRUE(HistoryCanGoBack(p.timeline.results[static_cast<size_t>(layersOf(0)[0])]));

    // A pinned file stays through every rebuild, and "Next sound" leaves it alone.
    const int pinnedLayer = layersOf(1)[2];
    const Layer pinnedSound = p.timeline.results[static_cast<size_t>(pinnedLayer)];
    p.timeline.events[1].pinnedFiles = {pinnedSound.filepath};
    p.timeline.events[1].pinnedFileIds = {pinnedSound.fileId};
    EXPECT_TRUE(LayerIsPinned(p.timeline.events[1], pinnedSound));
    for (uint32_t seed = 11; seed <= 14; ++seed) {
        BuildEvents(p, roots, 1, -1, -1, 0, Fixed(seed));
        EXPECT_EQ(filesOf(1).count(pinnedSound.filepath), 1u) << "seed " << seed;
    }
    const int pinnedNow = layersOf(1)[0];
    EXPECT_EQ(p.timeline.results[static_cast<size_t>(pinnedNow)].filepath, pinnedSound.filepath);
    EXPECT_FALSE(CanChooseNextSound(p, pinnedNow));
    EXPECT_FALSE(ChooseNextSound(p, roots, pinnedNow, Fixed(3)));
    EXPECT_FALSE(ChooseNextSound(p, roots, 999, Fixed(3)));
}

TEST(EventBuild, RangeLocksAndSingleEventBuilds) {
    const std::vector<Library> libs{RandomLibrary(80, 2)};
    const auto roots = RootsOf(libs);
    Project p;
    p.timeline.events = {MakeEvent(EventShape::Spot, 5.0f, 1), MakeEvent(EventShape::Spot, 10.0f, 1),
                         MakeEvent(EventShape::Spot, 10.001f, 1), MakeEvent(EventShape::Spot, 7.0f, 1)};
    p.timeline.events[3].locked = true;
    BuildEvents(p, roots, -1, 5.0f, 10.0f, 0, Fixed(3));
    std::set<int> built;
    for (const Layer& l : p.timeline.results) built.insert(l.eventIdx);
    EXPECT_EQ(built, (std::set<int>{0, 1}));
    // One event on request: its lock goes, the others' layers stay.
    const size_t before = p.timeline.results.size();
    BuildEvents(p, roots, 3, -1, -1, 0, Fixed(3));
    EXPECT_FALSE(p.timeline.events[3].locked);
    EXPECT_GT(p.timeline.results.size(), before);
    for (size_t i = 1; i < p.timeline.results.size(); ++i)
        EXPECT_LE(p.timeline.results[i - 1].eventIdx, p.timeline.results[i].eventIdx);
}

TEST(EventBuild, SpotAttacksLandOnTheSyncPoint) {
    Library lib;
    lib.name = "Hits";
    for (int i = 0; i < 6; ++i) {
        LibraryEntry e = NeutralEntry("hit" + std::to_string(i), 2.0f);
        e.onsetPosition = 0.1f;  // 0.2 s of lead-in before the attack
        lib.entries.push_back(e);
    }
    const std::vector<Library> libs{lib};
    Project p;
    Event ev = MakeEvent(EventShape::Spot, 3.0f, 1.0f);
    ev.syncOffset = 0.5f;  // the event opens 0.5 s before its hit
    p.timeline.events.push_back(ev);
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(8));
    ASSERT_FALSE(p.timeline.results.empty());
    for (const Layer& l : p.timeline.results) {
        EXPECT_NEAR(l.startTime + 0.2f - l.sourceOffset, 3.0f, 1e-4f);
        EXPECT_LE(l.startTime + l.duration, 3.5f + kSpanSlack + 1e-4f);
    }
    // Without room for the lead-in, the source start moves instead: the attack still lands.
    p.timeline.events[0].syncOffset = 0.0f;
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(8));
    for (const Layer& l : p.timeline.results) {
        EXPECT_NEAR(l.startTime, 3.0f - kSpanSlack, 1e-4f);
        EXPECT_NEAR(l.sourceOffset, 0.2f - kSpanSlack, 1e-4f);
    }
}

TEST(EventBuild, ClipBedAndAlloyEvents) {
    Library lib = RandomLibrary(60, 5);
    lib.entries[4].fileId = "cafecafecafecafe";
    const std::vector<Library> libs{lib};
    Project p;
    p.timeline.settings.totalDuration = 20.0f;
    p.timeline.settings.fps = 25.0f;
    Event clip = MakeEvent(EventShape::Clip, 18.0f, 3.0f);
    clip.pinnedFile = "/moved/clip.wav";
    clip.pinnedFileId = "cafecafecafecafe";
    clip.clipSourceOffset = 0.5f;
    Event missing = MakeEvent(EventShape::Clip, 1.0f, 2.0f);
    missing.pinnedFile = "/nowhere.wav";
    Event bed = MakeEvent(EventShape::Bed, 0.0f, 8.0f);
    bed.pinnedFiles = {lib.entries[1].path, lib.entries[2].path};
    bed.pinnedFileIds = {"", ""};
    bed.bedLayerLoop = {1, 0};
    bed.bedLayerWeight = {-1.0f, 0.8f};
    Event alloy = MakeEvent(EventShape::Bloom, 4.0f, 3.0f);
    alloy.alloy = true;
    for (int i = 0; i < kCurvePoints; ++i) alloy.intensity[static_cast<size_t>(i)] = static_cast<float>(i) / 255.0f;
    p.timeline.events = {clip, missing, bed, alloy};
    BuildOptions o = Fixed(6);
    o.probe = [&](const std::string& path) {
        return path == lib.entries[4].path ? SoundFileInfo{true, 4.0, 2} : SoundFileInfo{};
    };
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, o);
    std::vector<const Layer*> of[4];
    for (const Layer& l : p.timeline.results) of[l.eventIdx].push_back(&l);
    ASSERT_EQ(of[0].size(), 1u);
    EXPECT_EQ(p.timeline.events[0].pinnedFile, lib.entries[4].path);  // relinked by identity
    EXPECT_TRUE(of[0][0]->stereo);
    EXPECT_NEAR(of[0][0]->duration, 2.0f, 1e-5f);  // cut at the project's end
    EXPECT_NEAR(of[0][0]->fadeIn, 0.01f, 1e-6f);
    EXPECT_NEAR(of[0][0]->fadeOut, 0.05f, 1e-6f);
    EXPECT_EQ(of[0][0]->group, 1);
    ASSERT_EQ(of[1].size(), 1u);
    EXPECT_EQ(of[1][0]->name, "[Missing]");
    EXPECT_EQ(of[1][0]->duration, 2.0f);
    ASSERT_EQ(of[2].size(), 2u);
    EXPECT_NEAR(of[2][0]->duration, 8.04f, 1e-4f);
    EXPECT_TRUE(of[2][0]->fillLoop);
    EXPECT_EQ(of[2][0]->weight, 0.5f);
    EXPECT_EQ(of[2][1]->weight, 0.8f);
    EXPECT_EQ(of[2][0]->group, 0);
    int stems = 0;
    for (const Layer* l : of[3]) {
        if (l->procMode != ProcMode::Alloy) continue;
        ++stems;
        // Every source slot is filled; the first sub-target always finds its own file.
        EXPECT_FALSE(l->filepath.empty());
        EXPECT_FALSE(l->alloyMid.filepath.empty());
        EXPECT_FALSE(l->alloyHigh.filepath.empty());
        EXPECT_FALSE(l->alloyEnv.filepath.empty());
        EXPECT_EQ(l->alloyAlgo, p.timeline.settings.alloyAlgorithm);
    }
    EXPECT_EQ(stems, 3);  // the curve spans the whole range
    EXPECT_EQ(static_cast<int>(of[3].size()), EventLayerCount(alloy));
    // A Bed rebuild keeps the layers that still belong to its pinned files.
    for (Layer& l : p.timeline.results)
        if (l.eventIdx == 2) l.userVolume = 0.3f;
    p.timeline.events[2].pinnedFiles.pop_back();
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, o);
    int bedLayers = 0;
    for (const Layer& l : p.timeline.results)
        if (l.eventIdx == 2) {
            ++bedLayers;
            EXPECT_EQ(l.userVolume, 0.3f);
        }
    EXPECT_EQ(bedLayers, 1);
}

// Over a large random timeline every placement keeps to its event.
TEST(EventBuild, EveryLayerKeepsToItsEventSpan) {
    std::vector<Library> libs{RandomLibrary(400, 21), RandomLibrary(100, 22)};
    libs[1].name = "Second";
    libs[1].weightClass = 2;
    for (LibraryEntry& e : libs[1].entries) e.path = "/second" + e.path;
    BuildRng rng = MakeBuildRngFromSeed(99);
    Project p;
    p.timeline.settings.totalDuration = 1200.0f;
    p.timeline.settings.pitchShiftProb = 30;
    for (int i = 0; i < 420; ++i) {
        Event ev = MakeEvent(static_cast<EventShape>(i % 5), rng.Next() * 1000.0f, 0.02f + rng.Next() * rng.Next() * 20.0f);
        ev.syncOffset = (rng.Next() - 0.3f) * 0.6f;
        ev.spread = rng.Next();
        ev.hero = rng.Next() < 0.15f;
        ev.alloy = rng.Next() < 0.2f;
        ev.pitchVariation = rng.Next() < 0.5f ? rng.Next() : 0.0f;
        ev.fillLayers = ev.shape == EventShape::Fill && rng.Next() < 0.3f ? 1 + static_cast<int>(rng.Next() * 30) : 0;
        ev.intensityScale = 0.5f + rng.Next();
        const float a = rng.Next(), b = rng.Next();
        for (int k = 0; k < kCurvePoints; ++k) {
            const float x = static_cast<float>(k) / (kCurvePoints - 1);
            ev.intensity[static_cast<size_t>(k)] = std::clamp(a + (b - a) * x + 0.3f * std::sin(x * 9.0f * b), 0.0f, 1.0f);
        }
        if (rng.Next() < 0.1f) ev.keywords = "snd1* -snd2";
        if (rng.Next() < 0.05f) ev.libFilter = "Second";
        p.timeline.events.push_back(ev);
    }
    Event bed = MakeEvent(EventShape::Bed, 100.0f, 30.0f);
    bed.pinnedFiles = {libs[0].entries[0].path};
    p.timeline.events.push_back(bed);
    const BuildResult r = BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(1234));
    EXPECT_EQ(r.eventsBuilt, 421);
    ASSERT_GT(p.timeline.results.size(), 1500u);
    std::map<std::string, const LibraryEntry*> byPath;
    for (const Library& lib : libs)
        for (const LibraryEntry& e : lib.entries) byPath[e.path] = &e;
    std::vector<std::set<std::string>> filesOf(p.timeline.events.size());
    for (const Layer& l : p.timeline.results) {
        const Event& ev = p.timeline.events[static_cast<size_t>(l.eventIdx)];
        const float s = EventStart(ev), e = EventEnd(ev);
        SCOPED_TRACE("event " + std::to_string(l.eventIdx) + " shape " + EventShapeName(ev.shape));
        if (ev.shape == EventShape::Fill || ev.shape == EventShape::Bed) {
            EXPECT_LE(l.startTime, s + 1e-4f);
            EXPECT_GE(l.startTime + l.duration, e - 1e-4f);
        } else {
            EXPECT_GE(l.startTime, s - kSpanSlack - 1e-4f);
            EXPECT_LE(l.startTime + l.duration, e + kSpanSlack + 1e-4f);
        }
        EXPECT_GE(l.duration, 0.0f);
        EXPECT_GE(l.fadeIn, 0.0f);
        EXPECT_LE(l.fadeIn + l.fadeOut, l.duration + 1e-4f);
        EXPECT_EQ(l.group, EventGroup(ev));
        EXPECT_EQ(l.pitchShift, l.pitchVarShift);
        if (ev.shape == EventShape::Fill) {
            EXPECT_EQ(l.pitchVarShift, 0.0f);
        }
        auto it = byPath.find(l.filepath);
        if (it == byPath.end()) continue;
        // Never past the end of the file, never the same file twice in one event.
        const float ratio = std::fabs(l.pitchShift) > 0.01f ? std::pow(2.0f, l.pitchShift / 12.0f) : 1.0f;
        EXPECT_GE(l.sourceOffset, -1e-4f);
        if (ev.shape != EventShape::Fill && ev.shape != EventShape::Bed && l.procMode != ProcMode::Alloy) {
            // Slack of the 0.1 s shortest layer, which may outlast a tiny file.
            EXPECT_LE(l.sourceOffset + l.duration * ratio, it->second->duration + 1e-3f + 0.1f * ratio);
        }
        EXPECT_TRUE(filesOf[static_cast<size_t>(l.eventIdx)].insert(l.filepath).second);
        if (ev.libFilter == "Second") {
            EXPECT_EQ(l.filepath.rfind("/second", 0), 0u);
        }
    }
    // The passes keep every rule they promise over the same timeline.
    p.timeline.trackLayout.budgetMode = true;
    RunPostBuildPasses(p, MakeBandLookup(RootsOf(libs)), true, true);
    for (const Layer& l : p.timeline.results) {
        EXPECT_LE(std::fabs(l.deconOffset), 0.03f + 1e-5f);
        if (!l.muted) {
            EXPECT_GE(l.groupTrack, 0);
        }
        const bool bedLayer = p.timeline.events[static_cast<size_t>(l.eventIdx)].shape == EventShape::Bed;
        if (!l.muted && !bedLayer) {
            EXPECT_LT(l.groupTrack, p.timeline.trackLayout.groups[static_cast<size_t>(l.group)].trackCount);
        }
        for (float g : l.deconGain) EXPECT_GE(g, std::pow(10.0f, -9.0f / 20.0f) - 1e-4f);
        for (float g : l.eqGains) EXPECT_GE(g, std::pow(10.0f, -6.0f / 20.0f) - 1e-4f);
    }
}

TEST(EventBuild, ScatterIsDenserWhereIntensityIsHigher) {
    const std::vector<Library> libs{RandomLibrary(300, 31)};
    Project p;
    for (int i = 0; i < 40; ++i) {
        Event ev = MakeEvent(EventShape::Scatter, i * 10.0f, 8.0f);
        for (int k = 0; k < kCurvePoints; ++k) ev.intensity[static_cast<size_t>(k)] = k < 192 ? 0.1f : 1.0f;
        p.timeline.events.push_back(ev);
    }
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(17));
    int late = 0, total = 0;
    for (const Layer& l : p.timeline.results) {
        const float frac = (l.startTime - EventStart(p.timeline.events[static_cast<size_t>(l.eventIdx)])) / 8.0f;
        late += frac >= 0.7f ? 1 : 0;
        ++total;
    }
    // The last quarter holds about three quarters of the intensity: most sounds land there.
    EXPECT_GT(late, total / 2);
    EXPECT_LT(late, total);  // but not all: the quiet stretch still gets some
}

TEST(EventBuild, BloomLayersFollowTheCurve) {
    const std::vector<Library> libs{RandomLibrary(200, 41)};
    Project p;
    Event ev = MakeEvent(EventShape::Bloom, 2.0f, 4.0f);
    for (int k = 0; k < kCurvePoints; ++k)
        ev.intensity[static_cast<size_t>(k)] = std::sin(static_cast<float>(k) / 255.0f * 3.14159f);
    p.timeline.events.push_back(ev);
    BuildEvents(p, RootsOf(libs), -1, -1, -1, 0, Fixed(2));
    for (const Layer& l : p.timeline.results) {
        if (l.filepath.empty()) continue;
        ASSERT_TRUE(l.hasIntGain);
        // Quiet at the edges of the swell, full at its middle, for a layer that spans it.
        if (l.duration > 3.9f) {
            EXPECT_LT(l.intGain[2], 0.3f);
            EXPECT_GT(l.intGain[kIntGainPoints / 2], 0.8f);
        }
    }
}

}  // namespace
}  // namespace morvane
