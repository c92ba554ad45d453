#include "export/wav_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <strings.h>
#include <utility>

#include "audio/mixer.h"
#include "audio/render_timeline.h"
#include "engine/loudness.h"
#include "export/bwf_writer.h"
#include "export/export_layouts.h"
#include "export/export_rollback.h"
#include "export/partial_file.h"
#include "model/timeline.h"

namespace morvane {

namespace {

// The wet stem is the full mix less the dry one. Both are mixed this far below full
// scale so that the mixer's soft limiter never acts and the difference is the reverb alone.
constexpr float kWetMeasureScale = 1.0f / 64.0f;

// Buffers kept from one mix to the next: a three-minute stereo mix is 70 MB, and
// fresh memory of that size costs more to fault in and clear than the mix itself.
struct ExportScratch {
    std::vector<float> mix, aux, left, right;
};

// The state of one kind while it runs.
struct KindRun {
    KindRun(const ExportSnapshot& s, const ExportObserver& o, ExportScratch& b) : snapshot(s), observer(o), scratch(b) {}
    const ExportSnapshot& snapshot;
    const ExportObserver& observer;
    ExportScratch& scratch;
    ExportRollbackGuard guard;
    ExportRange range;
    int64_t frames = 0;
    int rate = 48000;
    double fileStart = 0.0;  // timecode of the range's start
    std::string folder;
    std::string base;
    std::vector<std::string> written;
    bool failed = false;
    bool cancelled = false;
    std::string failure;  // why the kind failed, for the one line a caller shows
    float progressFrom = 0.0f, progressTo = 1.0f;  // the part of the kind the current mix covers

    bool Stopped() const { return failed || cancelled; }
};

// Marks the kind failed; the first reason is the one reported.
void Fail(KindRun& run, const std::string& why) {
    run.failed = true;
    if (run.failure.empty()) run.failure = why;
}

bool CancelRequested(const ExportObserver& observer) {
    return observer.cancel != nullptr && observer.cancel->load(std::memory_order_acquire);
}

void Report(KindRun& run, float fraction) {
    if (run.observer.progress) run.observer.progress(run.progressFrom + (run.progressTo - run.progressFrom) * fraction);
}

// Sets the part of the kind the next mix covers: item `index` of `count`.
void Step(KindRun& run, size_t index, size_t count) {
    const float n = static_cast<float>(std::max<size_t>(1, count));
    run.progressFrom = static_cast<float>(index) / n;
    run.progressTo = static_cast<float>(index + 1) / n;
}

bool OverHourLimit(const KindRun& run, int64_t frames) {
    return frames > static_cast<int64_t>(run.rate) * kMaxExportSeconds;
}

// Mixes `frames` frames from `start` seconds into `out` (interleaved, exactly
// frames x channels samples).
bool Mix(KindRun& run, RenderCache& cache, double start, int64_t frames, int channels, std::vector<float>& out) {
    if (CancelRequested(run.observer)) {
        run.cancelled = true;
        return false;
    }
    const double end = start + static_cast<double>(frames) / run.rate;
    std::string error;
    auto progress = [&](float fraction) {
        Report(run, fraction);
        return !CancelRequested(run.observer);
    };
    if (!MixOffline(cache, start, end, channels, out, progress, &error)) {
        if (CancelRequested(run.observer)) {
            run.cancelled = true;
        } else {
            std::printf("[ExportWAV] Mix of %.3f..%.3f s failed: %s\n", start, end, error.c_str());
            Fail(run, "mixing " + std::to_string(start) + " s to " + std::to_string(end) + " s failed: " + error);
        }
        return false;
    }
    out.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels), 0.0f);
    return true;
}

constexpr const char* kWavExtension = ".wav";
constexpr const char* kKindNames[] = {"mix", "stems", "tracks", "clips"};

std::string WavPath(const std::string& folder, const std::string& stem) {
    return folder + "/" + FitFileStem(stem, std::strlen(kWavExtension)) + kWavExtension;
}

