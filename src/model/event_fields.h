#pragma once
// The saved fields of events, recipes and chain events as tables of rows: each row names
// a field's JSON key, the member it lives in, its limits, its rule and any older key it
// was once saved under. Reading, writing, clamping and the older keys all walk the rows,
// so a new setting is one row here (plus its key in the written forms that carry it).
//
// Defaults are the records' own member initialisers: a reader starts from a fresh record
// and a key that is absent, or of the wrong JSON type, leaves the field as it is.
// Events and recipes start from different defaults (a recipe is a 2-second Bloom), which
// is why the defaults are not a column.
//
// Any thread: the tables are constant and the functions touch only what they are given.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "model/json.h"
#include "model/timeline.h"
#include "model/timeline_json.h"

namespace morvane {

// A pointer to one field of a record R, of any type a saved field has.
template <class R>
using FieldMember = std::variant<float R::*, int32_t R::*, bool R::*, EventShape R::*, IntensityMode R::*,
                                 std::string R::*, std::vector<std::string> R::*, std::vector<uint8_t> R::*,
                                 std::vector<float> R::*, std::vector<uint64_t> R::*, Curve R::*>;

enum class FieldRule : uint8_t {
    Plain,
    Path,         // a path or list of paths: resolved against the project folder when read, mapped
                  // through the path map when written; empty list entries are dropped
    NoneOutside,  // an index: a value outside lo..hi reads as -1 (none)
    AsNumber,     // a flag stored as a number: written as 1, any number but 0 reads as true
    HalfIsUnset,  // bed layer weights: 0.5 in a file is what older builds stored for "not set"
    Hex,          // 64-bit values stored as hexadecimal texts ("%016llx")
    Decimal,      // 64-bit values stored as decimal texts
};

inline constexpr double kNoLimit = std::numeric_limits<double>::infinity();

template <class R>
struct FieldRow {
    std::string_view key;
    FieldMember<R> member;
    double lo = -kNoLimit;  // numbers are clamped to lo..hi when read and by ClampFields
    double hi = kNoLimit;
    size_t maxBytes = 0;    // texts are cut to this many bytes (0: no limit)
    FieldRule rule = FieldRule::Plain;
    std::string_view legacyKey = {};  // older name of the key; the newer key wins when both are present
};

// The settings an event and a recipe share, one row per EventSettings field in declaration
// order (checked below).
inline constexpr FieldRow<EventSettings> kEventSettingsFields[] = {
    {.key = "duration", .member = &EventSettings::duration},
    {.key = "spread", .member = &EventSettings::spread},
    {.key = "weightCenter", .member = &EventSettings::weightCenter},
    {.key = "intensityScale", .member = &EventSettings::intensityScale},
    {.key = "weightOffset", .member = &EventSettings::weightOffset},
    {.key = "syncOffset", .member = &EventSettings::syncOffset},
    {.key = "shape", .member = &EventSettings::shape, .lo = 0, .hi = kEventShapeCount - 1},
    {.key = "intensityMode", .member = &EventSettings::intensityMode, .lo = 0, .hi = kIntensityModeCount - 1},
    {.key = "stereo", .member = &EventSettings::stereo},
    {.key = "gain", .member = &EventSettings::gain, .lo = 0, .hi = 1},
    {.key = "alloyMorph", .member = &EventSettings::alloyMorph},
    {.key = "pitchVariation", .member = &EventSettings::pitchVariation, .lo = 0, .hi = 1},
    {.key = "fillLayers", .member = &EventSettings::fillLayers, .lo = 0, .hi = kMaxFillLayers},
    {.key = "reverbSend", .member = &EventSettings::reverbSend},
    // Group numbers index lists elsewhere; anything that is not a group is "no override".
    {.key = "groupOverride", .member = &EventSettings::groupOverride, .lo = 0, .hi = kGroupCount - 1,
     .rule = FieldRule::NoneOutside},
    {.key = "keywords", .member = &EventSettings::keywords, .maxBytes = kKeywordsMaxBytes},
    {.key = "pinnedFile", .member = &EventSettings::pinnedFile, .maxBytes = kPinnedFileMaxBytes, .rule = FieldRule::Path},
    {.key = "pinnedFileId", .member = &EventSettings::pinnedFileId},
    {.key = "pinnedFiles", .member = &EventSettings::pinnedFiles, .rule = FieldRule::Path},
    {.key = "pinnedFileIds", .member = &EventSettings::pinnedFileIds},
    {.key = "bedLayerLoop", .member = &EventSettings::bedLayerLoop},
    {.key = "bedLayerWeight", .member = &EventSettings::bedLayerWeight, .rule = FieldRule::HalfIsUnset},
    {.key = "clipWeight", .member = &EventSettings::clipWeight},
    {.key = "clipSourceOffset", .member = &EventSettings::clipSourceOffset, .legacyKey = "placeSourceOffset"},
    {.key = "clipSourceDuration", .member = &EventSettings::clipSourceDuration, .legacyKey = "placeSourceDuration"},
    {.key = "clipFadeIn", .member = &EventSettings::clipFadeIn, .legacyKey = "placeFadeIn"},
    {.key = "clipFadeOut", .member = &EventSettings::clipFadeOut, .legacyKey = "placeFadeOut"},
    {.key = "libFilter", .member = &EventSettings::libFilter, .maxBytes = kLibFilterMaxBytes},
    {.key = "weight", .member = &EventSettings::weight},
    {.key = "intensity", .member = &EventSettings::intensity},
};

// A field added to EventSettings without a row, a row without a field, or rows out of
// declaration order stop the build here. The structured binding names every field, so it
// too fails to compile when the field count changes.
// The check runs where the standard library's strings can be built at compile time
// (GCC's own builds, which every test build uses); clang 14, used for the fuzzers, cannot
// construct libstdc++'s std::string in a constant expression.
#if !defined(__clang__) || __clang_major__ >= 15
consteval bool RowsCoverEventSettings() {
    EventSettings s;
    auto& [f0, f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20, f21, f22,
           f23, f24, f25, f26, f27, f28, f29] = s;
    const void* fields[] = {&f0,  &f1,  &f2,  &f3,  &f4,  &f5,  &f6,  &f7,  &f8,  &f9,  &f10, &f11, &f12, &f13, &f14,
                            &f15, &f16, &f17, &f18, &f19, &f20, &f21, &f22, &f23, &f24, &f25, &f26, &f27, &f28, &f29};
    if (std::size(kEventSettingsFields) != std::size(fields)) return false;
    for (size_t i = 0; i < std::size(fields); ++i) {
        const void* row = std::visit([&](auto member) -> const void* { return &(s.*member); },
                                     kEventSettingsFields[i].member);
        if (row != fields[i]) return false;
    }
    return true;
}
static_assert(RowsCoverEventSettings(), "kEventSettingsFields must list every EventSettings field, in order");
#endif

// The fields only an event on the timeline has (hasPinnedFile and bounceSource are not
// rows: the first follows pinnedFile, the second nests whole events).
inline constexpr FieldRow<Event> kEventOnlyFields[] = {
    {.key = "time", .member = &Event::time},
    {.key = "userShapeIdx", .member = &Event::userShapeIdx},
    {.key = "locked", .member = &Event::locked},
    {.key = "muted", .member = &Event::muted},
    {.key = "hero", .member = &Event::hero},
    {.key = "alloy", .member = &Event::alloy},
    {.key = "scaleTuneOverride", .member = &Event::scaleTuneOverride, .lo = 0, .hi = 2},
    // A negative scene is "no scene".
    {.key = "sceneLink", .member = &Event::sceneLink, .lo = -1},
    {.key = "sceneCrossfade", .member = &Event::sceneCrossfade, .lo = 0, .hi = kMaxSceneCrossfadeFrames},
    {.key = "sceneFill", .member = &Event::sceneFill, .rule = FieldRule::AsNumber},
    {.key = "folder", .member = &Event::folder, .maxBytes = kNameMaxBytes},
    {.key = "presetName", .member = &Event::presetName, .maxBytes = kNameMaxBytes},
    {.key = "markerSource", .member = &Event::markerSource, .maxBytes = kNameMaxBytes},
    {.key = "hasTraceGain", .member = &Event::hasTraceGain},
    {.key = "traceGain", .member = &Event::traceGain},
};

// When a key of a written form is written: always, or only when its value is set (true,
// non-zero, non-empty), positive (a float above 0.001), or not negative.
enum class WriteIf : uint8_t { Always, Set, Positive, NotNegative };

// ---------------------------------------------------------------------------------------
// Walking the rows

template <class R, size_t N>
constexpr const FieldRow<R>* FindField(const FieldRow<R> (&table)[N], std::string_view key) {
    for (const FieldRow<R>& row : table)
        if (row.key == key) return &row;
    return nullptr;
}

// Whether the table has a row for the key. Compile-time checks use this, not FindField:
// the undefined-behaviour sanitizer's checks on a row's address are not constant
// expressions.
template <class R, size_t N>
constexpr bool HasField(const FieldRow<R> (&table)[N], std::string_view key) {
    for (const FieldRow<R>& row : table)
        if (row.key == key) return true;
    return false;
}

namespace field_detail {

template <class Row>
double Limit(const Row& row, double value) {
    if (row.rule == FieldRule::NoneOutside) return value >= row.lo && value <= row.hi ? value : -1.0;
    return std::clamp(value, row.lo, row.hi);
}

template <class Row>
void Read(const Row& row, const JsonValue& object, float& value, const std::string&) {
    float older = row.legacyKey.empty() ? value : JsonFloatAt(object, row.legacyKey, value);
    value = static_cast<float>(Limit(row, JsonFloatAt(object, row.key, older)));
}

template <class Row, class Int>
    requires(std::is_same_v<Int, int32_t> || std::is_enum_v<Int>)
void Read(const Row& row, const JsonValue& object, Int& value, const std::string&) {
    const int read = JsonIntAt(object, row.key, static_cast<int>(value));
    value = static_cast<Int>(static_cast<int>(Limit(row, read)));
}

template <class Row>
void Read(const Row& row, const JsonValue& object, bool& value, const std::string&) {
    const JsonValue& member = JsonMember(object, row.key);
    if (row.rule == FieldRule::AsNumber)
        value = member.IsNumber() ? member.number != 0.0 : value;
    else
        value = JsonAsBool(member, value);
}

template <class Row>
std::string ReadText(const Row& row, const std::string& text, const std::string& projectFolder) {
    std::string kept = row.rule == FieldRule::Path ? ResolveProjectPath(text, projectFolder) : text;
    return row.maxBytes > 0 ? CutText(kept, row.maxBytes) : kept;
}

template <class Row>
void Read(const Row& row, const JsonValue& object, std::string& value, const std::string& projectFolder) {
    const JsonValue& member = JsonMember(object, row.key);
    if (member.IsString()) value = ReadText(row, member.text, projectFolder);
}

uint64_t ParseUnsigned(const std::string& text, int base);

// One list element as the row stores it; false drops the element.
template <class Row>
bool ReadItem(const Row& row, const JsonValue& item, std::string& out, const std::string& projectFolder) {
    out = ReadText(row, JsonAsText(item), projectFolder);
    return row.rule != FieldRule::Path || !out.empty();
}
template <class Row>
bool ReadItem(const Row&, const JsonValue& item, uint8_t& out, const std::string&) {
    out = JsonAsInt(item, 0) != 0 ? 1 : 0;
    return true;
}
template <class Row>
bool ReadItem(const Row& row, const JsonValue& item, float& out, const std::string&) {
    const float weight = JsonAsFloat(item, -1.0f);
    const bool unset = weight < 0.0f || (row.rule == FieldRule::HalfIsUnset && weight == 0.5f);
    out = unset ? -1.0f : std::min(weight, 1.0f);
    return true;
}
template <class Row>
bool ReadItem(const Row& row, const JsonValue& item, uint64_t& out, const std::string&) {
    out = ParseUnsigned(JsonAsText(item), row.rule == FieldRule::Hex ? 16 : 10);
    return true;
}

template <class Row, class T>
void Read(const Row& row, const JsonValue& object, std::vector<T>& values, const std::string& projectFolder) {
    const JsonValue& member = JsonMember(object, row.key);
    if (!member.IsArray()) return;
    values.clear();
    for (const JsonValue& item : member.items) {
        T value{};
        if (ReadItem(row, item, value, projectFolder)) values.push_back(std::move(value));
    }
}

template <class Row>
void Read(const Row& row, const JsonValue& object, Curve& curve, const std::string&) {
    ReadCurveJson(JsonMember(object, row.key), curve, 0.5f);
}

template <class Row>
void Write(JsonWriter& w, const Row& row, float value, const PathMap&) {
    w.writeFloat(row.key, value);
}
template <class Row, class Int>
    requires(std::is_same_v<Int, int32_t> || std::is_enum_v<Int>)
void Write(JsonWriter& w, const Row& row, Int value, const PathMap&) {
    w.writeInt(row.key, static_cast<int>(value));
}
template <class Row>
void Write(JsonWriter& w, const Row& row, bool value, const PathMap&) {
    if (row.rule == FieldRule::AsNumber)
        w.writeInt(row.key, value ? 1 : 0);
    else
        w.writeBool(row.key, value);
}
template <class Row>
void Write(JsonWriter& w, const Row& row, const std::string& value, const PathMap& paths) {
    w.writeString(row.key, row.rule == FieldRule::Path ? MapPath(paths, value) : value);
}
template <class Row>
void Write(JsonWriter& w, const Row& row, const std::vector<std::string>& values, const PathMap& paths) {
    w.beginArray(row.key);
    for (const std::string& value : values) w.writeStringItem(row.rule == FieldRule::Path ? MapPath(paths, value) : value);
    w.endArray();
}
template <class Row>
void Write(JsonWriter& w, const Row& row, const std::vector<uint8_t>& values, const PathMap&) {
    std::vector<int> numbers(values.begin(), values.end());
    w.writeIntArray(row.key, numbers);
}
std::vector<float> BedWeightsForWriting(const std::vector<float>& weights);
template <class Row>
void Write(JsonWriter& w, const Row& row, const std::vector<float>& values, const PathMap&) {
    w.writeFloatArray(row.key, row.rule == FieldRule::HalfIsUnset ? BedWeightsForWriting(values) : values);
}
std::string UnsignedText(uint64_t value, int base);
template <class Row>
void Write(JsonWriter& w, const Row& row, const std::vector<uint64_t>& values, const PathMap&) {
    std::vector<std::string> texts;
    for (uint64_t value : values) texts.push_back(UnsignedText(value, row.rule == FieldRule::Hex ? 16 : 10));
    w.writeStringArray(row.key, texts);
}
template <class Row>
void Write(JsonWriter& w, const Row& row, const Curve& curve, const PathMap&) {
    w.writeCurve(row.key, curve);
}

template <class T>
bool Passes(WriteIf when, const T& value) {
    if (when == WriteIf::Always) return true;
    if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
        double number = 0.0;
        if constexpr (std::is_enum_v<T>)
            number = static_cast<int>(value);
        else
            number = static_cast<double>(value);
        if (when == WriteIf::NotNegative) return number >= 0.0;
        if (when == WriteIf::Positive) return std::is_floating_point_v<T> ? number > 0.001 : number > 0.0;
        return number != 0.0;
    } else if constexpr (requires { value.empty(); }) {
        return !value.empty();
    }
    return true;
}

template <class Row>
void Clamp(const Row& row, float& value) {
    value = static_cast<float>(Limit(row, value));
}
template <class Row, class Int>
    requires(std::is_same_v<Int, int32_t> || std::is_enum_v<Int>)
void Clamp(const Row& row, Int& value) {
    value = static_cast<Int>(static_cast<int>(Limit(row, static_cast<int>(value))));
}
template <class Row>
void Clamp(const Row& row, std::string& value) {
    if (row.maxBytes > 0) value = CutText(value, row.maxBytes);
}
template <class Row, class T>
void Clamp(const Row&, T&) {}

}  // namespace field_detail

