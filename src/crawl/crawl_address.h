#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The form under which a page counts as fetched once per run: scheme and host lower-case,
// the scheme's default port and an empty port dropped, an empty path made "/", the fragment
// dropped. Other than http and https, or without a host: no form at all.
std::optional<std::string> NormaliseCrawlAddress(std::string_view absoluteAddress);

// A list line's address as the fetch takes it: without "scheme://" before its first "/", "?"
// or "#", it is an http address.
std::string WithDefaultScheme(std::string_view address);

// What a request line asks for: path and query, "/" for an empty path.
std::string PathAndQueryOf(std::string_view absoluteAddress);

// The host of an address, lower-case, without port or user; empty when it has none.
std::string HostOfAddress(std::string_view absoluteAddress);
// The same without a leading "www.": one site's name whether the address has it or not.
std::string SiteHostOf(std::string_view absoluteAddress);

// Files that hold no text for the scanners (images, archives, media, fonts, style sheets,
// scripts), judged by the extension of the address's last path segment.
bool IsObviouslyNotText(std::string_view absoluteAddress);

// The site of a listed page: its host with or without a leading "www.". A redirect of the
// listed page adds the host it ends on.
class TSiteScope {
 public:
  explicit TSiteScope(std::string_view listedAddress);
  void AddSiteOf(std::string_view address);
  bool IsOnSite(std::string_view address) const;
  // On the site, http or https, and not obviously a file without text.
  bool Admits(std::string_view address) const;
  // The same for an address NormaliseCrawlAddress gave, which normalises to itself.
  bool AdmitsNormalised(std::string_view normalisedAddress) const;
  // Its hosts, lower-case, without a leading "www.".
  const std::vector<std::string>& Hosts() const { return SiteHosts; }

 private:
  std::vector<std::string> SiteHosts;
};

}  // namespace qm
