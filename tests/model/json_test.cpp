#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "model/json.h"

namespace morvane {
namespace {

std::string Written(float value) {
    JsonWriter w;
    w.writeFloat("v", value);
    return w.out.substr(w.out.find(": ") + 2);
}

TEST(Json, LookupsFallBackToDefaults) {
    JsonValue root = JsonParse(R"({"gain": "0.5", "n": -2.7, "flag": 1, "a": [1, 2], "k": 1, "k": 2})");
    ASSERT_TRUE(root.IsObject());
    // A member of a number is the shared null, whose float is the caller's default.
    const JsonValue& n = JsonMember(root, "n");
    EXPECT_EQ(&JsonMember(n, "x"), &JsonNull());
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(n, "x"), 7.0f), 7.0f);
    // A gain stored as a string is not a number.
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(root, "gain"), 1.0f), 1.0f);
    EXPECT_EQ(JsonAsInt(n, 0), -2);  // truncated toward zero
    EXPECT_TRUE(JsonAsBool(JsonMember(root, "flag"), true));  // a number is not a bool
    EXPECT_FALSE(JsonAsBool(JsonMember(root, "flag"), false));
    EXPECT_EQ(JsonAsText(n), "");
    const JsonValue& a = JsonMember(root, "a");
    EXPECT_EQ(JsonSize(a), 2);
    EXPECT_EQ(JsonSize(root), 0);
    EXPECT_EQ(&JsonItem(a, 2), &JsonNull());
    EXPECT_EQ(&JsonItem(a, -1), &JsonNull());
    EXPECT_EQ(JsonAsInt(JsonItem(a, 1), 0), 2);
    // A duplicate key is a second member; lookups find the first.
    EXPECT_EQ(root.members.size(), 6u);
    EXPECT_EQ(JsonAsInt(JsonMember(root, "k"), 0), 1);
    EXPECT_TRUE(JsonHas(root, "k"));
    EXPECT_FALSE(JsonHas(root, "K"));
    // Out-of-range numbers saturate instead of wrapping.
    EXPECT_EQ(JsonAsInt(JsonParse("1e20"), 0), 2147483647);
    EXPECT_EQ(JsonAsInt(JsonParse("-1e20"), 0), -2147483647 - 1);
}

TEST(Json, ReadsStringEscapes) {
    JsonValue v = JsonParse(R"(["caf\u00e9", "\ud83d\ude00", "a\/b\"c\\d\n\r\t", "\b\q", "\u0041\u00411"])");
    ASSERT_EQ(JsonSize(v), 5);
    EXPECT_EQ(JsonAsText(JsonItem(v, 0)), "caf\xC3\xA9");
    // Each half of a surrogate pair is its own three-byte sequence.
    EXPECT_EQ(JsonAsText(JsonItem(v, 1)), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(JsonAsText(JsonItem(v, 2)), "a/b\"c\\d\n\r\t");
    EXPECT_EQ(JsonAsText(JsonItem(v, 3)), "bq");
    EXPECT_EQ(JsonAsText(JsonItem(v, 4)), "AA1");
    // A \u cut short by the end of the text, and an unterminated string.
    EXPECT_EQ(JsonAsText(JsonParse("\"x\\u4")), std::string("x\x04"));
    EXPECT_EQ(JsonAsText(JsonParse("\"open")), "open");
}

TEST(Json, ToleratesSloppyAndTruncatedInput) {
    JsonValue v = JsonParse("{\"a\": 1 \"b\": 2, \"c\" 3,}");
    EXPECT_EQ(JsonAsInt(JsonMember(v, "a"), 0), 1);  // no comma between members
    EXPECT_EQ(JsonAsInt(JsonMember(v, "b"), 0), 2);
    EXPECT_EQ(JsonAsInt(JsonMember(v, "c"), 0), 3);  // no colon

    // A plus does not start a number: the value is null.
    v = JsonParse(R"({"x": +1})");
    EXPECT_TRUE(JsonHas(v, "x"));
    EXPECT_TRUE(JsonMember(v, "x").IsNull());
    EXPECT_TRUE(JsonParse("+1").IsNull());
    EXPECT_TRUE(JsonParse("tru").IsNull());

    // Truncated input keeps what was read.
    v = JsonParse(R"({"events": [{"time": 2.5}, {"time": 3)");
    ASSERT_TRUE(v.IsObject());
    const JsonValue& events = JsonMember(v, "events");
    ASSERT_EQ(JsonSize(events), 2);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonMember(JsonItem(events, 1), "time"), 0), 3.0f);

    // Garbage stops the reading where it stands; everything before it stays.
    v = JsonParse(R"({"a": 1, "b": [1, 2] } , ]]] {"c": 1})");
    EXPECT_EQ(v.members.size(), 2u);
    v = JsonParse(R"({"a": 1, @@@ "b": 2})");
    EXPECT_EQ(v.members.size(), 1u);
    v = JsonParse("[1,,2]");
    EXPECT_EQ(JsonSize(v), 3);
    EXPECT_TRUE(JsonItem(v, 1).IsNull());

    EXPECT_TRUE(JsonParse("").IsNull());
    EXPECT_TRUE(JsonParse("  \n ").IsNull());
}

