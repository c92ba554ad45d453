// Feeds arbitrary bytes to the JSON reader and to every timeline record reader, then
// writes the event back out and reads that again. Nothing may crash, leak or hang,
// however deep or broken the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/event_label.h"
#include "model/json.h"
#include "model/timeline_json.h"

using namespace morvane;

namespace {
// A folder that does not exist, so relative paths take the join-and-look branch without
// the result depending on files of the machine.
const std::string kProjectFolder = "/nonexistent-morvane-fuzz-project";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    JsonValue root = JsonParse(text);
    if (!root.IsObject()) return 0;

    bool legacy = size > 0 && (data[0] & 1);
    Event event = ReadEventJson(root, kProjectFolder, legacy, 3);
    Layer layer = ReadLayerJson(root, kProjectFolder);
    UserShape shape = ReadUserShapeJson(root);
    Scene scene = ReadSceneJson(root);
    Group group = ReadGroupJson(root);
    TimelineSettings settings;
    ReadTimelineSettingsJson(root, settings);
    for (const char* key : {"events", "results"}) {
        const JsonValue& list = JsonMember(root, key);
        for (int i = 0; i < JsonSize(list); ++i) {
            ReadEventJson(JsonItem(list, i), kProjectFolder, legacy, 3);
            ReadLayerJson(JsonItem(list, i), "");
        }
    }
    (void)EventLabel(event, {shape});

    JsonWriter others;
    WriteLayerJson(others, layer, {});
    WriteUserShapeJson(others, shape);
    WriteSceneJson(others, scene);
    WriteGroupJson(others, group);

    // The event we wrote reads back, and from the second write on the text is stable.
    JsonWriter first;
    WriteEventJson(first, event, {});
    JsonValue again = JsonParse(first.out);
    if (!again.IsObject()) __builtin_trap();
    JsonWriter second;
    WriteEventJson(second, ReadEventJson(again, "", false, 3), {});
    JsonWriter third;
    WriteEventJson(third, ReadEventJson(JsonParse(second.out), "", false, 3), {});
    if (second.out != third.out) __builtin_trap();
    return 0;
}
