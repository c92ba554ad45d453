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

EditResult SetProjectDescription(Project& project, const std::string& text) {
    if (project.projectDescription == text) return {};
    project.projectDescription = text;
    project.modified = true;
    return {true, false, {}};
}

}  // namespace morvane
