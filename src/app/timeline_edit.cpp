#include "app/timeline_edit.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/app_state.h"
#include "app/audio_engine.h"
#include "app/editor_state.h"
#include "library/audio_file.h"
#include "model/preferences.h"
#include "model/undo.h"
#include "trace/trace_files.h"

namespace morvane {

EditorState& Editor() {
    static EditorState state;
    return state;
}

namespace {

std::vector<Event>& Events() { return CurrentProject().timeline.events; }

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

int AddEvent(Event event) {
    Project& project = CurrentProject();
    PushUndo(project);
    project.timeline.events.push_back(std::move(event));
    SyncSelection();
    ClearSelection();
    const int index = static_cast<int>(project.timeline.events.size()) - 1;
    Editor().selected[static_cast<size_t>(index)] = 1;
    return index;
}

bool IsLinkedFolder(const std::string& folder) {
    if (folder.empty()) return false;
    const auto& linked = CurrentProject().timeline.linkedGroups;
    return std::find(linked.begin(), linked.end(), folder) != linked.end();
}

// A folder name not used by any event yet.
std::string NewFolderName() {
    const auto& events = Events();
    for (int n = 1;; ++n) {
        const std::string name = "Group " + std::to_string(n);
        const bool used = std::any_of(events.begin(), events.end(), [&](const Event& e) { return e.folder == name; });
        if (!used) return name;
    }
}

}  // namespace

void SyncSelection() { Editor().selected.resize(Events().size(), 0); }

void ClearSelection() { std::fill(Editor().selected.begin(), Editor().selected.end(), 0); }

void SelectAll() {
    SyncSelection();
    std::fill(Editor().selected.begin(), Editor().selected.end(), 1);
}

bool IsSelected(int index) {
    const auto& selected = Editor().selected;
    return index >= 0 && static_cast<size_t>(index) < selected.size() && selected[static_cast<size_t>(index)];
}

void SelectEvent(int index, bool add) {
    SyncSelection();
    auto& events = Events();
    if (index < 0 || static_cast<size_t>(index) >= events.size()) return;
    if (!add) ClearSelection();
    auto& selected = Editor().selected;
    selected[static_cast<size_t>(index)] = 1;
    const std::string& folder = events[static_cast<size_t>(index)].folder;
    if (IsLinkedFolder(folder))
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].folder == folder) selected[i] = 1;
}

void ToggleSelected(int index) {
    SyncSelection();
    if (index < 0 || static_cast<size_t>(index) >= Events().size()) return;
    if (IsSelected(index)) Editor().selected[static_cast<size_t>(index)] = 0;
    else SelectEvent(index, true);
}

std::vector<int> SelectedIndices() {
    SyncSelection();
    std::vector<int> out;
    const auto& selected = Editor().selected;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) out.push_back(static_cast<int>(i));
    return out;
}

int SelectedCount() {
    SyncSelection();
    return static_cast<int>(std::count(Editor().selected.begin(), Editor().selected.end(), 1));
}

int PrimarySelection() {
    SyncSelection();
    const auto& selected = Editor().selected;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) return static_cast<int>(i);
    return -1;
}

int CreateEventAtPlayhead(EventShape shape) {
    Event event;
    event.shape = shape;
    event.time = std::max(0.0f, Editor().playhead);
    event.duration = std::min(DefaultDuration(shape), CurrentProject().timeline.settings.maxEventDuration);
    return AddEvent(std::move(event));
}

int PlaceClipsAtPlayhead(const std::vector<std::string>& paths) {
    if (paths.empty()) return 0;
    Project& project = CurrentProject();
    PushUndo(project);
    SyncSelection();
    ClearSelection();
    // One after the other from the playhead, each as long as its sound (when the file
    // can be read; a file that cannot keeps the default and plays as missing).
    float at = std::max(0.0f, Editor().playhead);
    for (const std::string& path : paths) {
        Event event;
        event.shape = EventShape::Clip;
        event.time = at;
        event.duration = DefaultDuration(EventShape::Clip);
        ComputeWaveformOverview(path);
        WaveformOverview overview;
        if (FindWaveformOverview(path, &overview) && overview.duration > 0.0f) {
            event.duration = std::clamp(overview.duration, kMinEventDuration,
                                        std::max(kMinEventDuration, project.timeline.settings.maxEventDuration));
            event.clipSourceDuration = event.duration;
        }
        event.pinnedFile = CutText(path, kPinnedFileMaxBytes);
        event.hasPinnedFile = !event.pinnedFile.empty();
        event.keywords = CutText(std::filesystem::path(path).stem().string(), kKeywordsMaxBytes);
        at += event.duration;
        project.timeline.events.push_back(std::move(event));
        Editor().selected.push_back(1);
    }
    return static_cast<int>(paths.size());
}

int PlaceClipAtPlayhead(const std::string& path) {
    PlaceClipsAtPlayhead({path});
    return static_cast<int>(Events().size()) - 1;
}

void BeginTimelineGesture() { PushUndo(CurrentProject()); }

