#include "ui/layer_list.h"

#include <imgui.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "edit/layer_edit.h"
#include "engine/event_build.h"
#include "engine/selection.h"
#include "model/timeline.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

namespace {

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Report(const EditResult& result) {
    if (!result.message.empty()) SetStatus(result.message, result.messageSeconds);
}

// Names a layer's control for scripted input: "layer:K:WHAT", K counting the event's
// layers from 0.
void NameItem(int ordinal, const char* what) {
    const std::string name = "layer:" + std::to_string(ordinal) + ":" + what;
    RegisterLastItem(name.c_str());
}

// " %d pinned": hovering names the pinned files, a click unpins them all.
void DrawPinnedButton(const Event& event, int eventIndex) {
    if (event.pinnedFiles.empty() || event.shape == EventShape::Clip || event.shape == EventShape::Bed) return;
    const std::string label = " " + std::to_string(event.pinnedFiles.size()) + " pinned";
    ImGui::SameLine();
    if (ImGui::SmallButton(label.c_str())) Report(UnpinAll(CurrentEdit(), eventIndex));
    RegisterLastItem("event-pinned");
    if (ImGui::IsItemHovered()) {
        std::string names = "Pinned files \xE2\x80\x94 click to unpin all:\n";
        for (const std::string& path : event.pinnedFiles) names += FileName(path) + "\n";
        ImGui::SetTooltip("%s", names.c_str());
    }
}

void DrawWaveform(const LayerAudioView& audio) {
    const float width = ImGui::GetContentRegionAvail().x, height = 26.0f;
    const ImVec2 a = ImGui::GetCursorScreenPos(), b(a.x + width, a.y + height);
    ImGui::Dummy(ImVec2(width, height));
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(a, b, IM_COL32(16, 18, 22, 255), 2.0f);
    const float mid = (a.y + b.y) * 0.5f;
    if (!audio.rendered || audio.envelope.empty()) {
        draw->AddLine(ImVec2(a.x, mid), ImVec2(b.x, mid), IM_COL32(255, 255, 255, 40));
        return;
    }
    const float peak = std::max(0.001f, *std::max_element(audio.envelope.begin(), audio.envelope.end()));
    const int columns = std::max(1, static_cast<int>(width));
    const size_t n = audio.envelope.size();
    for (int x = 0; x < columns; ++x) {
        const size_t from = n * static_cast<size_t>(x) / static_cast<size_t>(columns);
        const size_t to = std::max(from + 1, n * static_cast<size_t>(x + 1) / static_cast<size_t>(columns));
        float v = 0.0f;
        for (size_t i = from; i < std::min(to, n); ++i) v = std::max(v, audio.envelope[i]);
        const float h = std::clamp(v / peak, 0.0f, 1.0f) * (height * 0.5f - 1.0f);
        draw->AddLine(ImVec2(a.x + x, mid - h), ImVec2(a.x + x, mid + h + 1.0f), IM_COL32(110, 180, 250, 220));
    }
}

void DrawLayer(Project& project, const Event& event, int layerIndex, int ordinal, const LayerAudioView& audio) {
    const Layer& layer = project.timeline.results[static_cast<size_t>(layerIndex)];
    const bool missing = layer.name == kMissingName || audio.missingFile;
    const bool noMatch = layer.filepath.empty() && !IsPlaceholderLayer(layer);
    const bool pinned = LayerIsPinned(event, layer);
    const bool fixed = event.shape == EventShape::Clip || event.shape == EventShape::Bed;
    ImGui::PushID(layerIndex);

    // Back and forward through the layer's sounds.
    ImGui::BeginDisabled(!HistoryCanGoBack(layer));
    if (ImGui::ArrowButton("prev", ImGuiDir_Left)) {
        const EditResult r = StepLayerHistory(CurrentEdit(), layerIndex, false);
        if (r.changed) RequestEventRender(layer.eventIdx);
    }
    ImGui::EndDisabled();
    NameItem(ordinal, "prev");
    Tooltip(HistoryBackTooltip(layer));
    ImGui::SameLine(0, 2);
    const bool stepForward = HistoryCanGoForward(layer);
    ImGui::BeginDisabled(!stepForward && !CanChooseNextSound(project, layerIndex));
    if (ImGui::ArrowButton("next", ImGuiDir_Right)) {
        if (stepForward) {
            if (StepLayerHistory(CurrentEdit(), layerIndex, true).changed) RequestEventRender(layer.eventIdx);
        } else {
            RequestNextSound(layerIndex);
        }
    }
    ImGui::EndDisabled();
    NameItem(ordinal, "next");
    Tooltip(HistoryForwardTooltip(layer));

    // Like, ban and solo beside the arrows, the sound's name after them.
    ImGui::SameLine();
    ImGui::BeginDisabled(fixed || layer.filepath.empty());
    if (ImGui::SmallButton(pinned ? "Unpin" : "Like")) Report(ToggleLayerPin(CurrentEdit(), layerIndex));
    NameItem(ordinal, "like");
    Tooltip(pinned ? "Unpin this sound" : "Like \xE2\x80\x94 always use this sound");
    ImGui::SameLine(0, 4);
    if (ImGui::SmallButton("Ban")) {
        std::vector<int> affected;
        const EditResult r = BanLayerFile(CurrentEdit(), layerIndex, &affected);
        Report(r);
        if (r.changed) RequestEventRebuild(affected);
    }
    NameItem(ordinal, "ban");
    const std::string ban = "Dislike \xE2\x80\x94 ban '" + layer.name + "' from project";
    Tooltip(ban.c_str());
    ImGui::EndDisabled();
    ImGui::SameLine(0, 4);
    const bool soloed = SoloedLayer() == layerIndex;
    if (soloed) ImGui::PushStyleColor(ImGuiCol_Button, IM_COL32(200, 150, 40, 255));
    if (ImGui::SmallButton("Solo")) SoloLayer(soloed ? -1 : layerIndex);
    if (soloed) ImGui::PopStyleColor();
    NameItem(ordinal, "solo");
    Tooltip(soloed ? "Hear every layer again" : "Hear this layer alone");

    ImGui::SameLine();
    const std::string name = noMatch ? kNoMatchName : missing ? kMissingName : layer.name;
    if (missing) ImGui::TextColored(ImVec4(0.95f, 0.55f, 0.4f, 1.0f), "%s", name.c_str());
    else if (noMatch) ImGui::TextDisabled("%s", name.c_str());
    else ImGui::TextUnformatted(name.c_str());
    if (missing) Tooltip("Missing \xE2\x80\x94 relink from the Library tab");
    else if (!layer.filepath.empty()) Tooltip(layer.filepath.c_str());

    if (!layer.filepath.empty()) ImGui::TextDisabled("%s", FileName(layer.filepath).c_str());
    if (NextSoundPending(layerIndex)) ImGui::TextDisabled("Loading next sound\xE2\x80\xA6");
    DrawWaveform(audio);
    ImGui::PopID();
}

}  // namespace

void DrawEventLayers(Project& project, int eventIndex) {
    const Event& event = project.timeline.events[static_cast<size_t>(eventIndex)];
    std::vector<int> layers;
    for (size_t i = 0; i < project.timeline.results.size(); ++i)
        if (project.timeline.results[i].eventIdx == eventIndex) layers.push_back(static_cast<int>(i));
    ImGui::Spacing();
    ImGui::Text("Layers (%d)", static_cast<int>(layers.size()));
    DrawPinnedButton(event, eventIndex);
    ImGui::Separator();
    if (layers.empty()) {
        ImGui::TextDisabled("Not built yet: Composition > Render builds the timeline.");
        return;
    }
    static std::vector<LayerAudioView> audio;  // interface thread only; buffers kept between frames
    LayersAudio(layers, audio);
    for (size_t k = 0; k < layers.size(); ++k) {
        // Drawing a row may edit the results (a step back in a layer's history) but
        // never adds or removes layers, so the indices stay good for the frame.
        if (static_cast<size_t>(layers[k]) >= project.timeline.results.size()) break;
        DrawLayer(project, event, layers[k], static_cast<int>(k), audio[k]);
        ImGui::Spacing();
    }
}

}  // namespace morvane
