// Starting, stopping, completing and closing runs through the main window's core, with an
// injected page fetch.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "text/errors.h"

namespace qm {
namespace {

using test::EngineFixture;
using test::PageOf;
using test::WaitUntil;

constexpr const char* kEnded = "搜索已经结束!";

using test::FetchGate;
using test::OpenOnExit;

std::vector<std::string> Sorted(std::vector<std::string> values) {
  std::sort(values.begin(), values.end());
  return values;
}

// Records every change of the hint line, in order, on whichever thread made it.
class HintRecorder {
 public:
  explicit HintRecorder(TForm1& form) : form_(form), last_(form.Label6.Caption()) {
    form_.Changes.Acknowledge();
    form_.Changes.SetListener([this] {
      form_.Changes.Acknowledge();
      std::lock_guard lock(mutex_);
      std::string caption = form_.Label6.Caption();
      if (caption == last_) return;
      last_ = caption;
      hints_.push_back(std::move(caption));
    });
  }
  ~HintRecorder() { form_.Changes.SetListener({}); }
  std::vector<std::string> Hints() const {
    std::lock_guard lock(mutex_);
    return hints_;
  }

 private:
  TForm1& form_;
  mutable std::mutex mutex_;
  std::string last_;
  std::vector<std::string> hints_;
};

void ExpectIdleAfterRun(TForm1& form) {
  EXPECT_EQ(form.Label6.Caption(), kEnded);
  EXPECT_TRUE(form.SpeedButton2.Enabled());
  EXPECT_FALSE(form.SpeedButton3.Enabled());
  EXPECT_TRUE(form.SpeedButton4.Enabled());
  EXPECT_FALSE(form.Form3.Window.Visible());
  EXPECT_EQ(form.Form3.ProgressBar1.Max(), 0);
  EXPECT_EQ(form.SearchState.StartedWorkers.load(), 0);
  for (auto& slot : form.Slots) EXPECT_EQ(slot.RunningMark.load(), 0);
}

TEST(SearchStart, RefusesWithoutAListFile) {
  EngineFixture f(PageOf({}));
  const std::vector<std::string> paths = {"", f.dir.File("missing.txt"), f.dir.Path().string()};
  for (const auto& path : paths) {
    SCOPED_TRACE(path);
    f.dialogs.ClearHistory();
    f.form->Edit5.SetText(path);
    f.form->SpeedButton2Click();
    EXPECT_EQ(f.dialogs.Kinds(), std::vector<std::string>{"information"});
    EXPECT_EQ(f.dialogs.Messages(), std::vector<std::string>{"您还没有选择网址列表文件!"});
    EXPECT_EQ(f.form->Label6.Caption(), "");
    EXPECT_TRUE(f.form->SpeedButton2.Enabled());
    EXPECT_TRUE(f.form->SpeedButton3.Enabled());
    EXPECT_EQ(f.form->SearchState.CurrentRun(), nullptr);
  }
}

TEST(SearchStart, RefusesOfflineButKeepsTheNewCount) {
  EngineFixture f(PageOf({}));
  f.SetLocalAddress("127.0.0.1");
  f.UseList("a\nb\nc");
  f.form->SpeedButton2Click();
  EXPECT_EQ(f.dialogs.Messages(), std::vector<std::string>{"您还没有连接到网上!"});
  EXPECT_EQ(f.form->SearchState.UrlTotal.load(), 3);
  EXPECT_EQ(f.form->Label4.Caption(), "");
  EXPECT_EQ(f.form->SearchState.CurrentRun(), nullptr);
  EXPECT_TRUE(f.Fetched().empty());

  // A host whose name cannot be resolved counts as connected.
  f.SetLocalAddress("");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(f.Fetched().size(), 3u);
}

TEST(SearchStart, ListUnreadableDuringTheCountingPassRaises) {
  EngineFixture f(PageOf({}));
  f.form->Edit5.SetText("/proc/self/mem");
  EXPECT_THROW(f.form->SpeedButton2Click(), EInOutError);
  EXPECT_EQ(f.form->SearchState.CurrentRun(), nullptr);
  EXPECT_TRUE(f.dialogs.Messages().empty());
}

TEST(SearchRun, ThreeLinesWithFourWorkers) {
  EngineFixture f(PageOf({"ab@cd.ef"}));
  f.form->SpinEdit1.SetValue(4);
  f.UseList("http://h/1\r\nhttp://h/2\r\nhttp://h/3");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  EXPECT_EQ(Sorted(f.Fetched()),
            (std::vector<std::string>{"http://h/1", "http://h/2", "http://h/3"}));
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 3);
  EXPECT_EQ(f.form->Label4.Caption(), "3");
  EXPECT_EQ(f.form->Label5.Caption(), "3");
  EXPECT_EQ(f.form->StringGrid1.Snapshot(), std::vector<std::string>{"ab@cd.ef"});
  EXPECT_EQ(f.form->StatusBar1.Panel(1), "1");
  ExpectIdleAfterRun(*f.form);
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  EXPECT_TRUE(f.dialogs.Messages().empty());

