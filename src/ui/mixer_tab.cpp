// The Mixer tab: a strip for each group, the master and the video's sound (gain,
// mute, solo, meter), each group's placement, reverb send, tracks and loudness
// target, the reverb, and monitoring (format, output routing, identification,
// volume). It draws the state of app/mixer_session.h and calls its operations.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/mixer_session.h"
#include "audio/ambisonics.h"
#include "audio/mixer.h"
#include "audio/monitor_layout.h"
#include "library/channel_map.h"
#include "model/preferences.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

constexpr float kFaderMinDb = -60.0f;  // the fader's bottom is silence
constexpr float kFaderMaxDb = 12.0f;
const char* const kStripIds[kMeterStripCount] = {"group0", "group1", "group2", "master", "reference"};
const char* const kPlacementNames[kPlacementModeCount] = {"Direct", "Spread", "Diffuse"};
const char* const kPlacementTips[kPlacementModeCount] = {"Placement: Direct", "Placement: Spread", "Placement: Diffuse"};
const char* const kFormatNames[] = {"Stereo", "5.1", "7.1.4", "Headphones (binaural)"};

std::string Name(const char* kind, const char* id) { return std::string("mixer:") + kind + ":" + id; }

std::string GroupName(const Project& project, int group) {
    const std::string& name = project.timeline.trackLayout.groups[static_cast<size_t>(group)].name;
    return name.empty() ? "Group " + std::to_string(group + 1) : name;
}

std::string StripLabel(const Project& project, int strip) {
    if (strip == kStripMaster) return "Master";
    if (strip == kStripReference) return "Video sound";
    return GroupName(project, strip);
}

// A horizontal meter: RMS as the bar, the peak as a thin mark and the held peak as
// a brighter one, on a -60..0 dBFS scale.
void DrawMeter(const MeterDisplay& meter, float width) {
    const ImVec2 at = ImGui::GetCursorScreenPos();
    const float height = std::max(4.0f, ImGui::GetTextLineHeight() * 0.35f);
    ImGui::Dummy(ImVec2(width, height));
    ImDrawList* draw = ImGui::GetWindowDrawList();
    auto x = [&](float linear) { return at.x + width * std::clamp((LevelDb(linear) + 60.0f) / 60.0f, 0.0f, 1.0f); };
    draw->AddRectFilled(at, ImVec2(at.x + width, at.y + height), IM_COL32(30, 32, 36, 255));
    const ImU32 fill = meter.hold > 0.891f ? IM_COL32(220, 70, 60, 255) : IM_COL32(80, 190, 110, 255);
    if (meter.rms > 0.0f) draw->AddRectFilled(at, ImVec2(x(meter.rms), at.y + height), fill);
    if (meter.peak > 0.0f) draw->AddLine(ImVec2(x(meter.peak), at.y), ImVec2(x(meter.peak), at.y + height), IM_COL32(170, 220, 180, 255));
    if (meter.hold > 0.0f) draw->AddRectFilled(ImVec2(x(meter.hold) - 1.0f, at.y), ImVec2(x(meter.hold) + 1.0f, at.y + height), IM_COL32(250, 250, 250, 255));
}

bool ToggleButton(const char* label, bool on, const std::string& name, const char* tip) {
    if (on) ImGui::PushStyleColor(ImGuiCol_Button, ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive));
    const bool pressed = ImGui::SmallButton(label);
    if (on) ImGui::PopStyleColor();
    RegisterLastItem(name.c_str());
    Tooltip(tip);
    return pressed;
}