void Kept(KindRun& run, const std::string& path) {
    run.guard.AddFile(path);
    run.written.push_back(path);
}

// The writers refuse a file longer than an hour before reading any sample; asking
// them with the real length logs the refusal without mixing an hour's audio first.
bool RefuseLongStereo(KindRun& run, const std::string& path, int64_t frames) {
    const float silence[1] = {0.0f};
    std::string why;
    WriteBWFStereo(path, silence, silence, frames, run.rate, 0.0, nullptr, &why);
    Fail(run, why);
    return false;
}

bool WriteStereo(KindRun& run, const std::string& path, const std::vector<float>& interleaved, int64_t frames,
                 double startSeconds, const char* description, float gain = 1.0f) {
    std::vector<float>& left = run.scratch.left;
    std::vector<float>& right = run.scratch.right;
    left.resize(static_cast<size_t>(frames));
    right.resize(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i) {
        left[static_cast<size_t>(i)] = interleaved[static_cast<size_t>(2 * i)] * gain;
        right[static_cast<size_t>(i)] = interleaved[static_cast<size_t>(2 * i + 1)] * gain;
    }
    std::string why;
    if (!WriteBWFStereo(path, left.data(), right.data(), frames, run.rate, startSeconds, description, &why)) {
        Fail(run, why);
        return false;
    }
    Kept(run, path);
    return true;
}

// Writes one file of the export layout (mix and stems).
bool WriteLayoutFile(KindRun& run, RenderCache& cache, const std::string& path, const char* description,
                     float targetLUFS, bool* multichannel) {
    const ExportLayoutInfo layout = DescribeExportLayout(run.snapshot.request.layout);
    *multichannel = layout.channels != 2;
    if (OverHourLimit(run, run.frames)) {
        if (!*multichannel) return RefuseLongStereo(run, path, run.frames);
        std::printf("[Export] WriteBWFMulti: numFrames %lld exceeds 1hr limit — %s\n",
                    static_cast<long long>(run.frames), path.c_str());
        Fail(run, path + " would be longer than the one-hour limit");
        return false;
    }
    ConfigureExportLayout(cache, run.snapshot.request.layout);
    std::vector<float>& mix = run.scratch.mix;
    if (!Mix(run, cache, run.range.start, run.frames, layout.channels, mix)) return false;
    float gain = 1.0f;
    if (targetLUFS < 0.0f) {
        // Loudness is measured on the stereo mix of the same material, which is what a
        // listener of the surround or ambisonic file hears folded down.
        std::vector<float>& stereo = run.scratch.aux;
        if (*multichannel) {
            if (!Mix(run, cache, run.range.start, run.frames, 2, stereo)) return false;
        }
        const std::vector<float>& measured = *multichannel ? stereo : mix;
        std::vector<float>& left = run.scratch.left;
        std::vector<float>& right = run.scratch.right;
        left.resize(static_cast<size_t>(run.frames));
        right.resize(static_cast<size_t>(run.frames));
        for (int64_t i = 0; i < run.frames; ++i) {
            left[static_cast<size_t>(i)] = measured[static_cast<size_t>(2 * i)];
            right[static_cast<size_t>(i)] = measured[static_cast<size_t>(2 * i + 1)];
        }
        gain = LoudnessNormaliseGain(left.data(), right.data(), run.frames, run.rate, targetLUFS);
    }
    if (!*multichannel) return WriteStereo(run, path, mix, run.frames, run.fileStart, description, gain);
    std::vector<std::vector<float>> channels = FileChannelsFromMix(mix, run.frames, layout);
    if (gain != 1.0f)
        for (std::vector<float>& channel : channels)
            for (float& x : channel) x *= gain;
    std::string why;
    if (!WriteBWFMulti(path, channels, layout.speakerMask, run.rate, run.fileStart, description,
                       layout.plainContainer, true, &why)) {
        Fail(run, why);
        return false;
    }
    Kept(run, path);
    return true;
}