  const std::string settings = f.SettingsText();
  EXPECT_NE(settings.find("process=3\r\ntotal=3\r\nthread=4\r\n"), std::string::npos) << settings;
}

TEST(SearchRun, HintLineTellsEachStepAndTheWorkersEnd) {
  EngineFixture f(PageOf({}));
  f.UseList("http://h/1\n");
  HintRecorder hints(*f.form);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(hints.Hints(), (std::vector<std::string>{"开始搜索...", "创建线程...", "搜索网址...",
                                                     "线程1终止!", kEnded}));
  std::vector<std::string> pauses;
  for (const auto& shown : f.dialogs.History()) {
    if (shown.Kind == "pause") pauses.push_back(shown.Text);
  }
  EXPECT_EQ(pauses, (std::vector<std::string>{"1000", "1000"}));
}

TEST(SearchRun, EmptyListCompletesAtOnce) {
  EngineFixture f(PageOf({}));
  f.form->SpinEdit1.SetValue(2);
  f.UseList("");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(f.form->Label4.Caption(), "0");
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 0);
  EXPECT_TRUE(f.Fetched().empty());
  ExpectIdleAfterRun(*f.form);
}

TEST(SearchRun, TakesEachLineAsTheListRulesSay) {
  EngineFixture f(PageOf({}));
  f.UseList("http://h/a comment\r\n leading blank\r\n\r\nhttp://h/b\x1ahttp://h/c\r\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  // A blank line is counted but never fetched; a padded one is trimmed first.
  EXPECT_EQ(f.Fetched(), (std::vector<std::string>{"http://h/a", "leading", "http://h/b"}));
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 4);
  EXPECT_EQ(f.form->Label4.Caption(), "4");
  const std::vector<TAddressStatus> records = f.form->AddressStatuses.Snapshot();
  ASSERT_EQ(records.size(), 4u);
  const auto blank = std::find_if(records.begin(), records.end(),
                                  [](const TAddressStatus& r) { return r.LineNumber == 3; });
  ASSERT_NE(blank, records.end());
  EXPECT_EQ(blank->FailureReason, "blank line");
  EXPECT_EQ(f.form->AddressStatuses.FailedCount(), 0);
}

TEST(SearchRun, FailedFetchIsCountedAndSkipped) {
  EngineFixture f([](const std::string& url, qm::TPageLines& lines) {
    lines = {"ab@cd.ef"};
    if (url == "http://h/bad") {
      lines.clear();
      return false;
    }
    return true;
  });
  f.UseList("http://h/bad\nhttp://h/good\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 2);
  EXPECT_EQ(f.form->StringGrid1.EntryCount(), 1);
}

TEST(SearchRun, CollectsOnlyTheCheckedKinds) {
  const std::vector<std::string> page = {"mail: ab@cd.ef", "tel 13812345678", "QQ:123456789"};
  struct Case {
    bool emails, mobiles, qq;
  };
  for (const Case c :
       {Case{true, true, true}, Case{false, false, false}, Case{false, true, false}}) {
    SCOPED_TRACE(std::to_string(c.emails) + std::to_string(c.mobiles) + std::to_string(c.qq));
    EngineFixture f(PageOf(page));
    f.form->CheckBox2.SetChecked(c.emails);
    f.form->CheckBox3.SetChecked(c.mobiles);
    f.form->CheckBox4.SetChecked(c.qq);
    f.UseList("http://h/1\nhttp://h/2\n");
    f.form->SpeedButton2Click();
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 2);
    EXPECT_EQ(f.form->StringGrid1.EntryCount(), c.emails ? 1 : 0);
    EXPECT_EQ(f.form->StringGrid2.EntryCount(), c.mobiles ? 1 : 0);
    EXPECT_EQ(f.form->StringGrid3.EntryCount(), c.qq ? 1 : 0);
    EXPECT_EQ(f.form->StatusBar1.Panel(1), c.emails ? "1" : "0");
    EXPECT_EQ(f.form->StatusBar1.Panel(3), c.mobiles ? "1" : "0");
    EXPECT_EQ(f.form->StatusBar1.Panel(5), c.qq ? "1" : "0");
    if (c.qq) {
      EXPECT_EQ(f.form->StringGrid3.Snapshot(), std::vector<std::string>{"123456789@qq.com"});
    }
  }
}

