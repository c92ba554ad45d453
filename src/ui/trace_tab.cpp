// The Trace tab: reading the picture of the project's video for light and motion, the
// proposals it found and their import, the read's settings, and the markers imported
// from Pro Tools session texts. It draws the state of app/trace_session.h and calls its
// operations.
#include <imgui.h>

#include <cstdio>

#include "app/app_state.h"
#include "app/project_commands.h"
#include "app/trace_session.h"
#include "model/project_lifecycle.h"
#include "ui/panels.h"

namespace morvane {

namespace {

bool NamedButton(const char* label, const char* name) {
    const bool pressed = ImGui::Button(label);
    RegisterLastItem(name);
    return pressed;
}

void DrawReadProgress() {
    ImGui::TextUnformatted("Reading light and motion\xE2\x80\xA6");
    char percent[16];
    std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(PictureReadProgress() * 100.0f + 0.5f));
    ImGui::ProgressBar(PictureReadProgress(), ImVec2(-1, 0), percent);
    if (NamedButton("Cancel", "cancel-read")) CancelPictureRead();
}

void DrawReadOutcome(const Project& project) {
    if (project.optical.events.empty()) {
        ImGui::TextUnformatted("No clear events found.");
        ImGui::TextDisabled("The picture may be too still.");
        if (NamedButton("  Read Another One", "read-another")) StartPictureRead();
    } else {
        const int kept = KeptTraceEventCount();
        ImGui::Text("%d events found, %d on the kept side not imported yet", static_cast<int>(project.optical.events.size()), kept);
        char label[48];
        std::snprintf(label, sizeof label, "   Import  %d  Events", kept);
        ImGui::BeginDisabled(kept == 0);
        if (NamedButton(label, "import-trace-events")) {
            const int added = ImportKeptTraceEvents();
            SetStatus("Picture: Import " + std::to_string(added), 3.0f);
        }
        ImGui::EndDisabled();
        if (NamedButton("  Read the Picture Again", "read-picture")) StartPictureRead();
    }
    if (NamedButton("Clear the picture read", "clear-read")) ClearPictureRead();
}

void DrawReadSettings() {
    TraceParams& params = TraceSettings();
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextUnformatted("Reading");
    // The sliders leave room for their longest label on the panel's right.
    ImGui::PushItemWidth(-(ImGui::CalcTextSize("Minimum event gap").x + ImGui::GetStyle().ItemInnerSpacing.x));
    ImGui::SliderFloat("Sensitivity", &params.sensitivity, 0.0f, 1.0f, "%.2f");
    RegisterLastItem("sensitivity");
    ImGui::SliderFloat("Minimum event gap", &params.minEventGap, 0.05f, 2.0f, "%.2f s");
    RegisterLastItem("min-event-gap");
    ImGui::SliderFloat("Adaptive window", &params.adaptiveWindowSec, 0.5f, 10.0f, "%.1f s");
    RegisterLastItem("adaptive-window");
    ImGui::PopItemWidth();
}

void DrawMarkerSets() {
    ImGui::Spacing();
    ImGui::Separator();
    ImGui::TextUnformatted("Markers");
    if (NamedButton("Import Pro Tools session text markers", "import-markers")) ImportMarkersCommand();
    const int imported = ImportedMarkerEventCount();
    if (imported == 0) return;
    ImGui::Text("%d marker events on the timeline", imported);
    const bool shown = MarkerEventsShown();
    if (NamedButton(shown ? "Hide marker events" : "Show marker events", "show-markers")) ShowMarkerEvents(!shown);
    if (NamedButton("Clear imported markers", "clear-markers")) ClearImportedMarkers();
}

}  // namespace

void DrawTraceTab() {
    const Project& project = CurrentProject();
    ImGui::TextWrapped("Trace measures light and motion in the picture and proposes events, to mark where sound might go.");
    ImGui::Spacing();
    if (PictureReadRunning()) {
        DrawReadProgress();
    } else if (project.videoPath.empty()) {
        ImGui::TextDisabled("Load a video to read light and motion");
    } else if (project.optical.present) {
        DrawReadOutcome(project);
    } else if (NamedButton("  Read the Picture", "read-picture")) {
        StartPictureRead();
    }
    DrawReadSettings();
    DrawMarkerSets();
}

}  // namespace morvane
