#pragma once
// UTF-8 checks and the one 8-bit code page our inputs arrive in. Text is UTF-8 inside
// the program; sound-file chunks, session texts and file names from other systems may
// not be, and every reader that turns outside bytes into our text uses these.
//
// Any thread may call these; they keep no state.
#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

// The length (1 to 4) of the well-formed UTF-8 character at the start of `text`, or 0
// when its bytes are not one: a stray continuation byte, a cut sequence, an overlong
// form, a surrogate or a code point beyond U+10FFFF.
size_t Utf8CharLength(std::string_view text);

// Every byte of `text` belongs to a well-formed UTF-8 character.
bool IsValidUtf8(std::string_view text);

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// The character a Windows-1252 byte stands for: Latin-1 but for 0x80..0x9F, whose
// five unassigned bytes become U+FFFD.
char32_t Windows1252Character(unsigned char byte);

}  // namespace morvane
