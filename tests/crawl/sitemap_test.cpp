// A site's pages beyond its links: its sitemaps (XML, index, text, gzip, robots.txt's
// Sitemap lines) and the paths where sites usually keep their contact pages.
#include "crawl/sitemap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crawl/robots_rules.h"
#include "crawl/site_crawl.h"
#include "crawl/well_known_paths.h"
#include "http/compression_support.h"

namespace qm {
namespace {

using Strings = std::vector<std::string>;

TEST(Sitemap, ReadsPagesAndNestedSitemapsOfEveryForm) {
  const struct {
    const char* name;
    std::string body;
    Strings pages;
    Strings sitemaps;
  } rows[] = {
      {"urlset",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
       "<url><loc>http://a.cn/</loc><lastmod>2024-01-01</lastmod></url>\n"
       "<url>\n  <loc>\n   http://a.cn/contact.html  \n  </loc>\n</url>\n"
       "<url><LOC>https://a.cn/p?x=1&amp;y=2</LOC></url></urlset>",
       {"http://a.cn/", "http://a.cn/contact.html", "https://a.cn/p?x=1&y=2"},
       {}},
      {"index",
       "<sitemapindex><sitemap><loc>http://a.cn/s1.xml</loc></sitemap>"
       "<sitemap><loc>http://a.cn/s2.xml.gz</loc></sitemap></sitemapindex>",
       {},
       {"http://a.cn/s1.xml", "http://a.cn/s2.xml.gz"}},
      {"cdata, comments, prefixes",
       "<s:urlset><!-- <loc>http://a.cn/hidden</loc> -->"
       "<s:url><s:loc><![CDATA[http://a.cn/a&b]]></s:loc></s:url>"
       "<url><loc/><loc>javascript:alert(1)</loc><loc>ftp://a.cn/f</loc></url></s:urlset>",
       {"http://a.cn/a&b"},
       {}},
      {"text",
       "\xEF\xBB\xBFhttp://a.cn/one\r\n\r\n  https://a.cn/two  \nnot an address\nhttp://a.cn/x y\n",
       {"http://a.cn/one", "https://a.cn/two"},
       {}},
      {"gzip file",
       test::Gzip("<urlset><url><loc>http://a.cn/z</loc></url></urlset>"),
       {"http://a.cn/z"},
       {}},
      {"cut off",
       "<urlset><url><loc>http://a.cn/a</loc></url><url><loc>http://a.cn/b",
       {"http://a.cn/a"},
       {}},
      {"corrupt gzip", std::string("\x1F\x8B\x08\x00garbage", 12), {}, {}},
      {"empty", "", {}, {}},
      {"unclosed tag", "<urlset <url", {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TSitemapEntries entries = ReadSitemap(row.body, 100);
    EXPECT_EQ(entries.Pages, row.pages);
    EXPECT_EQ(entries.Sitemaps, row.sitemaps);
  }
}

TEST(Sitemap, StaysWithinItsBoundsOnHugeAndHostileBodies) {
  std::string many = "<urlset>";
  for (int i = 0; i < 50000; ++i)
    many += "<url><loc>http://a.cn/" + std::to_string(i) + "</loc></url>";
  many += "</urlset>";
  EXPECT_EQ(ReadSitemap(many, 2000).Pages.size(), 2000u);
  // A gzip bomb inflates only to the cap.
  const std::string bomb = test::Gzip(std::string(24u << 20, '<'));
  EXPECT_TRUE(ReadSitemap(bomb, 10).Pages.empty());
  // Markup of nothing but openings takes one pass.
  EXPECT_TRUE(ReadSitemap(std::string(4u << 20, '<'), 10).Pages.empty());
  EXPECT_TRUE(ReadSitemap("<loc>" + std::string(1u << 20, 'a'), 10).Pages.empty());
}

TEST(Sitemap, RobotsTxtSitemapLinesAndTheDefaultPlace) {
  const std::string robots =
      "User-agent: *\nDisallow: /x/\nSitemap: http://a.cn/s1.xml\n"
      "sitemap:https://a.cn/s2.xml # main\nSITEMAP :  /relative.xml\nSitemap: mailto:a@b.cn\n"
      "User-agent: qmharvest\nSitemap: http://a.cn/s3.xml.gz\nDisallow: /y/\n";
  EXPECT_EQ(RobotsTxtSitemaps(robots, 8),
            (Strings{"http://a.cn/s1.xml", "https://a.cn/s2.xml", "http://a.cn/s3.xml.gz"}));
  EXPECT_EQ(RobotsTxtSitemaps(robots, 1), Strings{"http://a.cn/s1.xml"});
  // The rules keep them, and Sitemap lines still neither end nor join a group.
  const TRobotsRules rules = TRobotsRules::Parse(robots, "qmharvest");
  EXPECT_EQ(rules.Sitemaps().size(), 3u);
  EXPECT_FALSE(rules.Allows("/y/1"));
  EXPECT_TRUE(rules.Allows("/x/1"));
  EXPECT_TRUE(TRobotsRules::Parse("Sitemap: http://a.cn/s.xml\n", "q").Allows("/any"));
  EXPECT_TRUE(TRobotsRules().Sitemaps().empty());

  EXPECT_EQ(DefaultSitemapAddressOf("https://u:p@a.cn:8080/dir/page.html?q=1#f"),
            "https://u:p@a.cn:8080/sitemap.xml");
  EXPECT_EQ(DefaultSitemapAddressOf("http://a.cn"), "http://a.cn/sitemap.xml");
}

TEST(WellKnownPaths, OnTheListedPagesOriginContactPathsRankFirst) {
  const Strings addresses = WellKnownContactAddresses("http://a.cn:81/x/index.php?id=3#top");
  ASSERT_EQ(addresses.size(), WellKnownContactPaths().size());
  for (const char* expected :
       {"http://a.cn:81/contact", "http://a.cn:81/contact.html", "http://a.cn:81/contact-us",
        "http://a.cn:81/contactus", "http://a.cn:81/about", "http://a.cn:81/about.html",
        "http://a.cn:81/aboutus", "http://a.cn:81/lianxi", "http://a.cn:81/lxwm",
        "http://a.cn:81/contact.php"}) {
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), expected), addresses.end()) << expected;
  }
  // Offered to a site, the contact paths are taken before the about paths, and none twice.
  TSiteCrawl site("http://a.cn:81/", {1, 100, 100}, true);
  ASSERT_TRUE(site.OpenListedLine(0, "http://a.cn:81/"));
  std::vector<TPageLink> links;
  for (const std::string& address : addresses) links.push_back({address, {}});
  EXPECT_EQ(site.OfferLinks(links, 0, 0, TPageSource::WellKnownPath), addresses.size());
  EXPECT_EQ(site.OfferLinks(links, 0, 0, TPageSource::WellKnownPath), addresses.size());
  std::vector<int64_t> completed;
  Strings taken;
  while (std::optional<TCrawlPage> page = site.TakeNext(completed)) {
    EXPECT_EQ(page->Source, TPageSource::WellKnownPath);
    EXPECT_EQ(page->Depth, 1);
    taken.push_back(page->Address);
  }
  ASSERT_EQ(taken.size(), addresses.size());
  const auto firstAbout = std::find_if(taken.begin(), taken.end(), [](const std::string& a) {
    return a.find("about") != std::string::npos || a.find("gywm") != std::string::npos;
  });
  for (auto it = firstAbout; it != taken.end(); ++it) {
    EXPECT_TRUE(it->find("contact") == std::string::npos && it->find("lianxi") == std::string::npos)
        << *it;
  }
}

TEST(SiteCrawl, DiscoveryIsClaimedOnceAndOnlyWhereLinksAreFollowed) {
  TSiteCrawl followed("http://a.cn/", {1, 20, 2}, true);
  EXPECT_TRUE(followed.ClaimDiscovery());
  EXPECT_FALSE(followed.ClaimDiscovery());
  TSiteCrawl searchedBefore("http://a.cn/", {1, 20, 2}, false);
  EXPECT_FALSE(searchedBefore.ClaimDiscovery());
  TSiteCrawl listedOnly("http://a.cn/", {0, 20, 2}, true);
  EXPECT_FALSE(listedOnly.ClaimDiscovery());
  // Links off the site or of files without text are not counted as the site's.
  ASSERT_TRUE(followed.OpenListedLine(0, "http://a.cn/"));
  EXPECT_EQ(followed.OfferLinks({{"http://b.cn/x", ""},
                                 {"http://a.cn/logo.png", ""},
                                 {"http://www.a.cn/y", ""},
                                 {"http://a.cn/", ""}},
                                0, 0, TPageSource::Sitemap),
            2u);
}

}  // namespace
}  // namespace qm
