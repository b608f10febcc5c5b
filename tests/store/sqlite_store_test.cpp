#include "store/sqlite_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "store/raw_database.h"
#include "support/scratch_mount.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using ::testing::HasSubstr;

auto Fields(const TStoredPage& p) {
  return std::tie(p.LineNumber, p.Url, p.FinalUrl, p.StatusCode, p.BytesReceived, p.Milliseconds,
                  p.FailureReason, p.RowsAdded, p.Depth, p.ListedUrl, p.Skipped);
}

auto Fields(const TStoredRow& r) {
  return std::make_tuple(r.Kind, r.Value, r.Source, r.ListedUrl, r.LineNumber, r.FoundAtMs);
}

auto Counts(const TStoredRun& r) {
  return std::make_tuple(r.Pages, r.FailedPages, r.Rows, r.SavedPosition, r.Finished);
}

TStoredRow Row(int kind, const std::string& value, int line = 1) {
  TStoredRow row{kind, value, "http://s/" + value, "http://listed/", line, 0};
  row.FoundAtMs = 1700000000000 + line;
  return row;
}

std::vector<std::string> Values(TResultStore& store, std::optional<int64_t> run,
                                unsigned kinds = 7) {
  std::vector<std::string> values;
  store.ForEachRow(run, kinds, [&](const TStoredRow& row) { values.push_back(row.Value); });
  return values;
}

// The message of the store error `action` ends in; empty when it succeeds.
template <typename Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const EStoreError& error) {
    return error.what();
  }
  return "";
}

std::string OpenError(const std::string& path, const TSqliteStoreOptions& options = {}) {
  return ErrorOf([&] { OpenSqliteStore(path, options); });
}

using test::ScratchMount;

TEST(SqliteStoreTest, RoundTripOfTwoRuns) {
  test::TempDir dir;
  const std::string path = dir.File("results.db");
  TStoredPage listed{4,         "http://a/", "https://a/", 200,  5'000'000'000, 1234, "",
                     {1, 2, 0}, 0,           "http://a/",  false};
  TStoredPage failed{5, "http://b/x", "",   0, 0, 60000, "HTTP status 404", {},
                     1, "http://b/",  false};
  TStoredPage blank{6, "", "", 0, 0, 0, "blank line", {}, 0, "", true};
  int64_t runA = 0, runB = 0;
  {
    auto store = OpenSqliteStore(path);
    runA = store->BeginRun("list-a.txt", "threads=4", 0);
    runB = store->BeginRun("list-b.txt", "threads=1", 10);
    store->Write({runA, {listed, failed, blank}, {Row(0, "a@x.cn"), Row(1, "13812345678")}, 3});
    store->Write({runB, {listed}, {Row(0, "b@y.cn"), Row(2, "12345@qq.com")}, std::nullopt});
    // A batch that fails leaves the store as it was, ready for the next one.
    EXPECT_THROW(store->Write({99, {}, {Row(0, "d@x.cn")}, std::nullopt}), EStoreError);
    EXPECT_THROW(store->EndRun(99, 0, true), EStoreError);
    store->Write({runA, {}, {Row(2, "777@qq.com", 7), Row(0, "c@z.cn", 8)}, std::nullopt});
  }
  // Everything below is read from the file opened again.
  auto store = OpenSqliteStore(path);

  const struct {
    std::optional<int64_t> run;
    unsigned kinds;
    std::vector<std::string> values;
  } cases[] = {
      {runA, 7, {"a@x.cn", "13812345678", "777@qq.com", "c@z.cn"}},
      {runA, 1, {"a@x.cn", "c@z.cn"}},
      {runA, 6, {"13812345678", "777@qq.com"}},
      {runB, 7, {"b@y.cn", "12345@qq.com"}},
      // Every run's rows, run by run, each in the order found.
      {std::nullopt,
       7,
       {"a@x.cn", "13812345678", "777@qq.com", "c@z.cn", "b@y.cn", "12345@qq.com"}},
      {std::nullopt, 4, {"777@qq.com", "12345@qq.com"}},
      {std::nullopt, 0, {}},
      {99, 7, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Values(*store, c.run, c.kinds), c.values) << c.run.value_or(-1) << " " << c.kinds;
  }
  store->ForEachRow(runA, 4, [&](const TStoredRow& row) {
    EXPECT_EQ(Fields(row), Fields(Row(2, "777@qq.com", 7)));
  });

  std::vector<TStoredPage> pages;
  store->ForEachPage(runA, [&](const TStoredPage& page) { pages.push_back(page); });
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(Fields(pages[0]), Fields(listed));
  EXPECT_EQ(Fields(pages[1]), Fields(failed));
  EXPECT_EQ(Fields(pages[2]), Fields(blank));

  const auto runs = store->Runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].Id, runA);
  EXPECT_EQ(std::tie(runs[0].ListFile, runs[0].Settings),
            std::make_tuple("list-a.txt", "threads=4"));
  EXPECT_GT(runs[0].StartedMs, 0);
  EXPECT_EQ(runs[0].EndedMs, 0);
  // The blank line is skipped by design: a page, not a failed one.
  EXPECT_EQ(Counts(runs[0]), std::make_tuple(3, 1, 4, 3, false));
  EXPECT_EQ(Counts(runs[1]), std::make_tuple(1, 0, 2, 10, false));

  EXPECT_EQ(store->LastUnfinishedRun("list-a.txt")->Id, runA);
  EXPECT_FALSE(store->LastUnfinishedRun("list-c.txt"));
  store->EndRun(runA, 9, true);
  EXPECT_FALSE(store->LastUnfinishedRun("list-a.txt"));
  EXPECT_EQ(Counts(store->Runs()[0]), std::make_tuple(3, 1, 4, 9, true));
  EXPECT_GT(store->Runs()[0].EndedMs, 0);

  // A stopped run is ended but not finished: it is the one to resume.
  const int64_t runC = store->BeginRun("list-a.txt", "", 0);
  store->EndRun(runC, 5, false);
  const auto resumable = store->LastUnfinishedRun("list-a.txt");
  ASSERT_TRUE(resumable);
  EXPECT_EQ(std::make_tuple(resumable->Id, resumable->SavedPosition), std::make_tuple(runC, 5));
  EXPECT_GT(resumable->EndedMs, 0);
  store->ReopenRun(runC);
  EXPECT_EQ(store->LastUnfinishedRun("list-a.txt")->EndedMs, 0);
}

