#pragma once
// Code page 936 (GBK): the lead-byte rule and conversion to and from UTF-8.
#include <string>
#include <string_view>

namespace qm {

// A byte that starts a double-byte character of code page 936.
inline bool IsCp936LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
// A byte that can follow a lead byte as the second byte of its character. A lead byte
// followed by any other byte is a character of its own, and that byte is read on its own.
inline bool IsCp936TrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

// Converts code page 936 text to UTF-8; a byte that cannot be converted becomes U+FFFD.
std::string Cp936ToUtf8(std::string_view text);
// Converts UTF-8 text to code page 936; a character that has no code becomes "?".
std::string Utf8ToCp936(std::string_view text);

// True when text is well-formed UTF-8 (ASCII included).
bool IsValidUtf8(std::string_view text);
// The length of the well-formed UTF-8 character at text[at], or 0 when none starts there.
size_t Utf8CharacterLength(std::string_view text, size_t at);

}  // namespace qm
