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
constexpr const char* kRowColumns =
    "kind, value, source, listed_url, line_number, found_ms, checks";

// What Write inserts, one page or row per group of parameters.
constexpr const char* kInsertPageHead =
    "INSERT INTO pages (id, run, sequence, line_number, url, final_url, status_code, "
    "bytes_received, milliseconds, failure_reason, email_rows, mobile_rows, qq_rows, depth, "
    "listed_url, skipped, wechat_rows, phone_rows)";
constexpr int kPageParameters = 18;
constexpr const char* kInsertRowHead =
    "INSERT OR IGNORE INTO rows (run, kind, value, id, source, listed_url, line_number, "
    "found_ms, checks)";
constexpr int kRowParameters = 9;
// Pages and rows go in groups of this many a statement: a statement's start and end cost
// as much as inserting a row does.
constexpr size_t kInsertGroup = 32;

// `head` followed by `groups` groups of `parameters` numbered parameters each.
std::string InsertSql(const char* head, int parameters, size_t groups) {
  std::string sql = head;
  sql += " VALUES ";
  int next = 1;
  for (size_t group = 0; group < groups; ++group) {
    sql += group == 0 ? "(" : ", (";
    for (int parameter = 0; parameter < parameters; ++parameter) {
      if (parameter > 0) sql += ", ";
      sql += "?" + std::to_string(next++);
    }
    sql += ")";
  }
  return sql;
}

// A page's row id: its run's pages are one range of the table, in their order.
int64_t PageId(int64_t run, int64_t sequence) {
  return static_cast<int64_t>(static_cast<uint64_t>(run) << 32) + sequence;
}

void BindPage(store::TStatement& insert, int first, int64_t run, int64_t sequence,
              const TStoredPage& page) {
  insert.Bind(first++, PageId(run, sequence));
  insert.Bind(first, run);
  insert.Bind(first + 1, sequence);
  insert.Bind(first + 2, page.LineNumber);
  insert.Bind(first + 3, page.Url);
  insert.Bind(first + 4, page.FinalUrl);
  insert.Bind(first + 5, page.StatusCode);
  insert.Bind(first + 6, static_cast<int64_t>(page.BytesReceived));
  insert.Bind(first + 7, page.Milliseconds);
  insert.Bind(first + 8, page.FailureReason);
  insert.Bind(first + 9, page.RowsAdded[0]);
  insert.Bind(first + 10, page.RowsAdded[1]);
  insert.Bind(first + 11, page.RowsAdded[2]);
  insert.Bind(first + 12, page.Depth);
  insert.Bind(first + 13, page.ListedUrl);
  insert.Bind(first + 14, page.Skipped ? 1 : 0);
  insert.Bind(first + 15, page.RowsAdded[3]);
  insert.Bind(first + 16, page.RowsAdded[4]);
}

