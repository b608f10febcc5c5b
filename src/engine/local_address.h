#pragma once
#include <string>

namespace qm {

// The host's IPv4 address as dotted text: the last address the host's own name resolves
// to, or empty text when the name cannot be resolved.
std::string GetLocalAddress();

}  // namespace qm
