// Export of a built 300-event, 3-minute timeline as mix, stems, tracks and clips
// (with the wet reverb stem): seconds taken and bytes written per second, against
// the time sox needs merely to write the same number of bytes of 24-bit WAV,
// which is the most a WAV writer on this disk can do. The export's own writing (the
// time inside the WAV writer, mixing left out) is to take at most twice sox's time. And the AAF session of the same
// timeline: the time its .aaf file takes beside the time its media files take.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "export/aaf_export.h"
#include "export/bwf_writer.h"
#include "export/export_job.h"

using namespace morvane;

namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;
constexpr int kEvents = 300;
constexpr int kLayersPerEvent = 3;
constexpr float kTimelineSeconds = 180.0f;

struct Timeline {
    Project project;
    std::unique_ptr<RenderCache> cache = std::make_unique<RenderCache>();
};

// Three layers per event, spread over three groups and four track slots each, of
// 0.4 to 4 s of tone and noise; mono and stereo sources.
std::unique_ptr<Timeline> MakeTimeline() {
    auto t = std::make_unique<Timeline>();
    TimelineState& tl = t->project.timeline;
    tl.settings.totalDuration = kTimelineSeconds;
    tl.built = true;
    tl.trackLayout.groups[0].name = "Backgrounds";
    tl.trackLayout.groups[1].name = "Hits";
    tl.trackLayout.groups[2].name = "Movement";
    tl.trackLayout.groups[0].stereo = true;
    t->project.reverb.enabled = true;
    t->project.reverb.groupSends = {0.2f, 0.3f, 0.3f};
    ResetCache(*t->cache, kRate, kEvents * kLayersPerEvent);
    uint32_t noise = 12345;
    for (int e = 0; e < kEvents; ++e) {
        Event ev;
        ev.time = (kTimelineSeconds - 5.0f) * static_cast<float>(e) / kEvents;
        ev.duration = 2.0f;
        tl.events.push_back(ev);
        for (int k = 0; k < kLayersPerEvent; ++k) {
            const int group = (e + k) % 3;
            Layer layer;
            layer.name = "Layer " + std::to_string(e) + "-" + std::to_string(k);
            layer.startTime = ev.time + 0.1f * static_cast<float>(k);
            layer.duration = 0.4f + static_cast<float>((e * 7 + k * 13) % 37) / 10.0f;
            layer.eventIdx = e;
            layer.group = group;
            layer.groupTrack = (e + 2 * k) % 4;
            tl.results.push_back(layer);

            RenderBlock b;
            b.layerIndex = static_cast<int>(tl.results.size()) - 1;
            b.identity = layer.name;
            b.eventIndex = e;
            b.group = group;
            b.start = layer.startTime;
            b.duration = layer.duration;
            b.stereoPair = group == 0;
            auto audio = std::make_shared<BlockAudio>();
            const size_t frames = static_cast<size_t>(layer.duration * kRate);
            audio->channels.assign(group == 0 ? 2 : 1, std::vector<float>(frames));
            const float f = 100.0f + 37.0f * static_cast<float>((e + k) % 50);
            for (size_t i = 0; i < frames; ++i) {
                noise = noise * 1103515245u + 12345u;
                const float n = static_cast<float>((noise >> 16) & 0x7FFF) / 32768.0f - 0.5f;
                const float x = 0.2f * std::sin(6.2831853f * f * static_cast<float>(i) / kRate) + 0.05f * n;
                for (auto& channel : audio->channels) channel[i] = x;
            }
            b.audio = audio;
            b.envelope.assign(kEnvelopePoints, 0.25f);
            AppendBlock(*t->cache, std::move(b));
        }
    }
    t->project.exportSettings.exportWavMixdown = true;
    t->project.exportSettings.exportWavStems = true;
    t->project.exportSettings.exportWavTracks = true;
    t->project.exportSettings.exportWavClips = true;
    t->project.exportSettings.exportReverbStem = true;
    return t;
}

uint64_t FolderBytes(const std::string& folder) {
    uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) bytes += entry.file_size();
    return bytes;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Figures {
    double exportSeconds = 0.0;
    uint64_t bytes = 0;
    int files = 0;
    double soxSeconds = 0.0;
    double soxSyncedSeconds = 0.0;  // sox's write forced to disk, as the export forces every file
    double writeSeconds = 0.0;      // of exportSeconds, inside the WAV writer
    AafExportTimes aaf;
    int aafClips = 0;
};
Figures gFigures;

// Runs `body` with the program's diagnostic lines sent nowhere: they would swamp the figures.
template <typename Body>
void Quietly(Body body) {
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    body();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(devNull);
}

