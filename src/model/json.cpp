#include "model/json.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/utf8.h"

namespace morvane {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}


// Significant digits handed to the decimal conversion. A hostile document can hold a
// number with millions of digits; we keep the leading ones and carry the rest as a power
// of ten, so the conversion's cost does not grow with the input. Forty digits decide
// every value our own writer produces, and any float field, exactly.
constexpr int kMaxSignificantDigits = 40;

// Converts the extent of a number: optional "-", digits, optional "." and digits,
// optional "e"/"E" with optional sign and digits. Like the C library's decimal
// conversion from the start of the extent, but always in the C locale.
double ConvertNumber(const char* p, const char* end) {
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    char digits[kMaxSignificantDigits];
    int count = 0;
    int64_t scale = 0;  // value = digits x 10^scale
    bool anyDigit = false, nonZeroSeen = false;
    while (p < end && IsDigit(*p)) {
        anyDigit = true;
        char d = *p++;
        if (!nonZeroSeen && d == '0') continue;
        nonZeroSeen = true;
        if (count < kMaxSignificantDigits) digits[count++] = d;
        else ++scale;
    }
    if (p < end && *p == '.') {
        ++p;
        while (p < end && IsDigit(*p)) {
            anyDigit = true;
            char d = *p++;
            if (!nonZeroSeen && d == '0') {
                --scale;
                continue;
            }
            nonZeroSeen = true;
            if (count < kMaxSignificantDigits) {
                digits[count++] = d;
                --scale;
            }
        }
    }
    if (!anyDigit) return 0.0;  // nothing to convert, as with "-" alone
    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool expNegative = false;
        if (q < end && (*q == '+' || *q == '-')) expNegative = *q++ == '-';
        while (q < end && IsDigit(*q)) {
            if (exponent < 100000000) exponent = exponent * 10 + (*q - '0');
            ++q;
        }
        if (expNegative) exponent = -exponent;
    }
    if (count == 0) return negative ? -0.0 : 0.0;
    scale += exponent;
    int64_t leading = scale + count - 1;  // decimal exponent of the first digit
    if (leading > 400) return negative ? -HUGE_VAL : HUGE_VAL;
    if (leading < -400) return negative ? -0.0 : 0.0;

    char text[kMaxSignificantDigits + 24];
    std::memcpy(text, digits, static_cast<size_t>(count));
    char* tail = text + count;
    *tail++ = 'e';
    tail = std::to_chars(tail, text + sizeof(text), scale).ptr;
    double value = 0.0;
    auto result = std::from_chars(text, tail, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = leading > 0 ? HUGE_VAL : 0.0;
    return negative ? -value : value;
}

struct Parser {
    const char* p;
    const char* end;
    bool halted = false;  // we met something we cannot read past; stop everywhere
    bool cut = false;     // the text ended inside a string, object or array

