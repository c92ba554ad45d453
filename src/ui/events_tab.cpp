// The Events tab, in three views: the selected event (the inspector, then the recipes
// and chains), the lists of events (by folder) and scenes, and the project (its
// description and settings). Every control calls an edit of the core (edit/) and lets
// the audio follow (app/audio_engine.h).
#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/commands.h"
#include "app/editor_state.h"
#include "app/export_session.h"
#include "app/timeline_view.h"
#include "edit/event_edit.h"
#include "edit/recipe_edit.h"
#include "edit/scene_edit.h"
#include "edit/project_settings.h"
#include "edit/selection.h"
#include "edit/timeline_edit.h"
#include "model/event_label.h"
#include "model/recipes.h"
#include "model/timeline.h"
#include "ui/event_inspector.h"
#include "ui/panels.h"
#include "ui/project_settings.h"
#include "ui/widgets.h"

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

// Events whose sounds follow from an edit are built again, when there is something built.
void RebuildIfBuilt(const Project& project, const std::vector<int>& events) {
    if (project.timeline.built && !events.empty()) RequestEventRebuild(events);
}

// ---- recipes and chains ----------------------------------------------------------

// A save that would replace a file, or a delete, waits for the user's yes.
struct PendingConfirm {
    enum class Kind { None, SaveRecipe, SaveChain, Delete } kind = Kind::None;
    std::string name;      // of the recipe or chain
    std::string path;      // the file deleted
    std::string question;
    bool open = false;     // the card is to be opened this frame
};

PendingConfirm& Pending() {
    static PendingConfirm pending;
    return pending;
}

void SaveRecipeNow(const Project& project, int index, const std::string& name) {
    if (index < 0 || static_cast<size_t>(index) >= project.timeline.events.size()) return;
    const EventPreset preset = PresetFromEvent(project.timeline.events[static_cast<size_t>(index)], name);
    if (!SaveRecipe(preset)) {
        SetStatus("Couldn't save the recipe in " + std::filesystem::path(RecipeFilePath(name)).parent_path().string(), 5.0f);
        return;
    }
    LoadAllRecipes();
    SetStatus("Recipe saved: " + preset.name, 3.0f);
}

void SaveChainNow(const Project& project, const std::string& name) {
    std::vector<Event> events;
    for (int i : SelectedIndices(CurrentEdit())) events.push_back(project.timeline.events[static_cast<size_t>(i)]);
    if (events.empty()) return;
    if (!SaveChain(name, ChainEventsFromEvents(events))) {
        SetStatus("Couldn't save the chain in " + std::filesystem::path(ChainFilePath(name)).parent_path().string(), 5.0f);
        return;
    }
    LoadAllChains();
    SetStatus("Chain saved: " + name + " (" + std::to_string(events.size()) + " events)", 3.0f);
}

void Ask(PendingConfirm::Kind kind, const std::string& name, const std::string& path, const std::string& question) {
    Pending() = {kind, name, path, question, true};
}

