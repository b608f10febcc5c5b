// Taking the pages of the listed pages' sites, following their links, and knowing when a
// site is completely searched.
#include <algorithm>
#include <chrono>

#include "crawl/crawl_address.h"
#include "crawl/page_links.h"
#include "engine/main_form.h"

namespace qm {
namespace {

// The name the robots.txt groups are matched against.
constexpr std::string_view kRobotsAgentName = "qmharvest";
// Links are looked for in a page's first bytes only: the parser's tree of a page of tens of
// megabytes would take far more memory than the page.
constexpr size_t kMaxLinkSearchBytes = 4u << 20;
// How long a lane with nothing to take waits before it looks at stop and close again.
constexpr auto kIdleLaneWait = std::chrono::milliseconds(100);

}  // namespace

bool TForm1::TakePage(TSearchRun& run, std::unique_lock<std::mutex>& lock,
                      const std::atomic<bool>& ending, TWorkerSlot& slot, TPageJob& job) {
  std::string line;
  for (;;) {
    if (run.Closed || SearchState.StopRequested.load() || ending.load()) return false;
    job = {};
    for (auto site = run.OpenSites.begin(); site != run.OpenSites.end();) {
      // Lines of one host share its limit of followed pages in flight.
      const auto followed = run.FollowedPagesInFlight.find((*site)->Host);
      const bool hostBusy =
          followed != run.FollowedPagesInFlight.end() && followed->second >= kSitePagesInFlight;
      std::optional<TCrawlPage> page;
      if (!hostBusy) page = (*site)->Frontier.TakeNext();
      if (page) {
        job.Site = *site;
        job.Url = std::move(page->Address);
        job.Depth = page->Depth;
        ++run.FollowedPagesInFlight[job.Site->Host];
        break;
      }
      // Its last queued pages may have been fetched for another site meanwhile: with none of
      // its own in flight, no finishing page would ever find it searched.
      if ((*site)->Frontier.IsComplete()) {
        MarkSiteSearchedLocked(run, **site);
        site = run.OpenSites.erase(site);
      } else {
        ++site;
      }
    }
    // A read error ends the list as its end does.
    if (!job.Site && !run.ListEnded && run.ListFile->Next(line) != TListRead::Line) {
      run.ListEnded = true;
    } else if (!job.Site && !run.ListEnded) {
      const int32_t before = SearchState.UrlCounter.fetch_add(1);
      // The counter wraps as a 32-bit register would; a resume may start it anywhere.
      const auto lineNumber = static_cast<int32_t>(static_cast<uint32_t>(before) + 1u);
      Label5.SetCaption(std::to_string(lineNumber));
      job.Site = std::make_shared<TSiteSearch>(std::string(UrlOfLine(line)), before, lineNumber,
                                               run.CrawlLimits, run.Visited);
      run.OpenSites.push_back(job.Site);
      // The listed page is always its site's first page, fetched as the line gives it.
      job.Site->Frontier.TakeNext();
      job.Url = job.Site->ListedUrl;
    }
    if (job.Site) {
      job.Key = run.PagesTaken++;
      slot.Url = job.Url;
      run.PagesInFlight[job.Key] = {job.Url, std::chrono::steady_clock::now(), job.Site->LineNumber,
                                    job.Depth, job.Site->ListedUrl};
      return true;
    }
    // Without links to follow, no page in flight can give this lane anything more.
    if (run.OpenSites.empty() || run.CrawlLimits.MaxDepth == 0) return false;
    run.PageFinished.wait_for(lock, kIdleLaneWait);
  }
}

void TForm1::FollowLinks(TSearchRun& run, const TPageJob& job, const TPageLines& page,
                         const TAddressStatus& status) {
  if (job.Depth >= run.CrawlLimits.MaxDepth || status.StatusCode < 200 || status.StatusCode > 299) {
    return;
  }
  const std::string pageAddress = WithDefaultScheme(status.FinalUrl);
  TSiteFrontier& frontier = job.Site->Frontier;
  if (job.Depth == 0) frontier.JoinSiteOf(pageAddress);
  const std::string_view text = page.Text();
  const std::vector<TPageLink> links =
      ExtractPageLinks(text.substr(0, std::min(text.size(), kMaxLinkSearchBytes)), pageAddress);
  if (links.empty()) return;
  // The rules are in place before any followed page can be taken.
  if (job.Depth == 0 && run.RobotsObeyed) frontier.SetRobotsRules(RobotsRulesFor(run, pageAddress));
  frontier.OfferLinks(links, job.Depth);
}

TRobotsRules TForm1::RobotsRulesFor(TSearchRun& run, const std::string& pageAddress) {
  // Lists often name many pages of one site: its robots.txt is read once a run. Two lanes
  // may both read it the first time; either answer will do.
  const std::string robotsAddress = RobotsTxtAddressOf(pageAddress);
  {
    std::lock_guard lock(run.ListLock);
    const auto known = run.RobotsRulesByAddress.find(robotsAddress);
    if (known != run.RobotsRulesByAddress.end()) return known->second;
  }
  TRobotsRules rules = FetchRobotsRules(robotsAddress);
  std::lock_guard lock(run.ListLock);
  return run.RobotsRulesByAddress.try_emplace(robotsAddress, std::move(rules)).first->second;
}

TRobotsRules TForm1::FetchRobotsRules(const std::string& robotsAddress) {
  TPageLines body;
  TPageFetchResult fetched;
  const bool answered =
      environment_.FetchPageWithResult(robotsAddress, body, TPageFetchOptions{}, fetched);
  // A fetch that failed on a redirect chain still tells its last status.
  return TRobotsRules::FromAnswer(fetched.StatusCode, answered ? body.Text() : std::string_view(),
                                  kRobotsAgentName);
}

void TForm1::FinishSitePage(TSearchRun& run, const TPageJob& job) {
  std::lock_guard lock(run.ListLock);
  if (job.Depth > 0 && --run.FollowedPagesInFlight[job.Site->Host] <= 0) {
    run.FollowedPagesInFlight.erase(job.Site->Host);
  }
  job.Site->Frontier.PageFinished();
  if (job.Site->Frontier.IsComplete()) {
    // Found searched by a lane looking for pages already, it is gone from the open sites.
    if (std::erase(run.OpenSites, job.Site) > 0) MarkSiteSearchedLocked(run, *job.Site);
  }
  run.PageFinished.notify_all();
}

void TForm1::MarkSiteSearchedLocked(TSearchRun& run, const TSiteSearch& site) {
  if (run.Closed || !run.CompleteLines) return;
  run.CompleteLines->MarkComplete(site.LineIndex);
  if (run.CrawlLimits.MaxDepth > 0) {
    SearchState.SearchedLines.store(run.CompleteLines->SavedPosition());
  }
}

}  // namespace qm
