// The worker loop of slots 1 to 4.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "contacts/extractors.h"
#include "contacts/labelled_kinds.h"
#include "contacts/page_anchors.h"
#include "contacts/row_tally.h"
#include "crawl/crawl_address.h"
#include "engine/main_form.h"
#include "http/fiber_scheduler.h"
#include "http/url_parts.h"

namespace qm {
namespace {

const char* const kEndMessages[kWorkerSlotCount] = {"线程1终止!", "线程2终止!", "线程3终止!",
                                                    "线程4终止!"};
// The reason of a failed fetch that gave none.
constexpr std::string_view kNoConnection = "no connection, or the request could not be sent";
// The reason of a page whose fetch or scan failed with an error, before the error's text.
constexpr std::string_view kBrokenPage = "the page could not be read: ";
// The reason of a page still in flight when the run was closed by hand.
constexpr std::string_view kDroppedByHand = "dropped: the search was closed by hand";
// The reason of a listed page the run fetched already, listed or followed.
constexpr std::string_view kFetchedAlready = "fetched already in this run";
constexpr std::string_view kBlankLine = "blank line";
// Before the status of a usual contact path the site does not have.
constexpr std::string_view kGuessedPathMissing = "no such contact path on the site: ";

}  // namespace

void TForm1::Button1Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(0, run);
}
void TForm1::Button2Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(1, run);
}
void TForm1::Button3Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(2, run);
}
void TForm1::Button4Click() {
  if (auto run = SearchState.CurrentRun()) WorkerLoop(3, run);
}

void TForm1::WorkerLoop(int index, const std::shared_ptr<TSearchRun>& run) {
  TWorkerSlot& slot = Slots.at(static_cast<size_t>(index));
  {
    std::lock_guard lock(run->ListLock);
    if (run->Closed) return;
    Form3.ProgressBar1.SetMax(SearchState.StartedWorkers.fetch_add(1) + 1);
  }

  // The worker keeps up to K pages in flight: K lanes, each taking lines as a worker does.
  // The worker ends once all its lanes have.
  std::atomic<bool> ending{false};
  if (lanesAsFibers_) {
    // Fibers of this thread: a page waiting for its server costs a stack's touched pages,
    // not a thread.
    const int pagesInFlight =
        LanesWithinBudget(*run, std::clamp(SpinEditInFlight.Value(), 1, kMaxPagesInFlight),
                          std::clamp(SpinEdit1.Value(), 1, kWorkerSlotCount));
    // Lanes are made as pages are taken: each lane that takes a page makes the next, so a
    // short list costs the lanes it uses, not a thousand stacks that each look once.
    TFiberScheduler lanes;
    int started = 0;
    std::function<void()> startLane;
    const std::function<void()> pageTaken = [&] {
      if (started < pagesInFlight) startLane();
    };
    startLane = [&] {
      try {
        if (lanes.Spawn([this, &slot, &run, &ending, &pageTaken] {
              RunLane(slot, run, ending, pageTaken);
            })) {
          ++started;
          return;
        }
      } catch (...) {
      }
      started = pagesInFlight;  // fewer pages in flight; the lanes already made go on
    };
    startLane();
    if (started > 0) {
      lanes.Run();
    } else {
      RunLane(slot, run, ending);
    }
  } else {
    // This thread and K - 1 more.
    const int pagesInFlight = std::clamp(SpinEditInFlight.Value(), 1, kMaxLaneThreads);
    std::vector<std::thread> lanes;
    for (int i = 1; i < pagesInFlight; ++i) {
      try {
        lanes.emplace_back([this, &slot, &run, &ending] { RunLane(slot, run, ending); });
      } catch (...) {
        break;  // fewer pages in flight; the lanes already started go on
      }
    }
    RunLane(slot, run, ending);
    for (std::thread& lane : lanes) lane.join();
  }

  bool claimed;
  {
    std::lock_guard lock(run->ListLock);
    // A run closed under a busy worker is over for it: it ends without a word.
    if (run->Closed) return;
    // The end message goes out before the mark is cleared, so the completion's text, which
    // follows the last clearing, is the one that stays.
    Label6.SetCaption(kEndMessages[index]);
    run->RunningMarks.at(static_cast<size_t>(index)) = 0;
    slot.RunningMark.store(0);
    claimed = run->ClaimLocked();
  }
  if (claimed) FinishRun(run);
}

