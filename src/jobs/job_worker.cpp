#include "jobs/job_worker.h"

#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "crawl/site_registry.h"
#include "engine/local_address.h"
#include "engine/main_form.h"
#include "jobs/job_queue.h"
#include "jobs/job_settings.h"
#include "store/pg_connection.h"
#include "store/pg_store.h"

namespace qm {
namespace {

// The engine's dialogs with nobody to see them: a message means the run did not start.
class TUnattendedDialogs final : public ui::Dialogs {
 public:
  void ShowInformation(const std::string& text) override { Message(text); }
  bool Confirm(const std::string& text) override {
    Message(text);
    return false;
  }
  void ShowMessage(const std::string& text) override { Message(text); }
  std::optional<std::string> InputBox(const std::string&, const std::string& prompt,
                                      const std::string&) override {
    Message(prompt);
    return std::nullopt;
  }
  std::optional<std::string> OpenFile(const ui::FileDialogOptions&) override {
    return std::nullopt;
  }
  std::optional<std::string> SaveFile(const ui::FileDialogOptions&) override {
    return std::nullopt;
  }
  void PauseUi(int) override {}

  std::optional<std::string> TakeMessage() {
    std::lock_guard lock(mutex_);
    return std::exchange(message_, std::nullopt);
  }

 private:
  void Message(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!message_) message_ = text;
  }
  std::mutex mutex_;
  std::optional<std::string> message_;
};

// A folder of the worker's own for the engine's settings file and each claim's list.
class TScratchFolder {
 public:
  TScratchFolder() {
    const char* base = ::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qmharvest-job-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw EStoreError("Cannot make a temporary folder in " +
                        pattern.substr(0, pattern.rfind('/')));
    }
    path_ = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// What one claim's engine run tells about its lines: the list the engine reads holds the
// claimed lines in order, so its line k is the claim's k-th line.
struct TClaimRun {
  std::mutex Mutex;
  int64_t Run = 0;
  std::vector<int32_t> JobLines;  // the job's line number of each line of the run's list
  // The listed page's record of each line of the run's list, by its line there.
  std::map<int32_t, TStoredPage> Listed;
  int64_t SavedPosition = 0;
  bool Ended = false;
  int64_t PagesStored = 0;
  // Hosts the run's listed pages were redirected to, joining their sites.
  std::vector<TJoinedHost> JoinedHosts;

  int32_t JobLineOf(int32_t runLine) const {
    if (runLine < 1 || static_cast<size_t>(runLine) > JobLines.size()) return runLine;
    return JobLines[static_cast<size_t>(runLine) - 1];
  }
};

// The engine's store during a claim: its run is the job's run, its line numbers the job's
// lines; where it ends tells which lines were searched.
class TClaimStore final : public TResultStore {
 public:
  TClaimStore(TResultStore& server, TClaimRun& claim) : server_(server), claim_(claim) {}

