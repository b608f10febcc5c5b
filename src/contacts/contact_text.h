#pragma once
// A line of page text as the extended scanners read it: one byte per character, every
// contact-bearing character in plain ASCII however the page wrote it.
#include <string>
#include <string_view>

namespace qm {

// Bytes of the plain text that stand for characters outside ASCII.
inline constexpr char kOtherChar = '\x80';  // any other character
inline constexpr char kSoftSpace = '\x81';  // &nbsp;, U+00A0, U+3000: a gap, not a separator
inline constexpr char kHaoChar = '\x82';    // 号 (as in QQ号)
inline constexpr char kMaChar = '\x83';     // 码 (as in QQ号码)
inline constexpr char kHuanChar = '\x84';   // 换 (as in 把#换成@)

// The plain text of `line`, read as UTF-8 when it is valid UTF-8, else as code page 936:
// full-width forms (＠ ． ： digits, letters, brackets) become their ASCII characters, the
// enumeration comma 、 a ",", character references (&#64; &#x40; &commat; &period;) and
// "%40" are decoded, and "[at]", "(at)", "{at}", "[dot]", "(dot)", "{dot}" (any
// case, blanks around them dropped) become "@" and ".". Other characters become one of
// the bytes above.
void ContactTextOfLine(std::string_view line, std::string& plain);
// The same written at `plain`, which has room for line.size() bytes; its length.
size_t ContactTextOfLine(std::string_view line, char* plain);

}  // namespace qm
