#include "audio/layer_render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/fill_assembly.h"
#include "audio/five_band_eq.h"
#include "audio/frequency_shift.h"
#include "audio/group_placement.h"
#include "audio/pitch_detect.h"
#include "audio/resample.h"
#include "audio/segment_loader.h"
#include "audio/sketch_sound.h"
#include "engine/event_build.h"
#include "engine/loudness.h"
#include "engine/scale.h"
#include "library/audio_file.h"
#include "library/file_id.h"
#include "library/relink.h"
#include "platform/folders.h"

namespace morvane {

namespace {

using Channels = std::vector<std::vector<float>>;

double PitchRatio(float semitones) {
    return std::fabs(semitones) <= 0.01f ? 1.0 : std::pow(2.0, static_cast<double>(semitones) / 12.0);
}

int64_t LayerFrames(const Layer& layer, int rate) {
    return std::max<int64_t>(1, static_cast<int64_t>(std::llround(static_cast<double>(layer.duration) * rate)));
}

Channels CopyChannels(const std::shared_ptr<const DecodedSegment>& segment) {
    return segment ? segment->channels : Channels{};
}

// The whole source file of a fill, at the project rate and the layer's channels.
std::shared_ptr<const DecodedSegment> WholeFile(const std::string& path, float knownDuration, int rate,
                                                bool keepChannels, int fallback) {
    double duration = knownDuration;
    if (!(duration > 0.0)) {
        RegionRead probe;
        if (!ReadRegion(path, 0.0, 0, &probe) || probe.sampleRate < 1) return nullptr;
        duration = static_cast<double>(probe.fileFrames) / probe.sampleRate;
    }
    // A little past the end: ReadRegion never reads beyond it, and a duration
    // rounded down in the library would otherwise cut the last frames.
    return LoadSegment(path, 0.0, duration + 0.01, rate, keepChannels, fallback);
}

Channels RenderFill(const LayerRenderContext& ctx, Layer& layer, const std::string& path) {
    const int rate = ctx.sampleRate;
    const double rho = PitchRatio(layer.pitchShift);
    const int64_t needed = static_cast<int64_t>(std::llround(static_cast<double>(rate) * rho * layer.duration));
    const auto source = WholeFile(path, layer.sourceDuration, rate, layer.stereo, ctx.channelOrderFallback);
    if (!source || source->channels.empty() || source->channels[0].empty()) return {};
    if (!FillChunksFit(layer.fillChunks, needed)) {
        const int64_t first = static_cast<int64_t>(static_cast<double>(layer.sourceOffset) * rate);
        layer.fillChunks = MakeFillChunks(static_cast<int64_t>(source->channels[0].size()), needed, first, rate);
        layer.fillLoop = layer.fillChunks.size() > 1;
    }
    Channels out;
    for (const std::vector<float>& channel : source->channels) out.push_back(AssembleFill(channel, layer.fillChunks));
    return out;
}

bool SameSpan(const AlloyPart& part, const Layer& layer, const std::string& path) {
    return part.filepath == path && std::fabs(part.offset - layer.sourceOffset) < 1e-4f;
}

// The alloy of a layer, made once and kept in the decoded-segment cache under a
// key of everything it depends on (a full rebuild empties that cache).
Channels RenderAlloyLayer(const LayerRenderContext& ctx, Layer& layer, const std::string& path, double rho) {
    const int rate = ctx.sampleRate;
    const double span = static_cast<double>(layer.duration) * rho;
    const auto main = LoadSegment(path, layer.sourceOffset, span, rate, layer.stereo, ctx.channelOrderFallback);
    if (!main) return {};
    AlloyPart* parts[3] = {&layer.alloyMid, &layer.alloyHigh, &layer.alloyEnv};
    bool plain = true;
    for (AlloyPart* part : parts) {
        if (part->filepath.empty()) continue;
        bool moved = false;
        const std::string current = RelinkedPath(ctx, part->filepath, part->fileId, &moved);
        if (moved) part->filepath = current;
        plain = plain && SameSpan(*part, layer, path);
    }
    if (plain || layer.alloyMorph <= 0.0f) return main->channels;  // a stem morphed with itself

    AlloySettings settings = ctx.alloy;
    settings.algorithm = std::clamp(layer.alloyAlgo, 0, 3);
    settings.morph = std::clamp(layer.alloyMorph, 0.0f, 1.0f);
    char text[256];
    std::snprintf(text, sizeof text, "|alloy|%.3f|%.3f|%d|%d|%.4f|%.4f|%.4f|%d|%.4f|%d", layer.sourceOffset, span, rate,
                  layer.stereo ? 0 : 1, settings.transferDepth, settings.attackGraft, settings.microPitch,
                  settings.filterBands, settings.morph, settings.algorithm);
    std::string key = path + text;
    for (AlloyPart* part : parts) {
        std::snprintf(text, sizeof text, "|%.3f|%.3f|i%d", part->offset, part->duration, FileIdentityNumber(part->filepath));
        key += "|" + part->filepath + text;
    }
    key += "|i" + std::to_string(FileIdentityNumber(path));
    if (auto kept = FindSegment(key)) return kept->channels;

    std::vector<float> donors[3];
    for (int k = 0; k < 3; ++k) {
        const AlloyPart& part = *parts[k];
        if (part.filepath.empty()) continue;
        const double length = part.duration > 0.0f ? part.duration : span;
        const auto donor = LoadSegment(part.filepath, part.offset, length, rate, false, ctx.channelOrderFallback);
        if (donor && !donor->channels.empty()) donors[k] = donor->channels[0];
    }
    auto made = std::make_shared<DecodedSegment>();
    made->sampleRate = rate;
    made->channels = RenderAlloy(main->channels, donors[0], donors[1], donors[2], rate, settings);
    made->roles = main->roles;
    made->ambisonic = main->ambisonic;
    StoreSegment(key, made);
    return made->channels;
}

void FillPlacement(const LayerRenderContext& ctx, const Layer& layer, int layerIndex, RenderBlock& b) {
    b.layerIndex = layerIndex;
    b.identity = LayerIdentity(layer);
    b.eventIndex = layer.eventIdx;
    b.group = std::clamp(layer.group, 0, kGroupCount - 1);
    b.start = layer.startTime;
    b.duration = layer.duration;
    b.fadeIn = layer.fadeIn;
    b.fadeOut = layer.fadeOut;
    b.sourceOffset = layer.sourceOffset;
    b.deconOffset = layer.deconOffset;
    b.muted = layer.muted;
    b.hasIntGain = layer.hasIntGain;
    b.intGain = layer.intGain;
    b.hasFillGain = layer.hasFillGain;
    b.fillGain = layer.fillGain;
    b.hasDeconGain = layer.hasDeconGain;
    b.deconGain = layer.deconGain;
    const Event* ev = nullptr;
    if (ctx.events && layer.eventIdx >= 0 && static_cast<size_t>(layer.eventIdx) < ctx.events->size())
        ev = &(*ctx.events)[static_cast<size_t>(layer.eventIdx)];
    if (ev == nullptr) return;
    b.muted = b.muted || ev->muted;
    b.isClip = ev->shape == EventShape::Clip;
    b.reverbSend = ev->reverbSend;
    // A layer with its own intGain curve follows that instead of the event's
    // intensity, and Clip and Bed play their files as they are.
    const bool ownShape = ev->shape == EventShape::Clip || ev->shape == EventShape::Bed;
    if (ev->intensityMode != IntensityMode::FromFiles && !layer.hasIntGain && !ownShape) {
        b.followsIntensity = true;
        b.noFloor = ev->intensityMode == IntensityMode::ShapedNoFloor;
        b.intensity = ev->intensity;
        b.intensityScale = ev->intensityScale;
    }
}

void ComputeEnvelope(const Channels& audio, std::vector<float>& envelope) {
    envelope.assign(kEnvelopePoints, 0.0f);
    if (audio.empty() || audio[0].empty()) return;
    const int64_t frames = static_cast<int64_t>(audio[0].size());
    for (const std::vector<float>& channel : audio) {
        const int64_t n = std::min<int64_t>(frames, static_cast<int64_t>(channel.size()));
        for (int64_t i = 0; i < n; ++i) {
            const int slot = static_cast<int>(std::min<int64_t>(kEnvelopePoints - 1, i * kEnvelopePoints / frames));
            envelope[slot] = std::max(envelope[slot], std::fabs(channel[i]));
        }
    }
}

float LayerEventTuneOverride(const LayerRenderContext& ctx, const Layer& layer) {
    if (ctx.events && layer.eventIdx >= 0 && static_cast<size_t>(layer.eventIdx) < ctx.events->size())
        return static_cast<float>((*ctx.events)[static_cast<size_t>(layer.eventIdx)].scaleTuneOverride);
    return 0.0f;
}

}  // namespace

float WeightLevelFactor(float w) {
    if (!(w > 0.7f)) return 1.0f;
    return 1.0f - 0.3f * std::clamp((w - 0.7f) / 0.15f, 0.0f, 1.0f);
}

LayerRenderContext MakeLayerRenderContext(const Project& project, LibrarySet* libraries, int channelOrderFallback) {
    LayerRenderContext ctx;
    const TimelineSettings& s = project.timeline.settings;
    ctx.sampleRate = IsProjectSampleRate(project.projectSampleRate) ? project.projectSampleRate : 48000;
    ctx.events = &project.timeline.events;
    for (const Event& ev : project.timeline.events) ctx.eventGains.push_back(ev.gain);
    ctx.scaleType = s.scaleType;
    ctx.scaleRoot = s.scaleRoot;
    ctx.normalize = s.normalizeLUFS;
    for (int g = 0; g < kGroupCount; ++g)
        ctx.groupTargetLUFS[g] = project.timeline.trackLayout.groups[static_cast<size_t>(g)].targetLUFS;
    ctx.alloy.algorithm = s.alloyAlgorithm;
    ctx.alloy.transferDepth = s.alloyTransferDepth;
    ctx.alloy.attackGraft = s.alloyAttackGraft;
    ctx.alloy.microPitch = s.alloyMicroPitch;
    ctx.alloy.filterBands = s.alloyFilterBands;
    ctx.channelOrderFallback = std::clamp(channelOrderFallback, 0, 2);
    ctx.reverseProb = s.reverseProb;
    ctx.freqShiftIntensity = s.freqShiftIntensity;
    ctx.groupPlacement = project.groupPlacement;
    if (libraries != nullptr) {
        std::lock_guard<std::mutex> lock(libraries->mutex);
        for (const Library& library : libraries->libraries)
            for (const LibraryEntry& e : library.entries)
                if (!e.fileId.empty()) ctx.pathOfFileId.emplace(e.fileId, e.path);
    }
    return ctx;
}

std::string RelinkedPath(const LayerRenderContext& ctx, const std::string& path, const std::string& fileId,
                         bool* moved) {
    *moved = false;
    if (fileId.empty()) return path;
    const auto found = ctx.pathOfFileId.find(fileId);
    std::string current = found != ctx.pathOfFileId.end() ? found->second : std::string();
    // A library entry whose file has moved again since the index was written: the
    // identity registry knows the other paths the same content was seen at.
    if (current.empty() || !IsFile(current)) {
        const std::string resolved = ResolveFileId(fileId);
        if (!resolved.empty()) current = resolved;
    }
    if (current.empty() || current == path) return path;
    *moved = true;
    return current;
}

bool RenderLayerBlock(const LayerRenderContext& ctx, Layer& layer, int layerIndex, RenderBlock* block) {
    const bool placeholder = IsPlaceholderLayer(layer);
    if (layer.filepath.empty() && !placeholder) return false;
    const int rate = ctx.sampleRate;
    RenderBlock b;
    FillPlacement(ctx, layer, layerIndex, b);

    // 1. Relink by identity.
    if (!layer.filepath.empty()) {
        bool moved = false;
        const std::string current = RelinkedPath(ctx, layer.filepath, layer.fileId, &moved);
        if (moved) layer.filepath = current;
    }

    // 2. Level from weight.
    const float startGain = WeightLevelFactor(layer.weight) * layer.layerGain * layer.userVolume;

    // 3. Source audio.
    Channels audio;
    std::vector<int> roles;
    bool ambisonic = false;
    double rho = PitchRatio(layer.pitchShift);
    auto loadPlain = [&](double ratio) {
        const auto segment = LoadSegment(layer.filepath, layer.sourceOffset, static_cast<double>(layer.duration) * ratio,
                                         rate, layer.stereo, ctx.channelOrderFallback);
        if (segment) {
            roles = segment->roles;
            ambisonic = segment->ambisonic;
        }
        return CopyChannels(segment);
    };
    if (placeholder) {
        // A sketch stands in for files the library could not offer: a synthesized
        // sound of the layer's character. It is made long enough that the pitch
        // shift below brings it back to the layer's duration.
        const int64_t frames = std::max<int64_t>(1, std::llround(static_cast<double>(layer.duration) * rho * rate));
        audio.assign(1, SynthesizeSketch(SketchKindOfName(layer.name), frames, rate,
                                         SketchSeed(layer.startTime, layer.eventIdx, layer.track)));
    } else if (!layer.filepath.empty()) {
        if (layer.procMode == ProcMode::Fill)
            audio = RenderFill(ctx, layer, layer.filepath);
        else if (layer.procMode == ProcMode::Alloy)
            audio = RenderAlloyLayer(ctx, layer, layer.filepath, rho);
        else
            audio = loadPlain(rho);
    }
    const bool haveAudio = !audio.empty() && !audio[0].empty();
    b.placeholder = placeholder;  // a sketch sounds, yet it still stands in
    if (!haveAudio) {
        audio.assign(1, std::vector<float>(static_cast<size_t>(LayerFrames(layer, rate)), 0.0f));
        b.missingFile = !layer.filepath.empty();
        if (!ctx.analysisFree) b.placeholder = true;
    }

    if (haveAudio) {
        // 4. Destructive EQ.
        if (layer.hasEqGains && !ctx.skipEq)
            for (std::vector<float>& channel : audio)
                ApplyFiveBandEq(channel.data(), static_cast<int64_t>(channel.size()), rate, layer.eqGains);

        // 5. Scale tuning.
        const int64_t frames = static_cast<int64_t>(audio[0].size());
        // Sketches are not tuned: their tone is made up, and a tuned shift would
        // change their length after they were made.
        if (ctx.scaleType != 0 && !ctx.analysisFree && frames > 128 && layer.procMode != ProcMode::Fill && !placeholder) {
            const int64_t window = std::min<int64_t>(frames, 4096);
            const int64_t start = LoudestWindowStart(audio, window);
            const int64_t length = std::min<int64_t>(8192, frames - start);
            if (length > 128) {
                std::vector<float> mono(static_cast<size_t>(length), 0.0f);
                const size_t used = std::min<size_t>(audio.size(), 2);
                for (size_t c = 0; c < used; ++c)
                    for (int64_t i = 0; i < length; ++i)
                        mono[static_cast<size_t>(i)] += audio[c][static_cast<size_t>(start + i)] / static_cast<float>(used);
                const DetectedPitch pitch = DetectPitch(mono.data(), length, rate);
                const bool accepted = PitchAccepted(pitch.frequency, pitch.confidence);
                if (accepted) b.pitch = pitch;
                const float note = static_cast<float>(pitch.note) + pitch.cents / 100.0f;
                b.tuningShift = LayerTuningShift(ctx.scaleType, ctx.scaleRoot,
                                                 static_cast<int>(LayerEventTuneOverride(ctx, layer)), false, accepted, note);
                layer.pitchShift = b.tuningShift + layer.pitchVarShift;
                const double tuned = PitchRatio(layer.pitchShift);
                // The span read was sized for the old pitch; a tuned layer needs more
                // (or less) source so it still lasts its duration after the shift.
                if (std::fabs(tuned - rho) > 1e-9 && layer.procMode != ProcMode::Alloy) {
                    Channels reread = loadPlain(tuned);
                    if (!reread.empty() && !reread[0].empty()) {
                        if (layer.hasEqGains && !ctx.skipEq)
                            for (std::vector<float>& channel : reread)
                                ApplyFiveBandEq(channel.data(), static_cast<int64_t>(channel.size()), rate, layer.eqGains);
                        audio = std::move(reread);
                    }
                }
                rho = tuned;
            }
        }

        // 6. Pitch shift by resampling: pitch and duration change together.
        if (std::fabs(layer.pitchShift) > 0.01f && audio[0].size() > 64) {
            const int64_t target = PitchShiftedLength(static_cast<int64_t>(audio[0].size()), layer.pitchShift);
            for (std::vector<float>& channel : audio) channel = ResampleToLength(channel, target);
        }
        // Reversed layers (the project's reverse chance) play their span backwards.
        if (LayerReversed(layer, ctx.reverseProb) && layer.procMode != ProcMode::Fill)
            for (std::vector<float>& channel : audio) std::reverse(channel.begin(), channel.end());
        // Frequency shift (the project's intensity): every channel alike, fills never.
        ShiftFrequency(audio, LayerFrequencyShiftHz(layer, ctx.freqShiftIntensity), rate);

        // 7. Extra channels to the main buffer's length.
        for (size_t c = 1; c < audio.size(); ++c)
            if (audio[c].size() != audio[0].size())
                audio[c] = StretchLinear(audio[c], static_cast<int64_t>(audio[0].size()));
    }

    // 8. Envelope and peak guard.
    ComputeEnvelope(audio, b.envelope);
    const float envelopeMax = *std::max_element(b.envelope.begin(), b.envelope.end());
    const float guard = envelopeMax > 0.5f ? 0.5f / envelopeMax : 1.0f;

    // 9. Loudness normalisation towards the group's target.
    float levelGain = guard;
    if (!ctx.normalize) {
        layer.normGain = 1.0f;
    } else if (haveAudio) {
        const float* left = audio[0].data();
        const float* right = audio.size() > 1 ? audio[1].data() : nullptr;
        const int64_t frames = static_cast<int64_t>(audio[0].size());
        const float measured =
            MeasureLoudness(left, right, static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX)), rate);
        if (measured > -90.0f) {
            const float target = ctx.groupTargetLUFS[static_cast<size_t>(std::clamp(layer.group, 0, kGroupCount - 1))];
            float g = std::pow(10.0f, std::clamp(target - measured, -30.0f, 18.0f) / 20.0f);
            float peak = 0.0f;
            for (const std::vector<float>& channel : audio)
                for (float v : channel) peak = std::max(peak, std::fabs(v));
            if (peak > 0.0f && g > 0.891f / peak) g = 0.891f / peak;
            layer.normGain = g;
            // The normalised level already has its -1 dBFS ceiling; the peak guard
            // on top would push loud files below their group's target and undo
            // the balance between the groups.
            levelGain = 1.0f;
        }
    }
    const float normGain = ctx.normalize ? layer.normGain : 1.0f;
    b.baseGain = b.gain = startGain * levelGain * normGain;

    // Placement in the sound field.
    b.stereoPair = audio.size() == 2;
    if (audio.size() > 2)
        for (size_t c = 0; c < audio.size() && c < roles.size() && c < static_cast<size_t>(kChannelRoleCount); ++c)
            b.roles[c] = roles[c];
    b.ambisonic = ambisonic && audio.size() == static_cast<size_t>(kAmbisonicChannels);
    PlaceBlock(b, ctx.groupPlacement[static_cast<size_t>(b.group)]);

    auto data = std::make_shared<BlockAudio>();
    data->channels = std::move(audio);
    b.audio = std::move(data);
    *block = std::move(b);
    return true;
}

int RenderLayer(RenderCache& cache, const LayerRenderContext& context, Layer& layer, int layerIndex) {
    RenderBlock block;
    if (!RenderLayerBlock(context, layer, layerIndex, &block)) return -1;
    return AppendBlock(cache, std::move(block));
}

}  // namespace morvane