void DrawStrip(const Project& project, int strip) {
    ImGui::PushID(strip);
    const std::string label = StripLabel(project, strip);
    ImGui::TextUnformatted(label.c_str());
    ImGui::SameLine(ImGui::GetContentRegionAvail().x * 0.32f);
    if (ToggleButton("M", StripMuted(strip), Name("mute", kStripIds[strip]), "Mute")) ToggleStripMute(strip);
    ImGui::SameLine();
    if (strip != kStripMaster) {
        if (ToggleButton("S", StripSoloed(strip), Name("solo", kStripIds[strip]), "Solo")) ToggleStripSolo(strip);
    } else {
        ImGui::Dummy(ImVec2(ImGui::CalcTextSize("S").x + ImGui::GetStyle().FramePadding.x * 2.0f, 1.0f));  // faders line up
    }
    ImGui::SameLine();
    const float gain = StripGain(strip);
    float db = gain > 0.0f ? std::max(kFaderMinDb, 20.0f * std::log10(gain)) : kFaderMinDb;
    ImGui::SetNextItemWidth(-1.0f);
    // Ctrl+click types an exact value.
    if (ImGui::SliderFloat("##gain", &db, kFaderMinDb, kFaderMaxDb, db <= kFaderMinDb ? "-inf dB" : "%.1f dB"))
        SetStripGain(strip, db <= kFaderMinDb ? 0.0f : std::pow(10.0f, db / 20.0f));
    RegisterLastItem(Name("gain", kStripIds[strip]).c_str());
    DrawMeter(StripMeterDisplay(strip), ImGui::GetContentRegionAvail().x);
    RegisterLastItem(Name("meter", kStripIds[strip]).c_str());
    ImGui::PopID();
}

void DrawGroupSettings(Project& project, int g) {
    ImGui::PushID(g);
    const std::string id = kStripIds[g];
    const std::string header = GroupName(project, g) + "##groupsettings";
    const bool open = ImGui::TreeNode(header.c_str());
    RegisterLastItem(Name("group-settings", id.c_str()).c_str());
    if (!open) {
        ImGui::PopID();
        return;
    }
    GroupPlacement placement = project.groupPlacement[static_cast<size_t>(g)];
    for (int mode = 0; mode < kPlacementModeCount; ++mode) {
        if (mode > 0) ImGui::SameLine();
        if (ImGui::RadioButton(kPlacementNames[mode], static_cast<int>(placement.mode) == mode)) {
            placement.mode = static_cast<PlacementMode>(mode);
            SetGroupPlacement(g, placement);
        }
        RegisterLastItem(("mixer:placement:" + id + ":" + kPlacementNames[mode]).c_str());
        Tooltip(kPlacementTips[mode]);
    }
    ImGui::SetNextItemWidth(-1.0f);
    ImGui::BeginDisabled(placement.mode == PlacementMode::Direct);
    if (ImGui::SliderFloat("##amount", &placement.amount, 0.0f, 100.0f, "Placement amount: %.0f%%", ImGuiSliderFlags_AlwaysClamp))
        SetGroupPlacement(g, placement);
    ImGui::EndDisabled();
    RegisterLastItem(Name("amount", id.c_str()).c_str());

    ReverbSettings reverb = project.reverb;
    float send = reverb.groupSends[static_cast<size_t>(g)] * 100.0f;
    ImGui::SetNextItemWidth(-1.0f);
    if (ImGui::SliderFloat("##send", &send, 0.0f, 100.0f, "Reverb Send: %.0f%%", ImGuiSliderFlags_AlwaysClamp)) {
        reverb.groupSends[static_cast<size_t>(g)] = send / 100.0f;
        SetProjectReverb(reverb);
    }
    RegisterLastItem(Name("send", id.c_str()).c_str());

    Group& group = project.timeline.trackLayout.groups[static_cast<size_t>(g)];
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
    if (ImGui::SliderInt("Tracks", &group.trackCount, 1, 32, "%d", ImGuiSliderFlags_AlwaysClamp)) MarkTrackLayoutChanged();
    RegisterLastItem(Name("tracks", id.c_str()).c_str());
    ImGui::SameLine();
    if (ImGui::Checkbox("Stereo", &group.stereo)) MarkTrackLayoutChanged();
    RegisterLastItem(Name("stereo", id.c_str()).c_str());
    ImGui::TreePop();
    ImGui::PopID();
}

