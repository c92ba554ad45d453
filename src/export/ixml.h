#pragma once
// The iXML document written into variation files, so that sound-library tools show
// the description, keywords and UCS category of a take.
#include <string>
#include <string_view>

namespace morvane {

// `text` with &, <, >, " and ' replaced by their XML entities.
std::string XmlEscape(std::string_view text);

// The BWFXML document; empty keywords and category fields are left out.
std::string BuildIXmlDocument(std::string_view description, std::string_view keywords, std::string_view catId,
                              std::string_view category, std::string_view subCategory);

}  // namespace morvane
