#include "store/store_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "store/pg_store.h"
#include "store/raw_database.h"
#include "store/sqlite_store.h"
#include "support/postgres_fixture.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace qm {
namespace {

using ::testing::HasSubstr;

TStoredRow Row(const std::string& value, int line) {
  return {0, value, "http://s/", "http://listed/", line, 0};
}

TStoredPage Page(int line) {
  TStoredPage page;
  page.LineNumber = line;
  page.Url = "http://a/";
  return page;
}

// Row checks that settle when the test says, as lookups answer; past `deadline` from its
// making, a row not settled is "unchecked", as at a lookup's deadline.
class ScriptedChecks {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ScriptedChecks(std::chrono::milliseconds deadline)
      : deadline_(Clock::now() + deadline) {}

  void Settle(const std::string& value, const std::string& flags) {
    std::lock_guard lock(mutex_);
    flags_[value] = flags;
    settled_.notify_all();
  }
  int Waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  TStoreWriter::TRowChecker Checker() {
    TStoreWriter::TRowChecker checker;
    checker.Settled = [this](int, std::string_view value) -> std::optional<std::string> {
      std::lock_guard lock(mutex_);
      return FlagsLocked(std::string(value));
    };
    checker.Wait = [this](int, std::string_view value,
                          Clock::time_point until) -> std::optional<std::string> {
      std::unique_lock lock(mutex_);
      ++waits_;
      const std::string key(value);
      settled_.wait_until(lock, std::min(until, deadline_), [&] { return flags_.count(key) > 0; });
      return FlagsLocked(key);
    };
    return checker;
  }

 private:
  std::optional<std::string> FlagsLocked(const std::string& value) const {
    const auto found = flags_.find(value);
    if (found != flags_.end()) return found->second;
    if (Clock::now() >= deadline_) return "unchecked";
    return std::nullopt;
  }

  const Clock::time_point deadline_;
  mutable std::mutex mutex_;
  std::condition_variable settled_;
  std::map<std::string, std::string> flags_;
  int waits_ = 0;
};

class StoreWriterTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> ChecksByValue() {
    std::map<std::string, std::string> checks;
    store->ForEachRow(run, 7, [&](const TStoredRow& row) { checks[row.Value] = row.Checks; });
    return checks;
  }

  size_t StoredRows(int32_t belowLine = INT32_MAX) {
    size_t count = 0;
    store->ForEachRow(run, 7, [&](const TStoredRow& row) { count += row.LineNumber < belowLine; });
    return count;
  }

  test::TempDir dir;
  std::unique_ptr<TResultStore> store = OpenSqliteStore(dir.File("results.db"));
  int64_t run = store->BeginRun("list.txt", "", 0);
};

// What is still queued when the writer goes is written by its destructor.
TEST_F(StoreWriterTest, RowsFromFourThreadsAreAllStored) {
  {
    TStoreWriter writer(*store, run);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&writer, t] {
        for (int i = 0; i < 5000; ++i) {
          writer.AddRow(Row(std::to_string(t) + "-" + std::to_string(i) + "@x.cn", i));
          if (i % 10 == 0) writer.AddPage(Page(i));
        }
      });
    }
    for (auto& thread : threads) thread.join();
    writer.MarkPosition(7);
    EXPECT_EQ(writer.Failure(), "");
  }
  EXPECT_EQ(StoredRows(), 20000u);
  const TStoredRun counts = store->Runs().at(0);
  EXPECT_EQ(std::make_tuple(counts.Pages, counts.Rows, counts.SavedPosition),
            std::make_tuple(2000, 20000, 7));
}

TEST_F(StoreWriterTest, ARowIsStoredWithinAboutASecondWithoutFlush) {
  TStoreWriter writer(*store, run);
  writer.AddRow(Row("a@x.cn", 1));
  EXPECT_TRUE(test::WaitUntil([&] { return StoredRows() == 1; }, std::chrono::seconds(2)));
}

// Watched while the batches go, the durable position is never ahead of the rows.
TEST_F(StoreWriterTest, DurablePositionNeverPassesUnstoredRows) {
  constexpr int kLines = 20000;
  TStoreWriter writer(*store, run);
  EXPECT_EQ(writer.DurablePosition(), -1);
  std::thread producer([&] {
    for (int line = 0; line < kLines; ++line) {
      for (int i = 0; i < 5; ++i) {
        writer.AddRow(Row(std::to_string(line) + "." + std::to_string(i) + "@x.cn", line));
      }
      writer.AddPage(Page(line));
      writer.MarkPosition(line + 1);
    }
  });
  int64_t checked = -1;
  int checks = 0;
  EXPECT_TRUE(test::WaitUntil([&] {
    const int64_t durable = writer.DurablePosition();
    if (durable > checked) {
      EXPECT_EQ(StoredRows(static_cast<int32_t>(durable)), static_cast<size_t>(durable) * 5);
      checked = durable;
      ++checks;
    }
    return checked == kLines;
  }));
  producer.join();
  writer.Flush();
  EXPECT_EQ(writer.DurablePosition(), kLines);
  EXPECT_EQ(store->Runs().at(0).SavedPosition, kLines);
  EXPECT_GT(checks, 1);
}

