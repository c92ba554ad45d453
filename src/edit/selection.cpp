#include "edit/selection.h"

#include <algorithm>

namespace morvane {

namespace {

bool IsLinkedFolder(const Project& project, const std::string& folder) {
    if (folder.empty()) return false;
    const auto& linked = project.timeline.linkedGroups;
    return std::find(linked.begin(), linked.end(), folder) != linked.end();
}

}  // namespace

void SyncSelection(const EditContext& edit) { edit.state.selected.resize(edit.project.timeline.events.size(), 0); }

void ClearSelection(const EditContext& edit) {
    SyncSelection(edit);
    std::fill(edit.state.selected.begin(), edit.state.selected.end(), 0);
}

void SelectAll(const EditContext& edit) {
    SyncSelection(edit);
    std::fill(edit.state.selected.begin(), edit.state.selected.end(), 1);
}

bool IsSelected(const EditState& state, int index) {
    return index >= 0 && static_cast<size_t>(index) < state.selected.size() && state.selected[static_cast<size_t>(index)];
}

void SelectEvent(const EditContext& edit, int index, bool add) {
    SyncSelection(edit);
    const auto& events = edit.project.timeline.events;
    if (index < 0 || static_cast<size_t>(index) >= events.size()) return;
    if (!add) ClearSelection(edit);
    auto& selected = edit.state.selected;
    selected[static_cast<size_t>(index)] = 1;
    const std::string& folder = events[static_cast<size_t>(index)].folder;
    if (IsLinkedFolder(edit.project, folder))
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].folder == folder) selected[i] = 1;
}

void ToggleSelected(const EditContext& edit, int index) {
    SyncSelection(edit);
    if (index < 0 || static_cast<size_t>(index) >= edit.project.timeline.events.size()) return;
    if (IsSelected(edit.state, index)) edit.state.selected[static_cast<size_t>(index)] = 0;
    else SelectEvent(edit, index, true);
}

void PressEvent(const EditContext& edit, int index, bool toggle, bool add) {
    if (toggle) ToggleSelected(edit, index);
    else if (add) SelectEvent(edit, index, true);
    else if (!IsSelected(edit.state, index)) SelectEvent(edit, index, false);
}

void SelectEvents(const EditContext& edit, const std::vector<int>& indices, bool add) {
    if (!add) ClearSelection(edit);
    for (int index : indices) SelectEvent(edit, index, true);
}

std::vector<int> SelectedIndices(const EditContext& edit) {
    SyncSelection(edit);
    std::vector<int> out;
    const auto& selected = edit.state.selected;
    for (size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) out.push_back(static_cast<int>(i));
    return out;
}

int SelectedCount(const EditContext& edit) {
    SyncSelection(edit);
    return static_cast<int>(std::count(edit.state.selected.begin(), edit.state.selected.end(), 1));
}

int PrimarySelection(const EditContext& edit) {
    const std::vector<int> indices = SelectedIndices(edit);
    return indices.empty() ? -1 : indices.front();
}

}  // namespace morvane
