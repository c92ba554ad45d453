#pragma once
// The program's own JSON codec. Every JSON document Morvane reads or writes (projects,
// recipes, chains, trace annotations, the update manifest) goes through it.
//
// The reader is tolerant: it never throws and never reports an error. It stops where it
// cannot continue and hands back what it has built; callers check the root's type and
// read values through accessors that take a default, so a missing or mistyped key simply
// yields that default.
//
// The writer appends indented text with fixed number formats to a string: "%.6g" for
// single-precision fields, "%.4g" for curves, plain decimal for integers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane {

enum class JsonType : uint8_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct JsonMemberEntry;

struct JsonValue {
    JsonType type = JsonType::Null;
    bool boolValue = false;  // when type is Bool
    double number = 0.0;     // when type is Number
    std::string text;        // when type is String (UTF-8 bytes)
    std::vector<JsonValue> items;  // when type is Array
    // When type is Object: members in document order; a duplicate key is a second member.
    std::vector<JsonMemberEntry> members;

    bool IsNull() const { return type == JsonType::Null; }
    bool IsBool() const { return type == JsonType::Bool; }
    bool IsNumber() const { return type == JsonType::Number; }
    bool IsString() const { return type == JsonType::String; }
    bool IsArray() const { return type == JsonType::Array; }
    bool IsObject() const { return type == JsonType::Object; }
};

// One member of an object, shaped like std::pair (first: the key, second: the value).
// A pair of its own because std::pair cannot hold the still-incomplete JsonValue inside
// JsonValue's own definition with every standard library.
struct JsonMemberEntry {
    std::string first;
    JsonValue second;

    JsonMemberEntry() = default;
    JsonMemberEntry(std::string key, JsonValue value) : first(std::move(key)), second(std::move(value)) {}
};

// Containers nested deeper than this are read as null (see JsonParse).
inline constexpr int kJsonMaxDepth = 512;

// How the reading of a document ended.
enum class JsonEnd : uint8_t {
    Complete,   // the root value was read to its end
    Truncated,  // the text ran out inside the root (an open string, object or array)
    Stopped,    // a character the reader cannot read past ended it early
};

// Parses a whole document. Never fails: the caller tests the root's type (a document is
// accepted only when the root is an object). Truncated input yields a partial tree; a
// caller that must not take a cut file for a smaller whole one asks for `end`.
JsonValue JsonParse(std::string_view text, JsonEnd* end = nullptr);

// The one shared, immutable null value every failed lookup refers to.
const JsonValue& JsonNull();

// The first member with exactly that key (byte comparison), or the shared null value;
// on a value that is not an object, also the null value.
const JsonValue& JsonMember(const JsonValue& value, std::string_view key);
bool JsonHas(const JsonValue& value, std::string_view key);
// The element at index, or the shared null value when the index is out of range or the
// value is not an array.
const JsonValue& JsonItem(const JsonValue& value, int index);
// Number of items of an array; 0 for anything else.
int JsonSize(const JsonValue& value);

// A number truncated toward zero (saturated at the int range); else the fallback.
int JsonAsInt(const JsonValue& value, int fallback);
// A number converted to float; else the fallback. A number too large for a float
// (it would become infinite) also gives the fallback, so no reader ever stores one.
float JsonAsFloat(const JsonValue& value, float fallback);
// A bool's value; else the fallback (a number is not a bool).
bool JsonAsBool(const JsonValue& value, bool fallback);
// The text of a string; else an empty text.
const std::string& JsonAsText(const JsonValue& value);

// A member of an object read with a default: its value when the object has the key with
// a value of the right type, else the fallback (for a text, an empty text). Every reader
// of a saved record goes through these.
inline float JsonFloatAt(const JsonValue& object, std::string_view key, float fallback) {
    return JsonAsFloat(JsonMember(object, key), fallback);
}
inline int JsonIntAt(const JsonValue& object, std::string_view key, int fallback) {
    return JsonAsInt(JsonMember(object, key), fallback);
}
inline bool JsonBoolAt(const JsonValue& object, std::string_view key, bool fallback) {
    return JsonAsBool(JsonMember(object, key), fallback);
}
inline const std::string& JsonTextAt(const JsonValue& object, std::string_view key) {
    return JsonAsText(JsonMember(object, key));
}

// Streaming writer. Every keyed operation starts a new member of the open object; the
// anonymous forms (no key) write an element of the open array or the document's root.
struct JsonWriter {
    std::string out;
    int depth = 0;
    bool needsSeparator = false;  // a value has been written at the current level
    // Output for other programs (morvane-cli's --json) must be valid UTF-8; the program's
    // own documents keep every byte of a path (see JsonEscape).
    bool validUtf8Only = false;

    // "," when needed, a newline, two spaces per level, then "key": .
    void beginMember(std::string_view key);

    void writeFloat(std::string_view key, float value);  // "%.6g"
    void writeInt(std::string_view key, int value);
    void writeBool(std::string_view key, bool value);
    void writeString(std::string_view key, std::string_view value);
    void writeNull(std::string_view key);

    void beginObject(std::string_view key);
    void beginObject();  // array element or root
    void endObject();
    void beginArray(std::string_view key);
    void beginArray();  // array element or root
    void endArray();

    // "[v,v,...]" on one line, each value "%.4g".
    void writeCurve(std::string_view key, std::span<const float> values);
    // Short lists of numbers on one line: floats "%.6g", integers in decimal.
    void writeFloatArray(std::string_view key, std::span<const float> values);
    void writeIntArray(std::string_view key, std::span<const int> values);
    // A list of strings, one element per line.
    void writeStringArray(std::string_view key, std::span<const std::string> values);

    // Elements of the open array, each on its own line.
    void writeFloatItem(float value);
    void writeIntItem(int value);
    void writeBoolItem(bool value);
    void writeStringItem(std::string_view value);

private:
    void beginItem();
    void open(char bracket);
    void close(char bracket);
};

// Appends the escaped form of text, without quotes: \" \\ \n \r \t, other bytes
// below 32 as \u00XX, and the rest unchanged. With replaceInvalidUtf8, every byte that
// is not part of a well-formed UTF-8 character becomes U+FFFD, so the output is valid
// UTF-8 whatever bytes the text held. Without it the bytes are kept: a project's sound
// path on a disk whose names are not UTF-8 must read back as the same path.
void JsonEscape(std::string& out, std::string_view text, bool replaceInvalidUtf8 = false);
// Appends value formatted like printf with "%.<precision>g" in the C locale, whatever the
// process locale is. A value that is not finite is written as null: JSON has no spelling
// for it, and a reader takes null as "absent" and uses its default.
void JsonAppendNumber(std::string& out, double value, int precision);

}  // namespace morvane
