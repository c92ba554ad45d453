// The WAV export modes over a rendered timeline, read back by ffprobe, libsndfile
// and a chunk walker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/loudness.h"
#include "export/export_fixtures.h"
#include "export/export_job.h"
#include "export/export_layouts.h"
#include "export/wav_export.h"
#include "export/wav_readers.h"
#include "support/test_support.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

std::vector<test::ToneLayer> DoorScene() {
    return {
        {"Door/Slam", 1, 0, 12.0f, 1.0f, 440.0f, 0.3f},
        {"Door/Slam", 1, 1, 15.0f, 2.0f, 550.0f, 0.3f},
        {"Whoosh", 2, 0, 9.0f, 2.0f, 300.0f, 0.2f, false, true},  // starts before the work area
        {"Room tone", 0, 0, 25.0f, 3.0f, 100.0f, 0.1f},           // after the work area
        {"Muted hit", 1, 2, 13.0f, 1.0f, 880.0f, 0.3f, true},
    };
}

ExportRequest Request(const Project& project, const std::string& folder) {
    return MakeExportRequest(project, folder, "Reel 1", 0, 0);
}

std::string Ref(double seconds, int rate = 48000) {
    return std::to_string(static_cast<uint64_t>(seconds * rate));
}

double Peak(const test::ReadBack& r, int channel) {
    double peak = 0.0;
    for (int64_t i = 0; i < r.frames; ++i)
        peak = std::max(peak, std::fabs(r.samples[static_cast<size_t>(i * r.channels + channel)] / 2147483648.0));
    return peak;
}

TEST(WavExport, EveryKindLandsAtTheWorkAreaTimecode) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(DoorScene());
    Project& p = t.project;
    p.workAreaIn = 10.0f;
    p.workAreaOut = 20.0f;
    p.timeline.settings.startTC = 3600.0f;
    p.reverb.enabled = true;
    p.reverb.groupSends = {0.5f, 0.5f, 0.5f};
    ExportSettings& s = p.exportSettings;
    s.exportWavMixdown = s.exportWavStems = s.exportWavTracks = s.exportWavClips = true;
    s.exportReverbStem = true;
    const std::string folder = dir / "Export";
    auto snapshot = TakeExportSnapshot(p, *t.cache, Request(p, folder));

    std::vector<std::string> kinds;
    ExportObserver observer;
    observer.kindStarted = [&](int, const std::string& text) { kinds.push_back(text); };
    testing::internal::CaptureStdout();
    const ExportOutcome outcome = RunExport(*snapshot, observer, nullptr);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(kinds, (std::vector<std::string>{"Exporting mix…", "Exporting stems…", "Exporting tracks…",
                                               "Exporting clips…"}));

    const std::vector<std::string> sameStart = {
        folder + "/Reel 1.wav",
        folder + "/Reel 1 - Backgrounds.wav",
        folder + "/Reel 1 - Hits.wav",
        folder + "/Reel 1 - Whooshes.wav",
        folder + "/Reel 1 - Reverb.wav",
        folder + "/Tracks/Reel 1 - Backgrounds 01.wav",
        folder + "/Tracks/Reel 1 - Hits 01.wav",
        folder + "/Tracks/Reel 1 - Hits 02.wav",
        folder + "/Tracks/Reel 1 - Whooshes 01.wav",
        folder + "/Clips/Whoosh.wav",  // cut to the work area: starts where it does
    };
    for (const std::string& path : sameStart) {
        EXPECT_EQ(test::Probe(path, "format_tags=time_reference"), Ref(3610)) << path;
    }
    for (const std::string& path : std::vector<std::string>(sameStart.begin(), sameStart.begin() + 9))
        EXPECT_EQ(test::ReadWav(path).frames, 480000) << path;
    EXPECT_EQ(test::Probe(folder + "/Clips/Door_Slam.wav", "format_tags=time_reference"), Ref(3612));
    EXPECT_EQ(test::Probe(folder + "/Clips/Door_Slam_2.wav", "format_tags=time_reference"), Ref(3615));
    EXPECT_EQ(test::ReadWav(folder + "/Clips/Door_Slam_2.wav").frames, 96000);
    EXPECT_EQ(test::ReadWav(folder + "/Clips/Whoosh.wav").frames, 48000);
    EXPECT_STREQ(test::ReadWav(folder + "/Clips/Door_Slam.wav").bext.description, "Door/Slam");
    // Muted layers and layers outside the work area give no clip and no track of their own.
    EXPECT_FALSE(fs::exists(folder + "/Clips/Muted hit.wav"));
    EXPECT_FALSE(fs::exists(folder + "/Clips/Room tone.wav"));
    EXPECT_FALSE(fs::exists(folder + "/Tracks/Reel 1 - Hits 03.wav"));
    EXPECT_EQ(outcome.files, 1 + 3 + 1 + 4 + 3);  // mix, stems, wet stem, tracks, clips
    EXPECT_EQ(outcome.resultText, "Export complete — 12 files");
    // Mono groups give mono tracks; the stereo stems and mix are stereo.
    EXPECT_EQ(test::ReadWav(folder + "/Tracks/Reel 1 - Hits 01.wav").channels, 1);
    EXPECT_EQ(test::ReadWav(folder + "/Reel 1 - Hits.wav").channels, 2);

    // The mix carries the reverb, the dry stems do not; the wet stem is the difference.
    const test::ReadBack mix = test::ReadWav(folder + "/Reel 1.wav");
    const test::ReadBack wet = test::ReadWav(folder + "/Reel 1 - Reverb.wav");
    const test::ReadBack hits = test::ReadWav(folder + "/Reel 1 - Hits.wav");
    EXPECT_GT(Peak(wet, 0), 0.001);
    EXPECT_GT(Peak(mix, 0), Peak(hits, 0) * 0.5);
    // After the last sound in the range ends (17 s), only the reverb tail is left in the mix.
    const size_t tail = static_cast<size_t>((17.5 - 10.0) * 48000) * 2;
    EXPECT_NEAR(mix.samples[tail] / 2147483648.0, wet.samples[tail] / 2147483648.0, 1e-3);
    EXPECT_EQ(hits.samples[tail], 0);

    EXPECT_NE(log.find("[ExportWAV] Mixdown written to " + folder + "/Reel 1.wav\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[ExportWAV] 4 tracks written to " + folder + "/Tracks/\n"), std::string::npos);
    EXPECT_NE(log.find("[ExportWAV] 3 clips written to " + folder + "/Clips/\n"), std::string::npos);
    EXPECT_NE(log.find("[ExportWAV] Reverb stem written to " + folder + "/Reel 1 - Reverb.wav\n"), std::string::npos);
    EXPECT_EQ(log.find("Rollback"), std::string::npos);
}