TEST(SearchRun, ANewRunClearsTheListsAndCounts) {
  EngineFixture f(PageOf({"ab@cd.ef", "xy@cd.ef"}));
  f.UseList("http://h/1\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(f.form->StringGrid1.EntryCount(), 2);
  f.UseList("");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  EXPECT_EQ(f.form->StringGrid1.EntryCount(), 0);
  EXPECT_EQ(f.form->StatusBar1.Panel(1), "0");
  EXPECT_EQ(f.form->Label5.Caption(), "");
}

TEST(SearchRun, CompletionReturnsToIdleEvenWhenTheProgressCannotBeSaved) {
  // The program's folder does not exist, so the settings file cannot be written.
  EngineFixture f(PageOf({}), "gone/qmharvest");
  f.form->SetStorePath({});  // nor could a store beside it be
  f.UseList("http://h/1\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ExpectIdleAfterRun(*f.form);
  EXPECT_FALSE(std::filesystem::exists(f.form->SettingsFilePath()));
  EXPECT_TRUE(f.dialogs.Messages().empty());
}

TEST(SearchRun, EndOfRunSaveFailureIsKeptForTheCallerToReport) {
  EngineFixture f(PageOf({}));
  f.UseList("http://h/1\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_FALSE(f.form->TakeEndOfRunSaveFailure().has_value());

  // A read-only settings file is left as it is, so the next save fails.
  const std::string settings = f.form->SettingsFilePath();
  std::filesystem::permissions(settings, std::filesystem::perms::owner_read);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  ExpectIdleAfterRun(*f.form);
  const std::optional<std::string> failure = f.form->TakeEndOfRunSaveFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(*failure, "Unable to write to " + settings);
  EXPECT_FALSE(f.form->TakeEndOfRunSaveFailure().has_value());
}

TEST(SearchRun, FailureOfAPageEndsOnlyThatWorker) {
  EngineFixture f([](const std::string& url, qm::TPageLines& lines) {
    if (url == "http://h/boom") throw std::runtime_error("page failed");
    lines = {"ab@cd.ef"};
    return true;
  });
  f.form->SpinEdit1.SetValue(2);
  f.UseList("http://h/1\nhttp://h/boom\nhttp://h/2\nhttp://h/3\nhttp://h/4\nhttp://h/5\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.Fetched().size(), 6u);
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 6);
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  ExpectIdleAfterRun(*f.form);
}

TEST(SearchRun, ListReadErrorEndsTheWorkersAndTheRun) {
  EngineFixture f(PageOf({}));
  f.form->SpinEdit1.SetValue(3);
  HintRecorder hints(*f.form);
  f.form->StartRun(TUrlListReader::Open("/proc/self/mem"));
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_TRUE(f.Fetched().empty());
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  const auto seen = hints.Hints();
  for (const char* message : {"线程1终止!", "线程2终止!", "线程3终止!"}) {
    EXPECT_NE(std::find(seen.begin(), seen.end(), message), seen.end()) << message;
  }
  ExpectIdleAfterRun(*f.form);
}

// The resume path hands over a list already positioned and a counter already set.
TEST(SearchRun, StartRunGoesOnFromAPositionedList) {
  struct Case {
    int32_t counter;
    std::string label5;
  };
  for (const Case& c : {Case{57, "58"}, Case{0, "1"}, Case{INT32_MAX, "-2147483648"}}) {
    SCOPED_TRACE(c.counter);
    EngineFixture f(PageOf({}));
    const std::string path = f.UseList("http://h/1\nhttp://h/2\n");
    auto list = TUrlListReader::Open(path);
    std::string skipped;
    ASSERT_TRUE(list->ReadLine(skipped));
    f.form->SearchState.UrlCounter.store(c.counter);
    f.form->StartRun(std::move(list));
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    EXPECT_EQ(f.Fetched(), std::vector<std::string>{"http://h/2"});
    EXPECT_EQ(f.form->Label5.Caption(), c.label5);
  }
}

TEST(SearchRun, ThreadCountPicksTheSlots) {
  struct Case {
    std::string text;
    int started;
  };
  for (const Case& c : {Case{"3", 3}, Case{"9", 4}, Case{"1", 1}, Case{"abc", 1}}) {
    SCOPED_TRACE(c.text);
    auto gate = std::make_shared<FetchGate>();
    EngineFixture f([gate](const std::string&, qm::TPageLines& lines) {
      gate->Pass();
      lines.clear();
      return true;
    });
    OpenOnExit opener{gate};
    f.form->SpinEdit1.SetText(c.text);
    f.UseList("1\n2\n3\n4\n5\n6\n7\n8\n");
    f.form->SpeedButton2Click();
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == c.started; }));
    EXPECT_EQ(f.form->SearchState.StartedWorkers.load(), c.started);
    EXPECT_EQ(f.form->Form3.ProgressBar1.Max(), c.started);
    for (int k = 0; k < kWorkerSlotCount; ++k) {
      EXPECT_EQ(f.form->Slots[k].RunningMark.load(), k < c.started ? kRunningMark : 0) << k;
    }
    EXPECT_FALSE(f.form->SpeedButton2.Enabled());
    EXPECT_FALSE(f.form->FormCloseQuery());  // refused during a run, without a question
    gate->Open();
    ASSERT_TRUE(f.WaitForCompletedRuns(1));
    EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 8);
    EXPECT_TRUE(f.dialogs.Messages().empty());
  }
}

