// A site's pages beyond its listed pages' links: the pages its sitemap lists, and the paths
// where sites usually keep their contact pages, for sites whose listed page failed or gave
// few links.
#include <deque>

#include "crawl/crawl_address.h"
#include "crawl/sitemap.h"
#include "crawl/well_known_paths.h"
#include "engine/main_form.h"

namespace qm {
namespace {

// Sitemap files read for one site, an index and the sitemaps it names counted alike.
constexpr int kMaxSitemapFiles = 4;
// Addresses taken from one site's sitemaps; the site's queue keeps what its limit can use.
constexpr size_t kMaxSitemapPages = 5000;

std::vector<TPageLink> AsLinks(std::vector<std::string> addresses) {
  std::vector<TPageLink> links;
  links.reserve(addresses.size());
  for (std::string& address : addresses) links.push_back({std::move(address), {}});
  return links;
}

}  // namespace

void TForm1::DiscoverSitePages(TSearchRun& run, const TPageJob& job, const std::string& pageAddress,
                               bool listedPageFailed, const std::vector<TPageLink>& links) {
  {
    std::lock_guard lock(run.ListLock);
    if (!job.Site->Crawl.ClaimDiscovery()) {
      if (!links.empty()) {
        job.Site->Crawl.OfferLinks(links, 0, job.LineIndex);
        run.Sites->Update(job.Site);
      }
      return;
    }
  }
  const std::shared_ptr<const TRobotsRules> robots = RobotsRulesFor(run, *job.Site, pageAddress);
  std::deque<std::string> sitemaps;
  {
    std::lock_guard lock(run.ListLock);
    for (const std::string& address : robots->Sitemaps()) {
      if (job.Site->Crawl.Scope().IsOnSite(address)) sitemaps.push_back(address);
    }
  }
  if (sitemaps.empty()) sitemaps.push_back(DefaultSitemapAddressOf(pageAddress));

  std::vector<std::string> pages;
  for (int files = 0; files < kMaxSitemapFiles && !sitemaps.empty(); ++files) {
    if (SearchState.StopRequested.load() || run.ClosedFlag.load()) break;
    const std::string address = std::move(sitemaps.front());
    sitemaps.pop_front();
    if (run.RobotsObeyed && !robots->Allows(PathAndQueryOf(address))) continue;
    TPageFetchOptions options;
    options.MaxBodyBytes = kMaxSitemapBytes;
    options.Budget = run.Memory.get();
    options.UserAgent = run.UserAgent;
    options.ReplyTimeoutMs = run.ReplyTimeoutMs;
    options.RedirectRefusal = [this, &run, site = job.Site](const std::string& target) {
      return RedirectRefusal(run, *site, target);
    };
    TPageLines body;
    TPageFetchResult fetched;
    if (!environment_.FetchPageWithResult(address, body, options, fetched) ||
        fetched.StatusCode < 200 || fetched.StatusCode > 299) {
      continue;
    }
    TSitemapEntries entries = ReadSitemap(body.Text(), kMaxSitemapPages - pages.size());
    for (std::string& page : entries.Pages) pages.push_back(std::move(page));
    std::lock_guard lock(run.ListLock);
    for (std::string& nested : entries.Sitemaps) {
      if (job.Site->Crawl.Scope().IsOnSite(nested)) sitemaps.push_back(std::move(nested));
    }
    if (pages.size() >= kMaxSitemapPages) break;
  }

  std::lock_guard lock(run.ListLock);
  if (SearchState.StopRequested.load()) {
    // The line is searched again when the run is resumed.
    job.Site->Crawl.KeepOpen(job.LineIndex);
    return;
  }
  // The page's own links, then pages the site itself lists, then paths guessed.
  if (!links.empty()) job.Site->Crawl.OfferLinks(links, 0, job.LineIndex);
  job.Site->Crawl.OfferLinks(AsLinks(std::move(pages)), 0, job.LineIndex, TPageSource::Sitemap);
  if (listedPageFailed) {
    job.Site->Crawl.OfferLinks(AsLinks(WellKnownContactAddresses(pageAddress)), 0, job.LineIndex,
                               TPageSource::WellKnownPath);
  }
  run.Sites->Update(job.Site);
}

}  // namespace qm
