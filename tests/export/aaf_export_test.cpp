// The AAF part of the export over a rendered timeline: the session walked from its
// header the way a workstation reads it, its media read back with libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "aaf/session_walk.h"
#include "export/aaf_export.h"
#include "export/export_fixtures.h"
#include "export/export_job.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;

std::vector<test::ToneLayer> Scene() {
    return {
        {"Door/Slam", 1, 0, 2.00001f, 1.0f, 440.0f, 0.3f},
        {"Door/Slam", 1, 0, 2.5f, 1.0f, 550.0f, 0.3f},  // overlaps the first on its track slot
        {"Whoosh", 2, 0, 4.3f, 2.0f, 300.0f, 0.2f, false, true},
        {"Room tone", 0, 0, 0.0f, 8.0f, 100.0f, 0.1f},
        {"Muted hit", 1, 2, 6.0f, 1.0f, 880.0f, 0.3f, true},
    };
}

struct Media {
    int rate = 0, channels = 0;
    int64_t frames = 0;
    std::vector<float> samples;
};

Media ReadMedia(const std::string& path) {
    Media m;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return m;
    m.rate = info.samplerate;
    m.channels = info.channels;
    m.frames = info.frames;
    m.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, m.samples.data(), info.frames);
    sf_close(f);
    return m;
}

float Peak(const Media& m, int64_t from, int64_t to) {
    float peak = 0.0f;
    for (int64_t i = std::max<int64_t>(0, from); i < std::min(to, m.frames); ++i)
        peak = std::max(peak, std::fabs(m.samples[static_cast<size_t>(i)]));
    return peak;
}

int64_t Grid(double seconds) { return static_cast<int64_t>(std::ceil(seconds * kRate - 1e-9)); }

struct SessionRun {
    ExportOutcome outcome;
    test::WalkedSession session;
    std::string log;
};

// Exports the snapshot's session into `folder` and walks it.
SessionRun Export(ExportSnapshot& snapshot, const std::string& folder) {
    snapshot.request.folder = folder;
    testing::internal::CaptureStdout();
    SessionRun run;
    run.outcome = RunExport(snapshot, {}, nullptr);
    run.log = testing::internal::GetCapturedStdout();
    run.session = test::WalkAafSession(folder + "/Reel 1.aaf");
    return run;
}

std::shared_ptr<ExportSnapshot> Snapshot(test::ToneTimeline& t) {
    ExportSettings& s = t.project.exportSettings;
    s.exportFormatAAF = true;
    s.exportFormatWAV = false;
    return TakeExportSnapshot(t.project, *t.cache, MakeExportRequest(t.project, "", "Reel 1", 0, 0));
}

std::vector<test::WalkedClip> ClipsNamed(const test::WalkedSession& s, const std::string& part) {
    std::vector<test::WalkedClip> found;
    for (const test::WalkedTrack& t : s.tracks)
        for (const test::WalkedClip& c : t.clips)
            if (c.masterName.find(part) != std::string::npos) found.push_back(c);
    return found;
}