// Reads every row of table present in object into record.
template <class R, size_t N>
void ReadFields(const FieldRow<R> (&table)[N], const JsonValue& object, R& record,
                const std::string& projectFolder = {}) {
    for (const FieldRow<R>& row : table)
        std::visit([&](auto member) { field_detail::Read(row, object, record.*member, projectFolder); }, row.member);
}

// Writes the row's field when its value passes the condition.
template <class R>
void WriteField(JsonWriter& w, const FieldRow<R>& row, const R& record, const PathMap& paths,
                WriteIf when = WriteIf::Always) {
    std::visit(
        [&](auto member) {
            if (field_detail::Passes(when, record.*member)) field_detail::Write(w, row, record.*member, paths);
        },
        row.member);
}

// Brings every field of the table into its limits (numbers clamped, texts cut).
template <class R, size_t N>
void ClampFields(const FieldRow<R> (&table)[N], R& record) {
    for (const FieldRow<R>& row : table)
        std::visit([&](auto member) { field_detail::Clamp(row, record.*member); }, row.member);
}

// Finds key in the shared settings rows or in the record's own rows and writes it; false
// when neither table has the key.
template <class R, size_t N>
bool WriteFieldByKey(JsonWriter& w, std::string_view key, const R& record, const FieldRow<R> (&own)[N],
                     const PathMap& paths, WriteIf when = WriteIf::Always) {
    if (const FieldRow<EventSettings>* row = FindField(kEventSettingsFields, key)) {
        WriteField(w, *row, static_cast<const EventSettings&>(record), paths, when);
        return true;
    }
    if (const FieldRow<R>* row = FindField(own, key)) {
        WriteField(w, *row, record, paths, when);
        return true;
    }
    return false;
}

// Every key of a written form names a row of the shared settings or of one of the
// record's own tables.
template <class Form, class... Own>
consteval bool FormKeysHaveRows(const Form& form, const Own&... own) {
    for (const auto& entry : form) {
        std::string_view key;
        if constexpr (std::is_convertible_v<decltype(entry), std::string_view>)
            key = entry;
        else
            key = entry.key;
        if (!HasField(kEventSettingsFields, key) && !(HasField(own, key) || ...)) return false;
    }
    return true;
}

// Settings copied from one record to another are brought into their limits, and the
// pinned file ids kept only as far as there are pinned files.
void ClampEventSettings(EventSettings& settings);

}  // namespace morvane