void DrawConfirmCard(const Project& project, int index) {
    PendingConfirm& p = Pending();
    if (p.open) ImGui::OpenPopup("Confirm##recipes");
    p.open = false;
    if (!ImGui::BeginPopupModal("Confirm##recipes", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
    ImGui::TextUnformatted(p.question.c_str());
    const bool deleting = p.kind == PendingConfirm::Kind::Delete;
    const bool yes = ImGui::Button(deleting ? "Delete" : "Replace");
    RegisterLastItem("confirm:yes");
    ImGui::SameLine();
    const bool no = ImGui::Button("Cancel");
    RegisterLastItem("confirm:no");
    if (yes) {
        if (p.kind == PendingConfirm::Kind::SaveRecipe) SaveRecipeNow(project, index, p.name);
        else if (p.kind == PendingConfirm::Kind::SaveChain) SaveChainNow(project, p.name);
        else if (DeleteSavedFile(p.path)) {
            LoadAllRecipes();
            LoadAllChains();
            SetStatus("Deleted " + p.name, 3.0f);
        } else {
            SetStatus("Couldn't delete " + p.path, 5.0f);
        }
    }
    if (yes || no) {
        p = {};
        ImGui::CloseCurrentPopup();
    }
    ImGui::EndPopup();
}

// A name field and its save button; returns the name when the button was pressed.
bool NameAndSave(const char* id, char* name, size_t size, const char* button, bool enabled) {
    ImGui::PushID(id);
    const float buttonW = ImGui::CalcTextSize(button).x + ImGui::GetStyle().FramePadding.x * 2.0f;
    ImGui::SetNextItemWidth(-(buttonW + ImGui::GetStyle().ItemSpacing.x));
    ImGui::InputTextWithHint("##name", "Name", name, size);
    RegisterLastItem((std::string(id) + ":name").c_str());
    ImGui::SameLine();
    ImGui::BeginDisabled(!enabled || name[0] == '\0');
    const bool pressed = ImGui::Button(button);
    ImGui::EndDisabled();
    RegisterLastItem((std::string(id) + ":save").c_str());
    ImGui::PopID();
    return pressed;
}

void DrawRecipes(Project& project, int index) {
    SectionTitle("Recipes");
    static char name[kNameMaxBytes + 1];
    if (NameAndSave("recipe", name, sizeof name, "Save as recipe", index >= 0)) {
        const std::string wanted = CutText(name, kNameMaxBytes);
        if (std::filesystem::exists(RecipeFilePath(wanted)))
            Ask(PendingConfirm::Kind::SaveRecipe, wanted, {}, "A recipe saved as '" + wanted + "' exists. Replace it?");
        else SaveRecipeNow(project, index, wanted);
    }
    const bool anySelected = SelectedCount(CurrentEdit()) > 0;
    const auto& recipes = Recipes();
    if (recipes.empty()) ImGui::TextDisabled("No recipes yet: name the selected event's settings and save them.");
    for (size_t k = 0; k < recipes.size(); ++k) {
        if (!recipes[k]) continue;
        const EventPreset& recipe = *recipes[k];
        ImGui::PushID(static_cast<int>(k));
        ImGui::BeginDisabled(!anySelected);
        if (ImGui::SmallButton("Apply")) {
            std::vector<int> rebuild;
            FollowEdit(ApplyRecipeToSelected(CurrentEdit(), recipe, &rebuild));
            RebuildIfBuilt(project, rebuild);
        }
        ImGui::EndDisabled();
        RegisterLastItem(("recipe:" + recipe.name + ":apply").c_str());
        if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
            ImGui::SetTooltip(anySelected ? "Give the selected events these settings" : "Select the events to apply it to");
        ImGui::SameLine();
        if (ImGui::SmallButton("Delete"))
            Ask(PendingConfirm::Kind::Delete, recipe.name, recipe.filePath, "Delete the recipe '" + recipe.name + "'?");
        RegisterLastItem(("recipe:" + recipe.name + ":delete").c_str());
        ImGui::SameLine();
        ImGui::Text("%s  \xC2\xB7  %s", recipe.name.c_str(), EventShapeName(recipe.shape));
        ImGui::PopID();
    }
}

void DrawChains(Project& project) {
    SectionTitle("Chains");
    static char name[kNameMaxBytes + 1];
    const int selected = SelectedCount(CurrentEdit());
    if (NameAndSave("chain", name, sizeof name, "Save selection as chain", selected > 0)) {
        const std::string wanted = CutText(name, kNameMaxBytes);
        if (std::filesystem::exists(ChainFilePath(wanted)))
            Ask(PendingConfirm::Kind::SaveChain, wanted, {}, "A chain saved as '" + wanted + "' exists. Replace it?");
        else SaveChainNow(project, wanted);
    }
    const auto& chains = Chains();
    for (size_t k = 0; k < chains.size(); ++k) {
        const Chain& chain = chains[k];
        ImGui::PushID(static_cast<int>(k));
        if (ImGui::SmallButton("Place")) {
            const std::vector<int> placed = PlaceChain(project, chain, Editor().playhead);
            SyncSelection(CurrentEdit());
            SelectEvents(CurrentEdit(), placed, false);
            RebuildIfBuilt(project, placed);
        }
        RegisterLastItem(("chain:" + chain.name + ":place").c_str());
        ImGui::SameLine();
        if (ImGui::SmallButton("Delete"))
            Ask(PendingConfirm::Kind::Delete, chain.name, chain.filePath, "Delete the chain '" + chain.name + "'?");
        ImGui::SameLine();
        ImGui::Text("%s  \xC2\xB7  %d events", chain.name.c_str(), static_cast<int>(chain.events.size()));
        ImGui::PopID();
    }
}

// ---- lists -----------------------------------------------------------------------

void EventRow(const Project& project, int i) {
    const Event& e = project.timeline.events[static_cast<size_t>(i)];
    char text[160];
    std::snprintf(text, sizeof text, "%s##event%d", EventLabel(e, project.timeline.userShapes), i);
    const bool selected = IsSelected(Edits(), i);
    if (ImGui::Selectable(text, selected, ImGuiSelectableFlags_AllowItemOverlap)) {
        const bool add = ImGui::GetIO().KeyCtrl || ImGui::GetIO().KeyShift;
        if (add) ToggleSelected(CurrentEdit(), i);
        else SelectEvent(CurrentEdit(), i, false);
    }
    RegisterLastItem(("list:event:" + std::to_string(i)).c_str());
    ImGui::SameLine(ImGui::GetContentRegionAvail().x * 0.55f);
    ImGui::TextDisabled("%s  %.2f s%s%s", EventShapeName(e.shape), static_cast<double>(e.time), IsEventLocked(e) ? "  locked" : "",
                        e.muted ? "  muted" : "");
}

void DrawEventList(const Project& project) {
    SectionTitle("Events");
    const auto& events = project.timeline.events;
    if (events.empty()) ImGui::TextDisabled("No events yet.");
    std::vector<std::string> folders;
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].folder.empty()) EventRow(project, static_cast<int>(i));
        else if (std::find(folders.begin(), folders.end(), events[i].folder) == folders.end()) folders.push_back(events[i].folder);
    }
    for (const std::string& folder : folders) {
        const bool linked = std::find(project.timeline.linkedGroups.begin(), project.timeline.linkedGroups.end(), folder) !=
                            project.timeline.linkedGroups.end();
        const std::string title = folder + (linked ? "  (linked)" : "");
        if (!ImGui::TreeNodeEx(title.c_str(), ImGuiTreeNodeFlags_DefaultOpen)) continue;
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].folder == folder) EventRow(project, static_cast<int>(i));
        ImGui::TreePop();
    }
}

