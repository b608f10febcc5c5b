#include "store/sqlite_store.h"

#include <chrono>
#include <mutex>
#include <string>

#include "store/sqlite_connection.h"
#include "store/sqlite_schema.h"

namespace qm {
namespace {

using store::TResetOnExit;
using store::TSqliteConnection;
using store::TStatement;
using store::TWriteTransaction;

constexpr const char* kRunColumns =
    "id, list_file, settings, started_ms, ended_ms, saved_position, finished, page_count, "
    "failed_page_count, row_count";
constexpr const char* kRowColumns = "kind, value, source, listed_url, line_number, found_ms";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TStoredRun ReadRun(const TStatement& statement) {
  TStoredRun run;
  run.Id = statement.Int(0);
  run.ListFile = statement.Text(1);
  run.Settings = statement.Text(2);
  run.StartedMs = statement.Int(3);
  run.EndedMs = statement.Int(4);
  run.SavedPosition = statement.Int(5);
  run.Finished = statement.Int(6) != 0;
  run.Pages = statement.Int(7);
  run.FailedPages = statement.Int(8);
  run.Rows = statement.Int(9);
  return run;
}

// The connection that writes: BeginRun, Write, EndRun and ReopenRun, one at a time.
struct TWriteSide {
  TWriteSide(const std::string& path, const TSqliteStoreOptions& options)
      : db(path, /*create=*/true, options.BusyTimeoutMs) {
    // A file that cannot be written is opened for reading; said before anything else,
    // since reading a store without its write-ahead log fails in ways that would hide it.
    if (db.ReadOnly()) {
      throw EStoreError("The result store " + path +
                        " cannot be written: the file or its folder is read-only");
    }
    store::CheckStoreFile(db);
    // Readers go on while a batch is written, and a commit costs no sync of its own: a power
    // cut loses at most the last batches, never the file.
    db.QueryText("PRAGMA journal_mode = WAL");
    db.Execute("PRAGMA synchronous = NORMAL");
    db.Execute("PRAGMA foreign_keys = ON");
    store::MigrateSchema(db);
    if (options.MaxPages > 0) {
      db.QueryInt(("PRAGMA max_page_count = " + std::to_string(options.MaxPages)).c_str());
    }
    insertRun = TStatement(db,
                           "INSERT INTO runs (list_file, settings, started_ms, saved_position) "
                           "VALUES (?1, ?2, ?3, ?4)");
    pageCount = TStatement(db, "SELECT page_count FROM runs WHERE id = ?1");
    insertPage = TStatement(
        db,
        "INSERT INTO pages (run, sequence, line_number, url, final_url, status_code, "
        "bytes_received, milliseconds, failure_reason, email_rows, mobile_rows, qq_rows, depth, "
        "listed_url, skipped) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
        "?14, ?15)");
    insertRow = TStatement(db,
                           "INSERT OR IGNORE INTO rows (run, kind, value, source, listed_url, "
                           "line_number, found_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    addCounts = TStatement(db,
                           "UPDATE runs SET page_count = page_count + ?2, "
                           "failed_page_count = failed_page_count + ?3, "
                           "row_count = row_count + ?4, "
                           "saved_position = coalesce(?5, saved_position) WHERE id = ?1");
    endRun = TStatement(
        db, "UPDATE runs SET ended_ms = ?2, saved_position = ?3, finished = ?4 WHERE id = ?1");
    reopenRun = TStatement(db, "UPDATE runs SET ended_ms = 0, finished = 0 WHERE id = ?1");
  }

  [[noreturn]] void FailNoRun(int64_t run) const {
    throw EStoreError("There is no run " + std::to_string(run) + " in the result store " +
                      db.Path());
  }