TEST(WavExport, RangeNamesAndReverbStemRules) {
    // An inverted work area is ignored: the whole timeline.
    EXPECT_EQ(ComputeExportRange(20.0f, 10.0f, 30.0f).start, 0.0);
    EXPECT_EQ(ComputeExportRange(20.0f, 20.0f, 30.0f).end, 30.0);
    EXPECT_EQ(ComputeExportRange(-1.0f, 10.0f, 30.0f).end, 30.0);
    EXPECT_EQ(ComputeExportRange(5.0f, 10.0f, 30.0f).end, 10.0);

    ClipNamer namer;
    EXPECT_EQ(namer.Next("Door/Slam"), "Door_Slam");
    EXPECT_EQ(namer.Next("Door/Slam"), "Door_Slam_2");
    EXPECT_EQ(namer.Next("Door\\Slam"), "Door_Slam_3");
    EXPECT_EQ(namer.Next("Door_Slam_2"), "Door_Slam_2_2");  // never overwrites the second Door/Slam
    EXPECT_EQ(namer.Next(""), "clip");
    EXPECT_EQ(namer.Next("a:b"), "a_b");
    EXPECT_EQ(namer.Next("Hum.WAV"), "Hum");  // a file's name does not bring its extension twice

    // Only the mix and the reverb stem chosen: no wet stem (the mix carries the reverb).
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(DoorScene());
    t.project.reverb.enabled = true;
    t.project.exportSettings.exportWavMixdown = true;
    t.project.exportSettings.exportWavStems = false;
    t.project.exportSettings.exportReverbStem = true;
    const std::string folder = dir / "MixOnly";
    testing::internal::CaptureStdout();
    auto outcome = RunExport(*TakeExportSnapshot(t.project, *t.cache, Request(t.project, folder)), {}, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome.files, 1);
    EXPECT_TRUE(fs::exists(folder + "/Reel 1.wav"));
    EXPECT_FALSE(fs::exists(folder + "/Reel 1 - Reverb.wav"));
    // The whole timeline: 30 s.
    EXPECT_EQ(test::ReadWav(folder + "/Reel 1.wav").frames, 30 * 48000);

    // Reverb stem asked for but reverb off: none either.
    t.project.reverb.enabled = false;
    t.project.exportSettings.exportWavStems = true;
    const std::string folder2 = dir / "NoReverb";
    testing::internal::CaptureStdout();
    outcome = RunExport(*TakeExportSnapshot(t.project, *t.cache, Request(t.project, folder2)), {}, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(folder2 + "/Reel 1 - Reverb.wav"));
    EXPECT_EQ(outcome.files, 4);  // mix and three stems
}

