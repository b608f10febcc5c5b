#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The value of the response header `name` (matched without regard to case) among the lines
// of a response head; several lines of that name are joined with ", " as one list. Lines
// whose name is not a single token (a status line) are passed over. Empty when absent.
std::string ResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name);

// The value of the first line of that name only, for headers that are no list (Location).
std::string FirstResponseHeaderValue(const std::vector<std::string>& lines, std::string_view name);

}  // namespace qm
