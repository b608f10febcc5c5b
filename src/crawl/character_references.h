#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// Decodes the character reference at the start of `text` (which starts with "&") as an HTML
// tokenizer reads it and appends it to `out` in UTF-8. Returns the bytes it took, or 0 when
// no reference starts there and the "&" is plain text. Numeric references are read in full;
// named ones from a table of those links and their texts hold (the markup characters, the
// Latin-1 letters and signs, punctuation). In an attribute value a name without ";" that
// runs on into "=" or a letter or digit is no reference, as in "?a=1&copy=2".
size_t AppendCharacterReference(std::string_view text, bool inAttribute, std::string& out);
// The same, giving the character instead of appending it.
size_t ReadCharacterReference(std::string_view text, bool inAttribute, char32_t& codePoint);

// `text` with every character reference decoded.
std::string DecodeCharacterReferences(std::string_view text, bool inAttribute);

void AppendUtf8(char32_t codePoint, std::string& out);
// Writes the code point's UTF-8 bytes, at most kMaxUtf8Bytes, to `out` and returns how many.
constexpr size_t kMaxUtf8Bytes = 4;
size_t EncodeUtf8(char32_t codePoint, char* out);

}  // namespace qm
