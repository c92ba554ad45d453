// The project's settings card. The controls edit a copy of the settings; the copy goes to
// the core (edit/project_settings.h) as it changes, and what the sound needs follows
// once the controls let go: a new scale re-renders the built layers with the sounds they
// have, settings of the build are heard from the next Render.
#include "ui/project_settings.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/video_session.h"
#include "edit/project_settings.h"
#include "engine/scale.h"
#include "model/preferences.h"
#include "model/timeline.h"
#include "trace/trace_files.h"
#include "ui/event_inspector.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

const char* const kRootNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
const float kFrameRates[] = {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 48.0f, 50.0f, 59.94f, 60.0f};
const int kSampleRates[] = {44100, 48000, 88200, 96000};

// A combo over named choices whose items scripted input can reach ("<id>:<k>").
bool NamedCombo(const char* label, const char* id, int& value, int count, const char* (*name)(int)) {
    bool changed = false;
    if (ImGui::BeginCombo(label, name(value))) {
        for (int k = 0; k < count; ++k) {
            ImGui::PushID(k);
            if (ImGui::Selectable(name(k), value == k)) {
                changed = value != k;
                value = k;
            }
            RegisterLastItem((std::string(id) + ":" + std::to_string(k)).c_str());
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    RegisterLastItem(id);
    return changed;
}

void DrawPitchSettings(ProjectSettingsForm& form, bool retuning) {
    TimelineSettings& t = form.timeline;
    NamedCombo("Scale", "settings:scale", t.scaleType, kScaleCount, [](int k) { return ScaleName(k); });
    if (retuning) {
        ImGui::SameLine();
        ImGui::TextDisabled("Retuning\xE2\x80\xA6");
    }
    ImGui::BeginDisabled(t.scaleType == 0);
    NamedCombo("Root", "settings:root", t.scaleRoot, 12, [](int k) { return kRootNames[k % 12]; });
    ImGui::EndDisabled();
    ImGui::SliderInt("Pitch-shift chance", &t.pitchShiftProb, 0, 100, "%d%%", ImGuiSliderFlags_AlwaysClamp);
    ImGui::SliderInt("Reverse chance", &t.reverseProb, 0, 100, "%d%%", ImGuiSliderFlags_AlwaysClamp);
    ImGui::SliderInt("Frequency shift", &t.freqShiftIntensity, 0, 100, "%d%%", ImGuiSliderFlags_AlwaysClamp);
}

std::string TracksLabel(const Group& group, int g) {
    return (group.name.empty() ? "Group " + std::to_string(g + 1) : group.name) + " tracks";
}

// The widest label of the card, so none is cut at any text size.
float LabelWidth(const ProjectSettingsForm& form) {
    float widest = ImGui::CalcTextSize("Pitch-shift chance").x;
    for (int g = 0; g < kGroupCount; ++g)
        widest = std::max(widest, ImGui::CalcTextSize(TracksLabel(form.tracks.groups[static_cast<size_t>(g)], g).c_str()).x);
    return widest + ImGui::GetStyle().ItemInnerSpacing.x + 8.0f;
}

void DrawTrackSettings(ProjectSettingsForm& form) {
    for (int g = 0; g < kGroupCount; ++g) {
        Group& group = form.tracks.groups[static_cast<size_t>(g)];
        ImGui::SliderInt(TracksLabel(group, g).c_str(), &group.trackCount, 1, 32, "%d", ImGuiSliderFlags_AlwaysClamp);
    }
    ImGui::Checkbox("Track budget", &form.tracks.budgetMode);
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Cap each group's track count. Excess layers are muted, Hero events first.");
    Preferences& prefs = Prefs();
    ImGui::SameLine();
    if (ImGui::Checkbox("Protect silence", &prefs.protectSilence)) MarkPreferencesDirty();
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Keep the quiet stretches between events free of layers (every project)");
}

void DrawFrameRate(ProjectSettingsForm& form, float videoFps) {
    float& fps = form.timeline.fps;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.3g fps", static_cast<double>(fps));
    ImGui::BeginDisabled(videoFps > 0.0f);
    if (ImGui::BeginCombo("Frame rate", shown)) {
        for (float rate : kFrameRates) {
            char text[32];
            std::snprintf(text, sizeof text, "%.3g fps", static_cast<double>(rate));
            if (ImGui::Selectable(text, fps == rate)) fps = rate;
        }
        ImGui::EndCombo();
    }
    ImGui::EndDisabled();
    if (videoFps > 0.0f && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip("Framerate is locked to the loaded video.");
}

void DrawTimeSettings(ProjectSettingsForm& form, float videoFps) {
    TimelineSettings& t = form.timeline;
    DrawFrameRate(form, videoFps);
    ImGui::DragFloat("Duration", &t.totalDuration, 0.5f, 1.0f, 86400.0f, "%.1f s", ImGuiSliderFlags_AlwaysClamp);
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Timeline duration. Loading a video overrides this.");

    // The start timecode is typed and taken when the field lets go.
    static char timecode[32];
    static bool editing = false;
    if (!editing) std::snprintf(timecode, sizeof timecode, "%s", TraceTimecode(0.0f, t.startTC, t.fps).c_str());
    ImGui::InputText("Start timecode", timecode, sizeof timecode);
    RegisterLastItem("settings:startTimecode");
    editing = ImGui::IsItemActive();
    if (ImGui::IsItemDeactivatedAfterEdit()) {
        float seconds = 0.0f;
        if (ParseTimecode(timecode, t.fps, &seconds)) t.startTC = seconds;
        else SetStatus(std::string("Not a timecode: '") + timecode + "' (HH:MM:SS:FF)", 4.0f);
    }

    int rate = 1;
    for (int i = 0; i < 4; ++i)
        if (kSampleRates[i] == form.sampleRate) rate = i;
    const char* const names[] = {"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz"};
    if (ImGui::Combo("Sample rate", &rate, names, 4)) form.sampleRate = kSampleRates[rate];
}

// Every event with built layers, to render again.
void RenderBuiltEvents(const Project& project) {
    std::vector<char> built(project.timeline.events.size(), 0);
    for (const Layer& layer : project.timeline.results)
        if (layer.eventIdx >= 0 && static_cast<size_t>(layer.eventIdx) < built.size()) built[static_cast<size_t>(layer.eventIdx)] = 1;
    for (size_t i = 0; i < built.size(); ++i)
        if (built[i]) RequestEventRender(static_cast<int>(i));
}

}  // namespace

void DrawProjectSettings(Project& project) {
    ProjectSettingsForm form = ProjectSettingsOf(project);
    const VideoPicture& video = CurrentVideoPicture();
    const float videoFps = video.loaded && video.fps > 0.0f ? video.fps : 0.0f;
    static bool rerender = false, retuning = false, retuneStarted = false;
    static std::string message;
    if (retuning) {
        if (!AudioJobStatus().empty()) retuneStarted = true;
        if (retuneStarted && AudioSettled()) retuning = false;
    }

    const float labelW = LabelWidth(form);
    ImGui::PushItemWidth(-labelW);
    SectionTitle("Pitch");
    DrawPitchSettings(form, retuning);
    SectionTitle("Tracks");
    DrawTrackSettings(form);
    SectionTitle("Time");
    DrawTimeSettings(form, videoFps);
    ImGui::PopItemWidth();

    // Only what the user changed is applied: merely showing a project whose stored
    // values lie outside the limits does not change it.
    const SettingsChange change = form != ProjectSettingsOf(project) ? ApplyProjectSettings(project, form, videoFps) : SettingsChange{};
    rerender = rerender || change.rerender;
    if (!change.message.empty()) message = change.message;
    // What the sound needs follows once the controls let go, so a drag renders once.
    if (!ImGui::IsAnyItemActive()) {
        if (rerender) {
            RenderBuiltEvents(project);
            retuning = true;
            retuneStarted = false;
        }
        if (!message.empty()) SetStatus(message, 4.0f);
        rerender = false;
        message.clear();
    }
}

}  // namespace morvane