    void SkipWhitespace() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    }

    bool Literal(const char* word, size_t length) {
        const size_t left = static_cast<size_t>(end - p);
        if (left < length) {
            // "tr" at the very end is a "true" cut short, not a character we cannot read.
            if (std::memcmp(p, word, left) == 0) {
                p = end;
                cut = true;
            }
            return false;
        }
        if (std::memcmp(p, word, length) != 0) return false;
        p += length;
        return true;
    }

    // At the opening quote. An unterminated string ends at the end of the text.
    void ParseString(std::string& out) {
        ++p;
        while (p < end) {
            const char* run = p;
            while (p < end && *p != '"' && *p != '\\') ++p;
            out.append(run, static_cast<size_t>(p - run));
            if (p >= end) break;
            if (*p == '"') {
                ++p;
                return;
            }
            ++p;  // the backslash
            if (p >= end) break;
            char c = *p++;
            switch (c) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                for (int i = 0; i < 4 && p < end; ++i) {
                    int h = HexDigit(*p);
                    if (h < 0) break;
                    code = code * 16 + static_cast<unsigned>(h);
                    ++p;
                }
                // Each \u escape stands on its own: a surrogate pair becomes two three-byte
                // sequences, which is how our own files have always been read back.
                AppendUtf8(out, code);
                break;
            }
            default: out += c; break;  // \" \\ \/ and anything else stand for themselves
            }
        }
        cut = true;
    }

    // Steps over a whole object or array without building it, keeping track of strings
    // so that brackets inside them do not count. Used for containers nested too deeply.
    void SkipContainer() {
        int64_t level = 0;
        while (p < end) {
            char c = *p++;
            if (c == '"') {
                while (p < end && *p != '"') {
                    if (*p == '\\' && p + 1 < end) ++p;
                    ++p;
                }
                if (p < end) ++p;
            } else if (c == '{' || c == '[') {
                ++level;
            } else if (c == '}' || c == ']') {
                if (--level <= 0) return;
            }
        }
        cut = true;
    }

    // depth: the number of containers already open around this value.
    void ParseValue(JsonValue& out, int depth) {
        SkipWhitespace();
        if (p >= end) return;
        char c = *p;
        if (c == '{' || c == '[') {
            // A document nested thousands deep would exhaust the stack. Past this depth
            // the value reads as null and is stepped over, and the reading of the
            // enclosing containers goes on as usual with everything read so far.
            if (depth >= kJsonMaxDepth) {
                SkipContainer();
                return;
            }
            if (c == '{') ParseObject(out, depth + 1);
            else ParseArray(out, depth + 1);
        } else if (c == '"') {
            out.type = JsonType::String;
            ParseString(out.text);
        } else if (c == 't') {
            if (Literal("true", 4)) {
                out.type = JsonType::Bool;
                out.boolValue = true;
            }
        } else if (c == 'f') {
            if (Literal("false", 5)) out.type = JsonType::Bool;
        } else if (c == 'n') {
            Literal("null", 4);
        } else if (c == '-' || IsDigit(c)) {
            const char* start = p;
            if (*p == '-') ++p;
            while (p < end && IsDigit(*p)) ++p;
            if (p < end && *p == '.') {
                ++p;
                while (p < end && IsDigit(*p)) ++p;
            }
            if (p < end && (*p == 'e' || *p == 'E')) {
                ++p;
                if (p < end && (*p == '+' || *p == '-')) ++p;
                while (p < end && IsDigit(*p)) ++p;
            }
            out.type = JsonType::Number;
            out.number = ConvertNumber(start, p);
        }
        // Any other character: null, nothing consumed.
    }

    void ParseObject(JsonValue& out, int depth) {
        out.type = JsonType::Object;
        ++p;
        SkipWhitespace();
        if (p < end && *p == '}') {
            ++p;
            return;
        }
        while (!halted && p < end) {
            const char* start = p;
            std::string key;
            if (*p == '"') ParseString(key);
            SkipWhitespace();
            if (p < end && *p == ':') ++p;
            out.members.emplace_back(std::move(key), JsonValue{});
            ParseValue(out.members.back().second, depth);
            SkipWhitespace();
            if (p < end && *p == ',') ++p;
            if (p == start) {
                // Neither a key, a value nor a comma: nothing more can be read here.
                out.members.pop_back();
                halted = true;
                return;
            }
            SkipWhitespace();
            if (p < end && *p == '}') {
                ++p;
                return;
            }
        }
        if (!halted) cut = true;
    }

    void ParseArray(JsonValue& out, int depth) {
        out.type = JsonType::Array;
        ++p;
        SkipWhitespace();
        if (p < end && *p == ']') {
            ++p;
            return;
        }
        while (!halted && p < end) {
            const char* start = p;
            out.items.emplace_back();
            ParseValue(out.items.back(), depth);
            SkipWhitespace();
            if (p < end && *p == ',') ++p;
            if (p == start) {
                out.items.pop_back();
                halted = true;
                return;
            }
            SkipWhitespace();
            if (p < end && *p == ']') {
                ++p;
                return;
            }
        }
        if (!halted) cut = true;
    }
};

const std::string kEmptyText;

}  // namespace

JsonValue JsonParse(std::string_view text, JsonEnd* end) {
    Parser parser{text.data(), text.data() + text.size()};
    JsonValue root;
    parser.ParseValue(root, 0);
    if (end) *end = parser.halted ? JsonEnd::Stopped : parser.cut ? JsonEnd::Truncated : JsonEnd::Complete;
    return root;
}

const JsonValue& JsonNull() {
    static const JsonValue null;
    return null;
}

const JsonValue& JsonMember(const JsonValue& value, std::string_view key) {
    if (value.type != JsonType::Object) return JsonNull();
    for (const auto& member : value.members)
        if (member.first == key) return member.second;
    return JsonNull();
}

bool JsonHas(const JsonValue& value, std::string_view key) {
    if (value.type != JsonType::Object) return false;
    for (const auto& member : value.members)
        if (member.first == key) return true;
    return false;
}

const JsonValue& JsonItem(const JsonValue& value, int index) {
    if (value.type != JsonType::Array || index < 0 || static_cast<size_t>(index) >= value.items.size())
        return JsonNull();
    return value.items[static_cast<size_t>(index)];
}

int JsonSize(const JsonValue& value) {
    if (value.type != JsonType::Array) return 0;
    return value.items.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(value.items.size());
}

int JsonAsInt(const JsonValue& value, int fallback) {
    if (value.type != JsonType::Number || std::isnan(value.number)) return fallback;
    if (value.number >= 2147483647.0) return INT_MAX;
    if (value.number <= -2147483648.0) return INT_MIN;
    return static_cast<int>(value.number);
}

float JsonAsFloat(const JsonValue& value, float fallback) {
    if (value.type != JsonType::Number || !std::isfinite(value.number) || std::fabs(value.number) > FLT_MAX)
        return fallback;
    return static_cast<float>(value.number);
}