TEST(WavExport, LoudnessTargetAppliesToTheMixOnly) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline({{"Bed", 1, 0, 0.0f, 10.0f, 1000.0f, 0.02f}}, 48000, 10.0f);
    t.project.exportSettings.exportWavMixdown = true;
    t.project.exportSettings.exportWavStems = true;
    auto measure = [](const std::string& path) {
        const test::ReadBack r = test::ReadWav(path);
        std::vector<float> l(static_cast<size_t>(r.frames)), rr(static_cast<size_t>(r.frames));
        for (int64_t i = 0; i < r.frames; ++i) {
            l[static_cast<size_t>(i)] = static_cast<float>(r.samples[static_cast<size_t>(2 * i)] / 2147483648.0);
            rr[static_cast<size_t>(i)] = static_cast<float>(r.samples[static_cast<size_t>(2 * i + 1)] / 2147483648.0);
        }
        return MeasureLoudness(l.data(), rr.data(), static_cast<int32_t>(r.frames), 48000);
    };
    testing::internal::CaptureStdout();
    ExportRequest plain = MakeExportRequest(t.project, dir / "Plain", "Bed", 0, 0);
    RunExport(*TakeExportSnapshot(t.project, *t.cache, plain), {}, nullptr);
    ExportRequest loud = MakeExportRequest(t.project, dir / "Loud", "Bed", 4, 0);  // -23 LUFS
    RunExport(*TakeExportSnapshot(t.project, *t.cache, loud), {}, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_NEAR(measure(dir / "Loud/Bed.wav"), -23.0f, 0.3f);
    EXPECT_LT(measure(dir / "Plain/Bed.wav"), -27.0f);
    // The stem is the same with and without a target.
    EXPECT_EQ(test::ReadFile(dir / "Loud/Bed - Hits.wav"), test::ReadFile(dir / "Plain/Bed - Hits.wav"));
    EXPECT_EQ(ExportLoudnessTarget(1), -14.0f);
    EXPECT_EQ(ExportLoudnessTarget(3), -18.0f);
    EXPECT_EQ(ExportLoudnessTarget(0), 0.0f);
}

TEST(WavExport, SurroundAndAmbisonicLayouts) {
    test::TempDir dir;
    // A mono sound at the front.
    test::ToneTimeline t = test::MakeToneTimeline({{"Front", 1, 0, 0.5f, 1.0f, 500.0f, 0.4f}}, 48000, 2.0f);
    t.project.exportSettings.exportWavMixdown = true;
    t.project.exportSettings.exportWavStems = true;
    testing::internal::CaptureStdout();
    for (int layout : {1, 2, 3}) {
        ExportRequest r = MakeExportRequest(t.project, dir / ("L" + std::to_string(layout)), "Mix", 0, layout);
        EXPECT_EQ(RunExport(*TakeExportSnapshot(t.project, *t.cache, r), {}, nullptr).files, 2);
    }
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[ExportWAV] 5.1 mixdown written to " + (dir / "L1/Mix.wav")), std::string::npos) << log;
    EXPECT_NE(log.find("[ExportWAV] AmbiX mixdown written to " + (dir / "L3/Mix.wav")), std::string::npos);

    for (const std::string& path : {dir / "L1/Mix.wav", dir / "L1/Mix - Hits.wav"}) {
        const auto chunks = test::ReadRiffChunks(path);
        EXPECT_EQ(test::FindChunk(chunks, "fact"), nullptr) << path;
        EXPECT_EQ(test::ChannelMask(chunks), 0x3Fu) << path;
        EXPECT_EQ(test::Probe(path, "stream=channel_layout"), "5.1") << path;
    }
    const test::ReadBack five = test::ReadWav(dir / "L1/Mix.wav");
    ASSERT_EQ(five.channels, 6);
    EXPECT_GT(Peak(five, 2), 0.05);   // centre speaks
    EXPECT_EQ(Peak(five, 3), 0.0);    // nothing on the LFE
    EXPECT_GT(Peak(five, 2), Peak(five, 4));  // front louder than the surround

    const auto chunks714 = test::ReadRiffChunks(dir / "L2/Mix.wav");
    EXPECT_EQ(test::ChannelMask(chunks714), 0x2D63Fu);
    EXPECT_EQ(test::FindChunk(chunks714, "fact"), nullptr);
    const test::ReadBack seven = test::ReadWav(dir / "L2/Mix.wav");
    ASSERT_EQ(seven.channels, 12);
    // File order follows the mask: back pair (channels 4, 5) before the side pair (6, 7).
    // A front source reaches the side speakers (±110°) more than the back ones (±150°).
    EXPECT_GT(Peak(seven, 6), Peak(seven, 4));
    // The panel's channel list names the file's channels in that same order.
    EXPECT_EQ(ExportLayoutChannels(kExport714), "L R C LFE Lrs Rrs Ls Rs Ltf Rtf Ltr Rtr");
    EXPECT_EQ(ExportLayoutChannels(kExport51), "L R C LFE Ls Rs");
    EXPECT_EQ(ExportLayoutChannels(kExportStereo), "L R");
    EXPECT_EQ(ExportLayoutChannels(kExportAmbiX), "W Y Z X (ACN / SN3D)");

    const test::ReadBack ambix = test::ReadWav(dir / "L3/Mix.wav");
    ASSERT_EQ(ambix.channels, 4);
    EXPECT_EQ(test::FindChunk(test::ReadRiffChunks(dir / "L3/Mix.wav"), "fmt ")->size, 16u);
    // W and X carry a front source equally, Y and Z nothing.
    EXPECT_NEAR(Peak(ambix, 0), Peak(ambix, 3), 1e-3);
    EXPECT_GT(Peak(ambix, 0), 0.1);
    EXPECT_LT(Peak(ambix, 1), 1e-4);
    EXPECT_LT(Peak(ambix, 2), 1e-4);
}