void DrawLoudness(Project& project) {
    ImGui::TextUnformatted("Target Loudness");
    bool normalise = project.timeline.settings.normalizeLUFS;
    if (ImGui::Checkbox("Normalize groups", &normalise)) SetNormalizeLoudness(normalise);
    RegisterLastItem("mixer:normalize");
    Tooltip("Balances each group to its target loudness, so groups sit apart for contrast.");
    ImGui::BeginDisabled(!normalise);
    for (int g = 0; g < kGroupCount; ++g) {
        Group& group = project.timeline.trackLayout.groups[static_cast<size_t>(g)];
        char label[64];
        std::snprintf(label, sizeof label, "%s target##lufs%d", GroupName(project, g).c_str(), g);
        ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
        ImGui::DragFloat(label, &group.targetLUFS, 0.5f, -60.0f, -6.0f, "%.0f LUFS", ImGuiSliderFlags_AlwaysClamp);
        RegisterLastItem(Name("target", kStripIds[g]).c_str());
        // The render follows once the drag ends, not on every step of it.
        if (ImGui::IsItemDeactivatedAfterEdit()) CommitLoudnessTarget();
    }
    ImGui::EndDisabled();
    const bool decon = DeconflictionOn();
    if (ImGui::Button(decon ? "Deconfliction on" : "Deconfliction off")) SetDeconfliction(!decon);
    RegisterLastItem("mixer:deconfliction");
    TrackLayout& layout = project.timeline.trackLayout;
    if (ImGui::Checkbox("Limit tracks", &layout.budgetMode)) MarkTrackLayoutChanged();
    RegisterLastItem("mixer:limit-tracks");
    Tooltip("Cap each group's track count. Excess layers are muted, Hero events first.");
}

bool ReverbKnob(const char* label, float* value, float max, const char* format, const char* name) {
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.6f);
    const bool changed = ImGui::SliderFloat(label, value, 0.0f, max, format, ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem(name);
    return changed;
}

void DrawReverb(const Project& project) {
    ReverbSettings r = project.reverb;
    if (ImGui::Button(r.enabled ? "Disable reverb" : "Enable reverb")) {
        r.enabled = !r.enabled;
        SetProjectReverb(r);
    }
    RegisterLastItem("mixer:reverb");
    ImGui::BeginDisabled(!r.enabled);
    bool changed = false;
    float macro = r.macro;
    if (ReverbKnob("Macro", &macro, 1.0f, "%.2f", "mixer:reverb-macro")) {
        ApplyReverbMacro(r, macro);
        changed = true;
    }
    changed |= ReverbKnob("Size", &r.size, 1.0f, "%.2f", "mixer:reverb-size");
    changed |= ReverbKnob("Decay", &r.decay, 1.0f, "%.2f", "mixer:reverb-decay");
    changed |= ReverbKnob("Damp", &r.damping, 1.0f, "%.2f", "mixer:reverb-damp");
    float preDelayMs = r.preDelay * 1000.0f;
    if (ReverbKnob("Pre-Dly", &preDelayMs, 200.0f, "%.0f ms", "mixer:reverb-predelay")) {
        r.preDelay = preDelayMs / 1000.0f;
        changed = true;
    }
    changed |= ReverbKnob("Density", &r.diffusion, 1.0f, "%.2f", "mixer:reverb-density");
    changed |= ReverbKnob("Mod", &r.modulation, 1.0f, "%.2f", "mixer:reverb-mod");
    ImGui::EndDisabled();
    if (changed) SetProjectReverb(r);
}

int FormatIndex(const Preferences& prefs) {
    return prefs.monitorBinaural ? 3 : std::clamp(prefs.monitorLayout, 0, kMonitorLayoutCount - 1);
}