TEST(SearchRun, NoWorkerForACountBelowOne) {
  EngineFixture f(PageOf({}));
  f.form->SpinEdit1.SetText("0");
  f.UseList("a\nb\n");
  f.form->SpeedButton2Click();
  EXPECT_FALSE(f.form->SpeedButton2.Enabled());
  EXPECT_TRUE(f.form->SpeedButton3.Enabled());
  EXPECT_EQ(f.form->SearchState.StartedWorkers.load(), 0);
  for (auto& slot : f.form->Slots) EXPECT_EQ(slot.Thread, nullptr);

  // No worker has started: stop returns to idle at once, without the wait dialog.
  f.form->SpeedButton3Click();
  EXPECT_TRUE(f.form->SpeedButton2.Enabled());
  EXPECT_FALSE(f.form->SpeedButton3.Enabled());
  EXPECT_TRUE(f.form->SpeedButton4.Enabled());
  EXPECT_FALSE(f.form->Form3.Window.Visible());
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 0);
  EXPECT_TRUE(f.Fetched().empty());

  // The next start takes over cleanly.
  f.form->SpinEdit1.SetValue(2);
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(f.Fetched().size(), 2u);
}

TEST(RunControl, StopWhenIdleResetsTheButtons) {
  EngineFixture f(PageOf({}));
  f.form->SpeedButton3Click();
  EXPECT_TRUE(f.form->SpeedButton2.Enabled());
  EXPECT_FALSE(f.form->SpeedButton3.Enabled());
  EXPECT_TRUE(f.form->SpeedButton4.Enabled());
  EXPECT_FALSE(f.form->Form3.Window.Visible());
  EXPECT_TRUE(f.dialogs.Kinds().empty());
}

TEST(RunControl, StopWhileAWorkerScansALongPage) {
  constexpr int kLines = 20000;
  std::vector<std::string> page;
  for (int i = 0; i < kLines; ++i) page.push_back("user" + std::to_string(i) + "@ab.cd");

  std::mutex mutex;
  std::condition_variable changed;
  bool armed = false, scanning = false, released = false;
  EngineFixture* fixture = nullptr;
  EngineFixture f([&](const std::string&, qm::TPageLines& lines) {
    lines = TPageLines(page);
    std::lock_guard lock(mutex);
    if (!scanning) {
      armed = true;
      fixture->form->Changes.Acknowledge();  // the next change comes from the scan
    }
    return true;
  });
  fixture = &f;
  // The first change after the fetch is the scan's first finding: hold the worker there.
  f.form->Changes.SetListener([&] {
    std::unique_lock lock(mutex);
    if (!armed) return;
    armed = false;
    scanning = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  });
  f.UseList("http://h/1\nhttp://h/2\nhttp://h/3\n");
  f.form->SpeedButton2Click();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return scanning; }));
  }
  f.form->SpeedButton3Click();
  EXPECT_TRUE(f.form->Form3.Window.Visible());
  EXPECT_FALSE(f.form->SpeedButton3.Enabled());
  {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  f.form->Changes.SetListener({});
  EXPECT_EQ(f.form->StringGrid1.EntryCount(), kLines);  // the whole page was scanned
  EXPECT_EQ(f.Fetched().size(), 1u);                    // and no further line taken
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 1);
  ExpectIdleAfterRun(*f.form);
}

