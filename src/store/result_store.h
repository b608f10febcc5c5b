#pragma once
// Where a run's pages and rows are kept as they are found, so that nothing found is lost
// to a kill, a crash or a power cut. One interface, one backend per database engine.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A failure of the result store; its message is the text the user sees.
class EStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What became of one page, as the run's status list records it.
struct TStoredPage {
  int32_t LineNumber = 0;
  std::string Url;
  std::string FinalUrl;
  int32_t StatusCode = 0;
  uint64_t BytesReceived = 0;
  int64_t Milliseconds = 0;
  std::string FailureReason;
  std::array<int32_t, 5> RowsAdded{};  // e-mail, mobile, QQ, WeChat, telephone
  int32_t Depth = 0;
  std::string ListedUrl;
  bool Skipped = false;  // not fetched by design (a blank line, a page fetched already)
};

// One row as a result list holds it, with where and when it was found.
struct TStoredRow {
  int Kind = 0;        // 0 e-mail, 1 mobile, 2 QQ, 3 WeChat, 4 telephone: the lists in order
  std::string Value;   // as the list holds it (a QQ number with its mail suffix)
  std::string Source;  // the page it was first found on
  std::string ListedUrl;
  int32_t LineNumber = 0;
  int64_t FoundAtMs = 0;  // milliseconds since 1970-01-01 UTC
  std::string Checks = {};  // the check flags ("ok", "no-mail,role", ...); empty: unchecked
};

// The check flags of a row stored before its checks had settled.
struct TRowChecks {
  int Kind = 0;
  std::string Value;
  std::string Checks;
};

struct TStoredRun {
  int64_t Id = 0;
  std::string ListFile;
  std::string Settings;  // the settings the run was started with, as text
  int64_t StartedMs = 0;
  int64_t EndedMs = 0;  // 0 while the run has not ended
  int64_t SavedPosition = 0;
  bool Finished = false;  // ended with its list searched to the end
  int64_t Pages = 0;
  int64_t FailedPages = 0;
  int64_t Rows = 0;
};

// What one transaction writes for a run: its pages, its rows, and the position it may save
// once they are stored.
struct TStoreBatch {
  int64_t Run = 0;
  std::vector<TStoredPage> Pages;
  std::vector<TStoredRow> Rows;
  std::optional<int64_t> SavedPosition;
};

class TResultStore {
 public:
  virtual ~TResultStore() = default;

  // A new run of `listFile` starting at `startPosition`; its id.
  virtual int64_t BeginRun(const std::string& listFile, const std::string& settings,
                           int64_t startPosition) = 0;
  // The newest run of `listFile` that has not finished, if any.
  virtual std::optional<TStoredRun> LastUnfinishedRun(const std::string& listFile) = 0;
  // A run goes on again (resumed): it is no longer ended.
  virtual void ReopenRun(int64_t run) = 0;
  // One transaction. A row whose kind and value the run has stored already is left out.
  virtual void Write(const TStoreBatch& batch) = 0;
  virtual void EndRun(int64_t run, int64_t savedPosition, bool finished) = 0;
  // Sets the flags of rows the run holds, found by kind and value, in one transaction. A
  // store that cannot (one that forwards to another) leaves them as they were written.
  virtual void UpdateChecks(int64_t /*run*/, const std::vector<TRowChecks>& /*rows*/) {}

  // Every run, oldest first, with its counts.
  virtual std::vector<TStoredRun> Runs() = 0;
  // The rows of one run, or of every run (nullopt), in the order found, of the kinds whose
  // bit (1 << kind) is set in `kinds`.
  virtual void ForEachRow(std::optional<int64_t> run, unsigned kinds,
                          const std::function<void(const TStoredRow&)>& visit) = 0;
  // The pages of one run in the order they ended.
  virtual void ForEachPage(int64_t run, const std::function<void(const TStoredPage&)>& visit) = 0;
};

// Opens the SQLite store at `path`, creating it when missing and bringing an older schema up
// to date. Throws EStoreError (a file that is not a store, one of a newer schema, one that
// cannot be opened or written, ...).
std::unique_ptr<TResultStore> OpenSqliteStore(const std::string& path);

}  // namespace qm
