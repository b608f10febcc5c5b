#include "http/response_headers.h"

#include "text/trim.h"

namespace qm {

std::string ResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  const std::string wanted = AsciiLower(name);
  std::string value;
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon != wanted.size()) continue;
    if (AsciiLower(std::string_view(line).substr(0, colon)) != wanted) continue;
    const std::string_view part = TrimView(std::string_view(line).substr(colon + 1));
    if (!value.empty()) value += ", ";
    value.append(part);
  }
  return value;
}

}  // namespace qm
