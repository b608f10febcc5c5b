#include "http/response_headers.h"

#include "text/trim.h"

namespace qm {
namespace {

// The value of `line` when it is a header line named `lowerName`.
bool HeaderValue(std::string_view line, std::string_view lowerName, std::string_view& value) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon != lowerName.size()) return false;
  if (!EqualsAsciiLower(line.substr(0, colon), lowerName)) return false;
  value = TrimView(line.substr(colon + 1));
  return true;
}

}  // namespace

std::string ResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  const std::string wanted = AsciiLower(name);
  std::string value;
  std::string_view part;
  for (const std::string& line : lines) {
    if (!HeaderValue(line, wanted, part)) continue;
    if (!value.empty()) value += ", ";
    value.append(part);
  }
  return value;
}

std::string FirstResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  const std::string wanted = AsciiLower(name);
  std::string_view value;
  for (const std::string& line : lines) {
    if (HeaderValue(line, wanted, value)) return std::string(value);
  }
  return {};
}

}  // namespace qm
