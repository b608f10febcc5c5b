#pragma once
// Character classes the extended scanners share, on the plain text of a line.
#include <string_view>

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
inline char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
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
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[i]) != word[i]) return false;
  }
  return true;
}

// The length of the run of digits at text[from].
inline size_t DigitRun(std::string_view text, size_t from) {
  size_t end = from;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - from;
}

}  // namespace qm::contact_chars
