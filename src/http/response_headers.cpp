#include "http/response_headers.h"

#include "text/trim.h"

namespace qm {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The value of `line` when it is a header line named `name`, which holds no colon.
bool HeaderValue(std::string_view line, std::string_view name, std::string_view& value) {
  const size_t colon = name.size();
  if (line.size() <= colon || line[colon] != ':') return false;
  if (!EqualsIgnoringCase(line.substr(0, colon), name)) return false;
  value = TrimView(line.substr(colon + 1));
  return true;
}

}  // namespace

std::string ResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  std::string value;
  if (name.find(':') != std::string_view::npos) return value;
  std::string_view part;
  for (const std::string& line : lines) {
    if (!HeaderValue(line, name, part)) continue;
    if (!value.empty()) value += ", ";
    value.append(part);
  }
  return value;
}

std::string FirstResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  if (name.find(':') != std::string_view::npos) return {};
  std::string_view value;
  for (const std::string& line : lines) {
    if (HeaderValue(line, name, value)) return std::string(value);
  }
  return {};
}

}  // namespace qm