void MoveSelected(float deltaSeconds) {
    auto& events = Events();
    SyncSelection();
    // The group keeps its shape: the earliest movable event decides how far left it can go.
    float earliest = INFINITY;
    for (size_t i = 0; i < events.size(); ++i)
        if (Editor().selected[i] && Movable(events[i])) earliest = std::min(earliest, events[i].time);
    if (earliest == INFINITY) return;
    const float delta = std::max(deltaSeconds, -earliest);
    for (size_t i = 0; i < events.size(); ++i)
        if (Editor().selected[i] && Movable(events[i])) events[i].time += delta;
    // The built layers go along: the sounds chosen for an event stay with it, and
    // play from the new place without being rendered again.
    for (Layer& layer : CurrentProject().timeline.results) {
        const size_t owner = static_cast<size_t>(layer.eventIdx);
        if (layer.eventIdx >= 0 && owner < events.size() && Editor().selected[owner] && Movable(events[owner]))
            layer.startTime += delta;
    }
    CurrentProject().modified = true;
    SyncAudioWithEdits();
}

void ResizeEvent(int index, float newDuration) {
    auto& events = Events();
    if (index < 0 || static_cast<size_t>(index) >= events.size()) return;
    Event& event = events[static_cast<size_t>(index)];
    if (!Movable(event)) return;
    const float longest = std::max(kMinEventDuration, CurrentProject().timeline.settings.maxEventDuration);
    event.duration = std::clamp(newDuration, kMinEventDuration, longest);
    CurrentProject().modified = true;
}

bool DeleteSelected() {
    auto& events = Events();
    SyncSelection();
    bool any = false;
    for (size_t i = 0; i < events.size(); ++i) any = any || (Editor().selected[i] && !IsEventLocked(events[i]));
    if (!any) {
        if (SelectedCount() > 0) SetStatus("Locked events are not deleted", 3.0f);
        return false;
    }
    PushUndo(CurrentProject());
    std::vector<Event> kept;
    std::vector<char> keptSelection;
    std::vector<int> newIndex(events.size(), -1);
    for (size_t i = 0; i < events.size(); ++i) {
        // A locked event survives the delete and stays selected, so the user sees why.
        if (Editor().selected[i] && !IsEventLocked(events[i])) continue;
        newIndex[i] = static_cast<int>(kept.size());
        kept.push_back(std::move(events[i]));
        keptSelection.push_back(Editor().selected[i]);
    }
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        events = std::move(kept);
        NotifyTimelineReplaced();
    }
    // Built layers name their event by index: the deleted events' layers go, the others
    // follow their event to its new index.
    auto& results = CurrentProject().timeline.results;
    std::vector<Layer> keptLayers;
    for (Layer& layer : results) {
        if (layer.eventIdx < 0 || static_cast<size_t>(layer.eventIdx) >= newIndex.size()) continue;
        const int to = newIndex[static_cast<size_t>(layer.eventIdx)];
        if (to < 0) continue;
        layer.eventIdx = to;
        keptLayers.push_back(std::move(layer));
    }
    results = std::move(keptLayers);
    Editor().selected = std::move(keptSelection);
    return true;
}

bool CopySelected() {
    const std::vector<int> indices = SelectedIndices();
    if (indices.empty()) return false;
    auto& clipboard = Editor().clipboard;
    clipboard.clear();
    float start = INFINITY;
    for (int i : indices) start = std::min(start, Events()[static_cast<size_t>(i)].time);
    for (int i : indices) {
        Event copy = Events()[static_cast<size_t>(i)];
        copy.time -= start;
        copy.sceneLink = -1;  // the copy is free of the scene's timing
        copy.sceneFill = false;
        clipboard.push_back(std::move(copy));
    }
    SetStatus(indices.size() == 1 ? "Copied 1 event" : "Copied " + std::to_string(indices.size()) + " events", 2.0f);
    return true;
}

bool CutSelected() { return CopySelected() && DeleteSelected(); }

bool PasteAtPlayhead() {
    const auto& clipboard = Editor().clipboard;
    if (clipboard.empty()) return false;
    Project& project = CurrentProject();
    PushUndo(project);
    SyncSelection();
    ClearSelection();
    const float at = std::max(0.0f, Editor().playhead);
    // Pasted events of a linked folder form a group of their own, so clicking a copy
    // does not also pick up the originals.
    std::vector<std::pair<std::string, std::string>> renamed;
    for (Event event : clipboard) {
        event.time += at;
        if (IsLinkedFolder(event.folder)) {
            auto it = std::find_if(renamed.begin(), renamed.end(), [&](const auto& r) { return r.first == event.folder; });
            if (it == renamed.end()) {
                renamed.emplace_back(event.folder, NewFolderName());
                project.timeline.linkedGroups.push_back(renamed.back().second);
                it = renamed.end() - 1;
            }
            event.folder = it->second;
        }
        project.timeline.events.push_back(std::move(event));
        Editor().selected.push_back(1);
    }
    return true;
}

