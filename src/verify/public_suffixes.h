#pragma once
// The Public Suffix List (Debian's publicsuffix package): which top-level domains exist, and
// which names are suffixes under which anyone registers (com.cn, co.uk, *.ck).
#include <string>
#include <string_view>
#include <unordered_set>

namespace qm::verify {

inline constexpr const char* kDebianPublicSuffixList =
    "/usr/share/publicsuffix/public_suffix_list.dat";

class TPublicSuffixList {
 public:
  TPublicSuffixList() = default;
  // The list in its published text form: one rule a line, "//" comments, "*." wildcards,
  // "!" exceptions, internationalised rules in UTF-8 (kept as their ASCII form).
  static TPublicSuffixList Parse(std::string_view text);
  // Reads the file; an empty list when it cannot be read.
  static TPublicSuffixList Load(const std::string& path);

  bool Empty() const { return topLevel_.empty(); }
  // The last label of `domain` (lower-case ASCII, a trailing dot allowed) is a listed
  // top-level domain.
  bool KnownTopLevel(std::string_view domain) const;
  // `domain` itself is a public suffix: nothing is registered at it.
  bool IsPublicSuffix(std::string_view domain) const;

 private:
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using Names = std::unordered_set<std::string, StringHash, std::equal_to<>>;
  Names topLevel_;
  Names rules_;
  Names wildcardParents_;  // "ck" for "*.ck"
  Names exceptions_;       // "www.ck" for "!www.ck"
};

}  // namespace qm::verify
