// Each row's check flags in the store: kept with the row, filled in by the writer's checker
// on its own thread, and an older store brought up to date without losing a row.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "store/raw_database.h"
#include "store/sqlite_store.h"
#include "store/store_writer.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::map<std::string, std::string> ChecksByValue(TResultStore& store, int64_t run) {
  std::map<std::string, std::string> checks;
  store.ForEachRow(run, 7, [&](const TStoredRow& row) { checks[row.Value] = row.Checks; });
  return checks;
}

TStoredRow Row(const std::string& value, const std::string& checks = "") {
  TStoredRow row{0, value, "http://s/", "http://listed/", 1, 1700000000000};
  row.Checks = checks;
  return row;
}

TEST(StoredChecks, AStoreWithoutTheColumnIsBroughtUpToDateAndKeepsItsRows) {
  test::TempDir dir;
  const std::string path = dir.File("old.db");
  int64_t run = 0;
  {
    auto store = OpenSqliteStore(path);
    run = store->BeginRun("list.txt", "", 0);
    store->Write({run, {}, {Row("old@x.cn")}, 1});
  }
  // What the first version of the store looked like.
  test::RawDatabase(path).Execute(
      "ALTER TABLE rows DROP COLUMN checks; ALTER TABLE pages DROP COLUMN wechat_rows; "
      "ALTER TABLE pages DROP COLUMN phone_rows; ALTER TABLE runs DROP COLUMN next_row_id; "
      "PRAGMA user_version = 1");
  auto store = OpenSqliteStore(path);
  EXPECT_EQ(test::RawDatabase(path).Text("PRAGMA user_version"),
            std::to_string(kSqliteStoreSchemaVersion));
  store->Write({run, {}, {Row("new@x.cn", "no-mail,role")}, 2});
  const std::map<std::string, std::string> expected = {{"old@x.cn", ""},
                                                       {"new@x.cn", "no-mail,role"}};
  EXPECT_EQ(ChecksByValue(*store, run), expected);
}

TEST(StoredChecks, TheWritersCheckerFillsTheFlagsAndAFailingOneLosesNoRow) {
  test::TempDir dir;
  auto store = OpenSqliteStore(dir.File("results.db"));
  const int64_t run = store->BeginRun("list.txt", "", 0);
  {
    TStoreWriter::TRowChecker checker;
    checker.Settled = [](int, std::string_view value) -> std::optional<std::string> {
      return value == "info@x.cn" ? "role" : "ok";
    };
    TStoreWriter writer(*store, run, checker);
    writer.AddRow(Row("info@x.cn"));
    writer.AddRow(Row("anna@x.cn"));
    writer.Flush();
    EXPECT_EQ(writer.Failure(), "");
  }
  const int64_t second = store->BeginRun("list.txt", "", 0);
  {
    TStoreWriter::TRowChecker failing;
    failing.Settled = [](int, std::string_view) -> std::optional<std::string> {
      throw std::runtime_error("no checks");
    };
    TStoreWriter writer(*store, second, failing);
    writer.AddRow(Row("anna@x.cn"));
    writer.Flush();
    EXPECT_EQ(writer.Failure(), "");
  }
  const std::map<std::string, std::string> checked = {{"info@x.cn", "role"}, {"anna@x.cn", "ok"}};
  EXPECT_EQ(ChecksByValue(*store, run), checked);
  const std::map<std::string, std::string> unchecked = {{"anna@x.cn", ""}};
  EXPECT_EQ(ChecksByValue(*store, second), unchecked);
}

}  // namespace
}  // namespace qm