  std::mutex mutex;
  TSqliteConnection db;
  TStatement insertRun, pageCount, insertPage, insertRow, addCounts, endRun, reopenRun;
};

// A second connection for the readers, so that a long export does not hold up the batches:
// each of its statements reads one snapshot of the file.
struct TReadSide {
  TReadSide(const std::string& path, const TSqliteStoreOptions& options)
      : db(path, /*create=*/false, options.BusyTimeoutMs) {
    db.Execute("PRAGMA query_only = ON");
    const std::string runColumns = kRunColumns;
    const std::string rowColumns = kRowColumns;
    lastUnfinished = TStatement(db, "SELECT " + runColumns +
                                        " FROM runs WHERE list_file = ?1 AND finished = 0 "
                                        "ORDER BY id DESC LIMIT 1");
    runs = TStatement(db, "SELECT " + runColumns + " FROM runs ORDER BY id");
    // The unique index would also find a run's rows, but in the order of their values.
    rowsOfRun = TStatement(db, "SELECT " + rowColumns +
                                   " FROM rows INDEXED BY rows_by_run WHERE run = ?1 "
                                   "AND kind BETWEEN 0 AND 31 AND (?2 >> kind) & 1 ORDER BY id");
    allRows = TStatement(db, "SELECT " + rowColumns +
                                 " FROM rows WHERE kind BETWEEN 0 AND 31 AND (?1 >> kind) & 1 "
                                 "ORDER BY id");
    pagesOfRun =
        TStatement(db,
                   "SELECT line_number, url, final_url, status_code, bytes_received, milliseconds, "
                   "failure_reason, email_rows, mobile_rows, qq_rows, depth, listed_url, skipped "
                   "FROM pages WHERE run = ?1 ORDER BY sequence");
  }

  std::mutex mutex;
  TSqliteConnection db;
  TStatement lastUnfinished, runs, rowsOfRun, allRows, pagesOfRun;
};

// The readers' callbacks run under the read side's lock: a callback must not call the store.
class TSqliteStore final : public TResultStore {
 public:
  TSqliteStore(const std::string& path, const TSqliteStoreOptions& options)
      : write_(path, options), read_(path, options) {}

  int64_t BeginRun(const std::string& listFile, const std::string& settings,
                   int64_t startPosition) override {
    std::lock_guard lock(write_.mutex);
    TStatement& insert = write_.insertRun;
    insert.Bind(1, listFile);
    insert.Bind(2, settings);
    insert.Bind(3, NowMs());
    insert.Bind(4, startPosition);
    insert.Run();
    return write_.db.LastInsertId();
  }

  std::optional<TStoredRun> LastUnfinishedRun(const std::string& listFile) override {
    std::lock_guard lock(read_.mutex);
    TStatement& select = read_.lastUnfinished;
    TResetOnExit reset(select);
    select.Bind(1, listFile);
    if (!select.Step()) return std::nullopt;
    return ReadRun(select);
  }

  void ReopenRun(int64_t run) override {
    std::lock_guard lock(write_.mutex);
    write_.reopenRun.Bind(1, run);
    write_.reopenRun.Run();
    if (write_.db.Changes() == 0) write_.FailNoRun(run);
  }

  void Write(const TStoreBatch& batch) override {
    if (batch.Pages.empty() && batch.Rows.empty() && !batch.SavedPosition) return;
    std::lock_guard lock(write_.mutex);
    TWriteTransaction transaction(write_.db);
    int64_t sequence = 0;
    {
      TStatement& select = write_.pageCount;
      TResetOnExit reset(select);
      select.Bind(1, batch.Run);
      if (!select.Step()) write_.FailNoRun(batch.Run);
      sequence = select.Int(0);
    }
    int64_t failedPages = 0;
    for (const TStoredPage& page : batch.Pages) {
      TStatement& insert = write_.insertPage;
      insert.Bind(1, batch.Run);
      insert.Bind(2, sequence++);
      insert.Bind(3, page.LineNumber);
      insert.Bind(4, page.Url);
      insert.Bind(5, page.FinalUrl);
      insert.Bind(6, page.StatusCode);
      insert.Bind(7, static_cast<int64_t>(page.BytesReceived));
      insert.Bind(8, page.Milliseconds);
      insert.Bind(9, page.FailureReason);
      insert.Bind(10, page.RowsAdded[0]);
      insert.Bind(11, page.RowsAdded[1]);
      insert.Bind(12, page.RowsAdded[2]);
      insert.Bind(13, page.Depth);
      insert.Bind(14, page.ListedUrl);
      insert.Bind(15, page.Skipped ? 1 : 0);
      insert.Run();
      if (!page.FailureReason.empty() && !page.Skipped) ++failedPages;
    }
    int64_t rowsStored = 0;
    for (const TStoredRow& row : batch.Rows) {
      TStatement& insert = write_.insertRow;
      insert.Bind(1, batch.Run);
      insert.Bind(2, row.Kind);
      insert.Bind(3, row.Value);
      insert.Bind(4, row.Source);
      insert.Bind(5, row.ListedUrl);
      insert.Bind(6, row.LineNumber);
      insert.Bind(7, row.FoundAtMs);
      insert.Run();
      rowsStored += write_.db.Changes();
    }
    TStatement& update = write_.addCounts;
    update.Bind(1, batch.Run);
    update.Bind(2, static_cast<int64_t>(batch.Pages.size()));
    update.Bind(3, failedPages);
    update.Bind(4, rowsStored);
    if (batch.SavedPosition) {
      update.Bind(5, *batch.SavedPosition);
    } else {
      update.BindNull(5);
    }
    update.Run();
    transaction.Commit();
  }

