#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crawl/robots_cache.h"
#include "crawl/site_crawl.h"

namespace qm {

// One site of a run: its crawl and its robots.txt rules, and its place in the registry.
struct TRunSite {
  TRunSite(std::string_view siteAddress, TSiteCrawlLimits limits, bool followLinks)
      : Crawl(siteAddress, limits, followLinks) {}

  TSiteCrawl Crawl;     // under the run's lock
  TRobotsCache Robots;  // locks itself

 private:
  friend class TSiteRegistry;
  bool WaitingToGive = false;  // in the registry's queue of sites with a page to take
  bool Idle = false;           // in the registry's list of idle sites
  std::list<std::shared_ptr<TRunSite>>::iterator IdleEntry;
};

// The sites of a run by host, for the whole run: each list line joins the site of its host,
// so one site's lines share one crawl. Sites with a followed page to take are handed out in
// turn. A site with no open line stays known among the most recently idle ones; past those
// it is let go and only a mark of it is kept, so a list of a million hosts holds eight
// bytes for each. Not thread-safe: the run calls it under its lock; every call costs
// constant time but for the hosts of one site.
class TSiteRegistry {
 public:
  explicit TSiteRegistry(TSiteCrawlLimits limits, size_t idleSitesKept = 256)
      : Limits(limits), IdleSitesKept(idleSitesKept) {}

  // The site of a listed page (absolute address): the one its host belongs to, else a new
  // one, which follows no links when its host's site was searched and let go earlier.
  std::shared_ptr<TRunSite> SiteOf(std::string_view listedAddress);
  // A host the site's listed page was redirected to joins it, unless it has a site already.
  void JoinHost(const std::shared_ptr<TRunSite>& site, std::string_view address);
  // A site whose search began before this run: its hosts (the first names it) answer for it
  // from the start, the followed pages it took then count against its page limit, and the
  // pages fetched then (absolute addresses) are not fetched again.
  void AddKnownSite(const std::vector<std::string>& hosts, int followedBefore,
                    const std::vector<std::string>& fetchedBefore);
  // Told of each host that JoinHost adds to a site, with the site's first host.
  std::function<void(const std::string& site, const std::string& host)> OnHostJoined;
  // A site with a followed page to take; the next call starts with another. Null for none.
  std::shared_ptr<TRunSite> NextSiteWithPage();
  // To be called after anything of a site changed.
  void Update(const std::shared_ptr<TRunSite>& site);

  size_t KnownSites() const { return Idle.size() + Busy.size(); }
  size_t SitesLetGo() const { return LetGo.size(); }

 private:
  static uint64_t MarkOf(std::string_view host);
  void Forget(const std::shared_ptr<TRunSite>& site);

  const TSiteCrawlLimits Limits;
  const size_t IdleSitesKept;
  std::unordered_map<std::string, std::shared_ptr<TRunSite>> ByHost;
  std::deque<std::shared_ptr<TRunSite>> WithPage;
  std::list<std::shared_ptr<TRunSite>> Idle;  // oldest first
  std::unordered_set<TRunSite*> Busy;
  std::unordered_set<uint64_t> LetGo;
};

}  // namespace qm
