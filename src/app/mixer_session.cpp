#include "app/mixer_session.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "audio/audio_output.h"
#include "audio/group_placement.h"
#include "audio/mixer.h"
#include "audio/monitor_layout.h"
#include "audio/reference_audio.h"
#include "model/preferences.h"
#include "model/project_lifecycle.h"

namespace morvane {

namespace {

const char* const kStripNames[kMeterStripCount] = {"group0", "group1", "group2", "master", "reference"};

struct MixerSession {
    int muted = 0;  // StripBit masks
    int solo = 0;
    int identified = -1;
    std::array<MeterDisplay, kMeterStripCount> meters{};
    float lastReferenceGain = -1.0f;
};

MixerSession& Session() {
    static MixerSession session;
    return session;
}

float* StripGainField(Project& project, int strip) {
    if (strip >= kStripGroup0 && strip <= kStripGroup2) return &project.groupGain[static_cast<size_t>(strip)];
    if (strip == kStripMaster) return &project.masterGain;
    if (strip == kStripReference) return &project.refGain;
    return nullptr;
}

double NowSeconds() { return static_cast<double>(SteadyNanoseconds()) / 1e9; }

void RebuildWithReason(const char* reason) {
    CurrentProject().modified = true;
    const LifecycleHooks hooks = CurrentLifecycleHooks();
    if (CurrentProject().timeline.built && hooks.startRebuild) hooks.startRebuild(reason);
}

// The preferences keep the last reverb as the start of the next project's.
void RememberReverb(const ReverbSettings& r) {
    Preferences& prefs = Prefs();
    prefs.reverbEnabled = r.enabled;
    prefs.reverbSize = r.size;
    prefs.reverbDecay = r.decay;
    prefs.reverbDamping = r.damping;
    prefs.reverbPreDelay = r.preDelay;
    prefs.reverbDiffusion = r.diffusion;
    prefs.reverbModulation = r.modulation;
    prefs.reverbMacro = r.macro;
    for (int g = 0; g < kGroupCount; ++g) prefs.reverbSend[static_cast<size_t>(g)] = r.groupSends[static_cast<size_t>(g)];
    MarkPreferencesDirty();
}

}  // namespace

void TickMixerSession(bool metersShown) {
    MixerSession& s = Session();
    RenderCache& cache = PlaybackCache();
    const Project& project = CurrentProject();
    SetMixGains(cache, project.masterGain, project.groupGain.data());
    SetReverbSettings(cache, project.reverb);
    SetStripSwitches(cache, s.muted, s.solo);
    // The video's sound has its own gain outside the mixer; its mute and solo are
    // the mixer's, so its strip is switched there like the others.
    if (project.refGain != s.lastReferenceGain) {
        SetReferenceGain(project.refGain);
        s.lastReferenceGain = project.refGain;
    }
    SetMetersEnabled(cache, metersShown);
    const double now = NowSeconds();
    for (int strip = 0; strip < kMeterStripCount; ++strip) {
        if (metersShown && MixerPlaying()) {
            ReadMeter(cache.mixer.meters, strip, now, s.meters[static_cast<size_t>(strip)]);
        } else {
            s.meters[static_cast<size_t>(strip)] = MeterDisplay{};
            cache.mixer.meters.strips[static_cast<size_t>(strip)].peak.store(0.0f, std::memory_order_relaxed);
        }
    }
}

bool StripMuted(int strip) { return (Session().muted & StripBit(strip)) != 0; }
bool StripSoloed(int strip) { return (Session().solo & StripBit(strip)) != 0; }
void ToggleStripMute(int strip) { Session().muted ^= StripBit(strip); }
void ToggleStripSolo(int strip) {
    if (strip != kStripMaster) Session().solo ^= StripBit(strip);  // the master has nothing to solo against
}

float StripGain(int strip) {
    const float* gain = StripGainField(CurrentProject(), strip);
    return gain ? *gain : 1.0f;
}

void SetStripGain(int strip, float gain) {
    Project& project = CurrentProject();
    float* field = StripGainField(project, strip);
    if (!field || !std::isfinite(gain)) return;
    *field = std::clamp(gain, 0.0f, 100.0f);
    project.modified = true;
}

const MeterDisplay& StripMeterDisplay(int strip) {
    return Session().meters[static_cast<size_t>(std::clamp(strip, 0, kMeterStripCount - 1))];
}

bool MixerPlaying() { return PlaybackCache().mixer.transport.playing.load(std::memory_order_acquire); }

void SetGroupPlacement(int group, const GroupPlacement& placement) {
    if (group < 0 || group >= kGroupCount) return;
    Project& project = CurrentProject();
    project.groupPlacement[static_cast<size_t>(group)] = placement;
    project.modified = true;
    ApplyGroupPlacement(PlaybackCache(), project.groupPlacement);
}

void SetProjectReverb(const ReverbSettings& reverb) {
    Project& project = CurrentProject();
    project.reverb = reverb;
    project.modified = true;
    RememberReverb(reverb);
}

void CommitLoudnessTarget() { RebuildWithReason("Adjusting loudness target\xE2\x80\xA6"); }

void SetNormalizeLoudness(bool on) {
    CurrentProject().timeline.settings.normalizeLUFS = on;
    RebuildWithReason("Applying loudness normalization\xE2\x80\xA6");
}

bool DeconflictionOn() { return PlaybackCache().mixer.settings.deconfliction.load(std::memory_order_relaxed); }
void SetDeconfliction(bool on) { PlaybackCache().mixer.settings.deconfliction.store(on, std::memory_order_relaxed); }

void MarkTrackLayoutChanged() { CurrentProject().modified = true; }

void SetMonitorFormat(int monitorLayout, bool binaural) {
    Preferences& prefs = Prefs();
    const int layout = std::clamp(monitorLayout, 0, kMonitorLayoutCount - 1);
    if (layout == prefs.monitorLayout && binaural == prefs.monitorBinaural) return;
    prefs.monitorLayout = layout;
    prefs.monitorBinaural = binaural;
    MarkPreferencesDirty();
    IdentifyChannel(-1);
    ReopenAudioOutput();  // surround needs its channels opened
}

void SetSpeakerChannel(int speaker, int channel) {
    Preferences& prefs = Prefs();
    const std::string key = ChannelMapKey(prefs.monitorLayout);
    std::vector<int>& map = prefs.channelMaps[key];
    if (map.empty()) map = CanonicalChannelMap(prefs.monitorLayout);
    if (speaker < 0 || speaker >= static_cast<int>(map.size())) return;
    map[static_cast<size_t>(speaker)] = std::max(0, channel);
    MarkPreferencesDirty();
    SetMonitoring(PlaybackCache(), prefs);
}

void ResetSpeakerChannels() {
    Preferences& prefs = Prefs();
    ResetChannelMap(prefs, prefs.monitorLayout);
    MarkPreferencesDirty();
    SetMonitoring(PlaybackCache(), prefs);
}

int DeviceOutputChannels() {
    const AudioOutput& output = PlaybackOutput();
    if (!output.IsOpen()) return 0;
    for (const AudioDeviceInfo& device : output.Devices())
        if (device.isDefault) return device.outputChannels;
    return output.Channels();
}

void IdentifyChannel(int channel) {
    Session().identified = channel;
    PlaybackOutput().SetTestChannel(channel);
}

int IdentifiedChannel() { return Session().identified; }

void SetMonitorVolume(float gain) {
    Preferences& prefs = Prefs();
    prefs.monitorGain = std::clamp(std::isfinite(gain) ? gain : 1.0f, 0.0f, 10.0f);
    MarkPreferencesDirty();
    PlaybackOutput().SetMonitorGain(prefs.monitorGain);
}

void DumpMixerState(std::FILE* f) {
    const Project& project = CurrentProject();
    for (int strip = 0; strip < kMeterStripCount; ++strip) {
        const MeterDisplay& m = StripMeterDisplay(strip);
        std::fprintf(f, "strip %s gain %.4f muted %d solo %d peak %.5f rms %.5f\n", kStripNames[strip],
                     static_cast<double>(StripGain(strip)), StripMuted(strip) ? 1 : 0, StripSoloed(strip) ? 1 : 0,
                     static_cast<double>(m.hold), static_cast<double>(m.rms));
    }
    const TrackLayout& layout = project.timeline.trackLayout;
    for (int g = 0; g < kGroupCount; ++g) {
        const GroupPlacement& p = project.groupPlacement[static_cast<size_t>(g)];
        const Group& group = layout.groups[static_cast<size_t>(g)];
        std::fprintf(f, "group %d placement %d amount %.2f send %.3f target %.1f tracks %d stereo %d\n", g,
                     static_cast<int>(p.mode), static_cast<double>(p.amount),
                     static_cast<double>(project.reverb.groupSends[static_cast<size_t>(g)]),
                     static_cast<double>(group.targetLUFS), group.trackCount, group.stereo ? 1 : 0);
    }
    const ReverbSettings& r = project.reverb;
    std::fprintf(f, "reverb enabled %d size %.3f decay %.3f damping %.3f predelay %.4f density %.3f mod %.3f macro %.3f\n",
                 r.enabled ? 1 : 0, static_cast<double>(r.size), static_cast<double>(r.decay),
                 static_cast<double>(r.damping), static_cast<double>(r.preDelay), static_cast<double>(r.diffusion),
                 static_cast<double>(r.modulation), static_cast<double>(r.macro));
    const Preferences& prefs = Prefs();
    std::fprintf(f, "mixing normalize %d deconfliction %d budget %d monitor %d binaural %d monitorgain %.3f\n",
                 project.timeline.settings.normalizeLUFS ? 1 : 0, DeconflictionOn() ? 1 : 0, layout.budgetMode ? 1 : 0,
                 prefs.monitorLayout, prefs.monitorBinaural ? 1 : 0, static_cast<double>(prefs.monitorGain));
}

}  // namespace morvane
