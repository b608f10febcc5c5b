#include "crawl/site_registry.h"

#include <functional>

namespace qm {

uint64_t TSiteRegistry::MarkOf(std::string_view host) {
  return std::hash<std::string_view>{}(host);
}

std::shared_ptr<TRunSite> TSiteRegistry::SiteOf(std::string_view listedAddress) {
  const std::string host = SiteHostOf(listedAddress);
  const auto known = ByHost.find(host);
  if (known != ByHost.end()) return known->second;
  auto site = std::make_shared<TRunSite>(listedAddress, Limits, !LetGo.contains(MarkOf(host)));
  ByHost.emplace(host, site);
  Busy.insert(site.get());
  return site;
}

void TSiteRegistry::JoinHost(const std::shared_ptr<TRunSite>& site, std::string_view address) {
  const std::string host = SiteHostOf(address);
  if (host.empty()) return;
  const bool added = !site->Crawl.Scope().IsOnSite(address);
  site->Crawl.JoinSiteOf(address);
  ByHost.try_emplace(host, site);
  if (added && OnHostJoined) OnHostJoined(site->Crawl.Scope().Hosts().front(), host);
}

void TSiteRegistry::AddKnownSite(const std::vector<std::string>& hosts, int followedBefore,
                                 const std::vector<std::string>& fetchedBefore) {
  if (hosts.empty()) return;
  auto addressOf = [](const std::string& host) { return "http://" + host + "/"; };
  auto site = std::make_shared<TRunSite>(addressOf(hosts.front()), Limits, true);
  for (const std::string& host : hosts) site->Crawl.JoinSiteOf(addressOf(host));
  site->Crawl.CountFollowedBefore(followedBefore);
  for (const std::string& address : fetchedBefore) site->Crawl.MarkFetched(address);
  for (const std::string& host : site->Crawl.Scope().Hosts()) ByHost.try_emplace(host, site);
  Busy.insert(site.get());
}

std::shared_ptr<TRunSite> TSiteRegistry::NextSiteWithPage() {
  while (!WithPage.empty()) {
    std::shared_ptr<TRunSite> site = std::move(WithPage.front());
    WithPage.pop_front();
    site->WaitingToGive = false;
    if (site->Crawl.HasPageToTake()) {
      // Its next page waits until the other sites with pages have had a turn.
      site->WaitingToGive = true;
      WithPage.push_back(site);
      return site;
    }
  }
  return nullptr;
}

void TSiteRegistry::Update(const std::shared_ptr<TRunSite>& site) {
  if (site->Crawl.HasPageToTake() && !site->WaitingToGive) {
    site->WaitingToGive = true;
    WithPage.push_back(site);
  }
  const bool idle = site->Crawl.Idle();
  if (idle == site->Idle) return;
  site->Idle = idle;
  if (!idle) {
    Idle.erase(site->IdleEntry);
    Busy.insert(site.get());
    return;
  }
  Busy.erase(site.get());
  site->IdleEntry = Idle.insert(Idle.end(), site);
  while (Idle.size() > IdleSitesKept) {
    std::shared_ptr<TRunSite> oldest = std::move(Idle.front());
    Idle.pop_front();
    Forget(oldest);
  }
}

void TSiteRegistry::Forget(const std::shared_ptr<TRunSite>& site) {
  site->Idle = false;
  for (const std::string& host : site->Crawl.Scope().Hosts()) {
    const auto entry = ByHost.find(host);
    if (entry == ByHost.end() || entry->second != site) continue;
    ByHost.erase(entry);
    LetGo.insert(MarkOf(host));
  }
}

}  // namespace qm
