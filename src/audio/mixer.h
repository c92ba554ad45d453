#pragma once
// The real-time mix of the render cache: blocks with their fades and gain curves,
// solo and mute, placement, reverb sends and the reverb, the output level ramp,
// the soft limiter, the video's own sound and the preview of a single sound.
//
// Real time: MixStereo and MixMultichannel run on the audio thread. They may read
// the mixer's settings (atomics), write its audio-thread state and counters, and
// take the cache lock only by trying it (a failed try drops that one buffer's
// timeline sound, never the clock). They never wait, never allocate (every buffer
// they use was made with the cache), never do file or console I/O. Everything
// else here runs on the interface or a worker thread.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/render_cache.h"

namespace morvane {

struct Preferences;
class AudioOutput;

// The stereo render callback: `frames` frames into `left` and `right`.
void MixStereo(RenderCache& cache, float* left, float* right, int frames);

// The multichannel render callback: `frames` interleaved frames of `channels`
// channels. With a spatial monitoring layout (surround or headphones) the sound
// field is decoded to the layout's speakers on the channels of the routing;
// otherwise the stereo mix goes to the two routed channels and the rest is silent.
void MixMultichannel(RenderCache& cache, float* interleaved, int frames, int channels);

// The same two mixes for an offline render (export, the command line) on a cache
// whose lock the caller holds for the buffer: nothing is tried, nothing drops out,
// and the preview, the video's sound and the alternative renderer are left out.
void MixStereoOffline(CacheGuard& held, float* left, float* right, int frames);
void MixMultichannelOffline(CacheGuard& held, float* interleaved, int frames, int channels);

// Opens `output` (the default device) playing `cache` through the two callbacks above.
// False, with the output's status text saying why, when no device could be opened.
bool OpenCacheOutput(AudioOutput& output, RenderCache& cache, int projectRate, int wantedChannels);

// ---- Pieces of the mix, exposed so export and tests use the same arithmetic ----

struct BlockFades {
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
};
// The fade lengths of a block: stored values (0.04 s / 0.05 s when none) limited
// to at least 15 ms (1.5 ms for the fade-in of Clip layers) and at most 45 % of
// the block, then scaled together so they never take more than 90 % of it.
BlockFades ComputeBlockFades(const RenderBlock& block);
// Gain of the fade-in at `tau` seconds into the block.
float FadeInGain(float tau, float fadeIn);
// Gain of the fade-out at `tau` seconds into a block of `duration` seconds.
float FadeOutGain(float tau, float duration, float fadeOut);
// A curve of `points` values read at `position` 0..1 with linear interpolation.
float ReadCurve(const float* curve, int points, float position);
// The block's shape gain at `position` 0..1 (intensity or intGain, fill and
// deconfliction curves).
float ShapeGain(const RenderBlock& block, float position, bool deconfliction);
// The soft limiter: transparent up to 0.84, never above 0.891 (−1 dBFS).
inline float SoftLimit(float x);

// ---- Transport and settings, from the user-interface thread ----

void StartPlayback(RenderCache& cache, double seconds);
void StopPlayback(RenderCache& cache);
void SeekPlayback(RenderCache& cache, double seconds);
// After a rebuild: position from the transport, reverb and output histories
// cleared (on the audio thread's next buffer), audio marked ready.
void ResetPlaybackAfterRebuild(RenderCache& cache, double transportSeconds);

// Master and group gains from the project, and its reverb settings.
void SetMixGains(RenderCache& cache, float master, const float groupGains[kGroupCount]);
void SetReverbSettings(RenderCache& cache, const ReverbSettings& reverb);
// The reverb's macro: one control from a small, dry, bright room (0) to a large,
// long, darker hall (1). It sets Size, Decay, Damp and Pre-Dly together; Density and
// Mod stay as they are, and each of the four can still be set on its own after.
void ApplyReverbMacro(ReverbSettings& reverb, float macro);
// The mixer strips' mute and solo (masks of StripBit; see mixer_meters.h).
void SetStripSwitches(RenderCache& cache, int mutedStrips, int soloStrips);
// The strips' meters: measured on the audio thread only while switched on.
void SetMetersEnabled(RenderCache& cache, bool enabled);
// Monitoring layout, headphones and channel routing from the preferences.
void SetMonitoring(RenderCache& cache, const Preferences& prefs);
// True when playback decodes the sound field (surround layout or headphones).
bool SpatialMonitoringActive(const RenderCache& cache);

// The video's sound; set once the video code is ready, cleared with null.
void SetReferenceAudio(RenderCache& cache, ReferenceAudioFn fn, void* user);
void SetAlternativeRenderer(RenderCache& cache, AlternativeRendererFn fn, void* user);

// Starts the preview of `samples` (mono, at `sampleRate`) at `gain`; the old
// preview is freed here, on the caller's thread.
void StartPreview(RenderCache& cache, std::vector<float> samples, int sampleRate, float gain);
void StopPreview(RenderCache& cache);
bool PreviewPlaying(RenderCache& cache);

// Once-per-second diagnostics line appended to $HOME/Morvane_audio_diag.log.
// `nowNs` is a monotonic time in nanoseconds. Returns true when a line was written.
bool WriteAudioDiagnostics(RenderCache& cache, int64_t nowNs);
std::string AudioDiagnosticsPath();

inline float SoftLimit(float x) {
    const float a = x < 0.0f ? -x : x;
    if (!(a > 0.84f)) return x;
    const float y = 0.84f + 0.051f * std::tanh((a - 0.84f) * 10.0f);
    return x < 0.0f ? -y : y;
}

}  // namespace morvane
