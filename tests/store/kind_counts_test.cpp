// WeChat IDs and telephone numbers in the store: their rows as kinds 3 and 4, each page's
// counts of them, and a store of the version before brought up to date without losing a
// page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/raw_database.h"
#include "store/sqlite_store.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TStoredPage Page(int32_t line, std::array<int32_t, 5> rows) {
  TStoredPage page;
  page.LineNumber = line;
  page.Url = page.FinalUrl = "http://x.cn/" + std::to_string(line);
  page.StatusCode = 200;
  page.RowsAdded = rows;
  return page;
}

std::vector<std::array<int32_t, 5>> PageCounts(TResultStore& store, int64_t run) {
  std::vector<std::array<int32_t, 5>> counts;
  store.ForEachPage(run, [&](const TStoredPage& page) { counts.push_back(page.RowsAdded); });
  return counts;
}

TEST(StoredKindCounts, AStoreOfTheVersionBeforeKeepsItsPagesAndTakesTheNewCounts) {
  test::TempDir dir;
  const std::string path = dir.File("before.db");
  int64_t run = 0;
  {
    auto store = OpenSqliteStore(path);
    run = store->BeginRun("list.txt", "", 0);
    store->Write({run, {Page(1, {2, 1, 0, 0, 0})}, {}, 1});
  }
  test::RawDatabase(path).Execute(
      "ALTER TABLE pages DROP COLUMN wechat_rows; ALTER TABLE pages DROP COLUMN phone_rows; "
      "ALTER TABLE runs DROP COLUMN next_row_id; "
      "PRAGMA user_version = 2");
  auto store = OpenSqliteStore(path);
  EXPECT_EQ(test::RawDatabase(path).Text("PRAGMA user_version"),
            std::to_string(kSqliteStoreSchemaVersion));
  const TStoredRow wechat{3, "kefu_01", "http://x.cn/2", "http://x.cn/2", 2, 1700000000000};
  const TStoredRow phone{4, "0755-23456789", "http://x.cn/2", "http://x.cn/2", 2, 1700000000001};
  const TStoredRow mail{0, "a@x.cn", "http://x.cn/2", "http://x.cn/2", 2, 1700000000002};
  store->Write({run, {Page(2, {1, 0, 3, 1, 1})}, {wechat, phone, mail}, 2});
  EXPECT_EQ(PageCounts(*store, run),
            (std::vector<std::array<int32_t, 5>>{{2, 1, 0, 0, 0}, {1, 0, 3, 1, 1}}));

  // Each kind's bit selects its rows; a row of a kind is kept once a run.
  store->Write({run, {}, {phone}, 3});
  const struct {
    unsigned kinds;
    std::vector<std::string> values;
  } selections[] = {{1u << 3, {"kefu_01"}},
                    {1u << 4, {"0755-23456789"}},
                    {1u << 0 | 1u << 4, {"0755-23456789", "a@x.cn"}},
                    {0b11111, {"kefu_01", "0755-23456789", "a@x.cn"}}};
  for (const auto& selection : selections) {
    std::vector<std::string> values;
    store->ForEachRow(run, selection.kinds,
                      [&](const TStoredRow& row) { values.push_back(row.Value); });
    EXPECT_EQ(values, selection.values) << selection.kinds;
  }
  EXPECT_EQ(store->Runs().back().Rows, 3);
}

}  // namespace
}  // namespace qm
