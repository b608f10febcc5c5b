#include "crawl/site_crawl.h"

#include <gtest/gtest.h>

#include <functional>

#include "crawl/site_registry.h"

namespace qm {
namespace {

using LinksOf = std::function<std::vector<TPageLink>(const std::string&)>;

// Opens one line per listed address, then takes every followed page the site gives,
// finishing each at once with the links `linksOf` names for it; returns "address@depth" in
// the order taken, and the lines in the order they completed.
struct CrawlResult {
  std::vector<std::string> Taken;
  std::vector<int64_t> Completed;
};
CrawlResult Crawl(TSiteCrawl& site, const std::vector<std::string>& listed,
                  const LinksOf& linksOf) {
  CrawlResult result;
  for (size_t line = 0; line < listed.size(); ++line) {
    if (!site.OpenListedLine(static_cast<int64_t>(line), listed[line])) continue;
    site.OfferLinks(linksOf(listed[line]), 0, static_cast<int64_t>(line));
    site.PageDone(static_cast<int64_t>(line), false, result.Completed);
  }
  while (std::optional<TCrawlPage> page = site.TakeNext(result.Completed)) {
    result.Taken.push_back(page->Address + "@" + std::to_string(page->Depth));
    site.OfferLinks(linksOf(page->Address), page->Depth, page->Line);
    site.PageDone(page->Line, true, result.Completed);
  }
  EXPECT_TRUE(site.Idle());
  return result;
}

std::vector<TPageLink> HomeLinks() {
  return {{"http://example.com/news.html", "News"},
          {"http://example.com/about.html", "About us"},
          {"http://example.com/products.html", "Products"},
          {"http://www.example.com/lxwm.html", "联系我们"},
          {"http://example.com/news.html#latest", "News again"},
          {"http://other.com/contact", "Contact"},
          {"http://example.com/map.jpg", "Contact map"},
          {"mailto:info@example.com", "Contact"}};
}

TEST(SiteCrawl, ContactPagesFirstOnTheSiteOnceToTheDepth) {
  TSiteCrawl site("http://example.com/", {.MaxDepth = 2, .PageLimit = 20}, true);
  const auto result = Crawl(site, {"http://Example.com"}, [](const std::string& address) {
    if (address == "http://Example.com") return HomeLinks();
    if (address == "http://example.com/news.html") {
      return std::vector<TPageLink>{{"http://example.com", "Home"},
                                    {"http://example.com/team.html", "Team"},
                                    {"http://example.com/n2.html", "Older news"}};
    }
    return std::vector<TPageLink>{};
  });
  const std::vector<std::string> expected = {
      "http://www.example.com/lxwm.html@1",
      "http://example.com/about.html@1",
      // Found later but ranked above the plain pages of depth 1.
      "http://example.com/news.html@1",
      "http://example.com/team.html@2",
      "http://example.com/products.html@1",
      "http://example.com/n2.html@2",
  };
  EXPECT_EQ(result.Taken, expected);
  EXPECT_EQ(result.Completed, std::vector<int64_t>{0});
}

TEST(SiteCrawl, OnePageLimitOverAllLinesOfTheSite) {
  // Ten lines of one site, each linking the shared contact page and two pages of its own:
  // the contact page once, five followed pages in all, and every line completes.
  TSiteCrawl site("http://example.com/", {.MaxDepth = 3, .PageLimit = 5}, true);
  std::vector<std::string> listed;
  for (int i = 0; i < 10; ++i) listed.push_back("http://example.com/page/" + std::to_string(i));
  const auto result = Crawl(site, listed, [](const std::string& address) {
    return std::vector<TPageLink>{
        {"http://example.com/contact", "联系我们"}, {address + "/a", ""}, {address + "/b", ""}};
  });
  ASSERT_EQ(result.Taken.size(), 5u);
  EXPECT_EQ(result.Taken.front(), "http://example.com/contact@1");
  EXPECT_EQ(site.FollowedPagesTaken(), 5);
  EXPECT_EQ(result.Completed.size(), 10u);
}

TEST(SiteCrawl, APageIsFetchedOnceListedOrFollowed) {
  TSiteCrawl site("http://example.com/", {.MaxDepth = 1, .PageLimit = 20}, true);
  std::vector<int64_t> completed;
  ASSERT_TRUE(site.OpenListedLine(0, "http://example.com/"));
  site.OfferLinks({{"http://example.com/contact", ""}, {"http://example.com/next", ""}}, 0, 0);
  site.PageDone(0, false, completed);
  // Listed by a later line while queued: fetched for that line, dropped from the queue.
  EXPECT_TRUE(site.OpenListedLine(1, "http://example.com:80/next"));
  const std::optional<TCrawlPage> contact = site.TakeNext(completed);
  ASSERT_TRUE(contact);
  EXPECT_EQ(contact->Address, "http://example.com/contact");
  // Followed already: a line listing it opens nothing.
  EXPECT_FALSE(site.OpenListedLine(2, "http://EXAMPLE.com/contact#x"));
  site.PageDone(0, true, completed);
  site.PageDone(1, false, completed);
  EXPECT_EQ(site.TakeNext(completed), std::nullopt);
  EXPECT_EQ(completed, (std::vector<int64_t>{1, 0}));
  EXPECT_TRUE(site.Idle());
}

TEST(SiteCrawl, TwoFollowedPagesInFlightAndForbiddenOnesGivenBack) {
  TSiteCrawl site("http://example.com/", {.MaxDepth = 1, .PageLimit = 2}, true);
  std::vector<int64_t> completed;
  ASSERT_TRUE(site.OpenListedLine(7, "http://example.com/"));
  site.OfferLinks(HomeLinks(), 0, 7);
  site.PageDone(7, false, completed);
  const std::optional<TCrawlPage> first = site.TakeNext(completed);
  const std::optional<TCrawlPage> second = site.TakeNext(completed);
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(site.HasPageToTake());
  // robots.txt turns the first back: it does not count against the limit.
  site.GiveBack(first->Line, completed);
  const std::optional<TCrawlPage> third = site.TakeNext(completed);
  ASSERT_TRUE(third);
  EXPECT_FALSE(site.TakeNext(completed));
  site.PageDone(7, true, completed);
  EXPECT_TRUE(completed.empty());
  site.PageDone(7, true, completed);
  // The limit is spent: the queued rest is dropped and the line completes.
  EXPECT_EQ(completed, std::vector<int64_t>{7});
}

TEST(SiteCrawl, RedirectedListedPageTakesItsNewHostIntoTheSite) {
  TSiteCrawl site("http://example.com/", {.MaxDepth = 1}, true);
  std::vector<int64_t> completed;
  ASSERT_TRUE(site.OpenListedLine(0, "http://example.com/"));
  site.JoinSiteOf("https://www.example.net/");
  site.OfferLinks({{"https://example.net/contact", ""}, {"https://elsewhere.net/", ""}}, 0, 0);
  site.PageDone(0, false, completed);
  ASSERT_EQ(site.TakeNext(completed).value_or(TCrawlPage{}).Address, "https://example.net/contact");
  EXPECT_FALSE(site.TakeNext(completed));
}

TEST(SiteRegistry, LinesOfOneHostShareASiteAndIdleSitesAreLetGo) {
  TSiteRegistry sites({.MaxDepth = 1, .PageLimit = 5}, /*idleSitesKept=*/2);
  const auto a = sites.SiteOf("http://a.cn/1");
  EXPECT_EQ(sites.SiteOf("http://www.A.cn/2"), a);
  sites.JoinHost(a, "http://a-redirected.cn/");
  EXPECT_EQ(sites.SiteOf("http://a-redirected.cn/x"), a);

  // Sites with pages to take are handed out in turn.
  std::vector<int64_t> completed;
  const auto b = sites.SiteOf("http://b.cn/");
  for (const auto& [site, line] : {std::pair{a, 0}, std::pair{b, 1}}) {
    ASSERT_TRUE(site->Crawl.OpenListedLine(line, line == 0 ? "http://a.cn/1" : "http://b.cn/"));
    site->Crawl.OfferLinks({{line == 0 ? "http://a.cn/x" : "http://b.cn/x", ""},
                            {line == 0 ? "http://a.cn/y" : "http://b.cn/y", ""}},
                           0, line);
    sites.Update(site);
  }
  EXPECT_EQ(sites.NextSiteWithPage(), a);
  EXPECT_EQ(sites.NextSiteWithPage(), b);
  EXPECT_EQ(sites.NextSiteWithPage(), a);

  // Searched to the end, three sites go idle; the oldest beyond two is let go, and a later
  // line of its host starts a site that follows no links.
  for (const auto& [site, line] : {std::pair{a, 0}, std::pair{b, 1}}) {
    site->Crawl.PageDone(line, false, completed);
    while (auto page = site->Crawl.TakeNext(completed)) site->Crawl.PageDone(line, true, completed);
    sites.Update(site);
  }
  const auto c = sites.SiteOf("http://c.cn/");
  sites.Update(c);
  EXPECT_EQ(sites.SitesLetGo(), 2u);  // a.cn and the host it was redirected to
  const auto aAgain = sites.SiteOf("http://a.cn/3");
  EXPECT_NE(aAgain, a);
  EXPECT_FALSE(aAgain->Crawl.FollowsLinks());
  EXPECT_EQ(sites.SiteOf("http://b.cn/z"), b);
  EXPECT_EQ(sites.NextSiteWithPage(), nullptr);
}

// A page that names addresses again: each counts as a link of the site every time, is
// queued once, and a repeat whose text marks a contact page still ranks it when the
// ordinary room is full.
TEST(SiteCrawl, RepeatedLinksCountEachTimeAndQueueOnce) {
  TSiteCrawl site("http://example.com/", {1, 1, 2}, true);
  ASSERT_TRUE(site.OpenListedLine(0, "http://example.com/"));
  std::vector<TPageLink> links;
  // Ordinary pages enough to fill the room the queue keeps for them.
  for (int i = 0; i < 64; ++i) links.push_back({"/p" + std::to_string(i), "more"});
  for (TPageLink& link : links) link.Address = "http://example.com" + link.Address;
  links.push_back({"http://example.com/c.html", "more"});
  links.push_back({"http://other.com/c.html", "联系我们"});
  links.push_back({"http://example.com/c.html", "联系我们"});
  links.push_back({"HTTP://EXAMPLE.COM/c.html#top", "联系我们"});
  EXPECT_EQ(site.OfferLinks(links, 0, 0), 67u);
  std::vector<int64_t> completed;
  const std::optional<TCrawlPage> first = site.TakeNext(completed);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Address, "http://example.com/c.html");
}

}  // namespace
}  // namespace qm
