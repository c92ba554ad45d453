// Session text marker import from arbitrary bytes: never crashes, and what it hands back
// is always usable (times finite and not negative, texts within their limits, scenes in
// order, and texts cut from a UTF-8 session still whole UTF-8 characters).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "trace/markers.h"

namespace {

// Well-formed UTF-8 in the loose sense the cutting keeps: every lead byte followed by
// exactly its continuation bytes.
bool WholeCharacters(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const MarkerRecipe recipes[] = {{"Door slam", "door slam wood", 0, 1.5f, 0.1f, 0.3f, 0.4f, 0.8f},
                                           {"Whoosh", "whoosh air", 2, 2.0f, 0.0f, 0.2f, 0.6f, 1.0f}};
    std::vector<TraceEvent> events;
    std::vector<Scene> scenes;
    const float fps = size > 0 ? static_cast<float>(data[0] % 61) : 25.0f;
    ImportSessionMarkersText(text, fps, events, &scenes, recipes);
    const bool utf8 = WholeCharacters(text);
    for (const TraceEvent& e : events) {
        if (!std::isfinite(e.time) || e.time < 0) std::abort();
        if (utf8 && (!WholeCharacters(e.name) || !WholeCharacters(e.keywords) || !WholeCharacters(e.presetName)))
            std::abort();
        if (e.name.size() > 127 || e.keywords.size() > 127 || e.presetName.size() > 63) std::abort();
        const Event timelineEvent = EventFromTraceEvent(e);
        if (!std::isfinite(timelineEvent.duration) || timelineEvent.keywords.size() > 255) std::abort();
    }
    for (size_t i = 0; i < scenes.size(); ++i) {
        const Scene& s = scenes[i];
        if (!std::isfinite(s.inTime) || s.outTime < s.inTime || s.name.size() > 63 || s.keywords.size() > 127)
            std::abort();
        if (i > 0 && scenes[i - 1].inTime > s.inTime) std::abort();
        if (utf8 && (!WholeCharacters(s.name) || !WholeCharacters(s.keywords))) std::abort();
    }
    // Without a scene list every marker is an event.
    std::vector<TraceEvent> all;
    ImportSessionMarkersText(text, fps, all, nullptr, {});
    if (all.size() != events.size() + scenes.size()) std::abort();
    return 0;
}
