// The inspector of the selected event. Each control edits a copy of the event; the frame
// ends by handing the copy to the core, which records one undo step per gesture, and by
// building an unlocked event again once its controls let go, so the change is heard.
#include "ui/event_inspector.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "app/fonts.h"
#include "app/library_session.h"
#include "edit/event_edit.h"
#include "edit/selection.h"
#include "model/event_label.h"
#include "model/timeline.h"
#include "ui/layer_list.h"
#include "ui/panels.h"
#include "ui/widgets.h"

namespace morvane {

void LabelAbove(const char* text) {
    ImGui::TextUnformatted(text);
    ImGui::SetNextItemWidth(-FLT_MIN);
}

namespace {

const char* const kIntensityModeNames[kIntensityModeCount] = {"From the files", "Shaped", "Shaped, no floor"};

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

// A setting that may be left to its default, stored as a negative value: the box beside
// it sets it (at `initial`) or gives it back to the default, shown as `unsetText`.
void OptionalFloat(const char* label, float& value, float initial, float lo, float hi, const char* format,
                   const char* unsetText) {
    ImGui::PushID(label);
    bool set = value >= 0.0f;
    if (ImGui::Checkbox("##set", &set)) value = set ? initial : -1.0f;
    if (ImGui::IsItemHovered()) ImGui::SetTooltip(set ? "Back to the default" : "Set it for this event");
    ImGui::SameLine(0.0f, ImGui::GetStyle().ItemInnerSpacing.x);
    ImGui::BeginDisabled(!set);
    float shown = set ? value : initial;
    if (ImGui::SliderFloat(label, &shown, lo, hi, set ? format : unsetText, ImGuiSliderFlags_AlwaysClamp) && set)
        value = shown;
    ImGui::EndDisabled();
    ImGui::PopID();
}

// The names a library filter may take: every library and palette, palettes marked.
struct FilterChoice {
    std::string name;
    bool palette = false;
};

std::vector<FilterChoice> FilterChoices() {
    std::vector<FilterChoice> choices;
    LibrarySet& set = Libraries();
    std::lock_guard<std::mutex> lock(set.mutex);
    for (const Library& library : set.libraries) choices.push_back({library.name, library.folder.empty()});
    return choices;
}

void DrawLibraryFilter(Event& e) {
    const char* shown = e.libFilter.empty() ? "Any library" : e.libFilter.c_str();
    if (ImGui::BeginCombo("Library", shown)) {
        if (ImGui::Selectable("Any library", e.libFilter.empty())) e.libFilter.clear();
        for (const FilterChoice& choice : FilterChoices()) {
            const std::string text = choice.palette ? choice.name + "  (palette)" : choice.name;
            if (ImGui::Selectable(text.c_str(), e.libFilter == choice.name)) e.libFilter = CutText(choice.name, kLibFilterMaxBytes);
        }
        ImGui::EndCombo();
    }
    RegisterLastItem("inspector:library");
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Choose this event's sounds only from this library or palette");
}

void DrawMixGroup(const Project& project, Event& e) {
    const auto& groups = project.timeline.trackLayout.groups;
    auto groupName = [&](int g) {
        const std::string& name = groups[static_cast<size_t>(g)].name;
        return name.empty() ? "Group " + std::to_string(g + 1) : name;
    };
    const std::string shown = e.groupOverride >= 0 && e.groupOverride < kGroupCount ? groupName(e.groupOverride) : "By shape";
    if (ImGui::BeginCombo("Mix group", shown.c_str())) {
        if (ImGui::Selectable("By shape", e.groupOverride < 0)) e.groupOverride = -1;
        for (int g = 0; g < kGroupCount; ++g) {
            ImGui::PushID(g);
            if (ImGui::Selectable(groupName(g).c_str(), e.groupOverride == g)) e.groupOverride = g;
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
}

// Keywords, shape, library and timing.
void DrawWhatAndWhen(const Project& project, Event& e) {
    static char keywords[kKeywordsMaxBytes + 1];
    static bool editingKeywords = false;
    if (!editingKeywords) std::snprintf(keywords, sizeof keywords, "%s", e.keywords.c_str());
    if (ImGui::InputText("Keywords", keywords, sizeof keywords)) e.keywords = CutText(keywords, kKeywordsMaxBytes);
    editingKeywords = ImGui::IsItemActive();
    RegisterLastItem("keywords");

    int shape = static_cast<int>(e.shape);
    if (ImGui::Combo("Shape", &shape, kEventShapeNames, kEventShapeCount)) e.shape = EventShapeFromInt(shape);
    if (e.shape != EventShape::Clip && e.shape != EventShape::Bed) DrawLibraryFilter(e);

    const bool timingFixed = IsEventLocked(e) || e.sceneLink >= 0;
    ImGui::BeginDisabled(timingFixed);
    if (ImGui::DragFloat("Start", &e.time, 0.01f, 0.0f, 86400.0f, "%.3f s", ImGuiSliderFlags_AlwaysClamp)) e.time = std::max(0.0f, e.time);
    const float longest = std::max(kMinEventDuration, project.timeline.settings.maxEventDuration);
    ImGui::DragFloat("Duration", &e.duration, 0.01f, kMinEventDuration, longest, "%.3f s", ImGuiSliderFlags_AlwaysClamp);
    ImGui::EndDisabled();
    if (timingFixed && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
        ImGui::SetTooltip(e.sceneLink >= 0 ? "Follows its scene: unlink it to move it" : "Locked");

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
    if (e.sceneLink >= 0) {
        LabelAbove("Crossfade at scene boundaries (frames)");
        ImGui::SliderInt("##crossfade", &e.sceneCrossfade, 0, kMaxSceneCrossfadeFrames, "%d", ImGuiSliderFlags_AlwaysClamp);
        RegisterLastItem("inspector:crossfade");
    }
}

// How the event's weight and intensity shape its layers, its level and its place in
// the mix.
void DrawShapeAndLevel(const Project& project, Event& e) {
    ImGui::SliderFloat("Spread", &e.spread, 0.0f, 1.0f, "%.2f");
    ImGui::SliderFloat("Weight centre", &e.weightCenter, 0.0f, 1.0f, "%.2f");
    ImGui::SliderFloat("Weight offset", &e.weightOffset, -1.0f, 1.0f, "%.2f");
    RegisterLastItem("inspector:weightOffset");
    ImGui::SliderFloat("Sync offset", &e.syncOffset, -1.0f, 1.0f, "%.3f s");
    RegisterLastItem("inspector:syncOffset");
    ImGui::SliderFloat("Intensity scale", &e.intensityScale, 0.0f, 2.0f, "%.2f");
    int mode = static_cast<int>(e.intensityMode);
    if (ImGui::Combo("Intensity mode", &mode, kIntensityModeNames, kIntensityModeCount))
        e.intensityMode = static_cast<IntensityMode>(std::clamp(mode, 0, kIntensityModeCount - 1));
    float gainDb = e.gain > 0.0f ? 20.0f * std::log10(e.gain) : -60.0f;
    if (ImGui::SliderFloat("Gain", &gainDb, -60.0f, 0.0f, "%.1f dB")) e.gain = gainDb <= -60.0f ? 0.0f : std::pow(10.0f, gainDb / 20.0f);
    if (e.shape != EventShape::Clip && e.shape != EventShape::Bed)
        ImGui::SliderInt("Fill layers", &e.fillLayers, 0, kMaxFillLayers, "%d", ImGuiSliderFlags_AlwaysClamp);
    DrawMixGroup(project, e);
    OptionalFloat("Reverb send", e.reverbSend, 0.25f, 0.0f, 1.0f, "%.2f", "group's send");
}

// The Pitch-tune toggle is a click, not a gesture: it is taken over at once and the
// event's layers are rendered again with the same sounds.
bool DrawPitch(Event& e, bool retuning) {
    LabelAbove("Pitch variation (\xC2\xB1 semitones, 0=off)");
    ImGui::SliderFloat("##pitchVariation", &e.pitchVariation, 0.0f, 1.0f, "%.2f", ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem("inspector:pitchVariation");
    char text[96];
    std::snprintf(text, sizeof text, "Pitch-tune to scale: %s \xE2\x80\x94 click to toggle", ScaleTuneName(e));
    const bool toggled = ImGui::Button(text);
    RegisterLastItem("inspector:scaleTune");
    if (toggled) ToggleScaleTune(e);
    if (retuning) {
        ImGui::SameLine();
        ImGui::TextDisabled("Retuning\xE2\x80\xA6");
    }
    return toggled;
}

// A Clip's stretch of its file, its fades and its gain.
void DrawClip(Event& e) {
    ImGui::DragFloat("Source offset", &e.clipSourceOffset, 0.01f, 0.0f, 86400.0f, "%.3f s", ImGuiSliderFlags_AlwaysClamp);
    RegisterLastItem("inspector:clipSourceOffset");
    ImGui::DragFloat("Source length", &e.clipSourceDuration, 0.01f, 0.0f, 86400.0f,
                     e.clipSourceDuration > 0.0f ? "%.3f s" : "whole file", ImGuiSliderFlags_AlwaysClamp);
    OptionalFloat("Fade in", e.clipFadeIn, 0.01f, 0.0f, 5.0f, "%.3f s", "default");
    OptionalFloat("Fade out", e.clipFadeOut, 0.05f, 0.0f, 5.0f, "%.3f s", "default");
    OptionalFloat("Clip gain", e.clipWeight, 1.0f, 0.0f, 1.0f, "%.2f", "default");
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A Bed's files, each with its loop flag and weight; files dragged from the Library
// tab join it.
void DrawBedFiles(Event& e) {
    ImGui::TextUnformatted("Bed files");
    int removed = -1;
    for (size_t k = 0; k < e.pinnedFiles.size(); ++k) {
        ImGui::PushID(static_cast<int>(k));
        // The file's name on its own line, its loop, weight and removal below it.
        ImGui::TextUnformatted(FileName(e.pinnedFiles[k]).c_str());
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", e.pinnedFiles[k].c_str());
        bool loop = k < e.bedLayerLoop.size() && e.bedLayerLoop[k] != 0;
        if (ImGui::Checkbox("Loop", &loop)) {
            MatchBedLists(e);
            e.bedLayerLoop[k] = loop ? 1 : 0;
        }
        RegisterLastItem(("bed:" + std::to_string(k) + ":loop").c_str());
        ImGui::SameLine();
        const ImGuiStyle& style = ImGui::GetStyle();
        const float removeW = ImGui::CalcTextSize("Remove").x + style.FramePadding.x * 2.0f;
        ImGui::PushItemWidth(-(removeW + style.ItemSpacing.x));
        float weight = k < e.bedLayerWeight.size() ? e.bedLayerWeight[k] : -1.0f;
        OptionalFloat("##weight", weight, 1.0f, 0.0f, 1.0f, "weight %.2f", "weight auto");
        ImGui::PopItemWidth();
        if (weight != (k < e.bedLayerWeight.size() ? e.bedLayerWeight[k] : -1.0f)) {
            MatchBedLists(e);
            e.bedLayerWeight[k] = weight;
        }
        ImGui::SameLine();
        if (ImGui::Button("Remove")) removed = static_cast<int>(k);
        RegisterLastItem(("bed:" + std::to_string(k) + ":remove").c_str());
        ImGui::PopID();
    }
    if (removed >= 0) RemoveBedFile(e, static_cast<size_t>(removed));
    ImGui::Button("Drop sounds from the Library tab here", ImVec2(-FLT_MIN, 0.0f));
    RegisterLastItem("bed:drop");
    if (ImGui::BeginDragDropTarget()) {
        if (const ImGuiPayload* payload = ImGui::AcceptDragDropPayload(kLibraryFilePayload))
            AddBedFile(e, std::string(static_cast<const char*>(payload->Data)), {});
        ImGui::EndDragDropTarget();
    }
}

void DrawFlags(Event& e, float labelW) {
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
}

void DrawCurves(Event& e) {
    const bool spot = e.shape == EventShape::Spot;
    const bool paint = Editor().drawMode && !spot;
    ImGui::TextUnformatted("Weight");
    CurveEditor("curve:weight", e.weight, IM_COL32(236, 190, 90, 255), paint);
    ImGui::TextUnformatted("Intensity");
    CurveEditor("curve:intensity", e.intensity, IM_COL32(110, 180, 250, 255), paint);
    if (spot) ImGui::TextDisabled("Draw mode is not available for Spot.");
    else if (!Editor().drawMode) ImGui::TextDisabled("Turn on Draw to paint the curves.");
    if (ImGui::Button("Reset curves")) e.weight = e.intensity = kNeutralCurve;
}

// "Retuning…" stays up from the toggle until the render it asked for is done.
struct Retuning {
    int event = -1;
    bool started = false;
};

bool StillRetuning(Retuning& r, int index) {
    if (r.event != index) return false;
    if (!AudioJobStatus().empty()) r.started = true;
    if (r.started && AudioSettled()) r.event = -1;
    return r.event == index;
}

}  // namespace

void DrawEventInspector(Project& project, int index) {
    Event e = project.timeline.events[static_cast<size_t>(index)];
    const int selected = SelectedCount(CurrentEdit());

    ImGui::PushFont(UiFont(3, FontFamily::Medium));
    ImGui::TextUnformatted(EventLabel(e, project.timeline.userShapes));
    ImGui::PopFont();
    ImGui::TextDisabled("%s  \xC2\xB7  event %d of %d%s", EventShapeName(e.shape), index + 1,
                        static_cast<int>(project.timeline.events.size()),
                        selected > 1 ? ("  \xC2\xB7  " + std::to_string(selected) + " selected").c_str() : "");
    if (!e.presetName.empty()) ImGui::TextDisabled("Recipe: %s", e.presetName.c_str());
    ImGui::Spacing();

    const float labelW = ImGui::CalcTextSize("Intensity scale").x + 12.0f;
    static Retuning retuning;
    ImGui::PushItemWidth(-labelW);
    DrawWhatAndWhen(project, e);
    SectionTitle("Shape and level");
    DrawShapeAndLevel(project, e);
    bool toggled = false;
    if (e.shape != EventShape::Clip && e.shape != EventShape::Bed) {
        SectionTitle("Pitch");
        toggled = DrawPitch(e, StillRetuning(retuning, index));
    }
    if (e.shape == EventShape::Clip) {
        SectionTitle("Clip");
        DrawClip(e);
    }
    ImGui::PopItemWidth();
    if (e.shape == EventShape::Bed) {
        SectionTitle("Bed");
        DrawBedFiles(e);
    }
    ImGui::Spacing();
    DrawFlags(e, labelW);
    ImGui::Spacing();
    DrawCurves(e);

    // One undo step per gesture: it ends when no control is held any more. The
    // event's sound follows once the gesture ends, so a drag is built once, with the
    // value it was let go at.
    static EventEditGesture gesture;
    static bool soundChanged = false;
    auto canHear = [&] { return project.timeline.built && !project.timeline.events[static_cast<size_t>(index)].locked; };
    if (toggled) {
        EndEventEditGesture(gesture);
        if (ApplyEventEdit(CurrentEdit(), index, e, gesture).changed && canHear()) {
            RequestEventRender(index);
            retuning = {index, false};
        }
        EndEventEditGesture(gesture);
    } else if (ApplyEventEdit(CurrentEdit(), index, e, gesture).changed) {
        soundChanged = true;
    }
    if (!ImGui::IsAnyItemActive()) {
        EndEventEditGesture(gesture);
        if (soundChanged && canHear()) RequestEventRebuild({index});
        soundChanged = false;
    }

    DrawEventLayers(project, index);
}

}  // namespace morvane
