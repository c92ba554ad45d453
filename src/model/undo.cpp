#include "model/undo.h"

#include <utility>

namespace morvane {

namespace {
std::function<void()>& ReplacedHook() {
    static std::function<void()> hook;
    return hook;
}
}  // namespace

void SetTimelineReplacedHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(timelineMutex);
    ReplacedHook() = std::move(hook);
}

void NotifyTimelineReplaced() {
    if (ReplacedHook()) ReplacedHook()();
}

UndoSnapshot TakeUndoSnapshot(const Project& project) {
    const TimelineState& t = project.timeline;
    UndoSnapshot snapshot;
    snapshot.events = t.events;
    snapshot.results = t.results;
    snapshot.userShapes = t.userShapes;
    snapshot.bannedFiles = t.bannedFiles;
    snapshot.bannedFileIds = t.bannedFileIds;
    snapshot.scenes = t.scenes;
    snapshot.linkedGroups = t.linkedGroups;
    snapshot.built = t.built;
    return snapshot;
}

void RestoreUndoSnapshot(Project& project, UndoSnapshot snapshot) {
    TimelineState& t = project.timeline;
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        t.events = std::move(snapshot.events);
        NotifyTimelineReplaced();
    }
    t.results = std::move(snapshot.results);
    t.userShapes = std::move(snapshot.userShapes);
    t.bannedFiles = std::move(snapshot.bannedFiles);
    t.bannedFileIds = std::move(snapshot.bannedFileIds);
    t.scenes = std::move(snapshot.scenes);
    t.linkedGroups = std::move(snapshot.linkedGroups);
    t.built = snapshot.built;
}

void PushUndo(Project& project) {
    UndoHistory& h = project.history;
    h.undo.push_back(TakeUndoSnapshot(project));
    if (h.undo.size() > static_cast<size_t>(kMaxUndoSnapshots))
        h.undo.erase(h.undo.begin(), h.undo.end() - kMaxUndoSnapshots);
    h.redo.clear();
    project.modified = true;
}

bool Undo(Project& project) {
    UndoHistory& h = project.history;
    if (h.undo.empty()) return false;
    h.redo.push_back(TakeUndoSnapshot(project));
    UndoSnapshot snapshot = std::move(h.undo.back());
    h.undo.pop_back();
    RestoreUndoSnapshot(project, std::move(snapshot));
    return true;
}

bool Redo(Project& project) {
    UndoHistory& h = project.history;
    if (h.redo.empty()) return false;
    h.undo.push_back(TakeUndoSnapshot(project));
    UndoSnapshot snapshot = std::move(h.redo.back());
    h.redo.pop_back();
    RestoreUndoSnapshot(project, std::move(snapshot));
    return true;
}

bool CanUndo(const Project& project) { return !project.history.undo.empty(); }
bool CanRedo(const Project& project) { return !project.history.redo.empty(); }

void ClearUndoHistory(Project& project) {
    project.history.undo.clear();
    project.history.redo.clear();
}

}  // namespace morvane
