#include "export/aaf_export.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "aaf/aaf_session.h"
#include "audio/mixer.h"
#include "audio/segment_loader.h"
#include "engine/scale.h"
#include "export/bwf_writer.h"
#include "export/export_rollback.h"
#include "export/partial_file.h"
#include "export/wav_export.h"
#include "model/event_label.h"

namespace morvane {

namespace {

// Gain automation points per clip: the intensity curve read at this many places.
constexpr int kGainPoints = 33;

// Where a clip's audio goes: its slot on the timeline and which of its channels.
using TrackKey = std::tuple<int, int, int, int>;  // muted, group, track slot, channel

struct PlacedClip {
    TrackKey key;
    AafClip clip;
};

struct AafRun {
    explicit AafRun(const ExportSnapshot& s)
        : snapshot(s), settings(s.request.settings), rate(std::max(1, s.sampleRate)) {}
    const ExportSnapshot& snapshot;
    const ExportSettings& settings;
    ExportRollbackGuard guard;
    int rate = 48000;
    int64_t rangeFirst = 0, rangeLast = 0;  // timeline samples
    std::string mediaFolder, prefix;
    AafSession session;
    std::vector<PlacedClip> clips;
    int clipNumber = 0, handleClips = 0;
    std::string failure;
};

int64_t GridSample(double seconds, int rate) {
    // The mixer's grid: a block starts on the first sample at or after its start.
    return static_cast<int64_t>(std::ceil(seconds * rate - 1e-9));
}

// The block's gain at `tau` seconds into it, as the mixer applies it. `shape` is the
// block itself, or its copy without the intensity curve when that travels as automation.
float BlockGain(const AafRun& run, const RenderBlock& shape, const BlockFades& fades, float tau) {
    const Project& p = run.snapshot.project;
    const int group = std::clamp(shape.group, 0, kGroupCount - 1);
    return FadeOutGain(tau, shape.duration, fades.fadeOut) * FadeInGain(tau, fades.fadeIn) * shape.gain *
           p.groupGain[static_cast<size_t>(group)] * p.masterGain *
           ShapeGain(shape, tau / shape.duration, run.snapshot.deconfliction);
}

// The intensity shape alone, as the mixer reads it, as automation over the clip's
// [from, to) seconds of the block.
std::vector<AafGainPoint> IntensityPoints(const RenderBlock& b, double from, double to) {
    RenderBlock intensityOnly;
    intensityOnly.followsIntensity = true;
    intensityOnly.noFloor = b.noFloor;
    intensityOnly.intensityScale = b.intensityScale;
    intensityOnly.intensity = b.intensity;
    std::vector<AafGainPoint> points;
    for (int i = 0; i < kGainPoints; ++i) {
        const double x = static_cast<double>(i) / (kGainPoints - 1);
        const double tau = from + (to - from) * x;
        points.push_back({x, ShapeGain(intensityOnly, static_cast<float>(tau / b.duration), false)});
    }
    return points;
}

std::vector<std::string> ChannelSuffixes(int channels, bool eachChannel) {
    if (channels <= 1) return {""};
    if (channels == 2 || !eachChannel) return {".L", ".R"};
    std::vector<std::string> out;
    for (int c = 1; c <= channels; ++c) out.push_back("." + std::to_string(c));
    return out;
}

// Output channel `o` of `outputs` from the block's channels at frame k (with the
// fraction `frac` towards k + 1). Sources of more than two channels fold to two
// (even channels left, odd right) unless each channel keeps its own file.
float ReadChannel(const std::vector<std::vector<float>>& in, int o, int outputs, int64_t k, float frac) {
    const int n = static_cast<int>(in.size());
    auto at = [&](int c) {
        const std::vector<float>& ch = in[static_cast<size_t>(c)];
        const int64_t size = static_cast<int64_t>(ch.size());
        if (k >= size) return 0.0f;
        const float a = ch[static_cast<size_t>(k)];
        const float b = k + 1 < size ? ch[static_cast<size_t>(k + 1)] : a;
        return a + (b - a) * frac;
    };
    if (outputs == n) return at(o);
    if (outputs == 1) {
        float sum = 0.0f;
        for (int c = 0; c < n; ++c) sum += at(c);
        return sum / static_cast<float>(n);
    }
    float sum = 0.0f;
    int count = 0;
    for (int c = o; c < n; c += 2, ++count) sum += at(c);
    return count > 0 ? sum / static_cast<float>(count) : 0.0f;
}

int64_t SourceFileFrames(const std::string& path, int* fileRate) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return 0;
    sf_close(f);
    *fileRate = info.samplerate;
    return info.frames;
}

// Layers whose audio is a plain stretch of one file can reference that file with
// handles; anything rendered (pitch, fills, alloys, stand-ins) cannot.
bool CanUseSource(const AafRun& run, const RenderBlock& b, const Layer* layer) {
    if (layer == nullptr || layer->filepath.empty() || b.missingFile || b.placeholder) return false;
    if (layer->procMode != ProcMode::Segment && layer->procMode != ProcMode::StereoSegment) return false;
    const TimelineSettings& ts = run.snapshot.project.timeline.settings;
    return std::fabs(layer->pitchShift) <= 0.01f && std::fabs(layer->pitchVarShift + b.tuningShift) <= 0.01f &&
           !layer->hasEqGains && !LayerReversed(*layer, ts.reverseProb) &&
           LayerFrequencyShiftHz(*layer, ts.freqShiftIntensity) == 0.0f;
}

bool WriteMedia(AafRun& run, const std::string& name, const std::vector<float>& samples, double startSeconds,
                const std::string& description) {
    const std::string path = run.mediaFolder + "/" + name;
    std::string why;
    if (!WriteBWFClipMono(path, samples.data(), static_cast<int32_t>(samples.size()), run.rate, startSeconds,
                          description.c_str(), &why)) {
        std::printf("[AAF] WriteBWFClipMono FAILED hr=0x%08lX path='%s'\n",
                    static_cast<unsigned long>(kAafResultCannotWrite), path.c_str());
        run.failure = why;
        return false;
    }
    run.guard.AddFile(path);
    run.session.media.push_back({path, name.substr(0, name.size() - 4), run.rate, static_cast<int64_t>(samples.size())});
    return true;
}

struct Placement {
    double start = 0.0;          // seconds, with the deconfliction offset
    int64_t first = 0, last = 0;  // timeline samples of the clip, inside the range
};

// The source stretch of a clip with handles, as channels at the export rate.
bool AddSourceClip(AafRun& run, const RenderBlock& b, const Layer& layer, const Placement& at, int number,
                   const std::string& clipName, int muted) {
    int fileRate = 0;
    const int64_t fileFrames = SourceFileFrames(layer.filepath, &fileRate);
    if (fileFrames <= 0 || fileRate <= 0) return false;
    const double fileSeconds = static_cast<double>(fileFrames) / fileRate;
    // Source time of the clip's first sample, and the stretch with its handles.
    const double clipSource = b.sourceOffset + (static_cast<double>(at.first) / run.rate - at.start);
    const double clipSeconds = static_cast<double>(at.last - at.first) / run.rate;
    const ExportSettings& s = run.settings;
    const double head = s.handleFullSource ? clipSource : std::min<double>(clipSource, std::max(0.0f, s.handleDuration));
    const double tailRoom = std::max(0.0, fileSeconds - clipSource - clipSeconds);
    const double tail = s.handleFullSource ? tailRoom : std::min<double>(tailRoom, std::max(0.0f, s.handleDuration));
    const int channels = b.audio ? static_cast<int>(b.audio->channels.size()) : 1;
    std::shared_ptr<const DecodedSegment> seg =
        LoadSegment(layer.filepath, clipSource - head, head + clipSeconds + tail, run.rate, layer.stereo || channels > 1, 0);
    if (!seg || seg->channels.empty()) return false;
    const int64_t offset = std::llround(head * run.rate);
    const int64_t length = at.last - at.first;
    if (static_cast<int64_t>(seg->channels[0].size()) < offset + length) return false;

    const std::vector<std::string> suffixes =
        ChannelSuffixes(static_cast<int>(seg->channels.size()), s.exportAAFSourceChannels);
    const int outputs = static_cast<int>(suffixes.size());
    // The media is the file as it is: the layer's level and shape travel as gain automation.
    const BlockFades fades = ComputeBlockFades(b);
    std::vector<AafGainPoint> gain;
    const double from = static_cast<double>(at.first) / run.rate - at.start;
    for (int i = 0; i < kGainPoints; ++i) {
        const double x = static_cast<double>(i) / (kGainPoints - 1);
        const float tau = static_cast<float>(from + clipSeconds * x);
        gain.push_back({x, BlockGain(run, b, {0.0f, 0.0f}, std::clamp(tau, 0.0f, b.duration * 0.999f))});
    }
    for (int o = 0; o < outputs; ++o) {
        std::vector<float> samples(seg->channels[0].size());
        for (size_t k = 0; k < samples.size(); ++k)
            samples[k] = ReadChannel(seg->channels, o, outputs, static_cast<int64_t>(k), 0.0f);
        const std::string name = AafMediaFileName(run.prefix, number, clipName, suffixes[static_cast<size_t>(o)], true);
        const double fileStart = run.snapshot.project.timeline.settings.startTC +
                                 static_cast<double>(at.first - offset) / run.rate;
        if (!WriteMedia(run, name, samples, std::max(0.0, fileStart), clipName)) return false;
        AafClip clip;
        clip.media = static_cast<int>(run.session.media.size()) - 1;
        clip.position = at.first;
        clip.length = length;
        clip.sourceOffset = offset;
        clip.fadeIn = std::llround((s.fadeInDuration > 0.0f ? s.fadeInDuration : fades.fadeIn) * run.rate);
        clip.fadeOut = std::llround((s.fadeOutDuration > 0.0f ? s.fadeOutDuration : fades.fadeOut) * run.rate);
        clip.gain = gain;
        run.clips.push_back({{muted, b.group, layer.groupTrack, o}, clip});
    }
    ++run.handleClips;
    return true;
}

// The clip as the mixer renders it, one mono file per output channel.
bool AddRenderedClip(AafRun& run, const RenderBlock& b, const Layer* layer, const Placement& at, int number,
                     const std::string& clipName, int muted) {
    const ExportSettings& s = run.settings;
    const std::vector<std::vector<float>>& in = b.audio->channels;
    const std::vector<std::string> suffixes = ChannelSuffixes(static_cast<int>(in.size()), s.exportAAFSourceChannels);
    const int outputs = static_cast<int>(suffixes.size());
    const int64_t frames = at.last - at.first;
    const BlockFades fades = ComputeBlockFades(b);
    const bool automation = s.exportAAFVolAuto && b.followsIntensity;
    const double from = static_cast<double>(at.first) / run.rate - at.start;
    // The block's read position and gain per clip sample, as the mixer steps them: the
    // gain exact every kGainStep samples and linear in between.
    constexpr int64_t kGainStep = 8;
    const double pos0 = static_cast<double>(at.first) - at.start * run.rate;
    RenderBlock unshaped;
    if (automation) {
        unshaped = b;
        unshaped.followsIntensity = false;
        unshaped.hasIntGain = false;
    }
    const RenderBlock& shape = automation ? unshaped : b;
    auto gainAt = [&](int64_t j) {
        return BlockGain(run, shape, fades, static_cast<float>((pos0 + static_cast<double>(j)) / run.rate));
    };
    std::vector<float> gain(static_cast<size_t>(frames));
    for (int64_t j = 0; j < frames; j += kGainStep) {
        const float g0 = gainAt(j), g1 = gainAt(j + kGainStep);
        for (int64_t i = j; i < std::min(frames, j + kGainStep); ++i)
            gain[static_cast<size_t>(i)] = g0 + (g1 - g0) * static_cast<float>(i - j) / kGainStep;
    }
    const int64_t k0 = static_cast<int64_t>(pos0);
    const float frac = static_cast<float>(pos0 - static_cast<double>(k0));
    for (int o = 0; o < outputs; ++o) {
        std::vector<float> samples(static_cast<size_t>(frames));
        for (int64_t j = 0; j < frames; ++j)
            samples[static_cast<size_t>(j)] = ReadChannel(in, o, outputs, k0 + j, frac) * gain[static_cast<size_t>(j)];
        const std::string name = AafMediaFileName(run.prefix, number, clipName, suffixes[static_cast<size_t>(o)], false);
        const double fileStart =
            run.snapshot.project.timeline.settings.startTC + static_cast<double>(at.first) / run.rate;
        if (!WriteMedia(run, name, samples, fileStart, clipName)) return false;
        AafClip clip;
        clip.media = static_cast<int>(run.session.media.size()) - 1;
        clip.position = at.first;
        clip.length = frames;
        clip.fadeIn = std::llround(std::max(0.0f, s.fadeInDuration) * run.rate);
        clip.fadeOut = std::llround(std::max(0.0f, s.fadeOutDuration) * run.rate);
        if (automation) clip.gain = IntensityPoints(b, from, from + static_cast<double>(frames) / run.rate);
        run.clips.push_back({{muted, b.group, layer != nullptr ? layer->groupTrack : 0, o}, clip});
    }
    return true;
}

bool AddBlock(AafRun& run, const RenderBlock& b) {
    const bool muted = b.muted || b.disabled;
    if (!b.audio || b.audio->channels.empty() || b.duration <= 0.0f) return true;
    if (muted && !run.settings.exportFillVirtual) return true;
    Placement at;
    at.start = b.start + (run.snapshot.deconfliction ? b.deconOffset : 0.0f);
    const int64_t blockFrames = b.audio->Frames();
    at.first = std::max(GridSample(at.start, run.rate), run.rangeFirst);
    at.last = std::min({GridSample(at.start + b.duration, run.rate), run.rangeLast,
                        GridSample(at.start, run.rate) + blockFrames});
    if (at.last <= at.first) return true;  // outside the exported range
    const Layer* layer = BlockLayer(run.snapshot, b);
    const std::string clipName = ExportFileStem(layer != nullptr ? layer->name : b.identity, "clip");
    const int number = ++run.clipNumber;
    const bool handles = run.settings.exportWithHandles;
    if (handles && CanUseSource(run, b, layer) && AddSourceClip(run, b, *layer, at, number, clipName, muted ? 1 : 0))
        return true;
    if (!run.failure.empty()) return false;
    return AddRenderedClip(run, b, layer, at, number, clipName, muted ? 1 : 0);
}

// Clip edges on video frames: each edge moves to the nearest frame boundary when the
// media has the samples for it, else to the boundary inside the clip. A clip shorter
// than a frame stays as it is.
void SnapToFrames(AafRun& run, double fps) {
    const double perFrame = run.rate / std::max(1.0, fps);
    auto nearest = [&](int64_t s) { return std::llround(std::round(s / perFrame) * perFrame); };
    auto inward = [&](int64_t s, bool up) {
        return std::llround((up ? std::ceil(s / perFrame - 1e-9) : std::floor(s / perFrame + 1e-9)) * perFrame);
    };
    for (PlacedClip& placed : run.clips) {
        AafClip& c = placed.clip;
        const int64_t mediaFrames = run.session.media[static_cast<size_t>(c.media)].frames;
        int64_t start = nearest(c.position);
        if (c.sourceOffset + (start - c.position) < 0) start = inward(c.position, true);
        int64_t end = nearest(c.position + c.length);
        if (c.sourceOffset + (start - c.position) + (end - start) > mediaFrames) end = inward(c.position + c.length, false);
        if (end <= start) continue;
        c.sourceOffset += start - c.position;
        c.position = start;
        c.length = end - start;
    }
}

// One track per timeline slot and channel, audible ones first; clips that would
// overlap on a slot go to a further track of their own.
void AssembleTracks(AafRun& run) {
    std::map<TrackKey, std::vector<AafClip>> bySlot;
    for (PlacedClip& p : run.clips) bySlot[p.key].push_back(p.clip);
    for (auto& [key, clips] : bySlot) {
        std::sort(clips.begin(), clips.end(), [](const AafClip& a, const AafClip& b) { return a.position < b.position; });
        std::vector<AafTrack> lanes;
        for (AafClip& c : clips) {
            c.position -= run.rangeFirst;
            auto lane = std::find_if(lanes.begin(), lanes.end(), [&](const AafTrack& t) {
                return t.clips.back().position + t.clips.back().length <= c.position;
            });
            if (lane == lanes.end()) {
                lanes.push_back(AafTrack{});
                lane = lanes.end() - 1;
            }
            lane->clips.push_back(c);
        }
        for (AafTrack& t : lanes) run.session.tracks.push_back(std::move(t));
    }
}

void NameTracks(AafRun& run) {
    for (size_t i = 0; i < run.session.tracks.size(); ++i) run.session.tracks[i].name = "Track " + std::to_string(i + 1);
}

void AddMarkers(AafRun& run) {
    const TimelineState& timeline = run.snapshot.project.timeline;
    for (size_t i = 0; i < timeline.events.size(); ++i) {
        const Event& e = timeline.events[i];
        const bool built = std::any_of(timeline.results.begin(), timeline.results.end(),
                                       [&](const Layer& l) { return l.eventIdx == static_cast<int32_t>(i); });
        const int64_t at = std::llround((e.time + e.syncOffset) * static_cast<double>(run.rate));
        if (!built || at < run.rangeFirst || at >= run.rangeLast) continue;
        run.session.markers.push_back({at - run.rangeFirst, EventLabel(e, timeline.userShapes)});
    }
}

// The wet reverb over the range as "Reverb.L.wav" and "Reverb.R.wav", each on a track of its own.
bool AddReverbStem(AafRun& run) {
    std::unique_ptr<RenderCache> cache = MakeExportMixCache(run.snapshot, true);
    std::vector<float> wet, scratch;
    const int64_t frames = run.rangeLast - run.rangeFirst;
    std::string why;
    if (!MixWetReverb(*cache, run.snapshot, static_cast<double>(run.rangeFirst) / run.rate, frames, wet, scratch,
                      nullptr, &why)) {
        run.failure = "mixing the reverb failed: " + why;
        return false;
    }
    const double fileStart = run.snapshot.project.timeline.settings.startTC + static_cast<double>(run.rangeFirst) / run.rate;
    for (int side = 0; side < 2; ++side) {
        std::vector<float> samples(static_cast<size_t>(frames));
        for (int64_t i = 0; i < frames; ++i) samples[static_cast<size_t>(i)] = wet[static_cast<size_t>(2 * i + side)];
        if (!WriteMedia(run, side == 0 ? "Reverb.L.wav" : "Reverb.R.wav", samples, fileStart,
                        side == 0 ? "Reverb L" : "Reverb R"))
            return false;
        AafClip clip;
        clip.media = static_cast<int>(run.session.media.size()) - 1;
        clip.length = frames;
        run.session.tracks.push_back({"", {clip}});
    }
    return true;
}

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
}

