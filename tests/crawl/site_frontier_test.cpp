#include "crawl/site_frontier.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qm {
namespace {

// Takes every page the frontier gives, finishing each at once, with the links `linksOf`
// names for it; returns "address@depth" in the order taken.
std::vector<std::string> Crawl(
    TSiteFrontier& frontier,
    const std::function<std::vector<TPageLink>(const std::string&)>& linksOf) {
  std::vector<std::string> taken;
  while (std::optional<TCrawlPage> page = frontier.TakeNext()) {
    taken.push_back(page->Address + "@" + std::to_string(page->Depth));
    frontier.OfferLinks(linksOf(page->Address), page->Depth);
    frontier.PageFinished();
  }
  EXPECT_TRUE(frontier.IsComplete());
  return taken;
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

TEST(SiteFrontier, ListedPageFirstThenContactPagesOnTheSiteOnce) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("Example.com", {.MaxDepth = 2, .PageLimit = 20}, visited);
  const auto taken = Crawl(frontier, [](const std::string& address) {
    if (address == "http://example.com/") return HomeLinks();
    if (address == "http://example.com/news.html") {
      return std::vector<TPageLink>{{"http://example.com", "Home"},
                                    {"http://example.com/team.html", "Team"},
                                    {"http://example.com/n2.html", "Older news"}};
    }
    return std::vector<TPageLink>{};
  });
  const std::vector<std::string> expected = {
      "http://example.com/@0",
      "http://www.example.com/lxwm.html@1",
      "http://example.com/about.html@1",
      // Found later but ranked above the plain pages of depth 1.
      "http://example.com/news.html@1",
      "http://example.com/team.html@2",
      "http://example.com/products.html@1",
      "http://example.com/n2.html@2",
  };
  EXPECT_EQ(taken, expected);
}

TEST(SiteFrontier, DepthZeroIsTheListedPageAlone) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/", {.MaxDepth = 0}, visited);
  EXPECT_EQ(Crawl(frontier, [](const std::string&) { return HomeLinks(); }),
            std::vector<std::string>{"http://example.com/@0"});
}

TEST(SiteFrontier, PageLimitCountsTheListedPage) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/", {.MaxDepth = 3, .PageLimit = 3}, visited);
  const auto taken = Crawl(frontier, [](const std::string& address) {
    return std::vector<TPageLink>{{address + "x", ""}, {address + "y", ""}};
  });
  EXPECT_EQ(taken.size(), 3u);
  EXPECT_EQ(frontier.PagesTaken(), 3);

  TSiteFrontier none("http://example.com/", {.MaxDepth = 3, .PageLimit = 0}, visited);
  EXPECT_EQ(Crawl(none, [](const std::string&) { return HomeLinks(); }),
            std::vector<std::string>{"http://example.com/@0"});
}

TEST(SiteFrontier, AContactLinkAfterAHundredThousandOthersStillComesFirst) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/", {.MaxDepth = 1, .PageLimit = 3}, visited);
  std::vector<TPageLink> links;
  for (int i = 0; i < 100000; ++i)
    links.push_back({"http://example.com/n" + std::to_string(i), ""});
  links.push_back({"http://example.com/kontakt", ""});
  links.push_back({"http://example.com/x", "关于我们"});
  EXPECT_EQ(Crawl(frontier,
                  [&links](const std::string& address) {
                    return address == "http://example.com/" ? links : std::vector<TPageLink>{};
                  }),
            (std::vector<std::string>{"http://example.com/@0", "http://example.com/kontakt@1",
                                      "http://example.com/x@1"}));
}

TEST(SiteFrontier, AtMostTwoPagesInFlight) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/", {.MaxDepth = 1}, visited);
  std::optional<TCrawlPage> home = frontier.TakeNext();
  ASSERT_TRUE(home);
  frontier.OfferLinks(HomeLinks(), home->Depth);
  std::optional<TCrawlPage> second = frontier.TakeNext();
  ASSERT_TRUE(second);
  EXPECT_FALSE(frontier.TakeNext());  // the home page and one link are in flight
  EXPECT_FALSE(frontier.IsComplete());
  frontier.PageFinished();
  EXPECT_TRUE(frontier.TakeNext());
  EXPECT_FALSE(frontier.TakeNext());
}

TEST(SiteFrontier, RobotsForbidFollowedLinksButNeverTheListedPage) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/private/home.html", {.MaxDepth = 1}, visited);
  frontier.SetRobotsRules(TRobotsRules::Parse("User-agent: *\nDisallow: /private\n", "qm"));
  const auto taken = Crawl(frontier, [](const std::string&) {
    return std::vector<TPageLink>{{"http://example.com/private/contact.html", "Contact"},
                                  {"http://example.com/about.html", ""}};
  });
  EXPECT_EQ(taken, (std::vector<std::string>{"http://example.com/private/home.html@0",
                                             "http://example.com/about.html@1"}));
}

TEST(SiteFrontier, PagesFetchedOnceInARunFailedOnesIncluded) {
  // Two list lines of one site: the second search neither fetches again the pages the
  // first fetched (one of them answered 404) nor waits for them.
  TVisitedAddresses visited;
  const auto links = [](const std::string&) {
    return std::vector<TPageLink>{{"http://example.com/contact.html", ""},
                                  {"http://example.com/gone.html", ""}};
  };
  TSiteFrontier first("http://example.com/", {.MaxDepth = 1}, visited);
  EXPECT_EQ(Crawl(first, links).size(), 3u);
  TSiteFrontier second("http://www.example.com/", {.MaxDepth = 1}, visited);
  EXPECT_EQ(Crawl(second, links), std::vector<std::string>{"http://www.example.com/@0"});

  // Links queued before another site's search fetched them are dropped when due.
  TVisitedAddresses run;
  TSiteFrontier third("http://example.com/", {.MaxDepth = 1}, run);
  const std::optional<TCrawlPage> home = third.TakeNext();
  third.OfferLinks({{"http://example.com/contact.html", ""}}, home->Depth);
  third.PageFinished();
  run.Claim("http://example.com/contact.html");
  EXPECT_TRUE(third.IsComplete());
  EXPECT_FALSE(third.TakeNext());
}

TEST(SiteFrontier, RedirectedListedPageTakesItsNewHostIntoTheSite) {
  TVisitedAddresses visited;
  TSiteFrontier frontier("http://example.com/", {.MaxDepth = 1}, visited);
  const std::optional<TCrawlPage> home = frontier.TakeNext();
  frontier.JoinSiteOf("https://www.example.net/");
  frontier.OfferLinks({{"https://example.net/contact", ""}}, home->Depth);
  frontier.PageFinished();
  ASSERT_EQ(frontier.TakeNext().value_or(TCrawlPage{}).Address, "https://example.net/contact");
}

}  // namespace
}  // namespace qm