bool JsonAsBool(const JsonValue& value, bool fallback) {
    return value.type == JsonType::Bool ? value.boolValue : fallback;
}

const std::string& JsonAsText(const JsonValue& value) {
    return value.type == JsonType::String ? value.text : kEmptyText;
}

// ---------------------------------------------------------------------------------------
// Writer

void JsonEscape(std::string& out, std::string_view text, bool replaceInvalidUtf8) {
    static const char kHex[] = "0123456789abcdef";
    size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x80 && replaceInvalidUtf8) {
            // Text from file names and sound-file chunks may be in any encoding; what is
            // not UTF-8 becomes U+FFFD so that the document stays valid JSON.
            const size_t length = Utf8CharLength(text.substr(at));
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++at;
            } else {
                out.append(text.substr(at, length));
                at += length;
            }
            continue;
        }
        ++at;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 32) {
                out += "\\u00";
                out += kHex[b >> 4];
                out += kHex[b & 15];
            } else {
                out += c;
            }
        }
    }
}

void JsonAppendNumber(std::string& out, double value, int precision) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // std::to_chars with a precision is printf's %g in the C locale, so a German or French
    // process locale can never turn the decimal point into a comma.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, precision);
    out.append(buffer, result.ptr);
}

namespace {
void AppendInt(std::string& out, int value) {
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out.append(buffer, result.ptr);
}
}  // namespace

void JsonWriter::beginMember(std::string_view key) {
    if (needsSeparator) out += ',';
    out += '\n';
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += '"';
    JsonEscape(out, key, validUtf8Only);
    out += "\": ";
    needsSeparator = false;
}

void JsonWriter::beginItem() {
    if (needsSeparator) out += ',';
    if (!out.empty()) out += '\n';  // the document's root starts on the first line
    out.append(static_cast<size_t>(depth) * 2, ' ');
    needsSeparator = false;
}

void JsonWriter::writeFloat(std::string_view key, float value) {
    beginMember(key);
    JsonAppendNumber(out, value, 6);
    needsSeparator = true;
}

void JsonWriter::writeInt(std::string_view key, int value) {
    beginMember(key);
    AppendInt(out, value);
    needsSeparator = true;
}

void JsonWriter::writeBool(std::string_view key, bool value) {
    beginMember(key);
    out += value ? "true" : "false";
    needsSeparator = true;
}

void JsonWriter::writeString(std::string_view key, std::string_view value) {
    beginMember(key);
    out += '"';
    JsonEscape(out, value, validUtf8Only);
    out += '"';
    needsSeparator = true;
}

void JsonWriter::writeNull(std::string_view key) {
    beginMember(key);
    out += "null";
    needsSeparator = true;
}

void JsonWriter::open(char bracket) {
    out += bracket;
    ++depth;
    needsSeparator = false;
}

void JsonWriter::close(char bracket) {
    if (depth > 0) --depth;
    out += '\n';
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += bracket;
    needsSeparator = true;
}

void JsonWriter::beginObject(std::string_view key) {
    beginMember(key);
    open('{');
}

void JsonWriter::beginObject() {
    beginItem();
    open('{');
}

void JsonWriter::endObject() { close('}'); }

void JsonWriter::beginArray(std::string_view key) {
    beginMember(key);
    open('[');
}

void JsonWriter::beginArray() {
    beginItem();
    open('[');
}

void JsonWriter::endArray() { close(']'); }

void JsonWriter::writeCurve(std::string_view key, std::span<const float> values) {
    beginMember(key);
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        JsonAppendNumber(out, values[i], 4);
    }
    out += ']';
    needsSeparator = true;
}

void JsonWriter::writeFloatArray(std::string_view key, std::span<const float> values) {
    beginMember(key);
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        JsonAppendNumber(out, values[i], 6);
    }
    out += ']';
    needsSeparator = true;
}

void JsonWriter::writeIntArray(std::string_view key, std::span<const int> values) {
    beginMember(key);
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        AppendInt(out, values[i]);
    }
    out += ']';
    needsSeparator = true;
}

void JsonWriter::writeStringArray(std::string_view key, std::span<const std::string> values) {
    beginArray(key);
    for (const std::string& value : values) writeStringItem(value);
    endArray();
}

void JsonWriter::writeFloatItem(float value) {
    beginItem();
    JsonAppendNumber(out, value, 6);
    needsSeparator = true;
}

void JsonWriter::writeIntItem(int value) {
    beginItem();
    AppendInt(out, value);
    needsSeparator = true;
}

void JsonWriter::writeBoolItem(bool value) {
    beginItem();
    out += value ? "true" : "false";
    needsSeparator = true;
}

void JsonWriter::writeStringItem(std::string_view value) {
    beginItem();
    out += '"';
    JsonEscape(out, value, validUtf8Only);
    out += '"';
    needsSeparator = true;
}

}  // namespace morvane
