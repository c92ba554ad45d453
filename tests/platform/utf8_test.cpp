#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

// What decides whether outside text is kept or decoded: well-formed UTF-8 only, and
// every code point written back the way other programs read it.
TEST(Utf8, OnlyWellFormedTextCountsAndEveryCodePointRoundTrips) {
    EXPECT_TRUE(IsValidUtf8("Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x94\x8A"));
    EXPECT_FALSE(IsValidUtf8("Caf\xE9"));             // Latin-1
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));            // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));        // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));    // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x80"));            // cut
    EXPECT_EQ(Utf8CharLength(""), 0u);

    for (char32_t code : {U'A', U'\u00E9', U'\u2014', U'\U0001F50A'}) {
        std::string text;
        AppendUtf8(text, code);
        EXPECT_TRUE(IsValidUtf8(text));
        EXPECT_EQ(Utf8CharLength(text), text.size());
    }
    EXPECT_EQ(Windows1252Character(0x85), U'\u2026');
    EXPECT_EQ(Windows1252Character(0x81), U'\uFFFD');
    EXPECT_EQ(Windows1252Character(0xE9), U'\u00E9');
}

}  // namespace
}  // namespace morvane
