#pragma once
// Pieces several commands share: reading an event list argument, and choosing the
// libraries a project draws from.
#include <string>
#include <vector>

#include "build/selection.h"
#include "library/libraries.h"
#include "model/timeline.h"

namespace morvane::cli {

// "3,5,8" -> {3, 5, 8}; false for anything that is not a list of event numbers.
bool ParseEventList(const std::string& text, std::vector<int>* events);

// The project's own libraries (by folder) when it names any, else every library.
std::vector<LibraryRoot> ProjectRoots(const Project& project, const std::vector<Library>& libraries);

}  // namespace morvane::cli
