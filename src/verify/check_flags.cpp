#include "verify/check_flags.h"

#include <array>
#include <utility>

namespace qm::verify {
namespace {

constexpr std::array<std::pair<uint32_t, std::string_view>, 7> kWords = {{
    {kNoMail, "no-mail"},
    {kBadTld, "bad-tld"},
    {kTooLong, "too-long"},
    {kRole, "role"},
    {kDisposable, "disposable"},
    {kBadRange, "bad-range"},
    {kUnchecked, "unchecked"},
}};

}  // namespace

std::string FlagsText(uint32_t flags) {
  if (flags == 0) return "ok";
  std::string text;
  for (const auto& [flag, word] : kWords) {
    if ((flags & flag) == 0) continue;
    if (!text.empty()) text += ',';
    text += word;
  }
  return text;
}

std::string_view FlagsWords(uint32_t flags) {
  static const auto* const words = [] {
    auto* all = new std::array<std::string, kAllFlags + 1>();
    for (uint32_t each = 0; each <= kAllFlags; ++each) (*all)[each] = FlagsText(each);
    return all;
  }();
  return (*words)[flags & kAllFlags];
}

uint32_t ParseFlags(std::string_view text) {
  uint32_t flags = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view word = text.substr(0, comma);
    for (const auto& [flag, known] : kWords) {
      if (word == known) flags |= flag;
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return flags;
}

bool IsValidChecks(std::string_view text) {
  return (ParseFlags(text) & ~kUnchecked) == 0;
}

}  // namespace qm::verify
