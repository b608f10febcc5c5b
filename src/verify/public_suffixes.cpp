#include "verify/public_suffixes.h"

#include <idn2.h>

#include <fstream>
#include <iterator>

namespace qm::verify {
namespace {

std::string_view StripRootDot(std::string_view domain) {
  if (domain.ends_with('.')) domain.remove_suffix(1);
  return domain;
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// A rule as the names in pages are written: ASCII, lower case, its internationalised labels
// in their "xn--" form. Empty when a label cannot be converted.
std::string AsciiRule(std::string_view rule) {
  std::string ascii;
  while (true) {
    const size_t dot = rule.find('.');
    const std::string label(rule.substr(0, dot));
    if (!ascii.empty()) ascii += '.';
    if (IsAscii(label)) {
      for (char c : label) ascii += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else {
      char* converted = nullptr;
      if (idn2_to_ascii_8z(label.c_str(), &converted, IDN2_NONTRANSITIONAL) != IDN2_OK) {
        idn2_free(converted);
        return {};
      }
      ascii += converted;
      idn2_free(converted);
    }
    if (dot == std::string_view::npos) return ascii;
    rule.remove_prefix(dot + 1);
  }
}

}  // namespace

TPublicSuffixList TPublicSuffixList::Parse(std::string_view text) {
  TPublicSuffixList list;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // The rule is the line up to its first white space.
    const size_t blank = line.find_first_of(" \t\r");
    line = line.substr(0, blank);
    if (line.empty() || line.starts_with("//")) continue;
    const bool exception = line.starts_with('!');
    if (exception) line.remove_prefix(1);
    const bool wildcard = line.starts_with("*.");
    if (wildcard) line.remove_prefix(2);
    const std::string rule = AsciiRule(line);
    if (rule.empty()) continue;
    const size_t lastDot = rule.rfind('.');
    list.topLevel_.insert(lastDot == std::string::npos ? rule : rule.substr(lastDot + 1));
    if (exception) {
      list.exceptions_.insert(rule);
    } else if (wildcard) {
      list.wildcardParents_.insert(rule);
    } else {
      list.rules_.insert(rule);
    }
  }
  return list;
}

TPublicSuffixList TPublicSuffixList::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(text);
}

bool TPublicSuffixList::KnownTopLevel(std::string_view domain) const {
  domain = StripRootDot(domain);
  const size_t lastDot = domain.rfind('.');
  const std::string_view top = lastDot == std::string_view::npos ? domain : domain.substr(lastDot + 1);
  return topLevel_.find(top) != topLevel_.end();
}

bool TPublicSuffixList::IsPublicSuffix(std::string_view domain) const {
  domain = StripRootDot(domain);
  if (rules_.find(domain) != rules_.end()) return true;
  if (exceptions_.find(domain) != exceptions_.end()) return false;
  const size_t dot = domain.find('.');
  return dot != std::string_view::npos &&
         wildcardParents_.find(domain.substr(dot + 1)) != wildcardParents_.end();
}

}  // namespace qm::verify