TEST(AafExport, EveryClipSitsWhereTheMixerPlaysItsLayerWithItsMediaBeside) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(Scene(), kRate, 10.0f);
    t.project.timeline.settings.startTC = 3600.0f;
    t.project.timeline.settings.fps = 25.0f;
    auto snapshot = Snapshot(t);
    snapshot->deconfliction = true;
    snapshot->blocks[1].deconOffset = 0.0123f;
    const SessionRun run = Export(*snapshot, dir / "Export");
    ASSERT_TRUE(run.session.ok) << run.session.error << run.log;
    EXPECT_EQ(run.outcome.resultText, "Export complete — 1 file");
    EXPECT_NE(run.log.find("[AAF] writing '" + (dir / "Export/Reel 1.aaf") + "'  (essence clips=5, handles=0"),
              std::string::npos)
        << run.log;
    EXPECT_EQ(run.session.tcStart, 3600 * 25);
    EXPECT_EQ(run.session.tcRate, 25);

    // Each audible layer: mono files for mono sources, .L and .R for the stereo one.
    const std::vector<std::string> names = {"Reel 1_001_Door_Slam", "Reel 1_002_Door_Slam", "Reel 1_003_Whoosh.L",
                                            "Reel 1_003_Whoosh.R", "Reel 1_004_Room tone"};
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t layer = i < 2 ? i : (i < 4 ? 2 : 3);
        const RenderBlock& b = snapshot->blocks[layer];
        const std::vector<test::WalkedClip> clips = ClipsNamed(run.session, names[i]);
        ASSERT_EQ(clips.size(), 1u) << names[i];
        const test::WalkedClip& c = clips[0];
        const double start = b.start + b.deconOffset;
        EXPECT_EQ(c.position, Grid(start)) << names[i];
        EXPECT_EQ(c.length, Grid(start + b.duration) - Grid(start)) << names[i];
        EXPECT_EQ(c.sourceOffset, 0) << names[i];
        EXPECT_EQ(c.path, dir / ("Export/Audio Files/" + names[i] + ".wav"));
        const Media m = ReadMedia(c.path);
        EXPECT_EQ(m.rate, kRate);
        EXPECT_EQ(m.channels, 1);
        EXPECT_EQ(m.frames, c.mediaLength);
        EXPECT_GE(m.frames, c.sourceOffset + c.length);
        // The tone at the layer's level once its fade-in is over.
        const float amplitude = layer == 3 ? 0.1f : (layer == 2 ? 0.2f : 0.3f);
        EXPECT_NEAR(Peak(m, m.frames / 3, m.frames / 2), amplitude, 0.01f) << names[i];
    }
    // The overlapping layer of the same slot went to a track of its own; L and R apart.
    std::vector<std::string> trackNames;
    for (const test::WalkedTrack& track : run.session.tracks) trackNames.push_back(track.name);
    EXPECT_EQ(trackNames, (std::vector<std::string>{"Track 1", "Track 2", "Track 3", "Track 4", "Track 5"}));
    EXPECT_TRUE(ClipsNamed(run.session, "Muted").empty());
    EXPECT_TRUE(run.session.markers.empty());
}

TEST(AafExport, EachOptionChangesTheSessionAsItShould) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(Scene(), kRate, 10.0f);
    t.project.timeline.settings.fps = 25.0f;
    t.project.timeline.events[2].syncOffset = 0.5f;
    auto snapshot = Snapshot(t);
    ExportSettings& s = snapshot->request.settings;
    // A four-channel source, and an intensity curve rising from silence to full.
    RenderBlock& room = snapshot->blocks[3];
    auto quad = std::make_shared<BlockAudio>(*room.audio);
    quad->channels.resize(4, room.audio->channels[0]);
    room.audio = quad;
    RenderBlock& whoosh = snapshot->blocks[2];
    whoosh.followsIntensity = true;
    for (int i = 0; i < kCurvePoints; ++i) whoosh.intensity[static_cast<size_t>(i)] = i / 255.0f;

    const SessionRun plain = Export(*snapshot, dir / "plain");
    ASSERT_TRUE(plain.session.ok) << plain.session.error;
    EXPECT_EQ(ClipsNamed(plain.session, "Room tone.").size(), 2u);  // folded to L and R
    const std::vector<test::WalkedClip> shaped = ClipsNamed(plain.session, "Whoosh.L");
    ASSERT_EQ(shaped.size(), 1u);
    EXPECT_TRUE(shaped[0].operation.empty());
    const Media shapedMedia = ReadMedia(shaped[0].path);
    EXPECT_LT(Peak(shapedMedia, 4800, 9600), 0.5f * Peak(shapedMedia, shapedMedia.frames - 9600, shapedMedia.frames - 4800));

    s.fadeInDuration = 0.1f;
    s.fadeOutDuration = 0.2f;
    s.snapToFrames = true;
    s.exportAAFMarkers = true;
    s.exportAAFVolAuto = true;
    s.exportAAFSourceChannels = true;
    s.exportFillVirtual = true;
    s.exportReverbStem = true;
    snapshot->project.reverb.enabled = true;
    snapshot->project.reverb.groupSends = {0.5f, 0.5f, 0.5f};
    const SessionRun all = Export(*snapshot, dir / "all");
    ASSERT_TRUE(all.session.ok) << all.session.error;
    // Every layer's clip; the reverb's two tracks (the last) span the range as they are.
    for (const test::WalkedTrack& track : all.session.tracks) {
        if (track.clips.size() == 1 && track.clips[0].masterName.rfind("Reverb.", 0) == 0) continue;
        ASSERT_EQ(track.transitions.size(), 2 * track.clips.size()) << track.name;
        for (size_t i = 0; i < track.clips.size(); ++i) {
            const test::WalkedClip& c = track.clips[i];
            // Snapped: both edges on 25 fps frames (1920 samples), the media still covering the clip.
            EXPECT_EQ(c.position % 1920, 0) << c.masterName;
            EXPECT_EQ((c.position + c.length) % 1920, 0) << c.masterName;
            EXPECT_GE(c.sourceOffset, 0);
            EXPECT_LE(c.sourceOffset + c.length, c.mediaLength);
            EXPECT_EQ(track.transitions[2 * i].position, c.position);
            EXPECT_EQ(track.transitions[2 * i].length, 4800);
            EXPECT_EQ(track.transitions[2 * i + 1].position + 9600, c.position + c.length);
            EXPECT_EQ(track.transitions[2 * i].operation, "Mono Audio Dissolve");
        }
    }
    // Each of the four channels on its own file.
    for (const char* channel : {".1", ".2", ".3", ".4"})
        EXPECT_EQ(ClipsNamed(all.session, std::string("Room tone") + channel).size(), 1u) << channel;
    // The intensity curve as gain automation, the media left unshaped.
    const std::vector<test::WalkedClip> automated = ClipsNamed(all.session, "Whoosh.L");
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].operation, "Mono Audio Gain");
    EXPECT_EQ(automated[0].interpolation, "LinearInterp");
    ASSERT_EQ(automated[0].points.size(), 33u);
    EXPECT_NEAR(automated[0].points.front().second, 0.3, 0.02);
    EXPECT_NEAR(automated[0].points.back().second, 1.0, 0.02);
    const Media flat = ReadMedia(automated[0].path);
    EXPECT_NEAR(Peak(flat, 4800, 9600), Peak(flat, flat.frames - 19200, flat.frames - 14400), 0.01f);
    // The muted layer comes along, after the audible tracks; the wet reverb on two tracks of its own.
    const std::vector<test::WalkedClip> muted = ClipsNamed(all.session, "Muted hit");
    ASSERT_EQ(muted.size(), 1u);
    ASSERT_GE(all.session.tracks.size(), 3u);
    const auto last = all.session.tracks.end();
    EXPECT_EQ((last - 3)->clips.size(), 1u);
    EXPECT_EQ((last - 3)->clips[0].masterName, muted[0].masterName);
    for (const char* side : {"Reverb.L", "Reverb.R"}) {
        const test::WalkedTrack& track = *(last - (side[7] == 'L' ? 2 : 1));
        ASSERT_EQ(track.clips.size(), 1u) << side;
        EXPECT_EQ(track.clips[0].masterName, side);
        EXPECT_EQ(track.clips[0].position, 0);
        EXPECT_EQ(track.clips[0].length, 10 * kRate);
        EXPECT_EQ(track.clips[0].path, dir / (std::string("all/Audio Files/") + side + ".wav"));
        EXPECT_GT(Peak(ReadMedia(track.clips[0].path), 0, 10 * kRate), 0.001f) << side;
    }
    // One marker per built event at its sync point.
    ASSERT_EQ(all.session.markers.size(), 5u);
    EXPECT_EQ(all.session.markers[2].first, std::llround((4.3f + 0.5f) * kRate));
}