TEST(SqliteStoreTest, RowsAreUniquePerRunAndKind) {
  test::TempDir dir;
  auto store = OpenSqliteStore(dir.File("results.db"));
  const int64_t runA = store->BeginRun("list.txt", "", 0);
  const int64_t runB = store->BeginRun("list.txt", "", 0);
  TStoredRow first = Row(0, "a@x.cn", 1);
  TStoredRow again = Row(0, "a@x.cn", 2);
  again.Source = "http://elsewhere/";
  store->Write({runA, {}, {first, again, Row(2, "a@x.cn")}, std::nullopt});
  store->Write({runA, {}, {again, Row(0, "b@x.cn")}, std::nullopt});
  store->Write({runB, {}, {again}, std::nullopt});

  EXPECT_EQ(Values(*store, runA), (std::vector<std::string>{"a@x.cn", "a@x.cn", "b@x.cn"}));
  EXPECT_EQ(Values(*store, runB), std::vector<std::string>{"a@x.cn"});
  // A row keeps where it was first found.
  store->ForEachRow(runA, 1, [&](const TStoredRow& row) {
    if (row.Value == "a@x.cn") {
      EXPECT_EQ(row.Source, first.Source);
    }
  });
  EXPECT_EQ(store->Runs()[0].Rows, 3);
  EXPECT_EQ(store->Runs()[1].Rows, 1);
}

TEST(SqliteStoreTest, EmptyFilesOfVersionZeroAreMadeStores) {
  test::TempDir dir;
  const std::string empty = dir.Write("empty.db", "");
  const std::string header = dir.File("header.db");
  test::RawDatabase(header).Execute("PRAGMA page_size = 1024; VACUUM");
  for (const std::string& path : {empty, header}) {
    {
      auto store = OpenSqliteStore(path);
      const int64_t run = store->BeginRun("list.txt", "", 0);
      store->Write({run, {}, {Row(0, "a@x.cn")}, 1});
      EXPECT_EQ(Values(*store, run).size(), 1u) << path;
    }
    test::RawDatabase raw(path);
    EXPECT_EQ(raw.Text("PRAGMA user_version"), std::to_string(kSqliteStoreSchemaVersion));
    EXPECT_EQ(raw.Text("PRAGMA journal_mode"), "wal");
  }
}

TEST(SqliteStoreTest, FilesThatAreNoStoreOfOursAreRefusedUnchanged) {
  test::TempDir dir;
  const std::string newer = dir.File("newer.db");
  {
    OpenSqliteStore(newer);
    test::RawDatabase(newer).Execute("PRAGMA user_version = 99");
  }
  const std::string foreign = dir.File("foreign.db");
  test::RawDatabase(foreign).Execute("CREATE TABLE contacts (name TEXT)");
  std::string binary(8192, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131 + 7);

  const struct {
    std::string path;
    const char* message;
  } cases[] = {
      {dir.Write("list.txt", "http://a/\r\nhttp://b/\r\n"), " is not a result store"},
      {dir.Write("noise.db", binary), " is not a result store"},
      {dir.Write("short.db", "SQLite format 3"), " is not a result store"},
      {foreign, " is not a result store"},
      {newer, "was made by a newer program"},
      {dir.Path().string(), "Cannot open"},
      {dir.File("missing/results.db"), "Cannot open"},
  };
  for (const auto& c : cases) {
    const bool existed = std::filesystem::is_regular_file(c.path);
    const std::string before = existed ? test::TempDir::Read(c.path) : "";
    const std::string error = OpenError(c.path);
    EXPECT_THAT(error, HasSubstr(c.message)) << c.path;
    EXPECT_THAT(error, HasSubstr(c.path));
    if (existed) {
      EXPECT_EQ(test::TempDir::Read(c.path), before) << c.path;
    }
  }
  EXPECT_THROW(OpenSqliteStore(""), EStoreError);
}

