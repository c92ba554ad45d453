#include "export/ixml.h"

namespace morvane {

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::string BuildIXmlDocument(std::string_view description, std::string_view keywords, std::string_view catId,
                              std::string_view category, std::string_view subCategory) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>\n";
    xml += "  <IXML_VERSION>1.5</IXML_VERSION>\n";
    xml += "  <PROJECT>Morvane</PROJECT>\n";
    xml += "  <USER>\n";
    xml += "    <Description>" + XmlEscape(description) + "</Description>\n";
    if (!keywords.empty()) xml += "    <Keywords>" + XmlEscape(keywords) + "</Keywords>\n";
    if (!catId.empty()) xml += "    <CatID>" + XmlEscape(catId) + "</CatID>\n";
    if (!category.empty()) xml += "    <Category>" + XmlEscape(category) + "</Category>\n";
    if (!subCategory.empty()) xml += "    <SubCategory>" + XmlEscape(subCategory) + "</SubCategory>\n";
    xml += "    <Designer>Morvane</Designer>\n";
    xml += "  </USER>\n</BWFXML>\n";
    return xml;
}

}  // namespace morvane
