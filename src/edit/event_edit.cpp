#include "edit/event_edit.h"

#include <algorithm>

#include "model/undo.h"

namespace morvane {

EditResult ApplyEventEdit(const EditContext& edit, int index, const Event& edited, EventEditGesture& gesture) {
    auto& events = edit.project.timeline.events;
    if (index < 0 || static_cast<size_t>(index) >= events.size()) return {};
    Event& stored = events[static_cast<size_t>(index)];
    if (stored == edited) return {};
    if (!gesture.recorded) PushUndo(edit.project);
    gesture.recorded = true;
    stored = edited;
    edit.project.modified = true;
    return {true, false, {}};
}

void LinkEventToScene(Event& event, const std::vector<Scene>& scenes, int scene) {
    if (scene < 0 || static_cast<size_t>(scene) >= scenes.size()) {
        event.sceneLink = -1;
        return;
    }
    const Scene& s = scenes[static_cast<size_t>(scene)];
    event.sceneLink = scene;
    event.time = s.inTime;
    event.duration = std::max(kMinEventDuration, s.outTime - s.inTime);
}

void ToggleScaleTune(Event& event) { event.scaleTuneOverride = event.scaleTuneOverride == 2 ? 0 : 2; }

const char* ScaleTuneName(const Event& event) { return event.scaleTuneOverride == 2 ? "Force Off" : "Follow Project"; }

void MatchBedLists(Event& event) {
    const size_t n = event.pinnedFiles.size();
    event.pinnedFileIds.resize(n);
    event.bedLayerLoop.resize(n, 0);  // what the build reads for a missing flag
    event.bedLayerWeight.resize(n, -1.0f);
}

bool AddBedFile(Event& event, const std::string& path, const std::string& fileId) {
    if (path.empty() || std::find(event.pinnedFiles.begin(), event.pinnedFiles.end(), path) != event.pinnedFiles.end())
        return false;
    MatchBedLists(event);
    event.pinnedFiles.push_back(CutText(path, kPinnedFileMaxBytes));
    event.pinnedFileIds.push_back(fileId);
    event.bedLayerLoop.push_back(1);  // a background usually runs under the whole Bed
    event.bedLayerWeight.push_back(-1.0f);
    return true;
}

void RemoveBedFile(Event& event, size_t file) {
    MatchBedLists(event);
    if (file >= event.pinnedFiles.size()) return;
    const auto at = static_cast<std::ptrdiff_t>(file);
    event.pinnedFiles.erase(event.pinnedFiles.begin() + at);
    event.pinnedFileIds.erase(event.pinnedFileIds.begin() + at);
    event.bedLayerLoop.erase(event.bedLayerLoop.begin() + at);
    event.bedLayerWeight.erase(event.bedLayerWeight.begin() + at);
}

EditResult SetProjectDescription(Project& project, const std::string& text) {
    if (project.projectDescription == text) return {};
    project.projectDescription = text;
    project.modified = true;
    return {true, false, {}};
}

}  // namespace morvane