std::string GroupName(const ExportSnapshot& snapshot, int group) {
    const std::string& name = snapshot.project.timeline.trackLayout.groups[static_cast<size_t>(group)].name;
    return ExportFileStem(name, ("Group " + std::to_string(group)).c_str());
}

void SetReverb(RenderCache& cache, const ExportSnapshot& snapshot, bool on) {
    ReverbSettings reverb = snapshot.project.reverb;
    reverb.enabled = on && snapshot.project.reverb.enabled;
    SetReverbSettings(cache, reverb);
}

bool Unmuted(const RenderBlock& block) { return !block.muted && !block.disabled; }

void RunMix(KindRun& run, RenderCache& cache) {
    LoadExportBlocks(cache, run.snapshot, [](const RenderBlock&) { return true; });
    SetReverb(cache, run.snapshot, true);
    const std::string path = WavPath(run.folder, run.base);
    bool multichannel = false;
    if (!WriteLayoutFile(run, cache, path, nullptr, ExportLoudnessTarget(run.snapshot.request.lufsIndex),
                         &multichannel))
        return;
    if (multichannel)
        std::printf("[ExportWAV] %s mixdown written to %s\n", DescribeExportLayout(run.snapshot.request.layout).name,
                    path.c_str());
    else
        std::printf("[ExportWAV] Mixdown written to %s\n", path.c_str());
}

void RunStems(KindRun& run, RenderCache& cache) {
    std::vector<int> groups;
    for (int g = 0; g < kGroupCount; ++g)
        for (const RenderBlock& b : run.snapshot.blocks)
            if (b.group == g && Unmuted(b)) {
                groups.push_back(g);
                break;
            }
    SetReverb(cache, run.snapshot, false);
    int written = 0;
    for (size_t i = 0; i < groups.size() && !run.Stopped(); ++i) {
        Step(run, i, groups.size());
        const int g = groups[i];
        LoadExportBlocks(cache, run.snapshot, [g](const RenderBlock& b) { return b.group == g; });
        const std::string name = GroupName(run.snapshot, g);
        const std::string path = WavPath(run.folder, run.base + " - " + name);
        bool multichannel = false;
        if (WriteLayoutFile(run, cache, path, name.c_str(), 0.0f, &multichannel)) ++written;
    }
    if (!run.Stopped()) std::printf("[ExportWAV] %d stems written to %s/\n", written, run.folder.c_str());
}

void RunTracks(KindRun& run, RenderCache& cache) {
    const std::string tracksFolder = run.folder + "/Tracks";
    if (!CreateExportFolder(tracksFolder, run.guard)) {
        std::printf("[ExportWAV] Could not create %s\n", tracksFolder.c_str());
        Fail(run, "cannot create the folder " + tracksFolder);
        return;
    }
    // Occupied track slots (group, track), in group and track order.
    std::set<std::pair<int, int>> slots;
    auto slotOf = [&](const RenderBlock& b) {
        const Layer* layer = BlockLayer(run.snapshot, b);
        return std::make_pair(std::clamp(b.group, 0, kGroupCount - 1), layer ? std::max(0, layer->groupTrack) : 0);
    };
    for (const RenderBlock& b : run.snapshot.blocks)
        if (Unmuted(b)) slots.insert(slotOf(b));
    SetReverb(cache, run.snapshot, false);
    ConfigureExportLayout(cache, kExportStereo);
    int written = 0;
    size_t index = 0;
    for (const auto& slot : slots) {
        if (run.Stopped()) break;
        Step(run, index++, slots.size());
        LoadExportBlocks(cache, run.snapshot, [&](const RenderBlock& b) { return slotOf(b) == slot; });
        char label[96];
        std::snprintf(label, sizeof label, "%s %02d", GroupName(run.snapshot, slot.first).c_str(), slot.second + 1);
        const std::string path = WavPath(tracksFolder, run.base + " - " + label);
        const bool stereo = run.snapshot.project.timeline.trackLayout.groups[static_cast<size_t>(slot.first)].stereo;
        if (OverHourLimit(run, run.frames)) {
            if (stereo) {
                RefuseLongStereo(run, path, run.frames);
            } else {
                const float silence[1] = {0.0f};
                WriteBWFClipMono(path, silence, static_cast<int32_t>(std::min<int64_t>(run.frames, INT32_MAX)),
                                 run.rate, 0.0, nullptr);
                Fail(run, path + " would be longer than the one-hour limit");
            }
            break;
        }
        std::vector<float>& mix = run.scratch.mix;
        if (!Mix(run, cache, run.range.start, run.frames, stereo ? 2 : 1, mix)) break;
        if (stereo) {
            if (WriteStereo(run, path, mix, run.frames, run.fileStart, label)) ++written;
        } else if (std::string why; WriteBWFClipMono(path, mix.data(), static_cast<int32_t>(run.frames), run.rate,
                                                     run.fileStart, label, &why)) {
            Kept(run, path);
            ++written;
        } else {
            Fail(run, why);
        }
    }
    if (!run.Stopped()) std::printf("[ExportWAV] %d tracks written to %s/Tracks/\n", written, run.folder.c_str());
}

