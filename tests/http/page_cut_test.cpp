// Pages whose body is not whole though it came: cut at the size cap, at the time limit, at
// the memory limit. The fetch still succeeds with what was read and says why it is cut.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "compression_support.h"
#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "http/memory_budget.h"
#include "http/page_memory.h"
#include "http/redirect_fetch.h"
#include "page_server_support.h"
#include "support/charset_encoding.h"

namespace qm::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kKiB = size_t{1} << 10;
constexpr size_t kMiB = size_t{1} << 20;

// `bytes` of text in short lines that name their position, so that a cut shows where.
std::string TextOf(size_t bytes) {
  std::string text;
  text.reserve(bytes + 32);
  while (text.size() < bytes) text += "at " + std::to_string(text.size()) + " a@b.cn\n";
  text.resize(bytes);
  return text;
}

TEST(PageCut, AtTheSizeCapTheFetchSaysWhichCap) {
  const std::string text = TextOf(3 * kMiB);
  std::string repeated;
  while (repeated.size() < 8 * kMiB) repeated += "contact a@b.cn QQ 12345678\n";
  const std::string bomb = Gzip(repeated);
  const struct {
    const char* name;
    std::string answer;
    const std::string& page;
    size_t cap;
    std::string reason;
    size_t kept;  // bytes of the page's text
  } rows[] = {
      {"a length beyond the cap", Answer("200 OK", "", text), text, 500 * kKiB,
       "cut at the size cap of 500 KiB", 500 * kKiB},
      {"decoded beyond the cap", Answer("200 OK", "Content-Encoding: gzip\r\n", bomb), repeated,
       kMiB, "cut at the size cap of 1 MiB", kMiB - bomb.size()},
      {"a whole page", Answer("200 OK", "", text), text, 3 * kMiB, "", 3 * kMiB},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(ScriptedServer::Replay(row.answer));
    TPageFetchOptions options;
    options.MaxBodyBytes = row.cap;
    TPageLines lines;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url(), lines, options, result));
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(result.CutReason, row.reason);
    EXPECT_EQ(lines.Text(), std::string_view(row.page).substr(0, row.kept));
  }
}

TEST(PageCut, AtTheTimeLimitWithWhatArrived) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadHead();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst\n");
    c.SendSlowly(std::string(1000, 'x'), 1, std::chrono::milliseconds(20));
  });
  THttpClient client;
  client.PageTimeLimit = 1000;
  TPageFetchResult result;
  ASSERT_TRUE(FetchFollowingRedirects(client, server.Url(), TPageFetchOptions{}, result));
  EXPECT_EQ(result.CutReason, "cut at the time limit of 1 s");
  EXPECT_EQ(ReceivedBody(client).substr(0, 7), "first\nx");
}

TEST(PageMemory, ACountedPageHoldsWhatItsTextHolds) {
  const std::string text = TextOf(kMiB);
  std::string utf8;
  while (utf8.size() < kMiB) utf8 += "联系：电话13812345678，邮箱kefu@example.cn\n";
  const std::string gbk = EncodeUtf8As(utf8, "GBK");
  const struct {
    std::string headers;
    std::string body;
    const std::string& page;
  } rows[] = {
      {"Content-Encoding: gzip\r\n", Gzip(text), text},
      {"Content-Type: text/html; charset=gbk\r\n", gbk, utf8},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.headers);
    ScriptedServer server(ScriptedServer::Replay(Answer("200 OK", row.headers, row.body)));
    TMemoryBudget budget(64 * kMiB);
    TPageLines lines;
    {
      TPageFetchOptions options;
      options.Budget = &budget;
      TPageFetchResult result;
      ASSERT_TRUE(FetchPageLines(server.Url(), lines, options, result));
      EXPECT_EQ(lines.Text(), row.page);
      EXPECT_EQ(budget.InUse(), result.Memory.Bytes());
      EXPECT_GE(result.Memory.Bytes(), row.page.size());
      EXPECT_LE(result.Memory.Bytes(), row.page.size() * 5 / 4 + 64 * kKiB);
      // Received and decoded text were both counted while both were held.
      EXPECT_GE(budget.PeakInUse(), row.body.size() + row.page.size());
    }
    EXPECT_EQ(budget.InUse(), 0u);
  }
}

