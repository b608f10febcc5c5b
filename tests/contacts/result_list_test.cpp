#include "contacts/result_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ui/change_notifier.h"

namespace qm {
namespace {

class ResultListTest : public ::testing::Test {
 protected:
  ui::ChangeNotifier notifier;
  TResultList list{notifier};
};

TEST_F(ResultListTest, EmptyListHasOneEmptyRowAndNoEntries) {
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.EntryCount(), 0);
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{""});
}

TEST_F(ResultListTest, FirstAppendFillsTheEmptyRowSecondAddsOne) {
  list.AppendResult("a");
  EXPECT_EQ(list.RowCount(), 1);
  EXPECT_EQ(list.EntryCount(), 1);
  list.AppendResult("b");
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.EntryCount(), 2);
  EXPECT_EQ(list.Snapshot(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ResultListTest, ClearEmptiesRowsButKeepsLastAccepted) {
  list.AcceptCandidate("a");
  list.AcceptCandidate("b");
  list.Clear();
  EXPECT_EQ(list.EntryCount(), 0);
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{""});
  // Only the worker of slot 1 empties the last-accepted value, not the clearing.
  EXPECT_FALSE(list.AcceptCandidate("b"));
  list.ClearLastAccepted();
  EXPECT_TRUE(list.AcceptCandidate("b"));
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{"b"});
}

TEST_F(ResultListTest, LastAcceptedSuppressesOnlyTheImmediateRepeat) {
  EXPECT_TRUE(list.AcceptCandidate("A"));
  EXPECT_FALSE(list.AcceptCandidate("A"));
  EXPECT_EQ(list.EntryCount(), 1);
  EXPECT_TRUE(list.AcceptCandidate("B"));
  EXPECT_TRUE(list.AcceptCandidate("A"));
  EXPECT_EQ(list.Snapshot(), (std::vector<std::string>{"A", "B", "A"}));
}

TEST_F(ResultListTest, SuffixIsInTheRowNotInTheLastAccepted) {
  EXPECT_TRUE(list.AcceptCandidate("12345", "@qq.com"));
  EXPECT_EQ(list.LastAccepted(), "12345");
  EXPECT_FALSE(list.AcceptCandidate("12345", "@qq.com"));
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{"12345@qq.com"});
}

TEST_F(ResultListTest, RowsFromReturnsTheTailAndTheCount) {
  for (const char* row : {"a", "b", "c"}) list.AppendResult(row);
  size_t count = 0;
  EXPECT_EQ(list.RowsFrom(1, count), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(list.RowsFrom(3, count).empty());
  EXPECT_TRUE(list.RowsFrom(99, count).empty());
  EXPECT_EQ(count, 3u);
  // Every clearing is counted, so a renderer can tell a refilled list from the old one.
  uint32_t clears = 99;
  list.RowsFrom(0, count, &clears);
  EXPECT_EQ(clears, 0u);
  list.Clear();
  list.Clear();
  list.RowsFrom(0, count, &clears);
  EXPECT_EQ(clears, 2u);
  EXPECT_EQ(list.ClearCount(), 2u);
}

TEST_F(ResultListTest, AppendsNotify) {
  int notified = 0;
  notifier.SetListener([&] { ++notified; });
  list.AcceptCandidate("a");
  EXPECT_EQ(notified, 1);
  list.AcceptCandidate("b");  // coalesced until the shell acknowledges
  EXPECT_EQ(notified, 1);
  notifier.Acknowledge();
  list.AcceptCandidate("a");
  EXPECT_EQ(notified, 2);
}

// Four writers append long distinct rows while a reader takes snapshots: every row it sees
// is whole, the entry count never goes back, and no append is lost.
TEST_F(ResultListTest, SnapshotsUnderConcurrentAppendsSeeWholeRows) {
  constexpr int kWriters = 4;
  constexpr int kPerWriter = 3000;
  auto rowText = [](int writer, int i) {
    return std::string(static_cast<size_t>(20 + i % 50), static_cast<char>('a' + writer)) + "#" +
           std::to_string(i);
  };
  auto isWhole = [&](const std::string& row) {
    const size_t hash = row.find('#');
    if (row.empty() || hash == std::string::npos) return false;
    const int writer = row[0] - 'a';
    if (writer < 0 || writer >= kWriters) return false;
    return row == rowText(writer, std::stoi(row.substr(hash + 1)));
  };

  std::atomic<bool> done{false};
  std::atomic<int> badRows{0};
  std::atomic<int> countWentBack{0};
  std::thread reader([&] {
    size_t last = 0;
    while (!done.load()) {
      const std::vector<std::string> rows = list.Snapshot();
      if (rows.size() == 1 && rows[0].empty()) continue;
      if (rows.size() < last) ++countWentBack;
      last = rows.size();
      for (const std::string& row : rows) {
        if (!isWhole(row)) ++badRows;
      }
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) list.AcceptCandidate(rowText(w, i));
    });
  }
  for (std::thread& t : writers) t.join();
  done = true;
  reader.join();

  EXPECT_EQ(badRows.load(), 0);
  EXPECT_EQ(countWentBack.load(), 0);
  EXPECT_EQ(list.EntryCount(), kWriters * kPerWriter);
  const std::vector<std::string> rows = list.Snapshot();
  ASSERT_EQ(rows.size(), static_cast<size_t>(kWriters * kPerWriter));
  // Each writer's rows keep their order among themselves.
  std::vector<int> next(kWriters, 0);
  for (const std::string& row : rows) {
    const int writer = row[0] - 'a';
    ASSERT_EQ(row, rowText(writer, next[static_cast<size_t>(writer)]++));
  }
}

