#include "verify/disposable_domains.h"

#include <string>
#include <unordered_set>

namespace qm::verify {
namespace {

struct StringViewHash {
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Views into the built-in text, which lives as long as the program.
const std::unordered_set<std::string_view, StringViewHash>& DisposableSet() {
  static const auto* const set = [] {
    auto* domains = new std::unordered_set<std::string_view, StringViewHash>();
    std::string_view text = DisposableDomainsText();
    while (!text.empty()) {
      const size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (!line.empty() && !line.starts_with('#')) domains->insert(line);
    }
    return domains;
  }();
  return *set;
}

}  // namespace

bool IsDisposableDomain(std::string_view domain) {
  if (domain.ends_with('.')) domain.remove_suffix(1);
  const auto& set = DisposableSet();
  while (true) {
    if (set.find(domain) != set.end()) return true;
    const size_t dot = domain.find('.');
    if (dot == std::string_view::npos) return false;
    domain.remove_prefix(dot + 1);
  }
}

}  // namespace qm::verify
