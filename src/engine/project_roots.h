#pragma once
#include <vector>

#include "engine/selection.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane {

// The libraries a project's build chooses sounds from: the project's own (by
// folder) when it names any, else every library the user has.
std::vector<LibraryRoot> ProjectLibraryRoots(const Project& project, const std::vector<Library>& libraries);

}  // namespace morvane
