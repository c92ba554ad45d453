#pragma once
// The Events tab's edits of an event's built layers: liking (pinning) a layer's file
// to its event, unpinning them all, banning a file from the project, and stepping a
// layer back and forward through its earlier sounds. Each is one undo step. A fresh
// choice ("Next sound") is drawn by the build engine in the background and taken over
// by the caller (engine/event_build.h, ChooseNextSound).
//
// Interface thread (see edit_state.h).
#include <vector>

#include "edit/edit_state.h"

namespace morvane {

// "Like — always use this sound" on an unpinned layer (its file joins the event's
// pinned files), "Unpin this sound" on a pinned one. Clip and Bed events keep their
// files as they are.
EditResult ToggleLayerPin(const EditContext& edit, int layerIndex);

// Empties the event's pinned files (the " %d pinned" button).
EditResult UnpinAll(const EditContext& edit, int eventIndex);

// "Dislike — ban '%s' from project": the layer's file (path and identity) is never
// chosen again, and no event keeps it pinned. `affected` receives the events whose
// layers play it, to be built again so the file leaves them now.
EditResult BanLayerFile(const EditContext& edit, int layerIndex, std::vector<int>* affected);

// "Previous sound" (forward false) or "Next sound (history)": the layer takes the
// sound at the new place of its history. Nothing changes when there is no such place.
EditResult StepLayerHistory(const EditContext& edit, int layerIndex, bool forward);

}  // namespace morvane
