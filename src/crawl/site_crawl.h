#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crawl/contact_page_rank.h"
#include "crawl/crawl_address.h"
#include "crawl/page_links.h"

namespace qm {

struct TSiteCrawlLimits {
  int MaxDepth = 1;     // 0: only the listed pages
  int PageLimit = 20;   // followed pages of one site in a run, over all its lines
  int MaxInFlight = 2;  // followed pages of one site taken and not yet finished
};

// How a followed page became known: a link of a page, the site's sitemap, or a path where
// sites usually keep their contact pages (which may well not be there).
enum class TPageSource : uint8_t { Link, Sitemap, WellKnownPath };

// A followed page to fetch, and the list line whose page led to it.
struct TCrawlPage {
  std::string Address;  // normalised
  int Depth = 0;
  int64_t Line = 0;
  TPageSource Source = TPageSource::Link;
};

// One site's search for the whole run: every list line on its hosts, one set of pages
// fetched, one page limit and one limit of pages in flight for the pages followed from any
// of its lines, contact pages first. A line stays open until its listed page and every page
// found from it are done, fetched or dropped; only then may the saved position pass it.
// Not thread-safe: the run calls it under its own lock; every call costs time in what it is
// given, never in the lines or pages of the run.
class TSiteCrawl {
 public:
  // `followLinks` false: only listed pages (the site was searched earlier in the run).
  TSiteCrawl(std::string_view siteAddress, TSiteCrawlLimits limits, bool followLinks);

  // Where a listed page's redirects ended: that host joins the site.
  void JoinSiteOf(std::string_view address);
  const TSiteScope& Scope() const { return Scope_; }
  bool FollowsLinks() const { return FollowLinks; }

  // Opens line `line` for its listed page (absolute). False when the run fetched that page
  // already: the line is not opened and nothing is to be fetched for it.
  bool OpenListedLine(int64_t line, std::string_view listedAddress);
  // The links of a page of depth `depth` found from line `line`: those on the site, within
  // the depth and not yet fetched or queued join the queue. The line must be open. Returns
  // how many of the links lead to pages of the site, queued or not.
  size_t OfferLinks(const std::vector<TPageLink>& links, int depth, int64_t line,
                    TPageSource source = TPageSource::Link);
  // How many of the links lead to pages of the site, counted up to `most`.
  size_t CountSitePages(const std::vector<TPageLink>& links, size_t most) const;
  // True once a run: the caller is to look for the site's pages beyond its listed pages'
  // links (its sitemap, its usual contact paths).
  bool ClaimDiscovery();
  // The next followed page: none while the site's followed pages in flight are at their
  // limit, the page limit is reached or the queue is empty. Lines left with nothing once
  // pages are dropped are appended to `completed`.
  std::optional<TCrawlPage> TakeNext(std::vector<int64_t>& completed);
  // A taken page not fetched after all (robots.txt forbids it): it does not count against
  // the page limit.
  void GiveBack(int64_t line, std::vector<int64_t>& completed);
  // A page of line `line` is done; `followed` false for the listed page.
  void PageDone(int64_t line, bool followed, std::vector<int64_t>& completed);
  // Line `line` is not to complete in this run: the links of one of its pages are not all
  // known (the run was stopped while they were looked for).
  void KeepOpen(int64_t line);
  // After a redirect: its target counts as fetched too.
  void MarkFetched(std::string_view absoluteAddress);

  // The site's search began before this run (in an earlier run of the same search, or on
  // another machine), where it took `pages` followed pages of its limit.
  void CountFollowedBefore(int pages) { Taken = std::max(Taken, pages); }

  // TakeNext would give a page now.
  bool HasPageToTake() const;
  // No line of the site is open: everything found from its lines is done.
  bool Idle() const { return OpenLines.empty(); }
  int FollowedPagesTaken() const { return Taken; }
  size_t PagesFetched() const { return Fetched.size(); }

 private:
  struct TQueued {
    TCrawlPage Page;
    TContactPageRank Rank = TContactPageRank::Other;
    long Sequence = 0;
  };
  struct TFetchesLater {
    bool operator()(const TQueued& a, const TQueued& b) const;
  };
  static uint64_t KeyOf(std::string_view normalisedAddress);
  // One page of `line` less to wait for.
  void Release(int64_t line, std::vector<int64_t>& completed);
  // The queue can give nothing more: its pages are dropped.
  void DropQueue(std::vector<int64_t>& completed);

  const TSiteCrawlLimits Limits;
  const bool FollowLinks;
  TSiteScope Scope_;
  // Pages fetched or queued in the run, by a hash of their normalised address: eight bytes
  // a page, so a list of a million pages of one site stays small.
  std::unordered_set<uint64_t> Fetched;
  std::unordered_set<uint64_t> Queued;
  std::priority_queue<TQueued, std::vector<TQueued>, TFetchesLater> Queue;
  // Open lines and how many of their pages (listed, queued, in flight) are not yet done.
  std::unordered_map<int64_t, int> OpenLines;
  long NextSequence = 0;
  bool DiscoveryClaimed = false;
  int Taken = 0;
  int InFlight = 0;
};

}  // namespace qm
