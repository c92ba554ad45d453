#pragma once
// Scenes made from the timeline: Composition > Save Scene and Ctrl+B name a stretch of
// the film so Fill and Bed backgrounds can follow it.
#include <string>
#include <vector>

#include "model/timeline.h"

namespace morvane {

// Saves a scene over the selected events (earliest start to latest end) or, with
// nothing selected, over the work area. It is named "Scene N" with the lowest number
// no scene uses and carries the selected events' keywords. One undo step; the status
// line tells what was saved, or what to do when there is nothing to save. The new
// scene's index, or -1.
int SaveSceneFromSelection();

// The distinct words of the events' keywords (split at spaces and commas, compared
// without regard to ASCII case, first spelling kept), joined by spaces and cut to what
// a scene holds; a word that does not fit whole is left out.
std::string JoinSceneKeywords(const std::vector<const Event*>& events);

}  // namespace morvane
