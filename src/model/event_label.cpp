#include "model/event_label.h"

#include <cstring>
#include <string>

namespace morvane {

namespace {

constexpr size_t kLabelBytes = 64;
constexpr size_t kMaxKeywordLabel = 62;
constexpr int kMaxLabelWords = 3;

const char* Store(const std::string& text) {
    thread_local char ring[4][kLabelBytes];
    thread_local int next = 0;
    char* buffer = ring[next];
    next = (next + 1) % 4;
    std::string cut = CutText(text, kLabelBytes - 1);
    std::memcpy(buffer, cut.data(), cut.size());
    buffer[cut.size()] = '\0';
    return buffer;
}

std::string KeywordLabel(const std::string& keywords) {
    std::string label;
    int words = 0;
    size_t i = 0;
    while (i < keywords.size() && words < kMaxLabelWords) {
        while (i < keywords.size() && (keywords[i] == ' ' || keywords[i] == ',')) ++i;
        size_t start = i;
        while (i < keywords.size() && keywords[i] != ' ' && keywords[i] != ',') ++i;
        if (i == start || keywords[start] == '+' || keywords[start] == '-') continue;
        if (!label.empty()) label += ' ';
        char first = keywords[start];
        label += (first >= 'a' && first <= 'z') ? static_cast<char>(first - 'a' + 'A') : first;
        label.append(keywords, start + 1, i - start - 1);
        ++words;
    }
    return CutText(label, kMaxKeywordLabel);
}

}  // namespace

const char* EventLabel(const Event& event, const std::vector<UserShape>& userShapes) {
    std::string label = KeywordLabel(event.keywords);
    if (label.empty() && event.userShapeIdx >= 0 && static_cast<size_t>(event.userShapeIdx) < userShapes.size())
        label = userShapes[static_cast<size_t>(event.userShapeIdx)].name;
    if (label.empty()) label = EventShapeName(event.shape);
    return Store(label);
}

const char* EventLabel(const Event& event) { return EventLabel(event, CurrentProject().timeline.userShapes); }

}  // namespace morvane
