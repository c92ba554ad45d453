#pragma once
// Recipes applied from the Events tab: a recipe's settings given to every selected
// event at once. Saving, listing and deleting the recipe files is model/recipes.h's.
// Interface thread (see edit_state.h).
#include <vector>

#include "edit/edit_state.h"
#include "model/recipes.h"

namespace morvane {

// Every selected event takes the recipe's settings, keeping where it sits (an event
// that follows a scene keeps the scene's timing), as one undo step. `rebuild`
// receives the unlocked events among them, whose sounds follow from the new settings.
EditResult ApplyRecipeToSelected(const EditContext& edit, const EventPreset& recipe, std::vector<int>* rebuild);

}  // namespace morvane
