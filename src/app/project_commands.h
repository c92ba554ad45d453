#pragma once
// The File menu's project commands as the window runs them: the unsaved-changes card
// before anything replaces the open project, the file browser for a place, and the
// project lifecycle for the work itself.
#include <functional>
#include <string>
#include <vector>

#include "model/timeline.h"
#include "trace/analysis.h"

namespace morvane {

void NewProjectCommand();    // New and Close: asks first when events are unsaved
void OpenProjectCommand();   // the browser, then the open (which asks first)
void SaveCommand();          // an untitled project goes to Save As
// Asks for a place and saves there; after runs only when the save succeeded.
void SaveAsCommand(std::function<void()> after = {});
void ImportVideoCommand();
void ImportMarkersCommand();
void PlaceClipCommand();

// Empties the project now (no question): selection, transport and view with it.
void StartNewProject();
// Opens path now (no question), resetting the selection, transport and view.
bool OpenProjectNow(const std::string& path);

}  // namespace morvane
