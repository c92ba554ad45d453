#pragma once
// Which events are selected. Events of a linked folder (the project's linkedGroups)
// select as a unit: choosing one chooses them all. Interface thread (see edit_state.h).
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// Brings the selection flags to the event count (after undo, redo, open, new).
void SyncSelection(const EditContext& edit);
void ClearSelection(const EditContext& edit);
void SelectAll(const EditContext& edit);
bool IsSelected(const EditState& state, int index);
// Selects one event (replacing the selection unless add) and every event of its
// linked folder.
void SelectEvent(const EditContext& edit, int index, bool add);
// Takes the event out of the selection, or adds it (with its linked folder).
void ToggleSelected(const EditContext& edit, int index);
// A press on an event in the lanes: toggle toggles it, add adds it, a plain press
// selects it alone unless it is already selected (so a drag moves the whole selection).
void PressEvent(const EditContext& edit, int index, bool toggle, bool add);
// The events a band touched: they (with their linked folders) become the selection,
// or join it when add.
void SelectEvents(const EditContext& edit, const std::vector<int>& indices, bool add);
std::vector<int> SelectedIndices(const EditContext& edit);
int SelectedCount(const EditContext& edit);
// The event the inspector shows: the first selected, or -1.
int PrimarySelection(const EditContext& edit);

}  // namespace morvane