void TForm1::RunLane(TWorkerSlot& slot, const std::shared_ptr<TSearchRun>& run,
                     std::atomic<bool>& ending, const std::function<void()>& pageTaken) {
  // The lane fetches into its own buffers and touches shared state only while its run is
  // open, so a run closed by hand need not wait for a fetch still under way.
  TPageJob job;
  TPageLines page;
  TPageAnchors anchors;
  TLabelledAnchors labelledAnchors;
  TKindCounts shown;  // the counts this lane last showed
  shown.fill(-1);
  try {
    for (;;) {
      // New pages wait while the run's pages hold all the memory it may use.
      TMemoryReservation room;
      if (!ReserveRoomForPage(*run, ending, room)) break;
      {
        std::unique_lock lock(run->ListLock);
        if (!TakePage(*run, lock, ending, slot, job, room)) break;
      }
      if (pageTaken) pageTaken();
      // The page is finished with its site whatever becomes of it, or its line would never
      // count as searched and lanes waiting for its pages would wait for ever.
      struct TSitePageDone {
        TForm1& Form;
        TSearchRun& Run;
        const TPageJob& Job;
        bool GaveBack = false;
        ~TSitePageDone() { Form.FinishSitePage(Run, Job, GaveBack); }
      } done{*this, *run, job};

      TAddressStatus status;
      status.LineNumber = job.LineNumber;
      status.Depth = job.Depth;
      // A password in the list is the user's: sent, but never written anywhere.
      status.ListedUrl = WithoutPassword(job.ListedUrl);
      status.Url = WithoutPassword(job.Url);
      status.FinalUrl = status.Url;
      try {
        if (job.FetchedAlready || job.BlankLine) {
          status.FailureReason = std::string(job.BlankLine ? kBlankLine : kFetchedAlready);
          status.Skipped = true;
          FinishPage(*run, job.Key, nullptr, anchors, labelledAnchors, shown, status);
          continue;
        }
        TPageFetchOptions options;
        options.FollowRedirects = CheckBoxRedirects.Checked();
        options.Budget = run->Memory.get();
        options.Connections = run->Connections.get();
        options.UserAgent = run->UserAgent;
        options.ReplyTimeoutMs = run->ReplyTimeoutMs;
        if (job.Depth > 0) {
          // A followed page stays on its site and within what its robots.txt allows, also
          // where its redirects lead.
          if (run->RobotsObeyed &&
              !RobotsRulesFor(*run, *job.Site, job.Url)->Allows(PathAndQueryOf(job.Url))) {
            done.GaveBack = true;
            DropPage(*run, job.Key);
            continue;
          }
          options.RedirectRefusal = [this, &run, site = job.Site](const std::string& target) {
            return RedirectRefusal(*run, *site, target);
          };
        }
        TPageFetchResult fetched;
        const auto started = std::chrono::steady_clock::now();
        const bool ok = environment_.FetchPageWithResult(job.Url, page, options, fetched);
        status.Milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
        const std::string& finalUrl = fetched.FinalUrl.empty() ? job.Url : fetched.FinalUrl;
        status.FinalUrl = WithoutPassword(finalUrl);
        status.StatusCode = fetched.StatusCode;
        status.BytesReceived = fetched.BytesReceived;
        if (ok) {
          status.FailureReason = HttpStatusFailure(fetched.StatusCode);
          // A contact path tried on the chance that it exists is no failure when it does not.
          if (job.Source == TPageSource::WellKnownPath && fetched.StatusCode >= 400) {
            status.FailureReason = std::string(kGuessedPathMissing) + status.FailureReason;
            status.Skipped = true;
          }
          if (status.FailureReason.empty()) status.FailureReason = fetched.CutReason;
          const auto findAnchors = [&] {
            if (CheckBoxExtended.Checked()) {
              anchors.FindExtended(page.Text());
            } else {
              anchors.Find(page.Text());
            }
            if (CheckBoxWeChat.Checked() || CheckBoxPhone.Checked()) {
              labelledAnchors.Find(page.Text());
            } else {
              labelledAnchors.Clear();
            }
          };
          findAnchors();
          if (RenderIfScriptWritten(*run, page, anchors, fetched.StatusCode, finalUrl, status)) {
            findAnchors();
          }
          FollowLinks(*run, job, page, fetched.StatusCode, finalUrl);
        } else {
          status.FailureReason =
              fetched.FailureReason.empty() ? std::string(kNoConnection) : fetched.FailureReason;
        }
        FinishPage(*run, job.Key, ok ? &page : nullptr, anchors, labelledAnchors, shown, status);
      } catch (const std::exception& error) {
        RecordBrokenPage(*run, job.Key, status, error.what());
        throw;
      } catch (...) {
        RecordBrokenPage(*run, job.Key, status, "unknown error");
        throw;
      }
    }
  } catch (...) {
    // Any failure of a page ends this worker; its other lanes finish their pages.
    ending.store(true);
  }
}

void TForm1::DropPage(TSearchRun& run, int64_t pageKey) {
  std::lock_guard lock(run.ListLock);
  run.PagesInFlight.erase(pageKey);
}

