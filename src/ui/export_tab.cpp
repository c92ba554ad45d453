// The Export tab: what the export writes (WAV files of four kinds and the wet reverb
// stem, the AAF session with its options), the mixdown's loudness and layout, the
// range and the folder, the export itself with its progress and result, variations
// of the selected events, and bounce to clip. It draws the state of
// app/export_session.h and calls its operations.
#include <imgui.h>

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/export_session.h"
#include "app/fonts.h"
#include "export/export_layouts.h"
#include "export/wav_export.h"
#include "model/preferences.h"
#include "model/timeline.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

const char* const kLoudnessNames[] = {"Off", "-14 LUFS (streaming)", "-16 LUFS", "-18 LUFS", "-23 LUFS (EBU R128)"};
const char* const kLayoutNames[] = {"Stereo", "5.1", "7.1.4", "AmbiX"};
constexpr int kVarRates[] = {44100, 48000, 88200, 96000};
const char* const kVarRateNames[] = {"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz"};
constexpr int kVarDepths[] = {16, 24};
const char* const kVarDepthNames[] = {"16-bit", "24-bit"};
const char* const kVarChannelNames[] = {"Mono", "Stereo"};
const char* const kVarNameStyles[] = {"Take_01_Reverb", "Take_01_reverb"};

bool NamedButton(const char* label, const char* name) {
    const bool pressed = ImGui::Button(label);
    RegisterLastItem(name);
    return pressed;
}

bool NamedCheckbox(const char* label, const char* name, bool* value) {
    const bool changed = ImGui::Checkbox(label, value);
    RegisterLastItem(name);
    return changed;
}

// A checkbox with its explanation beside it, dimmed.
bool ExplainedCheckbox(const char* label, const char* name, bool* value, const char* explanation) {
    const bool changed = NamedCheckbox(label, name, value);
    ImGui::SameLine();
    ImGui::TextDisabled("%s", explanation);
    return changed;
}

// A list to choose from; the list is "NAME" and each choice "NAME:CHOICE" for scripts.
bool NamedCombo(const char* label, const char* name, const char* const* choices, int count, int* index) {
    bool changed = false;
    const int shown = *index >= 0 && *index < count ? *index : 0;
    const bool open = ImGui::BeginCombo(label, choices[shown]);
    RegisterLastItem(name);
    if (!open) return false;
    for (int i = 0; i < count; ++i) {
        if (ImGui::Selectable(choices[i], i == shown)) {
            *index = i;
            changed = true;
        }
        RegisterLastItem((std::string(name) + ":" + choices[i]).c_str());
    }
    ImGui::EndCombo();
    return changed;
}

template <int N>
int IndexOf(const int (&values)[N], int value) {
    for (int i = 0; i < N; ++i)
        if (values[i] == value) return i;
    return 0;
}

void DrawFormats(ExportSettings& x, bool* changed) {
    SectionTitle("EXPORT");
    *changed |= ExplainedCheckbox("WAV Bounce", "export:wav", &x.exportFormatWAV, "24-bit BWF audio files");
    *changed |= NamedCheckbox("AAF Session", "export:aaf", &x.exportFormatAAF);
    Tooltip("AAF session for Pro Tools / Nuendo / DaVinci");
}

void DrawWavKinds(ExportSettings& x, bool reverbEnabled, bool* changed) {
    if (x.exportFormatWAV) {
        ImGui::Indent();
        *changed |= ExplainedCheckbox("Mix", "export:mix", &x.exportWavMixdown, "Single mixdown file");
        *changed |= ExplainedCheckbox("Stems", "export:stems", &x.exportWavStems, "One file per group");
        *changed |= ExplainedCheckbox("Tracks", "export:tracks", &x.exportWavTracks, "One file per track slot");
        *changed |= ExplainedCheckbox("Clips", "export:clips", &x.exportWavClips, "Each layer as a timestamped BWF");
        ImGui::Unindent();
    }
    const char* why = !x.exportFormatWAV && !x.exportFormatAAF ? "Select a format above first"
                      : !reverbEnabled                          ? "Enable reverb in the Mixer tab first"
                                                                : nullptr;
    ImGui::BeginDisabled(why != nullptr);
    bool stem = x.exportReverbStem && why == nullptr;
    if (NamedCheckbox("Reverb stem", "export:reverb-stem", &stem)) {
        x.exportReverbStem = stem;
        *changed = true;
    }
    ImGui::EndDisabled();
    Tooltip(why != nullptr ? why : "Separate wet reverb alongside the dry components. The Mix always includes it.");
}

