#pragma once
// The Events tab's inspector of one event: every setting of the event, its curves and
// its built layers. Interface thread.

namespace morvane {

struct Project;

// A label on its own line over a control the panel's full width: for texts too long to
// sit beside their control.
void LabelAbove(const char* text);

// Draws the inspector of the event at index. The controls work on a copy of the event;
// the edit hands the changed copy to the core (edit/event_edit.h), one undo step per
// gesture, and an unlocked built event is built again once the gesture ends.
void DrawEventInspector(Project& project, int index);

}  // namespace morvane
