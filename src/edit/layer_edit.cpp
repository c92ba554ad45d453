#include "edit/layer_edit.h"

#include <algorithm>
#include <cstdio>

#include "engine/event_build.h"
#include "engine/selection.h"
#include "model/undo.h"

namespace morvane {

namespace {

Layer* LayerAt(Project& project, int index) {
    auto& results = project.timeline.results;
    if (index < 0 || static_cast<size_t>(index) >= results.size()) return nullptr;
    Layer& layer = results[static_cast<size_t>(index)];
    if (layer.eventIdx < 0 || static_cast<size_t>(layer.eventIdx) >= project.timeline.events.size()) return nullptr;
    return &layer;
}

bool FixedFiles(const Event& event) { return event.shape == EventShape::Clip || event.shape == EventShape::Bed; }

// Removes the pinned files matching path or id, keeping the per-file lists in step.
void Unpin(Event& event, const std::string& path, const std::string& id) {
    for (size_t i = event.pinnedFiles.size(); i-- > 0;) {
        const bool byId = !id.empty() && i < event.pinnedFileIds.size() && event.pinnedFileIds[i] == id;
        if (event.pinnedFiles[i] != path && !byId) continue;
        event.pinnedFiles.erase(event.pinnedFiles.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < event.pinnedFileIds.size()) event.pinnedFileIds.erase(event.pinnedFileIds.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < event.bedLayerLoop.size()) event.bedLayerLoop.erase(event.bedLayerLoop.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < event.bedLayerWeight.size())
            event.bedLayerWeight.erase(event.bedLayerWeight.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void AddUnique(std::vector<std::string>& list, const std::string& value) {
    if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

}  // namespace

EditResult ToggleLayerPin(const EditContext& edit, int layerIndex) {
    Layer* layer = LayerAt(edit.project, layerIndex);
    if (layer == nullptr || layer->filepath.empty()) return {};
    Event& event = edit.project.timeline.events[static_cast<size_t>(layer->eventIdx)];
    if (FixedFiles(event)) return {};
    PushUndo(edit.project);
    if (LayerIsPinned(event, *layer)) {
        Unpin(event, layer->filepath, layer->fileId);
        return {true, false, "Unpinned " + layer->name};
    }
    // The id list stays parallel to the paths: an empty id keeps its place.
    event.pinnedFileIds.resize(event.pinnedFiles.size());
    event.pinnedFiles.push_back(layer->filepath);
    event.pinnedFileIds.push_back(layer->fileId);
    return {true, false, "Pinned " + layer->name};
}

EditResult UnpinAll(const EditContext& edit, int eventIndex) {
    auto& events = edit.project.timeline.events;
    if (eventIndex < 0 || static_cast<size_t>(eventIndex) >= events.size()) return {};
    Event& event = events[static_cast<size_t>(eventIndex)];
    if (FixedFiles(event) || event.pinnedFiles.empty()) return {};
    PushUndo(edit.project);
    event.pinnedFiles.clear();
    event.pinnedFileIds.clear();
    return {true, false, "Unpinned all sounds of this event"};
}

EditResult BanLayerFile(const EditContext& edit, int layerIndex, std::vector<int>* affected) {
    Layer* layer = LayerAt(edit.project, layerIndex);
    if (layer == nullptr || layer->filepath.empty()) return {};
    TimelineState& tl = edit.project.timeline;
    const std::string path = layer->filepath, id = layer->fileId, name = layer->name;
    PushUndo(edit.project);
    AddUnique(tl.bannedFiles, path);
    AddUnique(tl.bannedFileIds, id);
    for (Event& event : tl.events)
        if (!FixedFiles(event)) Unpin(event, path, id);
    if (affected != nullptr) {
        affected->clear();
        for (const Layer& l : tl.results) {
            const bool plays = l.filepath == path || (!id.empty() && l.fileId == id);
            const Event& owner = tl.events[static_cast<size_t>(std::clamp<int>(l.eventIdx, 0, static_cast<int>(tl.events.size()) - 1))];
            if (plays && !FixedFiles(owner) && std::find(affected->begin(), affected->end(), l.eventIdx) == affected->end())
                affected->push_back(l.eventIdx);
        }
    }
    return {true, false, "Banned " + name + " from this project"};
}

EditResult StepLayerHistory(const EditContext& edit, int layerIndex, bool forward) {
    Layer* layer = LayerAt(edit.project, layerIndex);
    if (layer == nullptr) return {};
    if (forward ? !HistoryCanGoForward(*layer) : !HistoryCanGoBack(*layer)) return {};
    PushUndo(edit.project);
    // PushUndo copies the results: the pointer still names the same layer.
    if (forward) HistoryForward(*layer);
    else HistoryBack(*layer);
    return {true, false, {}};
}

}  // namespace morvane
