// Several pages in flight per worker, and the status record of every address taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "support/closed_port.h"
#include "support/scripted_server.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::WaitUntil;

using test::FetchGate;

std::string NumberedList(int count) {
  std::string list;
  for (int i = 1; i <= count; ++i) list += "http://h/p" + std::to_string(i) + "\r\n";
  return list;
}

// Every page carries one e-mail address of its own, made from its address.
EngineFixture::FetchFunction GatedPages(std::shared_ptr<FetchGate> gate) {
  return [gate](const std::string& url, TPageLines& lines) {
    gate->Pass();
    lines =
        TPageLines(std::vector<std::string>{"mail " + url.substr(url.rfind('/') + 1) + "@x.cn"});
    return true;
  };
}

TEST(PagesInFlight, EachWorkerKeepsKConnectionsOpenAtOnce) {
  std::mutex mutex;
  std::condition_variable changed;
  int open = 0;
  int most = 0;
  constexpr int kWorkers = 2, kPerWorker = 4, kLines = 24;
  ScriptedServer server([&](ScriptedConnection& c) {
    c.ReadHead();
    {
      std::unique_lock lock(mutex);
      most = std::max(most, ++open);
      changed.notify_all();
      // Each answer waits until all the pages that may be in flight have been asked for,
      // or a while when fewer are (the list's tail).
      changed.wait_for(lock, std::chrono::milliseconds(1000),
                       [&] { return open >= kWorkers * kPerWorker; });
      // Counted out before the answer goes: the client may open its next connection as soon
      // as the answer has come.
      --open;
    }
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 13\r\nConnection: close\r\n\r\nmail a@b.com\n");
  });
  EngineFixture f;
  f.form->SpinEdit1.SetValue(kWorkers);
  f.form->SpinEditInFlight.SetValue(kPerWorker);
  std::string list;
  for (int i = 0; i < kLines; ++i) list += server.Url("p" + std::to_string(i)) + "\r\n";
  f.UseList(list);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(most, kWorkers * kPerWorker);
  }
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), kLines);
  EXPECT_EQ(f.form->AddressStatuses.Count(), static_cast<size_t>(kLines));
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
}

TEST(PagesInFlight, StopFinishesThePagesInFlightAndManualCloseDropsThem) {
  for (const bool byHand : {false, true}) {
    SCOPED_TRACE(byHand ? "manual close" : "stop");
    auto gate = std::make_shared<FetchGate>();
    EngineFixture f(GatedPages(gate));
    f.form->SpinEditInFlight.SetValue(4);
    f.UseList(NumberedList(10));
    f.form->SpeedButton2Click();
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 4; }));
    f.form->SpeedButton3Click();
    if (byHand) f.form->Form3Close();
    gate->Open();
    ASSERT_TRUE(f.WaitForWorkersGone());
    EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 4);
    EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), byHand ? 0 : 1);
    EXPECT_EQ(f.form->StringGrid1.EntryCount(), byHand ? 0 : 4);
    // Every line taken has its record; those of pages dropped by hand say so.
    const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
    ASSERT_EQ(records.size(), 4u);
    for (const TAddressStatus& record : records) {
      EXPECT_EQ(record.FailureReason, byHand ? "dropped: the search was closed by hand" : "");
    }
    EXPECT_EQ(f.form->AddressStatuses.FailedCount(), byHand ? 4 : 0);
    EXPECT_EQ(f.form->Label6.Caption(), "搜索已经结束!");
  }
}

TEST(PagesInFlight, AFailingPageEndsItsWorkerOnceItsOtherPagesAreDone) {
  auto gate = std::make_shared<FetchGate>();
  auto throwing = std::make_shared<std::atomic<bool>>(false);
  EngineFixture f([gate, throwing](const std::string& url, TPageLines& lines) {
    if (url.ends_with("/p1")) {
      WaitUntil([&] { return gate->Waiting() >= 2; });
      throwing->store(true);
      throw std::runtime_error("out of memory");
    }
    gate->Pass();
    lines = TPageLines(std::vector<std::string>{"a@b.cn"});
    return true;
  });
  constexpr int kLines = 200;
  f.form->SpinEditInFlight.SetValue(3);
  f.UseList(NumberedList(kLines));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return throwing->load(); }));
  gate->Open();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  // The pages in flight beside the failing one are finished; the worker stops taking
  // lines instead of going through the list.
  const int32_t taken = f.form->SearchState.UrlCounter.load();
  EXPECT_GE(taken, 3);
  EXPECT_LT(taken, kLines);
  // Every page taken has its record, the failing one with its error.
  const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
  EXPECT_EQ(records.size(), static_cast<size_t>(taken));
  EXPECT_EQ(std::count_if(records.begin(), records.end(),
                          [](const TAddressStatus& record) {
                            return record.FailureReason ==
                                   "the page could not be read: out of memory";
                          }),
            1);
}

