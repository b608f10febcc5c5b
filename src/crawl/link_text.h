#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "crawl/character_references.h"

namespace qm {

// A link's words are enough to rank it; an unclosed <a> may hold the rest of the page.
constexpr size_t kMaxLinkText = 256;

// A link's text as it is gathered from the page: character references decoded, blanks
// collapsed, and once longer than its cap, no longer growing.
class TLinkText {
 public:
  // Appends text of the page, or of an attribute's value.
  void AppendCollapsed(std::string_view raw, bool inAttribute);
  // Appends an attribute's value (an image's alternative text, a title) as words of their own.
  void AppendPhrase(std::string_view rawAttribute);
  // The text cut to its cap at a character, without a trailing blank; this is left empty.
  std::string Take();

 private:
  void AppendBlank();

  // Nothing is appended once the text is longer than its cap, and nothing appended adds more
  // than a character past it.
  std::array<char, kMaxLinkText + kMaxUtf8Bytes> Bytes{};
  size_t Size = 0;
};

}  // namespace qm
