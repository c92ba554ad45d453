#pragma once
// The short text that names an event on the timeline and in lists.
#include <vector>

#include "model/timeline.h"

namespace morvane {

// Up to three of the event's keywords (words starting with "+" or "-" are search
// operators and are skipped), each with its first letter upper-cased; without keywords,
// the name of the event's user shape, else the name of its shape.
//
// The text lives in one of four 64-byte buffers used in turn (per thread), so up to four
// labels can be held at once; copy it to keep it longer.
const char* EventLabel(const Event& event, const std::vector<UserShape>& userShapes);
// The same, with the user shapes of the open project.
const char* EventLabel(const Event& event);

}  // namespace morvane
