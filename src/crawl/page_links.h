#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct TPageLink {
  std::string Address;  // absolute, resolved against the page's base; not yet normalised
  std::string Text;     // anchor text, image alternative texts and title, blanks collapsed
};

// When a scan gives up and returns the links it has: at a time, when a flag is raised (a
// stopped run), or with so many links.
struct TLinkScanLimits {
  std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool>* Stop = nullptr;
  size_t MaxLinks = 20000;
};

// The links of an HTML page in UTF-8 (<a href>, <area href>, <frame src>, <iframe src>, the
// address of a <meta http-equiv="refresh">), in the order they appear, taken relative to the
// page's first <base href> or else to `pageAddress` (absolute). Character references are
// decoded; links to the page's own fragments and links that carry a user name or password
// are left out. One pass over the page, in time linear in its length and memory bounded by
// the links kept, whatever its markup.
std::vector<TPageLink> ExtractPageLinks(std::string_view pageUtf8, std::string_view pageAddress,
                                        const TLinkScanLimits& limits = {});

}  // namespace qm