void TForm1::FinishPage(TSearchRun& run, int64_t pageKey, TPageLines* page,
                        const TPageAnchors& anchors, const TLabelledAnchors& labelledAnchors,
                        TKindCounts& shown, TAddressStatus& status) {
  std::shared_lock gate(run.ScanGate);
  // Closing the run sets the flag before it waits for the gate: past this test the lists
  // are this run's until the gate is released. A page dropped by a manual close leaves
  // neither rows nor a record.
  if (run.ClosedFlag.load(std::memory_order_acquire)) return;
  std::vector<TTalliedRow> rows;
  if (page != nullptr) {
    TRowTally tally(&StringGrid1, &StringGrid2, &StringGrid3, &StringGrid4, &StringGrid5);
    if (run.StoreWriter) tally.KeepRows();
    // The boxes are read afresh for every line with anything to look at. The counts this
    // lane shows change with the page's rows: they are shown once the page is scanned.
    bool scanned = false;
    for (auto line = page->begin(), last = page->end(); line != last; ++line) {
      if (run.ClosedFlag.load(std::memory_order_acquire)) return;
      if (anchors.AnyIn(line.Begin(), line.End()) ||
          labelledAnchors.AnyIn(line.Begin(), line.End())) {
        const std::array<TResultList*, kContactKindCount> lists = CollectedLists();
        TContactLists targets{lists[kEmailList], lists[kMobileList], lists[kQQList],
                              status.FinalUrl, anchors.Extended()};
        targets.WeChatIds = lists[kWeChatList];
        targets.Telephones = lists[kTelephoneList];
        ExtractContacts(*line, targets);
        scanned = true;
      }
    }
    if (scanned) ShowCounts(shown);
    // A scanned page is of no further use; holding it while the next one arrives would
    // double what a lane needs at its largest.
    page->Release();
    status.RowsAdded = tally.Counts();
    rows.swap(tally.Rows());
  }
  {
    std::lock_guard lock(run.ListLock);
    run.PagesInFlight.erase(pageKey);
  }
  // Still within the scan gate: the run's writer is there until the run is closed.
  StoreFinishedPage(run, status, rows);
  AddStatus(std::move(status));
}

void TForm1::RecordBrokenPage(TSearchRun& run, int64_t pageKey, TAddressStatus& status,
                              std::string_view reason) noexcept {
  try {
    std::shared_lock gate(run.ScanGate);
    if (run.ClosedFlag.load(std::memory_order_acquire)) return;
    {
      std::lock_guard lock(run.ListLock);
      // Gone from the pages in flight: its record is in already.
      if (run.PagesInFlight.erase(pageKey) == 0) return;
    }
    status.FailureReason = std::string(kBrokenPage) + std::string(reason);
    std::vector<TTalliedRow> noRows;
    StoreFinishedPage(run, status, noRows);
    AddStatus(std::move(status));
  } catch (...) {
    // Out of memory even for the record: the worker ends all the same.
  }
}

void TForm1::AddStatus(TAddressStatus status) {
  const bool failed = status.Failed();
  AddressStatuses.Add(std::move(status));
  if (failed) {
    std::lock_guard lock(countsMutex_);
    StatusBar1.SetPanel(kFailedCountPanel, std::to_string(AddressStatuses.FailedCount()));
  }
}

void TForm1::RecordDroppedPages(TSearchRun& run) {
  std::map<int64_t, TSearchRun::TPageInFlight> dropped;
  {
    std::lock_guard lock(run.ListLock);
    dropped.swap(run.PagesInFlight);
  }
  const auto now = std::chrono::steady_clock::now();
  for (auto& [key, page] : dropped) {
    TAddressStatus status;
    status.LineNumber = page.LineNumber;
    status.Depth = page.Depth;
    status.ListedUrl = WithoutPassword(page.ListedUrl);
    status.Url = WithoutPassword(page.Url);
    status.FinalUrl = status.Url;
    status.Milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - page.Taken).count();
    status.FailureReason = std::string(kDroppedByHand);
    AddStatus(std::move(status));
  }
}

std::array<TResultList*, kContactKindCount> TForm1::CollectedLists() {
  return {CheckBox2.Checked() ? &StringGrid1 : nullptr,
          CheckBox3.Checked() ? &StringGrid2 : nullptr,
          CheckBox4.Checked() ? &StringGrid3 : nullptr,
          CheckBoxWeChat.Checked() ? &StringGrid4 : nullptr,
          CheckBoxPhone.Checked() ? &StringGrid5 : nullptr};
}

void TForm1::ShowCounts(TKindCounts& shown) {
  // Counts only grow during a run. A worker that sees the counts it last showed has nothing
  // to add; one that sees others reads them again under the lock and shows those, so the
  // last rewrite of a run always shows the final counts.
  const std::array<TResultList*, kContactKindCount> lists = ResultLists();
  bool same = true;
  for (int kind = 0; kind < kContactKindCount && same; ++kind) {
    same = lists[kind]->EntryCount() == shown[kind];
  }
  if (same) return;
  std::lock_guard lock(countsMutex_);
  for (int kind = 0; kind < kContactKindCount; ++kind) {
    shown[kind] = lists[kind]->EntryCount();
    StatusBar1.SetPanel(kListCountPanels[kind], std::to_string(shown[kind]));
  }
}

}  // namespace qm