  int64_t BeginRun(const std::string&, const std::string&, int64_t) override {
    std::lock_guard lock(claim_.Mutex);
    claim_.Listed.clear();
    claim_.SavedPosition = 0;
    claim_.Ended = false;
    return claim_.Run;
  }
  std::optional<TStoredRun> LastUnfinishedRun(const std::string&) override { return std::nullopt; }
  void ReopenRun(int64_t) override {}
  void Write(const TStoreBatch& batch) override {
    TStoreBatch mapped;
    {
      std::lock_guard lock(claim_.Mutex);
      mapped.Run = claim_.Run;
      mapped.Pages = batch.Pages;
      mapped.Rows = batch.Rows;
      for (TStoredPage& page : mapped.Pages) {
        if (page.Depth == 0) claim_.Listed[page.LineNumber] = page;
        page.LineNumber = claim_.JobLineOf(page.LineNumber);
      }
      for (TStoredRow& row : mapped.Rows) row.LineNumber = claim_.JobLineOf(row.LineNumber);
    }
    // The job's position is its lines' states, not a run's saved position.
    server_.Write(mapped);
    std::lock_guard lock(claim_.Mutex);
    claim_.PagesStored += static_cast<int64_t>(mapped.Pages.size());
  }
  void EndRun(int64_t, int64_t savedPosition, bool) override {
    std::lock_guard lock(claim_.Mutex);
    claim_.SavedPosition = savedPosition;
    claim_.Ended = true;
  }
  // Flags of rows stored before their lookups answered go to the job's run on the server.
  void UpdateChecks(int64_t, const std::vector<TRowChecks>& rows) override {
    int64_t run = 0;
    {
      std::lock_guard lock(claim_.Mutex);
      run = claim_.Run;
    }
    server_.UpdateChecks(run, rows);
  }
  std::vector<TStoredRun> Runs() override { return server_.Runs(); }
  void ForEachRow(std::optional<int64_t> run, unsigned kinds,
                  const std::function<void(const TStoredRow&)>& visit) override {
    server_.ForEachRow(run, kinds, visit);
  }
  void ForEachPage(int64_t run, const std::function<void(const TStoredPage&)>& visit) override {
    server_.ForEachPage(run, visit);
  }

 private:
  TResultStore& server_;
  TClaimRun& claim_;
};

// An answer that asking again cannot change fails its line at once: the page is not there
// or not for us. A timeout, a refused connection, a server error may pass.
bool FinalFailure(const TStoredPage& page) {
  const int32_t status = page.StatusCode;
  return status >= 400 && status < 500 && status != 408 && status != 425 && status != 429;
}

TLineOutcome OutcomeOf(int32_t jobLine, const TStoredPage* listed) {
  TLineOutcome outcome;
  outcome.LineNumber = jobLine;
  if (listed == nullptr || listed->Skipped || listed->FailureReason.empty() ||
      listed->FailureReason.starts_with("cut at")) {
    return outcome;
  }
  outcome.Kind = FinalFailure(*listed) ? TLineOutcome::TKind::Failed : TLineOutcome::TKind::Retry;
  outcome.Reason = listed->FailureReason;
  return outcome;
}

std::string HolderName() {
  std::random_device random;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kHex[random() % 16];
  return DefaultWriterName() + ":" + suffix;
}

void ApplySettings(TForm1& form, const TJobSettings& settings) {
  form.CheckBox2.SetChecked(settings.Email);
  form.CheckBox3.SetChecked(settings.Mobile);
  form.CheckBox4.SetChecked(settings.QQ);
  form.CheckBoxWeChat.SetChecked(settings.WeChat);
  form.CheckBoxPhone.SetChecked(settings.Phone);
  form.CheckBoxRedirects.SetChecked(settings.Redirects);
  form.CheckBoxExtended.SetChecked(settings.Extended);
  form.CheckBoxUnique.SetChecked(settings.Unique);
  form.SpinEditDepth.SetValue(settings.Depth);
  form.SpinEditPageLimit.SetValue(settings.PageLimit);
  form.CheckBoxRobots.SetChecked(settings.Robots);
}

// Renews the worker's leases a few times within each lease, on a thread of its own, so a
// claim whose pages take long is not taken from it while it works.
class TLeaseRenewal {
 public:
  TLeaseRenewal(TJobQueue& queue, std::mutex& dbMutex, std::chrono::seconds lease,
                std::function<void(const std::string&)> report)
      : queue_(queue),
        dbMutex_(dbMutex),
        interval_(std::chrono::milliseconds(lease) / 3),
        report_(std::move(report)),
        thread_([this] { Loop(); }) {}
  ~TLeaseRenewal() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void SetJob(int64_t job) {
    std::lock_guard lock(mutex_);
    job_ = job;
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
      const int64_t job = job_;
      if (job == 0) continue;
      lock.unlock();
      try {
        std::lock_guard db(dbMutex_);
        queue_.Renew(job);
      } catch (const std::exception& error) {
        // The next claim says so for good; until then the leases run on their time.
        if (report_) report_(std::string("the leases were not renewed: ") + error.what());
      }
      lock.lock();
    }
  }

