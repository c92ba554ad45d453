#pragma once
// The project's own settings as the project-settings card edits them: the scale and its
// root, the chances of pitch shift and reverse, the frequency-shift strength, the mix
// groups' track counts and the track budget, frame rate, duration, start timecode and
// sample rate. They are not part of undo (undo keeps the timeline's records only); a
// change marks the project modified and says what the sound needs to follow it.
//
// Interface thread (see edit_state.h).
#include <string>
#include <string_view>

#include "model/timeline.h"

namespace morvane {

struct ProjectSettingsForm {
    TimelineSettings timeline;
    TrackLayout tracks;
    int sampleRate = 48000;
    bool operator==(const ProjectSettingsForm&) const = default;
};

ProjectSettingsForm ProjectSettingsOf(const Project& project);

// What a settings change asks of the project's sound.
struct SettingsChange {
    bool changed = false;
    // The scale, its root, reverse or frequency shift changed: those are applied as the
    // layers are rendered, so every built layer is rendered again ("Retuning…").
    bool rerender = false;
    // Pitch-shift chance, track counts or budget, or sample rate changed: they are
    // applied when layers are chosen and placed, so they are heard from the next Render.
    bool nextRender = false;
    std::string message;  // one line for the status line; empty when nothing to say
};

// Takes the form over, brought into the settings' limits. lockedFps above 0 is the
// frame rate of the loaded video, which the project keeps whatever the form says
// ("Framerate is locked to the loaded video."). A sample rate that is not one of
// 44100, 48000, 88200 and 96000 Hz is refused with a message and the rest applied.
SettingsChange ApplyProjectSettings(Project& project, ProjectSettingsForm form, float lockedFps);

// A typed timecode HH:MM:SS:FF (or fewer fields from the right: SS, MM:SS, ...;
// ';' or '.' also separate frames) at fps frames a second, in seconds. False for text
// that is not a timecode or a field out of range (minutes or seconds over 59, a frame
// number not below the frame rate).
bool ParseTimecode(std::string_view text, float fps, float* seconds);

// "Go to": a typed timecode of the project (which starts at its start timecode) as a
// place on the timeline, never before its start. False for text that is not a timecode.
bool TimelineTimeFromTimecode(std::string_view text, const TimelineSettings& settings, float* seconds);

}  // namespace morvane