TEST(Json, ReadsNumbers) {
    auto number = [](const char* text) { return JsonParse(text).number; };
    EXPECT_DOUBLE_EQ(number("0.1"), 0.1);
    EXPECT_DOUBLE_EQ(number("-12.5e-1"), -1.25);
    EXPECT_DOUBLE_EQ(number("1E+3"), 1000.0);
    EXPECT_DOUBLE_EQ(number("1."), 1.0);
    EXPECT_DOUBLE_EQ(number("1e"), 1.0);
    EXPECT_DOUBLE_EQ(number("-"), 0.0);
    EXPECT_DOUBLE_EQ(number("0x10"), 0.0);  // no hexadecimal numbers
    EXPECT_DOUBLE_EQ(number("123456789012345678901234567890"), 1.2345678901234568e29);
    EXPECT_DOUBLE_EQ(number("0.00000000000000000000000000000000000000000000000000000012345"), 1.2345e-55);
    // Thousands of digits cost no more than their reading, and still give the right value.
    EXPECT_DOUBLE_EQ(number(("1" + std::string(5000, '0') + "e-5000").c_str()), 1.0);
    EXPECT_DOUBLE_EQ(number(("0." + std::string(5000, '0') + "25e5001").c_str()), 2.5);
    EXPECT_TRUE(std::isinf(number("1e999")));
    EXPECT_DOUBLE_EQ(number("1e-999"), 0.0);
    // A number too big for a float reads as the caller's default.
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonParse("1e999"), 2.0f), 2.0f);
    EXPECT_FLOAT_EQ(JsonAsFloat(JsonParse("1e39"), 2.0f), 2.0f);
    // "nan" and "inf" are not numbers in a document.
    EXPECT_TRUE(JsonMember(JsonParse(R"({"x": nan})"), "x").IsNull());
    EXPECT_EQ(JsonParse("-inf").number, 0.0);
}

TEST(Json, SurvivesDeepNesting) {
    const int deep = 100000;
    EXPECT_TRUE(JsonParse(std::string(deep, '[')).IsArray());
    std::string objects;
    for (int i = 0; i < deep; ++i) objects += "{\"a\":";
    EXPECT_TRUE(JsonParse(objects).IsObject());

    // A value nested past the limit reads as null; its container goes on reading after it.
    std::string text = "{\"deep\": " + std::string(deep, '[') + "\"]]\"" + std::string(deep, ']') + ", \"after\": 5}";
    JsonValue v = JsonParse(text);
    EXPECT_EQ(JsonAsInt(JsonMember(v, "after"), 0), 5);
    const JsonValue* level = &JsonMember(v, "deep");
    int arrays = 0;
    while (level->IsArray() && !level->items.empty()) {
        ++arrays;
        level = &level->items[0];
    }
    EXPECT_EQ(arrays + 1, kJsonMaxDepth);  // the root object is one of the levels
}

TEST(Json, WritesNumberFormats) {
    EXPECT_EQ(Written(0.1f), "0.1");
    EXPECT_EQ(Written(0.3f), "0.3");
    EXPECT_EQ(Written(0.0000001f), "1e-07");
    EXPECT_EQ(Written(1234567.0f), "1.23457e+06");
    EXPECT_EQ(Written(48000.5f), "48000.5");
    EXPECT_EQ(Written(-2.0f), "-2");
    // JSON has no spelling for these; null reads back as "absent".
    EXPECT_EQ(Written(NAN), "null");
    EXPECT_EQ(Written(INFINITY), "null");

    JsonWriter w;
    w.writeInt("i", -42);
    float curve[3] = {0.123456f, 1.0f, 1234567.0f};
    w.writeCurve("c", curve);
    EXPECT_EQ(w.out, "\n\"i\": -42,\n\"c\": [0.1235,1,1.235e+06]");

    // The decimal point does not follow the process locale.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_EQ(Written(0.5f), "0.5");
        EXPECT_DOUBLE_EQ(JsonParse("0.5").number, 0.5);
        std::setlocale(LC_NUMERIC, "C");
    }
}

TEST(Json, WritesEscapesAndLayout) {
    JsonWriter w;
    w.beginObject();
    w.writeString("k\x01", "a\x01\tb/\"\\\n\r\xC3\xA9");
    w.beginArray("list");
    w.writeIntItem(1);
    w.beginObject();
    w.writeBool("b", true);
    w.endObject();
    w.endArray();
    w.beginObject("empty");
    w.endObject();
    w.endObject();
    EXPECT_EQ(w.out,
              "{\n"
              "  \"k\\u0001\": \"a\\u0001\\tb/\\\"\\\\\\n\\r\xC3\xA9\",\n"
              "  \"list\": [\n"
              "    1,\n"
              "    {\n"
              "      \"b\": true\n"
              "    }\n"
              "  ],\n"
              "  \"empty\": {\n"
              "  }\n"
              "}");
    JsonValue back = JsonParse(w.out);
    EXPECT_EQ(back.members[0].first, "k\x01");
    EXPECT_EQ(JsonAsText(back.members[0].second), "a\x01\tb/\"\\\n\r\xC3\xA9");
    EXPECT_TRUE(JsonAsBool(JsonMember(JsonItem(JsonMember(back, "list"), 1), "b"), false));
}

}  // namespace
}  // namespace morvane
