#pragma once
// The iXML chunk of a variation take: the description, the event's keywords and
// the UCS category they point to, so sound-library tools file the take correctly.
#include <string>

namespace morvane {

// `keywords` is the event's keyword text as typed ("door slam, -wood").
std::string VariationIXml(const std::string& description, const std::string& keywords);

}  // namespace morvane
