#include "text/trim.h"

namespace qm {

std::string_view TrimView(std::string_view value) {
  size_t begin = 0;
  size_t end = value.size();
  while (begin < end && static_cast<unsigned char>(value[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(value[end - 1]) <= 32) --end;
  return value.substr(begin, end - begin);
}

std::string TextBefore(std::string_view value, std::string_view delimiter) {
  const size_t at = value.find(delimiter);
  return Trim(at == std::string_view::npos ? value : value.substr(0, at));
}

std::string TextAfter(std::string_view value, std::string_view delimiter) {
  const size_t at = value.find(delimiter);
  return Trim(at == std::string_view::npos ? value : value.substr(at + delimiter.size()));
}

std::string AsciiUpper(std::string_view value) {
  std::string result(value);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string AsciiLower(std::string_view value) {
  std::string result(value);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

bool EqualsAsciiLower(std::string_view text, std::string_view lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace qm
