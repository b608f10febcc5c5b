#pragma once
#include <mutex>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "crawl/contact_page_rank.h"
#include "crawl/crawl_address.h"
#include "crawl/page_links.h"
#include "crawl/robots_rules.h"
#include "crawl/visited_addresses.h"

namespace qm {

struct TSiteCrawlLimits {
  int MaxDepth = 1;     // 0: only the listed page
  int PageLimit = 20;   // pages taken from one site, the listed page included
  int MaxInFlight = 2;  // pages of one site taken and not yet finished
};

struct TCrawlPage {
  std::string Address;  // normalised
  int Depth = 0;
};

// The pages still to fetch from one listed page's site: the listed page first, then the
// followed links, contact pages before the rest, shallower before deeper, else in the order
// found. Any thread may call it.
class TSiteFrontier {
 public:
  // The listed page is always taken, even when robots.txt forbids it, the run has fetched it
  // already or the page limit is 0, as the user asked for it.
  TSiteFrontier(std::string_view listedAddress, TSiteCrawlLimits limits,
                TVisitedAddresses& visited);

  // Where the listed page's redirects ended: that host joins the site.
  void JoinSiteOf(std::string_view address);
  // Followed links that the rules forbid are dropped when they come to be taken.
  void SetRobotsRules(TRobotsRules rules);
  // The links of a page of depth `depth`; those within the depth limit, on the site, and
  // not yet queued join the queue.
  void OfferLinks(const std::vector<TPageLink>& links, int depth);

  // The next page to fetch; none while the site's pages in flight are at their limit, the
  // page limit is reached, or the queue is empty. The page counts as fetched in the run.
  std::optional<TCrawlPage> TakeNext();
  void PageFinished();
  // Nothing in flight and nothing more to take: the site is completely searched.
  bool IsComplete();
  int PagesTaken() const;

 private:
  struct TQueued {
    TCrawlPage Page;
    TContactPageRank Rank = TContactPageRank::Other;
    long Sequence = 0;
  };
  struct TFetchesLater {
    bool operator()(const TQueued& a, const TQueued& b) const;
  };
  bool Fetchable(const TCrawlPage& page) const;

  const TSiteCrawlLimits Limits;
  TVisitedAddresses& Visited;
  mutable std::mutex Lock;
  TSiteScope Scope;
  std::optional<TRobotsRules> Robots;
  std::optional<TCrawlPage> ListedPage;
  std::priority_queue<TQueued, std::vector<TQueued>, TFetchesLater> Queue;
  std::unordered_set<std::string> Queued;
  long NextSequence = 0;
  int Taken = 0;
  int InFlight = 0;
};

}  // namespace qm
