#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// The longest User-Agent text sent; a longer setting is cut there.
inline constexpr size_t kMaxUserAgentBytes = 256;

// "qmharvest/VERSION": the program and its version, sent when no other text is set.
std::string DefaultUserAgent();

// What goes after "User-Agent: " for a configured text: its blanks around trimmed, control
// bytes (a line break would start a header of its own) left out, cut at kMaxUserAgentBytes;
// the program's own when nothing is left.
std::string UserAgentHeaderValue(std::string_view configured);

// The name robots.txt groups are matched against for a User-Agent text: its first product's
// name in lower case ("qmharvest/2.0.0" gives "qmharvest"), or for a browser-like
// "Mozilla/5.0 (compatible; Name/1.0)" the name in its comment; "qmharvest" when there is none.
std::string RobotsProductToken(std::string_view userAgent);

}  // namespace qm