void RunClips(KindRun& run, RenderCache& cache) {
    const std::string clipsFolder = run.folder + "/Clips";
    if (!CreateExportFolder(clipsFolder, run.guard)) {
        std::printf("[ExportWAV] Could not create %s\n", clipsFolder.c_str());
        Fail(run, "cannot create the folder " + clipsFolder);
        return;
    }
    SetReverb(cache, run.snapshot, false);
    ConfigureExportLayout(cache, kExportStereo);
    ClipNamer namer;
    int written = 0;
    const size_t count = run.snapshot.blocks.size();
    for (size_t i = 0; i < count && !run.Stopped(); ++i) {
        const RenderBlock& block = run.snapshot.blocks[i];
        if (!Unmuted(block) || block.duration <= 0.0f) continue;
        const double start = block.start + (run.snapshot.deconfliction ? block.deconOffset : 0.0f);
        const double from = std::max(start, run.range.start);
        const double to = std::min(start + block.duration, run.range.end);
        const int64_t frames = static_cast<int64_t>((to - from) * run.rate);
        if (frames < 1) continue;  // outside the range
        Step(run, i, count);
        const Layer* layer = BlockLayer(run.snapshot, block);
        const std::string clipName = layer ? layer->name : block.identity;
        const std::string path = clipsFolder + "/" + namer.Next(clipName) + kWavExtension;
        if (OverHourLimit(run, frames)) {
            RefuseLongStereo(run, path, frames);
            break;
        }
        LoadExportBlocks(cache, run.snapshot, [&](const RenderBlock& b) { return &b == &block; });
        std::vector<float> mix;
        if (!Mix(run, cache, from, frames, 2, mix)) break;
        // The clip's own start: where it sits inside the range, past the range's start.
        const double clipStart = run.fileStart + (from - run.range.start);
        const std::string description = clipName.empty() ? "clip" : clipName;
        if (WriteStereo(run, path, mix, frames, clipStart, description.c_str())) ++written;
    }
    if (!run.Stopped()) std::printf("[ExportWAV] %d clips written to %s/Clips/\n", written, run.folder.c_str());
}

// The reverb's wet return over the range, stereo.
void RunReverbStem(KindRun& run, RenderCache& cache) {
    const std::string path = WavPath(run.folder, run.base + " - Reverb");
    if (OverHourLimit(run, run.frames)) {
        RefuseLongStereo(run, path, run.frames);
        return;
    }
    if (CancelRequested(run.observer)) {
        run.cancelled = true;
        return;
    }
    std::vector<float>& wet = run.scratch.mix;
    std::string error;
    auto progress = [&](float fraction) {
        Report(run, fraction);
        return !CancelRequested(run.observer);
    };
    if (!MixWetReverb(cache, run.snapshot, run.range.start, run.frames, wet, run.scratch.aux, progress, &error)) {
        if (CancelRequested(run.observer)) {
            run.cancelled = true;
        } else {
            std::printf("[ExportWAV] Reverb mix failed: %s\n", error.c_str());
            Fail(run, "mixing the reverb failed: " + error);
        }
        return;
    }
    if (WriteStereo(run, path, wet, run.frames, run.fileStart, "Reverb"))
        std::printf("[ExportWAV] Reverb stem written to %s\n", path.c_str());
}

}  // namespace