TEST(RunControl, ManualCloseWhileBusyThenANewRunAtOnce) {
  auto gate = std::make_shared<FetchGate>();
  EngineFixture f([gate](const std::string& url, qm::TPageLines& lines) {
    if (url.rfind("http://one/", 0) == 0) {
      gate->Pass();
      lines = {"stale@cd.ef"};
    } else {
      lines = {"fresh@cd.ef"};
    }
    return true;
  });
  OpenOnExit opener{gate};
  f.form->SpinEdit1.SetValue(2);
  f.UseList("http://one/1\nhttp://one/2\nhttp://one/3\nhttp://one/4\n", "one.txt");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 2; }));

  f.form->SpeedButton3Click();
  EXPECT_TRUE(f.form->Form3.Window.Visible());
  f.form->Form3Close();
  EXPECT_EQ(f.form->Label6.Caption(), kEnded);
  EXPECT_FALSE(f.form->Form3.Window.Visible());
  EXPECT_TRUE(f.form->SpeedButton2.Enabled());
  EXPECT_EQ(f.form->SearchState.StartedWorkers.load(), 0);
  EXPECT_FALSE(f.form->FormCloseQuery());  // no answer scripted: the question says no
  // The two lines dropped unread are not counted searched: the store holds nothing of them.
  EXPECT_NE(f.SettingsText().find("process=0\r\n"), std::string::npos) << f.SettingsText();

  // The busy workers come back while the next run is being set up.
  f.UseList("http://two/1\nhttp://two/2\nhttp://two/3\nhttp://two/4\nhttp://two/5\n", "two.txt");
  const size_t shownBefore = f.dialogs.History().size();
  std::thread releaser([&] {
    WaitUntil([&] { return f.dialogs.History().size() > shownBefore; });
    gate->Open();
  });
  f.form->SpeedButton2Click();
  releaser.join();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  ASSERT_TRUE(f.WaitForWorkersGone());

  std::vector<std::string> one, two;
  for (const auto& url : f.Fetched()) (url.rfind("http://one/", 0) == 0 ? one : two).push_back(url);
  EXPECT_EQ(one.size(), 2u);
  EXPECT_EQ(Sorted(two), (std::vector<std::string>{"http://two/1", "http://two/2", "http://two/3",
                                                   "http://two/4", "http://two/5"}));
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 5);
  EXPECT_EQ(f.form->StringGrid1.Snapshot(), std::vector<std::string>{"fresh@cd.ef"});
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 1);
  ExpectIdleAfterRun(*f.form);
}

TEST(RunControl, NewRunDoesNotWaitForAFetchLeftBusyByAManualClose) {
  auto gate = std::make_shared<FetchGate>();
  EngineFixture f([gate](const std::string& url, qm::TPageLines& lines) {
    if (url.rfind("http://stuck/", 0) == 0) {
      gate->Pass();
      lines = {"stale@cd.ef"};
    } else {
      lines = {"fresh@cd.ef"};
    }
    return true;
  });
  OpenOnExit opener{gate};
  f.form->SpinEdit1.SetValue(2);
  f.UseList("http://stuck/1\nhttp://stuck/2\nhttp://stuck/3\n", "stuck.txt");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 2; }));
  f.form->SpeedButton3Click();
  f.form->Form3Close();

  // Both fetches of the closed run stay stuck while a whole new run starts and completes.
  f.UseList("http://two/1\nhttp://two/2\nhttp://two/3\n", "two.txt");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  EXPECT_EQ(gate->Waiting(), 2);
  EXPECT_EQ(f.form->StringGrid1.Snapshot(), std::vector<std::string>{"fresh@cd.ef"});
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 3);

  // The stale workers come back to a closed run: nothing of theirs reaches the lists.
  gate->Open();
  ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() == 0; }));
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(2));
  EXPECT_EQ(f.form->StringGrid1.Snapshot(), std::vector<std::string>{"fresh@cd.ef"});
  ExpectIdleAfterRun(*f.form);
}

