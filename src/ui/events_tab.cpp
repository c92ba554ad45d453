// The Events tab: the inspector of the selected event (the first one when several are
// selected), or the project's description when none is. The controls work on a copy of
// the event; the edit hands the changed copy to the core (edit/event_edit.h), which
// records one undo step per gesture.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "app/export_session.h"
#include "app/fonts.h"
#include "edit/event_edit.h"
#include "edit/selection.h"
#include "model/event_label.h"
#include "model/timeline.h"
#include "ui/layer_list.h"
#include "ui/panels.h"

namespace morvane {

namespace {

void DrawProjectDescription(Project& project) {
    ImGui::TextUnformatted("Description");
    // The field shows the project's text except while the user edits it, so a project
    // opened meanwhile shows its own description.
    static char description[256];
    static bool editing = false;
    if (!editing) std::snprintf(description, sizeof description, "%s", project.projectDescription.c_str());
    const bool changed = ImGui::InputTextMultiline("##description", description, sizeof description, ImVec2(-1, 80));
    editing = ImGui::IsItemActive();
    if (changed) SetProjectDescription(project, description);
    RegisterLastItem("description");
}

// A 256-point curve, drawn, and painted with the pointer while painting is allowed.
// Returns true when a point changed.
bool CurveEditor(const char* id, Curve& curve, ImU32 colour, bool paintable) {
    const float width = ImGui::GetContentRegionAvail().x;
    const float height = 72.0f;
    const ImVec2 a = ImGui::GetCursorScreenPos(), b(a.x + width, a.y + height);
    ImGui::InvisibleButton(id, ImVec2(width, height));
    RegisterLastItem(id);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(a, b, IM_COL32(16, 18, 22, 255), 3.0f);
    draw->AddLine(ImVec2(a.x, (a.y + b.y) * 0.5f), ImVec2(b.x, (a.y + b.y) * 0.5f), IM_COL32(255, 255, 255, 24));
    ImVec2 points[kCurvePoints];
    for (int i = 0; i < kCurvePoints; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(kCurvePoints - 1);
        points[i] = ImVec2(a.x + t * width, b.y - 2 - (height - 4) * std::clamp(curve[static_cast<size_t>(i)], 0.0f, 1.0f));
    }
    draw->AddPolyline(points, kCurvePoints, colour, 0, 1.5f);
    draw->AddRect(a, b, IM_COL32(60, 66, 76, 255), 3.0f);
    static ImVec2 last;
    static bool painting = false;
    if (!paintable || !ImGui::IsItemActive()) {
        if (ImGui::IsItemDeactivated()) painting = false;
        return false;
    }
    const ImVec2 m = ImGui::GetIO().MousePos;
    if (ImGui::IsItemActivated() || !painting) last = m;
    painting = true;
    // Fill every point between the last pointer position and this one, so a fast
    // stroke leaves no gaps.
    auto indexAt = [&](float x) {
        return std::clamp(static_cast<int>(std::lround((x - a.x) / width * (kCurvePoints - 1))), 0, kCurvePoints - 1);
    };
    auto valueAt = [&](float y) { return std::clamp((b.y - 2 - y) / (height - 4), 0.0f, 1.0f); };
    int i0 = indexAt(last.x), i1 = indexAt(m.x);
    float v0 = valueAt(last.y), v1 = valueAt(m.y);
    if (i0 > i1) {
        std::swap(i0, i1);
        std::swap(v0, v1);
    }
    bool changed = false;
    for (int i = i0; i <= i1; ++i) {
        const float t = i1 == i0 ? 1.0f : static_cast<float>(i - i0) / static_cast<float>(i1 - i0);
        const float v = v0 + (v1 - v0) * t;
        changed = changed || curve[static_cast<size_t>(i)] != v;
        curve[static_cast<size_t>(i)] = v;
    }
    last = m;
    return changed;
}

void DrawInspector(Project& project, int index) {
    Event e = project.timeline.events[static_cast<size_t>(index)];
    const EditorState& editor = Editor();
    const int selected = SelectedCount(CurrentEdit());

    ImGui::PushFont(UiFont(3, FontFamily::Medium));
    ImGui::TextUnformatted(EventLabel(e, project.timeline.userShapes));
    ImGui::PopFont();
    ImGui::TextDisabled("%s  \xC2\xB7  event %d of %d%s", EventShapeName(e.shape), index + 1,
                        static_cast<int>(project.timeline.events.size()),
                        selected > 1 ? ("  \xC2\xB7  " + std::to_string(selected) + " selected").c_str() : "");
    ImGui::Spacing();

    const float labelW = ImGui::CalcTextSize("Intensity scale").x + 12.0f;
    ImGui::PushItemWidth(-labelW);

    static char keywords[kKeywordsMaxBytes + 1];
    static bool editingKeywords = false;
    if (!editingKeywords) std::snprintf(keywords, sizeof keywords, "%s", e.keywords.c_str());
    if (ImGui::InputText("Keywords", keywords, sizeof keywords)) e.keywords = CutText(keywords, kKeywordsMaxBytes);
    editingKeywords = ImGui::IsItemActive();
    RegisterLastItem("keywords");

    int shape = static_cast<int>(e.shape);
    if (ImGui::Combo("Shape", &shape, kEventShapeNames, kEventShapeCount)) e.shape = EventShapeFromInt(shape);

    const bool timingFixed = IsEventLocked(e) || e.sceneLink >= 0;
    ImGui::BeginDisabled(timingFixed);
    if (ImGui::DragFloat("Start", &e.time, 0.01f, 0.0f, 86400.0f, "%.3f s", ImGuiSliderFlags_AlwaysClamp)) e.time = std::max(0.0f, e.time);
    const float longest = std::max(kMinEventDuration, project.timeline.settings.maxEventDuration);
    ImGui::DragFloat("Duration", &e.duration, 0.01f, kMinEventDuration, longest, "%.3f s", ImGuiSliderFlags_AlwaysClamp);
    ImGui::EndDisabled();
    if (timingFixed && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip(e.sceneLink >= 0 ? "Follows its scene: unlink it to move it" : "Locked");

    ImGui::SliderFloat("Spread", &e.spread, 0.0f, 1.0f, "%.2f");
    ImGui::SliderFloat("Weight centre", &e.weightCenter, 0.0f, 1.0f, "%.2f");
    ImGui::SliderFloat("Intensity scale", &e.intensityScale, 0.0f, 2.0f, "%.2f");
    float gainDb = e.gain > 0.0f ? 20.0f * std::log10(e.gain) : -60.0f;
    if (ImGui::SliderFloat("Gain", &gainDb, -60.0f, 0.0f, "%.1f dB")) e.gain = gainDb <= -60.0f ? 0.0f : std::pow(10.0f, gainDb / 20.0f);
    ImGui::SliderFloat("Pitch variation", &e.pitchVariation, 0.0f, 1.0f, "%.2f");

    // The scene link: a linked event takes the scene's timing.
    const auto& scenes = project.timeline.scenes;
    const std::string current = e.sceneLink >= 0 && static_cast<size_t>(e.sceneLink) < scenes.size()
                                    ? scenes[static_cast<size_t>(e.sceneLink)].name
                                    : std::string("None");
    if (ImGui::BeginCombo("Scene", current.c_str())) {
        if (ImGui::Selectable("None", e.sceneLink < 0)) LinkEventToScene(e, scenes, -1);
        for (size_t s = 0; s < scenes.size(); ++s) {
            ImGui::PushID(static_cast<int>(s));
            if (ImGui::Selectable(scenes[s].name.empty() ? "(unnamed)" : scenes[s].name.c_str(), e.sceneLink == static_cast<int>(s)))
                LinkEventToScene(e, scenes, static_cast<int>(s));
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    ImGui::PopItemWidth();

    ImGui::Checkbox("Hero", &e.hero);
    ImGui::SameLine();
    ImGui::Checkbox("Stereo", &e.stereo);
    ImGui::SameLine();
    ImGui::Checkbox("Alloy", &e.alloy);
    // Clip and Bed events play the files they were given: nothing to protect or unlock.
    const bool alwaysLocked = e.shape == EventShape::Clip || e.shape == EventShape::Bed;
    ImGui::BeginDisabled(alwaysLocked);
    bool locked = e.locked || alwaysLocked;
    if (ImGui::Checkbox("Locked", &locked) && !alwaysLocked) e.locked = locked;
    ImGui::EndDisabled();
    RegisterLastItem("event-locked");
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip("%s", e.shape == EventShape::Bed    ? "Bed events are always locked"
                                : e.shape == EventShape::Clip ? "Clip events are always locked"
                                                              : "Click to lock (protect from rebuilding)");
    ImGui::SameLine();
    ImGui::Checkbox("Muted", &e.muted);
    if (e.alloy) {
        ImGui::PushItemWidth(-labelW);
        ImGui::SliderFloat("Alloy morph", &e.alloyMorph, 0.0f, 1.0f, "%.2f");
        ImGui::PopItemWidth();
    }

    ImGui::Spacing();
    const bool spot = e.shape == EventShape::Spot;
    const bool paint = editor.drawMode && !spot;
    ImGui::TextUnformatted("Weight");
    CurveEditor("curve:weight", e.weight, IM_COL32(236, 190, 90, 255), paint);
    ImGui::TextUnformatted("Intensity");
    CurveEditor("curve:intensity", e.intensity, IM_COL32(110, 180, 250, 255), paint);
    if (spot) ImGui::TextDisabled("Draw mode is not available for Spot.");
    else if (!editor.drawMode) ImGui::TextDisabled("Turn on Draw to paint the curves.");
    if (ImGui::Button("Reset curves")) e.weight = e.intensity = kNeutralCurve;

    // One undo step per gesture: it ends when no control is held any more. The
    // event's sound follows once the gesture ends, so a drag is built once, with the
    // value it was let go at.
    static EventEditGesture gesture;
    static bool soundChanged = false;
    if (ApplyEventEdit(CurrentEdit(), index, e, gesture).changed) soundChanged = true;
    if (!ImGui::IsAnyItemActive()) {
        EndEventEditGesture(gesture);
        const Event& stored = project.timeline.events[static_cast<size_t>(index)];
        if (soundChanged && !stored.locked && project.timeline.built) RequestEventRebuild({index});
        soundChanged = false;
    }

    DrawEventLayers(project, index);
}

// Bounce the selection to one clip, or a bounced clip back to its events. After the
// inspector, whose edit of this frame is then already made.
void DrawBounceButtons() {
    ImGui::Spacing();
    ImGui::Separator();
    if (ImGui::Button("Bounce Selection to Clip")) BounceSelectionCommand();
    RegisterLastItem("events:bounce");
    if (RevertibleSelection() < 0) return;
    ImGui::SameLine();
    if (ImGui::Button("Revert to Source")) RevertSelectionCommand();
    RegisterLastItem("events:revert");
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Replace this bounced clip with the original events it was made from");
}

}  // namespace

void DrawEventsTab() {
    Project& project = CurrentProject();
    const int index = PrimarySelection(CurrentEdit());
    if (index < 0 || static_cast<size_t>(index) >= project.timeline.events.size()) {
        ImGui::Text("%d events", static_cast<int>(project.timeline.events.size()));
        ImGui::TextDisabled("Select an event on the timeline to edit it.");
        ImGui::Spacing();
        DrawProjectDescription(project);
        return;
    }
    DrawInspector(project, index);
    DrawBounceButtons();
}

}  // namespace morvane
