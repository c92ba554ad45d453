#include "engine/event_build.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "engine/scale.h"
#include "platform/regular_file.h"

namespace morvane {

SoundProbe FileSoundProbe() {
    return [](const std::string& path) {
        SoundFileInfo info;
        SF_INFO sf{};
        // Only a regular file: opening a named pipe by name would wait for a writer forever.
        const int descriptor = OpenRegularFileForReading(path, nullptr);
        SNDFILE* file = descriptor >= 0 ? sf_open_fd(descriptor, SFM_READ, &sf, SF_TRUE) : nullptr;
        if (file == nullptr) return info;
        if (sf.samplerate > 0) {
            info.ok = true;
            info.duration = static_cast<double>(sf.frames) / sf.samplerate;
            info.channels = sf.channels;
        }
        sf_close(file);
        return info;
    };
}

float EventStart(const Event& event) { return event.time - event.syncOffset; }
float EventEnd(const Event& event) { return EventStart(event) + std::max(0.0f, event.duration); }

namespace {

float Clamp01(float x) { return std::clamp(x, 0.0f, 1.0f); }

// Curve value at a fraction 0..1 of the event, linearly interpolated.
float CurveAt(const Curve& curve, float frac) {
    const float x = Clamp01(frac) * (kCurvePoints - 1);
    const int i = std::min(static_cast<int>(x), kCurvePoints - 2);
    const float t = x - static_cast<float>(i);
    return curve[i] * (1.0f - t) + curve[i + 1] * t;
}

// The scaled intensity at timeline time t, 0..1.
float IntensityAtTime(const Event& ev, float t) {
    const float dur = std::max(ev.duration, 1e-6f);
    return Clamp01(CurveAt(ev.intensity, (t - EventStart(ev)) / dur) * ev.intensityScale);
}

float PeakIntensity(const Event& ev) {
    float p = 0.0f;
    for (float v : ev.intensity) p = std::max(p, v);
    return p;
}

bool IsSwell(EventShape s) { return s == EventShape::Bloom || s == EventShape::Contour; }

const char* SketchName(EventShape shape) {
    switch (shape) {
        case EventShape::Spot: return "[Sketch] Spot";
        case EventShape::Bloom:
        case EventShape::Contour: return "[Sketch] Wash";
        case EventShape::Fill: return "[Sketch] Fill";
        case EventShape::Scatter: return "[Sketch] Scatter";
        default: return "[Sketch] Layer";
    }
}

float PitchRatio(float semitones) {
    return std::fabs(semitones) > 0.01f ? std::pow(2.0f, semitones / 12.0f) : 1.0f;
}

// Seconds of the file before its attack, from the analysis of its first 30 s.
float OnsetPreroll(const LibraryEntry& e) {
    return std::clamp(e.onsetPosition, 0.0f, 1.0f) * std::min(e.duration, 30.0f);
}

void ScaleFades(Layer& layer, float share) {
    const float limit = share * layer.duration;
    const float sum = layer.fadeIn + layer.fadeOut;
    if (sum > limit && sum > 0.0f) {
        layer.fadeIn *= limit / sum;
        layer.fadeOut *= limit / sum;
    }
}

// Safety net over every placement: a layer that starts before its slack moves its
// source start instead; one that rings past the slack is shortened.
void KeepInsideSpan(Layer& layer, const Event& ev) {
    const float lo = EventStart(ev) - kSpanSlack;
    const float hi = EventEnd(ev) + kSpanSlack;
    if (layer.startTime < lo) {
        const float skip = lo - layer.startTime;
        layer.sourceOffset += skip * PitchRatio(layer.pitchShift);
        layer.duration -= skip;
        layer.startTime = lo;
    }
    if (layer.startTime + layer.duration > hi) layer.duration = hi - layer.startTime;
    if (layer.duration < 0.0f) layer.duration = 0.0f;
    ScaleFades(layer, 0.85f);
}

struct Context {
    Project& project;
    TimelineState& tl;
    const BuildOptions& options;
    BuildRng rng;
    std::vector<const LibraryEntry*> byClass[3];
    std::vector<const LibraryEntry*> all;
    const std::vector<LibraryRoot>& roots;
    std::vector<UsageRecord> buildUsage;
    std::unordered_map<std::string, const LibraryEntry*> byPath;
    std::unordered_map<std::string, const LibraryEntry*> byId;
    std::vector<Layer> placed;  // layers made by this build
    std::vector<std::pair<int, std::string>> missing;  // (event, path) of pinned files not found
    int noMatch = 0;
    SelectionCache selection;  // what the draws of this build share
};

// The summed band profile of hero events overlapping a non-hero event: each hero adds
// 1.5 x the fraction of this event it overlaps x the mean band profile of its layers.
bool HeroOccupancy(const Context& ctx, int eventIdx, std::array<float, 5>& out) {
    const Event& ev = ctx.tl.events[static_cast<size_t>(eventIdx)];
    if (ev.hero) return false;
    out = {};
    bool any = false;
    const float s0 = EventStart(ev), e0 = EventEnd(ev), dur = std::max(ev.duration, 0.01f);
    auto addLayers = [&](const std::vector<Layer>& layers, int heroIdx, float weight) {
        std::array<float, 5> profile{};
        int n = 0;
        for (const Layer& l : layers) {
            if (l.eventIdx != heroIdx) continue;
            auto it = ctx.byPath.find(l.filepath);
            if (it == ctx.byPath.end()) continue;
            const std::array<float, 5> s = BandShares(*it->second);
            for (int k = 0; k < 5; ++k) profile[k] += s[k];
            ++n;
        }
        if (n == 0) return;
        for (int k = 0; k < 5; ++k) out[k] += weight * profile[k] / static_cast<float>(n);
        any = true;
    };
    for (size_t h = 0; h < ctx.tl.events.size(); ++h) {
        const Event& hero = ctx.tl.events[h];
        if (!hero.hero || static_cast<int>(h) == eventIdx) continue;
        const float overlap = std::min(e0, EventEnd(hero)) - std::max(s0, EventStart(hero));
        if (overlap <= 0.0f) continue;
        const float w = 1.5f * std::min(1.0f, overlap / dur);
        addLayers(ctx.tl.results, static_cast<int>(h), w);
        addLayers(ctx.placed, static_cast<int>(h), w);
    }
    return any;
}

std::vector<const LibraryEntry*> EventCandidates(const Context& ctx, const Event& ev) {
    const int group = EventGroup(ev);
    if (!ev.libFilter.empty()) {
        std::vector<const LibraryEntry*> list = CollectCandidates(ctx.roots, group, ev.libFilter);
        if (list.empty()) list = CollectCandidates(ctx.roots, -1, ev.libFilter);
        return list;
    }
    return ctx.byClass[group].empty() ? ctx.all : ctx.byClass[group];
}

Layer NewLayer(const Event& ev, int eventIdx) {
    Layer layer;
    layer.eventIdx = eventIdx;
    layer.group = EventGroup(ev);
    layer.stereo = ev.stereo;
    layer.weight = Clamp01(ev.weightCenter);
    layer.layerGain = Clamp01(ev.gain);
    return layer;
}

void TakeFile(Layer& layer, const LibraryEntry& e) {
    layer.name = e.name;
    layer.filepath = e.path;
    layer.fileId = e.fileId;
    layer.stereo = layer.stereo || e.channels >= 2;
}

void DrawPitch(Context& ctx, const Event& ev, Layer& layer) {
    const TimelineSettings& s = ctx.tl.settings;
    if (ev.pitchVariation > 0.0f || s.pitchShiftProb > 0) {
        const float u1 = ctx.rng.Next(), u2 = ctx.rng.Next(), u3 = ctx.rng.Next();
        layer.pitchVarShift = DrawPitchVarShift(ev.pitchVariation, s.pitchShiftProb, u1, u2, u3);
    }
    if (ev.shape == EventShape::Fill) layer.pitchVarShift = 0.0f;  // fills join chunk to chunk
    layer.pitchShift = layer.pitchVarShift;
}

void RecordUsage(Context& ctx, std::vector<UsageRecord>& eventUsage, const LibraryEntry& e, float offset,
                 float duration, float eventStart) {
    UsageRecord record{e.path, e.fileId, offset, duration, eventStart};
    eventUsage.push_back(record);
    ctx.buildUsage.push_back(std::move(record));
}

TargetCurve16 TargetOver(const Event& ev, float from, float length) {
    TargetCurve16 t{};
    for (int i = 0; i < kTargetCurvePoints; ++i)
        t[i] = IntensityAtTime(ev, from + (i + 0.5f) / kTargetCurvePoints * length);
    return t;
}

// ---- pinned layers ----------------------------------------------------------------

void PlacePinned(Context& ctx, const Event& ev, int eventIdx, const std::vector<const LibraryEntry*>& candidates,
                 std::vector<UsageRecord>& eventUsage) {
    const float start = EventStart(ev), end = EventEnd(ev);
    const ContourTimes contour = EventContourTimes(ev);
    for (size_t i = 0; i < ev.pinnedFiles.size(); ++i) {
        const std::string& path = ev.pinnedFiles[i];
        const std::string id = i < ev.pinnedFileIds.size() ? ev.pinnedFileIds[i] : std::string();
        const LibraryEntry* hit = nullptr;
        if (!id.empty())
            for (const LibraryEntry* c : candidates)
                if (c->fileId == id) { hit = c; break; }
        if (hit == nullptr)
            for (const LibraryEntry* c : candidates)
                if (c->path == path) { hit = c; break; }
        Layer layer = NewLayer(ev, eventIdx);
        layer.stereo = ev.stereo;
        DrawPitch(ctx, ev, layer);
        const float ratio = PitchRatio(layer.pitchShift);
        float preroll = 0.0f, fileLength = ev.duration, attack = 0.0f;
        if (hit != nullptr) {
            layer.name = hit->name;
            layer.filepath = hit->path;
            layer.fileId = hit->fileId;
            preroll = OnsetPreroll(*hit);
            fileLength = hit->duration;
            attack = hit->attackTime;
        } else {
            const size_t slash = path.find_last_of('/');
            layer.name = slash == std::string::npos ? path : path.substr(slash + 1);
            layer.filepath = path;
            layer.fileId = id;
            ctx.missing.emplace_back(eventIdx, path);
        }
        layer.sourceDuration = fileLength;
        if (ev.shape == EventShape::Fill) {
            layer.startTime = start;
            layer.duration = ev.duration;
            layer.fadeIn = layer.fadeOut = 0.0f;
            layer.procMode = ProcMode::Fill;
        } else {
            const float natural = start - preroll / ratio;
            layer.startTime = std::max(start - kSpanSlack, natural);
            layer.sourceOffset = (layer.startTime - natural) * ratio;
            const float usable = std::max(0.0f, fileLength - layer.sourceOffset) / ratio;
            const float stop = std::min(end + kSpanSlack, layer.startTime + usable);
            layer.duration = std::max(0.1f, stop - layer.startTime);
            if (ev.shape == EventShape::Spot || ev.shape == EventShape::Bloom) {
                layer.fadeIn = std::max(std::max(0.12f * layer.duration, 0.02f), attack);
                layer.fadeOut = std::max(0.18f * layer.duration, 0.04f);
            } else {
                layer.fadeIn = std::max(std::max(0.08f * layer.duration, 0.02f), contour.rise);
                layer.fadeOut = std::max(std::max(0.12f * layer.duration, 0.04f), contour.fall);
            }
            ScaleFades(layer, 0.75f);
        }
        if (hit != nullptr) RecordUsage(ctx, eventUsage, *hit, layer.sourceOffset, layer.duration, start);
        ctx.placed.push_back(std::move(layer));
    }
}

// ---- chosen layers ------------------------------------------------------------------

// What one slot of an event's stack asks for. A stack is cut the way an editor would
// build it by hand: one layer carries the body (the event's own intensity) and the
// others reach lower (weight, sub) and higher (detail, air) around it, further apart
// the wider the event's spread.
struct Slot {
    float intensity = 0.5f;
    float needed = 1.0f;
    float transient = 0.5f;
    float anchor = 0.0f;  // Spot and Scatter: where the attack lands
};

Slot PlanSlot(Context& ctx, const Event& ev, int k, int count, int firstChosen, const std::vector<float>& cdf) {
    Slot slot;
    const float start = EventStart(ev), dur = std::max(ev.duration, 0.01f);
    const float peak = Clamp01(PeakIntensity(ev) * ev.intensityScale);
    const float s = Clamp01(ev.spread);
    const int m = std::max(1, count - firstChosen), j = k - firstChosen;
    const float pos = m > 1 ? static_cast<float>(j) / static_cast<float>(m - 1) - 0.5f : 0.0f;
    // Slot 0 keeps the event's intensity; the rest alternate below and above it.
    const float reach = (0.25f + 0.45f * s) * (m > 1 ? 1.0f : 0.0f);
    const float order = j == 0 ? 0.0f : ((j % 2 == 1) ? -1.0f : 1.0f) * std::fabs(pos) * 2.0f;
    switch (ev.shape) {
        case EventShape::Spot:
            slot.intensity = Clamp01(peak + order * reach * 0.5f);
            slot.needed = dur;
            slot.transient = j == 0 ? 1.0f : 0.75f;
            slot.anchor = std::clamp(ev.time, start, start + dur);
            break;
        case EventShape::Bloom:
        case EventShape::Contour:
            slot.intensity = Clamp01(peak + order * reach * 0.5f);
            slot.needed = dur + kSpanSlack;
            slot.transient = 0.2f;
            break;
        case EventShape::Fill: {
            float mean = 0.0f;
            for (float v : ev.intensity) mean += v;
            mean = Clamp01(mean / kCurvePoints * ev.intensityScale);
            slot.intensity = Clamp01(mean + order * reach * 0.3f);
            slot.needed = dur;
            slot.transient = 0.0f;
            break;
        }
        case EventShape::Scatter: {
            // Stratified draw along the intensity's running sum: the sounds spread over
            // the whole event, closer together where it is more intense.
            const float u = (static_cast<float>(j) + ctx.rng.Next()) / static_cast<float>(m);
            const auto it = std::lower_bound(cdf.begin(), cdf.end(), u);
            const float frac = static_cast<float>(it - cdf.begin()) / static_cast<float>(cdf.size() - 1);
            slot.anchor = start + Clamp01(frac) * dur;
            slot.intensity = IntensityAtTime(ev, slot.anchor);
            slot.needed = std::clamp(dur / static_cast<float>(m) * 1.5f, 0.1f, 1.5f);
            slot.transient = 0.9f;
            break;
        }
        default: break;
    }
    return slot;
}

// Running sum of the intensity (with a small floor, so quiet stretches are not empty
// of sound altogether), normalised to end at 1.
std::vector<float> IntensityCdf(const Event& ev) {
    std::vector<float> cdf(kCurvePoints);
    float sum = 0.0f;
    for (int i = 0; i < kCurvePoints; ++i) {
        sum += std::max(0.0f, ev.intensity[i]) + 0.05f;
        cdf[i] = sum;
    }
    for (float& v : cdf) v /= sum;
    return cdf;
}

void ChosenFades(Layer& layer, const ContourTimes& contour, const LibraryEntry& e) {
    // Contour rise and fall, doubled; never shorter than the file's own attack, and
    // never an instant edge (a 3 ms ramp removes the click without dulling a hit).
    layer.fadeIn = std::max({2.0f * contour.rise, e.attackTime, 0.003f});
    layer.fadeOut = std::max(2.0f * contour.fall, 0.003f);
    ScaleFades(layer, 0.85f);
}

void FillIntGain(Layer& layer, const Event& ev, float slotIntensity) {
    // Brighter layers of a swell only come through near its peak; the body layers
    // follow the curve more gently.
    const float peak = std::max(1e-3f, Clamp01(PeakIntensity(ev) * ev.intensityScale));
    const float gamma = 0.6f + 1.4f * slotIntensity;
    for (int i = 0; i < kIntGainPoints; ++i) {
        const float t = layer.startTime + static_cast<float>(i) / (kIntGainPoints - 1) * layer.duration;
        layer.intGain[i] = std::pow(Clamp01(IntensityAtTime(ev, t) / peak), gamma);
    }
    layer.hasIntGain = true;
}

// Lays the file end to end over a fill layer, with 50 ms crossfades at the joins.
// Chunk: s = source start frame, l = length in frames, x = crossfade into this chunk.
void MakeFillChunks(Context& ctx, Layer& layer, const LibraryEntry& e) {
    const double rate = ctx.project.projectSampleRate > 0 ? ctx.project.projectSampleRate : 48000;
    const int64_t fileFrames = static_cast<int64_t>(e.duration * rate);
    const int64_t needed = static_cast<int64_t>(layer.duration * rate);
    layer.fillChunks.clear();
    if (fileFrames <= 0 || needed <= 0) return;
    if (fileFrames >= needed) {
        layer.fillChunks.push_back({static_cast<int32_t>(layer.sourceOffset * rate), static_cast<int32_t>(needed), 0});
        return;
    }
    const int64_t fade = std::min<int64_t>(static_cast<int64_t>(0.05 * rate), fileFrames / 4);
    int64_t covered = 0;
    bool first = true;
    while (covered < needed && layer.fillChunks.size() < 4096) {
        const int64_t x = first ? 0 : fade;
        const int64_t length = std::min(fileFrames, needed - covered + x);
        // Later chunks start anywhere the remaining file allows, so joins do not fall
        // on the same sound every time.
        const int64_t slack = fileFrames - length;
        const int64_t s = first || slack <= 0 ? 0 : static_cast<int64_t>(ctx.rng.Next() * static_cast<float>(slack));
        layer.fillChunks.push_back({static_cast<int32_t>(s), static_cast<int32_t>(length), static_cast<int32_t>(x)});
        covered += length - x;
        first = false;
    }
    layer.fillLoop = layer.fillChunks.size() > 1;
}

void PlaceChosen(Context& ctx, const Event& ev, const Slot& slot, int j, const LibraryEntry& e, Layer& layer,
                 std::vector<UsageRecord>& eventUsage) {
    const float start = EventStart(ev), end = EventEnd(ev), dur = std::max(ev.duration, 0.0f);
    const ContourTimes contour = EventContourTimes(ev);
    TakeFile(layer, e);
    layer.sourceDuration = e.duration;
    const float ratio = PitchRatio(layer.pitchShift);
    switch (ev.shape) {
        case EventShape::Spot:
        case EventShape::Scatter: {
            // The file's attack lands on the anchor: the sync point for Spot, the
            // drawn moment for Scatter. Spot layers ring to the end of the event
            // (plus the slack), Scatter sounds stay short.
            const float preroll = OnsetPreroll(e) / ratio;
            const float natural = slot.anchor - preroll;
            layer.startTime = std::max(start - kSpanSlack, natural);
            layer.sourceOffset = (layer.startTime - natural) * ratio;
            const float usable = std::max(0.0f, e.duration - layer.sourceOffset) / ratio;
            float want = usable;
            if (ev.shape == EventShape::Scatter) want = std::min(usable, slot.needed + preroll);
            else if (j > 0) want = std::min(usable, (end + kSpanSlack - layer.startTime) * (1.0f - 0.08f * j));
            layer.duration = std::min(want, end + kSpanSlack - layer.startTime);
            layer.duration = std::max(layer.duration, std::min(0.1f, end + kSpanSlack - layer.startTime));
            break;
        }
        case EventShape::Bloom:
        case EventShape::Contour: {
            // Layers of a swell enter a few milliseconds apart, as they would be
            // slipped by hand, and ring a little past the event.
            const float stagger = j == 0 ? 0.0f : ctx.rng.Next() * 0.06f;
            const float room = end + kSpanSlack - (start + stagger);
            const float length = std::min(room, e.duration / ratio);
            const SourceSpan span =
                ChooseSourceOffset(e, length * ratio, TargetOver(ev, start + stagger, length), ctx.rng, ctx.options.envelopes);
            layer.sourceOffset = span.offset;
            layer.duration = std::min(room, span.duration / ratio);
            if (layer.duration < room - 1e-4f) {
                // A short file sits on the swell's peak, where it counts most.
                int peakAt = 0;
                for (int i = 1; i < kCurvePoints; ++i)
                    if (ev.intensity[i] > ev.intensity[peakAt]) peakAt = i;
                const float peakTime = start + static_cast<float>(peakAt) / (kCurvePoints - 1) * dur;
                layer.startTime = std::clamp(peakTime - layer.duration * 0.5f, start - kSpanSlack,
                                             end + kSpanSlack - layer.duration);
            } else {
                layer.startTime = start + stagger;
            }
            FillIntGain(layer, ev, slot.intensity);
            break;
        }
        case EventShape::Fill: {
            layer.procMode = ProcMode::Fill;
            layer.startTime = start;
            layer.duration = dur;
            const SourceSpan span = ChooseSourceOffset(e, dur, TargetOver(ev, start, dur), ctx.rng, ctx.options.envelopes);
            layer.sourceOffset = span.offset;
            MakeFillChunks(ctx, layer, e);
            for (int i = 0; i < kFillGainPoints; ++i) {
                const float t = start + static_cast<float>(i) / (kFillGainPoints - 1) * dur;
                layer.fillGain[i] = std::clamp(2.0f * IntensityAtTime(ev, t), 0.0f, 2.8f);
            }
            layer.hasFillGain = true;
            break;
        }
        default: break;
    }
    ChosenFades(layer, contour, e);
    if (ev.shape != EventShape::Fill) KeepInsideSpan(layer, ev);
    // The body layer leads; the others sit a little under it.
    layer.layerGain = Clamp01(ev.gain) * (j == 0 ? 1.0f : 0.8f - 0.15f * std::fabs(slot.intensity - 0.5f));
    RecordUsage(ctx, eventUsage, e, layer.sourceOffset, layer.duration, start);
}

// One drawn file for a set of wishes; null when nothing is left to choose.
const LibraryEntry* Draw(Context& ctx, const std::vector<const LibraryEntry*>& candidates, const ScoreWishes& wishes,
                         int maxCount, const std::vector<UsageRecord>& eventUsage, float eventStart) {
    std::vector<ScoredCandidate> scored =
        ScoreCandidates(ctx.selection, ctx.tl, candidates, wishes, maxCount, ctx.options.reference);
    ApplyRepeatFactors(scored, eventUsage, ctx.buildUsage, eventStart);
    if (scored.empty()) return nullptr;
    return scored[static_cast<size_t>(PickWeighted(scored, ctx.rng))].entry;
}

// ---- Alloy ------------------------------------------------------------------------

int PlaceAlloy(Context& ctx, const Event& ev, int eventIdx, const std::vector<const LibraryEntry*>& candidates,
               int room, const std::vector<KeywordTerm>& terms, std::vector<UsageRecord>& eventUsage) {
    float lo = 1.0f, hi = 0.0f;
    for (int i = 0; i < kCurvePoints; ++i) {
        const float v = ev.intensity[i];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    lo = std::min(lo, 1.0f);
    hi = std::max(hi, 0.0f);
    const float range = hi - lo;
    const int stems = std::min(room, range < 0.15f ? 1 : range < 0.45f ? 2 : 3);
    const float start = EventStart(ev), end = EventEnd(ev);
    for (int k = 0; k < stems; ++k) {
        Layer layer = NewLayer(ev, eventIdx);
        layer.procMode = ProcMode::Alloy;
        layer.alloyMorph = ev.alloyMorph;
        layer.alloyAlgo = ctx.tl.settings.alloyAlgorithm;
        layer.startTime = start;
        layer.duration = std::max(0.01f, end + kSpanSlack - start);
        DrawPitch(ctx, ev, layer);
        if (candidates.empty()) {
            layer.name = "[Sketch] Alloy";
            ScaleFades(layer, 0.85f);
            ctx.placed.push_back(std::move(layer));
            continue;
        }
        const float target = stems == 1 ? (lo + hi) * 0.5f : lo + static_cast<float>(k) / (stems - 1) * range;
        const float spread = std::min(range * 0.35f, 0.6f * Clamp01(ev.spread));
        const TargetCurve16 curve = TargetOver(ev, start, layer.duration);
        AlloyPart* parts[3] = {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv};
        bool any = false;
        for (int j = 0; j < 4; ++j) {
            const float sub = Clamp01((j / 3.0f - 0.5f) * spread + target + (ctx.rng.Next() - 0.5f) * 0.15f);
            ScoreWishes w;
            w.intensity = sub;
            w.neededDuration = layer.duration;
            w.shape = ev.shape;
            w.terms = &terms;
            w.transient = IsSwell(ev.shape) ? 0.2f : 0.8f;
            const LibraryEntry* e = Draw(ctx, candidates, w, 32, eventUsage, start);
            if (e == nullptr) continue;
            const SourceSpan span = ChooseSourceOffset(*e, layer.duration, curve, ctx.rng, ctx.options.envelopes);
            RecordUsage(ctx, eventUsage, *e, span.offset, span.duration, start);
            if (j == 0) {
                TakeFile(layer, *e);
                layer.sourceOffset = span.offset;
                layer.sourceDuration = e->duration;
                layer.duration = std::min(layer.duration, std::max(0.01f, span.duration));
                ChosenFades(layer, EventContourTimes(ev), *e);
                any = true;
            } else {
                *parts[j - 1] = AlloyPart{e->path, e->fileId, span.offset, span.duration, e->name};
            }
        }
        if (!any) {
            layer.name = kNoMatchName;
            ++ctx.noMatch;
        } else {
            // A sub-target the library could not serve morphs the stem's file with
            // itself, which the render plays as the plain file.
            for (AlloyPart* part : parts)
                if (part->filepath.empty())
                    *part = AlloyPart{layer.filepath, layer.fileId, layer.sourceOffset, layer.duration, layer.name};
        }
        KeepInsideSpan(layer, ev);
        ctx.placed.push_back(std::move(layer));
    }
    return stems;
}

// ---- Clip and Bed ---------------------------------------------------------------

// A file moved since it was pinned: the library knows its identity under a new path.
void RelinkPinned(const Context& ctx, std::string& path, const std::string& id) {
    if (id.empty()) return;
    auto it = ctx.byId.find(id);
    if (it != ctx.byId.end() && it->second->path != path) path = it->second->path;
}

void BuildClip(Context& ctx, Event& ev, int eventIdx) {
    RelinkPinned(ctx, ev.pinnedFile, ev.pinnedFileId);
    Layer layer = NewLayer(ev, eventIdx);
    layer.startTime = EventStart(ev);
    layer.weight = ev.clipWeight >= 0.0f ? ev.clipWeight : 0.5f;
    layer.layerGain = 1.0f;
    const SoundFileInfo info = ctx.options.probe ? ctx.options.probe(ev.pinnedFile) : SoundFileInfo{};
    if (!info.ok) {
        layer.name = kMissingName;
        layer.filepath = ev.pinnedFile;
        layer.fileId = ev.pinnedFileId;
        layer.duration = ev.duration;
        layer.fadeIn = 0.01f;
        layer.fadeOut = 0.05f;
        ctx.placed.push_back(std::move(layer));
        return;
    }
    const float fileLength = static_cast<float>(info.duration);
    const size_t slash = ev.pinnedFile.find_last_of('/');
    std::string name = slash == std::string::npos ? ev.pinnedFile : ev.pinnedFile.substr(slash + 1);
    if (const size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    layer.name = name;
    layer.filepath = ev.pinnedFile;
    layer.fileId = ev.pinnedFileId;
    layer.stereo = ev.stereo || info.channels >= 2;
    layer.sourceOffset = ev.clipSourceOffset;
    layer.sourceDuration = fileLength;
    float length = std::max(fileLength - ev.clipSourceOffset, 0.0f);
    if (ev.clipSourceDuration > 0.0f) length = std::min(length, ev.clipSourceDuration);
    length = std::min(length, std::max(ctx.tl.settings.totalDuration - layer.startTime, 0.01f));
    layer.duration = length;
    layer.fadeIn = ev.clipFadeIn >= 0.0f ? ev.clipFadeIn : std::min(0.02f * length, 0.01f);
    layer.fadeOut = ev.clipFadeOut >= 0.0f ? ev.clipFadeOut : std::min(0.05f * length, 0.05f);
    ctx.placed.push_back(std::move(layer));
}

void BuildBed(Context& ctx, Event& ev, int eventIdx, std::vector<Layer>& kept) {
    for (size_t i = 0; i < ev.pinnedFiles.size(); ++i)
        RelinkPinned(ctx, ev.pinnedFiles[i], i < ev.pinnedFileIds.size() ? ev.pinnedFileIds[i] : std::string());
    const float frame = ctx.tl.settings.fps > 0.0f ? 1.0f / ctx.tl.settings.fps : 0.04f;
    const float extra = ev.sceneLink >= 0 ? frame * static_cast<float>(std::max(ev.sceneCrossfade, 0)) : frame;
    const float duration = std::max(0.05f, ev.duration + extra);
    auto matches = [&](const Layer& l, size_t i) {
        const std::string id = i < ev.pinnedFileIds.size() ? ev.pinnedFileIds[i] : std::string();
        return l.filepath == ev.pinnedFiles[i] || (!l.fileId.empty() && l.fileId == id);
    };
    // Keep the layers that still belong to a pinned file; drop the rest.
    std::vector<bool> covered(ev.pinnedFiles.size(), false);
    std::erase_if(kept, [&](const Layer& l) {
        if (l.eventIdx != eventIdx) return false;
        for (size_t i = 0; i < ev.pinnedFiles.size(); ++i)
            if (matches(l, i)) {
                covered[i] = true;
                return false;
            }
        return true;
    });
    for (size_t i = 0; i < ev.pinnedFiles.size(); ++i) {
        if (covered[i]) continue;
        Layer layer = NewLayer(ev, eventIdx);
        layer.filepath = ev.pinnedFiles[i];
        layer.fileId = i < ev.pinnedFileIds.size() ? ev.pinnedFileIds[i] : std::string();
        auto it = ctx.byPath.find(layer.filepath);
        if (it != ctx.byPath.end()) {
            layer.name = it->second->name;
            layer.sourceDuration = it->second->duration;
        } else {
            const size_t slash = layer.filepath.find_last_of('/');
            layer.name = slash == std::string::npos ? layer.filepath : layer.filepath.substr(slash + 1);
        }
        layer.startTime = EventStart(ev);
        layer.duration = duration;
        layer.fillLoop = i < ev.bedLayerLoop.size() && ev.bedLayerLoop[i] != 0;
        const float w = i < ev.bedLayerWeight.size() ? ev.bedLayerWeight[i] : -1.0f;
        layer.weight = w < 0.0f ? 0.5f : w;
        layer.layerGain = 1.0f;
        ctx.placed.push_back(std::move(layer));
    }
}

// ---- one ordinary event ---------------------------------------------------------

ScoreWishes SlotWishes(const Event& ev, const Slot& slot, const std::vector<KeywordTerm>& terms,
                       const std::array<float, 5>* occupancy) {
    ScoreWishes w;
    w.intensity = slot.intensity;
    w.neededDuration = slot.needed;
    w.shape = ev.shape;
    w.terms = &terms;
    w.transient = slot.transient;
    w.occupancy = occupancy;
    return w;
}

void BuildShapedEvent(Context& ctx, int eventIdx) {
    const Event& ev = ctx.tl.events[static_cast<size_t>(eventIdx)];
    const std::vector<const LibraryEntry*> candidates = EventCandidates(ctx, ev);
    const int count = EventLayerCount(ev);
    const float start = EventStart(ev);
    if (candidates.empty()) {
        // Nothing to choose from: sketches hold the event's place and sound.
        for (int k = 0; k < count; ++k) {
            Layer layer = NewLayer(ev, eventIdx);
            layer.name = SketchName(ev.shape);
            layer.startTime = start;
            layer.duration = std::max(0.01f, ev.duration);
            if (ev.shape == EventShape::Fill) layer.procMode = ProcMode::Fill;
            ScaleFades(layer, 0.85f);
            ctx.placed.push_back(std::move(layer));
        }
        return;
    }
    std::vector<UsageRecord> eventUsage;
    const size_t before = ctx.placed.size();
    if (!ev.pinnedFiles.empty()) PlacePinned(ctx, ev, eventIdx, candidates, eventUsage);
    int made = static_cast<int>(ctx.placed.size() - before);
    const std::vector<KeywordTerm> terms = ParseKeywords(ev.keywords);
    if (ev.alloy && made < count && (ev.shape == EventShape::Spot || IsSwell(ev.shape)))
        made += PlaceAlloy(ctx, ev, eventIdx, candidates, count - made, terms, eventUsage);
    std::array<float, 5> occupancy{};
    const bool hasOccupancy = HeroOccupancy(ctx, eventIdx, occupancy);
    const std::vector<float> cdf = ev.shape == EventShape::Scatter ? IntensityCdf(ev) : std::vector<float>{};
    const int firstChosen = made;
    float noiseSum = 0.0f;
    int noiseCount = 0;
    const int maxCount = ev.shape == EventShape::Fill ? 16 : ev.shape == EventShape::Scatter ? 20 : 12;
    for (int k = made; k < count; ++k) {
        const Slot slot = PlanSlot(ctx, ev, k, count, firstChosen, cdf);
        ScoreWishes w = SlotWishes(ev, slot, terms, hasOccupancy ? &occupancy : nullptr);
        // Each new layer is steered away from the texture of those already chosen:
        // a tonal body wants a noisy edge, and the other way round.
        w.contrastRef = noiseCount > 0 ? noiseSum / static_cast<float>(noiseCount) : -1.0f;
        w.contrastCount = noiseCount;
        Layer layer = NewLayer(ev, eventIdx);
        DrawPitch(ctx, ev, layer);
        const LibraryEntry* e = Draw(ctx, candidates, w, maxCount, eventUsage, start);
        if (e == nullptr) {
            layer.name = kNoMatchName;
            // The slot keeps its place on the timeline, without a file.
            layer.startTime = start;
            layer.duration = ev.duration;
            ScaleFades(layer, 0.85f);
            ++ctx.noMatch;
            ctx.placed.push_back(std::move(layer));
            continue;
        }
        PlaceChosen(ctx, ev, slot, k - firstChosen, *e, layer, eventUsage);
        noiseSum += Noisiness(*e);
        ++noiseCount;
        ctx.placed.push_back(std::move(layer));
    }
}

// The candidate lists every event of a build draws from, collected once.
void CollectLibrary(Context& ctx) {
    for (int c = 0; c < 3; ++c) ctx.byClass[c] = CollectCandidates(ctx.roots, c);
    ctx.all = CollectCandidates(ctx.roots, -1);
    for (const LibraryEntry* e : ctx.all) {
        ctx.byPath.emplace(e->path, e);
        if (!e->fileId.empty()) ctx.byId.emplace(e->fileId, e);
    }
}

// The sounds an event's layers had before it was built again, in results order.
std::vector<std::vector<Layer>> LayersBefore(const TimelineState& tl, const std::vector<bool>& rebuild) {
    std::vector<std::vector<Layer>> before(rebuild.size());
    for (const Layer& l : tl.results)
        if (l.eventIdx >= 0 && static_cast<size_t>(l.eventIdx) < rebuild.size() && rebuild[static_cast<size_t>(l.eventIdx)])
            before[static_cast<size_t>(l.eventIdx)].push_back(l);
    return before;
}

bool SameSound(const Layer& a, const Layer& b) {
    return a.filepath == b.filepath && a.name == b.name && a.sourceOffset == b.sourceOffset;
}

// Each rebuilt layer carries on the history of the layer that stood in its place, so
// "Previous sound" brings back what the event sounded like before the edit.
void CarryHistories(std::vector<Layer>& placed, const std::vector<std::vector<Layer>>& before) {
    std::vector<size_t> seen(before.size(), 0);
    for (Layer& l : placed) {
        if (l.eventIdx < 0 || static_cast<size_t>(l.eventIdx) >= before.size()) continue;
        const std::vector<Layer>& old = before[static_cast<size_t>(l.eventIdx)];
        const size_t k = seen[static_cast<size_t>(l.eventIdx)]++;
        if (k >= old.size()) continue;
        if (SameSound(l, old[k])) l.history = old[k].history;
        else HistoryRecord(l, old[k]);
    }
}

bool InRange(const Event& ev, float rangeStart, float rangeEnd) {
    if (!(rangeStart >= 0.0f && rangeEnd > rangeStart)) return true;
    return ev.time >= rangeStart && ev.time <= rangeEnd;
}

}  // namespace

int EventLayerCount(const Event& ev) {
    const bool fillWithCount = ev.shape == EventShape::Fill && ev.fillLayers > 0;
    const int cap = fillWithCount ? std::min(ev.fillLayers, kMaxFillLayers) : 8;
    const float s = Clamp01(ev.spread);
    const int base = static_cast<int>(std::floor(s * 3.0f + 0.5f)) + 3;
    const float p = std::max(0.0f, PeakIntensity(ev));
    int count = p * ev.intensityScale > 0.8f ? base + 1 : base;
    if (ev.hero) count = static_cast<int>(std::floor(static_cast<float>(count) * 1.5f + 0.5f));
    count = std::min(count, cap);
    if (fillWithCount) count = std::max(count, std::min(ev.fillLayers, kMaxFillLayers));
    return count;
}

ContourTimes EventContourTimes(const Event& ev) {
    ContourTimes times;
    const float dur = std::max(ev.duration, 0.0f);
    float lo = ev.intensity[0], hi = ev.intensity[0];
    int peakFirst = 0, peakLast = 0;
    for (int i = 1; i < kCurvePoints; ++i) {
        lo = std::min(lo, ev.intensity[i]);
        if (ev.intensity[i] > hi) hi = ev.intensity[i], peakFirst = i;
    }
    for (int i = kCurvePoints - 1; i >= 0; --i)
        if (ev.intensity[i] >= hi - 1e-6f) { peakLast = i; break; }
    const float step = dur / (kCurvePoints - 1);
    if (hi - lo >= 0.05f) {
        // From where the curve lifts 10 % off its floor to its peak, and back.
        const float threshold = lo + 0.1f * (hi - lo);
        int up = 0, down = kCurvePoints - 1;
        while (up < peakFirst && ev.intensity[up] < threshold) ++up;
        while (down > peakLast && ev.intensity[down] < threshold) --down;
        times.rise = static_cast<float>(peakFirst - up) * step;
        times.fall = static_cast<float>(down - peakLast) * step;
    }
    // A flat contour still ends: the event's last tenth is its fall.
    times.fall = std::max(times.fall, 0.05f * dur);
    return times;
}

bool IsPlaceholderLayer(const Layer& layer) {
    return layer.filepath.empty() && layer.name.rfind("[Sketch]", 0) == 0;
}

int CountPlaceholderLayers(const std::vector<Layer>& layers) {
    int n = 0;
    for (const Layer& l : layers) n += IsPlaceholderLayer(l) ? 1 : 0;
    return n;
}

BuildResult BuildEvents(Project& project, const std::vector<LibraryRoot>& roots, int eventIndex, float rangeStart,
                        float rangeEnd, uint32_t salt, const BuildOptions& options) {
    TimelineState& tl = project.timeline;
    Context ctx{project, tl, options, options.useFixedSeed ? MakeBuildRngFromSeed(options.fixedSeed) : MakeBuildRng(salt),
                {}, {}, roots, {}, {}, {}, {}, {}, 0, {}};
    BuildResult result;
    result.seed = ctx.rng.state;
    CollectLibrary(ctx);

    const int eventCount = static_cast<int>(tl.events.size());
    std::vector<bool> rebuild(static_cast<size_t>(eventCount), false);
    if (eventIndex >= 0) {
        if (eventIndex >= eventCount) return result;
        tl.events[static_cast<size_t>(eventIndex)].locked = false;
        rebuild[static_cast<size_t>(eventIndex)] = true;
    } else {
        for (int i = 0; i < eventCount; ++i) {
            const Event& ev = tl.events[static_cast<size_t>(i)];
            const bool fixedFiles = ev.shape == EventShape::Clip || ev.shape == EventShape::Bed;
            rebuild[static_cast<size_t>(i)] = fixedFiles || (!ev.locked && InRange(ev, rangeStart, rangeEnd));
        }
    }
    const std::vector<std::vector<Layer>> before = LayersBefore(tl, rebuild);
    // Layers of events not rebuilt stay as they are; Bed events keep the layers that
    // still belong to their pinned files.
    std::vector<Layer> kept;
    kept.reserve(tl.results.size());
    for (Layer& l : tl.results) {
        const bool ownEvent = l.eventIdx >= 0 && l.eventIdx < eventCount;
        if (!ownEvent) continue;  // an event that no longer exists
        const bool isBed = tl.events[static_cast<size_t>(l.eventIdx)].shape == EventShape::Bed;
        if (!rebuild[static_cast<size_t>(l.eventIdx)] || isBed) kept.push_back(std::move(l));
    }
    tl.results = std::move(kept);

    for (int i = 0; i < eventCount; ++i) {
        if (!rebuild[static_cast<size_t>(i)]) continue;
        Event& ev = tl.events[static_cast<size_t>(i)];
        switch (ev.shape) {
            case EventShape::Clip: BuildClip(ctx, ev, i); break;
            case EventShape::Bed: BuildBed(ctx, ev, i, tl.results); break;
            default: BuildShapedEvent(ctx, i); break;
        }
        ++result.eventsBuilt;
        if (options.layerCount != nullptr)
            options.layerCount->store(static_cast<int>(tl.results.size() + ctx.placed.size()), std::memory_order_release);
    }
    result.layersPlaced = static_cast<int>(ctx.placed.size());
    result.noMatchLayers = ctx.noMatch;
    CarryHistories(ctx.placed, before);
    for (Layer& l : ctx.placed) tl.results.push_back(std::move(l));
    std::stable_sort(tl.results.begin(), tl.results.end(),
                     [](const Layer& a, const Layer& b) { return a.eventIdx < b.eventIdx; });
    for (size_t i = 0; i < tl.results.size(); ++i)
        for (const auto& [eventIdx, path] : ctx.missing)
            if (tl.results[i].eventIdx == eventIdx && tl.results[i].filepath == path) {
                result.missingLayers.push_back(static_cast<int>(i));
                break;
            }
    tl.built = !tl.results.empty();
    result.placeholderLayers = CountPlaceholderLayers(tl.results);
    result.statusText = PlaceholderStatusText(result.placeholderLayers, !roots.empty());
    return result;
}

bool LayerIsPinned(const Event& event, const Layer& layer) {
    for (size_t i = 0; i < event.pinnedFiles.size(); ++i) {
        if (event.pinnedFiles[i] == layer.filepath && !layer.filepath.empty()) return true;
        if (i < event.pinnedFileIds.size() && !layer.fileId.empty() && event.pinnedFileIds[i] == layer.fileId) return true;
    }
    return false;
}

bool CanChooseNextSound(const Project& project, int layerIndex) {
    const TimelineState& tl = project.timeline;
    if (layerIndex < 0 || static_cast<size_t>(layerIndex) >= tl.results.size()) return false;
    const Layer& layer = tl.results[static_cast<size_t>(layerIndex)];
    if (layer.eventIdx < 0 || static_cast<size_t>(layer.eventIdx) >= tl.events.size()) return false;
    const Event& ev = tl.events[static_cast<size_t>(layer.eventIdx)];
    const bool chosenShape = ev.shape != EventShape::Clip && ev.shape != EventShape::Bed;
    return chosenShape && layer.procMode != ProcMode::Alloy && !LayerIsPinned(ev, layer) && !IsPlaceholderLayer(layer);
}

bool ChooseNextSound(Project& project, const std::vector<LibraryRoot>& roots, int layerIndex,
                     const BuildOptions& options) {
    if (!CanChooseNextSound(project, layerIndex)) return false;
    TimelineState& tl = project.timeline;
    const Layer old = tl.results[static_cast<size_t>(layerIndex)];
    const Event& ev = tl.events[static_cast<size_t>(old.eventIdx)];
    Context ctx{project, tl, options, options.useFixedSeed ? MakeBuildRngFromSeed(options.fixedSeed) : MakeBuildRng(0),
                {}, {}, roots, {}, {}, {}, {}, {}, 0, {}};
    CollectLibrary(ctx);
    const std::vector<const LibraryEntry*> candidates = EventCandidates(ctx, ev);
    if (candidates.empty()) return false;
    // The slot this layer fills in its event's stack, and what the other layers (and
    // the layer itself) use: the new sound is none of them.
    std::vector<UsageRecord> eventUsage;
    int ordinal = 0, count = 0, pinned = 0;
    const float start = EventStart(ev);
    for (size_t i = 0; i < tl.results.size(); ++i) {
        const Layer& l = tl.results[i];
        UsageRecord record{l.filepath, l.fileId, l.sourceOffset, l.duration,
                           l.eventIdx >= 0 && static_cast<size_t>(l.eventIdx) < tl.events.size()
                               ? EventStart(tl.events[static_cast<size_t>(l.eventIdx)])
                               : l.startTime};
        if (l.eventIdx != old.eventIdx) {
            ctx.buildUsage.push_back(std::move(record));
            continue;
        }
        if (static_cast<int>(i) == layerIndex) ordinal = count;
        ++count;
        pinned += LayerIsPinned(ev, l) ? 1 : 0;
        eventUsage.push_back(std::move(record));
    }
    const std::vector<float> cdf = ev.shape == EventShape::Scatter ? IntensityCdf(ev) : std::vector<float>{};
    const Slot slot = PlanSlot(ctx, ev, ordinal, count, std::min(pinned, ordinal), cdf);
    const std::vector<KeywordTerm> terms = ParseKeywords(ev.keywords);
    std::array<float, 5> occupancy{};
    const bool hasOccupancy = HeroOccupancy(ctx, old.eventIdx, occupancy);
    const int maxCount = ev.shape == EventShape::Fill ? 16 : ev.shape == EventShape::Scatter ? 20 : 12;
    const ScoreWishes wishes = SlotWishes(ev, slot, terms, hasOccupancy ? &occupancy : nullptr);
    const LibraryEntry* e = Draw(ctx, candidates, wishes, maxCount, eventUsage, start);
    // The user asked for another sound: when no other file scores well enough to be
    // drawn, the best of the rest still answers.
    float best = 0.0f;
    for (const LibraryEntry* c : e == nullptr ? candidates : std::vector<const LibraryEntry*>{}) {
        if (IsFileBanned(tl, *c) || RepeatFactor(*c, eventUsage, {}, start) <= 0.0f) continue;
        const float score = BaseScore(*c, wishes);
        if (score > best) best = score, e = c;
    }
    if (e == nullptr) return false;
    Layer layer = NewLayer(ev, old.eventIdx);
    DrawPitch(ctx, ev, layer);
    PlaceChosen(ctx, ev, slot, ordinal - std::min(pinned, ordinal), *e, layer, eventUsage);
    // It takes the place of the old sound in the mix until the next build's passes.
    layer.track = old.track;
    layer.groupTrack = old.groupTrack;
    layer.muted = old.muted;
    HistoryRecord(layer, old);
    tl.results[static_cast<size_t>(layerIndex)] = std::move(layer);
    return true;
}

}  // namespace morvane
