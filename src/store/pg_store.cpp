#include "store/pg_store.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <mutex>

#include "store/pg_connection.h"
#include "store/pg_schema.h"

namespace qm {
namespace {

using store::TPgConnection;
using store::TPgParams;
using store::TPgResult;

constexpr const char* kRunSelect =
    "SELECT r.id, r.list_file, r.settings, r.started_ms, r.ended_ms, r.saved_position, "
    "r.finished, r.page_count + coalesce(sum(t.page_count), 0), "
    "r.failed_page_count + coalesce(sum(t.failed_page_count), 0), "
    "r.row_count + coalesce(sum(t.row_count), 0) "
    "FROM runs r LEFT JOIN run_tallies t ON t.run = r.id ";
constexpr const char* kRunGroup = " GROUP BY r.id ";
// Rows and pages are read a slice at a time, so that a run of millions is never held whole.
constexpr int kReadSlice = 5000;

// A page is stored once for each search of its line (in a job, the line's failed searches
// so far; elsewhere 0), so a page written again (by the worker that takes over a dead one's
// line) is not recorded twice. A job's followed pages are added to their site's count in the
// same statement, and their addresses to the site's. Gives the pages recorded and those of
// them that failed.
constexpr const char* kPagesInsert =
    "WITH job AS (SELECT id FROM jobs WHERE run = $1), "
    "stored AS (INSERT INTO pages (run, line_number, search, url, final_url, status_code, "
    "bytes_received, milliseconds, failure_reason, email_rows, mobile_rows, qq_rows, "
    "wechat_rows, phone_rows, depth, listed_url, skipped) SELECT $1, p.l, coalesce((SELECT "
    "jl.failed_searches FROM job_lines jl, job WHERE jl.job = job.id AND jl.line_number = p.l), "
    "0), p.u, p.f, p.s, p.b, p.m, p.r, p.e, p.mo, p.q, p.w, p.ph, p.d, p.li, p.sk FROM "
    "unnest($2::int[], $3::text[], $4::text[], $5::int[], $6::bigint[], $7::bigint[], "
    "$8::text[], $9::int[], $10::int[], $11::int[], $12::int[], $13::int[], $14::int[], "
    "$15::text[], $16::int[]) WITH ORDINALITY AS p(l, u, f, s, b, m, r, e, mo, q, w, ph, d, "
    "li, sk, n) ORDER BY p.n ON CONFLICT (run, line_number, search, md5(url)) DO NOTHING "
    "RETURNING line_number, depth, url, final_url, failure_reason <> '' AND skipped = 0 AS "
    "failed), "
    "followed AS (SELECT jl.job, jl.site, stored.url, stored.final_url FROM stored JOIN job ON "
    "true JOIN job_lines jl ON jl.job = job.id AND jl.line_number = stored.line_number WHERE "
    "stored.depth > 0), "
    "counted AS (UPDATE job_sites js SET followed_pages = js.followed_pages + c.n FROM "
    "(SELECT job, site, count(*) AS n FROM followed GROUP BY job, site) c WHERE js.job = c.job "
    "AND js.site = c.site RETURNING 1), "
    "remembered AS (INSERT INTO job_site_pages (job, site, url, final_url) SELECT job, site, "
    "url, final_url FROM followed RETURNING 1) "
    "SELECT count(*), count(*) FILTER (WHERE failed) FROM stored";

// The pages' columns of rows added, one per kind in the order of the lists.
constexpr size_t kPageKindColumns = 5;

int32_t RowsOfKind(const TStoredPage& page, size_t kind) {
  return kind < page.RowsAdded.size() ? page.RowsAdded[kind] : 0;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TStoredRun ReadRun(const TPgResult& result, int row) {
  TStoredRun run;
  run.Id = result.Int(row, 0);
  run.ListFile = result.Text(row, 1);
  run.Settings = result.Text(row, 2);
  run.StartedMs = result.Int(row, 3);
  run.EndedMs = result.Int(row, 4);
  run.SavedPosition = result.Int(row, 5);
  run.Finished = result.Int(row, 6) != 0;
  run.Pages = result.Int(row, 7);
  run.FailedPages = result.Int(row, 8);
  run.Rows = result.Int(row, 9);
  return run;
}

class TPgStore final : public TResultStore {
 public:
  TPgStore(const std::string& url, const TPgStoreOptions& options)
      : db_(url), writer_(options.WriterName.empty() ? DefaultWriterName() : options.WriterName) {
    db_.SetPatience(options.Patience);
    db_.OnLost(options.OnLost);
    if (options.Prepare) {
      store::PreparePgSchema(db_);
    } else if (!store::PgSchemaPresent(db_)) {
      throw EStoreError("The PostgreSQL database " + store::ShownUrl(url) +
                        " holds no job: nothing was ever submitted there");
    }
  }

  int64_t BeginRun(const std::string& listFile, const std::string& settings,
                   int64_t startPosition) override {
    std::lock_guard lock(mutex_);
    int64_t id = 0;
    db_.Transaction([&] {
      id = db_.Exec(
                  "INSERT INTO runs (list_file, settings, started_ms, saved_position) "
                  "VALUES ($1, $2, $3, $4) RETURNING id",
                  TPgParams().Add(listFile).Add(settings).Add(NowMs()).Add(startPosition))
               .Int(0, 0);
    });
    return id;
  }

  std::optional<TStoredRun> LastUnfinishedRun(const std::string& listFile) override {
    std::lock_guard lock(mutex_);
    const TPgResult result =
        db_.Exec(std::string(kRunSelect) + "WHERE r.list_file = $1 AND r.finished = 0" + kRunGroup +
                     "ORDER BY r.id DESC LIMIT 1",
                 TPgParams().Add(listFile));
    if (result.Rows() == 0) return std::nullopt;
    return ReadRun(result, 0);
  }

  void ReopenRun(int64_t run) override {
    std::lock_guard lock(mutex_);
    int64_t changed = 0;
    db_.Transaction([&] {
      changed =
          db_.Exec("UPDATE runs SET ended_ms = 0, finished = 0 WHERE id = $1", TPgParams().Add(run))
              .AffectedRows();
    });
    if (changed == 0) FailNoRun(run);
  }

  void Write(const TStoreBatch& batch) override {
    if (batch.Pages.empty() && batch.Rows.empty() && !batch.SavedPosition) return;
    TPgParams pages;
    pages.Add(batch.Run);
    {
      std::vector<int64_t> lines, status, bytes, ms, depth, skipped;
      std::array<std::vector<int64_t>, kPageKindColumns> kinds;
      std::vector<std::string> url, finalUrl, reason, listed;
      for (const TStoredPage& page : batch.Pages) {
        lines.push_back(page.LineNumber);
        url.push_back(page.Url);
        finalUrl.push_back(page.FinalUrl);
        status.push_back(page.StatusCode);
        bytes.push_back(static_cast<int64_t>(page.BytesReceived));
        ms.push_back(page.Milliseconds);
        reason.push_back(page.FailureReason);
        for (size_t kind = 0; kind < kPageKindColumns; ++kind) {
          kinds[kind].push_back(RowsOfKind(page, kind));
        }
        depth.push_back(page.Depth);
        listed.push_back(page.ListedUrl);
        skipped.push_back(page.Skipped ? 1 : 0);
      }
      pages.AddArray(lines).AddArray(url).AddArray(finalUrl).AddArray(status).AddArray(bytes);
      pages.AddArray(ms).AddArray(reason);
      for (const std::vector<int64_t>& counts : kinds) pages.AddArray(counts);
      pages.AddArray(depth).AddArray(listed).AddArray(skipped);
    }
    TPgParams rows;
    rows.Add(batch.Run);
    {
      std::vector<int64_t> kind, lines, found;
      std::vector<std::string> value, source, listed, checks;
      for (const TStoredRow& row : batch.Rows) {
        checks.push_back(row.Checks);
        kind.push_back(row.Kind);
        value.push_back(row.Value);
        source.push_back(row.Source);
        listed.push_back(row.ListedUrl);
        lines.push_back(row.LineNumber);
        found.push_back(row.FoundAtMs);
      }
      rows.AddArray(kind).AddArray(value).AddArray(source).AddArray(listed).AddArray(lines);
      rows.AddArray(found).AddArray(checks);
    }
    std::lock_guard lock(mutex_);
    db_.Transaction([&] {
      if (db_.Exec("SELECT 1 FROM runs WHERE id = $1", TPgParams().Add(batch.Run)).Rows() == 0) {
        FailNoRun(batch.Run);
      }
      int64_t pagesStored = 0;
      int64_t failedStored = 0;
      if (!batch.Pages.empty()) {
        const TPgResult counts = db_.Exec(kPagesInsert, pages);
        pagesStored = counts.Int(0, 0);
        failedStored = counts.Int(0, 1);
      }
      int64_t stored = 0;
      if (!batch.Rows.empty()) {
        stored = db_.Exec(
                        "INSERT INTO rows (run, kind, value, source, listed_url, line_number, "
                        "found_ms, checks) SELECT $1, r.k, r.v, r.s, r.li, r.l, r.f, r.c FROM "
                        "unnest($2::int[], $3::text[], $4::text[], $5::text[], $6::int[], "
                        "$7::bigint[], $8::text[]) WITH ORDINALITY AS r(k, v, s, li, l, f, c, n) "
                        "ORDER BY r.n "
                        "ON CONFLICT (run, kind, value) DO NOTHING",
                        rows)
                     .AffectedRows();
      }
      db_.Exec(
          "INSERT INTO run_tallies (run, writer, page_count, failed_page_count, row_count, "
          "updated_ms) VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (run, writer) DO UPDATE SET "
          "page_count = run_tallies.page_count + excluded.page_count, "
          "failed_page_count = run_tallies.failed_page_count + excluded.failed_page_count, "
          "row_count = run_tallies.row_count + excluded.row_count, updated_ms = "
          "excluded.updated_ms",
          TPgParams()
              .Add(batch.Run)
              .Add(writer_)
              .Add(pagesStored)
              .Add(failedStored)
              .Add(stored)
              .Add(NowMs()));
      if (batch.SavedPosition) {
        db_.Exec("UPDATE runs SET saved_position = $2 WHERE id = $1",
                 TPgParams().Add(batch.Run).Add(*batch.SavedPosition));
      }
    });
  }

  void EndRun(int64_t run, int64_t savedPosition, bool finished) override {
    std::lock_guard lock(mutex_);
    int64_t changed = 0;
    db_.Transaction([&] {
      changed = db_.Exec(
                       "UPDATE runs SET ended_ms = $2, saved_position = $3, finished = $4 "
                       "WHERE id = $1",
                       TPgParams().Add(run).Add(NowMs()).Add(savedPosition).Add(finished ? 1 : 0))
                    .AffectedRows();
    });
    if (changed == 0) FailNoRun(run);
  }

  void UpdateChecks(int64_t run, const std::vector<TRowChecks>& rows) override {
    if (rows.empty()) return;
    std::vector<int64_t> kind;
    std::vector<std::string> value, checks;
    for (const TRowChecks& row : rows) {
      kind.push_back(row.Kind);
      value.push_back(row.Value);
      checks.push_back(row.Checks);
    }
    TPgParams params;
    params.Add(run).AddArray(kind).AddArray(value).AddArray(checks);
    std::lock_guard lock(mutex_);
    db_.Transaction([&] {
      db_.Exec(
          "UPDATE rows SET checks = u.c FROM unnest($2::int[], $3::text[], $4::text[]) AS "
          "u(k, v, c) WHERE rows.run = $1 AND rows.kind = u.k AND rows.value = u.v",
          params);
    });
  }

  std::vector<TStoredRun> Runs() override {
    std::lock_guard lock(mutex_);
    const TPgResult result = db_.Exec(std::string(kRunSelect) + kRunGroup + "ORDER BY r.id");
    std::vector<TStoredRun> runs;
    for (int i = 0; i < result.Rows(); ++i) runs.push_back(ReadRun(result, i));
    return runs;
  }

  void ForEachRow(std::optional<int64_t> run, unsigned kinds,
                  const std::function<void(const TStoredRow&)>& visit) override {
    int64_t after = 0;
    TStoredRow row;
    for (;;) {
      TPgResult slice(nullptr);
      {
        std::lock_guard lock(mutex_);
        TPgParams params;
        params.Add(after).Add(static_cast<int64_t>(kinds)).Add(kReadSlice);
        std::string sql =
            "SELECT id, kind, value, source, listed_url, line_number, found_ms, checks FROM rows "
            "WHERE id > $1 AND kind BETWEEN 0 AND 31 AND (($2::bigint >> kind) & 1) = 1 ";
        if (run) {
          params.Add(*run);
          sql += "AND run = $4 ";
        }
        slice = db_.Exec(sql + "ORDER BY id LIMIT $3", params);
      }
      for (int i = 0; i < slice.Rows(); ++i) {
        after = slice.Int(i, 0);
        row.Kind = static_cast<int>(slice.Int(i, 1));
        row.Value = slice.Text(i, 2);
        row.Source = slice.Text(i, 3);
        row.ListedUrl = slice.Text(i, 4);
        row.LineNumber = static_cast<int32_t>(slice.Int(i, 5));
        row.FoundAtMs = slice.Int(i, 6);
        row.Checks = slice.Text(i, 7);
        visit(row);
      }
      if (slice.Rows() < kReadSlice) return;
    }
  }

  void ForEachPage(int64_t run, const std::function<void(const TStoredPage&)>& visit) override {
    int64_t after = -1;
    TStoredPage page;
    for (;;) {
      TPgResult slice(nullptr);
      {
        std::lock_guard lock(mutex_);
        slice = db_.Exec(
            "SELECT sequence, line_number, url, final_url, status_code, bytes_received, "
            "milliseconds, failure_reason, email_rows, mobile_rows, qq_rows, wechat_rows, "
            "phone_rows, depth, listed_url, skipped FROM pages WHERE run = $1 AND sequence > $2 "
            "ORDER BY sequence LIMIT $3",
            TPgParams().Add(run).Add(after).Add(kReadSlice));
      }
      for (int i = 0; i < slice.Rows(); ++i) {
        after = slice.Int(i, 0);
        page.LineNumber = static_cast<int32_t>(slice.Int(i, 1));
        page.Url = slice.Text(i, 2);
        page.FinalUrl = slice.Text(i, 3);
        page.StatusCode = static_cast<int32_t>(slice.Int(i, 4));
        page.BytesReceived = static_cast<uint64_t>(slice.Int(i, 5));
        page.Milliseconds = slice.Int(i, 6);
        page.FailureReason = slice.Text(i, 7);
        for (size_t kind = 0; kind < page.RowsAdded.size() && kind < kPageKindColumns; ++kind) {
          page.RowsAdded[kind] = static_cast<int32_t>(slice.Int(i, 8 + static_cast<int>(kind)));
        }
        page.Depth = static_cast<int32_t>(slice.Int(i, 13));
        page.ListedUrl = slice.Text(i, 14);
        page.Skipped = slice.Int(i, 15) != 0;
        visit(page);
      }
      if (slice.Rows() < kReadSlice) return;
    }
  }

 private:
  [[noreturn]] void FailNoRun(int64_t run) const {
    throw EStoreError("There is no run " + std::to_string(run) + " in the PostgreSQL database " +
                      store::ShownUrl(db_.Url()));
  }

  std::mutex mutex_;
  TPgConnection db_;
  const std::string writer_;
};

}  // namespace

std::string DefaultWriterName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return std::string(host[0] != '\0' ? host : "host") + ":" + std::to_string(::getpid());
}

std::unique_ptr<TResultStore> OpenPostgresStore(const std::string& url,
                                                const TPgStoreOptions& options) {
  return std::make_unique<TPgStore>(url, options);
}

}  // namespace qm
