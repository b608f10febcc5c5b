// A store of the version whose pages and rows had row ids and indexes of their own, brought
// up to date with the tables keyed by their run: nothing lost, each run's pages and rows
// still read in their order, values still unique per run, and rows written afterwards
// following the old ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/raw_database.h"
#include "store/sqlite_store.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Pages and rows as the version before wrote them; the run's counts are left out.
constexpr const char* kStoreOfVersionThree = R"sql(
  CREATE TABLE runs (id INTEGER PRIMARY KEY, list_file TEXT NOT NULL, settings TEXT NOT NULL,
    started_ms INTEGER NOT NULL, ended_ms INTEGER NOT NULL DEFAULT 0,
    saved_position INTEGER NOT NULL, finished INTEGER NOT NULL DEFAULT 0,
    page_count INTEGER NOT NULL DEFAULT 0, failed_page_count INTEGER NOT NULL DEFAULT 0,
    row_count INTEGER NOT NULL DEFAULT 0);
  CREATE INDEX runs_by_list_file ON runs (list_file, finished, id);
  CREATE TABLE pages (id INTEGER PRIMARY KEY, run INTEGER NOT NULL, sequence INTEGER NOT NULL,
    line_number INTEGER NOT NULL, url TEXT NOT NULL, final_url TEXT NOT NULL,
    status_code INTEGER NOT NULL, bytes_received INTEGER NOT NULL,
    milliseconds INTEGER NOT NULL, failure_reason TEXT NOT NULL, email_rows INTEGER NOT NULL,
    mobile_rows INTEGER NOT NULL, qq_rows INTEGER NOT NULL, depth INTEGER NOT NULL,
    listed_url TEXT NOT NULL, skipped INTEGER NOT NULL,
    wechat_rows INTEGER NOT NULL DEFAULT 0, phone_rows INTEGER NOT NULL DEFAULT 0);
  CREATE UNIQUE INDEX pages_by_run ON pages (run, sequence);
  CREATE TABLE rows (id INTEGER PRIMARY KEY, run INTEGER NOT NULL, kind INTEGER NOT NULL,
    value TEXT NOT NULL, source TEXT NOT NULL, listed_url TEXT NOT NULL,
    line_number INTEGER NOT NULL, found_ms INTEGER NOT NULL,
    checks TEXT NOT NULL DEFAULT '');
  CREATE UNIQUE INDEX rows_unique_per_run ON rows (run, kind, value);
  CREATE INDEX rows_by_run ON rows (run);
  INSERT INTO runs (id, list_file, settings, started_ms, saved_position, page_count, row_count)
    VALUES (1, 'a.txt', '', 1, 2, 2, 3), (2, 'b.txt', '', 2, 0, 0, 1);
  INSERT INTO pages VALUES
    (1, 1, 0, 1, 'http://a/1', 'http://a/1', 200, 10, 5, '', 2, 0, 0, 0, 'http://a/1', 0, 0, 0),
    (2, 1, 1, 2, 'http://a/2', '', 0, 0, 9, 'HTTP status 404', 0, 0, 0, 0, 'http://a/2', 0, 0, 1);
  INSERT INTO rows VALUES
    (1, 1, 0, 'z@a.cn', 'http://a/1', 'http://a/1', 1, 100, 'ok'),
    (2, 2, 0, 'z@a.cn', 'http://b/', 'http://b/', 1, 101, ''),
    (3, 1, 1, '13812345678', 'http://a/1', 'http://a/1', 1, 102, 'ok'),
    (4, 1, 0, 'b@a.cn', 'http://a/1', 'http://a/1', 1, 103, 'role');
  PRAGMA application_id = 1364021843;
  PRAGMA user_version = 3;
)sql";

std::vector<std::string> Rows(TResultStore& store, std::optional<int64_t> run) {
  std::vector<std::string> rows;
  store.ForEachRow(run, ~0u, [&](const TStoredRow& row) {
    rows.push_back(row.Value + " " + row.Source + " " + row.Checks);
  });
  return rows;
}

TEST(VersionThreeStore, IsBroughtUpToDateWithNothingLostAndItsRowsInOrder) {
  test::TempDir dir;
  const std::string path = dir.File("v3.db");
  test::RawDatabase(path).Execute(kStoreOfVersionThree);

  auto store = OpenSqliteStore(path);
  EXPECT_EQ(Rows(*store, 1),
            (std::vector<std::string>{"z@a.cn http://a/1 ok", "13812345678 http://a/1 ok",
                                      "b@a.cn http://a/1 role"}));
  std::vector<std::string> pages;
  store->ForEachPage(1, [&](const TStoredPage& page) {
    pages.push_back(page.Url + " " + page.FailureReason + " " + std::to_string(page.RowsAdded[0]) +
                    std::to_string(page.RowsAdded[4]));
  });
  EXPECT_EQ(pages, (std::vector<std::string>{"http://a/1  20", "http://a/2 HTTP status 404 01"}));

  // A value the run holds stays out; a new one comes after the old rows, in either run.
  TStoredPage next;
  next.LineNumber = 3;
  next.Url = next.FinalUrl = next.ListedUrl = "http://a/3";
  next.StatusCode = 200;
  store->Write({1,
                {next},
                {{0, "z@a.cn", "http://a/3", "http://a/3", 3, 200},
                 {0, "new@a.cn", "http://a/3", "http://a/3", 3, 201}},
                3});
  store->Write({2, {}, {{0, "z@a.cn", "http://b/2", "http://b/2", 2, 202}}, std::nullopt});
  EXPECT_EQ(Rows(*store, 1).back(), "new@a.cn http://a/3 ");
  EXPECT_EQ(Rows(*store, 1).size(), 4u);
  EXPECT_EQ(Rows(*store, 2), (std::vector<std::string>{"z@a.cn http://b/ "}));
  EXPECT_EQ(Rows(*store, std::nullopt).size(), 5u);
  EXPECT_EQ(Rows(*store, std::nullopt).back(), "z@a.cn http://b/ ");
  const auto runs = store->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].Pages, 3);
  EXPECT_EQ(runs[0].Rows, 4);

  test::RawDatabase raw(path);
  EXPECT_EQ(raw.Text("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(raw.Text("SELECT count(*) FROM sqlite_schema WHERE name = 'rows_by_run'"), "0");
}

}  // namespace
}  // namespace qm
