#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// What a sitemap lists: the pages of a <urlset>, or the further sitemaps of a
// <sitemapindex>; a plain-text sitemap lists pages, one address a line.
struct TSitemapEntries {
  std::vector<std::string> Pages;
  std::vector<std::string> Sitemaps;
};

// A sitemap's largest size once decompressed (the protocol allows 50 MB; contact pages
// are found long before that).
inline constexpr size_t kMaxSitemapBytes = size_t{8} << 20;

// The <loc> addresses of a sitemap (XML, or text), character references and CDATA
// undone, in the order given, at most `maxEntries` of them; only http and https
// addresses. A body that is a gzip file (a .xml.gz served as it is) is inflated first,
// within kMaxSitemapBytes. One pass, in time linear in the body.
TSitemapEntries ReadSitemap(std::string_view body, size_t maxEntries);

// The addresses of robots.txt's "Sitemap:" lines, at most `maxEntries`, in order.
std::vector<std::string> RobotsTxtSitemaps(std::string_view robotsTxt, size_t maxEntries);

// Where a site's own sitemap usually is: its scheme and authority, "/sitemap.xml".
std::string DefaultSitemapAddressOf(std::string_view absoluteAddress);

}  // namespace qm
