// Resuming a saved search: the checks before, the question, the skipping and the run after.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "form_harness.h"
#include "support/nginx_fixture.h"
#include "text/errors.h"

namespace qm {
namespace {

using test::FormHarness;

struct Buttons {
  bool search, stop, resume;
  bool operator==(const Buttons&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Buttons& b) {
  return out << "search " << b.search << ", stop " << b.stop << ", continue " << b.resume;
}
Buttons ButtonsOf(const TForm1& form) {
  return {form.SpeedButton2.Enabled(), form.SpeedButton3.Enabled(), form.SpeedButton4.Enabled()};
}

constexpr Buttons kIdle{true, false, true};
constexpr Buttons kRunning{false, true, false};

// A window with a saved search of `lines` lines at `process`, and the list file.
struct Saved {
  explicit Saved(int lines, int process = 0, int threads = 1) {
    list = h.WriteList(lines);
    h.WriteSettings(list, process, lines, threads);
  }
  FormHarness h;
  std::string list;
};

struct PositionRow {
  int lines;
  const char* entered;
  int firstLine;             // the first line fetched; 0 when none is
  const char* firstCounter;  // Label5 while that line is fetched
};

TEST(SpeedButton4Click, SkipsToTheEnteredPosition) {
  const std::vector<PositionRow> rows = {
      {100, "57", 58, "58"},
      {100, "0", 2, "1"},
      {100, "1", 2, "2"},
      {100, "-5", 2, "-4"},
      {100, "2", 3, "3"},
      {100, "99", 100, "100"},
      {100, "0x10", 17, "17"},
      {100, " 3", 4, "4"},
      {100, "100", 0, ""},
      {100, "101", 0, ""},
      {100, "2147483647", 0, ""},
      {1, "0", 0, ""},
      {1, "-1", 0, ""},
      {1, "5", 0, ""},
      {0, "0", 0, ""},
  };
  for (const PositionRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.lines) + " lines, position " + row.entered);
    Saved s(row.lines, 57);
    // One page at a time, so pages are asked for in list order, and only the listed pages;
    // resuming reads both from the file.
    s.h.dir.Write(s.h.SettingsName(),
                  test::TempDir::Read(s.h.SettingsPath()) + "inflight=1\r\ndepth=0\r\n");
    TForm1& form = s.h.Create();
    s.h.dialogs.AnswerInput(row.entered);
    form.SpeedButton4Click();
    if (row.firstLine == 0) {
      EXPECT_EQ(form.Label6.Caption(), "网址列表搜索完毕...");
      EXPECT_EQ(ButtonsOf(form), kIdle);
      EXPECT_EQ(form.SearchState.StartedWorkers.load(), 0);
      EXPECT_TRUE(s.h.Fetches().empty());
      continue;
    }
    ASSERT_TRUE(s.h.WaitForCompletedRuns(1));
    const auto fetches = s.h.Fetches();
    ASSERT_EQ(fetches.size(), static_cast<size_t>(row.lines - row.firstLine + 1));
    EXPECT_EQ(fetches.front().Url, FormHarness::LineUrl(row.firstLine));
    EXPECT_EQ(fetches.front().Label5, row.firstCounter);
    EXPECT_EQ(fetches.front().Label6, "继续搜索...");
    const auto& first = fetches.front();
    EXPECT_EQ((Buttons{first.SearchEnabled, first.StopEnabled, first.ResumeEnabled}), kRunning);
    EXPECT_EQ(fetches.back().Url, FormHarness::LineUrl(row.lines));
  }
}

TEST(SpeedButton4Click, AsksWithTheSavedPositionAndCancelKeepsTheLists) {
  Saved s(100, 57, 2);
  TForm1& form = s.h.Create();
  form.StringGrid1.AppendResult("a@b.cn");
  form.StringGrid2.AppendResult("13812345678");
  form.StringGrid3.AppendResult("12345@qq.com");
  form.StatusBar1.SetPanel(1, "1");
  form.SpinEdit1.SetValue(4);
  form.CheckBox2.SetChecked(false);
  form.Edit5.SetText("/elsewhere.txt");
  form.SearchState.UrlCounter.store(3);
  s.h.dialogs.AnswerInput(std::nullopt);
  form.SpeedButton4Click();

  const auto history = s.h.dialogs.History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].Kind, "pause");
  EXPECT_EQ(history[1].Kind, "input");
  EXPECT_EQ(history[1].InputCaption, "继续搜索提示");
  EXPECT_EQ(history[1].Text, "请输入您上次搜索断点位置");
  EXPECT_EQ(history[1].InputInitial, "57");
  // Cancel: the lists, the counts and the restored values stay.
  EXPECT_EQ(form.Label6.Caption(), "取消继续搜索...");
  EXPECT_EQ(ButtonsOf(form), kIdle);
  EXPECT_EQ(form.StringGrid1.Snapshot(), std::vector<std::string>{"a@b.cn"});
  EXPECT_EQ(form.StringGrid2.Snapshot(), std::vector<std::string>{"13812345678"});
  EXPECT_EQ(form.StringGrid3.Snapshot(), std::vector<std::string>{"12345@qq.com"});
  EXPECT_EQ(form.StatusBar1.Panel(1), "1");
  EXPECT_EQ(form.SearchState.UrlCounter.load(), 57);
  EXPECT_EQ(form.Edit5.Text(), s.list);
  EXPECT_EQ(form.SpinEdit1.Text(), "2");
  EXPECT_TRUE(form.CheckBox2.Checked());
  EXPECT_TRUE(form.CheckBox4.Checked());
  EXPECT_EQ(form.Label4.Caption(), "100");
  EXPECT_EQ(form.Label5.Caption(), "");
  EXPECT_TRUE(s.h.Fetches().empty());
}

