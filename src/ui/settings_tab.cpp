// The Settings tab: text size, autosave and backups, the sample rate for new projects
// and the audio output, and the update check. Every change is saved with the
// preferences at the next frame.
#include <imgui.h>

#include <cmath>
#include <ctime>
#include <string>

#include "app/app_state.h"
#include "app/fonts.h"
#include "model/preferences.h"
#include "model/update_check.h"
#include "platform/open_external.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

constexpr int kAutosaveSeconds[] = {60, 120, 300, 600, 900, 1800};
const char* const kAutosaveNames[] = {"1 min", "2 min", "5 min", "10 min", "15 min", "30 min"};
constexpr int kSampleRates[] = {44100, 48000, 88200, 96000};
const char* const kSampleRateNames[] = {"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz"};

// The choice nearest to the stored interval: the file may hold any value in 30..3600.
int NearestAutosaveChoice(float seconds) {
    int best = 0;
    for (int i = 1; i < 6; ++i)
        if (std::abs(kAutosaveSeconds[i] - seconds) < std::abs(kAutosaveSeconds[best] - seconds)) best = i;
    return best;
}

void DrawUpdateSection() {
    Preferences& prefs = Prefs();
    SectionTitle("Updates");
    if (UpdateCheckRunning()) {
        ImGui::TextUnformatted("Checking\xE2\x80\xA6");
    } else if (ImGui::Button("Check now")) {
        StartUpdateCheck();
    }
    for (const std::string& line : UpdateStatusLines(prefs)) ImGui::TextWrapped("%s", line.c_str());
    if (UpdateOffered(prefs)) {
        if (!prefs.updateAvailableNote.empty()) ImGui::TextWrapped("%s", prefs.updateAvailableNote.c_str());
        if (ImGui::Button("View update")) OpenWithDesktop(UpdatePageToOpen(prefs));
        ImGui::SameLine();
        if (ImGui::Button("Dismiss")) DismissUpdate(prefs);
    }
    const std::string last = LastCheckedText(prefs.lastUpdateCheck, static_cast<long long>(std::time(nullptr)));
    if (!last.empty()) ImGui::TextDisabled("%s", last.c_str());
    if (ImGui::Checkbox("Check for updates automatically", &prefs.updateCheckEnabled)) MarkPreferencesDirty();
}

}  // namespace

void DrawSettingsTab() {
    Preferences& prefs = Prefs();
    const float labelW = ImGui::CalcTextSize("Keep backups").x + 16.0f;

    SectionTitle("Interface");
    ImGui::PushItemWidth(-labelW);
    const char* presets[] = {"Small", "Medium", "Large"};
    int preset = prefs.fontSizePreset;
    if (ImGui::Combo("Text size", &preset, presets, 3)) {
        prefs.fontSizePreset = preset;
        ApplyFontPreset(preset);
        MarkPreferencesDirty();
    }
    RegisterLastItem("settings:text size");
    ImGui::PopItemWidth();

    SectionTitle("Autosave");
    if (ImGui::Checkbox("Save a backup automatically", &prefs.autoSaveEnabled)) MarkPreferencesDirty();
    ImGui::PushItemWidth(-labelW);
    ImGui::BeginDisabled(!prefs.autoSaveEnabled);
    int interval = NearestAutosaveChoice(prefs.autoSaveInterval);
    if (ImGui::Combo("Every", &interval, kAutosaveNames, 6)) {
        prefs.autoSaveInterval = static_cast<float>(kAutosaveSeconds[interval]);
        App().autosaveAccumulator = 0.0;
        MarkPreferencesDirty();
    }
    ImGui::EndDisabled();
    if (ImGui::SliderInt("Keep backups", &prefs.maxBackups, 1, 50, "%d", ImGuiSliderFlags_AlwaysClamp)) MarkPreferencesDirty();
    ImGui::PopItemWidth();
    ImGui::TextDisabled("Backups go to the Backups folder beside the project.");

    SectionTitle("Audio");
    ImGui::PushItemWidth(-labelW);
    int rate = 1;
    for (int i = 0; i < 4; ++i)
        if (kSampleRates[i] == prefs.projectSampleRate) rate = i;
    if (ImGui::Combo("Sample rate", &rate, kSampleRateNames, 4)) {
        prefs.projectSampleRate = kSampleRates[rate];
        MarkPreferencesDirty();
        // The output follows at once, as it does when the preferences are first read.
        AppState& app = App();
        if (app.outputSampleRate != prefs.projectSampleRate) {
            app.outputSampleRate = prefs.projectSampleRate;
            if (app.hooks.openAudioOutput) app.hooks.openAudioOutput(app.outputSampleRate);
        }
    }
    ImGui::PopItemWidth();
    ImGui::TextDisabled("New projects start at this rate.");

    DrawUpdateSection();
}

}  // namespace morvane