void BM_ExportAllKinds(benchmark::State& state) {
    auto timeline = MakeTimeline();
    const std::string root = (fs::temp_directory_path() / "morvane-export-bench").string();
    for (auto _ : state) {
        fs::remove_all(root);
        const ExportRequest request = MakeExportRequest(timeline->project, root + "/Export", "Bench", 0, 0);
        auto snapshot = TakeExportSnapshot(timeline->project, *timeline->cache, request);
        ExportOutcome outcome;
        Quietly([&] {
            const WavWriteTotals before = WavWritesSoFar();
            const auto start = std::chrono::steady_clock::now();
            outcome = RunExport(*snapshot, {}, nullptr);
            gFigures.exportSeconds = Seconds(start);
            gFigures.writeSeconds = WavWritesSoFar().seconds - before.seconds;
        });
        gFigures.files = outcome.files;
        gFigures.bytes = FolderBytes(root + "/Export");
        state.SetIterationTime(gFigures.exportSeconds);
    }
    // The peer: sox writing as many bytes of 24-bit stereo WAV (silence, nothing to compute).
    const double seconds = static_cast<double>(gFigures.bytes) / (kRate * 2 * 3);
    char command[512];
    std::snprintf(command, sizeof command, "sox -q -n -r %d -c 2 -b 24 '%s/sox.wav' trim 0 %.3f", kRate, root.c_str(),
                  seconds);
    const auto start = std::chrono::steady_clock::now();
    const int code = std::system(command);
    gFigures.soxSeconds = Seconds(start);
    if (code != 0) gFigures.soxSeconds = 0.0;
    // The same write carried to the disk: the export forces each file there before
    // naming it, so that a power cut never leaves a named file without its samples.
    fs::remove(root + "/sox.wav");
    const std::string synced = std::string(command) + " && sync '" + root + "/sox.wav'";
    const auto syncedStart = std::chrono::steady_clock::now();
    gFigures.soxSyncedSeconds = std::system(synced.c_str()) == 0 ? Seconds(syncedStart) : 0.0;
    fs::remove_all(root);
    state.counters["files"] = gFigures.files;
    state.counters["MB_written"] = static_cast<double>(gFigures.bytes) / 1e6;
}
BENCHMARK(BM_ExportAllKinds)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ExportAafSession(benchmark::State& state) {
    auto timeline = MakeTimeline();
    const std::string root = (fs::temp_directory_path() / "morvane-export-bench-aaf").string();
    for (auto _ : state) {
        fs::remove_all(root);
        const ExportRequest request = MakeExportRequest(timeline->project, root, "Bench", 0, 0);
        auto snapshot = TakeExportSnapshot(timeline->project, *timeline->cache, request);
        bool ok = false;
        Quietly([&] { ok = ExportAAF(*snapshot, nullptr, &gFigures.aaf); });
        if (!ok) state.SkipWithError("the AAF export failed");
        gFigures.aafClips = static_cast<int>(std::distance(fs::directory_iterator(root + "/Audio Files"), {}));
        state.SetIterationTime(gFigures.aaf.mediaSeconds + gFigures.aaf.sessionSeconds);
    }
    fs::remove_all(root);
    state.counters["media_files"] = gFigures.aafClips;
}
BENCHMARK(BM_ExportAafSession)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Figures& f = gFigures;
    const double mbPerSecond = static_cast<double>(f.bytes) / 1e6 / f.exportSeconds;
    std::printf("export: %d files, %.1f MB in %.2f s = %.1f MB/s\n", f.files, static_cast<double>(f.bytes) / 1e6,
                f.exportSeconds, mbPerSecond);
    if (f.soxSeconds > 0.0)
        std::printf("sox writing the same %.1f MB of 24-bit WAV: %.2f s = %.1f MB/s; export / write limit: %.1fx\n",
                    static_cast<double>(f.bytes) / 1e6, f.soxSeconds, static_cast<double>(f.bytes) / 1e6 / f.soxSeconds,
                    f.exportSeconds / f.soxSeconds);
    if (f.soxSeconds > 0.0)
        std::printf("the export's WAV writing: %.2f s of the %.2f s; writing / sox %.2fx (target at most 2x)\n",
                    f.writeSeconds, f.exportSeconds, f.writeSeconds / f.soxSeconds);
    if (f.soxSyncedSeconds > 0.0)
        std::printf("sox writing them and forcing them to disk: %.2f s; writing / forced sox %.2fx\n",
                    f.soxSyncedSeconds, f.writeSeconds / f.soxSyncedSeconds);
    else
        std::printf("sox could not run: no write-limit figure\n");
    if (f.aaf.mediaSeconds > 0.0)
        std::printf("AAF session: %d media files in %.3f s, the .aaf file in %.3f s = %.1f %% of the media time "
                    "(target under 10 %%)\n",
                    f.aafClips, f.aaf.mediaSeconds, f.aaf.sessionSeconds, 100.0 * f.aaf.sessionSeconds / f.aaf.mediaSeconds);
    return 0;
}
