#include "audio/mixer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "audio/audio_output.h"
#include "audio/monitor_layout.h"
#include "library/channel_map.h"
#include "model/preferences.h"

namespace morvane {

namespace {

constexpr float kSilentLevel = 0.0001f;
constexpr int kLockAttempts = 4096;

// Stereo fold-down of each role (left, right): centre at −3 dB to both sides,
// surrounds and heights to their own side, LFE left out as in the usual
// broadcast fold-down; channels without a role go to both sides at −6 dB.
constexpr float kFoldDown[kChannelRoleCount + 1][2] = {
    {1.0f, 0.0f},       {0.0f, 1.0f},       {0.7071f, 0.7071f}, {0.0f, 0.0f},        // L R C LFE
    {0.7071f, 0.0f},    {0.0f, 0.7071f},    {0.7071f, 0.0f},    {0.0f, 0.7071f},     // Ls Rs Lrs Rrs
    {0.7071f, 0.0f},    {0.0f, 0.7071f},    {0.5f, 0.0f},       {0.0f, 0.5f},        // Ltf Rtf Ltr Rtr
    {0.5f, 0.5f},                                                                     // unknown
};
constexpr int kMaxBlockChannels = kChannelRoleCount;

// How one block reaches the outputs during one buffer.
struct BlockRouting {
    int channels = 0;
    float foldLeft[kMaxBlockChannels] = {};
    float foldRight[kMaxBlockChannels] = {};
    AmbiGains encode[kMaxBlockChannels] = {};  // direct encoding per channel (spatial path)
    SpreadComponents spread;
    AmbiGains sideEncode[2] = {};
    float sideStereo[2][2] = {};  // side k to left / right in the stereo path
};

AmbiGains Rotate(const AmbiGains& g, float azimuth) {
    if (azimuth == 0.0f) return g;
    const float c = std::cos(azimuth), s = std::sin(azimuth);
    return {g.w, g.y * c + g.x * s, g.z, g.x * c - g.y * s};
}

void PrepareRouting(const RenderBlock& b, int channels, const SpeakerDecoder& stereoDecoder, BlockRouting& r) {
    r.channels = std::min(channels, kMaxBlockChannels);
    for (int c = 0; c < r.channels; ++c) {
        if (r.channels == 1) {
            r.foldLeft[c] = r.foldRight[c] = 1.0f;
        } else if (b.ambisonic && r.channels == kAmbisonicChannels) {
            const float* row0 = &stereoDecoder.gains[0].w;
            const float* row1 = &stereoDecoder.gains[1].w;
            r.foldLeft[c] = row0[c];
            r.foldRight[c] = row1[c];
        } else if (r.channels == 2 && (b.stereoPair || b.roles[0] == kRoleUnknown)) {
            r.foldLeft[c] = c == 0 ? 1.0f : 0.0f;
            r.foldRight[c] = c == 1 ? 1.0f : 0.0f;
        } else {
            const int role = b.roles[c] >= 0 && b.roles[c] < kChannelRoleCount ? b.roles[c] : kChannelRoleCount;
            r.foldLeft[c] = kFoldDown[role][0];
            r.foldRight[c] = kFoldDown[role][1];
        }
        if (b.ambisonic && r.channels == kAmbisonicChannels) {
            r.encode[c] = AmbiGains{};
            (&r.encode[c].w)[c] = 1.0f;
        } else {
            const bool pair = b.stereoPair || (r.channels == 2 && b.roles[0] == kRoleUnknown);
            r.encode[c] = Rotate(EncodeSourceChannel(c, r.channels, b.roles.data(), pair), b.azimuth);
            if (r.channels == 1) r.encode[c] = EncodeDirection(b.azimuth, b.elevation);
        }
    }
    r.spread = b.spatialMode >= 0 ? ComputeSpread(b.spatialMode, b.spatialAmount, b.azimuth, b.elevation)
                                  : SpreadComponents{};
    if (r.spread.hasSides) {
        for (int k = 0; k < 2; ++k) {
            r.sideEncode[k] = EncodeDirection(r.spread.sideAzimuth[k], r.spread.sideElevation);
            for (int out = 0; out < 2; ++out) {
                const AmbiGains& d = stereoDecoder.gains[out];
                const AmbiGains& e = r.sideEncode[k];
                r.sideStereo[k][out] = d.w * e.w + d.y * e.y + d.z * e.z + d.x * e.x;
            }
        }
    }
}

struct ChunkContext {
    int rate = 48000;
    int64_t position = 0;
    int frames = 0;
    bool spatial = false;
    bool deconfliction = true;
    bool reverbOn = false;
    float master = 1.0f;
    float groupGain[kGroupCount] = {1, 1, 1};
    float groupSend[kGroupCount] = {0, 0, 0};
    int solo = -1;
    int mutedStrips = 0;
    int soloStrips = 0;
    bool meters = false;  // sum each group apart for its meter
};

// Whether a strip is heard: not muted, and soloed when any strip is.
bool StripAudible(const ChunkContext& ctx, int strip) {
    if (ctx.mutedStrips & StripBit(strip)) return false;
    return ctx.soloStrips == 0 || (ctx.soloStrips & StripBit(strip)) != 0;
}

// Adds one block to the dry mix (stereo buffers or the sound field) and the sends.
void MixBlock(const ChunkContext& ctx, RenderBlock& b, MixerState& m) {
    const BlockAudio* audio = b.audio.get();
    if (!audio || audio->channels.empty()) return;
    const int64_t blockFrames = audio->Frames();
    if (blockFrames <= 0 || b.duration <= 0.0f) return;

    const double rate = ctx.rate;
    const double start = b.start + (ctx.deconfliction ? b.deconOffset : 0.0f);
    const double t0 = static_cast<double>(ctx.position) / rate;
    const double end = start + b.duration;
    // First and last frame of the buffer inside [start, end).
    const int first = std::max(0, static_cast<int>(std::ceil((start - t0) * rate - 1e-9)));
    const int last = std::min(ctx.frames, static_cast<int>(std::ceil((end - t0) * rate - 1e-9)));
    if (first >= last) return;

    const int group = std::clamp(b.group, 0, kGroupCount - 1);
    const float gain = b.gain * ctx.groupGain[group] * ctx.master;
    const float send = ctx.reverbOn ? (b.reverbSend >= 0.0f ? b.reverbSend : ctx.groupSend[group]) : 0.0f;
    const BlockFades fades = ComputeBlockFades(b);

    BlockRouting r;
    PrepareRouting(b, static_cast<int>(audio->channels.size()), m.guarded.decoders[kMonitorStereo], r);
    if (r.spread.hasSides && b.sideFilterRate != ctx.rate) {
        for (SideHighPass& f : b.sideFilter) InitSideHighPass(f, ctx.rate);
        b.sideFilterRate = ctx.rate;
    }
    const float direct = r.spread.direct;
    const float side = r.spread.side;
    const float* data[kMaxBlockChannels];
    for (int c = 0; c < r.channels; ++c) data[c] = audio->channels[c].data();

    // The buffer's frames step through the block one sample at a time, so the read
    // position is an integer index plus one fraction for the whole buffer. It is
    // worked out in double precision: a float time a minute into a long bed is
    // already a fifth of a sample off, which is audible jitter.
    double pos0 = static_cast<double>(ctx.position + first) - start * rate;
    if (pos0 < 0.0) pos0 = 0.0;
    const int64_t k0 = static_cast<int64_t>(pos0);
    if (k0 >= blockFrames) return;
    const float frac = static_cast<float>(pos0 - static_cast<double>(k0));
    const int stop = static_cast<int>(std::min<int64_t>(last, first + (blockFrames - k0)));

    // Gain (fades x block, group and master gain x shape curves) is exact every
    // kGainStep frames and linear in between: the shortest fade is 72 frames and
    // curves have at most 256 points per block, so the segments are far finer
    // than anything audible, and the per-frame work stays a multiply-add.
    constexpr int kGainStep = 8;
    const float invDuration = 1.0f / b.duration;
    const double invRate = 1.0 / rate;
    auto gainAt = [&](int i) {
        const float tau = static_cast<float>((pos0 + (i - first)) * invRate);
        return FadeOutGain(tau, b.duration, fades.fadeOut) * FadeInGain(tau, fades.fadeIn) * gain *
               ShapeGain(b, tau * invDuration, ctx.deconfliction);
    };

    const bool plain = !ctx.spatial && !r.spread.hasSides;
    float* mixL = m.audio.mixLeft.data();
    float* mixR = m.audio.mixRight.data();
    float* sendL = m.audio.sendLeft.data();
    float* sendR = m.audio.sendRight.data();
    // The group's own sum for its meter; null while the meters are off.
    float* meterL = ctx.meters ? m.audio.groupLeft[group].data() : nullptr;
    float* meterR = ctx.meters ? m.audio.groupRight[group].data() : nullptr;
    float g0 = gainAt(first);
    for (int seg = first; seg < stop; seg += kGainStep) {
        const int segEnd = std::min(seg + kGainStep, stop);
        const float g1 = gainAt(seg + kGainStep);
        const float dg = (g1 - g0) * (1.0f / kGainStep);
        float g = g0;
        g0 = g1;
        for (int i = seg; i < segEnd; ++i, g += dg) {
            const int64_t k = k0 + (i - first);
            const int64_t k1 = k + 1 < blockFrames ? k + 1 : k;
            if (plain && r.channels <= 2) {
                // The common case: a mono or stereo block into the stereo mix.
                const float a0 = data[0][k];
                const float v0 = (a0 + (data[0][k1] - a0) * frac) * g;
                float l = v0 * r.foldLeft[0], rr = v0 * r.foldRight[0];
                if (r.channels == 2) {
                    const float a1 = data[1][k];
                    const float v1 = (a1 + (data[1][k1] - a1) * frac) * g;
                    l += v1 * r.foldLeft[1];
                    rr += v1 * r.foldRight[1];
                }
                mixL[i] += l * direct;
                mixR[i] += rr * direct;
                sendL[i] += l * send;
                sendR[i] += rr * send;
                if (meterL) {
                    meterL[i] += l;
                    meterR[i] += rr;
                }
                continue;
            }

            float s[kMaxBlockChannels];
            float l = 0.0f, rr = 0.0f;
            for (int c = 0; c < r.channels; ++c) {
                const float a = data[c][k];
                s[c] = (a + (data[c][k1] - a) * frac) * g;
                l += s[c] * r.foldLeft[c];
                rr += s[c] * r.foldRight[c];
            }
            sendL[i] += l * send;
            sendR[i] += rr * send;
            if (meterL) {
                meterL[i] += l;
                meterR[i] += rr;
            }
            float side0 = 0.0f, side1 = 0.0f;
            if (r.spread.hasSides) {
                side0 = RunSideHighPass(b.sideFilter[0], l) * side;
                side1 = RunSideHighPass(b.sideFilter[1], rr) * side;
            }
            if (!ctx.spatial) {
                mixL[i] += l * direct + side0 * r.sideStereo[0][0] + side1 * r.sideStereo[1][0];
                mixR[i] += rr * direct + side0 * r.sideStereo[0][1] + side1 * r.sideStereo[1][1];
            } else {
                float w = 0.0f, y = 0.0f, z = 0.0f, x = 0.0f;
                for (int c = 0; c < r.channels; ++c) {
                    w += s[c] * r.encode[c].w;
                    y += s[c] * r.encode[c].y;
                    z += s[c] * r.encode[c].z;
                    x += s[c] * r.encode[c].x;
                }
                m.audio.fieldW[i] += w * direct + side0 * r.sideEncode[0].w + side1 * r.sideEncode[1].w;
                m.audio.fieldY[i] += y * direct + side0 * r.sideEncode[0].y + side1 * r.sideEncode[1].y;
                m.audio.fieldZ[i] += z * direct + side0 * r.sideEncode[0].z + side1 * r.sideEncode[1].z;
                m.audio.fieldX[i] += x * direct + side0 * r.sideEncode[0].x + side1 * r.sideEncode[1].x;
            }
        }
    }
}

void ClearHistories(RenderCache& cache) {
    MixerState& m = cache.mixer;
    ClearReverb(*m.audio.reverb);
    ClearBinaural(*m.audio.binaural);
    m.audio.tailLevel = 0.0f;
    for (RenderBlock& b : cache.blocks) b.sideFilterRate = 0;
}

// Preview: adds the previewed sound to both outputs. Runs playing or not.
void MixPreview(RenderCache& cache, float* left, float* right, int frames, int rate) {
    PreviewSlot& p = cache.mixer.preview;
    if (!p.lock.try_lock()) return;
    if (p.position < p.end && !p.samples.empty()) {
        const double step = static_cast<double>(p.sampleRate) / rate;
        const int64_t count = static_cast<int64_t>(p.samples.size());
        int i = 0;
        for (; i < frames && p.position < p.end; ++i, ++p.position) {
            const int64_t index = static_cast<int64_t>(static_cast<double>(p.position) * step);
            if (index >= count) { p.position = p.end; break; }
            const float v = p.samples[index] * p.gain;
            left[i] += v;
            right[i] += v;
        }
    }
    p.lock.unlock();
}

// Moves the output level towards its target and scales the dry mix and the sends
// with it, so starts and stops are click-free and nothing new enters the reverb
// after a stop; the reverb's own tail is left to ring out.
void RampDry(MixerState& m, float* const* buffers, int count, int frames, bool playing, int rate) {
    const float target = playing ? 1.0f : 0.0f;
    const float step = 1.0f / std::max(1.0f, 0.006f * static_cast<float>(rate));
    float level = m.audio.outputLevel;
    for (int i = 0; i < frames; ++i) {
        if (level < target) level = std::min(target, level + step);
        else if (level > target) level = std::max(target, level - step);
        for (int b = 0; b < count; ++b) buffers[b][i] *= level;
    }
    m.audio.outputLevel = level;
    m.counters.outputLevelShown.store(level, std::memory_order_relaxed);
}

// The cache lock for one buffer: the caller's when it holds it (an offline mix),
// else tried without waiting. Nothing is allocated: the guard lives in place.
struct BufferLock {
    std::optional<CacheGuard> tried;
    bool held = false;
    void Take(RenderCache& cache, const CacheGuard* callerHolds) {
        held = callerHolds != nullptr;
        if (held) return;
        tried.emplace(cache, kLockAttempts);
        held = tried->Held();
    }
    void Release() {
        tried.reset();
        held = false;
    }
};

void AdvancePosition(MixerState& m, int64_t from, int frames) {
    // A seek from the user-interface thread during this buffer wins.
    int64_t expected = from;
    m.transport.playPosition.compare_exchange_strong(expected, from + frames, std::memory_order_acq_rel);
}

// The timeline part of one buffer of at most kMixFrames frames: blocks, reverb,
// level ramp. Leaves the dry-plus-wet result in mixLeft/mixRight (stereo) or the
// field buffers (spatial). Called with the cache lock held.
void MixTimelineLocked(RenderCache& cache, const ChunkContext& ctx, bool playing, bool mixBlocks) {
    MixerState& m = cache.mixer;
    const int n = ctx.frames;
    if (ctx.meters)
        for (int g = 0; g < kGroupCount; ++g) {
            std::fill(m.audio.groupLeft[g].begin(), m.audio.groupLeft[g].begin() + n, 0.0f);
            std::fill(m.audio.groupRight[g].begin(), m.audio.groupRight[g].begin() + n, 0.0f);
        }
    if (mixBlocks) {
        const int count = static_cast<int>(cache.blocks.size());
        const double t0 = static_cast<double>(ctx.position) / ctx.rate;
        const double t1 = static_cast<double>(ctx.position + n) / ctx.rate;
        for (int i = 0; i < count; ++i) {
            RenderBlock& b = cache.blocks[i];
            const bool soloed = ctx.solo == i;
            if (ctx.solo >= 0 && !soloed) continue;
            if (b.muted && !soloed) continue;
            if (b.disabled) continue;
            // A layer soloed on its own is heard whatever its group's strip says.
            if (!soloed && !StripAudible(ctx, std::clamp(b.group, 0, kGroupCount - 1))) continue;
            const double start = b.start + (ctx.deconfliction ? b.deconOffset : 0.0f);
            if (!(start < t1 && start + b.duration > t0)) continue;  // span test before any per-sample work
            MixBlock(ctx, b, m);
        }
    }
    if (ctx.meters)
        for (int g = 0; g < kGroupCount; ++g)
            FeedMeter(m.meters, kStripGroup0 + g, m.audio.groupLeft[g].data(), m.audio.groupRight[g].data(), n, ctx.rate);
    if (ctx.spatial) {
        float* const buffers[] = {m.audio.fieldW.data(), m.audio.fieldY.data(), m.audio.fieldZ.data(), m.audio.fieldX.data(),
                                  m.audio.sendLeft.data(), m.audio.sendRight.data()};
        RampDry(m, buffers, 6, n, playing, ctx.rate);
    } else {
        float* const buffers[] = {m.audio.mixLeft.data(), m.audio.mixRight.data(), m.audio.sendLeft.data(), m.audio.sendRight.data()};
        RampDry(m, buffers, 4, n, playing, ctx.rate);
    }
    if (ctx.reverbOn) {
        ReverbParameters p;
        p.size = m.settings.reverbParams[0].load(std::memory_order_relaxed);
        p.decay = m.settings.reverbParams[1].load(std::memory_order_relaxed);
        p.damping = m.settings.reverbParams[2].load(std::memory_order_relaxed);
        p.preDelay = m.settings.reverbParams[3].load(std::memory_order_relaxed);
        p.diffusion = m.settings.reverbParams[4].load(std::memory_order_relaxed);
        p.modulation = m.settings.reverbParams[5].load(std::memory_order_relaxed);
        SetReverbParameters(*m.audio.reverb, p, ctx.rate);
        ProcessReverb(*m.audio.reverb, m.audio.sendLeft.data(), m.audio.sendRight.data(), m.audio.wetLeft.data(), m.audio.wetRight.data(), n);
        float peak = 0.0f;
        for (int i = 0; i < n; ++i) {
            const float wl = m.audio.wetLeft[i], wr = m.audio.wetRight[i];
            peak = std::max(peak, std::max(std::fabs(wl), std::fabs(wr)));
            if (ctx.spatial) {
                // The wet pair enters the field from the two sides (±90°).
                m.audio.fieldW[i] += wl + wr;
                m.audio.fieldY[i] += wl - wr;
            } else {
                m.audio.mixLeft[i] += wl;
                m.audio.mixRight[i] += wr;
            }
        }
        m.audio.tailLevel = peak;
    } else {
        m.audio.tailLevel = 0.0f;
    }
}

ChunkContext MakeContext(RenderCache& cache, int64_t position, int frames, bool spatial) {
    MixerState& m = cache.mixer;
    ChunkContext ctx;
    ctx.rate = cache.sampleRate;
    ctx.position = position;
    ctx.frames = frames;
    ctx.spatial = spatial;
    ctx.deconfliction = m.settings.deconfliction.load(std::memory_order_relaxed);
    ctx.reverbOn = m.settings.reverbEnabled.load(std::memory_order_relaxed);
    ctx.master = m.settings.masterGain.load(std::memory_order_relaxed);
    for (int g = 0; g < kGroupCount; ++g) {
        ctx.groupGain[g] = m.settings.groupGain[g].load(std::memory_order_relaxed);
        ctx.groupSend[g] = m.settings.reverbSend[g].load(std::memory_order_relaxed);
    }
    ctx.solo = m.settings.soloBlock.load(std::memory_order_relaxed);
    ctx.mutedStrips = m.settings.mutedStrips.load(std::memory_order_relaxed);
    ctx.soloStrips = m.settings.soloStrips.load(std::memory_order_relaxed);
    if (ctx.mutedStrips & StripBit(kStripMaster)) ctx.master = 0.0f;
    ctx.meters = m.meters.enabled.load(std::memory_order_relaxed);
    return ctx;
}

void UpdateMeters(MixerState& m, const float* left, const float* right, int frames, int rate) {
    float pl = 0.0f, pr = 0.0f;
    for (int i = 0; i < frames; ++i) {
        pl = std::max(pl, std::fabs(left[i]));
        pr = std::max(pr, std::fabs(right[i]));
    }
    m.counters.meterLeft.store(pl, std::memory_order_relaxed);
    m.counters.meterRight.store(pr, std::memory_order_relaxed);
    if (m.meters.enabled.load(std::memory_order_relaxed)) FeedMeter(m.meters, kStripMaster, left, right, frames, rate);
}

// An offline mix renders what it is given; playback leaves out blocks the engine
// has not yet confirmed.
bool BlocksPlayable(const MixerState& m, const CacheGuard* held) {
    return held || !m.settings.blocksSilent.load(std::memory_order_relaxed);
}

// The video's sound, added after the limiter and the master meter, and only while the
// transport moves: a stopped one would repeat the same buffer through the level ramp
// and the reverb's tail. With the meters on it is rendered apart first, so its strip
// measures it alone.
void CallReference(RenderCache& cache, float* left, float* right, int frames, int64_t position) {
    MixerState& m = cache.mixer;
    if (!m.guarded.referenceAudio) return;
    ChunkContext strips;
    strips.mutedStrips = m.settings.mutedStrips.load(std::memory_order_relaxed);
    strips.soloStrips = m.settings.soloStrips.load(std::memory_order_relaxed);
    if (!StripAudible(strips, kStripReference)) return;
    const double seconds = static_cast<double>(position) / cache.sampleRate -
                           m.settings.videoStartTime.load(std::memory_order_relaxed);
    if (!m.meters.enabled.load(std::memory_order_relaxed)) {
        m.guarded.referenceAudio(m.guarded.referenceAudioUser, left, right, frames, seconds, cache.sampleRate);
        return;
    }
    float* refL = m.audio.referenceLeft.data();
    float* refR = m.audio.referenceRight.data();
    std::fill(refL, refL + frames, 0.0f);
    std::fill(refR, refR + frames, 0.0f);
    m.guarded.referenceAudio(m.guarded.referenceAudioUser, refL, refR, frames, seconds, cache.sampleRate);
    FeedMeter(m.meters, kStripReference, refL, refR, frames, cache.sampleRate);
    for (int i = 0; i < frames; ++i) {
        left[i] += refL[i];
        right[i] += refR[i];
    }
}

// One stereo buffer of at most kMixFrames frames. `held` is the caller's guard for
// an offline mix, which leaves out the preview, the video's sound and the
// alternative renderer; null on the audio thread.
void MixStereoChunk(RenderCache& cache, float* left, float* right, int n, const CacheGuard* held) {
    MixerState& m = cache.mixer;
    std::fill(left, left + n, 0.0f);
    std::fill(right, right + n, 0.0f);
    const int rate = cache.sampleRate;
    if (rate < 1) return;
    if (!held && m.settings.useAlternativeRenderer.load(std::memory_order_relaxed)) {
        const CacheGuard tried(cache, 1);
        if (tried.Held() && m.guarded.alternativeRenderer) m.guarded.alternativeRenderer(m.guarded.alternativeRendererUser, left, right, n);
        return;
    }
    if (!held) MixPreview(cache, left, right, n, rate);

    const bool playing = m.transport.playing.load(std::memory_order_acquire);
    const int64_t position = m.transport.playPosition.load(std::memory_order_acquire);
    const bool rampActive = m.audio.outputLevel > kSilentLevel;
    if (playing || rampActive || m.audio.tailLevel > kSilentLevel) {
        std::fill(m.audio.sendLeft.begin(), m.audio.sendLeft.begin() + n, 0.0f);
        std::fill(m.audio.sendRight.begin(), m.audio.sendRight.begin() + n, 0.0f);
        std::fill(m.audio.mixLeft.begin(), m.audio.mixLeft.begin() + n, 0.0f);
        std::fill(m.audio.mixRight.begin(), m.audio.mixRight.begin() + n, 0.0f);
        m.counters.buffersMixed.fetch_add(1, std::memory_order_relaxed);
        BufferLock lock;
        lock.Take(cache, held);
        if (!lock.held) {
            m.counters.dropouts.fetch_add(1, std::memory_order_relaxed);
        } else {
            if (m.transport.clearHistories.exchange(false, std::memory_order_acq_rel)) ClearHistories(cache);
            const ChunkContext ctx = MakeContext(cache, position, n, false);
            MixTimelineLocked(cache, ctx, playing, (playing || rampActive) && BlocksPlayable(m, held));
            for (int i = 0; i < n; ++i) {
                left[i] += m.audio.mixLeft[i];
                right[i] += m.audio.mixRight[i];
            }
            for (int i = 0; i < n; ++i) {
                left[i] = SoftLimit(left[i]);
                right[i] = SoftLimit(right[i]);
            }
            UpdateMeters(m, left, right, n, rate);
            // The video's sound comes last, after the limiter and the meters.
            if (playing && !held) CallReference(cache, left, right, n, position);
            lock.Release();
            if (playing) AdvancePosition(m, position, n);
            return;
        }
    } else {
        m.counters.outputLevelShown.store(m.audio.outputLevel, std::memory_order_relaxed);
        if (m.meters.enabled.load(std::memory_order_relaxed)) RestMeters(m.meters, n, rate);
    }
    // No timeline sound in this buffer: the preview alone, through the same
    // limiter, so its level never jumps when playback starts or stops.
    for (int i = 0; i < n; ++i) {
        left[i] = SoftLimit(left[i]);
        right[i] = SoftLimit(right[i]);
    }
    // The position follows the clock even when the cache was busy, so a dropout
    // costs a gap and never the sync with the picture.
    if (playing) AdvancePosition(m, position, n);
}

// One spatial buffer: field -> speakers (or ears) on the routed channels.
void MixSpatialChunk(RenderCache& cache, float* out, int n, int channels, int outOffset, const CacheGuard* held) {
    MixerState& m = cache.mixer;
    const int rate = cache.sampleRate;
    float* stereoL = m.audio.stereoLeft.data();
    float* stereoR = m.audio.stereoRight.data();
    std::fill(stereoL, stereoL + n, 0.0f);
    std::fill(stereoR, stereoR + n, 0.0f);
    if (rate < 1) return;
    if (!held) MixPreview(cache, stereoL, stereoR, n, rate);

    const bool binaural = m.settings.monitorBinaural.load(std::memory_order_relaxed);
    const int layout = std::clamp(m.settings.monitorLayout.load(std::memory_order_relaxed), 0, kMonitorLayoutCount - 1);
    const SpeakerDecoder& decoder = m.guarded.decoders[layout];
    const int speakers = binaural ? 2 : decoder.speakerCount;
    float* spk = m.audio.speakers.data();
    for (int s = 0; s < speakers; ++s) std::fill(spk + s * kMixFrames, spk + s * kMixFrames + n, 0.0f);

    const bool playing = m.transport.playing.load(std::memory_order_acquire);
    const int64_t position = m.transport.playPosition.load(std::memory_order_acquire);
    const bool rampActive = m.audio.outputLevel > kSilentLevel;
    BufferLock lock;
    bool locked = false;
    if (playing || rampActive || m.audio.tailLevel > kSilentLevel) {
        for (std::vector<float>* b : {&m.audio.sendLeft, &m.audio.sendRight, &m.audio.fieldW, &m.audio.fieldY, &m.audio.fieldZ, &m.audio.fieldX})
            std::fill(b->begin(), b->begin() + n, 0.0f);
        m.counters.buffersMixed.fetch_add(1, std::memory_order_relaxed);
        lock.Take(cache, held);
        if (!lock.held) {
            m.counters.dropouts.fetch_add(1, std::memory_order_relaxed);
        } else {
            locked = true;
            if (m.transport.clearHistories.exchange(false, std::memory_order_acq_rel)) ClearHistories(cache);
            const ChunkContext ctx = MakeContext(cache, position, n, true);
            MixTimelineLocked(cache, ctx, playing, (playing || rampActive) && BlocksPlayable(m, held));
            if (binaural) {
                if (m.audio.binauralRate != rate) {
                    InitBinauralDecoder(*m.audio.binaural, rate);
                    m.audio.binauralRate = rate;
                }
                ProcessBinaural(*m.audio.binaural, m.audio.fieldW.data(), m.audio.fieldY.data(), m.audio.fieldZ.data(), m.audio.fieldX.data(), spk,
                                spk + kMixFrames, n);
            } else {
                float frame[kMaxSpeakers];
                for (int i = 0; i < n; ++i) {
                    DecodeFrame(decoder, m.audio.fieldW[i], m.audio.fieldY[i], m.audio.fieldZ[i], m.audio.fieldX[i], frame);
                    for (int s = 0; s < speakers; ++s) spk[s * kMixFrames + i] = frame[s];
                }
            }
        }
    } else if (m.meters.enabled.load(std::memory_order_relaxed)) {
        RestMeters(m.meters, n, rate);
    }
    // The preview and the video's sound stay plain stereo on the left and right
    // speakers (or ears).
    for (int i = 0; i < n; ++i) {
        spk[i] += stereoL[i];
        spk[kMixFrames + i] += stereoR[i];
    }
    for (int s = 0; s < speakers; ++s)
        for (int i = 0; i < n; ++i) spk[s * kMixFrames + i] = SoftLimit(spk[s * kMixFrames + i]);
    if (locked) {
        UpdateMeters(m, spk, spk + kMixFrames, n, rate);
        if (playing && !held) CallReference(cache, spk, spk + kMixFrames, n, position);
    }
    lock.Release();
    if (playing) AdvancePosition(m, position, n);

    // Speakers to device channels through the routing.
    for (int s = 0; s < speakers; ++s) {
        int channel = m.settings.channelOfSpeaker[s].load(std::memory_order_relaxed);
        if (channel < 0 || channel >= channels) continue;  // the device lacks this output
        const float* src = spk + s * kMixFrames;
        for (int i = 0; i < n; ++i) out[static_cast<size_t>(outOffset + i) * channels + channel] += src[i];
    }
}

void MixStereoBuffers(RenderCache& cache, float* left, float* right, int frames, const CacheGuard* held) {
    for (int done = 0; done < frames;) {
        const int n = std::min(kMixFrames, frames - done);
        MixStereoChunk(cache, left + done, right + done, n, held);
        done += n;
    }
}

void MixMultichannelBuffers(RenderCache& cache, float* interleaved, int frames, int channels, const CacheGuard* held) {
    if (frames <= 0 || channels <= 0) return;
    std::fill(interleaved, interleaved + static_cast<size_t>(frames) * channels, 0.0f);
    MixerState& m = cache.mixer;
    if (SpatialMonitoringActive(cache)) {
        for (int done = 0; done < frames;) {
            const int n = std::min(kMixFrames, frames - done);
            MixSpatialChunk(cache, interleaved, n, channels, done, held);
            done += n;
        }
        return;
    }
    // Plain stereo on the two routed channels; frames past the mixer's buffer stay
    // silent rather than be rendered into memory the callback would have to find.
    const int n = std::min(frames, kMixFrames);
    MixStereoChunk(cache, m.audio.stereoLeft.data(), m.audio.stereoRight.data(), n, held);
    MonitorRouting routing;
    routing.speakerCount = 2;
    routing.channelOfSpeaker[0] = m.settings.channelOfSpeaker[0].load(std::memory_order_relaxed);
    routing.channelOfSpeaker[1] = m.settings.channelOfSpeaker[1].load(std::memory_order_relaxed);
    int left = 0, right = 1;
    StereoOutputChannels(m.settings.routingSet.load(std::memory_order_relaxed) ? &routing : nullptr, channels, &left, &right);
    for (int i = 0; i < n; ++i) {
        interleaved[static_cast<size_t>(i) * channels + left] += m.audio.stereoLeft[i];
        interleaved[static_cast<size_t>(i) * channels + right] += m.audio.stereoRight[i];
    }
}

}  // namespace

MixerState::MixerState() {
    for (auto& g : settings.groupGain) g.store(1.0f);
    const ReverbParameters defaults;
    const float params[kReverbParamCount] = {defaults.size,     defaults.decay,     defaults.damping,
                                             defaults.preDelay, defaults.diffusion, defaults.modulation};
    for (int i = 0; i < kReverbParamCount; ++i) settings.reverbParams[i].store(params[i]);
    for (auto& s : settings.reverbSend) s.store(0.0f);
    for (int i = 0; i < kMaxSpeakers; ++i) settings.channelOfSpeaker[i].store(i);
    audio.reverb = std::make_unique<Reverb>();
    audio.binaural = std::make_unique<BinauralDecoder>();
    for (std::vector<float>* b : {&audio.sendLeft, &audio.sendRight, &audio.wetLeft, &audio.wetRight, &audio.fieldW,
                                  &audio.fieldY, &audio.fieldZ, &audio.fieldX, &audio.stereoLeft, &audio.stereoRight,
                                  &audio.mixLeft, &audio.mixRight})
        b->assign(kMixFrames, 0.0f);
    for (int g = 0; g < kGroupCount; ++g) {
        audio.groupLeft[g].assign(kMixFrames, 0.0f);
        audio.groupRight[g].assign(kMixFrames, 0.0f);
    }
    audio.referenceLeft.assign(kMixFrames, 0.0f);
    audio.referenceRight.assign(kMixFrames, 0.0f);
    audio.speakers.assign(static_cast<size_t>(kMaxSpeakers) * kMixFrames, 0.0f);
    for (int i = 0; i < kMonitorLayoutCount; ++i) guarded.decoders[i] = MakeSpeakerDecoder(i);
}

BlockFades ComputeBlockFades(const RenderBlock& b) {
    const float d = std::max(0.0f, b.duration);
    const float floorIn = b.isClip ? 0.0015f : 0.015f;
    float fadeIn = b.fadeIn > 0.0f ? b.fadeIn : 0.04f;
    float fadeOut = b.fadeOut > 0.0f ? b.fadeOut : 0.05f;
    fadeIn = std::clamp(fadeIn, floorIn, std::max(floorIn, 0.45f * d));
    fadeOut = std::clamp(fadeOut, 0.015f, std::max(0.015f, 0.45f * d));
    if (fadeIn + fadeOut > 0.9f * d) {
        const float scale = 0.9f * d / (fadeIn + fadeOut);
        fadeIn *= scale;
        fadeOut *= scale;
    }
    return {fadeIn, fadeOut};
}

float FadeInGain(float tau, float fadeIn) {
    if (tau >= fadeIn) return 1.0f;
    if (tau <= 0.0f || fadeIn <= 0.0f) return 0.0f;
    const float x = tau / fadeIn;
    const float q = x * (1.0f - x);
    const float s = x + (1.0f + 1.4196f * q) * q;
    return s * s;
}

float FadeOutGain(float tau, float duration, float fadeOut) {
    if (fadeOut <= 0.0f) return tau < duration ? 1.0f : 0.0f;
    const float r = (duration - tau) / fadeOut;
    if (r >= 1.0f) return 1.0f;
    if (r <= 0.0f) return 0.0f;
    const float r2 = r * r;
    return r2 * r2;
}

float ReadCurve(const float* curve, int points, float position) {
    if (points <= 0) return 1.0f;
    if (points == 1) return curve[0];
    const float p = std::clamp(position, 0.0f, 1.0f) * static_cast<float>(points - 1);
    const int i = std::min(static_cast<int>(p), points - 2);
    const float frac = p - static_cast<float>(i);
    return curve[i] + (curve[i + 1] - curve[i]) * frac;
}

float ShapeGain(const RenderBlock& b, float position, bool deconfliction) {
    float gain = 1.0f;
    if (b.followsIntensity) {
        const float v = std::clamp(ReadCurve(b.intensity.data(), kCurvePoints, position) * b.intensityScale, 0.0f, 1.0f);
        gain = b.noFloor ? v : 0.3f + 0.7f * v;
    } else if (b.hasIntGain) {
        gain = ReadCurve(b.intGain.data(), kIntGainPoints, position);
    }
    if (b.hasFillGain) gain *= ReadCurve(b.fillGain.data(), kFillGainPoints, position);
    if (b.hasDeconGain && deconfliction) gain *= ReadCurve(b.deconGain.data(), kDeconGainPoints, position);
    return gain;
}

void MixStereo(RenderCache& cache, float* left, float* right, int frames) {
    MixStereoBuffers(cache, left, right, frames, nullptr);
}

void MixMultichannel(RenderCache& cache, float* interleaved, int frames, int channels) {
    MixMultichannelBuffers(cache, interleaved, frames, channels, nullptr);
}

void MixStereoOffline(CacheGuard& held, float* left, float* right, int frames) {
    MixStereoBuffers(held.Cache(), left, right, frames, &held);
}

void MixMultichannelOffline(CacheGuard& held, float* interleaved, int frames, int channels) {
    MixMultichannelBuffers(held.Cache(), interleaved, frames, channels, &held);
}

bool OpenCacheOutput(AudioOutput& output, RenderCache& cache, int projectRate, int wantedChannels) {
    return output.Open([&cache](float* l, float* r, int n) { MixStereo(cache, l, r, n); },
                       [&cache](float* out, int n, int channels) { MixMultichannel(cache, out, n, channels); },
                       projectRate, wantedChannels);
}

bool SpatialMonitoringActive(const RenderCache& cache) {
    return cache.mixer.settings.monitorBinaural.load(std::memory_order_relaxed) ||
           cache.mixer.settings.monitorLayout.load(std::memory_order_relaxed) > kMonitorStereo;
}

void StartPlayback(RenderCache& cache, double seconds) {
    SeekPlayback(cache, seconds);
    cache.mixer.transport.playing.store(true, std::memory_order_release);
}

void StopPlayback(RenderCache& cache) { cache.mixer.transport.playing.store(false, std::memory_order_release); }

void SeekPlayback(RenderCache& cache, double seconds) {
    const double samples = std::max(0.0, seconds) * cache.sampleRate;
    cache.mixer.transport.playPosition.store(static_cast<int64_t>(samples), std::memory_order_release);
}

void ResetPlaybackAfterRebuild(RenderCache& cache, double transportSeconds) {
    SeekPlayback(cache, transportSeconds);
    cache.mixer.transport.clearHistories.store(true, std::memory_order_release);
    cache.ready.store(true, std::memory_order_release);
}

void SetMixGains(RenderCache& cache, float master, const float groupGains[kGroupCount]) {
    cache.mixer.settings.masterGain.store(master, std::memory_order_relaxed);
    for (int g = 0; g < kGroupCount; ++g) cache.mixer.settings.groupGain[g].store(groupGains[g], std::memory_order_relaxed);
}

void SetReverbSettings(RenderCache& cache, const ReverbSettings& reverb) {
    MixerState& m = cache.mixer;
    const float values[kReverbParamCount] = {reverb.size, reverb.decay, reverb.damping, reverb.preDelay, reverb.diffusion,
                             reverb.modulation};
    for (int i = 0; i < kReverbParamCount; ++i) m.settings.reverbParams[i].store(values[i], std::memory_order_relaxed);
    for (int g = 0; g < kGroupCount; ++g) m.settings.reverbSend[g].store(reverb.groupSends[g], std::memory_order_relaxed);
    m.settings.reverbEnabled.store(reverb.enabled, std::memory_order_release);
}

void ApplyReverbMacro(ReverbSettings& reverb, float macro) {
    const float m = std::isfinite(macro) ? std::clamp(macro, 0.0f, 1.0f) : 0.5f;
    reverb.macro = m;
    reverb.size = 0.1f + 0.85f * m;
    reverb.decay = 0.05f + 0.8f * m;
    reverb.damping = 0.2f + 0.5f * m;
    reverb.preDelay = 0.005f + 0.045f * m;
}

void SetStripSwitches(RenderCache& cache, int mutedStrips, int soloStrips) {
    cache.mixer.settings.mutedStrips.store(mutedStrips, std::memory_order_relaxed);
    cache.mixer.settings.soloStrips.store(soloStrips, std::memory_order_relaxed);
}

void SetMetersEnabled(RenderCache& cache, bool enabled) {
    cache.mixer.meters.enabled.store(enabled, std::memory_order_relaxed);
}

void SetMonitoring(RenderCache& cache, const Preferences& prefs) {
    MixerState& m = cache.mixer;
    const int layout = std::clamp(prefs.monitorLayout, 0, kMonitorLayoutCount - 1);
    const MonitorRouting routing = ResolveMonitorRouting(prefs, layout);
    for (int s = 0; s < kMaxSpeakers; ++s) m.settings.channelOfSpeaker[s].store(routing.channelOfSpeaker[s], std::memory_order_relaxed);
    m.settings.routingSet.store(prefs.channelMaps.count(ChannelMapKey(layout)) > 0, std::memory_order_relaxed);
    m.settings.monitorLayout.store(layout, std::memory_order_relaxed);
    m.settings.monitorBinaural.store(prefs.monitorBinaural, std::memory_order_release);
}

void SetReferenceAudio(RenderCache& cache, ReferenceAudioFn fn, void* user) {
    const CacheGuard guard(cache);  // the audio thread reads the pair under the lock
    cache.mixer.guarded.referenceAudio = fn;
    cache.mixer.guarded.referenceAudioUser = user;
}

void SetAlternativeRenderer(RenderCache& cache, AlternativeRendererFn fn, void* user) {
    const CacheGuard guard(cache);  // the audio thread reads the pair under the lock
    cache.mixer.guarded.alternativeRenderer = fn;
    cache.mixer.guarded.alternativeRendererUser = user;
}

void StartPreview(RenderCache& cache, std::vector<float> samples, int sampleRate, float gain) {
    PreviewSlot& p = cache.mixer.preview;
    const int projectRate = std::max(1, cache.sampleRate.load());
    const int rate = std::max(1, sampleRate);
    {
        std::lock_guard<std::mutex> lock(p.lock);
        p.samples.swap(samples);
        p.sampleRate = rate;
        p.gain = gain;
        p.position = 0;
        p.end = static_cast<int64_t>(static_cast<double>(p.samples.size()) * projectRate / rate);
    }
    // `samples` now holds the previous preview and is freed here, off the audio thread.
}

void StopPreview(RenderCache& cache) {
    std::lock_guard<std::mutex> lock(cache.mixer.preview.lock);
    cache.mixer.preview.position = cache.mixer.preview.end;
}

bool PreviewPlaying(RenderCache& cache) {
    std::lock_guard<std::mutex> lock(cache.mixer.preview.lock);
    return cache.mixer.preview.position < cache.mixer.preview.end;
}

std::string AudioDiagnosticsPath() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/Morvane_audio_diag.log";
}

