// Saving result lists: the file bytes, the save commands of the main window and their dialogs.
#include "persistence/export_results.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/main_form.h"
#include "persistence/export_fixture.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "text/errors.h"
#include "text/line_split.h"

namespace qm {
namespace {

TEST(WriteListFile, WritesEveryRowWithCrLfAndNothingElse) {
  test::TempDir dir;
  struct Case {
    std::vector<std::string> rows;
    std::string bytes;
  };
  const Case cases[] = {
      {{"a@b.cn", "c@d.com", "e@f.net"}, "a@b.cn\r\nc@d.com\r\ne@f.net\r\n"},
      // Page bytes of code page 936 go out unconverted and without a byte-order mark.
      {{"\xC4\xE3\xBA\xC3@x.cn", "\xEF\xBB\xBFodd"},
       "\xC4\xE3\xBA\xC3@x.cn\r\n\xEF\xBB\xBFodd\r\n"},
      {{""}, ""},
      {{}, ""},
  };
  const std::string path = dir.Write("out.txt", std::string(4096, 'x'));  // replaced whole
  for (const auto& c : cases) {
    WriteListFile(path, c.rows);
    EXPECT_EQ(test::TempDir::Read(path), c.bytes);
  }
}

TEST(WriteListFile, ReportsCreateAndWriteFailures) {
  test::TempDir dir;
  const std::string missing = dir.File("no/such/dir.txt");
  try {
    WriteListFile(missing, {"a"});
    ADD_FAILURE() << "no create error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
  }
  try {
    WriteListFile("/dev/full", {"a", "b"});
    ADD_FAILURE() << "no write error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Disk full");
  }
}

TEST(WriteListFile, FailedWriteLeavesTheOldFileAndNoOther) {
  test::TempDir dir;
  const std::string path = dir.Write("电邮2.txt", "old@a.cn\r\nold@b.cn\r\n");
  // A file size limit makes the write fail half-way, as a full disk would.
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::vector<std::string> rows(1000, "someone@example.com");
  bool raised = false;
  try {
    WriteListFile(path, rows);
  } catch (const EInOutError&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, previousHandler);
  EXPECT_TRUE(raised);
  EXPECT_EQ(test::TempDir::Read(path), "old@a.cn\r\nold@b.cn\r\n");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"电邮2.txt"});

  WriteListFile(path, rows);
  EXPECT_EQ(std::filesystem::file_size(path), rows.size() * (rows[0].size() + 2));
}

using test::ExportTest;

TEST_F(ExportTest, AllEmptyShowsNoDialog) {
  form->SpeedButton5Click();
  EXPECT_TRUE(dialogs.History().empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(ExportTest, OnlyFilledListsAreOfferedFromTheProgramFolder) {
  form->StringGrid2.AppendResult("13800138000");
  form->StringGrid2.AppendResult("13900139000");
  dialogs.AnswerSave(dir.File("phones"));
  form->SpeedButton5Click();
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 1u);
  const auto& options = history[0].FileOptions;
  EXPECT_EQ(history[0].Kind, "save");
  EXPECT_EQ(options.Title, "搜索结果保存为");
  EXPECT_EQ(options.Filter,
            "Text files(*.txt)|*.txt|CSV UTF-8(*.csv)|*.csv|Excel workbook(*.xlsx)|*.xlsx|"
            "All files(*.*)|*.*");
  EXPECT_EQ(options.DefaultExtension, "txt");
  EXPECT_EQ(options.FileName, "手机2.txt");
  EXPECT_EQ(options.InitialDir, form->ProgramDirectory());
  EXPECT_TRUE(options.ConfirmOverwrite);
  EXPECT_EQ(test::TempDir::Read(dir.File("phones.txt")), "13800138000\r\n13900139000\r\n");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir.Path()));
}