  TJobQueue& queue_;
  std::mutex& dbMutex_;
  const std::chrono::milliseconds interval_;
  std::function<void(const std::string&)> report_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  int64_t job_ = 0;
  std::thread thread_;  // last: starts once the rest is made
};

// Each run of a claim knows the claim's sites as the job knows them: the hosts that joined
// them and the followed pages they took in earlier claims, here or on other machines; the
// hosts its listed pages are redirected to are told back to the job.
void PrepareSitesOfClaim(TSiteRegistry& registry, const std::vector<TClaimedSite>& sites,
                         TClaimRun& claimRun) {
  for (const TClaimedSite& site : sites) {
    // A line without a host is a site of its own, "#" and its number.
    if (site.Name.starts_with('#')) continue;
    if (site.OtherHosts.empty() && site.FollowedPages == 0) continue;
    std::vector<std::string> hosts = {site.Name};
    hosts.insert(hosts.end(), site.OtherHosts.begin(), site.OtherHosts.end());
    registry.AddKnownSite(hosts, site.FollowedPages, site.FollowedAddresses);
  }
  registry.OnHostJoined = [&claimRun](const std::string& site, const std::string& host) {
    std::lock_guard lock(claimRun.Mutex);
    claimRun.JoinedHosts.push_back({site, host});
  };
}

bool Stopping(const TJobWorkOptions& options) {
  return options.Stop != nullptr && options.Stop->load();
}

}  // namespace

