#include "export/variation_tags.h"

#include <vector>

#include "export/ixml.h"
#include "library/ucs.h"

namespace morvane {

std::string VariationIXml(const std::string& description, const std::string& keywords) {
    // Search operators ("+word", "-word") say what the sound must or must not be;
    // only the plain words describe it.
    std::vector<std::string> words;
    size_t at = 0;
    while (at < keywords.size()) {
        size_t end = keywords.find_first_of(" ,;", at);
        if (end == std::string::npos) end = keywords.size();
        const std::string term = keywords.substr(at, end - at);
        if (!term.empty() && term[0] != '-' && term[0] != '+')
            for (const std::string& token : NameTokens(term)) words.push_back(token);
        at = end + 1;
    }
    std::string list;
    for (const std::string& w : words) list += (list.empty() ? "" : ", ") + w;
    const UcsCategory category = InferUcsCategory(words);
    return BuildIXmlDocument(description, list, category.catId, category.category, category.subCategory);
}

}  // namespace morvane