// The comparison with the last-accepted value and the append are one step: four workers
// offering the same value over and over append it once.
TEST_F(ResultListTest, RepeatFromManyWorkersIsAppendedOnce) {
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) list.AcceptCandidate("same@value.cn");
    });
  }
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{"same@value.cn"});
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(ResultListUnique, RepeatsDroppedForTheWholeRunOrOnlyInARow) {
  const struct {
    bool Unique;
    std::vector<std::string> Offered;
    std::vector<std::string> Rows;
  } cases[] = {
      {true, {"a", "b", "a", "c", "b"}, {"a", "b", "c"}},
      {false, {"a", "b", "a", "a", "b"}, {"a", "b", "a", "b"}},
  };
  for (const auto& c : cases) {
    ui::ChangeNotifier notifier;
    TResultList list(notifier);
    list.BeginRun(c.Unique);
    for (const std::string& value : c.Offered) list.AcceptCandidate(value, "", "http://p/" + value);
    EXPECT_EQ(list.Snapshot(), c.Rows) << c.Unique;
    const std::vector<TResultEntry> entries = list.Entries();
    ASSERT_EQ(entries.size(), c.Rows.size());
    for (const TResultEntry& entry : entries) EXPECT_EQ(entry.Source, "http://p/" + entry.Value);
  }
}

TEST(ResultListUnique, ClearingKeepsTheRunsValuesANewRunForgetsThem) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  list.BeginRun(true);
  list.AcceptCandidate("a", "", "http://p/1");
  list.Clear();
  EXPECT_FALSE(list.AcceptCandidate("a"));
  EXPECT_EQ(list.SourceOfRow(0), "");
  list.BeginRun(true);
  EXPECT_TRUE(list.AcceptCandidate("a", "@s", "http://p/2"));
  EXPECT_EQ(list.Snapshot(), std::vector<std::string>{"a@s"});
  EXPECT_EQ(list.SourceOfRow(0), "http://p/2");
  EXPECT_EQ(list.SourceOfRow(5), "");
}

// Four workers offering overlapping values: each value is appended exactly once.
TEST(ResultListUnique, EachValueOnceAcrossThreads) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  list.BeginRun(true);
  constexpr int kValues = 2000;
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kValues; ++i) {
        const int value = (i * (w + 1) * 7919) % kValues;
        list.AcceptCandidate(std::to_string(value), "", "http://w/" + std::to_string(w));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::vector<std::string> rows = list.Snapshot();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(std::unique(rows.begin(), rows.end()), rows.end());
  EXPECT_EQ(list.EntryCount(), kValues);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// Values of earlier runs are never accepted, with unique values or without, until the
// next run; a dropped repeat leaves the last-accepted value alone.
TEST(ResultListUnique, ExcludedValuesAndLastAccepted) {
  for (const bool unique : {true, false}) {
    ui::ChangeNotifier notifier;
    TResultList list(notifier);
    list.BeginRun(unique);
    list.ExcludeCandidates({"b", "d"});
    for (const char* value : {"a", "b", "c", "d", "c"}) list.AcceptCandidate(value);
    EXPECT_EQ(list.Snapshot(), (std::vector<std::string>{"a", "c"})) << unique;
    EXPECT_EQ(list.AcceptCandidate("a"), !unique);
    EXPECT_EQ(list.LastAccepted(), unique ? "c" : "a");
    list.BeginRun(unique);
    EXPECT_TRUE(list.AcceptCandidate("b")) << unique;
  }
}

}  // namespace
}  // namespace qm