void BindRow(store::TStatement& insert, int first, int64_t run, int64_t id, const TStoredRow& row) {
  insert.Bind(first, run);
  insert.Bind(first + 1, row.Kind);
  insert.Bind(first + 2, row.Value);
  insert.Bind(first + 3, id);
  insert.Bind(first + 4, row.Source);
  insert.Bind(first + 5, row.ListedUrl);
  insert.Bind(first + 6, row.LineNumber);
  insert.Bind(first + 7, row.FoundAtMs);
  insert.Bind(first + 8, row.Checks);
}

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
    // Write checks that its run exists once a batch; a check per row would cost more than
    // the row.
    db.Execute("PRAGMA foreign_keys = OFF");
    // The unique index takes rows at random places; a larger cache keeps a long run's
    // index in memory rather than reading its pages back from the file.
    db.Execute("PRAGMA cache_size = -32768");
    store::MigrateSchema(db);
    if (options.MaxPages > 0) {
      db.QueryInt(("PRAGMA max_page_count = " + std::to_string(options.MaxPages)).c_str());
    }
    insertRun = TStatement(db,
                           "INSERT INTO runs (list_file, settings, started_ms, saved_position) "
                           "VALUES (?1, ?2, ?3, ?4)");
    pageCount = TStatement(db, "SELECT page_count, next_row_id FROM runs WHERE id = ?1");
    insertPage = TStatement(db, InsertSql(kInsertPageHead, kPageParameters, 1));
    insertPageGroup = TStatement(db, InsertSql(kInsertPageHead, kPageParameters, kInsertGroup));
    insertRow = TStatement(db, InsertSql(kInsertRowHead, kRowParameters, 1));
    insertRowGroup = TStatement(db, InsertSql(kInsertRowHead, kRowParameters, kInsertGroup));
    addCounts = TStatement(db,
                           "UPDATE runs SET page_count = page_count + ?2, "
                           "failed_page_count = failed_page_count + ?3, "
                           "row_count = row_count + ?4, next_row_id = ?6, "
                           "saved_position = coalesce(?5, saved_position) WHERE id = ?1");
    endRun = TStatement(
        db, "UPDATE runs SET ended_ms = ?2, saved_position = ?3, finished = ?4 WHERE id = ?1");
    reopenRun = TStatement(db, "UPDATE runs SET ended_ms = 0, finished = 0 WHERE id = ?1");
    // Found through the unique index of (run, kind, value).
    updateChecks =
        TStatement(db, "UPDATE rows SET checks = ?4 WHERE run = ?1 AND kind = ?2 AND value = ?3");
  }

  [[noreturn]] void FailNoRun(int64_t run) const {
    throw EStoreError("There is no run " + std::to_string(run) + " in the result store " +
                      db.Path());
  }

  std::mutex mutex;
  TSqliteConnection db;
  TStatement insertRun, pageCount, insertPage, insertPageGroup, insertRow, insertRowGroup,
      addCounts, endRun, reopenRun, updateChecks;
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
    // The key finds a run's rows of each kind in the order of their values: they are sorted
    // back into the order found here, since an index of that order would cost every row
    // written more than the sort costs a reader.
    rowsOfRun = TStatement(db, "SELECT " + rowColumns +
                                   " FROM rows WHERE run = ?1 "
                                   "AND kind BETWEEN 0 AND 31 AND (?2 >> kind) & 1 ORDER BY id");
    allRows = TStatement(db, "SELECT " + rowColumns +
                                 " FROM rows WHERE kind BETWEEN 0 AND 31 AND (?1 >> kind) & 1 "
                                 "ORDER BY run, id");
    pagesOfRun =
        TStatement(db,
                   "SELECT line_number, url, final_url, status_code, bytes_received, milliseconds, "
                   "failure_reason, email_rows, mobile_rows, qq_rows, depth, listed_url, skipped, "
                   "wechat_rows, phone_rows FROM pages WHERE id >= ?1 AND id < ?2 ORDER BY id");
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
    int64_t sequence = 0, rowId = 1;
    {
      TStatement& select = write_.pageCount;
      TResetOnExit reset(select);
      select.Bind(1, batch.Run);
      if (!select.Step()) write_.FailNoRun(batch.Run);
      sequence = select.Int(0);
      rowId = select.Int(1);
    }
    int64_t failedPages = 0;
    for (size_t first = 0; first < batch.Pages.size();) {
      const bool group = batch.Pages.size() - first >= kInsertGroup;
      TStatement& insert = group ? write_.insertPageGroup : write_.insertPage;
      const size_t count = group ? kInsertGroup : 1;
      for (size_t i = 0; i < count; ++i) {
        const TStoredPage& page = batch.Pages[first + i];
        BindPage(insert, 1 + static_cast<int>(i) * kPageParameters, batch.Run, sequence++, page);
        if (!page.FailureReason.empty() && !page.Skipped) ++failedPages;
      }
      insert.Run();
      first += count;
    }
    int64_t rowsStored = 0;
    for (size_t first = 0; first < batch.Rows.size();) {
      const bool group = batch.Rows.size() - first >= kInsertGroup;
      TStatement& insert = group ? write_.insertRowGroup : write_.insertRow;
      const size_t count = group ? kInsertGroup : 1;
      for (size_t i = 0; i < count; ++i) {
        BindRow(insert, 1 + static_cast<int>(i) * kRowParameters, batch.Run, rowId++,
                batch.Rows[first + i]);
      }
      insert.Run();
      // A row the run holds already is left out; Changes counts those taken.
      rowsStored += write_.db.Changes();
      first += count;
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
    update.Bind(6, rowId);
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

  void UpdateChecks(int64_t run, const std::vector<TRowChecks>& rows) override {
    if (rows.empty()) return;
    std::lock_guard lock(write_.mutex);
    TWriteTransaction transaction(write_.db);
    TStatement& update = write_.updateChecks;
    for (const TRowChecks& row : rows) {
      update.Bind(1, run);
      update.Bind(2, row.Kind);
      update.Bind(3, row.Value);
      update.Bind(4, row.Checks);
      update.Run();
    }
    transaction.Commit();
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
      row.Checks = select.Text(6);
      visit(row);
    }
  }

  void ForEachPage(int64_t run, const std::function<void(const TStoredPage&)>& visit) override {
    std::lock_guard lock(read_.mutex);
    TStatement& select = read_.pagesOfRun;
    TResetOnExit reset(select);
    select.Bind(1, PageId(run, 0));
    select.Bind(2, PageId(run + 1, 0));
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
                        static_cast<int32_t>(select.Int(9)), static_cast<int32_t>(select.Int(13)),
                        static_cast<int32_t>(select.Int(14))};
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
