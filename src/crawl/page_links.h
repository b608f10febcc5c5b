#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct TPageLink {
  std::string Address;  // absolute, resolved against the page's base; not yet normalised
  std::string Text;     // anchor text, image alternative texts and title, blanks collapsed
};

// The links of an HTML page in UTF-8 (<a href>, <area href>, <frame src>, <iframe src>, the
// address of a <meta http-equiv="refresh">), in the order they appear, taken relative to the
// page's first <base href> or else to `pageAddress` (absolute). Entities are decoded; links
// to the page's own fragments are left out. Text in another charset must be converted first:
// the parser reads bytes that are not UTF-8 as U+FFFD.
std::vector<TPageLink> ExtractPageLinks(std::string_view pageUtf8, std::string_view pageAddress);

}  // namespace qm