// A source file of `seconds` seconds whose sample k is k / frames (a ramp).
void WriteRamp(const std::string& path, double seconds) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(seconds * kRate);
    std::vector<float> ramp(static_cast<size_t>(frames));
    for (sf_count_t k = 0; k < frames; ++k) ramp[static_cast<size_t>(k)] = static_cast<float>(k) / frames;
    sf_writef_float(f, ramp.data(), frames);
    sf_close(f);
}

TEST(AafExport, HandlesComeFromTheSourceFileClippedToIt) {
    test::TempDir dir;
    const std::string source = dir / "ramp.wav";
    WriteRamp(source, 10.0);
    test::ToneTimeline t = test::MakeToneTimeline({{"Ramp", 1, 0, 2.0f, 1.0f, 440.0f, 0.3f},
                                                   {"Early", 1, 1, 5.0f, 1.0f, 440.0f, 0.3f}},
                                                  kRate, 10.0f);
    for (Layer& layer : t.project.timeline.results) layer.filepath = source;
    auto snapshot = Snapshot(t);
    snapshot->blocks[0].sourceOffset = 3.0f;
    snapshot->blocks[1].sourceOffset = 0.25f;  // less than a handle before it
    ExportSettings& s = snapshot->request.settings;
    s.exportWithHandles = true;
    s.handleDuration = 1.0f;

    const SessionRun handles = Export(*snapshot, dir / "handles");
    ASSERT_TRUE(handles.session.ok) << handles.session.error;
    std::vector<test::WalkedClip> ramp = ClipsNamed(handles.session, "Reel 1_001_src_Ramp");
    ASSERT_EQ(ramp.size(), 1u);
    EXPECT_EQ(ramp[0].position, 2 * kRate);
    EXPECT_EQ(ramp[0].length, kRate);
    EXPECT_EQ(ramp[0].sourceOffset, kRate);
    EXPECT_EQ(ramp[0].mediaLength, 3 * kRate);
    Media m = ReadMedia(ramp[0].path);
    // The clip's first sample is the source at 3 s: the layer's own sound.
    EXPECT_NEAR(m.samples[static_cast<size_t>(ramp[0].sourceOffset)], 0.3f, 1e-3f);
    EXPECT_EQ(ramp[0].operation, "Mono Audio Gain");  // its level travels with it
    std::vector<test::WalkedClip> early = ClipsNamed(handles.session, "Reel 1_002_src_Early");
    ASSERT_EQ(early.size(), 1u);
    EXPECT_EQ(early[0].sourceOffset, kRate / 4);
    EXPECT_EQ(early[0].mediaLength, kRate / 4 + 2 * kRate);

    s.handleFullSource = true;
    const SessionRun whole = Export(*snapshot, dir / "whole");
    ASSERT_TRUE(whole.session.ok) << whole.session.error;
    ramp = ClipsNamed(whole.session, "_src_Ramp");
    ASSERT_EQ(ramp.size(), 1u);
    EXPECT_EQ(ramp[0].sourceOffset, 3 * kRate);
    EXPECT_EQ(ramp[0].mediaLength, 10 * kRate);
    EXPECT_EQ(ramp[0].position, 2 * kRate);

    // A layer played at another pitch than its file's keeps its rendered sound.
    snapshot->project.timeline.results[1].pitchShift = 3.0f;
    const SessionRun tuned = Export(*snapshot, dir / "tuned");
    ASSERT_TRUE(tuned.session.ok) << tuned.session.error;
    EXPECT_EQ(ClipsNamed(tuned.session, "_src_Ramp").size(), 1u);
    EXPECT_EQ(ClipsNamed(tuned.session, "Reel 1_002_Early").size(), 1u);

    // A layer whose file is gone keeps its rendered sound, without handles.
    fs::remove(source);
    const SessionRun missing = Export(*snapshot, dir / "missing");
    ASSERT_TRUE(missing.session.ok) << missing.session.error;
    EXPECT_EQ(ClipsNamed(missing.session, "Reel 1_001_Ramp").size(), 1u);
    EXPECT_TRUE(ClipsNamed(missing.session, "_src_").empty());
}

