#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The paths where sites usually keep their contact and about pages, in the order they are
// worth trying ("/contact", "/lianxi", "/about.html", ...).
const std::vector<std::string_view>& WellKnownContactPaths();

// Those paths on the site of `absoluteAddress` (its scheme and authority).
std::vector<std::string> WellKnownContactAddresses(std::string_view absoluteAddress);

}  // namespace qm
