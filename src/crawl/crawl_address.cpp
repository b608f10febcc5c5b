#include "crawl/crawl_address.h"

#include <algorithm>
#include <iterator>

#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

struct TAuthorityParts {
  std::string_view UserInfo;  // with its "@", if any
  std::string_view Host;
  std::string_view Port;  // without its ":"
};

TAuthorityParts SplitAuthority(std::string_view authority) {
  TAuthorityParts parts;
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    parts.UserInfo = authority.substr(0, at + 1);
    authority.remove_prefix(at + 1);
  }
  size_t hostEnd = authority.find(':');
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    hostEnd = close == std::string_view::npos ? std::string_view::npos : authority.find(':', close);
  }
  parts.Host = authority.substr(0, hostEnd);
  if (hostEnd != std::string_view::npos) parts.Port = authority.substr(hostEnd + 1);
  return parts;
}

// Bytes a request line cannot carry as they stand are sent percent-encoded (UTF-8 bytes of
// a non-ASCII address, blanks); "%" itself is taken as already encoding something.
void AppendPercentEncoded(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '<' || c == '>') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
}

// A registered name of letters, digits, "-", "." and "_", or an IP literal in brackets.
// Names in other scripts would need converting before a name lookup, which the fetch does
// not do, so such links are not followed.
bool IsFetchableHost(std::string_view host) {
  if (host.empty()) return false;
  const bool literal = host.front() == '[';
  if (literal && (host.size() < 3 || host.back() != ']')) return false;
  if (literal) host = host.substr(1, host.size() - 2);
  for (char c : host) {
    const bool letterOrDigit =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '.' && !(literal ? c == ':' : c == '-' || c == '_')) return false;
  }
  return true;
}

bool IsPort(std::string_view port) {
  return port.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string WithoutWww(std::string host) {
  if (host.starts_with("www.")) host.erase(0, 4);
  return host;
}

}  // namespace

std::optional<std::string> NormaliseCrawlAddress(std::string_view absoluteAddress) {
  const TUriReference parts = ParseUriReference(absoluteAddress);
  if (!parts.Scheme || !parts.Authority) return std::nullopt;
  const std::string scheme = AsciiLower(*parts.Scheme);
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const TAuthorityParts authority = SplitAuthority(*parts.Authority);
  if (!IsFetchableHost(authority.Host) || !IsPort(authority.Port)) return std::nullopt;

  std::string out = scheme + "://";
  AppendPercentEncoded(out, authority.UserInfo);
  out += AsciiLower(authority.Host);
  const std::string_view defaultPort = scheme == "http" ? "80" : "443";
  if (!authority.Port.empty() && authority.Port != defaultPort) {
    out += ':';
    out += authority.Port;
  }
  AppendPercentEncoded(out, parts.Path.empty() ? std::string_view("/") : parts.Path);
  if (parts.Query) {
    out += '?';
    AppendPercentEncoded(out, *parts.Query);
  }
  return out;
}

std::string WithDefaultScheme(std::string_view address) {
  const size_t separator = address.find("://");
  if (separator != std::string_view::npos && separator < address.find_first_of("/?#")) {
    return std::string(address);
  }
  return "http://" + std::string(address);
}

std::string PathAndQueryOf(std::string_view absoluteAddress) {
  const TUriReference parts = ParseUriReference(absoluteAddress);
  std::string out = parts.Path.empty() ? "/" : parts.Path;
  if (parts.Query) out += "?" + *parts.Query;
  return out;
}

std::string HostOfAddress(std::string_view absoluteAddress) {
  const TUriReference parts = ParseUriReference(absoluteAddress);
  if (!parts.Authority) return {};
  return AsciiLower(SplitAuthority(*parts.Authority).Host);
}

std::string SiteHostOf(std::string_view absoluteAddress) {
  return WithoutWww(HostOfAddress(absoluteAddress));
}

bool IsObviouslyNotText(std::string_view absoluteAddress) {
  static constexpr std::string_view kExtensions[] = {
      // images
      "jpg", "jpeg", "png", "gif", "bmp", "webp", "svg", "ico", "tif", "tiff", "avif", "psd",
      // archives, disk images and installers
      "zip", "rar", "7z", "gz", "tgz", "bz2", "xz", "tar", "iso", "cab", "exe", "msi", "apk", "dmg",
      "bin",
      // audio and video
      "mp3", "mp4", "m4a", "m4v", "aac", "flac", "wav", "wma", "ogg", "avi", "mov", "wmv", "flv",
      "mkv", "webm", "mpg", "mpeg", "rm", "rmvb", "swf",
      // fonts
      "woff", "woff2", "ttf", "otf", "eot",
      // style sheets and scripts
      "css", "js", "mjs", "map"};
  const std::string path = ParseUriReference(absoluteAddress).Path;
  const size_t slash = path.rfind('/');
  const std::string_view segment =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = segment.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string extension = AsciiLower(segment.substr(dot + 1));
  return std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
         std::end(kExtensions);
}

TSiteScope::TSiteScope(std::string_view listedAddress) {
  AddSiteOf(listedAddress);
}

void TSiteScope::AddSiteOf(std::string_view address) {
  std::string host = SiteHostOf(address);
  if (host.empty()) return;
  if (std::find(SiteHosts.begin(), SiteHosts.end(), host) == SiteHosts.end()) {
    SiteHosts.push_back(std::move(host));
  }
}

bool TSiteScope::IsOnSite(std::string_view address) const {
  const std::string host = SiteHostOf(address);
  return !host.empty() && std::find(SiteHosts.begin(), SiteHosts.end(), host) != SiteHosts.end();
}

bool TSiteScope::Admits(std::string_view address) const {
  return NormaliseCrawlAddress(address).has_value() && IsOnSite(address) &&
         !IsObviouslyNotText(address);
}

}  // namespace qm