TEST(AddressStatus, OneRecordPerLineWithTheReasonOfEachFailure) {
  ScriptedServer good(ScriptedServer::Replay(
      "HTTP/1.1 200 OK\r\nContent-Length: 26\r\n\r\nmail a@b.com and c@d.com\r\n"));
  ScriptedServer missing(
      ScriptedServer::Replay("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno page\r\n"));
  ScriptedServer silent(ScriptedServer::Silent());
  const test::ClosedPort closed;
  const std::string refused = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/";
  EngineFixture f;
  f.form->SpinEditInFlight.SetValue(8);
  f.form->SpinEditTimeout.SetValue(6);
  f.UseList(good.Url("a") + "\r\n" + refused + "\r\nhttp://no-such-host.invalid/\r\n" +
            silent.Url() + "\r\n" + missing.Url("gone") + "\r\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return f.form->SearchState.CompletedRuns.load() == 1; },
                        std::chrono::seconds(30)));

  std::map<int32_t, TAddressStatus> byLine;
  for (TAddressStatus& status : f.form->AddressStatuses.Snapshot()) {
    byLine[status.LineNumber] = std::move(status);
  }
  ASSERT_EQ(byLine.size(), 5u);
  EXPECT_EQ(byLine[1].Url, good.Url("a"));
  EXPECT_EQ(byLine[1].StatusCode, 200);
  EXPECT_EQ(byLine[1].BytesReceived, 26u);
  EXPECT_EQ(byLine[1].FailureReason, "");
  EXPECT_EQ(byLine[1].RowsAdded, (TKindCounts{2, 0, 0, 0, 0}));
  EXPECT_EQ(byLine[2].FailureReason, "Connection refused");
  EXPECT_NE(byLine[3].FailureReason, "");
  EXPECT_EQ(byLine[4].FailureReason, "Connection timed out");
  EXPECT_GE(byLine[4].Milliseconds, 6000);
  EXPECT_LT(byLine[4].Milliseconds, 12000);  // one wait, not two
  EXPECT_EQ(byLine[5].StatusCode, 404);
  EXPECT_EQ(byLine[5].FailureReason, "HTTP status 404");
  EXPECT_EQ(byLine[5].RowsAdded, (TKindCounts{}));
  EXPECT_EQ(f.form->AddressStatuses.FailedCount(), 4);
  EXPECT_EQ(f.form->StatusBar1.Panel(kFailedCountPanel), "4");
}

// Many lanes over one list, for the thread sanitizer: every line is taken once, every page
// leaves one record, and the records' row counts add up to the lists.
TEST(PagesInFlight, ManyLanesTakeEveryLineOnceAndCountEveryRow) {
  EngineFixture f([](const std::string& url, TPageLines& lines) {
    const std::string n = url.substr(url.rfind('p') + 1);
    const std::string mobile = "1380013" + std::string(4 - n.size(), '0') + n;
    lines = TPageLines(std::vector<std::string>{"x" + n + "@y.cn " + mobile, "z@y.cn"});
    return true;
  });
  constexpr int kLines = 3000;
  f.form->SpinEdit1.SetValue(4);
  f.form->SpinEditInFlight.SetValue(32);
  f.form->CheckBox3.SetChecked(true);
  f.UseList(NumberedList(kLines));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), kLines);
  const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
  ASSERT_EQ(records.size(), static_cast<size_t>(kLines));
  std::vector<int32_t> lines;
  std::array<int32_t, 3> rows{};
  for (const TAddressStatus& record : records) {
    lines.push_back(record.LineNumber);
    for (size_t k = 0; k < 3; ++k) rows[k] += record.RowsAdded[k];
  }
  std::sort(lines.begin(), lines.end());
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(lines[static_cast<size_t>(i)], i + 1);
  EXPECT_EQ(rows[0], f.form->StringGrid1.EntryCount());
  EXPECT_EQ(rows[1], f.form->StringGrid2.EntryCount());
  EXPECT_GE(rows[0], kLines);
}

}  // namespace
}  // namespace qm