bool FolderExists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string AafMediaFileName(const std::string& prefix, int number, const std::string& clipName,
                             const std::string& suffix, bool fromSource) {
    char head[32];
    std::snprintf(head, sizeof head, fromSource ? "_%03d_src_" : "_%03d_", number);
    const std::string tail = suffix + ".wav";
    return FitFileStem(prefix + head + clipName, tail.size()) + tail;
}

bool ExportAAF(const ExportSnapshot& snapshot, std::string* error, AafExportTimes* times) {
    const auto mediaStart = std::chrono::steady_clock::now();
    const ExportRequest& request = snapshot.request;
    AafRun run(snapshot);
    const TimelineSettings& ts = snapshot.project.timeline.settings;
    const ExportRange range = ComputeExportRange(request.workAreaIn, request.workAreaOut, ts.totalDuration);
    run.rangeFirst = GridSample(range.start, run.rate);
    run.rangeLast = GridSample(range.end, run.rate);
    if (run.rangeLast <= run.rangeFirst) return Fail(error, "the timeline is empty");
    if (snapshot.unreadableBlocks > 0)
        return Fail(error, std::to_string(snapshot.unreadableBlocks) + " rendered blocks could not be read back");
    run.prefix = ExportFileStem(request.baseName, "Morvane");
    run.mediaFolder = request.folder + "/Audio Files";
    if (!CreateExportFolder(request.folder, run.guard) || !CreateExportFolder(run.mediaFolder, run.guard)) {
        std::printf("[AAF] CreateMediaFolder FAILED hr=0x%08lX path='%s'\n",
                    static_cast<unsigned long>(kAafResultCannotCreate), run.mediaFolder.c_str());
        return Fail(error, "cannot create the folder " + run.mediaFolder);
    }

    // A killed export leaves its unfinished media under their temporary names.
    RemoveLeftoverPartialFiles(run.mediaFolder);
    for (const RenderBlock& block : snapshot.blocks)
        if (!AddBlock(run, block)) return Fail(error, run.failure);
    if (request.settings.snapToFrames) SnapToFrames(run, ts.fps);
    AssembleTracks(run);
    if (request.settings.exportReverbStem && snapshot.project.reverb.enabled && !AddReverbStem(run))
        return Fail(error, run.failure);
    NameTracks(run);
    if (request.settings.exportAAFMarkers) AddMarkers(run);

    AafSession& s = run.session;
    s.sampleRate = run.rate;
    // Whole-number rates run as they are; 23.976 and 29.97 as their NTSC fractions.
    const double fps = std::max(1.0f, ts.fps);
    const bool ntsc = std::fabs(fps * 1.001 - std::round(fps * 1.001)) < 0.01 && std::fabs(fps - std::round(fps)) > 0.01;
    s.frameRateNumerator = ntsc ? static_cast<int32_t>(std::lround(fps * 1.001)) * 1000 : static_cast<int32_t>(std::lround(fps));
    s.frameRateDenominator = ntsc ? 1001 : 1;
    const double rate = static_cast<double>(s.frameRateNumerator) / s.frameRateDenominator;
    s.timecodeStart = std::llround((ts.startTC + range.start) * rate);
    s.length = run.rangeLast - run.rangeFirst;

    const std::string path = request.folder + "/" + FitFileStem(run.prefix, 4) + ".aaf";
    std::printf("[AAF] writing '%s'  (essence clips=%d, handles=%d, fillVirtual=%d, aafDir exists=%d)\n", path.c_str(),
                static_cast<int>(s.media.size()), run.handleClips, request.settings.exportFillVirtual ? 1 : 0,
                FolderExists(request.folder) ? 1 : 0);
    const auto sessionStart = std::chrono::steady_clock::now();
    AafWriteError writeError;
    const bool written = WriteAafSession(s, path, &writeError);
    if (times != nullptr) {
        using Seconds = std::chrono::duration<double>;
        times->mediaSeconds = Seconds(sessionStart - mediaStart).count();
        times->sessionSeconds = Seconds(std::chrono::steady_clock::now() - sessionStart).count();
    }
    if (!written) return Fail(error, writeError.step + ": " + writeError.why);
    run.guard.Commit();
    return true;
}

}  // namespace morvane
