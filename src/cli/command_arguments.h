#pragma once
// Pieces several commands share: reading an event list argument.
#include <string>
#include <vector>

namespace morvane::cli {

// "3,5,8" -> {3, 5, 8}; false for anything that is not a list of event numbers.
bool ParseEventList(const std::string& text, std::vector<int>* events);

}  // namespace morvane::cli
