#include "edit/project_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace morvane {

ProjectSettingsForm ProjectSettingsOf(const Project& project) {
    return {project.timeline.settings, project.timeline.trackLayout, project.projectSampleRate};
}

namespace {

bool RenderSettingsDiffer(const TimelineSettings& a, const TimelineSettings& b) {
    return a.scaleType != b.scaleType || a.scaleRoot != b.scaleRoot || a.reverseProb != b.reverseProb ||
           a.freqShiftIntensity != b.freqShiftIntensity;
}

void ClampForm(ProjectSettingsForm& form, float lockedFps) {
    ClampTimelineSettings(form.timeline);
    TimelineSettings& t = form.timeline;
    if (lockedFps > 0.0f) t.fps = lockedFps;
    if (!std::isfinite(t.fps) || t.fps < 1.0f) t.fps = 1.0f;
    t.fps = std::min(t.fps, 240.0f);
    if (!std::isfinite(t.totalDuration) || t.totalDuration < 1.0f) t.totalDuration = 1.0f;
    if (!std::isfinite(t.startTC) || t.startTC < 0.0f) t.startTC = 0.0f;
    for (Group& g : form.tracks.groups) g.trackCount = std::clamp(g.trackCount, 1, 32);
}

}  // namespace

SettingsChange ApplyProjectSettings(Project& project, ProjectSettingsForm form, float lockedFps) {
    SettingsChange change;
    if (!IsProjectSampleRate(form.sampleRate)) {
        change.message = "Sample rate " + std::to_string(form.sampleRate) +
                         " Hz is not one of 44100, 48000, 88200 or 96000 Hz; the project keeps " +
                         std::to_string(project.projectSampleRate) + " Hz.";
        form.sampleRate = project.projectSampleRate;
    }
    ClampForm(form, lockedFps);
    const ProjectSettingsForm before = ProjectSettingsOf(project);
    if (form == before) return change;
    change.changed = true;
    change.rerender = project.timeline.built && RenderSettingsDiffer(before.timeline, form.timeline);
    change.nextRender = project.timeline.built && (before.timeline.pitchShiftProb != form.timeline.pitchShiftProb ||
                                                   before.tracks != form.tracks || before.sampleRate != form.sampleRate);
    if (change.nextRender && change.message.empty()) change.message = "Heard from the next Render.";
    project.timeline.settings = form.timeline;
    project.timeline.trackLayout = form.tracks;
    project.projectSampleRate = form.sampleRate;
    project.modified = true;
    return change;
}

bool ParseTimecode(std::string_view text, float fps, float* seconds) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || !(fps >= 1.0f) || !std::isfinite(fps)) return false;
    std::vector<long long> fields(1, 0);
    int digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 6) return false;
            fields.back() = fields.back() * 10 + (c - '0');
        } else if ((c == ':' || c == ';' || c == '.') && digits > 0 && fields.size() < 4) {
            fields.push_back(0);
            digits = 0;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    // Right to left: frames, seconds, minutes, hours.
    const long long rate = std::max(1LL, std::llround(fps));
    long long hh = 0, mm = 0, ss = 0, ff = 0;
    const size_t n = fields.size();
    ff = n >= 2 ? fields[n - 1] : 0;
    ss = n >= 2 ? fields[n - 2] : fields[0];
    if (n >= 3) mm = fields[n - 3];
    if (n >= 4) hh = fields[0];
    if (ff >= rate || (n >= 3 && ss > 59) || (n >= 4 && mm > 59)) return false;
    *seconds = static_cast<float>(static_cast<double>(((hh * 60 + mm) * 60 + ss) * rate + ff) / static_cast<double>(rate));
    return true;
}

bool TimelineTimeFromTimecode(std::string_view text, const TimelineSettings& settings, float* seconds) {
    float timecode = 0.0f;
    if (!ParseTimecode(text, settings.fps, &timecode)) return false;
    *seconds = std::max(0.0f, timecode - settings.startTC);
    return true;
}

}  // namespace morvane
