#include "crawl/site_crawl.h"

#include <algorithm>
#include <functional>

namespace qm {

bool TSiteCrawl::TFetchesLater::operator()(const TQueued& a, const TQueued& b) const {
  if (a.Rank != b.Rank) return a.Rank < b.Rank;
  if (a.Page.Depth != b.Page.Depth) return a.Page.Depth > b.Page.Depth;
  return a.Sequence > b.Sequence;
}

TSiteCrawl::TSiteCrawl(std::string_view siteAddress, TSiteCrawlLimits limits, bool followLinks)
    : Limits(limits), FollowLinks(followLinks), Scope_(siteAddress) {}

uint64_t TSiteCrawl::KeyOf(std::string_view normalisedAddress) {
  return std::hash<std::string_view>{}(normalisedAddress);
}

void TSiteCrawl::JoinSiteOf(std::string_view address) {
  Scope_.AddSiteOf(address);
}

bool TSiteCrawl::OpenListedLine(int64_t line, std::string_view listedAddress) {
  const std::optional<std::string> normalised = NormaliseCrawlAddress(listedAddress);
  const uint64_t key = KeyOf(normalised ? std::string_view(*normalised) : listedAddress);
  if (!Fetched.insert(key).second) return false;
  ++OpenLines[line];
  return true;
}

size_t TSiteCrawl::OfferLinks(const std::vector<TPageLink>& links, int depth, int64_t line,
                              TPageSource source) {
  if (!FollowLinks || depth >= Limits.MaxDepth) return 0;
  const auto open = OpenLines.find(line);
  if (open == OpenLines.end()) return 0;
  // Links are counted even where the limit leaves no room for them.
  const bool room = Taken < Limits.PageLimit;
  size_t onSite = 0;
  // A page of a hundred thousand links must not hold memory for pages the limit will never
  // take: the queue keeps ample room for what the limit can take, and beyond that only
  // contact and about pages, up to a bound of its own.
  const size_t ordinaryRoom =
      std::max<size_t>(64, 8 * static_cast<size_t>(std::max(Limits.PageLimit, 0)));
  const size_t contactRoom = 4 * ordinaryRoom;
  // Pages name many addresses more than once (menus, "more" links): each is normalised
  // and judged once a call; a repeat's text may still rank it higher.
  std::unordered_map<std::string_view, std::optional<std::string>> admitted;
  for (const TPageLink& link : links) {
    const auto [judged, first] = admitted.try_emplace(link.Address);
    if (first) {
      judged->second = NormaliseCrawlAddress(link.Address);
      if (judged->second && !Scope_.AdmitsNormalised(*judged->second)) judged->second.reset();
    }
    if (!judged->second) continue;
    const std::string& address = *judged->second;
    ++onSite;
    if (!room || Queue.size() >= contactRoom) continue;
    const uint64_t key = KeyOf(address);
    if (Fetched.contains(key) || Queued.contains(key)) continue;
    const TContactPageRank rank = RankContactPage(link.Text, address);
    if (rank == TContactPageRank::Other && Queue.size() >= ordinaryRoom) continue;
    Queued.insert(key);
    Queue.push({TCrawlPage{address, depth + 1, line, source}, rank, NextSequence++});
    ++open->second;
  }
  return onSite;
}

size_t TSiteCrawl::CountSitePages(const std::vector<TPageLink>& links, size_t most) const {
  size_t count = 0;
  for (const TPageLink& link : links) {
    if (count >= most) break;
    const std::optional<std::string> address = NormaliseCrawlAddress(link.Address);
    if (address && Scope_.AdmitsNormalised(*address)) ++count;
  }
  return count;
}

bool TSiteCrawl::ClaimDiscovery() {
  if (!FollowLinks || DiscoveryClaimed || Limits.MaxDepth < 1 || Taken >= Limits.PageLimit) {
    return false;
  }
  DiscoveryClaimed = true;
  return true;
}

std::optional<TCrawlPage> TSiteCrawl::TakeNext(std::vector<int64_t>& completed) {
  std::optional<TCrawlPage> page;
  while (!page && InFlight < Limits.MaxInFlight && Taken < Limits.PageLimit && !Queue.empty()) {
    TCrawlPage candidate = Queue.top().Page;
    Queue.pop();
    const uint64_t key = KeyOf(candidate.Address);
    Queued.erase(key);
    // Listed meanwhile by a later line, and fetched for it.
    if (!Fetched.insert(key).second) {
      Release(candidate.Line, completed);
      continue;
    }
    page = std::move(candidate);
  }
  if (page) {
    ++Taken;
    ++InFlight;
  }
  return page;
}

void TSiteCrawl::GiveBack(int64_t line, std::vector<int64_t>& completed) {
  // Counted as fetched still, so no other link queues it again.
  if (Taken > 0) --Taken;
  if (InFlight > 0) --InFlight;
  Release(line, completed);
}

void TSiteCrawl::PageDone(int64_t line, bool followed, std::vector<int64_t>& completed) {
  if (followed && InFlight > 0) --InFlight;
  // The limit is spent on pages fetched, not on those robots.txt turned back: the queue
  // goes once a page of the limit is done.
  if (followed && Taken >= Limits.PageLimit) DropQueue(completed);
  Release(line, completed);
}

void TSiteCrawl::KeepOpen(int64_t line) {
  const auto open = OpenLines.find(line);
  if (open != OpenLines.end()) ++open->second;
}

void TSiteCrawl::MarkFetched(std::string_view absoluteAddress) {
  if (const std::optional<std::string> normalised = NormaliseCrawlAddress(absoluteAddress)) {
    Fetched.insert(KeyOf(*normalised));
  }
}

bool TSiteCrawl::HasPageToTake() const {
  return InFlight < Limits.MaxInFlight && Taken < Limits.PageLimit && !Queue.empty();
}

void TSiteCrawl::Release(int64_t line, std::vector<int64_t>& completed) {
  const auto open = OpenLines.find(line);
  if (open == OpenLines.end()) return;
  if (--open->second > 0) return;
  OpenLines.erase(open);
  completed.push_back(line);
}

void TSiteCrawl::DropQueue(std::vector<int64_t>& completed) {
  while (!Queue.empty()) {
    const int64_t line = Queue.top().Page.Line;
    Queue.pop();
    Release(line, completed);
  }
  Queued.clear();
}

}  // namespace qm
