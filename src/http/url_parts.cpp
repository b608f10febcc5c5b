#include "http/url_parts.h"

#include "text/trim.h"

namespace qm {

TUrlParts SplitUrl(std::string_view url) {
  TUrlParts parts;
  std::string_view rest = url;
  const size_t scheme = url.find("://");
  if (scheme != std::string_view::npos && url.find_first_of("/?#") >= scheme) {
    parts.Protocol = TextBefore(url, "://");
    rest = url.substr(scheme + 3);
  }
  const size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view tail =
      authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

  if (authority.find('@') != std::string_view::npos) {
    const std::string credentials = TextBefore(authority, "@");
    authority = authority.substr(authority.find('@') + 1);
    if (credentials.find(':') != std::string::npos) {
      parts.User = TextBefore(credentials, ":");
      parts.Password = TextAfter(credentials, ":");
    } else {
      parts.User = credentials;
    }
  }
  if (authority.find(':') != std::string_view::npos) {
    parts.Host = TextBefore(authority, ":");
    parts.Port = TextAfter(authority, ":");
  } else {
    parts.Host = Trim(authority);
    if (AsciiUpper(parts.Protocol) == "HTTPS") parts.Port = "443";
  }
  if (parts.Host.empty()) parts.Host = "localhost";

  tail = tail.substr(0, tail.find('#'));
  if (!tail.empty() && tail.front() == '/') tail.remove_prefix(1);
  const std::string trimmedTail = Trim(tail);
  parts.RequestUri = "/" + trimmedTail;
  if (trimmedTail.find('?') != std::string::npos) {
    parts.Path = "/" + TextBefore(trimmedTail, "?");
    parts.Query = TextAfter(trimmedTail, "?");
  } else {
    parts.Path = "/" + trimmedTail;
  }
  return parts;
}

}  // namespace qm
