#pragma once
// The Mixer tab's operations over the open project, the preferences and the
// playback engine: strip gains, mute and solo, the meters, group placement, the
// reverb, the groups' loudness targets, deconfliction and monitoring.
//
// Interface thread only. What the audio thread reads is handed over through the
// playback mixer's atomics (mixer.h); nothing here waits on the audio thread.
#include <cstdio>

#include "audio/mixer_meters.h"
#include "model/timeline.h"

namespace morvane {

// Once per frame: the project's gains, reverb and the strips' switches go to the
// mixer (a finished render job may have set its own copy's values meanwhile), and
// the meters are measured only while `metersShown`.
void TickMixerSession(bool metersShown);

// Strips (MeterStrip numbers). Mute and solo are monitoring switches of this
// session: they change what is heard, never the project or an export.
bool StripMuted(int strip);
bool StripSoloed(int strip);
void ToggleStripMute(int strip);
void ToggleStripSolo(int strip);
// A strip's gain in the project (groupGain0..2, masterGain, refGain), linear.
float StripGain(int strip);
void SetStripGain(int strip, float gain);
// The meter as the strip shows it this frame; at rest while nothing plays.
const MeterDisplay& StripMeterDisplay(int strip);
bool MixerPlaying();

// A group's place in the sound field; moves its blocks at once, without rendering.
void SetGroupPlacement(int group, const GroupPlacement& placement);
// The project's reverb (also kept in the preferences for the next new project).
void SetProjectReverb(const ReverbSettings& reverb);
// A group's loudness target or the normalise switch: the cache is rendered again
// in the background with the matching reason.
void CommitLoudnessTarget();
void SetNormalizeLoudness(bool on);
// Whether playback applies the deconfliction offsets and gains.
bool DeconflictionOn();
void SetDeconfliction(bool on);
// The track layout (count, stereo, Limit tracks) changed: what it decides comes with
// the next build.
void MarkTrackLayoutChanged();

// Monitoring. Layout 0 stereo, 1 5.1, 2 7.1.4; headphones decode to two ears.
void SetMonitorFormat(int monitorLayout, bool binaural);
// Device channel of a speaker of the current layout's routing.
void SetSpeakerChannel(int speaker, int channel);
void ResetSpeakerChannels();
// The outputs the current device offers (0 without a device).
int DeviceOutputChannels();
// Identification tone on one output channel; -1 stops it.
void IdentifyChannel(int channel);
int IdentifiedChannel();
void SetMonitorVolume(float gain);

// Lines for the scripted-input state dump:
//   strip NAME gain G muted 0|1 solo 0|1 peak P rms R
//   group N placement MODE amount A send S target T
//   reverb enabled 0|1 size .. macro M   normalize 0|1 deconfliction 0|1 monitor LAYOUT BINAURAL
void DumpMixerState(std::FILE* f);

}  // namespace morvane
