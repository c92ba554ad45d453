#include "model/event_fields.h"

#include <charconv>
#include <cstdio>

namespace morvane {

namespace field_detail {

uint64_t ParseUnsigned(const std::string& text, int base) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return (ec == std::errc() && ptr == end) ? value : 0;
}

std::string UnsignedText(uint64_t value, int base) {
    if (base != 16) return std::to_string(value);
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// A bed layer weight of 0.5 in a file means "not set" (what older builds stored). A set
// weight that would be written as 0.5 (six significant digits) is written a step lower
// instead, so saving and reopening never turns a chosen weight into "not set".
std::vector<float> BedWeightsForWriting(const std::vector<float>& weights) {
    std::vector<float> out = weights;
    for (float& weight : out) {
        if (weight < 0.0f) continue;
        std::string text;
        JsonAppendNumber(text, weight, 6);
        if (text == "0.5") weight = 0.499999f;
    }
    return out;
}

}  // namespace field_detail

void ClampEventSettings(EventSettings& settings) {
    ClampFields(kEventSettingsFields, settings);
    if (settings.pinnedFileIds.size() > settings.pinnedFiles.size())
        settings.pinnedFileIds.resize(settings.pinnedFiles.size());
}

}  // namespace morvane
