// The modal cards: "Unsaved" before the open project is replaced or the program quits,
// the about box, and the progress of a job the user waits for (Escape cancels it).
#include <imgui.h>

#include <cmath>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/blocking_job.h"
#include "app/fonts.h"
#include "app/frame_tasks.h"
#include "model/update_check.h"
#include "ui/panels.h"

namespace morvane {

void DrawUnsavedCard() {
    AppState& app = App();
    if (app.unsavedCardOpen && !ImGui::IsPopupOpen("Unsaved")) ImGui::OpenPopup("Unsaved");
    bool keepOpen = true;
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (ImGui::BeginPopupModal("Unsaved", &keepOpen, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted("The project has unsaved changes.");
        ImGui::TextDisabled(app.pendingAction == PendingAction::Quit ? "Save them before quitting?"
                                                                      : "Save them before the project is replaced?");
        ImGui::Spacing();
        const float w = ImGui::CalcTextSize("Discard").x + ImGui::GetStyle().FramePadding.x * 2 + 40.0f;
        const bool save = ImGui::Button("Save", ImVec2(w, 0));
        RegisterLastItem("Save");
        ImGui::SameLine();
        const bool discard = ImGui::Button("Discard", ImVec2(w, 0));
        RegisterLastItem("Discard");
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
            keepOpen = false;
            ImGui::CloseCurrentPopup();
        }
        if (save || discard) {
            ImGui::CloseCurrentPopup();
            ResolveUnsaved(save);
        }
        ImGui::EndPopup();
    }
    if (!keepOpen && app.unsavedCardOpen) CancelUnsaved();
}

void DrawAboutCard() {
    AppState& app = App();
    if (app.aboutCardOpen && !ImGui::IsPopupOpen("About Morvane")) ImGui::OpenPopup("About Morvane");
    bool keepOpen = true;
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (ImGui::BeginPopupModal("About Morvane", &keepOpen, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::PushFont(UiFont(3, FontFamily::Medium));
        ImGui::TextUnformatted("Morvane");
        ImGui::PopFont();
        ImGui::Text("Version %s", RunningVersion());
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
            keepOpen = false;
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    if (!keepOpen) app.aboutCardOpen = false;
}

void DrawProgressOverlay() {
    // Either a job of the shell's own (reading a file the next step needs) or a
    // render of the timeline; they never run at once.
    const bool render = AudioJobBlocking();
    const bool running = render || BlockingJobRunning();
    if (!running && !ImGui::IsPopupOpen("##progress")) return;
    if (running && !ImGui::IsPopupOpen("##progress")) ImGui::OpenPopup("##progress");
    ImGui::SetNextWindowPos(ImGui::GetMainViewport()->GetCenter(), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(380, 0));
    if (ImGui::BeginPopupModal("##progress", nullptr,
                               ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove)) {
        if (!running) {
            ImGui::CloseCurrentPopup();
            ImGui::EndPopup();
            return;
        }
        ImGui::PushFont(UiFont(1, FontFamily::Medium));
        ImGui::TextUnformatted(render ? AudioJobStatus().c_str() : BlockingJobTitle().c_str());
        ImGui::PopFont();
        const float fraction = render ? AudioJobProgress() : BlockingJobProgress();
        if (fraction < 0.0f) {
            // Not said yet: a bar that moves, so the program is seen to be working.
            const float t = static_cast<float>(ImGui::GetTime());
            ImGui::ProgressBar(0.5f + 0.5f * std::sin(t * 3.0f), ImVec2(-1, 0), "");
        } else {
            ImGui::ProgressBar(fraction, ImVec2(-1, 0));
        }
        const bool cancelling = render ? AudioJobCancelling() : BlockingJobCancelling();
        ImGui::TextDisabled(cancelling ? "Cancelling\xE2\x80\xA6" : "Press Escape to cancel");
        if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
            if (render) CancelAudioJob();
            else CancelBlockingJob();
        }
        ImGui::EndPopup();
    }
}

}  // namespace morvane
