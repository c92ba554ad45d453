#include "edit/timeline_edit.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "edit/selection.h"
#include "model/undo.h"

namespace morvane {

namespace {

// A new event's length: a hit is short, a background long.
float DefaultDuration(EventShape shape) {
    switch (shape) {
        case EventShape::Spot: return 1.0f;
        case EventShape::Bloom: return 2.0f;
        case EventShape::Contour: return 3.0f;
        case EventShape::Scatter: return 3.0f;
        case EventShape::Fill: return 8.0f;
        case EventShape::Bed: return 10.0f;
        case EventShape::Clip: return 2.0f;
    }
    return 1.0f;
}

bool Movable(const Event& event) { return !IsEventLocked(event) && event.sceneLink < 0; }

float LongestEvent(const Project& project) {
    return std::max(kMinEventDuration, project.timeline.settings.maxEventDuration);
}

bool IsLinkedFolder(const Project& project, const std::string& folder) {
    if (folder.empty()) return false;
    const auto& linked = project.timeline.linkedGroups;
    return std::find(linked.begin(), linked.end(), folder) != linked.end();
}

// A folder name not used by any event yet.
std::string NewFolderName(const std::vector<Event>& events) {
    for (int n = 1;; ++n) {
        const std::string name = "Group " + std::to_string(n);
        const bool used = std::any_of(events.begin(), events.end(), [&](const Event& e) { return e.folder == name; });
        if (!used) return name;
    }
}

EditResult Changed(std::string message = {}, float seconds = 3.0f) { return {true, false, std::move(message), seconds}; }
EditResult Refused(std::string message) { return {false, false, std::move(message), 3.0f}; }

// Sets one flag on every selected event: on when any selected event has it off.
template <typename Flag>
EditResult ToggleSelectedFlag(const EditContext& edit, Flag flag) {
    const std::vector<int> indices = SelectedIndices(edit);
    if (indices.empty()) return {};
    auto& events = edit.project.timeline.events;
    const bool anyOff = std::any_of(indices.begin(), indices.end(), [&](int i) { return !(events[static_cast<size_t>(i)].*flag); });
    PushUndo(edit.project);
    for (int i : indices) events[static_cast<size_t>(i)].*flag = anyOff;
    return Changed();
}

}  // namespace

float TimelineEnd(const Project& project) {
    float end = project.timeline.settings.totalDuration;
    for (const Event& e : project.timeline.events) end = std::max(end, e.time + e.duration);
    return std::max(end, 1.0f);
}

EditResult CreateEventAtPlayhead(const EditContext& edit, EventShape shape) {
    Event event;
    event.shape = shape;
    event.time = std::max(0.0f, edit.playhead);
    event.duration = std::min(DefaultDuration(shape), edit.project.timeline.settings.maxEventDuration);
    PushUndo(edit.project);
    edit.project.timeline.events.push_back(std::move(event));
    SelectEvent(edit, static_cast<int>(edit.project.timeline.events.size()) - 1, false);
    return Changed();
}

EditResult PlaceClipsAtPlayhead(const EditContext& edit, const std::vector<ClipSource>& sounds) {
    if (sounds.empty()) return {};
    Project& project = edit.project;
    PushUndo(project);
    ClearSelection(edit);
    float at = std::max(0.0f, edit.playhead);
    for (const ClipSource& sound : sounds) {
        Event event;
        event.shape = EventShape::Clip;
        event.time = at;
        event.duration = DefaultDuration(EventShape::Clip);
        if (sound.duration > 0.0f) {
            event.duration = std::clamp(sound.duration, kMinEventDuration, LongestEvent(project));
            event.clipSourceDuration = event.duration;
        }
        event.pinnedFile = CutText(sound.path, kPinnedFileMaxBytes);
        event.hasPinnedFile = !event.pinnedFile.empty();
        event.keywords = CutText(std::filesystem::path(sound.path).stem().string(), kKeywordsMaxBytes);
        at += event.duration;
        project.timeline.events.push_back(std::move(event));
        edit.state.selected.push_back(1);
    }
    const size_t placed = sounds.size();
    return Changed(placed == 1 ? "Placed 1 clip" : "Placed " + std::to_string(placed) + " clips");
}

void BeginTimelineGesture(const EditContext& edit) { PushUndo(edit.project); }

namespace {

// The start of the earliest selected event that can move (INFINITY: none can). The
// selection keeps its shape, so this event decides how far left it can go.
float EarliestMovable(const EditContext& edit) {
    const auto& events = edit.project.timeline.events;
    SyncSelection(edit);
    float earliest = INFINITY;
    for (size_t i = 0; i < events.size(); ++i)
        if (edit.state.selected[i] && Movable(events[i])) earliest = std::min(earliest, events[i].time);
    return earliest;
}

}  // namespace

EditResult MoveSelected(const EditContext& edit, float deltaSeconds) {
    auto& events = edit.project.timeline.events;
    const float earliest = EarliestMovable(edit);
    if (earliest == INFINITY) return {};
    const auto& selected = edit.state.selected;
    auto moves = [&](size_t i) { return i < events.size() && selected[i] && Movable(events[i]); };
    const float delta = std::max(deltaSeconds, -earliest);
    for (size_t i = 0; i < events.size(); ++i)
        if (moves(i)) events[i].time += delta;
    // The built layers go along: the sounds chosen for an event stay with it, and
    // play from the new place without being rendered again.
    for (Layer& layer : edit.project.timeline.results)
        if (layer.eventIdx >= 0 && moves(static_cast<size_t>(layer.eventIdx))) layer.startTime += delta;
    edit.project.modified = true;
    EditResult result = Changed();
    result.layersMoved = true;
    return result;
}

EditResult NudgeSelected(const EditContext& edit, float deltaSeconds) {
    const float earliest = EarliestMovable(edit);
    if (earliest == INFINITY) return SelectedCount(edit) > 0 ? Refused("Locked events are not moved") : EditResult{};
    if (std::max(deltaSeconds, -earliest) == 0.0f) return {};
    PushUndo(edit.project);
    return MoveSelected(edit, deltaSeconds);
}

EditResult ResizeEvent(const EditContext& edit, int index, float newDuration) {
    auto& events = edit.project.timeline.events;
    if (index < 0 || static_cast<size_t>(index) >= events.size()) return {};
    Event& event = events[static_cast<size_t>(index)];
    if (!Movable(event)) return {};
    event.duration = std::clamp(newDuration, kMinEventDuration, LongestEvent(edit.project));
    edit.project.modified = true;
    return Changed();
}

void RemoveEvents(const EditContext& edit, const std::vector<char>& removed) {
    auto& events = edit.project.timeline.events;
    auto& selected = edit.state.selected;
    std::vector<Event> kept;
    std::vector<char> keptSelection;
    std::vector<int> newIndex(events.size(), -1);
    for (size_t i = 0; i < events.size(); ++i) {
        if (i < removed.size() && removed[i]) continue;
        newIndex[i] = static_cast<int>(kept.size());
        kept.push_back(std::move(events[i]));
        keptSelection.push_back(i < selected.size() ? selected[i] : 0);
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        events = std::move(kept);
        NotifyTimelineReplaced();
    }
    auto& results = edit.project.timeline.results;
    std::vector<Layer> keptLayers;
    for (Layer& layer : results) {
        if (layer.eventIdx < 0 || static_cast<size_t>(layer.eventIdx) >= newIndex.size()) continue;
        const int to = newIndex[static_cast<size_t>(layer.eventIdx)];
        if (to < 0) continue;
        layer.eventIdx = to;
        keptLayers.push_back(std::move(layer));
    }
    results = std::move(keptLayers);
    selected = std::move(keptSelection);
}

EditResult DeleteSelected(const EditContext& edit) {
    auto& events = edit.project.timeline.events;
    SyncSelection(edit);
    auto& selected = edit.state.selected;
    bool any = false;
    // A locked event survives the delete and stays selected, so the user sees why.
    std::vector<char> removed(events.size(), 0);
    for (size_t i = 0; i < events.size(); ++i) {
        removed[i] = selected[i] && !IsEventLocked(events[i]);
        any = any || removed[i];
    }
    if (!any) return SelectedCount(edit) > 0 ? Refused("Locked events are not deleted") : EditResult{};
    PushUndo(edit.project);
    RemoveEvents(edit, removed);
    return Changed();
}

EditResult CopySelected(const EditContext& edit) {
    const std::vector<int> indices = SelectedIndices(edit);
    if (indices.empty()) return {};
    const auto& events = edit.project.timeline.events;
    auto& clipboard = edit.state.clipboard;
    clipboard.clear();
    float start = INFINITY;
    for (int i : indices) start = std::min(start, events[static_cast<size_t>(i)].time);
    for (int i : indices) {
        Event copy = events[static_cast<size_t>(i)];
        copy.time -= start;
        copy.sceneLink = -1;  // the copy is free of the scene's timing
        copy.sceneFill = false;
        clipboard.push_back(std::move(copy));
    }
    // The project is unchanged; only the clipboard took the events.
    return {false, false, indices.size() == 1 ? "Copied 1 event" : "Copied " + std::to_string(indices.size()) + " events", 2.0f};
}

EditResult CutSelected(const EditContext& edit) {
    EditResult copied = CopySelected(edit);
    if (copied.message.empty()) return copied;
    EditResult deleted = DeleteSelected(edit);
    if (deleted.message.empty()) {
        deleted.message = std::move(copied.message);
        deleted.messageSeconds = copied.messageSeconds;
    }
    return deleted;
}

EditResult PasteAtPlayhead(const EditContext& edit) {
    const auto& clipboard = edit.state.clipboard;
    if (clipboard.empty()) return {};
    Project& project = edit.project;
    PushUndo(project);
    ClearSelection(edit);
    const float at = std::max(0.0f, edit.playhead);
    // Pasted events of a linked folder form a group of their own, so clicking a copy
    // does not also pick up the originals.
    std::vector<std::pair<std::string, std::string>> renamed;
    for (Event event : clipboard) {
        event.time += at;
        if (IsLinkedFolder(project, event.folder)) {
            auto it = std::find_if(renamed.begin(), renamed.end(), [&](const auto& r) { return r.first == event.folder; });
            if (it == renamed.end()) {
                renamed.emplace_back(event.folder, NewFolderName(project.timeline.events));
                project.timeline.linkedGroups.push_back(renamed.back().second);
                it = renamed.end() - 1;
            }
            event.folder = it->second;
        }
        project.timeline.events.push_back(std::move(event));
        edit.state.selected.push_back(1);
    }
    return Changed();
}

EditResult GroupSelected(const EditContext& edit) {
    const std::vector<int> indices = SelectedIndices(edit);
    if (indices.size() < 2) return Refused("Select two or more events to group");
    Project& project = edit.project;
    PushUndo(project);
    const std::string folder = NewFolderName(project.timeline.events);
    for (int i : indices) project.timeline.events[static_cast<size_t>(i)].folder = folder;
    project.timeline.linkedGroups.push_back(folder);
    return Changed("Grouped " + std::to_string(indices.size()) + " events as " + folder);
}

EditResult UngroupSelected(const EditContext& edit) {
    const std::vector<int> indices = SelectedIndices(edit);
    auto& events = edit.project.timeline.events;
    const bool any = std::any_of(indices.begin(), indices.end(), [&](int i) { return !events[static_cast<size_t>(i)].folder.empty(); });
    if (!any) return {};
    PushUndo(edit.project);
    for (int i : indices) events[static_cast<size_t>(i)].folder.clear();
    // A folder no event uses any more is no longer linked.
    auto& linked = edit.project.timeline.linkedGroups;
    linked.erase(std::remove_if(linked.begin(), linked.end(),
                                [&](const std::string& name) {
                                    return std::none_of(events.begin(), events.end(), [&](const Event& e) { return e.folder == name; });
                                }),
                 linked.end());
    return Changed();
}

EditResult ToggleLockSelected(const EditContext& edit) { return ToggleSelectedFlag(edit, &Event::locked); }

EditResult ToggleMuteSelected(const EditContext& edit) {
    EditResult result = ToggleSelectedFlag(edit, &Event::muted);
    result.layersMoved = result.changed;
    return result;
}

EditResult SetWorkAreaIn(const EditContext& edit) {
    Project& project = edit.project;
    project.workAreaIn = std::max(0.0f, edit.playhead);
    // An out point before the new in point would make an empty range: it goes.
    if (project.workAreaOut >= 0.0f && project.workAreaOut <= project.workAreaIn) project.workAreaOut = -1.0f;
    project.modified = true;
    return Changed();
}

EditResult SetWorkAreaOut(const EditContext& edit) {
    Project& project = edit.project;
    project.workAreaOut = std::max(0.0f, edit.playhead);
    if (project.workAreaIn >= 0.0f && project.workAreaIn >= project.workAreaOut) project.workAreaIn = -1.0f;
    project.modified = true;
    return Changed();
}

EditResult ClearWorkArea(const EditContext& edit) {
    edit.project.workAreaIn = edit.project.workAreaOut = -1.0f;
    edit.project.modified = true;
    return Changed();
}

bool WorkAreaLoopRestart(const Project& project, float before, float now, float* restart) {
    const float in = project.workAreaIn, out = project.workAreaOut;
    if (in < 0.0f || out <= in || before < in || before >= out || now < out) return false;
    *restart = in;
    return true;
}

EditResult AddEventsAndScenes(const EditContext& edit, std::vector<Event> events, std::vector<Scene> scenes) {
    if (events.empty() && scenes.empty()) return {};
    Project& project = edit.project;
    PushUndo(project);
    for (Event& event : events) project.timeline.events.push_back(std::move(event));
    for (Scene& scene : scenes) project.timeline.scenes.push_back(std::move(scene));
    SyncSelection(edit);
    return Changed();
}

EditResult ReplaceEventsAndAddScenes(const EditContext& edit, const std::vector<char>& replaced, std::vector<Event> events,
                                     std::vector<Scene> scenes, float duration) {
    const bool anyReplaced = std::any_of(replaced.begin(), replaced.end(), [](char r) { return r != 0; });
    if (!anyReplaced) {
        if (events.empty() && scenes.empty()) return {};
        PushUndo(edit.project);
    } else {
        PushUndo(edit.project);
        SyncSelection(edit);
        RemoveEvents(edit, replaced);
    }
    Project& project = edit.project;
    for (Event& event : events) project.timeline.events.push_back(std::move(event));
    for (Scene& scene : scenes) project.timeline.scenes.push_back(std::move(scene));
    project.timeline.settings.totalDuration = std::max(project.timeline.settings.totalDuration, duration);
    SyncSelection(edit);
    return Changed();
}

}  // namespace morvane