void DrawRouting(const Preferences& prefs, int deviceChannels) {
    const bool open = ImGui::TreeNode("Output routing (role \xE2\x86\x92 channel)");
    RegisterLastItem("mixer:routing");
    if (!open) return;
    const MonitorLayoutInfo info = MonitorLayout(prefs.monitorLayout);
    const MonitorRouting routing = ResolveMonitorRouting(prefs, prefs.monitorLayout);
    for (int s = 0; s < info.speakerCount; ++s) {
        ImGui::PushID(s);
        int channel = routing.channelOfSpeaker[static_cast<size_t>(s)] + 1;  // shown from 1, as on the interface
        ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.4f);
        const int highest = std::max(deviceChannels, info.speakerCount);
        if (ImGui::SliderInt(ChannelRoleLabel(info.roles[static_cast<size_t>(s)]), &channel, 1, highest, "%d",
                             ImGuiSliderFlags_AlwaysClamp))
            SetSpeakerChannel(s, channel - 1);
        RegisterLastItem(Name("route", ChannelRoleLabel(info.roles[static_cast<size_t>(s)])).c_str());
        ImGui::PopID();
    }
    if (ImGui::Button("Reset map##rstmap")) ResetSpeakerChannels();
    RegisterLastItem("mixer:reset-map");
    Tooltip("Reset to canonical order.");
    ImGui::TreePop();
}

void DrawIdentify(int deviceChannels) {
    ImGui::TextWrapped("Identify \xE2\x80\x94 which speaker is each output channel?");
    for (int c = 0; c < deviceChannels; ++c) {
        char label[40];
        std::snprintf(label, sizeof label, "%d##idt%d", c + 1, c);
        if (c > 0) ImGui::SameLine();
        if (ToggleButton(label, IdentifiedChannel() == c, "mixer:identify:" + std::to_string(c + 1), "Play a test tone on this channel."))
            IdentifyChannel(c);
    }
    if (deviceChannels > 0) ImGui::SameLine();
    if (ImGui::SmallButton("Off##idtoff")) IdentifyChannel(-1);
    RegisterLastItem("mixer:identify-off");
    Tooltip("Stop the tone.");
}

void DrawMonitoring() {
    Preferences& prefs = Prefs();
    int format = FormatIndex(prefs);
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.6f);
    if (ImGui::Combo("Format", &format, kFormatNames, 4))
        SetMonitorFormat(format == 3 ? prefs.monitorLayout : format, format == 3);
    RegisterLastItem("mixer:format");
    const int deviceChannels = DeviceOutputChannels();
    const int needed = prefs.monitorBinaural ? 2 : MonitorLayout(prefs.monitorLayout).speakerCount;
    if (deviceChannels > 0 && deviceChannels < needed)
        ImGui::TextColored(ImVec4(0.95f, 0.7f, 0.3f, 1.0f), "This device only has %d output channels.", deviceChannels);
    DrawRouting(prefs, deviceChannels);
    DrawIdentify(deviceChannels);
    float volumeDb = prefs.monitorGain > 0.0f ? std::max(kFaderMinDb, 20.0f * std::log10(prefs.monitorGain)) : kFaderMinDb;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.6f);
    if (ImGui::SliderFloat("Monitor gain", &volumeDb, kFaderMinDb, 20.0f, volumeDb <= kFaderMinDb ? "-inf dB" : "%.1f dB"))
        SetMonitorVolume(volumeDb <= kFaderMinDb ? 0.0f : std::pow(10.0f, volumeDb / 20.0f));
    RegisterLastItem("mixer:monitor-gain");
}

}  // namespace

void DrawMixerTab() {
    Project& project = CurrentProject();
    // Sections as tabs of their own: the side panel is short, and a section that
    // fits it needs no scrolling to reach its last control.
    if (!ImGui::BeginTabBar("##mixersections")) return;
    const auto section = [](const char* label) {
        const bool open = ImGui::BeginTabItem(label);
        RegisterLastItem((std::string("mixer-tab:") + label).c_str());
        return open;
    };
    if (section("Strips")) {
        for (int strip = 0; strip < kMeterStripCount; ++strip) DrawStrip(project, strip);
        ImGui::EndTabItem();
    }
    if (section("Groups")) {
        for (int g = 0; g < kGroupCount; ++g) DrawGroupSettings(project, g);
        ImGui::EndTabItem();
    }
    if (section("Loudness")) {
        DrawLoudness(project);
        ImGui::EndTabItem();
    }
    if (section("Reverb")) {
        DrawReverb(project);
        ImGui::EndTabItem();
    }
    if (section("Monitor")) {
        DrawMonitoring();
        ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
}

}  // namespace morvane