TJobWorkResult WorkJobs(const TJobWorkOptions& options) {
  TJobWorkResult result;
  const std::string holder = HolderName();
  auto lost = [&options](const std::string& reason) {
    if (options.Report) options.Report(reason + "; connecting again");
  };
  TPgStoreOptions storeOptions;
  storeOptions.WriterName = holder;
  storeOptions.OnLost = lost;
  // The store prepares the tables: a server of a newer schema is refused before any claim.
  std::unique_ptr<TResultStore> server = OpenPostgresStore(options.Url, storeOptions);
  store::TPgConnection db(options.Url);
  db.OnLost(lost);
  std::mutex dbMutex;
  TJobQueue queue(db, holder, options.Lease);
  if (options.Job) {
    std::lock_guard lock(dbMutex);
    TJobQueue::RunOfJob(db, *options.Job);
  }

  TScratchFolder scratch;
  const std::string listPath = scratch.Path() + "/claim.txt";
  TUnattendedDialogs dialogs;
  TForm1Environment environment;
  environment.ProgramPath = scratch.Path() + "/qmharvest-cli";
  // The worker's own network was checked once; a claim must not fail on it.
  environment.LocalAddress = [] { return std::string(); };
  TClaimRun claimRun;
  TForm1 form(dialogs, environment);
  form.FormCreate();
  form.SetStorePath({});
  form.UseResultStore(std::make_unique<TClaimStore>(*server, claimRun));
  form.AddressStatuses.SetKeepRecords(false);
  form.SpinEdit1.SetValue(options.Threads);
  if (options.InFlight) form.SpinEditInFlight.SetValue(*options.InFlight);
  form.SpinEditMemoryLimit.SetValue(options.MemoryLimitMb);
  const int32_t batchLines =
      options.BatchLines > 0
          ? options.BatchLines
          : std::max(16, std::min(4096, 4 * options.Threads * form.SpinEditInFlight.Value()));

  TLeaseRenewal renewal(queue, dbMutex, options.Lease, options.Report);
  TClaim last;
  std::vector<TLineOutcome> outcomes;
  std::vector<TJoinedHost> joined;
  // Short: a worker that waits for the others' last lines ends soon after the job does.
  constexpr auto kLeastIdleWait = std::chrono::milliseconds(100);
  constexpr auto kMostIdleWait = std::chrono::milliseconds(500);
  auto idleWait = kLeastIdleWait;
  for (;;) {
    const bool stopping = Stopping(options);
    TClaim claim;
    {
      std::lock_guard lock(dbMutex);
      claim = queue.FinishAndClaim(last, outcomes, options.Job, stopping ? 0 : batchLines, joined);
    }
    last = {};
    outcomes.clear();
    joined.clear();
    if (stopping) {
      result.Stopped = true;
      break;
    }
    if (claim.Lines.empty()) {
      bool complete;
      {
        std::lock_guard lock(dbMutex);
        complete = queue.Complete(options.Job);
      }
      if (complete) break;
      // Lines other workers hold: they end, or their leases run out.
      const auto until = std::chrono::steady_clock::now() + idleWait;
      while (!Stopping(options) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      idleWait = std::min(idleWait * 2, kMostIdleWait);
      continue;
    }
    idleWait = kLeastIdleWait;
    renewal.SetJob(claim.Job);
    TJobSettings settings;
    try {
      settings = ParseJobSettings(claim.Settings, claim.Job);
    } catch (const EJobError&) {
      // A job of a newer program: its lines go back untried, for the workers that know it.
      std::vector<TLineOutcome> untried;
      for (const TClaimedLine& line : claim.Lines) {
        untried.push_back({line.LineNumber, TLineOutcome::TKind::Release, {}});
      }
      std::lock_guard lock(dbMutex);
      queue.FinishAndClaim(claim, untried, options.Job, 0);
      throw;
    }
    {
      std::ofstream list(listPath, std::ios::binary | std::ios::trunc);
      for (const TClaimedLine& line : claim.Lines) list << line.Address << '\n';
      if (!list.flush()) throw EStoreError("Cannot write the claimed lines to " + listPath);
    }
    {
      std::lock_guard lock(claimRun.Mutex);
      claimRun.Run = claim.Run;
      claimRun.JobLines.clear();
      for (const TClaimedLine& line : claim.Lines) claimRun.JobLines.push_back(line.LineNumber);
    }
    ApplySettings(form, settings);
    form.PrepareRunSites = [sites = claim.Sites, &claimRun](TSiteRegistry& registry) {
      PrepareSitesOfClaim(registry, sites, claimRun);
    };
    form.Edit5.SetText(listPath);
    const int64_t completedBefore = form.SearchState.CompletedRuns.load();
    form.SpeedButton2Click();
    if (std::optional<std::string> message = dialogs.TakeMessage()) {
      throw EStoreError("the search of the claimed lines did not start: " + *message);
    }
    bool stopAsked = false;
    while (form.SearchState.CompletedRuns.load() == completedBefore) {
      if (!stopAsked && Stopping(options)) {
        stopAsked = true;
        form.SpeedButton3Click();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::optional<std::string> failure = form.TakeEndOfRunSaveFailure();
    last = claim;
    {
      std::lock_guard lock(claimRun.Mutex);
      const int64_t searched = failure ? 0 : claimRun.SavedPosition;
      for (size_t i = 0; i < claim.Lines.size(); ++i) {
        const int32_t jobLine = claim.Lines[i].LineNumber;
        if (static_cast<int64_t>(i) >= searched) {
          outcomes.push_back({jobLine, TLineOutcome::TKind::Release, {}});
          continue;
        }
        const auto listed = claimRun.Listed.find(static_cast<int32_t>(i + 1));
        outcomes.push_back(
            OutcomeOf(jobLine, listed == claimRun.Listed.end() ? nullptr : &listed->second));
        ++result.Lines;
      }
      result.Pages = claimRun.PagesStored;
      joined = std::exchange(claimRun.JoinedHosts, {});
    }
    if (failure) {
      // The lines go back (if the server takes that now; else their leases run out).
      try {
        std::lock_guard lock(dbMutex);
        queue.FinishAndClaim(last, outcomes, options.Job, 0, joined);
      } catch (const std::exception&) {
      }
      throw EStoreError(*failure);
    }
  }
  renewal.SetJob(0);
  return result;
}

}  // namespace qm