bool MixWetReverb(RenderCache& cache, const ExportSnapshot& snapshot, double start, int64_t frames,
                  std::vector<float>& wet, std::vector<float>& scratch, const std::function<bool(float)>& progress,
                  std::string* why) {
    const double end = start + static_cast<double>(frames) / std::max(1, snapshot.sampleRate);
    LoadExportBlocks(cache, snapshot, [](const RenderBlock&) { return true; });
    const Project& p = snapshot.project;
    SetMixGains(cache, p.masterGain * kWetMeasureScale, p.groupGain.data());
    SetReverb(cache, snapshot, true);
    const bool mixed = MixOffline(cache, start, end, 2, wet, progress, why);
    SetReverb(cache, snapshot, false);
    const bool dryMixed = mixed && MixOffline(cache, start, end, 2, scratch, progress, why);
    SetMixGains(cache, p.masterGain, p.groupGain.data());
    if (!dryMixed) return false;
    const size_t samples = static_cast<size_t>(frames) * 2;
    wet.resize(samples, 0.0f);
    scratch.resize(samples, 0.0f);
    for (size_t i = 0; i < samples; ++i) wet[i] = (wet[i] - scratch[i]) / kWetMeasureScale;
    return true;
}

ExportRange ComputeExportRange(float workAreaIn, float workAreaOut, float timelineDuration) {
    if (workAreaIn >= 0.0f && workAreaOut > workAreaIn) return {workAreaIn, workAreaOut};
    return {0.0, std::max(0.0, static_cast<double>(timelineDuration))};
}

float ExportLoudnessTarget(int lufsIndex) {
    switch (lufsIndex) {
        case 1: return -14.0f;
        case 2: return -16.0f;
        case 3: return -18.0f;
        case 4: return -23.0f;
        default: return 0.0f;
    }
}

const char* ExportKindStatus(int kind) {
    switch (kind) {
        case kExportMix: return "Exporting mix…";
        case kExportStems: return "Exporting stems…";
        case kExportTracks: return "Exporting tracks…";
        default: return "Exporting clips…";
    }
}

std::string ExportFileStem(const std::string& name, const char* fallback) {
    std::string stem = name.empty() ? std::string(fallback) : name;
    // A separator would make a folder of the name, a NUL would end it early (two names
    // would then write one file), other control characters make names no one can type.
    for (char& c : stem) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || b < 32 || b == 127) c = '_';
    }
    return stem;
}

std::string FitFileStem(const std::string& stem, size_t extensionBytes) {
    return CutText(stem, kMaxFileNameBytes - std::min(extensionBytes, kMaxFileNameBytes - 1));
}

std::string ClipNamer::Next(const std::string& layerName) {
    std::string stem = ExportFileStem(layerName, "clip");
    // Layers named after their file keep its extension; the clip gets its own.
    if (stem.size() > 4 && strncasecmp(stem.c_str() + stem.size() - 4, ".wav", 4) == 0) stem.resize(stem.size() - 4);
    const size_t extension = std::strlen(kWavExtension);
    std::string name = FitFileStem(stem, extension);
    // "_2", "_3", ... skipping a name another layer already has; a long stem is cut
    // further so the number still fits.
    int& n = uses[stem];
    while (!given.insert(name).second) {
        n = std::max(n + 1, 2);
        const std::string number = "_" + std::to_string(n);
        name = FitFileStem(stem, extension + number.size()) + number;
    }
    return name;
}

