// A harvest killed at any moment loses nothing it stored: resumed from the store until it
// ends, it holds what an uninterrupted harvest finds, and the file stays sound.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

#include "cli_process.h"
#include "store/result_store.h"
#include "support/nginx_fixture.h"
#include "support/wait_until.h"

namespace qm::test {
namespace {

constexpr int kPages = 1500;

std::set<std::string> StoredRows(const std::string& store) {
  std::set<std::string> rows;
  OpenSqliteStore(store)->ForEachRow(std::nullopt, 7u, [&rows](const TStoredRow& row) {
    rows.insert(std::to_string(row.Kind) + " " + row.Value + " " + row.Source);
  });
  return rows;
}

std::string IntegrityOf(const std::string& store) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* check = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
        sqlite3_step(check) == SQLITE_ROW) {
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
    }
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
  return verdict;
}

TEST(HarvestStore, KilledAtAnyPointThenResumedHoldsWhatAnUninterruptedRunFinds) {
  NginxServer nginx;
  std::string list;
  for (int n = 1; n <= kPages; ++n) {
    nginx.WriteFile("p/" + std::to_string(n) + ".html",
                    "mail a" + std::to_string(n) + "@x.cn QQ:2000" + std::to_string(n) + "\n");
    list += nginx.Url("p/" + std::to_string(n) + ".html") + "\r\n";
  }
  TempDir dir;
  const std::string listPath = dir.Write("list.txt", list);
  const std::vector<std::string> common = {"--email", "--qq", "--no-online-check", "--depth", "0",
                                           "--in-flight", "1"};

  const std::string whole = dir.File("whole.db");
  std::vector<std::string> args = {"harvest", "--store", whole};
  args.insert(args.end(), common.begin(), common.end());
  args.push_back(listPath);
  ASSERT_EQ(RunCli(args).Status, 0);
  const std::set<std::string> expected = StoredRows(whole);
  ASSERT_EQ(expected.size(), 2u * kPages);

  const std::string cut = dir.File("cut.db");
  bool started = false;
  for (const size_t killAt : {50u, 900u, 2200u}) {
    std::vector<std::string> part = {"harvest", "--store", cut};
    part.insert(part.end(), common.begin(), common.end());
    if (started) {
      part.insert(part.end(), {"--resume", listPath});
    } else {
      part.push_back(listPath);
    }
    CliProcess process(part);
    // Killed once it has written `killAt` rows (or sooner, if it ends first).
    WaitUntil([&] {
      const std::string out = process.OutSoFar();
      return static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) >= killAt;
    }, std::chrono::seconds(30));
    ::kill(process.Pid(), SIGKILL);
    process.Finish();
    started = true;
    EXPECT_EQ(IntegrityOf(cut), "ok");
  }
  std::vector<std::string> rest = {"harvest", "--store", cut};
  rest.insert(rest.end(), common.begin(), common.end());
  rest.insert(rest.end(), {"--resume", listPath});
  const CliResult last = RunCli(rest);
  // Done already when the last kill came after the end.
  EXPECT_TRUE(last.Status == 0 || last.Err.find("no unfinished run") != std::string::npos)
      << last.Err;
  const std::set<std::string> stored = StoredRows(cut);
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), stored.begin(), stored.end(),
                      std::back_inserter(missing));
  std::set_difference(stored.begin(), stored.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << missing.size() << " missing, the first " << missing.front();
  EXPECT_TRUE(extra.empty()) << extra.size() << " more, the first " << extra.front();
  EXPECT_EQ(IntegrityOf(cut), "ok");
  const std::vector<TStoredRun> runs = OpenSqliteStore(cut)->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].Finished);
}

}  // namespace
}  // namespace qm::test