// A lookup still out holds up neither its row, nor its page, nor the position: the row goes
// in without flags and gets them once its check settles.
TEST_F(StoreWriterTest, ARowGoesInBeforeItsCheckSettlesAndGetsItsFlagsAfter) {
  ScriptedChecks checks(std::chrono::minutes(10));
  checks.Settle("fast@x.cn", "ok");
  TStoreWriter writer(*store, run, checks.Checker());
  writer.AddRow(Row("fast@x.cn", 1));
  writer.AddRow(Row("slow@x.cn", 1));
  writer.AddPage(Page(1));
  writer.MarkPosition(1);
  const std::map<std::string, std::string> unsettled = {{"fast@x.cn", "ok"}, {"slow@x.cn", ""}};
  EXPECT_TRUE(
      test::WaitUntil([&] { return ChecksByValue() == unsettled && writer.DurablePosition() == 1; },
                      std::chrono::seconds(2)));
  EXPECT_EQ(store->Runs().at(0).Pages, 1);
  EXPECT_EQ(store->Runs().at(0).SavedPosition, 1);
  EXPECT_EQ(writer.RowsAwaitingChecks(), 1u);
  writer.Flush();  // waits for no lookup

  checks.Settle("slow@x.cn", "no-mail,role");
  const std::map<std::string, std::string> settled = {{"fast@x.cn", "ok"},
                                                      {"slow@x.cn", "no-mail,role"}};
  EXPECT_TRUE(test::WaitUntil([&] { return ChecksByValue() == settled; }));
  EXPECT_EQ(writer.RowsAwaitingChecks(), 0u);
  EXPECT_EQ(checks.Waits(), 0);
}

// At a run's end the last lookups are waited for until their deadline, the flags of each
// stored as it settles rather than after the slowest; a writer ended without that (a run
// closed at once) leaves their rows unchecked and waits for none.
TEST_F(StoreWriterTest, AwaitChecksWaitsForTheLastLookupsAndTheDestructorForNone) {
  ScriptedChecks checks(std::chrono::seconds(3));
  {
    TStoreWriter writer(*store, run, checks.Checker());
    writer.AddRow(Row("never@x.cn", 1));
    writer.AddRow(Row("soon@x.cn", 1));
    writer.MarkPosition(1);
    std::thread end([&] { writer.AwaitChecks(); });
    EXPECT_TRUE(test::WaitUntil([&] { return checks.Waits() > 0; }));
    checks.Settle("soon@x.cn", "role");
    EXPECT_TRUE(test::WaitUntil([&] { return ChecksByValue().at("soon@x.cn") == "role"; },
                                std::chrono::seconds(2)));
    end.join();
    EXPECT_EQ(writer.RowsAwaitingChecks(), 0u);
    EXPECT_EQ(writer.DurablePosition(), 1);
  }
  EXPECT_EQ(ChecksByValue(), (std::map<std::string, std::string>{{"never@x.cn", "unchecked"},
                                                                 {"soon@x.cn", "role"}}));

  ScriptedChecks never(std::chrono::minutes(10));
  {
    TStoreWriter writer(*store, run, never.Checker());
    writer.AddRow(Row("closed@x.cn", 2));
    writer.Flush();
  }
  EXPECT_EQ(ChecksByValue().at("closed@x.cn"), "");
  EXPECT_EQ(never.Waits(), 0);
}

// The server's store takes the flags of rows it holds as the file store does.
TEST(StoreWriterOnPostgres, FlagsThatSettleLaterReachTheServersRows) {
  test::PostgresServer server;
  std::unique_ptr<TResultStore> store = OpenPostgresStore(server.Url());
  const int64_t run = store->BeginRun("list.txt", "", 0);
  ScriptedChecks checks(std::chrono::minutes(10));
  {
    TStoreWriter writer(*store, run, checks.Checker());
    writer.AddRow(Row("slow@x.cn", 1));
    writer.AddRow(Row("other@x.cn", 1));
    writer.Flush();
    EXPECT_EQ(writer.RowsAwaitingChecks(), 2u);
    checks.Settle("slow@x.cn", "no-mail");
    checks.Settle("other@x.cn", "ok");
    EXPECT_TRUE(test::WaitUntil([&] { return writer.RowsAwaitingChecks() == 0; }));
  }
  std::map<std::string, std::string> stored;
  store->ForEachRow(run, 7, [&](const TStoredRow& row) { stored[row.Value] = row.Checks; });
  EXPECT_EQ(stored,
            (std::map<std::string, std::string>{{"slow@x.cn", "no-mail"}, {"other@x.cn", "ok"}}));
}

TEST_F(StoreWriterTest, FailureStopsWritingAndKeepsWhatWasStored) {
  const std::string path = dir.File("small.db");
  auto small = OpenSqliteStore(path, {.MaxPages = 100});
  const int64_t smallRun = small->BeginRun("list.txt", "", 0);
  int64_t stored = 0;
  {
    TStoreWriter writer(*small, smallRun);
    for (int chunk = 0; writer.Failure().empty() && chunk < 10000; ++chunk) {
      for (int i = 0; i < 100; ++i) {
        writer.AddRow(Row(std::to_string(chunk) + "." + std::to_string(i) + "@x.cn", chunk));
      }
      writer.MarkPosition(chunk + 1);
      writer.Flush();
      if (writer.Failure().empty()) stored = chunk + 1;
    }
    EXPECT_THAT(writer.Failure(), HasSubstr("disk is full"));
    ASSERT_GT(stored, 0);
    EXPECT_EQ(writer.DurablePosition(), stored);
    // Dropped, not queued: Flush has nothing to wait for.
    for (int i = 0; i < 1000; ++i) writer.AddRow(Row("late" + std::to_string(i), 0));
    writer.MarkPosition(999999);
    writer.Flush();
    EXPECT_EQ(writer.DurablePosition(), stored);
  }
  small.reset();
  auto reopened = OpenSqliteStore(path);
  size_t rows = 0;
  reopened->ForEachRow(smallRun, 7, [&](const TStoredRow&) { ++rows; });
  EXPECT_EQ(rows, static_cast<size_t>(stored * 100));
  EXPECT_EQ(reopened->Runs().at(0).SavedPosition, stored);
  EXPECT_EQ(test::RawDatabase(path).Text("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace qm
