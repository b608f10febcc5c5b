#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// The charset name iconv knows for a label as web pages write it, matched without regard
// to case: GB2312 and GBK (and their aliases) become GB18030, Big5 BIG5-HKSCS, Latin-1 and
// US-ASCII WINDOWS-1252 (as browsers read them), Shift_JIS CP932, EUC-KR CP949; any other
// label is passed on upper-cased. Empty for an empty label.
std::string CharsetForLabel(std::string_view label);

// True when text of `charset` (as CharsetForLabel gives it) that holds only bytes below
// 0x80 means those ASCII characters: false for UTF-16, UTF-32, UTF-7 and the 7-bit
// escape-switching charsets (HZ, ISO-2022).
bool IsAsciiCompatible(std::string_view charset);

// True when every byte of text is below 0x80.
bool IsAscii(std::string_view text);

// Converts `text` from `charset` to UTF-8; each byte sequence that is no character of the
// charset becomes U+FFFD. False when iconv knows no such charset or the UTF-8 text would be
// longer than `maxBytes` (`out` is then unspecified).
bool ConvertToUtf8(std::string_view text, const std::string& charset, size_t maxBytes,
                   std::string& out);

}  // namespace qm