TEST(WavExport, FailuresAndCancelLeaveNoPartialFiles) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(DoorScene());
    ExportSettings& s = t.project.exportSettings;
    s.exportWavMixdown = s.exportWavStems = s.exportWavTracks = s.exportWavClips = true;

    // An export folder under a regular file: nothing can be written anywhere.
    test::WriteFile(dir.path / "file", "x");
    testing::internal::CaptureStdout();
    ExportOutcome o = RunExport(*TakeExportSnapshot(t.project, *t.cache, Request(t.project, dir / "file/Export")), {},
                                nullptr);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(o.files, 0);
    EXPECT_EQ(o.failedKinds, 4);
    EXPECT_EQ(o.resultText, "Export FAILED for 4 kinds — 0 files written");
    EXPECT_NE(log.find("[Export] Rollback: removed 0 files"), std::string::npos);

    // Rendered audio that cannot be read back (an evicted block whose spill failed):
    // nothing is written rather than files with holes.
    auto holes = TakeExportSnapshot(t.project, *t.cache, Request(t.project, dir / "Holes"));
    holes->unreadableBlocks = 1;
    testing::internal::CaptureStdout();
    o = RunExport(*holes, {}, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(o.files, 0);
    EXPECT_EQ(o.failedKinds, 4);
    EXPECT_FALSE(fs::exists(dir / "Holes"));

    // A regular file where the Tracks folder goes: the tracks kind rolls back whole,
    // the other kinds are written.
    const std::string folder = dir / "Blocked";
    fs::create_directories(folder);
    test::WriteFile(folder + "/Tracks", "in the way");
    testing::internal::CaptureStdout();
    o = RunExport(*TakeExportSnapshot(t.project, *t.cache, Request(t.project, folder)), {}, nullptr);
    log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(o.failedKinds, 1);
    EXPECT_EQ(o.files, 1 + 3 + 4);  // mix, stems, clips of the whole timeline
    EXPECT_TRUE(fs::exists(folder + "/Clips/Door_Slam.wav"));
    EXPECT_NE(log.find("[Export] Rollback: removed 0 files"), std::string::npos);

    // A timeline longer than an hour: the mix, stems and tracks are refused, nothing
    // partial is left; the short clips still go out. A low rate keeps it small.
    test::ToneTimeline longer = test::MakeToneTimeline({{"Tick", 1, 0, 1.0f, 1.0f, 10.0f, 0.3f}}, 100, 3600.5f);
    longer.project.exportSettings = s;
    const std::string longFolder = dir / "Long";
    testing::internal::CaptureStdout();
    o = RunExport(*TakeExportSnapshot(longer.project, *longer.cache, Request(longer.project, longFolder)), {},
                  nullptr);
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Export] WriteBWFStereo: numFrames 360050 exceeds 1hr limit (360000) — " + longFolder +
                       "/Reel 1.wav"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[Export] WriteBWFClipMono: numFrames 360050 exceeds 1hr limit (360000)"), std::string::npos);
    EXPECT_NE(log.find("[Export] Rollback: removed"), std::string::npos);
    EXPECT_EQ(o.failedKinds, 3);
    EXPECT_EQ(o.files, 1);
    EXPECT_FALSE(fs::exists(longFolder + "/Reel 1.wav"));
    EXPECT_FALSE(fs::exists(longFolder + "/Tracks"));
    EXPECT_TRUE(fs::exists(longFolder + "/Clips/Tick.wav"));

    // A cancel while the stems are written: the stems already written are removed,
    // the finished mix stays, nothing after runs.
    const std::string cancelFolder = dir / "Cancelled";
    std::atomic<bool> cancel{false};
    ExportObserver observer;
    observer.cancel = &cancel;
    int stemsWritten = 0;
    observer.kindStarted = [&](int kind, const std::string&) { stemsWritten = kind; };
    observer.progress = [&](float f) {
        if (stemsWritten == kExportStems && f > 0.7f) cancel.store(true);  // in the third stem
    };
    testing::internal::CaptureStdout();
    o = RunExport(*TakeExportSnapshot(t.project, *t.cache, Request(t.project, cancelFolder)), observer, nullptr);
    log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(o.cancelled);
    EXPECT_EQ(o.files, 1);
    EXPECT_EQ(o.resultText, "Export cancelled — 1 file kept");
    EXPECT_TRUE(fs::exists(cancelFolder + "/Reel 1.wav"));
    EXPECT_FALSE(fs::exists(cancelFolder + "/Reel 1 - Backgrounds.wav"));
    EXPECT_FALSE(fs::exists(cancelFolder + "/Reel 1 - Hits.wav"));
    EXPECT_FALSE(fs::exists(cancelFolder + "/Tracks"));
    EXPECT_NE(log.find("[Export] Rollback: removed 2 files"), std::string::npos) << log;
    EXPECT_EQ(log.find("Rollback"), log.rfind("Rollback"));  // one line for the one cancelled kind
}

