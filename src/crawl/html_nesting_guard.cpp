#include "crawl/html_nesting_guard.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "text/trim.h"

namespace qm {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool StaysOpenUntilClosed(std::string_view name) {
  static constexpr std::string_view kClosedByThemselves[] = {
      // void elements
      "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
      "track", "wbr", "keygen", "basefont", "bgsound", "frame",
      // end tag may be omitted
      "p", "li", "dt", "dd", "option", "optgroup", "tr", "td", "th", "thead", "tbody", "tfoot",
      "colgroup", "caption", "rb", "rt", "rtc", "rp", "html", "head", "body"};
  return std::find(std::begin(kClosedByThemselves), std::end(kClosedByThemselves), name) ==
         std::end(kClosedByThemselves);
}

bool HoldsRawText(std::string_view name) {
  return name == "script" || name == "style" || name == "textarea" || name == "title" ||
         name == "xmp" || name == "iframe" || name == "noembed" || name == "noframes" ||
         name == "plaintext";
}

// Position after the first case-insensitive occurrence of `needle` at or after `from`.
size_t FindAfterIgnoringCase(std::string_view html, std::string_view needle, size_t from) {
  for (size_t at = html.find('<', from); at != std::string_view::npos;
       at = html.find('<', at + 1)) {
    if (at + needle.size() > html.size()) break;
    bool same = true;
    for (size_t i = 0; i < needle.size() && same; ++i) {
      same = AsciiLower(html[at + i]) == needle[i];
    }
    if (same) return at + needle.size();
  }
  return html.size();
}

// The position after the ">" that ends the tag whose name ends at `at`; quoted attribute
// values may hold ">". `selfClosing` tells whether "/>" ended it.
size_t SkipTagRest(std::string_view html, size_t at, bool& selfClosing) {
  selfClosing = false;
  while (at < html.size()) {
    const char c = html[at];
    if (c == '"' || c == '\'') {
      const size_t close = html.find(c, at + 1);
      if (close == std::string_view::npos) return html.size();
      at = close + 1;
      selfClosing = false;
    } else if (c == '>') {
      return at + 1;
    } else {
      selfClosing = c == '/';
      ++at;
    }
  }
  return html.size();
}

}  // namespace

size_t LengthWithinNestingDepth(std::string_view html, int maxDepth) {
  int depth = 0;
  int foreignDepth = 0;
  size_t at = 0;
  std::string name;
  while ((at = html.find('<', at)) != std::string_view::npos) {
    const size_t tagStart = at;
    if (html.substr(at, 4) == "<!--") {
      const size_t end = html.find("-->", at + 4);
      at = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const bool endTag = at + 1 < html.size() && html[at + 1] == '/';
    size_t nameAt = at + (endTag ? 2 : 1);
    if (nameAt >= html.size() || !IsAsciiLetter(html[nameAt])) {
      // "<!DOCTYPE", "<?xml", or a "<" that is just text.
      const bool declaration = at + 1 < html.size() && (html[at + 1] == '!' || html[at + 1] == '?');
      at = declaration ? html.find('>', at) : at + 1;
      if (at == std::string_view::npos) break;
      continue;
    }
    name.clear();
    while (nameAt < html.size() && html[nameAt] != '>' && html[nameAt] != '/' &&
           html[nameAt] != ' ' && html[nameAt] != '\t' && html[nameAt] != '\n' &&
           html[nameAt] != '\r' && html[nameAt] != '\f') {
      name += AsciiLower(html[nameAt++]);
    }
    bool selfClosing = false;
    at = SkipTagRest(html, nameAt, selfClosing);
    if (!StaysOpenUntilClosed(name)) continue;
    const bool foreignRoot = name == "svg" || name == "math";
    if (endTag) {
      depth = std::max(depth - 1, 0);
      if (foreignRoot) foreignDepth = std::max(foreignDepth - 1, 0);
    } else if (HoldsRawText(name) && foreignDepth == 0) {
      at = FindAfterIgnoringCase(html, "</" + name, at);
    } else if (selfClosing && (foreignDepth > 0 || foreignRoot)) {
      // Only inside svg and math does "/>" close an element; elsewhere it is ignored.
    } else {
      if (foreignRoot) ++foreignDepth;
      if (++depth > maxDepth) return tagStart;
    }
  }
  return html.size();
}

}  // namespace qm
