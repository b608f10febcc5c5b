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
  const auto encoded = [](unsigned char byte) {
    return byte <= 0x20 || byte >= 0x7F || byte == '"' || byte == '<' || byte == '>';
  };
  // Runs of bytes that stand as they are go in at once.
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!encoded(byte)) continue;
    out.append(text.substr(plain, i - plain));
    const char escape[] = {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
    out.append(escape, sizeof escape);
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

// The host of an absolute address as written, without user and port.
std::string_view HostView(std::string_view absoluteAddress) {
  const TUriView parts = ParseUriView(absoluteAddress);
  return parts.Authority ? SplitAuthority(*parts.Authority).Host : std::string_view();
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
  const TUriView parts = ParseUriView(absoluteAddress);
  if (!parts.Scheme || !parts.Authority) return std::nullopt;
  const bool http = EqualsAsciiLower(*parts.Scheme, "http");
  if (!http && !EqualsAsciiLower(*parts.Scheme, "https")) return std::nullopt;
  const TAuthorityParts authority = SplitAuthority(*parts.Authority);
  if (!IsFetchableHost(authority.Host) || !IsPort(authority.Port)) return std::nullopt;

  std::string out;
  out.reserve(absoluteAddress.size() + 8);
  out = http ? "http://" : "https://";
  AppendPercentEncoded(out, authority.UserInfo);
  const size_t hostStart = out.size();
  out.append(authority.Host);
  for (size_t i = hostStart; i < out.size(); ++i) out[i] = AsciiLower(out[i]);
  const std::string_view defaultPort = http ? "80" : "443";
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
  const TUriView parts = ParseUriView(absoluteAddress);
  std::string out(parts.Path.empty() ? "/" : parts.Path);
  if (parts.Query) out.append("?").append(*parts.Query);
  return out;
}

std::string HostOfAddress(std::string_view absoluteAddress) {
  return AsciiLower(HostView(absoluteAddress));
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
  const std::string_view path = ParseUriView(absoluteAddress).Path;
  const size_t slash = path.rfind('/');
  const std::string_view segment = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
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
  // SiteHostOf without its copies: a page's every link is asked about.
  std::string_view host = HostView(address);
  if (EqualsAsciiLower(host.substr(0, 4), "www.")) host.remove_prefix(4);
  if (host.empty()) return false;
  return std::any_of(SiteHosts.begin(), SiteHosts.end(),
                     [host](const std::string& site) { return EqualsAsciiLower(host, site); });
}

bool TSiteScope::Admits(std::string_view address) const {
  return NormaliseCrawlAddress(address).has_value() && AdmitsNormalised(address);
}

bool TSiteScope::AdmitsNormalised(std::string_view normalisedAddress) const {
  return IsOnSite(normalisedAddress) && !IsObviouslyNotText(normalisedAddress);
}

}  // namespace qm