TEST(AafExport, AFailedSessionLeavesNothingOfItselfAndTheWavPartStillRuns) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(Scene(), kRate, 10.0f);
    auto snapshot = Snapshot(t);
    snapshot->request.settings.exportFormatWAV = true;
    snapshot->request.settings.exportWavMixdown = true;
    const std::string folder = dir / "Export";
    fs::create_directories(folder + "/Reel 1.aaf");  // in the way of the session file

    const SessionRun run = Export(*snapshot, folder);
    EXPECT_EQ(run.outcome.resultText, "AAF export FAILED — 1 WAV written");
    EXPECT_TRUE(run.outcome.aafFailed);
    EXPECT_NE(run.log.find("[AAF] Close FAILED hr=0x"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[Export] Rollback: removed 5 files"), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(folder + "/Audio Files"));
    EXPECT_TRUE(fs::exists(folder + "/Reel 1.wav"));

    // A folder that cannot be made at all.
    test::WriteFile(dir.path / "plain", "x");
    snapshot->request.settings.exportFormatWAV = false;
    const SessionRun nowhere = Export(*snapshot, dir / "plain/Export");
    EXPECT_EQ(nowhere.outcome.resultText, "AAF export FAILED — 0 WAVs written");
    EXPECT_NE(nowhere.outcome.failure.find("cannot create the folder"), std::string::npos) << nowhere.outcome.failure;
}

TEST(AafExport, MediaNamesFollowTheClipNumberAndChannel) {
    EXPECT_EQ(AafMediaFileName("Reel 1", 7, "Door_Slam", "", false), "Reel 1_007_Door_Slam.wav");
    EXPECT_EQ(AafMediaFileName("Reel 1", 12, "Wind", ".R", true), "Reel 1_012_src_Wind.R.wav");
    const std::string longName = AafMediaFileName("Reel", 1, std::string(400, 'x'), ".L", false);
    EXPECT_EQ(longName.size(), 255u);
    EXPECT_EQ(longName.substr(longName.size() - 7), "x.L.wav");
}

}  // namespace
}  // namespace morvane
