#pragma once
// The Events tab's edits: the inspector's changes to one event and the project's
// description. Interface thread (see edit_state.h).
#include <string>
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// Whether an inspector gesture (a drag of a slider, typing into a field, painting a
// curve) has recorded its undo step yet. The caller ends it when its controls let go.
struct EventEditGesture {
    bool recorded = false;
};

// The event at index becomes edited, as the inspector's controls left it. The first
// change of a gesture records the undo step and the rest of that gesture joins it. An
// edit that changes nothing records nothing.
EditResult ApplyEventEdit(const EditContext& edit, int index, const Event& edited, EventEditGesture& gesture);
inline void EndEventEditGesture(EventEditGesture& gesture) { gesture.recorded = false; }

// Links the event to scene (its index in scenes; -1 unlinks): a linked event takes
// the scene's timing. A scene that does not exist unlinks.
void LinkEventToScene(Event& event, const std::vector<Scene>& scenes, int scene);

// The project's description text; not part of undo.
EditResult SetProjectDescription(Project& project, const std::string& text);

}  // namespace morvane
