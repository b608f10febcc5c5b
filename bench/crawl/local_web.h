#pragma once
// A generated web of organisations' sites, each on a loopback address of its own, with a
// known set of contacts planted in it.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qm::bench {

// "kind\tvalue" in the forms the harvester lists them: e-mail addresses in lower case,
// mobile numbers as 11 digits, QQ numbers as digits alone.
using ContactSet = std::set<std::string>;

struct LocalWeb {
  int Port = 0;
  std::vector<std::string> Hosts;  // "127.0.0.2", "127.0.0.3", ...
  ContactSet Planted;
  int PlantedInFooters = 0;    // on every page of a site, the home page included
  int PlantedBeyondPlain = 0;  // only in forms that plain patterns miss
  int HtmlPages = 0;           // linked from the home pages, traps included
  std::string HomeAddress(size_t site) const;
};

// The loopback addresses of `sites` sites (at most 253): 127.0.0.2, 127.0.0.3, ...
std::vector<std::string> SiteHosts(int sites);

// Writes a site for each of `hosts` below `root`, its pages in `root`/HOST/, for `port`.
// Every site's home page links (relatively, from the root and absolutely; with Chinese and
// English texts, sometimes only an image's text) to a contact page that holds most of the
// site's contacts and an about page, to news and product pages, images and a brochure, to
// another site's partner page, and to an admin area that its robots.txt forbids. Pages
// reached only by leaving the site or by ignoring robots.txt hold contacts that were not
// planted.
LocalWeb WriteLocalWeb(const std::filesystem::path& root, const std::vector<std::string>& hosts,
                       int port);

// A port on which nothing listens at any of `hosts` now, or 0.
int PortFreeOnEveryHost(const std::vector<std::string>& hosts);

// Directives for the server block of the nginx fixture: a listen per site, each address's
// pages from `root`/ADDRESS, and an access log per site, `logFolder`/ADDRESS.log.
std::string MultiSiteDirectives(const LocalWeb& web, const std::filesystem::path& root,
                                const std::filesystem::path& logFolder);

}  // namespace qm::bench