bool GroupSelected() {
    const std::vector<int> indices = SelectedIndices();
    if (indices.size() < 2) {
        SetStatus("Select two or more events to group", 3.0f);
        return false;
    }
    Project& project = CurrentProject();
    PushUndo(project);
    const std::string folder = NewFolderName();
    for (int i : indices) Events()[static_cast<size_t>(i)].folder = folder;
    project.timeline.linkedGroups.push_back(folder);
    SetStatus("Grouped " + std::to_string(indices.size()) + " events as " + folder, 3.0f);
    return true;
}

bool UngroupSelected() {
    const std::vector<int> indices = SelectedIndices();
    bool any = false;
    for (int i : indices) any = any || !Events()[static_cast<size_t>(i)].folder.empty();
    if (!any) return false;
    Project& project = CurrentProject();
    PushUndo(project);
    for (int i : indices) Events()[static_cast<size_t>(i)].folder.clear();
    // A folder no event uses any more is no longer linked.
    auto& linked = project.timeline.linkedGroups;
    linked.erase(std::remove_if(linked.begin(), linked.end(),
                                [&](const std::string& name) {
                                    return std::none_of(Events().begin(), Events().end(),
                                                        [&](const Event& e) { return e.folder == name; });
                                }),
                 linked.end());
    return true;
}

bool ToggleLockSelected() {
    const std::vector<int> indices = SelectedIndices();
    if (indices.empty()) return false;
    bool anyUnlocked = false;
    for (int i : indices) anyUnlocked = anyUnlocked || !Events()[static_cast<size_t>(i)].locked;
    PushUndo(CurrentProject());
    for (int i : indices) Events()[static_cast<size_t>(i)].locked = anyUnlocked;
    return true;
}

bool ToggleMuteSelected() {
    const std::vector<int> indices = SelectedIndices();
    if (indices.empty()) return false;
    bool anyAudible = false;
    for (int i : indices) anyAudible = anyAudible || !Events()[static_cast<size_t>(i)].muted;
    PushUndo(CurrentProject());
    for (int i : indices) Events()[static_cast<size_t>(i)].muted = anyAudible;
    SyncAudioWithEdits();
    return true;
}

void SetWorkAreaIn() {
    Project& project = CurrentProject();
    project.workAreaIn = std::max(0.0f, Editor().playhead);
    // An out point before the new in point would make an empty range: it goes.
    if (project.workAreaOut >= 0.0f && project.workAreaOut <= project.workAreaIn) project.workAreaOut = -1.0f;
    project.modified = true;
}

void SetWorkAreaOut() {
    Project& project = CurrentProject();
    project.workAreaOut = std::max(0.0f, Editor().playhead);
    if (project.workAreaIn >= 0.0f && project.workAreaIn >= project.workAreaOut) project.workAreaIn = -1.0f;
    project.modified = true;
}

void ClearWorkArea() {
    Project& project = CurrentProject();
    project.workAreaIn = project.workAreaOut = -1.0f;
    project.modified = true;
}

void ZoomBy(float factor) {
    EditorState& editor = Editor();
    editor.pixelsPerSecond = std::clamp(editor.pixelsPerSecond * factor, kMinPixelsPerSecond, kMaxPixelsPerSecond);
}

void RequestZoomToFit() { Editor().fitRequested = true; }

float TimelineEnd(const Project& project) {
    float end = project.timeline.settings.totalDuration;
    for (const Event& e : project.timeline.events) end = std::max(end, e.time + e.duration);
    return std::max(end, 1.0f);
}

float FitPixelsPerSecond(const Project& project, float width) {
    return std::clamp(std::max(width, 1.0f) / TimelineEnd(project), kMinPixelsPerSecond, kMaxPixelsPerSecond);
}

std::string PlayheadTimecode() {
    const Project& project = CurrentProject();
    return TraceTimecode(Editor().playhead, project.timeline.settings.startTC, project.timeline.settings.fps);
}

void AdvanceTransport(float dt) {
    EditorState& editor = Editor();
    if (!editor.playing) return;
    // With rendered audio playing the output is the clock, so picture and sound
    // cannot drift apart; without it the playhead runs on frame time.
    float heard = 0.0f;
    if (AudioPlayheadSeconds(&heard)) editor.playhead = heard;
    else editor.playhead += dt;
    const float end = TimelineEnd(CurrentProject());
    if (editor.playhead >= end) {
        editor.playhead = end;
        editor.playing = false;
        StopAudioPlayback();
    }
}

void TogglePlay() {
    EditorState& editor = Editor();
    if (!editor.playing && editor.playhead >= TimelineEnd(CurrentProject())) editor.playhead = 0.0f;
    editor.playing = !editor.playing;
    if (editor.playing) StartAudioPlayback(editor.playhead);
    else StopAudioPlayback();
}

void StopTransport() {
    StopAudioPlayback();
    Editor().playing = false;
    Editor().playhead = 0.0f;
}

}  // namespace morvane
