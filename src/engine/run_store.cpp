// A run's pages and rows kept in the result store as they end: the run begun or continued
// there, the writer fed, the position marked, the run ended.
#include <unordered_set>
#include <utility>

#include "contacts/extractors.h"
#include "engine/main_form.h"

namespace qm {
namespace {

TStoredPage StoredPageOf(const TAddressStatus& status) {
  TStoredPage page;
  page.LineNumber = status.LineNumber;
  page.Url = status.Url;
  page.FinalUrl = status.FinalUrl;
  page.StatusCode = status.StatusCode;
  page.BytesReceived = status.BytesReceived;
  page.Milliseconds = status.Milliseconds;
  page.FailureReason = status.FailureReason;
  page.RowsAdded = status.RowsAdded;
  page.Depth = status.Depth;
  page.ListedUrl = status.ListedUrl;
  page.Skipped = status.Skipped;
  return page;
}

TAddressStatus StatusOf(const TStoredPage& page) {
  TAddressStatus status;
  status.LineNumber = page.LineNumber;
  status.Url = page.Url;
  status.FinalUrl = page.FinalUrl;
  status.StatusCode = page.StatusCode;
  status.BytesReceived = page.BytesReceived;
  status.Milliseconds = page.Milliseconds;
  status.FailureReason = page.FailureReason;
  status.RowsAdded = page.RowsAdded;
  status.Depth = page.Depth;
  status.ListedUrl = page.ListedUrl;
  status.Skipped = page.Skipped;
  return status;
}

// The mail suffix a kind's rows carry beyond their candidate.
std::string_view SuffixOfKind(int kind) {
  return kind == kQQList ? QQMailSuffix : std::string_view();
}

// Every kind's bit, as the store selects rows.
constexpr unsigned kAllKinds = (1u << kContactKindCount) - 1;

// The settings a run starts with, as the store keeps them.
std::string RunSettingsText(TForm1& form) {
  return "thread=" + form.SpinEdit1.Text() + " ifeml=" + (form.CheckBox2.Checked() ? "1" : "0") +
         " ifphone=" + (form.CheckBox3.Checked() ? "1" : "0") +
         " ifqq=" + (form.CheckBox4.Checked() ? "1" : "0") +
         " ifwechat=" + (form.CheckBoxWeChat.Checked() ? "1" : "0") +
         " iftel=" + (form.CheckBoxPhone.Checked() ? "1" : "0") + " depth=" + form.SpinEditDepth.Text() +
         " pagelimit=" + form.SpinEditPageLimit.Text() +
         " robots=" + (form.CheckBoxRobots.Checked() ? "1" : "0") +
         " newonly=" + (form.CheckBoxNewOnly.Checked() ? "1" : "0");
}

// The lines whose rows the store holds: where the run started until its writer has stored
// a position.
int64_t StoredPosition(const TSearchRun& run, const TStoreWriter& writer) {
  const int64_t durable = writer.DurablePosition();
  return durable < run.FirstLine ? run.FirstLine : durable;
}

}  // namespace

void TForm1::OpenResultStore() {
  if (store_ || storePath_.empty()) return;
  store_ = OpenSqliteStore(storePath_);
}

void TForm1::BeginStoredRun(TSearchRun& run, int32_t firstLine) {
  const bool continuing = std::exchange(continueStoredRun_, false);
  BeginChecks();
  RestoredRows = {};
  run.FirstLine = firstLine;
  SearchState.StoredLines.store(store_ ? firstLine : -1);
  if (!store_) return;
  const std::string listFile = Edit5.Text();
  std::optional<TStoredRun> earlier;
  if (continuing) earlier = store_->LastUnfinishedRun(listFile);
  if (earlier) {
    run.StoredRunId = earlier->Id;
    store_->ReopenRun(earlier->Id);
    // The lists and records go on from where the stored run left them.
    const std::array<TResultList*, kContactKindCount> lists = ResultLists();
    store_->ForEachRow(earlier->Id, kAllKinds, [&lists](const TStoredRow& row) {
      if (row.Kind < 0 || row.Kind >= kContactKindCount) return;
      lists[row.Kind]->RestoreRow(row.Value, SuffixOfKind(row.Kind), row.Source, row.FoundAtMs);
    });
    store_->ForEachPage(earlier->Id, [this](const TStoredPage& page) {
      AddressStatuses.Add(StatusOf(page));
    });
    for (int kind = 0; kind < kContactKindCount; ++kind) {
      RestoredRows[kind] = static_cast<size_t>(lists[kind]->EntryCount());
      StatusBar1.SetPanel(kListCountPanels[kind], std::to_string(lists[kind]->EntryCount()));
    }
    StatusBar1.SetPanel(kFailedCountPanel, std::to_string(AddressStatuses.FailedCount()));
  } else {
    run.StoredRunId = store_->BeginRun(listFile, RunSettingsText(*this), firstLine);
  }
  if (CheckBoxNewOnly.Checked()) ExcludeEarlierRows();
  run.StoreWriter = std::make_unique<TStoreWriter>(*store_, run.StoredRunId, StoreRowChecker());
  run.StoreWriter->MarkPosition(firstLine);
}

void TForm1::ExcludeEarlierRows() {
  std::unordered_set<std::string> earlier[kContactKindCount];
  store_->ForEachRow(std::nullopt, kAllKinds, [&earlier](const TStoredRow& row) {
    if (row.Kind < 0 || row.Kind >= kContactKindCount) return;
    const std::string_view suffix = SuffixOfKind(row.Kind);
    std::string_view candidate = row.Value;
    if (!suffix.empty() && candidate.ends_with(suffix)) candidate.remove_suffix(suffix.size());
    earlier[row.Kind].emplace(candidate);
  });
  const std::array<TResultList*, kContactKindCount> lists = ResultLists();
  for (int kind = 0; kind < kContactKindCount; ++kind) {
    lists[kind]->ExcludeCandidates(std::move(earlier[kind]));
  }
}

void TForm1::StoreFinishedPage(TSearchRun& run, const TAddressStatus& status,
                               std::vector<TTalliedRow>& rows) {
  TStoreWriter* writer = run.StoreWriter.get();
  if (writer == nullptr) return;
  // The lookups start now; neither the worker nor the writer waits for them.
  const std::shared_ptr<verify::TContactVerifier> verifier = Verifier();
  for (const TTalliedRow& row : rows) verifier->Request(row.List, row.Value);
  for (TTalliedRow& row : rows) {
    writer->AddRow({row.List, std::move(row.Value), status.FinalUrl, status.ListedUrl,
                    status.LineNumber, row.FoundAtMs});
  }
  writer->AddPage(StoredPageOf(status));
  std::string failure = writer->Failure();
  if (failure.empty()) return;
  // Nothing more can be kept: the run stops, and says why once it has ended.
  {
    std::lock_guard lock(saveFailureMutex_);
    if (!storeFailure_) storeFailure_ = std::move(failure);
  }
  SearchState.StopRequested.store(true);
}

void TForm1::MarkStoredPositionLocked(TSearchRun& run) {
  if (!run.StoreWriter || run.Closed) return;
  run.StoreWriter->MarkPosition(SearchState.CompletedLines.load());
  // A save that does not wait for the writer still never passes what is stored.
  SearchState.StoredLines.store(StoredPosition(run, *run.StoreWriter));
}

void TForm1::SyncStoredPosition() {
  const std::shared_ptr<TSearchRun> run = SearchState.CurrentRun();
  if (!run) return;
  std::lock_guard lock(run->ListLock);
  if (!run->StoreWriter || run->Closed) return;
  run->StoreWriter->Flush();
  SearchState.StoredLines.store(StoredPosition(*run, *run->StoreWriter));
}

void TForm1::EndStoredRun(TSearchRun& run) {
  std::unique_ptr<TStoreWriter> writer;
  bool completed = false;
  {
    std::lock_guard lock(run.ListLock);
    writer = std::move(run.StoreWriter);
    completed = run.CompletionClaimed;
  }
  if (!writer) return;
  writer->Flush();
  SearchState.StoredLines.store(StoredPosition(run, *writer));
  std::string failure = writer->Failure();
  if (failure.empty()) {
    const bool finished = run.ListEnded && !SearchState.StopRequested.load() &&
                          SearchState.CompletedLines.load() >= SearchState.UrlCounter.load();
    try {
      store_->EndRun(run.StoredRunId, SearchState.SavedPosition(), finished);
    } catch (const std::exception& error) {
      failure = error.what();
    }
  }
  // A run that ended by itself fills in the flags of its last rows, each lookup ending by
  // its deadline; one closed at once (a second Ctrl-C, the wait dialog closed) leaves them
  // unchecked.
  if (failure.empty() && completed) {
    writer->AwaitChecks();
    failure = writer->Failure();
  }
  writer.reset();
  if (failure.empty()) return;
  std::lock_guard lock(saveFailureMutex_);
  if (!storeFailure_) storeFailure_ = std::move(failure);
}

}  // namespace qm