TEST(SpeedButton4Click, NonIntegerPositionRaisesAndLeavesTheRunningButtons) {
  Saved s(10, 4);
  TForm1& form = s.h.Create();
  form.StringGrid1.AppendResult("a@b.cn");
  s.h.dialogs.AnswerInput("12abc");
  try {
    form.SpeedButton4Click();
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'12abc' is not a valid integer value");
  }
  EXPECT_EQ(ButtonsOf(form), kRunning);
  EXPECT_EQ(form.SearchState.UrlCounter.load(), 4);
  EXPECT_EQ(form.Label6.Caption(), "开始搜索...");
  EXPECT_EQ(form.SearchState.StartedWorkers.load(), 0);
  EXPECT_EQ(form.StringGrid1.EntryCount(), 1);
}

TEST(SpeedButton4Click, StopsEarlyWithItsMessages) {
  {
    SCOPED_TRACE("no saved search");
    FormHarness h;
    TForm1& form = h.Create();
    form.Edit5.SetText("/x.txt");
    form.SpeedButton4Click();
    EXPECT_EQ(h.dialogs.Kinds(), std::vector<std::string>{"message"});
    EXPECT_EQ(h.dialogs.Messages(), std::vector<std::string>{"您还没有搜索或上次搜索没有保存！"});
    EXPECT_EQ(form.Edit5.Text(), "/x.txt");
  }
  {
    SCOPED_TRACE("list file gone");
    Saved s(5, 2);
    std::filesystem::remove(s.list);
    TForm1& form = s.h.Create();
    form.SearchState.UrlCounter.store(0);
    form.Label6.SetCaption("before");
    form.SpeedButton4Click();
    EXPECT_EQ(s.h.dialogs.Kinds(), std::vector<std::string>{"information"});
    EXPECT_EQ(s.h.dialogs.Messages(), std::vector<std::string>{"网址列表文件不存在!"});
    EXPECT_EQ(form.SearchState.UrlCounter.load(), 2);  // restored before the check
    EXPECT_EQ(form.Label6.Caption(), "before");
    EXPECT_EQ(ButtonsOf(form), (Buttons{true, true, true}));
  }
  {
    SCOPED_TRACE("offline");
    Saved s(5, 2);
    s.h.localAddress = "127.0.0.1";
    TForm1& form = s.h.Create();
    form.SpeedButton4Click();
    EXPECT_EQ(s.h.dialogs.Messages(), std::vector<std::string>{"您还没有连接到网上!"});
    EXPECT_EQ(s.h.dialogs.Kinds(), std::vector<std::string>{"information"});
  }
  {
    SCOPED_TRACE("failed address lookup goes on");
    Saved s(5, 2);
    s.h.localAddress = "";
    TForm1& form = s.h.Create();
    s.h.dialogs.AnswerInput(std::nullopt);
    form.SpeedButton4Click();
    EXPECT_EQ(s.h.dialogs.Kinds(), std::vector<std::string>{"input"});
  }
}

TEST(SpeedButton4Click, UsesTheResumeDefaults) {
  FormHarness h;
  const std::string list = h.WriteList(3);
  h.dir.Write(h.SettingsName(), "[config]\r\nurladd=" + list + "\r\n");
  TForm1& form = h.Create();
  EXPECT_TRUE(form.CheckBox2.Checked());  // creation default
  h.dialogs.AnswerInput(std::nullopt);
  form.SpeedButton4Click();
  EXPECT_FALSE(form.CheckBox2.Checked());  // resume default
}

