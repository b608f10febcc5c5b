#include "crawl/site_frontier.h"

#include <algorithm>

namespace qm {

bool TSiteFrontier::TFetchesLater::operator()(const TQueued& a, const TQueued& b) const {
  if (a.Rank != b.Rank) return a.Rank < b.Rank;
  if (a.Page.Depth != b.Page.Depth) return a.Page.Depth > b.Page.Depth;
  return a.Sequence > b.Sequence;
}

TSiteFrontier::TSiteFrontier(std::string_view listedAddress, TSiteCrawlLimits limits,
                             TVisitedAddresses& visited)
    : Limits(limits), Visited(visited), Scope(WithDefaultScheme(listedAddress)) {
  const std::string absolute = WithDefaultScheme(listedAddress);
  ListedPage = TCrawlPage{NormaliseCrawlAddress(absolute).value_or(absolute), 0};
  Queued.insert(ListedPage->Address);
}

void TSiteFrontier::JoinSiteOf(std::string_view address) {
  const std::lock_guard<std::mutex> guard(Lock);
  Scope.AddSiteOf(address);
}

void TSiteFrontier::SetRobotsRules(TRobotsRules rules) {
  const std::lock_guard<std::mutex> guard(Lock);
  Robots = std::move(rules);
}

void TSiteFrontier::OfferLinks(const std::vector<TPageLink>& links, int depth) {
  if (depth >= Limits.MaxDepth) return;
  const std::lock_guard<std::mutex> guard(Lock);
  // A page of a hundred thousand links must not hold memory for pages the limit will never
  // take: the queue keeps ample room for what the limit can take, and beyond that only
  // contact and about pages, up to a bound of its own.
  const size_t ordinaryRoom =
      std::max<size_t>(64, 8 * static_cast<size_t>(std::max(Limits.PageLimit, 0)));
  const size_t contactRoom = 4 * ordinaryRoom;
  for (const TPageLink& link : links) {
    if (Queue.size() >= contactRoom) break;
    std::optional<std::string> address = NormaliseCrawlAddress(link.Address);
    if (!address || !Scope.Admits(*address) || Visited.Contains(*address) ||
        Queued.contains(*address)) {
      continue;
    }
    const TContactPageRank rank = RankContactPage(link.Text, *address);
    if (rank == TContactPageRank::Other && Queue.size() >= ordinaryRoom) continue;
    Queued.insert(*address);
    Queue.push({TCrawlPage{std::move(*address), depth + 1}, rank, NextSequence++});
  }
}

std::optional<TCrawlPage> TSiteFrontier::TakeNext() {
  const std::lock_guard<std::mutex> guard(Lock);
  if (InFlight >= Limits.MaxInFlight) return std::nullopt;
  std::optional<TCrawlPage> page;
  if (ListedPage) {
    Visited.Claim(ListedPage->Address);
    page = std::move(ListedPage);
    ListedPage.reset();
  }
  while (!page && Taken < Limits.PageLimit && !Queue.empty()) {
    TCrawlPage candidate = Queue.top().Page;
    Queue.pop();
    if (Fetchable(candidate) && Visited.Claim(candidate.Address)) page = std::move(candidate);
  }
  if (page) {
    ++Taken;
    ++InFlight;
  }
  return page;
}

void TSiteFrontier::PageFinished() {
  const std::lock_guard<std::mutex> guard(Lock);
  if (InFlight > 0) --InFlight;
}

bool TSiteFrontier::Fetchable(const TCrawlPage& page) const {
  return !(Robots && !Robots->Allows(PathAndQueryOf(page.Address))) &&
         !Visited.Contains(page.Address);
}

bool TSiteFrontier::IsComplete() {
  const std::lock_guard<std::mutex> guard(Lock);
  // Queued pages that robots.txt forbids or another site's search fetched meanwhile would
  // otherwise keep the site from ever being complete.
  while (!Queue.empty() && !Fetchable(Queue.top().Page)) Queue.pop();
  return InFlight == 0 && !ListedPage && (Taken >= Limits.PageLimit || Queue.empty());
}

int TSiteFrontier::PagesTaken() const {
  const std::lock_guard<std::mutex> guard(Lock);
  return Taken;
}

}  // namespace qm