// A page sent with its length takes a buffer of about its size, even on a budget: no
// step of 256 KiB for a page of a few, and nothing to copy to shrink it afterwards.
TEST(PageMemory, ASmallPageOfKnownLengthAsksForWhatItNeeds) {
  for (const size_t bytes : {size_t{100}, 8 * kKiB, 200 * kKiB}) {
    SCOPED_TRACE(bytes);
    const std::string text = TextOf(bytes);
    ScriptedServer server(ScriptedServer::Replay(Answer("200 OK", "", text)));
    TMemoryBudget budget(64 * kMiB);
    TPageFetchOptions options;
    options.Budget = &budget;
    TPageLines lines;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url(), lines, options, result));
    EXPECT_EQ(lines.Text(), text);
    EXPECT_LE(budget.PeakInUse(), TPageMemory::kFetchOverheadBytes + bytes + 64);
    EXPECT_GE(result.Memory.Bytes(), bytes);
    EXPECT_LE(result.Memory.Bytes(), bytes + 64);
  }
}

TEST(PageMemory, ASpentBudgetCutsThePageAfterAShortWait) {
  const std::string text = TextOf(2 * kMiB);
  std::string repeated;
  while (repeated.size() < 2 * kMiB) repeated += "contact a@b.cn QQ 12345678\n";
  const size_t step = 256 * kKiB;  // the first counted step of a buffer
  const struct {
    std::string answer;
    const std::string& page;
    size_t limit;
    size_t kept;
    bool waits;
  } rows[] = {
      // The body's buffer gets its first step, never the second: moving to it would hold
      // both, more than the whole budget, so it is refused at once.
      {Answer("200 OK", "", text), text, step, step - 2, false},
      // The compressed body fits its first step; its text gets one step too.
      {Answer("200 OK", "Content-Encoding: gzip\r\n", Gzip(repeated)), repeated, 2 * step, step,
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.limit);
    ScriptedServer server(ScriptedServer::Replay(row.answer));
    TMemoryBudget budget(TPageMemory::kFetchOverheadBytes + row.limit);
    TPageFetchOptions options;
    options.Budget = &budget;
    TPageLines lines;
    TPageFetchResult result;
    const auto start = Clock::now();
    ASSERT_TRUE(FetchPageLines(server.Url(), lines, options, result));
    if (row.waits) {
      EXPECT_GE(Clock::now() - start, TPageMemory::kWait - std::chrono::milliseconds(100));
    }
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(result.CutReason, "cut at the memory limit");
    EXPECT_EQ(lines.Text(), std::string_view(row.page).substr(0, row.kept));
  }
}

TEST(PageMemory, PagesInFlightOnASmallBudgetAllEndAndGiveItBack) {
  // Each page alone would take more than the whole budget; they hold what they got while
  // they wait for more, as pages in flight do, and none waits for good.
  const std::string text = TextOf(kMiB);
  ScriptedServer server(ScriptedServer::Replay(Answer("200 OK", "", text)));
  TMemoryBudget budget(kMiB);
  std::vector<TPageLines> lines(6);
  std::vector<TPageFetchResult> results(6);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (size_t i = 0; i < lines.size(); ++i) {
    threads.emplace_back([&, i] {
      TPageFetchOptions options;
      options.Budget = &budget;
      EXPECT_TRUE(FetchPageLines(server.Url(), lines[i], options, results[i]));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
  size_t held = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(results[i].CutReason, "cut at the memory limit");
    EXPECT_EQ(lines[i].Text(), std::string_view(text).substr(0, lines[i].Text().size()));
    held += results[i].Memory.Bytes();
  }
  EXPECT_EQ(budget.InUse(), held);
  results.clear();
  EXPECT_EQ(budget.InUse(), 0u);
}

}  // namespace
}  // namespace qm::test