TEST_F(ExportTest, CancelMovesOnToTheNextList) {
  form->StringGrid1.AppendResult("a@b.cn");
  form->StringGrid2.AppendResult("13800138000");
  for (const char* qq : {"10001", "10002", "10003"})
    form->StringGrid3.AcceptCandidate(qq, "@qq.com");
  dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(dir.File("qq.txt"));
  form->SpeedButton5Click();
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].FileOptions.FileName, "电邮1.txt");
  EXPECT_EQ(history[1].FileOptions.FileName, "手机1.txt");
  EXPECT_EQ(history[2].FileOptions.FileName, "QQ邮3.txt");
  EXPECT_EQ(test::TempDir::Read(dir.File("qq.txt")),
            "10001@qq.com\r\n10002@qq.com\r\n10003@qq.com\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(ExportTest, AFailingPathStopsTheRest) {
  form->StringGrid1.AppendResult("a@b.cn");
  form->StringGrid2.AppendResult("13800138000");
  const std::string bad = dir.File("gone/e.txt");
  dialogs.AnswerSave(bad);
  dialogs.AnswerSave(dir.File("m.txt"));
  try {
    form->SpeedButton5Click();
    ADD_FAILURE() << "no create error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + bad);
  }
  EXPECT_EQ(dialogs.History().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("m.txt")));
}

TEST_F(ExportTest, EachMenuItemSavesItsOwnList) {
  struct Case {
    void (TForm1::*click)();
    TResultList TForm1::*grid;
    std::string proposed;
  };
  const Case cases[] = {
      {&TForm1::N1Click, &TForm1::StringGrid1, "电邮2.txt"},
      {&TForm1::MenuItem1Click, &TForm1::StringGrid2, "手机2.txt"},
      {&TForm1::MenuItem2Click, &TForm1::StringGrid3, "QQ邮2.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proposed);
    TResultList& grid = (*form).*c.grid;
    grid.AppendResult("first");
    grid.AppendResult("second");
    dialogs.ClearHistory();
    dialogs.AnswerSave(dir.File("one.txt"));
    ((*form).*c.click)();
    const auto history = dialogs.History();
    ASSERT_EQ(history.size(), 1u) << "the other lists are empty, this one is not";
    EXPECT_EQ(history[0].FileOptions.FileName, c.proposed);
    EXPECT_EQ(test::TempDir::Read(dir.File("one.txt")), "first\r\nsecond\r\n");

    grid.Clear();
    ((*form).*c.click)();
    EXPECT_EQ(dialogs.History().size(), 1u) << "an empty list shows no dialog";
  }
}

// Four workers append while the list is saved: every file holds whole rows and, for each
// worker, an unbroken run from its first row, so no append was torn or split by the write.
TEST_F(ExportTest, SavesAConsistentListWhileWorkersAppend) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int n = 0; n < 100000 && !stop.load(std::memory_order_relaxed); ++n) {
        form->StringGrid1.AcceptCandidate("w" + std::to_string(w) + "-" + std::to_string(n) +
                                          "@example.com");
      }
    });
  }
  ASSERT_TRUE(test::WaitUntil([&] { return form->StringGrid1.EntryCount() > 20000; }));
  for (int round = 0; round < 3; ++round) {
    const std::string path = dir.File("round" + std::to_string(round) + ".txt");
    dialogs.AnswerSave(path);
    form->N1Click();
    const std::string bytes = test::TempDir::Read(path);
    ASSERT_TRUE(bytes.ends_with("\r\n"));
    std::vector<std::string> lines;
    SplitLines(bytes, lines);
    ASSERT_EQ(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')), lines.size());
    const auto offered = std::stoll(dialogs.History().back().FileOptions.FileName.substr(6));
    EXPECT_GE(static_cast<long long>(lines.size()), offered);
    std::vector<int> next(4, 0);
    for (const auto& line : lines) {
      ASSERT_TRUE(line.size() > 15 && line[0] == 'w' && line[2] == '-' &&
                  line.ends_with("@example.com"))
          << line;
      const int w = line[1] - '0';
      ASSERT_TRUE(w >= 0 && w < 4) << line;
      ASSERT_EQ(line.substr(3, line.size() - 15), std::to_string(next[w])) << line;
      ++next[w];
    }
  }
  stop = true;
  for (auto& t : workers) t.join();
}

}  // namespace
}  // namespace qm
