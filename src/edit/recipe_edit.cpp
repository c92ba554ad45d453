#include "edit/recipe_edit.h"

#include "edit/event_edit.h"
#include "edit/selection.h"
#include "model/undo.h"

namespace morvane {

EditResult ApplyRecipeToSelected(const EditContext& edit, const EventPreset& recipe, std::vector<int>* rebuild) {
    if (rebuild) rebuild->clear();
    const std::vector<int> selected = SelectedIndices(edit);
    if (selected.empty()) return {false, false, "Select the events to apply the recipe to"};
    auto& t = edit.project.timeline;
    PushUndo(edit.project);
    for (int index : selected) {
        Event& e = t.events[static_cast<size_t>(index)];
        ApplyRecipe(e, recipe);
        if (e.sceneLink >= 0) LinkEventToScene(e, t.scenes, e.sceneLink);
        if (rebuild && !IsEventLocked(e)) rebuild->push_back(index);
    }
    const size_t n = selected.size();
    return {true, false,
            "Recipe '" + recipe.name + "' applied to " + std::to_string(n) + (n == 1 ? " event" : " events")};
}

}  // namespace morvane
