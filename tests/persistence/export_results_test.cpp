#include "persistence/export_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "text/errors.h"
#include "text/line_split.h"

namespace qm {
namespace {

TEST(ProposedExportName, IsPrefixCountAndTxt) {
  EXPECT_EQ(ProposedExportName(kEmailExportPrefix, 57), "电邮57.txt");
  EXPECT_EQ(ProposedExportName(kMobileExportPrefix, 3), "手机3.txt");
  EXPECT_EQ(ProposedExportName(kQQExportPrefix, 1), "QQ邮1.txt");
}

TEST(WriteListFile, WritesEveryRowWithCrLfAndNothingElse) {
  test::TempDir dir;
  struct Case {
    std::vector<std::string> rows;
    std::string bytes;
  };
  const Case cases[] = {
      {{"a@b.cn", "c@d.com", "e@f.net"}, "a@b.cn\r\nc@d.com\r\ne@f.net\r\n"},
      {{"12345@qq.com"}, "12345@qq.com\r\n"},
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

class ExportTest : public testing::Test {
 protected:
  ExportTest() : previousDirectory(std::filesystem::current_path()) {}
  ~ExportTest() override { std::filesystem::current_path(previousDirectory); }

  void SaveAll() { SaveAllResultLists(emails, mobiles, qq, dialogs, programDirectory); }

  std::filesystem::path previousDirectory;
  test::TempDir dir;
  std::string programDirectory = dir.Path().string() + "/";
  test::ScriptedDialogs dialogs;
  ui::ChangeNotifier changes;
  TResultList emails{changes}, mobiles{changes}, qq{changes};
};

TEST_F(ExportTest, AllEmptyShowsNoDialog) {
  SaveAll();
  EXPECT_TRUE(dialogs.History().empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(ExportTest, OnlyFilledListsAreOfferedWithTheirNames) {
  mobiles.AppendResult("13800138000");
  mobiles.AppendResult("13900139000");
  dialogs.AnswerSave(dir.File("phones"));
  SaveAll();
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 1u);
  const auto& options = history[0].FileOptions;
  EXPECT_EQ(history[0].Kind, "save");
  EXPECT_EQ(options.Title, "搜索结果保存为");
  EXPECT_EQ(options.Filter, "Text files(*.txt)|*.txt|All files(*.*)|*.*");
  EXPECT_EQ(options.DefaultExtension, "txt");
  EXPECT_EQ(options.FileName, "手机2.txt");
  EXPECT_EQ(options.InitialDir, programDirectory);
  EXPECT_TRUE(options.ConfirmOverwrite);
  EXPECT_EQ(test::TempDir::Read(dir.File("phones.txt")), "13800138000\r\n13900139000\r\n");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir.Path()));
}

TEST_F(ExportTest, CancelMovesOnToTheNextList) {
  emails.AppendResult("a@b.cn");
  mobiles.AppendResult("13800138000");
  qq.AcceptCandidate("10001", "@qq.com");
  qq.AcceptCandidate("10002", "@qq.com");
  qq.AcceptCandidate("10003", "@qq.com");
  dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(dir.File("qq.txt"));
  SaveAll();
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
  emails.AppendResult("a@b.cn");
  mobiles.AppendResult("13800138000");
  qq.AppendResult("10001@qq.com");
  const std::string bad = dir.File("gone/e.txt");
  dialogs.AnswerSave(bad);
  dialogs.AnswerSave(dir.File("m.txt"));
  try {
    SaveAll();
    ADD_FAILURE() << "no create error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + bad);
  }
  EXPECT_EQ(dialogs.History().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("m.txt")));
}

TEST_F(ExportTest, OneListSaveSkipsAnEmptyList) {
  EXPECT_FALSE(SaveResultList(qq, kQQExportPrefix, dialogs, programDirectory));
  EXPECT_TRUE(dialogs.History().empty());
  emails.AppendResult("x@y.cn");
  dialogs.AnswerSave(dir.File("one.txt"));
  EXPECT_TRUE(SaveResultList(emails, kEmailExportPrefix, dialogs, programDirectory));
  EXPECT_EQ(test::TempDir::Read(dir.File("one.txt")), "x@y.cn\r\n");
}

// Four workers append while lists are saved: every file holds whole rows, and for each worker
// an unbroken run from its first row, so no append was torn or interleaved with the write.
TEST_F(ExportTest, SavesAConsistentSnapshotWhileWorkersAppend) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int n = 0; n < 100000 && !stop.load(std::memory_order_relaxed); ++n) {
        emails.AcceptCandidate("w" + std::to_string(w) + "-" + std::to_string(n) + "@example.com");
      }
    });
  }
  ASSERT_TRUE(test::WaitUntil([&] { return emails.EntryCount() > 20000; }));
  for (int round = 0; round < 3; ++round) {
    const std::string path = dir.File("round" + std::to_string(round) + ".txt");
    dialogs.AnswerSave(path);
    ASSERT_TRUE(SaveResultList(emails, kEmailExportPrefix, dialogs, programDirectory));
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
