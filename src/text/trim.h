#pragma once
#include <string>
#include <string_view>

namespace qm {

// Removes every leading and trailing byte whose value is 32 or less.
std::string_view TrimView(std::string_view value);
inline std::string Trim(std::string_view value) {
  return std::string(TrimView(value));
}

// The text before the first occurrence of delimiter (the whole value when it does not
// occur), trimmed.
std::string TextBefore(std::string_view value, std::string_view delimiter);
// The text after the first occurrence of delimiter (the whole value when it does not
// occur), trimmed.
std::string TextAfter(std::string_view value, std::string_view delimiter);

// Maps the ASCII letters a to z to capitals and leaves every other byte alone.
std::string AsciiUpper(std::string_view value);
// Maps the ASCII capitals A to Z to small letters and leaves every other byte alone.
std::string AsciiLower(std::string_view value);
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// `text` equals `lowerCase` (small letters) once its ASCII capitals are made small.
bool EqualsAsciiLower(std::string_view text, std::string_view lowerCase);

}  // namespace qm
