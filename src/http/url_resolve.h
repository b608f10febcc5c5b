#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The five parts of a URI reference (RFC 3986, appendix B). A part that is absent differs
// from one that is present and empty ("http://h?" has an empty query).
struct TUriReference {
  std::optional<std::string> Scheme;
  std::optional<std::string> Authority;
  std::string Path;
  std::optional<std::string> Query;
  std::optional<std::string> Fragment;
};

// The same parts as views into the text parsed, for callers that only look at them.
struct TUriView {
  std::optional<std::string_view> Scheme;
  std::optional<std::string_view> Authority;
  std::string_view Path;
  std::optional<std::string_view> Query;
  std::optional<std::string_view> Fragment;
};

TUriView ParseUriView(std::string_view text);
TUriReference ParseUriReference(std::string_view text);
std::string ComposeUriReference(const TUriReference& reference);

// Removes "." and ".." segments from a path (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string_view path);

// The target of `reference` taken relative to the absolute address `base` (RFC 3986, 5.2,
// strict: a reference with a scheme is taken as it stands).
std::string ResolveReference(std::string_view base, std::string_view reference);

// `address` without the user name and password before its host: credentials that are not
// the user's own are never sent on or written.
std::string WithoutUserInfo(const std::string& address);

}  // namespace qm
