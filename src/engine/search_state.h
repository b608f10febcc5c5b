#pragma once
// The state of a search: the run state of the main window, one object per run, and the
// four worker slots.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "crawl/completed_list_lines.h"
#include "crawl/robots_rules.h"
#include "crawl/site_frontier.h"
#include "crawl/visited_addresses.h"
#include "engine/url_list_reader.h"
#include "text/page_lines.h"

namespace qm {

inline constexpr int kWorkerSlotCount = 4;
// The value of a slot's mark while its worker runs.
inline constexpr int32_t kRunningMark = 8;

// One line of the list as the run searches it: its listed page and the pages of its site
// followed from there.
struct TSiteSearch {
  TSiteSearch(std::string listedUrl, int64_t lineIndex, int32_t lineNumber, TSiteCrawlLimits limits,
              TVisitedAddresses& visited)
      : ListedUrl(std::move(listedUrl)),
        Host(SiteHostOf(WithDefaultScheme(ListedUrl))),
        LineIndex(lineIndex),
        LineNumber(lineNumber),
        Frontier(ListedUrl, limits, visited) {}

  const std::string ListedUrl;  // as the line gave it
  const std::string Host;       // the listed page's host, without a leading "www."
  const int64_t LineIndex;      // lines taken before it, counted as UrlCounter counts
  const int32_t LineNumber;     // as shown in Label5 and the status list
  TSiteFrontier Frontier;
};

// A page a lane has taken: its site, the address to fetch, how many links from the listed
// page it lies, and its key among the run's pages in flight.
struct TPageJob {
  std::shared_ptr<TSiteSearch> Site;
  std::string Url;
  int32_t Depth = 0;
  int64_t Key = 0;
};

// One search run: its list, the lock over it and the marks of its workers. Every worker
// holds the run it was started for, never "the current run", so a worker left busy by a
// manual close finds its own run closed and ends quietly; it cannot touch the list, the
// lock or the marks of a later run.
class TSearchRun {
 public:
  explicit TSearchRun(std::unique_ptr<TUrlListReader> list) : ListFile(std::move(list)) {}

  // Guards ListFile, RunningMarks, Closed and CompletionClaimed, and the taking of a line
  // together with UrlCounter, Label5 and StartedWorkers.
  std::mutex ListLock;
  std::unique_ptr<TUrlListReader> ListFile;  // null once the run is closed
  // 8 for each slot started in this run until its worker has ended. All marks of the slots
  // to be started are set before the first worker begins, so no early end can complete
  // the run while another worker is still being created.
  std::array<int32_t, kWorkerSlotCount> RunningMarks{};
  bool Closed = false;             // by the completion, a manual close or a newer run
  bool CompletionClaimed = false;  // the completion runs once
  // The pages taken and not yet finished, in the order taken: the address, its line and
  // when it was taken. Guarded by ListLock. What is left once the run is closed was dropped
  // unread.
  struct TPageInFlight {
    std::string Url;
    std::chrono::steady_clock::time_point Taken;
    int32_t LineNumber = 0;
    int32_t Depth = 0;
    std::string ListedUrl;
  };
  std::map<int64_t, TPageInFlight> PagesInFlight;
  int64_t PagesTaken = 0;

  // Following links on the listed pages' sites; fixed before the first worker begins.
  TSiteCrawlLimits CrawlLimits{0, 1, 2};
  bool RobotsObeyed = true;
  // The sites with pages still to fetch or in flight, oldest line first, and whether the
  // list has given its last line. Guarded by ListLock.
  std::deque<std::shared_ptr<TSiteSearch>> OpenSites;
  bool ListEnded = false;
  // Signalled, with ListLock, whenever a page of a site finishes: lanes that have nothing
  // to take but pages still in flight wait for it.
  std::condition_variable PageFinished;
  // The rules of every robots.txt read in the run, by its address; guarded by ListLock.
  std::map<std::string, TRobotsRules> RobotsRulesByAddress;
  // Followed pages in flight, by the host of the line they were followed from; guarded by
  // ListLock.
  std::map<std::string, int> FollowedPagesInFlight;
  // Every page fetched in the run, once, whichever links lead to it.
  TVisitedAddresses Visited;
  // The lines whose sites are completely searched; guarded by ListLock.
  std::unique_ptr<TCompletedListLines> CompleteLines;
  // Mirrors Closed for the scanning loop, which tests it line by line without the lock.
  std::atomic<bool> ClosedFlag{false};
  // Held shared while a worker scans a page; closing the run takes it exclusively, so once
  // a run is closed no late finding of it reaches the result lists of the next.
  std::shared_mutex ScanGate;

  // With ListLock held: true, once only, when every mark is clear and the run is neither
  // closed nor completed. Clearing a mark and this test under one hold of the lock are the
  // one step that decides which worker completes the run.
  bool ClaimLocked();
  // ClaimLocked, taking the lock.
  bool ClaimIfIdle();
  // Closes the list and waits until no page of this run is being scanned. Never call it
  // from a worker while that worker scans.
  void Close();
};

// The state of the main window's runs (one instance, owned by TForm1).
class TSearchState {
 public:
  std::atomic<bool> StopRequested{false};
  std::atomic<int32_t> UrlCounter{0};  // lines of the list taken so far
  // When links are followed, the lines from the list's start, without a gap, whose sites
  // are completely searched; -1 when the lines taken are the position to resume from.
  std::atomic<int64_t> SearchedLines{-1};
  // The position a progress save writes.
  int32_t SavedPosition() const {
    const int64_t searched = SearchedLines.load();
    return searched < 0 ? UrlCounter.load() : static_cast<int32_t>(searched);
  }
  std::atomic<int32_t> UrlTotal{0};  // lines of the list
  // Workers started in the run; 0 means no run is active. Shown as the maximum of the
  // wait dialog's progress bar.
  std::atomic<int32_t> StartedWorkers{0};
  // Runs completed since the window was created; lets a caller wait for a completion.
  std::atomic<int64_t> CompletedRuns{0};

  // Serialises the run control steps (start, stop, completion, manual close) against each
  // other; guards Run.
  std::mutex RunControl;
  std::shared_ptr<TSearchRun> Run;  // the current run, or null

  std::shared_ptr<TSearchRun> CurrentRun() {
    std::lock_guard lock(RunControl);
    return Run;
  }
};

// The worker thread: runs its slot's click handler (the worker loop) once. An exception
// that escapes the handler ends the thread quietly.
class smtpthread {
 public:
  explicit smtpthread(std::function<void()> click);
  ~smtpthread();  // joins
  smtpthread(const smtpthread&) = delete;
  smtpthread& operator=(const smtpthread&) = delete;

  void Join();
  // True once the click handler has returned.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> finished_{false};
  std::thread thread_;  // last member: it starts once the rest is built
};

// One of the four worker slots, fixed for the life of the main window.
struct TWorkerSlot {
  // 8 while the slot's worker runs in the current run, 0 otherwise (the Tag of the slot's
  // hidden button). The truth for completing a run is the run's own mark.
  std::atomic<int32_t> RunningMark{0};
  // The worker last started for this slot; joined before the slot starts another.
  std::unique_ptr<smtpthread> Thread;
  std::string Url;   // the URL the worker is on
  TPageLines Lines;  // the lines of the page last fetched; reused page to page
};

}  // namespace qm