  void EndRun(int64_t run, int64_t savedPosition, bool finished) override {
    std::lock_guard lock(write_.mutex);
    TStatement& update = write_.endRun;
    update.Bind(1, run);
    update.Bind(2, NowMs());
    update.Bind(3, savedPosition);
    update.Bind(4, finished ? 1 : 0);
    update.Run();
    if (write_.db.Changes() == 0) write_.FailNoRun(run);
  }

  std::vector<TStoredRun> Runs() override {
    std::lock_guard lock(read_.mutex);
    TStatement& select = read_.runs;
    TResetOnExit reset(select);
    std::vector<TStoredRun> runs;
    while (select.Step()) runs.push_back(ReadRun(select));
    return runs;
  }

  void ForEachRow(std::optional<int64_t> run, unsigned kinds,
                  const std::function<void(const TStoredRow&)>& visit) override {
    std::lock_guard lock(read_.mutex);
    TStatement& select = run ? read_.rowsOfRun : read_.allRows;
    TResetOnExit reset(select);
    int parameter = 1;
    if (run) select.Bind(parameter++, *run);
    select.Bind(parameter, static_cast<int64_t>(kinds));
    TStoredRow row;
    while (select.Step()) {
      row.Kind = static_cast<int>(select.Int(0));
      row.Value = select.Text(1);
      row.Source = select.Text(2);
      row.ListedUrl = select.Text(3);
      row.LineNumber = static_cast<int32_t>(select.Int(4));
      row.FoundAtMs = select.Int(5);
      visit(row);
    }
  }

  void ForEachPage(int64_t run, const std::function<void(const TStoredPage&)>& visit) override {
    std::lock_guard lock(read_.mutex);
    TStatement& select = read_.pagesOfRun;
    TResetOnExit reset(select);
    select.Bind(1, run);
    TStoredPage page;
    while (select.Step()) {
      page.LineNumber = static_cast<int32_t>(select.Int(0));
      page.Url = select.Text(1);
      page.FinalUrl = select.Text(2);
      page.StatusCode = static_cast<int32_t>(select.Int(3));
      page.BytesReceived = static_cast<uint64_t>(select.Int(4));
      page.Milliseconds = select.Int(5);
      page.FailureReason = select.Text(6);
      page.RowsAdded = {static_cast<int32_t>(select.Int(7)), static_cast<int32_t>(select.Int(8)),
                        static_cast<int32_t>(select.Int(9))};
      page.Depth = static_cast<int32_t>(select.Int(10));
      page.ListedUrl = select.Text(11);
      page.Skipped = select.Int(12) != 0;
      visit(page);
    }
  }

 private:
  TWriteSide write_;
  TReadSide read_;
};

}  // namespace

std::unique_ptr<TResultStore> OpenSqliteStore(const std::string& path,
                                              const TSqliteStoreOptions& options) {
  if (path.empty()) throw EStoreError("No file was given for the result store");
  return std::make_unique<TSqliteStore>(path, options);
}

std::unique_ptr<TResultStore> OpenSqliteStore(const std::string& path) {
  return OpenSqliteStore(path, TSqliteStoreOptions{});
}

}  // namespace qm
