#include "store/sqlite_schema.h"

#include <array>
#include <string>

#include "store/sqlite_store.h"

namespace qm::store {
namespace {

// Marks the file as ours in its header, so another program's database is told apart.
constexpr int64_t kApplicationId = 0x514d5253;

// kMigrations[v] takes a store from version v to v + 1.
constexpr std::array<const char*, kSqliteStoreSchemaVersion> kMigrations = {
    // The counts of a run are kept in its row, updated with every batch, so that listing the
    // runs does not count millions of rows.
    R"sql(
      CREATE TABLE runs (
        id INTEGER PRIMARY KEY,
        list_file TEXT NOT NULL,
        settings TEXT NOT NULL,
        started_ms INTEGER NOT NULL,
        ended_ms INTEGER NOT NULL DEFAULT 0,
        saved_position INTEGER NOT NULL,
        finished INTEGER NOT NULL DEFAULT 0,
        page_count INTEGER NOT NULL DEFAULT 0,
        failed_page_count INTEGER NOT NULL DEFAULT 0,
        row_count INTEGER NOT NULL DEFAULT 0
      );
      CREATE INDEX runs_by_list_file ON runs (list_file, finished, id);

      CREATE TABLE pages (
        id INTEGER PRIMARY KEY,
        run INTEGER NOT NULL REFERENCES runs (id),
        sequence INTEGER NOT NULL,
        line_number INTEGER NOT NULL,
        url TEXT NOT NULL,
        final_url TEXT NOT NULL,
        status_code INTEGER NOT NULL,
        bytes_received INTEGER NOT NULL,
        milliseconds INTEGER NOT NULL,
        failure_reason TEXT NOT NULL,
        email_rows INTEGER NOT NULL,
        mobile_rows INTEGER NOT NULL,
        qq_rows INTEGER NOT NULL,
        depth INTEGER NOT NULL,
        listed_url TEXT NOT NULL,
        skipped INTEGER NOT NULL
      );
      CREATE UNIQUE INDEX pages_by_run ON pages (run, sequence);

      CREATE TABLE rows (
        id INTEGER PRIMARY KEY,
        run INTEGER NOT NULL REFERENCES runs (id),
        kind INTEGER NOT NULL,
        value TEXT NOT NULL,
        source TEXT NOT NULL,
        listed_url TEXT NOT NULL,
        line_number INTEGER NOT NULL,
        found_ms INTEGER NOT NULL
      );
      CREATE UNIQUE INDEX rows_unique_per_run ON rows (run, kind, value);
      CREATE INDEX rows_by_run ON rows (run);
    )sql",
    // Each row's check flags; rows stored before rows were checked have none.
    R"sql(
      ALTER TABLE rows ADD COLUMN checks TEXT NOT NULL DEFAULT '';
    )sql",
    // Each page's WeChat and telephone rows; pages stored before these kinds had none.
    R"sql(
      ALTER TABLE pages ADD COLUMN wechat_rows INTEGER NOT NULL DEFAULT 0;
      ALTER TABLE pages ADD COLUMN phone_rows INTEGER NOT NULL DEFAULT 0;
    )sql",
    // Each page and row is one B-tree entry. A page's row id is its run's number shifted
    // left by 32 plus its sequence, so a run's pages are one range of the table in their
    // order, with no index to keep; a row is keyed by its run, kind and value, so the key
    // that keeps it once a run is the row itself. `id` orders a run's rows as they were
    // found; runs.next_row_id numbers the next one.
    R"sql(
      CREATE TABLE pages_keyed (
        id INTEGER PRIMARY KEY,
        run INTEGER NOT NULL REFERENCES runs (id),
        sequence INTEGER NOT NULL,
        line_number INTEGER NOT NULL,
        url TEXT NOT NULL,
        final_url TEXT NOT NULL,
        status_code INTEGER NOT NULL,
        bytes_received INTEGER NOT NULL,
        milliseconds INTEGER NOT NULL,
        failure_reason TEXT NOT NULL,
        email_rows INTEGER NOT NULL,
        mobile_rows INTEGER NOT NULL,
        qq_rows INTEGER NOT NULL,
        depth INTEGER NOT NULL,
        listed_url TEXT NOT NULL,
        skipped INTEGER NOT NULL,
        wechat_rows INTEGER NOT NULL DEFAULT 0,
        phone_rows INTEGER NOT NULL DEFAULT 0
      );
      INSERT INTO pages_keyed
        SELECT (run << 32) + sequence, run, sequence, line_number, url, final_url, status_code,
               bytes_received, milliseconds, failure_reason, email_rows, mobile_rows, qq_rows,
               depth, listed_url, skipped, wechat_rows, phone_rows
        FROM pages;
      DROP TABLE pages;
      ALTER TABLE pages_keyed RENAME TO pages;

      CREATE TABLE rows_keyed (
        run INTEGER NOT NULL REFERENCES runs (id),
        kind INTEGER NOT NULL,
        value TEXT NOT NULL,
        id INTEGER NOT NULL,
        source TEXT NOT NULL,
        listed_url TEXT NOT NULL,
        line_number INTEGER NOT NULL,
        found_ms INTEGER NOT NULL,
        checks TEXT NOT NULL DEFAULT '',
        PRIMARY KEY (run, kind, value)
      ) WITHOUT ROWID;
      INSERT INTO rows_keyed
        SELECT run, kind, value, id, source, listed_url, line_number, found_ms, checks FROM rows;
      DROP TABLE rows;
      ALTER TABLE rows_keyed RENAME TO rows;

      ALTER TABLE runs ADD COLUMN next_row_id INTEGER NOT NULL DEFAULT 1;
      UPDATE runs SET next_row_id = 1 + coalesce((SELECT max(id) FROM rows WHERE rows.run = runs.id), 0);
    )sql",
};

[[noreturn]] void FailNewer(const TSqliteConnection& connection, int64_t version) {
  throw EStoreError("The result store " + connection.Path() +
                    " was made by a newer program (schema version " + std::to_string(version) +
                    ", this program knows up to " + std::to_string(kSqliteStoreSchemaVersion) +
                    "); open it with a newer version of the program");
}

}  // namespace

void CheckStoreFile(TSqliteConnection& connection) {
  // The first read of the header is where a file that is no database shows.
  const int64_t applicationId = connection.QueryInt("PRAGMA application_id");
  const int64_t version = connection.QueryInt("PRAGMA user_version");
  const bool foreign =
      applicationId != kApplicationId &&
      (applicationId != 0 || connection.QueryInt("SELECT count(*) FROM sqlite_schema") != 0);
  if (foreign || version < 0) throw EStoreError(connection.Path() + " is not a result store");
  if (version > kSqliteStoreSchemaVersion) FailNewer(connection, version);
}

void MigrateSchema(TSqliteConnection& connection) {
  if (connection.QueryInt("PRAGMA user_version") == kSqliteStoreSchemaVersion) return;
  TWriteTransaction transaction(connection);
  // Another program may have brought it up to date while this one waited for the lock.
  const int64_t version = connection.QueryInt("PRAGMA user_version");
  if (version > kSqliteStoreSchemaVersion) FailNewer(connection, version);
  if (version < 0) throw EStoreError(connection.Path() + " is not a result store");
  for (int64_t step = version; step < kSqliteStoreSchemaVersion; ++step) {
    connection.Execute(kMigrations[static_cast<size_t>(step)]);
  }
  connection.Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
  connection.Execute(
      ("PRAGMA user_version = " + std::to_string(kSqliteStoreSchemaVersion)).c_str());
  transaction.Commit();
}

}  // namespace qm::store