// One scene: its name, its times, its background and delete. Returns false when it was
// deleted (the list changed under the loop).
bool SceneRow(Project& project, int s) {
    const Scene& scene = project.timeline.scenes[static_cast<size_t>(s)];
    ImGui::PushID(s);
    // The fields show the scene except while they are being edited.
    static int editingName = -1, editingTimes = -1;
    static char name[kNameMaxBytes + 1];
    static float times[2];
    if (editingName != s) std::snprintf(name, sizeof name, "%s", scene.name.c_str());
    if (editingTimes != s) times[0] = scene.inTime, times[1] = scene.outTime;
    const float deleteW = ImGui::CalcTextSize("Delete").x + ImGui::GetStyle().FramePadding.x * 2.0f;
    ImGui::SetNextItemWidth(-(deleteW + ImGui::GetStyle().ItemSpacing.x));
    ImGui::InputText("##name", name, sizeof name);
    RegisterLastItem(("scene:" + std::to_string(s) + ":name").c_str());
    if (ImGui::IsItemActive()) editingName = s;
    if (ImGui::IsItemDeactivated()) {
        editingName = -1;
        FollowEdit(RenameScene(CurrentEdit(), s, name));
    }
    ImGui::SameLine();
    if (ImGui::Button("Delete")) {
        ImGui::PopID();
        FollowEdit(DeleteScene(CurrentEdit(), s));
        SyncAudioWithEdits();
        return false;
    }
    RegisterLastItem(("scene:" + std::to_string(s) + ":delete").c_str());
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::DragFloatRange2("##times", &times[0], &times[1], 0.01f, 0.0f, 86400.0f, "in %.2f s", "out %.2f s");
    if (ImGui::IsItemActive()) editingTimes = s;
    if (ImGui::IsItemDeactivated()) {
        editingTimes = -1;
        std::vector<int> affected;
        FollowEdit(SetSceneTimes(CurrentEdit(), s, times[0], times[1], &affected));
        RebuildIfBuilt(project, affected);
    }
    const int background = SceneBackground(project, s);
    const char* backgroundName = background < 0 ? "None" : EventShapeName(project.timeline.events[static_cast<size_t>(background)].shape);
    ImGui::Text("Background: %s", backgroundName);
    for (EventShape shape : {EventShape::Fill, EventShape::Bed}) {
        ImGui::SameLine();
        if (ImGui::SmallButton(EventShapeName(shape)) && FollowEdit(SetSceneBackground(CurrentEdit(), s, shape)))
            RebuildIfBuilt(project, {SceneBackground(project, s)});
        RegisterLastItem(("scene:" + std::to_string(s) + ":" + EventShapeName(shape)).c_str());
    }
    ImGui::Spacing();
    ImGui::PopID();
    return true;
}

