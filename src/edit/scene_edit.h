#pragma once
// Scenes made from the timeline (Save Scene, Ctrl+B): a named stretch of the film that
// Fill and Bed backgrounds can follow. Interface thread (see edit_state.h).
#include <string>
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// Saves a scene over the selected events (earliest start to latest end) or, with
// nothing selected, over the work area. It is named "Scene N" with the lowest number
// no scene uses and carries the selected events' keywords. One undo step; the message
// tells what was saved, or what to do when there is nothing to save (no undo step then).
EditResult SaveSceneFromSelection(const EditContext& edit);

// The distinct words of the events' keywords (split at spaces and commas, compared
// without regard to ASCII case, first spelling kept), joined by spaces and cut to what
// a scene holds; a word that does not fit whole is left out.
std::string JoinSceneKeywords(const std::vector<const Event*>& events);

}  // namespace morvane
