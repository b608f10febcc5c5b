// Starting, stopping, completing and closing a search run, and the exit question.
#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "engine/main_form.h"
#include "http/user_agent.h"

namespace qm {
namespace {

constexpr const char* kSearchEnded = "搜索已经结束!";

// A file, not a folder, at the path; an empty path names none.
bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

void TForm1::SpeedButton2Click() {
  const std::string path = Edit5.Text();
  if (!FileExists(path)) {
    dialogs_.ShowInformation("您还没有选择网址列表文件!");
    return;
  }
  SearchState.UrlTotal.store(CountUrlListLines(path));
  if (environment_.LocalAddress() == "127.0.0.1") {
    dialogs_.ShowInformation("您还没有连接到网上!");
    return;
  }
  // A store that cannot keep what the search finds: the search does not start.
  OpenResultStore();
  // A run that is still open (stopped before its workers began, or started with no worker)
  // must not take lines into the lists about to be cleared.
  {
    std::lock_guard control(SearchState.RunControl);
    RetireRunLocked();
  }

  Label4.SetCaption(std::to_string(SearchState.UrlTotal.load()));
  Label5.SetCaption("");
  Label6.SetCaption("开始搜索...");
  dialogs_.PauseUi(1000);

  SearchState.StopRequested.store(false);
  SearchState.UrlCounter.store(0);
  for (TResultList* list : ResultLists()) list->Clear();
  SpeedButton2.SetEnabled(false);
  SpeedButton3.SetEnabled(true);
  SpeedButton4.SetEnabled(false);

  Label6.SetCaption("创建线程...");
  dialogs_.PauseUi(1000);
  Label6.SetCaption("搜索网址...");

  StartRun(TUrlListReader::Open(path));
}

void TForm1::RetireRunLocked() {
  if (SearchState.Run) {
    SearchState.Run->Close();
    EndStoredRun(*SearchState.Run);
    SearchState.Run.reset();
  }
  for (auto& slot : Slots) slot.RunningMark.store(0);
}

void TForm1::ReturnToIdleLocked() {
  Form3.Window.SetVisible(false);
  Form3.ProgressBar1.SetPosition(0);
  Form3.ProgressBar1.SetMax(0);
  SearchState.StartedWorkers.store(0);
  SpeedButton2.SetEnabled(true);
  SpeedButton3.SetEnabled(false);
  SpeedButton4.SetEnabled(true);
}

void TForm1::StartRun(std::unique_ptr<TUrlListReader> list) {
  auto run = std::make_shared<TSearchRun>(std::move(list));
  run->CrawlLimits = {SpinEditDepth.Value(), SpinEditPageLimit.Value(), kSitePagesInFlight};
  run->RobotsObeyed = CheckBoxRobots.Checked();
  run->UserAgent = EditUserAgent.Text();
  run->RobotsAgent = RobotsProductToken(run->UserAgent);
  run->ReplyTimeoutMs = SpinEditTimeout.Value() * 1000;
  if (CheckBoxRender.Checked()) {
    run->Renders = std::make_unique<TRenderGate>(FindHeadlessBrowser(), kRendersAtOnce);
  }
  if (run->CrawlLimits.MaxDepth > 0) {
    run->Sites = std::make_unique<TSiteRegistry>(run->CrawlLimits);
    if (PrepareRunSites) PrepareRunSites(*run->Sites);
  }
  TConnectionPoolOptions connections;
  connections.KeepAlive = CheckBoxKeepAlive.Checked();
  connections.HostLimit = SpinEditHostLimit.Value();
  run->Connections = std::make_unique<TConnectionPool>(connections);
  run->Memory = std::make_unique<TMemoryBudget>(
      static_cast<size_t>(std::max(SpinEditMemoryLimit.Value(), 1)) << 20);
  // Lines are counted as UrlCounter counts them, from where the caller set it.
  const int32_t firstLine = SearchState.UrlCounter.load();
  run->CompleteLines = std::make_unique<TCompletedListLines>(firstLine);
  SearchState.SearchedLines.store(run->CrawlLimits.MaxDepth > 0 ? firstLine : -1);
  SearchState.CompletedLines.store(firstLine);
  std::array<bool, kWorkerSlotCount> wanted{};
  for (int k = 0; k < kWorkerSlotCount; ++k) wanted[k] = SpinEdit1.Value() >= k + 1;
  {
    std::lock_guard control(SearchState.RunControl);
    RetireRunLocked();
  }
  // Every run before this one is closed now, so a slot's previous worker no longer touches
  // its slot: one still busy with a fetch is set aside rather than waited for, which would
  // freeze the window for as long as a slow server keeps that fetch going.
  std::erase_if(retiredWorkers_, [](const std::unique_ptr<smtpthread>& worker) {
    if (!worker->Finished()) return false;
    worker->Join();
    return true;
  });
  for (auto& slot : Slots) {
    if (!slot.Thread) continue;
    if (slot.Thread->Finished()) {
      slot.Thread->Join();
    } else {
      retiredWorkers_.push_back(std::move(slot.Thread));
    }
    slot.Thread.reset();
  }
  {
    std::lock_guard control(SearchState.RunControl);
    Form3.Window.SetVisible(false);
    Form3.ProgressBar1.SetPosition(0);
    Form3.ProgressBar1.SetMax(0);
    SearchState.StartedWorkers.store(0);
    {
      std::lock_guard counts(countsMutex_);
      for (int panel : kListCountPanels) StatusBar1.SetPanel(panel, "0");
      AddressStatuses.Clear();
      StatusBar1.SetPanel(kFailedCountPanel, "0");
    }
    // The last-accepted and seen values go before any worker begins: emptied by the first
    // worker instead, a finding of another worker that repeats the previous run's last one
    // would be lost.
    const bool unique = CheckBoxUnique.Checked();
    for (TResultList* list : ResultLists()) list->BeginRun(unique);
    // A run the store cannot take ends before its first worker, and says why.
    try {
      BeginStoredRun(*run, firstLine);
    } catch (const std::exception& error) {
      {
        std::lock_guard lock(saveFailureMutex_);
        storeFailure_ = error.what();
      }
      SearchState.StopRequested.store(true);
    }
    // Every mark is set before the first worker begins.
    std::lock_guard lock(run->ListLock);
    for (int k = 0; k < kWorkerSlotCount; ++k) {
      run->RunningMarks[k] = wanted[k] ? kRunningMark : 0;
      Slots[k].RunningMark.store(run->RunningMarks[k]);
    }
    SearchState.Run = run;
  }
  for (int k = 0; k < kWorkerSlotCount; ++k) {
    if (!wanted[k]) continue;
    try {
      Slots[k].Thread = std::make_unique<smtpthread>([this, k, run] { WorkerLoop(k, run); });
    } catch (...) {
      // No further worker; those already running finish the list. They may all have ended
      // by now, in which case the run completes here.
      bool claimed;
      {
        std::lock_guard lock(run->ListLock);
        for (int j = k; j < kWorkerSlotCount; ++j) {
          run->RunningMarks[j] = 0;
          if (!run->Closed) Slots[j].RunningMark.store(0);
        }
        claimed = run->ClaimLocked();
      }
      if (claimed) FinishRun(run);
      return;
    }
  }
}

void TForm1::SpeedButton3Click() {
  SearchState.StopRequested.store(true);
  std::lock_guard control(SearchState.RunControl);
  if (Form3.ProgressBar1.Position() < Form3.ProgressBar1.Max()) {
    SpeedButton3.SetEnabled(false);
    Form3.Window.SetVisible(true);
  } else {
    Form3.Window.SetVisible(false);
    SpeedButton2.SetEnabled(true);
    SpeedButton3.SetEnabled(false);
    SpeedButton4.SetEnabled(true);
  }
}

void TForm1::BitBtn1Click() {
  auto run = SearchState.CurrentRun();
  if (run && run->ClaimIfIdle()) FinishRun(run);
}

void TForm1::FinishRun(const std::shared_ptr<TSearchRun>& run) {
  std::lock_guard control(SearchState.RunControl);
  // Closed by hand or superseded between the claim and here: that path has done the rest.
  if (SearchState.Run != run) return;
  RetireRunLocked();
  std::optional<std::string> saveFailure;
  try {
    Button10Click();
  } catch (const std::exception& error) {
    // On a worker's thread there is no one to tell: the failure is kept for whoever
    // watches the completion, and the run still returns to idle.
    saveFailure = error.what();
  } catch (...) {
    saveFailure = "Unable to write to " + SettingsFilePath();
  }
  {
    std::lock_guard lock(saveFailureMutex_);
    // What the store could not keep weighs more than the settings file.
    endOfRunSaveFailure_ = storeFailure_ ? std::exchange(storeFailure_, std::nullopt)
                                         : std::move(saveFailure);
  }
  Label6.SetCaption(kSearchEnded);
  ReturnToIdleLocked();
  SearchState.CompletedRuns.fetch_add(1);
  // The last worker's thread ends the run: the window shows the end at once.
  Changes.ChangedUrgently();
}

std::optional<std::string> TForm1::TakeEndOfRunSaveFailure() {
  std::lock_guard lock(saveFailureMutex_);
  return std::exchange(endOfRunSaveFailure_, std::nullopt);
}

void TForm1::Button9Click() {
  std::lock_guard control(SearchState.RunControl);
  const std::shared_ptr<TSearchRun> run = SearchState.Run;
  // Closing the run is the busy workers' signal: each ends quietly when it comes back.
  RetireRunLocked();
  if (run) RecordDroppedPages(*run);
  Label6.SetCaption(kSearchEnded);
  ReturnToIdleLocked();
}

void TForm1::Form3Close() {
  Button9Click();
  try {
    Button10Click();
  } catch (...) {
    Form3.Window.SetVisible(false);
    throw;
  }
  Form3.Window.SetVisible(false);
}

bool TForm1::FormCloseQuery() {
  if (SearchState.StartedWorkers.load() > 0) return false;
  return dialogs_.Confirm("退出Quillmoth网页信息采集器?");
}

}  // namespace qm