TEST(RunControl, ExitQuestionAfterTheRun) {
  EngineFixture f(PageOf({}));
  f.UseList("a\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  f.dialogs.AnswerConfirm(false);
  f.dialogs.AnswerConfirm(true);
  EXPECT_FALSE(f.form->FormCloseQuery());
  EXPECT_TRUE(f.form->FormCloseQuery());
  EXPECT_EQ(f.dialogs.Kinds(), (std::vector<std::string>{"confirm", "confirm"}));
  EXPECT_EQ(f.dialogs.Messages().front(), "退出Quillmoth网页信息采集器?");
}

// Many short runs with four workers, some stopped at once, while another thread keeps
// asking for the completion: every run completes exactly once.
TEST(RunControl, CompletesExactlyOncePerRunUnderStress) {
  EngineFixture f(PageOf({"ab@cd.ef", "tel 13812345678"}));
  f.form->SpinEdit1.SetValue(4);
  f.form->CheckBox3.SetChecked(true);
  std::atomic<bool> done{false};
  std::thread clicker([&] {
    while (!done.load()) {
      f.form->BitBtn1Click();
      (void)f.form->StatusBar1.Panel(1);
      std::this_thread::yield();
    }
  });
  constexpr int kRuns = 120;
  for (int run = 0; run < kRuns; ++run) {
    const int lines = run % 6;
    std::string list;
    for (int i = 0; i < lines; ++i) list += "http://h/" + std::to_string(i) + "\n";
    f.UseList(list);
    f.form->SpeedButton2Click();
    if (run % 3 == 1) f.form->SpeedButton3Click();
    ASSERT_TRUE(f.WaitForCompletedRuns(run + 1)) << run;
    EXPECT_EQ(f.form->Label6.Caption(), kEnded);
    if (run % 3 != 1) {
      EXPECT_EQ(f.form->SearchState.UrlCounter.load(), lines) << run;
      EXPECT_EQ(f.form->StatusBar1.Panel(1), lines ? "1" : "0") << run;
    }
  }
  done = true;
  clicker.join();
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), kRuns);
  ExpectIdleAfterRun(*f.form);
}

// Runs closed by hand at any moment, each followed at once by the next: no run's worker
// ever reaches a later run, and a final run still completes exactly once with its own data.
TEST(RunControl, ManualClosesAtAnyMomentLeaveNothingBehind) {
  EngineFixture f([](const std::string& url, qm::TPageLines& lines) {
    lines = {url.substr(0, url.find('/')) + "@ab.cd", "13812345678"};
    std::this_thread::yield();
    return true;
  });
  f.form->SpinEdit1.SetValue(4);
  f.form->CheckBox3.SetChecked(true);
  constexpr int kRuns = 60;
  for (int run = 0; run < kRuns; ++run) {
    std::string list;
    for (int i = 0; i < 40; ++i)
      list += "run" + std::to_string(run) + "x/" + std::to_string(i) + "\n";
    f.UseList(list);
    f.form->SpeedButton2Click();
    if (run % 2) f.form->SpeedButton3Click();
    f.form->Form3Close();
    EXPECT_EQ(f.form->Label6.Caption(), kEnded);
    EXPECT_TRUE(f.form->SpeedButton2.Enabled());
    EXPECT_EQ(f.form->SearchState.StartedWorkers.load(), 0);
  }
  const int64_t completedBefore = f.form->SearchState.CompletedRuns.load();
  f.UseList("last/1\nlast/2\nlast/3\n");
  f.form->SpeedButton2Click();
  ASSERT_TRUE(f.WaitForCompletedRuns(completedBefore + 1));
  ASSERT_TRUE(f.WaitForWorkersGone());
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), completedBefore + 1);
  EXPECT_EQ(f.form->StringGrid1.Snapshot(), std::vector<std::string>{"last@ab.cd"});
  EXPECT_EQ(f.form->SearchState.UrlCounter.load(), 3);
  EXPECT_EQ(f.form->StatusBar1.Panel(1), "1");
  EXPECT_EQ(f.form->StatusBar1.Panel(3), "1");
  ExpectIdleAfterRun(*f.form);
}

}  // namespace
}  // namespace qm
