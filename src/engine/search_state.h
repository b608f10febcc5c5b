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
#include <unordered_map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "crawl/completed_list_lines.h"
#include "crawl/robots_rules.h"
#include "crawl/site_registry.h"
#include "engine/page_render.h"
#include "http/connection_pool.h"
#include "http/fiber_scheduler.h"
#include "http/memory_budget.h"
#include "store/store_writer.h"
#include "engine/url_list_reader.h"
#include "text/page_lines.h"

namespace qm {

inline constexpr int kWorkerSlotCount = 4;
// The value of a slot's mark while its worker runs.
inline constexpr int32_t kRunningMark = 8;

// A page a lane has taken: a listed page or one followed on its site, its list line, and
// its key among the run's pages in flight.
struct TPageJob {
  std::shared_ptr<TRunSite> Site;  // null when links are not followed
  std::string Url;
  int32_t Depth = 0;  // links from the listed page
  int64_t Key = 0;
  int64_t LineIndex = 0;   // lines taken before its line, counted as UrlCounter counts
  int32_t LineNumber = 0;  // as shown in Label5 and the status list
  std::string ListedUrl;   // its line's address
  // A listed page the run has fetched already, or a blank line: not fetched, only recorded.
  bool FetchedAlready = false;
  bool BlankLine = false;
  TPageSource Source = TPageSource::Link;  // how a followed page became known
};

// A list line whose site is being searched: what its followed pages' records need.
struct TOpenLine {
  int32_t LineNumber = 0;
  std::string ListedUrl;
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

  // What the run's pages may hold at once; fixed before the first worker begins, and
  // declared before everything that holds a part of it.
  std::unique_ptr<TMemoryBudget> Memory;
  // The connections of the run's pages: kept alive, and limited per host over all of them.
  std::unique_ptr<TConnectionPool> Connections;
  // Following links on the listed pages' sites; fixed before the first worker begins.
  TSiteCrawlLimits CrawlLimits{0, 1, 2};
  bool RobotsObeyed = true;
  // Every request's User-Agent text (empty: the program's own), the name its robots.txt
  // groups are matched for, and each wait's limit in ms; fixed before the first worker.
  std::string UserAgent;
  std::string RobotsAgent = "qmharvest";
  int32_t ReplyTimeoutMs = 20000;
  // Renders of pages whose contacts a script writes; null when the run renders none.
  std::unique_ptr<TRenderGate> Renders;
  // The list has given its last line. Guarded by ListLock.
  bool ListEnded = false;
  // Signalled, with ListLock, whenever a page of a site finishes: lanes that have nothing
  // to take but pages still in flight wait for it.
  TWaitCondition PageFinished;
  // The sites of the lines taken, when links are followed (null at depth 0), and the lines
  // whose sites still have pages of theirs to fetch or in flight. Guarded by ListLock.
  std::unique_ptr<TSiteRegistry> Sites;
  std::unordered_map<int64_t, TOpenLine> OpenLines;
  // The lines whose sites are completely searched; guarded by ListLock.
  std::unique_ptr<TCompletedListLines> CompleteLines;
  // Where the run's pages and rows go as they end (null: no store), and the run's id there.
  // Added to only while the run is open; ended with it.
  std::unique_ptr<TStoreWriter> StoreWriter;
  int64_t StoredRunId = 0;
  int64_t FirstLine = 0;  // where the run started in its list
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
  // The lines, from the list's start without a gap, whose pages are done, and of those the
  // ones whose rows the result store holds; -1 without a store.
  std::atomic<int64_t> CompletedLines{0};
  std::atomic<int64_t> StoredLines{-1};
  // The position a progress save writes: never past a line whose rows are not stored.
  int32_t SavedPosition() const {
    const int64_t searched = SearchedLines.load();
    int64_t position = searched < 0 ? UrlCounter.load() : searched;
    const int64_t stored = StoredLines.load();
    if (stored >= 0 && stored < position) position = stored;
    return static_cast<int32_t>(position);
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
