// Taking the pages of the list and of the listed pages' sites, following their links, and
// knowing when a line's site is searched.
#include <algorithm>
#include <chrono>

#include "crawl/crawl_address.h"
#include "crawl/page_links.h"
#include "engine/main_form.h"
#include "http/url_resolve.h"

namespace qm {
namespace {

// Links are looked for in a page's first bytes only.
constexpr size_t kMaxLinkSearchBytes = 4u << 20;
// How long a lane with nothing to take waits before it looks at stop and close again.
constexpr auto kIdleLaneWait = std::chrono::milliseconds(100);
// What a page in flight holds beside its buffers, which the fetch reserves as they grow:
// its lane's stack, the pieces of its scan and of its links, what the allocator keeps of
// them. Measured against hostile pages, not guessed small.
constexpr size_t kPageRoom = 512u << 10;
// How long a lane waits for room before it looks at stop and close again.
constexpr auto kRoomWait = std::chrono::milliseconds(100);
// Fewer links of its site than this on a listed page, and its sitemap is read as well.
constexpr size_t kFewLinks = 3;
// How long a page's links may be looked for: a hostile page keeps the links found by then.
constexpr auto kLinkScanTime = std::chrono::seconds(2);
// How long a page waits for room to look for its links.
constexpr auto kLinkMemoryWait = std::chrono::seconds(2);

}  // namespace

bool TForm1::ReserveRoomForPage(TSearchRun& run, const std::atomic<bool>& ending,
                                TMemoryReservation& room) {
  room = TMemoryReservation(run.Memory.get());
  while (!run.ClosedFlag.load() && !SearchState.StopRequested.load() && !ending.load()) {
    if (room.GrowTo(kPageRoom, std::chrono::steady_clock::now() + kRoomWait)) return true;
  }
  return false;
}

int TForm1::LanesWithinBudget(const TSearchRun& run, int wanted, int workers) const {
  if (!run.Memory) return wanted;
  const size_t lanes =
      run.Memory->Limit() / 2 / kPageRoom / static_cast<size_t>(std::max(workers, 1));
  return static_cast<int>(std::clamp<size_t>(lanes, 1, static_cast<size_t>(std::max(wanted, 1))));
}

bool TForm1::TakePage(TSearchRun& run, std::unique_lock<std::mutex>& lock,
                      const std::atomic<bool>& ending, TWorkerSlot& slot, TPageJob& job,
                      TMemoryReservation& room) {
  std::string line;
  std::vector<int64_t> completed;
  for (;;) {
    if (run.Closed || SearchState.StopRequested.load() || ending.load()) return false;
    if (room.Bytes() < kPageRoom && !room.TryGrowTo(kPageRoom)) {
      lock.unlock();
      const bool roomy = room.GrowTo(kPageRoom, std::chrono::steady_clock::now() + kRoomWait);
      lock.lock();
      if (!roomy) continue;
    }
    job = {};
    bool taken = false;
    // A followed page of a site before a new line of the list.
    if (run.Sites) {
      while (std::shared_ptr<TRunSite> site = run.Sites->NextSiteWithPage()) {
        std::optional<TCrawlPage> page = site->Crawl.TakeNext(completed);
        run.Sites->Update(site);
        if (!page) continue;
        const TOpenLine& owner = run.OpenLines.at(page->Line);
        job.Site = std::move(site);
        job.Url = std::move(page->Address);
        job.Depth = page->Depth;
        job.Source = page->Source;
        job.LineIndex = page->Line;
        job.LineNumber = owner.LineNumber;
        job.ListedUrl = owner.ListedUrl;
        taken = true;
        break;
      }
      CompleteLinesLocked(run, completed);
      completed.clear();
    }
    // A read error ends the list as its end does.
    if (!taken && !run.ListEnded && run.ListFile->Next(line) != TListRead::Line) {
      run.ListEnded = true;
    } else if (!taken && !run.ListEnded) {
      const int32_t before = SearchState.UrlCounter.fetch_add(1);
      // The counter wraps as a 32-bit register would; a resume may start it anywhere.
      const auto lineNumber = static_cast<int32_t>(static_cast<uint32_t>(before) + 1u);
      Label5.SetCaption(std::to_string(lineNumber));
      job.Url = std::string(UrlOfLine(line));
      job.ListedUrl = job.Url;
      job.LineIndex = before;
      job.LineNumber = lineNumber;
      if (job.Url.empty()) {
        // Counted, so positions keep their meaning, but there is nothing to fetch.
        job.BlankLine = true;
        if (run.Sites) CompleteLinesLocked(run, {before});
      } else if (run.Sites) {
        // The listed page is always fetched as the line gives it, unless the run has
        // fetched it already, listed or followed.
        const std::string absolute = WithDefaultScheme(job.Url);
        std::shared_ptr<TRunSite> site = run.Sites->SiteOf(absolute);
        if (site->Crawl.OpenListedLine(before, absolute)) {
          run.OpenLines.emplace(before, TOpenLine{lineNumber, job.ListedUrl});
          job.Site = site;
        } else {
          job.FetchedAlready = true;
          CompleteLinesLocked(run, {before});
        }
        run.Sites->Update(site);
      }
      taken = true;
    }
    if (taken) {
      job.Key = run.PagesTaken++;
      slot.Url = job.Url;
      run.PagesInFlight[job.Key] = {job.Url, std::chrono::steady_clock::now(), job.LineNumber,
                                    job.Depth, job.ListedUrl};
      return true;
    }
    // Without links to follow, no page in flight can give this lane anything more.
    if (!run.Sites || run.OpenLines.empty()) return false;
    // A lane waiting for pages holds no room: with many lanes, idle ones would hold the
    // memory the pages in flight need.
    room.Reset();
    run.PageFinished.wait_for(lock, kIdleLaneWait);
  }
}

void TForm1::FollowLinks(TSearchRun& run, const TPageJob& job, const TPageLines& page,
                         int32_t statusCode, const std::string& pageAddress) {
  if (!job.Site) return;
  // A password in the list opens the listed page alone: links are followed without it.
  const std::string absolute = WithoutUserInfo(WithDefaultScheme(pageAddress));
  {
    std::lock_guard lock(run.ListLock);
    // Where a listed page's redirects end belongs to its site, whatever the page says.
    if (job.Depth == 0) run.Sites->JoinHost(job.Site, absolute);
    job.Site->Crawl.MarkFetched(absolute);
  }
  if (job.Depth >= run.CrawlLimits.MaxDepth || !job.Site->Crawl.FollowsLinks()) return;
  if (statusCode < 200 || statusCode > 299) {
    // An error home page does not say the site has nothing: its usual pages may be there.
    if (job.Depth == 0 && statusCode >= 400) DiscoverSitePages(run, job, absolute, true, {});
    return;
  }
  const std::string_view text = page.Text().substr(0, kMaxLinkSearchBytes);
  // The links a page can give take at most about twice its text; without room for them
  // the page is scanned for contacts only.
  TMemoryReservation linkMemory(run.Memory.get());
  if (!linkMemory.GrowTo(2 * text.size() + kPageRoom,
                         std::chrono::steady_clock::now() + kLinkMemoryWait)) {
    return;
  }
  TLinkScanLimits limits;
  limits.Deadline = std::chrono::steady_clock::now() + kLinkScanTime;
  limits.Stop = &SearchState.StopRequested;
  const std::vector<TPageLink> links = ExtractPageLinks(text, absolute, limits);
  size_t onSite = kFewLinks;
  {
    std::lock_guard lock(run.ListLock);
    // The stop may have cut the scan short: the line is then searched again on resuming.
    if (SearchState.StopRequested.load()) {
      job.Site->Crawl.KeepOpen(job.LineIndex);
      return;
    }
    // A listed page with few links of its site leaves its contact pages to be found
    // elsewhere: its links join the queue with what the sitemap lists, ranked together.
    if (job.Depth == 0) onSite = job.Site->Crawl.CountSitePages(links, kFewLinks);
    if (onSite >= kFewLinks) {
      if (!links.empty()) {
        job.Site->Crawl.OfferLinks(links, job.Depth, job.LineIndex);
        run.Sites->Update(job.Site);
      }
      return;
    }
  }
  DiscoverSitePages(run, job, absolute, onSite == 0, links);
}

std::shared_ptr<const TRobotsRules> TForm1::RobotsRulesFor(TSearchRun& run, TRunSite& site,
                                                           const std::string& pageAddress) {
  return site.Robots.RulesFor(RobotsTxtAddressOf(pageAddress),
                              [this, &run](const std::string& address, TMemoryReservation& memory) {
                                return FetchRobotsRules(run, address, memory);
                              });
}

TRobotsRules TForm1::FetchRobotsRules(TSearchRun& run, const std::string& robotsAddress,
                                      TMemoryReservation& memory) {
  TPageLines body;
  TPageFetchResult fetched;
  TPageFetchOptions options;
  options.MaxBodyBytes = TRobotsRules::kMaxRobotsTxtBytes;
  options.Budget = run.Memory.get();
  options.Connections = run.Connections.get();
  options.UserAgent = run.UserAgent;
  options.ReplyTimeoutMs = run.ReplyTimeoutMs;
  const bool answered = environment_.FetchPageWithResult(robotsAddress, body, options, fetched);
  // A fetch that failed on a redirect chain still tells its last status.
  TRobotsRules rules = TRobotsRules::FromAnswer(
      fetched.StatusCode, answered ? body.Text() : std::string_view(), run.RobotsAgent);
  memory = TMemoryReservation(run.Memory.get());
  // Without room the rules are kept all the same: they are needed, and bounded by the cap.
  memory.TryGrowTo(rules.MemoryBytes());
  return rules;
}

std::string TForm1::RedirectRefusal(TSearchRun& run, TRunSite& site, const std::string& target) {
  {
    std::lock_guard lock(run.ListLock);
    if (!site.Crawl.Scope().IsOnSite(target)) return "redirected off the site";
  }
  if (run.RobotsObeyed && !RobotsRulesFor(run, site, target)->Allows(PathAndQueryOf(target))) {
    return "redirected to a page robots.txt forbids";
  }
  return {};
}

void TForm1::FinishSitePage(TSearchRun& run, const TPageJob& job, bool gaveBack) {
  std::lock_guard lock(run.ListLock);
  if (job.Site) {
    std::vector<int64_t> completed;
    if (gaveBack) {
      job.Site->Crawl.GiveBack(job.LineIndex, completed);
    } else {
      job.Site->Crawl.PageDone(job.LineIndex, job.Depth > 0, completed);
    }
    run.Sites->Update(job.Site);
    CompleteLinesLocked(run, completed);
  } else if (!run.Sites) {
    CompleteLinesLocked(run, {job.LineIndex});
  }
  // Lanes wait here only once the list has ended, for followed pages: a page that ends lets
  // its site give at most as many as the site may have in flight. Waking every lane for it
  // cost each page as many wakes as there are lanes (a thousand by default). When the last
  // line is done, every lane leaves; a lane also looks again after kIdleLaneWait.
  if (run.OpenLines.empty()) {
    run.PageFinished.notify_all();
  } else {
    for (int wake = 0; wake < run.CrawlLimits.MaxInFlight; ++wake) {
      run.PageFinished.notify_one();
    }
  }
}

void TForm1::CompleteLinesLocked(TSearchRun& run, const std::vector<int64_t>& lines) {
  for (const int64_t line : lines) {
    run.OpenLines.erase(line);
    if (run.Closed || !run.CompleteLines) continue;
    run.CompleteLines->MarkComplete(line);
  }
  if (lines.empty() || run.Closed || !run.CompleteLines) return;
  const int64_t completed = run.CompleteLines->SavedPosition();
  SearchState.CompletedLines.store(completed);
  if (run.CrawlLimits.MaxDepth > 0) SearchState.SearchedLines.store(completed);
  MarkStoredPositionLocked(run);
}

}  // namespace qm
