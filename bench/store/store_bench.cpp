// The result store on SQLite: the rows per second the writer takes to disk while four threads
// hand it a run's pages (ten rows each, one in ten found before in the run), the bytes a row
// costs in the file, and how long one Write of 10,000 rows and 1,000 pages takes, on a new
// store and on one that holds the run above.
//
//   bench_store [ROWS]   (default 1,000,000)
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/median.h"
#include "store/sqlite_store.h"
#include "store/store_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRowsPerPage = 10;
constexpr int kThreads = 4;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

long long FileBytes(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : 0;
}

// A page as a run finds it: its address, where it was listed, and what it added.
struct TPageMaker {
  explicit TPageMaker(unsigned seed) : random(seed) {}

  qm::TStoredPage Page(int line) {
    qm::TStoredPage page;
    page.LineNumber = line;
    page.Url = "http://www.site" + std::to_string(line % 50000) + ".com.cn/about/contact-" +
               std::to_string(random() % 1000) + ".html";
    page.FinalUrl = page.Url;
    page.StatusCode = 200;
    page.BytesReceived = 20000 + random() % 100000;
    page.Milliseconds = random() % 3000;
    page.RowsAdded = {4, 3, 3};
    page.Depth = line % 2;
    page.ListedUrl = "http://www.site" + std::to_string(line % 50000) + ".com.cn/";
    return page;
  }

  qm::TStoredRow Row(const qm::TStoredPage& page, int index) {
    qm::TStoredRow row;
    row.Kind = index % 3;
    // One in ten is a value the run has found before.
    const unsigned long serial = random() % 10 == 0 ? random() % 1000 : counter++;
    switch (row.Kind) {
      case 0:
        row.Value =
            "user" + std::to_string(serial) + "@mail" + std::to_string(serial % 97) + ".com";
        break;
      case 1:
        row.Value = std::to_string(13000000000ULL + serial * 7919 % 999999999);
        break;
      default:
        row.Value = std::to_string(10000 + serial) + "@qq.com";
        break;
    }
    row.Source = page.Url;
    row.ListedUrl = page.ListedUrl;
    row.LineNumber = page.LineNumber;
    row.FoundAtMs = 1700000000000 + counter;
    return row;
  }

  std::mt19937 random;
  unsigned long counter = 0;
};

struct TWriterFigures {
  double rowsPerSecond = 0;
  double handOverNsPerRow = 0;  // the producers' time per row added
  long long storedRows = 0;
};

TWriterFigures MeasureWriter(qm::TResultStore& store, int64_t run, long long rows) {
  const long long pagesPerThread = rows / kRowsPerPage / kThreads;
  // Built beforehand, so that what is timed is the writer, not the making of strings.
  std::vector<std::vector<qm::TStoredPage>> pages(kThreads);
  std::vector<std::vector<qm::TStoredRow>> found(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    TPageMaker maker(static_cast<unsigned>(t + 1));
    maker.counter = static_cast<unsigned long>(t) * 100000000UL;
    for (long long p = 0; p < pagesPerThread; ++p) {
      pages[t].push_back(maker.Page(static_cast<int>(p * kThreads + t)));
      for (int i = 0; i < kRowsPerPage; ++i) found[t].push_back(maker.Row(pages[t].back(), i));
    }
  }
  TWriterFigures figures;
  std::vector<double> handOver(kThreads);
  const auto start = Clock::now();
  {
    qm::TStoreWriter writer(store, run);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const auto begin = Clock::now();
        for (size_t p = 0; p < pages[t].size(); ++p) {
          for (int i = 0; i < kRowsPerPage; ++i) {
            writer.AddRow(std::move(found[t][p * kRowsPerPage + i]));
          }
          writer.AddPage(std::move(pages[t][p]));
          if (t == 0) writer.MarkPosition(static_cast<int64_t>(p * kThreads));
        }
        handOver[t] = Seconds(Clock::now() - begin);
      });
    }
    for (auto& thread : threads) thread.join();
    writer.Flush();
    if (!writer.Failure().empty()) {
      std::fprintf(stderr, "writing failed: %s\n", writer.Failure().c_str());
      std::exit(1);
    }
  }
  const double elapsed = Seconds(Clock::now() - start);
  const long long added = pagesPerThread * kThreads * kRowsPerPage;
  figures.rowsPerSecond = static_cast<double>(added) / elapsed;
  double handOverSum = 0;
  for (double seconds : handOver) handOverSum += seconds;
  figures.handOverNsPerRow = handOverSum / static_cast<double>(added) * 1e9;
  figures.storedRows = store.Runs().back().Rows;
  return figures;
}

// The median time of Write for batches of 10,000 rows and 1,000 pages.
double MedianBatchMs(qm::TResultStore& store, int64_t run, unsigned seed) {
  TPageMaker maker(seed);
  maker.counter = 900000000UL + seed * 1000000UL;
  std::vector<double> times;
  for (int round = 0; round < 11; ++round) {
    qm::TStoreBatch batch{run, {}, {}, round};
    for (int p = 0; p < 1000; ++p) {
      batch.Pages.push_back(maker.Page(round * 1000 + p));
      for (int i = 0; i < kRowsPerPage; ++i) batch.Rows.push_back(maker.Row(batch.Pages.back(), i));
    }
    const auto start = Clock::now();
    store.Write(batch);
    times.push_back(Seconds(Clock::now() - start) * 1000);
  }
  return qm::bench::Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (rows < kRowsPerPage * kThreads) {
    std::fprintf(stderr, "usage: bench_store [ROWS]   (at least %d)\n", kRowsPerPage * kThreads);
    return 2;
  }
  qm::test::TempDir dir;
  const std::string path = dir.File("results.db");

  double freshBatchMs = 0;
  {
    auto store = qm::OpenSqliteStore(dir.File("fresh.db"));
    freshBatchMs = MedianBatchMs(*store, store->BeginRun("fresh.txt", "", 0), 1);
  }

  TWriterFigures writer;
  {
    auto store = qm::OpenSqliteStore(path);
    writer = MeasureWriter(*store, store->BeginRun("list.txt", "", 0), rows);
  }
  // Closed, the write-ahead log is folded into the file and removed.
  const long long bytes = FileBytes(path) + FileBytes(path + "-wal");

  double fullBatchMs = 0;
  {
    auto store = qm::OpenSqliteStore(path);
    fullBatchMs = MedianBatchMs(*store, store->Runs().back().Id, 2);
  }

  std::printf(
      "result store (SQLite, WAL, synchronous=NORMAL), %lld rows added by %d threads, "
      "%d rows a page\n",
      rows / (kRowsPerPage * kThreads) * kRowsPerPage * kThreads, kThreads, kRowsPerPage);
  std::printf("  writer sustained          %10.0f rows/s   (goal at least 200,000)\n",
              writer.rowsPerSecond);
  std::printf("  hand-over on the workers  %10.0f ns a row\n", writer.handOverNsPerRow);
  std::printf("  rows stored (unique)      %10lld\n", writer.storedRows);
  std::printf("  file size                 %10.1f MB, %.0f bytes a stored row (pages included)\n",
              static_cast<double>(bytes) / 1e6,
              static_cast<double>(bytes) / static_cast<double>(writer.storedRows));
  std::printf("  Write of 10,000 rows + 1,000 pages, median of 11:\n");
  std::printf("    new store               %10.1f ms\n", freshBatchMs);
  std::printf("    store of the run above  %10.1f ms\n", fullBatchMs);
  return 0;
}
