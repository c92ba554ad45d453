#include "cli/command_arguments.h"

#include <algorithm>
#include <cstdlib>

namespace morvane::cli {

bool ParseEventList(const std::string& text, std::vector<int>* events) {
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 0 || value > 1000000) return false;
        events->push_back(static_cast<int>(value));
        at = comma + 1;
    }
    return !events->empty();
}

}  // namespace morvane::cli