void DrawMixdownChoices() {
    Preferences& prefs = Prefs();
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.55f);
    int lufs = prefs.exportWavLUFSIndex;
    if (NamedCombo("Loudness", "export:loudness", kLoudnessNames, 5, &lufs)) ChangeExportLoudness(lufs);
    Tooltip("Loudness-match the Mixdown on export. Stems, Tracks and Clips are unaffected.");
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.55f);
    int layout = prefs.exportWavLayout;
    if (NamedCombo("Layout", "export:layout", kLayoutNames, kExportLayoutCount, &layout)) ChangeExportLayout(layout);
    Tooltip("Channel layout for Mix and Stems. Tracks and Clips are unaffected.");
    ImGui::TextDisabled("Channels: %s", ExportLayoutChannels(prefs.exportWavLayout).c_str());
}

void DrawAafOptions(ExportSettings& x, bool* changed) {
    SectionTitle("AAF");
    *changed |= NamedCheckbox("Handles", "export:handles", &x.exportWithHandles);
    if (x.exportWithHandles) {
        ImGui::Indent();
        ImGui::BeginDisabled(x.handleFullSource);
        // The label is long: it goes above its slider rather than being cut off beside it.
        ImGui::TextUnformatted("Handle length (each side)");
        ImGui::SetNextItemWidth(-1);
        *changed |= ImGui::SliderFloat("##handle", &x.handleDuration, 0.01f, 60.0f, "%.1fs",
                                       ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
        RegisterLastItem("export:handle-length");
        ImGui::EndDisabled();
        *changed |= NamedCheckbox("Include entire source file as handles", "export:full-source", &x.handleFullSource);
        ImGui::Unindent();
    }
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
    *changed |= ImGui::SliderFloat("Fade in", &x.fadeInDuration, 0.0f, 30.0f, "%.2fs",
                                   ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem("export:fade-in");
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
    *changed |= ImGui::SliderFloat("Fade out", &x.fadeOutDuration, 0.0f, 30.0f, "%.2fs",
                                   ImGuiSliderFlags_Logarithmic | ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem("export:fade-out");
    *changed |= NamedCheckbox("Snap clip edges to video frames", "export:snap", &x.snapToFrames);
    *changed |= NamedCheckbox("Include sync point markers\n(PT Import format)", "export:markers", &x.exportAAFMarkers);
    *changed |= NamedCheckbox("Intensity curves as clip gain automation", "export:vol-auto", &x.exportAAFVolAuto);
    *changed |= NamedCheckbox("Preserve source audio channel layout\n(mono, stereo, 5.1, 7.1) as multi-mono tracks",
                              "export:source-channels", &x.exportAAFSourceChannels);
    *changed |= NamedCheckbox("Fill virtual events with media", "export:fill-virtual", &x.exportFillVirtual);
}

void DrawRangeAndFolder(const Project& project) {
    SectionTitle("Range and folder");
    const ExportRange range =
        ComputeExportRange(project.workAreaIn, project.workAreaOut, project.timeline.settings.totalDuration);
    const bool workArea = project.workAreaIn >= 0.0f && project.workAreaOut > project.workAreaIn;
    ImGui::Text("%s: %.2f s \xE2\x80\x93 %.2f s", workArea ? "Work area" : "Whole timeline", range.start, range.end);
    // The field shows the folder except while the user types, so a project opened
    // meanwhile shows its own.
    static char folder[1024];
    static bool editing = false;
    if (!editing) std::snprintf(folder, sizeof folder, "%s", ExportFolder().c_str());
    ImGui::SetNextItemWidth(-1);
    ImGui::InputText("##folder", folder, sizeof folder);
    RegisterLastItem("export:folder");
    editing = ImGui::IsItemActive();
    if (ImGui::IsItemDeactivatedAfterEdit()) SetExportFolder(folder);
    Tooltip("The export folder (made when missing)");
}

void DrawExportButton() {
    const std::string why = ExportBlocker();
    ImGui::Spacing();
    ImGui::BeginDisabled(!why.empty());
    if (NamedButton(ExportButtonText(), "export:start")) StartWindowExport();
    ImGui::EndDisabled();
    if (!why.empty()) Tooltip(why.c_str());
    if (ExportRunning()) {
        ImGui::TextUnformatted(ExportStatus().c_str());
        ImGui::ProgressBar(ExportProgress(), ImVec2(-1, 0));
        if (NamedButton("Cancel", "export:cancel")) CancelWindowExport();
        return;
    }
    const ExportResultView& result = LastExportResult();
    if (!result.shown) return;
    if (result.failed) ImGui::TextColored(ImVec4(0.95f, 0.45f, 0.40f, 1.0f), "%s", result.text.c_str());
    else ImGui::TextUnformatted(result.text.c_str());
    if (!result.failure.empty()) ImGui::TextWrapped("%s", result.failure.c_str());
    if (NamedButton("Open Folder", "export:open-folder")) OpenLastExportFolder();
}

void DrawVariationSettings() {
    Preferences& p = Prefs();
    bool changed = false;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
    changed |= ImGui::SliderInt("Takes", &p.varCount, 1, 100, "%d", ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem("var:count");
    changed |= NamedCheckbox("Include reverb", "var:reverb", &p.varReverb);
    changed |= NamedCheckbox("Normalize takes to -1 dBFS", "var:normalize", &p.varNormalize);
    changed |= NamedCheckbox("Advanced", "var:advanced", &p.varShowAdvanced);
    if (p.varShowAdvanced) {
        ImGui::Indent();
        const float width = ImGui::GetContentRegionAvail().x * 0.5f;
        int channels = p.varChannels - 1;
        ImGui::SetNextItemWidth(width);
        if (NamedCombo("Channels", "var:channels", kVarChannelNames, 2, &channels)) {
            p.varChannels = channels + 1;
            changed = true;
        }
        int rate = IndexOf(kVarRates, p.varSampleRate);
        ImGui::SetNextItemWidth(width);
        if (NamedCombo("Sample rate", "var:rate", kVarRateNames, 4, &rate)) {
            p.varSampleRate = kVarRates[rate];
            changed = true;
        }
        int depth = IndexOf(kVarDepths, p.varBitDepth);
        ImGui::SetNextItemWidth(width);
        if (NamedCombo("Bit depth", "var:bit-depth", kVarDepthNames, 2, &depth)) {
            p.varBitDepth = kVarDepths[depth];
            changed = true;
        }
        ImGui::SetNextItemWidth(width);
        changed |= NamedCombo("File names", "var:name-style", kVarNameStyles, 2, &p.varNameStyle);
        Tooltip("How a take with reverb is marked in its file name");
        ImGui::Unindent();
    }
    if (changed) MarkPreferencesDirty();
}

void DrawVariations() {
    SectionTitle("Variations");
    DrawVariationSettings();
    const std::string why = VariationsBlocker();
    ImGui::BeginDisabled(!why.empty());
    if (NamedButton("Export Variations", "var:start")) StartVariations();
    ImGui::EndDisabled();
    if (!why.empty()) Tooltip(why.c_str());
    if (VariationsRunning()) {
        ImGui::ProgressBar(VariationsProgress(), ImVec2(-1, 0));
        if (NamedButton("Cancel##variations", "var:cancel")) CancelVariations();
    }
    const std::string status = VariationsStatus();
    if (!status.empty()) ImGui::TextWrapped("%s", status.c_str());
}

void DrawBounce() {
    SectionTitle("Bounce");
    if (NamedButton("Bounce Selection to Clip", "bounce")) BounceSelectionCommand();
    Tooltip("Freeze the selected events into one audio clip");
    ImGui::SameLine();
    ImGui::BeginDisabled(RevertibleSelection() < 0);
    if (NamedButton("Revert to Source", "revert-bounce")) RevertSelectionCommand();
    ImGui::EndDisabled();
    Tooltip("Replace this bounced clip with the original events it was made from");
}

}  // namespace

void DrawExportTab() {
    Project& project = CurrentProject();
    ExportSettings x = project.exportSettings;
    bool changed = false;
    ImGui::BeginDisabled(ExportRunning());  // the running export keeps the choices it started with
    DrawFormats(x, &changed);
    DrawWavKinds(x, project.reverb.enabled, &changed);
    if (x.exportFormatWAV) DrawMixdownChoices();
    if (x.exportFormatAAF) DrawAafOptions(x, &changed);
    DrawRangeAndFolder(project);
    ImGui::EndDisabled();
    if (changed) ChangeExportSettings(x);
    DrawExportButton();
    DrawVariations();
    DrawBounce();
}

}  // namespace morvane