// The saved search is looked for under the program's own settings file name.
TEST(SpeedButton4Click, RenamedProgramFindsItsOwnSavedSearch) {
  {
    FormHarness h("harvest2");
    const std::string list = h.WriteList(3);
    h.WriteSettings(list, 1, 3);
    ASSERT_EQ(h.SettingsName(), "harvest2.ini");
    TForm1& form = h.Create();
    h.dialogs.AnswerInput(std::nullopt);
    form.SpeedButton4Click();
    EXPECT_EQ(h.dialogs.Kinds(), std::vector<std::string>{"input"});
  }
  {
    FormHarness h("harvest2");
    const std::string list = h.WriteList(3);
    h.dir.Write("qmharvest.ini", "[config]\r\nurladd=" + list + "\r\n");
    TForm1& form = h.Create();
    form.SpeedButton4Click();
    EXPECT_EQ(h.dialogs.Messages(), std::vector<std::string>{"您还没有搜索或上次搜索没有保存！"});
  }
}

TEST(SpeedButton4Click, ResumedRunCompletesAndSavesItsProgress) {
  Saved s(6, 2, 3);
  TForm1& form = s.h.Create();
  form.StatusBar1.SetPanel(3, "7");
  form.StringGrid2.AppendResult("13812345678");
  s.h.dialogs.AnswerInput("3");
  form.SpeedButton4Click();
  EXPECT_EQ(form.StatusBar1.Panel(3), "0");
  EXPECT_EQ(form.StringGrid2.EntryCount(), 0);
  ASSERT_TRUE(s.h.WaitForCompletedRuns(1));
  EXPECT_EQ(s.h.Fetches().size(), 3u);
  EXPECT_EQ(form.SearchState.UrlCounter.load(), 6);
  EXPECT_EQ(ReadSettingsFile(s.h.SettingsPath(), ResumeDefaults()).Process, 6);
}

// A resumed search saves no position before the one it was resumed from: not when the list
// ends before that position, nor when the run is stopped before any line of it is searched.
TEST(SpeedButton4Click, SavesNoPositionBeforeTheOneResumedFrom) {
  const struct {
    const char* name;
    int lines;
    int depth;
    bool stopped;
  } rows[] = {
      {"list ends before the position", 100, 1, false},
      {"stopped on its first pages, listed pages only", 300, 0, true},
      {"stopped on its first pages, links followed", 300, 1, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // Every page waits until the search has been stopped, then fails.
    std::atomic<bool> fetching{false}, released{false};
    Saved s(row.lines, 150);
    s.h.dir.Write(s.h.SettingsName(), test::TempDir::Read(s.h.SettingsPath()) +
                                          "depth=" + std::to_string(row.depth) + "\r\n");
    s.h.fetchOverride = [&](const std::string&, TPageLines& lines) {
      lines.clear();
      fetching = true;
      test::WaitUntil([&] { return released.load(); });
      return false;
    };
    TForm1& form = s.h.Create();
    s.h.dialogs.AnswerInput("150");
    form.SpeedButton4Click();
    if (row.stopped) {
      ASSERT_TRUE(test::WaitUntil([&] { return fetching.load(); }));
      form.SpeedButton3Click();
      released = true;
      ASSERT_TRUE(s.h.WaitForCompletedRuns(1));
    } else {
      EXPECT_EQ(form.Label6.Caption(), "网址列表搜索完毕...");
      form.SpeedButton7Click();
    }
    EXPECT_GE(ReadSettingsFile(s.h.SettingsPath(), ResumeDefaults()).Process, 150);
    released = true;
  }
}

// Against a real server: only the pages after the resume position are harvested.
TEST(SpeedButton4Click, HarvestsOnlyThePagesAfterThePosition) {
  test::NginxServer nginx;
  FormHarness h;
  std::string list;
  for (int i = 1; i <= 4; ++i) {
    nginx.WriteFile("p" + std::to_string(i) + ".html",
                    "<p>mail user" + std::to_string(i) + "@example.cn</p>\n");
    list += nginx.Url("p" + std::to_string(i) + ".html") + " page " + std::to_string(i) + "\r\n";
  }
  const std::string listPath = h.dir.Write("list.txt", list);
  h.WriteSettings(listPath, 2, 4, 2);
  TForm1Environment environment;
  environment.ProgramPath = h.dir.File("qmharvest");
  environment.LocalAddress = [] { return "192.0.2.7"; };
  TForm1 form(h.dialogs, std::move(environment));
  form.FormCreate();
  h.dialogs.AnswerInput(std::nullopt);
  h.dialogs.AnswerInput("2");
  form.SpeedButton4Click();  // cancelled
  form.SpeedButton4Click();
  ASSERT_TRUE(test::WaitUntil([&] { return form.SearchState.CompletedRuns.load() >= 1; }));
  auto rows = form.StringGrid1.Snapshot();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"user3@example.cn", "user4@example.cn"}));
}

}  // namespace
}  // namespace qm