TEST(SqliteStoreTest, ReadOnlyStoreIsRefused) {
  test::TempDir dir;
  ScratchMount disk(dir.File("disk"), "size=1m");
  const bool root = geteuid() == 0;
  if (root && !disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs to make read-only";
  const std::string path = dir.File("disk/results.db");
  {
    auto store = OpenSqliteStore(path);
    store->BeginRun("list.txt", "", 0);
  }
  // Permissions do not stop root; a read-only file system does.
  if (root) {
    ASSERT_TRUE(disk.MakeReadOnly());
  } else {
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  }
  EXPECT_THAT(OpenError(path), HasSubstr("The result store " + path +
                                         " cannot be written: "
                                         "the file or its folder is read-only"));
}

TEST(SqliteStoreTest, StoreLockedByAnotherProgramFailsAfterTheBusyTimeout) {
  test::TempDir dir;
  const std::string path = dir.File("results.db");
  OpenSqliteStore(path);
  const TSqliteStoreOptions options{.BusyTimeoutMs = 100};
  {
    test::RawDatabase other(path);
    other.Execute(
        "BEGIN IMMEDIATE; INSERT INTO runs (list_file, settings, started_ms, "
        "saved_position) VALUES ('other', '', 0, 0)");
    // Readers go on while another program writes; writing waits, then gives up.
    auto store = OpenSqliteStore(path, options);
    EXPECT_TRUE(store->Runs().empty());
    EXPECT_EQ(ErrorOf([&] { store->BeginRun("list.txt", "", 0); }),
              "The result store " + path + " is locked by another program");
    other.Execute("COMMIT");
    store->BeginRun("list.txt", "", 0);
    EXPECT_EQ(store->Runs().size(), 2u);
  }
  test::RawDatabase exclusive(path);
  exclusive.Execute("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE");
  EXPECT_THAT(OpenError(path, options), HasSubstr("is locked by another program"));
}

// Batches are written until the disk is full; the failed one leaves no trace and every
// earlier one is intact.
TEST(SqliteStoreTest, FullDiskRollsTheBatchBackAndKeepsWhatWasStored) {
  for (const bool tmpfs : {false, true}) {
    SCOPED_TRACE(tmpfs ? "a full tmpfs" : "a page limit");
    test::TempDir dir;
    ScratchMount disk(dir.File("disk"), "size=1m");
    if (tmpfs && !disk.Mounted()) {
      std::cout << "cannot mount a tmpfs: the full tmpfs is not tried\n";
      continue;
    }
    const std::string path = dir.File(tmpfs ? "disk/results.db" : "results.db");
    const std::string ballast = dir.File("disk/ballast");
    if (tmpfs) dir.Write("disk/ballast", std::string(128 * 1024, 'b'));
    auto store = OpenSqliteStore(path, {.MaxPages = tmpfs ? 0 : 200});
    const int64_t run = store->BeginRun("list.txt", "", 0);
    int64_t batches = 0;
    std::string message;
    for (; message.empty() && batches < 10000; ++batches) {
      TStoreBatch batch{run, {}, {}, batches};
      batch.Pages.resize(
          10, TStoredPage{1, "http://a/", "http://a/", 200, 100, 10, "", {}, 0, "", false});
      for (int i = 0; i < 100; ++i) {
        batch.Rows.push_back(Row(0, std::to_string(batches) + "." + std::to_string(i) + "@x.cn"));
      }
      message = ErrorOf([&] { store->Write(batch); });
    }
    const int64_t stored = batches - 1;
    ASSERT_GT(stored, 0);
    EXPECT_THAT(message, HasSubstr("disk is full"));
    EXPECT_THAT(message, HasSubstr(path));
    EXPECT_EQ(Values(*store, run).size(), static_cast<size_t>(stored * 100));
    const TStoredRun counts = store->Runs().at(0);
    EXPECT_EQ(std::make_tuple(counts.Pages, counts.Rows, counts.SavedPosition),
              std::make_tuple(stored * 10, stored * 100, stored - 1));
    EXPECT_EQ(test::RawDatabase(path).Text("PRAGMA integrity_check"), "ok");
    // With room again, writing goes on where it stopped.
    std::filesystem::remove(ballast);
    store->Write({run, {}, {}, 12345});
    EXPECT_EQ(store->Runs().at(0).SavedPosition, 12345);
    store.reset();
    EXPECT_EQ(test::RawDatabase(path).Text("SELECT count(*) FROM rows"),
              std::to_string(stored * 100));
  }
}

}  // namespace
}  // namespace qm