// "Go to": a typed timecode moves the playhead there (playing on from there).
void DrawGoTo(const Project& project) {
    static char timecode[32];
    const float labelW = ImGui::CalcTextSize("Go to").x + ImGui::GetStyle().ItemInnerSpacing.x + 8.0f;
    ImGui::SetNextItemWidth(-labelW);
    const bool entered = ImGui::InputTextWithHint("Go to", "HH:MM:SS:FF", timecode, sizeof timecode,
                                                  ImGuiInputTextFlags_EnterReturnsTrue);
    RegisterLastItem("goto");
    if (!entered) return;
    float seconds = 0.0f;
    if (!TimelineTimeFromTimecode(timecode, project.timeline.settings, &seconds)) {
        SetStatus(std::string("Not a timecode: '") + timecode + "' (HH:MM:SS:FF)", 4.0f);
        return;
    }
    EditorState& editor = Editor();
    editor.playhead = std::min(seconds, TimelineEnd(project));
    if (editor.playing) StartAudioPlayback(editor.playhead);
}

void DrawSceneList(Project& project) {
    SectionTitle("Scenes");
    if (project.timeline.scenes.empty()) ImGui::TextDisabled("No scenes yet: select events and use Save Scene (Ctrl+B).");
    for (int s = 0; s < static_cast<int>(project.timeline.scenes.size()); ++s)
        if (!SceneRow(project, s)) break;
}

// One view of the tab: it scrolls below the view tabs, which stay in reach.
template <typename Draw>
void View(const char* title, const char* target, Draw draw) {
    const bool open = ImGui::BeginTabItem(title);
    RegisterLastItem(target);
    if (!open) return;
    if (ImGui::BeginChild(target)) draw();
    ImGui::EndChild();
    ImGui::EndTabItem();
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

void DrawEventContextMenu(bool open) {
    if (open) ImGui::OpenPopup("##eventmenu");
    if (!ImGui::BeginPopup("##eventmenu")) return;
    static const int kItems[] = {kCmdCut, kCmdCopy, kCmdDelete, 0, kCmdLock, kCmdMute, 0, kCmdGroup, kCmdUngroup,
                                 kCmdSaveScene, kCmdBounce};
    for (int id : kItems) {
        const Command* command = id != 0 ? FindCommand(id) : nullptr;
        if (command == nullptr) {
            ImGui::Separator();
            continue;
        }
        std::string label;
        for (const char* c = command->label; *c; ++c)
            if (*c != '&') label += *c;
        if (ImGui::MenuItem(label.c_str(), command->shortcut, false, command->handler != nullptr)) command->handler();
        if (!command->handler && command->instead[0] && ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled))
            ImGui::SetTooltip("%s", command->instead);
    }
    ImGui::Separator();
    if (ImGui::MenuItem("Show in the Events tab")) App().sideTab = SideTab::Events;
    ImGui::EndPopup();
}

void DrawEventsTab() {
    Project& project = CurrentProject();
    const int index = PrimarySelection(CurrentEdit());
    const int shown = index >= 0 && static_cast<size_t>(index) < project.timeline.events.size() ? index : -1;
    if (!ImGui::BeginTabBar("##eventviews")) return;
    View("Event", "events:event", [&] {
        if (shown >= 0) {
            DrawEventInspector(project, shown);
            DrawBounceButtons();
        } else {
            ImGui::Text("%d events", static_cast<int>(project.timeline.events.size()));
            ImGui::TextDisabled("Select an event on the timeline to edit it.");
            ImGui::Spacing();
            DrawProjectDescription(project);
        }
        DrawRecipes(project, shown);
        DrawChains(project);
        DrawConfirmCard(project, shown);
    });
    View("Lists", "events:lists", [&] {
        DrawGoTo(project);
        DrawSceneList(project);
        DrawEventList(project);
    });
    View("Project", "events:project", [&] {
        DrawProjectDescription(project);
        DrawProjectSettings(project);
    });
    ImGui::EndTabBar();
}

}  // namespace morvane