TEST(ExportJob, RunsOnItsOwnThreadAndCountsTheAafSessionAsOneFile) {
    test::TempDir dir;
    test::ToneTimeline t = test::MakeToneTimeline(DoorScene());
    t.project.exportSettings.exportFormatAAF = true;
    t.project.exportSettings.exportWavStems = true;
    EXPECT_EQ(ExportStartBlocker(false, t.project.exportSettings, true, false), "Build the timeline first");
    ExportSettings none;
    none.exportFormatWAV = false;
    EXPECT_EQ(ExportStartBlocker(true, none, true, false), "Select at least one format");
    none.exportFormatWAV = true;
    none.exportWavMixdown = false;
    EXPECT_EQ(ExportStartBlocker(true, none, true, false), "Select at least one WAV output type");
    EXPECT_EQ(ExportStartBlocker(true, t.project.exportSettings, false, false), "Waiting for audio cache…");
    EXPECT_EQ(ExportStartBlocker(true, t.project.exportSettings, true, true), "Export in progress…");
    EXPECT_EQ(ExportStartBlocker(true, t.project.exportSettings, true, false), "");
    EXPECT_STREQ(ExportButtonLabel(t.project.exportSettings, false), " Export AAF + WAV");

    ExportJob job;
    auto snapshot = TakeExportSnapshot(t.project, *t.cache, Request(t.project, dir / "Job"));
    // The timeline can change under a running export: it works from its snapshot.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(StartExportJob(job, snapshot));
    EXPECT_FALSE(StartExportJob(job, snapshot));  // one at a time
    t.project.timeline.results.clear();
    ResetCache(*t.cache, 48000, 0);
    ExportOutcome outcome;
    while (!TakeExportOutcome(job, &outcome)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(outcome.aafFailed);
    EXPECT_EQ(outcome.wavFiles, 4);
    EXPECT_EQ(outcome.resultText, "Export complete — 5 files");
    EXPECT_EQ(ExportStatusText(job), outcome.resultText);
    EXPECT_NE(log.find("[AAF] writing '" + (dir / "Job/Reel 1.aaf") + "'"), std::string::npos) << log;
    EXPECT_FALSE(job.running.load());
    EXPECT_TRUE(StartExportJob(job, snapshot));  // idle again
    while (!TakeExportOutcome(job, &outcome)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(outcome.wavFiles, 4);
}

}  // namespace
}  // namespace morvane
