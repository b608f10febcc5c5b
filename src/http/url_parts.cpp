#include "http/url_parts.h"

#include "text/trim.h"

namespace qm {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The bytes of a request target beyond letters and digits: unreserved, sub-delims, ":",
// "@", and "/" and "?" that separate the path and query.
bool MayStandInTarget(char c) {
  return IsAlphanumeric(c) ||
         std::string_view("-._~!$&'()*+,;=:@/?").find(c) != std::string_view::npos;
}

// A host name that holds anything beyond these does not resolve anyway; through a proxy it
// must still not break the request line.
bool MayStandInHost(char c) {
  return c > 0x20 && c < 0x7F;
}

template <typename MayStand>
std::string PercentEncoded(std::string_view text, MayStand mayStand) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool escape =
        c == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2]);
    if (escape || (c != '%' && mayStand(c))) {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

// Where the authority of `address` lies, as SplitUrl finds it.
std::string_view::size_type AuthorityStart(std::string_view address) {
  const size_t scheme = address.find("://");
  if (scheme != std::string_view::npos && address.find_first_of("/?#") >= scheme) {
    return scheme + 3;
  }
  return 0;
}

}  // namespace

TUrlParts SplitUrl(std::string_view url) {
  TUrlParts parts;
  std::string_view rest = url;
  const size_t authorityStart = AuthorityStart(url);
  if (authorityStart > 0) {
    parts.Protocol = TextBefore(url, "://");
    rest = url.substr(authorityStart);
  }
  const size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view tail =
      authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

  // A user name or password cannot hold an "@" unencoded: the host follows the last one.
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view credentials = authority.substr(0, at);
    authority = authority.substr(at + 1);
    if (credentials.find(':') != std::string_view::npos) {
      parts.User = TextBefore(credentials, ":");
      parts.Password = TextAfter(credentials, ":");
    } else {
      parts.User = Trim(credentials);
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

std::string EncodeRequestTarget(std::string_view target) {
  return PercentEncoded(target, MayStandInTarget);
}

std::string EncodeRequestHost(std::string_view host) {
  return PercentEncoded(host, MayStandInHost);
}

std::string WithoutPassword(std::string_view address) {
  const size_t start = AuthorityStart(address);
  const std::string_view rest = address.substr(start);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  const size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  const size_t colon = authority.substr(0, at).find(':');
  if (colon == std::string_view::npos || colon + 1 == at) return std::string(address);
  std::string masked(address.substr(0, start + colon + 1));
  masked += "***";
  masked += address.substr(start + at);
  return masked;
}

}  // namespace qm