bool WriteAudioDiagnostics(RenderCache& cache, int64_t nowNs) {
    MixerState& m = cache.mixer;
    const uint64_t buffers = m.counters.buffersMixed.load(std::memory_order_relaxed);
    const uint64_t dropouts = m.counters.dropouts.load(std::memory_order_relaxed);
    const uint64_t restores = m.counters.restores.load(std::memory_order_relaxed);
    if (!m.diagnostics.started) {
        m.diagnostics.started = true;
        m.diagnostics.startNs = m.diagnostics.lastNs = nowNs;
        m.diagnostics.buffers = buffers;
        m.diagnostics.dropouts = dropouts;
        m.diagnostics.restores = restores;
        return false;
    }
    if (nowNs - m.diagnostics.lastNs < 1000000000LL) return false;
    const uint64_t b = buffers - m.diagnostics.buffers;
    const uint64_t o = dropouts - m.diagnostics.dropouts;
    const uint64_t r = restores - m.diagnostics.restores;
    m.diagnostics.lastNs = nowNs;
    m.diagnostics.buffers = buffers;
    m.diagnostics.dropouts = dropouts;
    m.diagnostics.restores = restores;
    if (b == 0 && o == 0) return false;
    FILE* file = std::fopen(AudioDiagnosticsPath().c_str(), "a");
    if (!file) return false;
    std::fprintf(file,
                 "t=%.2fs buffers=%llu dropouts=%llu (%.2f%%) restores=%llu evictPass[last=%.2fms max=%.2fms] "
                 "pendingRestores=%llu\n",
                 static_cast<double>(nowNs - m.diagnostics.startNs) / 1e9, static_cast<unsigned long long>(b),
                 static_cast<unsigned long long>(o), 100.0 * static_cast<double>(o) / static_cast<double>(b + o),
                 static_cast<unsigned long long>(r), static_cast<double>(m.counters.lastEvictMs.load()),
                 static_cast<double>(m.counters.maxEvictMs.load()),
                 static_cast<unsigned long long>(m.counters.pendingRestores.load()));
    std::fclose(file);
    return true;
}

}  // namespace morvane
