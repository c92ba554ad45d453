#pragma once
// JSON object forms of the timeline records. The project file, recipes, chains and the
// bounce sources of a Clip all use these, so the key order, the conditions under which a
// key is written, and the defaults and limits applied on reading live here, once.
//
// Readers never fail: every key is optional, a key of the wrong JSON type counts as
// absent, and numbers are brought into their limits.
#include <span>
#include <string>
#include <unordered_map>

#include "model/json.h"
#include "model/timeline.h"

namespace morvane {

// Full path in memory -> the path to write (for example "Audio/door.wav" for a file
// collected beside the project). A path not in the map is written unchanged.
using PathMap = std::unordered_map<std::string, std::string>;
const std::string& MapPath(const PathMap& map, const std::string& path);

// A relative path joined to the project folder, when the joined file exists; otherwise
// the path unchanged. An empty project folder resolves nothing.
std::string ResolveProjectPath(const std::string& path, const std::string& projectFolder);

// Bounced Clips keep copies of their source events, which may be bounced Clips themselves.
// Deeper chains than this are not kept when reading or writing, so a hostile file cannot
// run the reader out of stack.
inline constexpr int kMaxBounceDepth = 32;

// Each record has two writers: *Json writes the record as an anonymous object (an array
// element or a document root); *Members writes only its members into an object the caller
// has opened (for example under a key).
void WriteEventJson(JsonWriter& writer, const Event& event, const PathMap& paths);
void WriteEventMembers(JsonWriter& writer, const Event& event, const PathMap& paths);
// legacy: the document was written by a program older than project version 2.
// userShapeCount: an index into the user shapes at or past this count reads as -1.
Event ReadEventJson(const JsonValue& object, const std::string& projectFolder, bool legacy,
                    int userShapeCount);

void WriteLayerJson(JsonWriter& writer, const Layer& layer, const PathMap& paths);
void WriteLayerMembers(JsonWriter& writer, const Layer& layer, const PathMap& paths);
// The layer's file and its alloy parts' files are resolved against the project folder.
Layer ReadLayerJson(const JsonValue& object, const std::string& projectFolder);

void WriteUserShapeJson(JsonWriter& writer, const UserShape& shape);
void WriteUserShapeMembers(JsonWriter& writer, const UserShape& shape);
UserShape ReadUserShapeJson(const JsonValue& object);

void WriteSceneJson(JsonWriter& writer, const Scene& scene);
void WriteSceneMembers(JsonWriter& writer, const Scene& scene);
Scene ReadSceneJson(const JsonValue& object);

void WriteGroupJson(JsonWriter& writer, const Group& group);
void WriteGroupMembers(JsonWriter& writer, const Group& group);
Group ReadGroupJson(const JsonValue& object);

// Reads the timeline settings keys present in object (a project's root) into settings;
// absent keys keep their current values; the result is clamped to the limits.
void ReadTimelineSettingsJson(const JsonValue& object, TimelineSettings& settings);

// Reads an event-style curve: when value is not an array every point becomes neutral;
// otherwise the first min(length, points) elements are copied, a non-number becoming
// neutral, and the points past the array's end keep their values.
void ReadCurveJson(const JsonValue& value, std::span<float> curve, float neutral);

}  // namespace morvane