WavExportResult RunWavExport(const ExportSnapshot& snapshot, const ExportObserver& observer) {
    // Every folder the export wrote into is forced to disk once, before it reports.
    const FolderSyncBatch folderSync;
    WavExportResult result;
    const ExportRequest& request = snapshot.request;
    const ExportSettings& s = request.settings;
    const bool selected[4] = {s.exportWavMixdown, s.exportWavStems, s.exportWavTracks, s.exportWavClips};
    // The wet stem rides with the first kind other than the mix (the mix carries the reverb already).
    int reverbKind = -1;
    if (s.exportReverbStem && snapshot.project.reverb.enabled)
        for (int k = kExportStems; k <= kExportClips && reverbKind < 0; ++k)
            if (selected[k]) reverbKind = k;

    const ExportRange range = ComputeExportRange(request.workAreaIn, request.workAreaOut,
                                                 snapshot.project.timeline.settings.totalDuration);
    const int rate = std::max(1, snapshot.sampleRate);
    const int64_t frames = static_cast<int64_t>(static_cast<double>(rate) * (range.end - range.start));
    if (frames < 1 || snapshot.blocks.empty()) return result;
    if (snapshot.unreadableBlocks > 0) {
        // Exporting without them would write files with holes and call them complete.
        std::printf("[ExportWAV] %d rendered blocks could not be read back from the spill file — nothing exported\n",
                    snapshot.unreadableBlocks);
        for (bool kind : selected) result.failedKinds += kind ? 1 : 0;
        result.failure = std::to_string(snapshot.unreadableBlocks) +
                         " rendered blocks could not be read back from the spill file";
        return result;
    }

    // A killed export leaves its unfinished files under their temporary names.
    int leftovers = 0;
    for (const char* sub : {"", "/Tracks", "/Clips"}) leftovers += RemoveLeftoverPartialFiles(request.folder + sub);
    if (leftovers > 0)
        std::printf("[ExportWAV] Removed %d unfinished file%s of an interrupted export\n", leftovers,
                    leftovers == 1 ? "" : "s");

    std::unique_ptr<RenderCache> cache = MakeExportMixCache(snapshot, true);
    ExportScratch scratch;
    for (int kind = kExportMix; kind <= kExportClips; ++kind) {
        if (!selected[kind]) continue;
        if (CancelRequested(observer)) {
            result.cancelled = true;
            break;
        }
        if (observer.kindStarted) observer.kindStarted(kind, ExportKindStatus(kind));
        KindRun run(snapshot, observer, scratch);
        run.range = range;
        run.frames = frames;
        run.rate = rate;
        run.fileStart = static_cast<double>(snapshot.project.timeline.settings.startTC) + range.start;
        run.folder = request.folder;
        run.base = ExportFileStem(request.baseName, "Morvane");
        if (!CreateExportFolder(run.folder, run.guard)) {
            std::printf("[ExportWAV] Could not create the export folder %s\n", run.folder.c_str());
            Fail(run, "cannot create the export folder " + run.folder);
        } else {
            switch (kind) {
                case kExportMix: RunMix(run, *cache); break;
                case kExportStems: RunStems(run, *cache); break;
                case kExportTracks: RunTracks(run, *cache); break;
                default: RunClips(run, *cache); break;
            }
            if (kind == reverbKind && !run.Stopped()) {
                Step(run, 0, 1);
                RunReverbStem(run, *cache);
            }
        }
        if (run.Stopped()) {
            run.guard.Rollback();
            if (run.cancelled) {
                result.cancelled = true;
                break;
            }
            ++result.failedKinds;
            if (result.failure.empty()) result.failure = std::string(kKindNames[kind]) + ": " + run.failure;
            continue;
        }
        run.guard.Commit();
        if (observer.progress) observer.progress(1.0f);
        result.files += static_cast<int>(run.written.size());
        result.written.insert(result.written.end(), run.written.begin(), run.written.end());
    }
    return result;
}

}  // namespace morvane
