#pragma once
// Character classes the extended scanners share, on the plain text of a line.
#include <string_view>

#include "text/trim.h"

namespace qm::contact_chars {

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool IsAlnum(char c) {
  return IsDigit(c) || IsLetter(c);
}
// What an address's local part may hold.
inline bool IsLocal(char c) {
  return IsAlnum(c) || c == '.' || c == '_' || c == '+' || c == '-';
}
inline bool IsDomain(char c) {
  return IsAlnum(c) || c == '.' || c == '-';
}

// True when `text` starts with `word` (lower case) in any case of its letters.
inline bool StartsWithFolded(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && EqualsAsciiLower(text.substr(0, word.size()), word);
}

// The length of the run of digits at text[from].
inline size_t DigitRun(std::string_view text, size_t from) {
  size_t end = from;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - from;
}

}  // namespace qm::contact_chars
