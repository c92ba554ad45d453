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

// Renames a scene (cut to what a name holds). An empty name is refused.
EditResult RenameScene(const EditContext& edit, int scene, const std::string& name);

// Moves or resizes a scene (in never below 0, never shorter than the shortest event);
// the events linked to it, its background among them, take its new timing. `affected`
// receives those events, whose sounds must be built again at their new place.
EditResult SetSceneTimes(const EditContext& edit, int scene, float inTime, float outTime, std::vector<int>* affected);

// Deletes a scene. Its background goes with it; the other events linked to it keep
// their place, free of the scene's timing; links to later scenes follow their scene.
EditResult DeleteScene(const EditContext& edit, int scene);

// The scene's background, a Fill or a Bed spanning the scene and searching for its
// keywords. A scene has one: asking for the other shape changes the one it has, asking
// for the shape it has changes nothing. Any other shape is refused. The background
// becomes the selection, so the inspector shows it.
EditResult SetSceneBackground(const EditContext& edit, int scene, EventShape shape);
// The index of the scene's background event, or -1.
int SceneBackground(const Project& project, int scene);

// The distinct words of the events' keywords (split at spaces and commas, compared
// without regard to ASCII case, first spelling kept), joined by spaces and cut to what
// a scene holds; a word that does not fit whole is left out.
std::string JoinSceneKeywords(const std::vector<const Event*>& events);

}  // namespace morvane
