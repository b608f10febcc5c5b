// The WeChat and telephone lists saved as the three are: after them in "save all", each
// from its own menu, as 微信N.txt and 电话N.txt, in the spreadsheet files when they hold
// rows, and from a result store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "persistence/export_fixture.h"
#include "persistence/export_results.h"
#include "persistence/stored_rows_export.h"
#include "store/result_store.h"

namespace qm {
namespace {

class LaterKindsExportTest : public test::ExportTest {
 protected:
  void FillThree() {
    form->StringGrid1.AppendResult("a@b.cn", "http://p/1");
    form->StringGrid2.AppendResult("13812345678", "http://p/2");
    form->StringGrid3.AcceptCandidate("12345", "@qq.com", "http://p/3");
  }
  void FillLater() {
    form->StringGrid4.AppendResult("kefu_01", "http://p/4");
    form->StringGrid4.AppendResult("13912345678", "http://p/4");
    form->StringGrid5.AppendResult("0755-23456789", "http://p/5");
  }
  std::vector<std::string> ProposedNames() {
    std::vector<std::string> names;
    for (const auto& shown : dialogs.History()) names.push_back(shown.FileOptions.FileName);
    return names;
  }
};

TEST_F(LaterKindsExportTest, SaveAllOffersThemAfterTheThreeAndEachMenuItsOwn) {
  FillThree();
  FillLater();
  for (int i = 0; i < 4; ++i) dialogs.AnswerSave(std::nullopt);
  dialogs.AnswerSave(dir.File("phones.txt"));
  form->SpeedButton5Click();
  EXPECT_EQ(ProposedNames(), (std::vector<std::string>{"电邮1.txt", "手机1.txt", "QQ邮1.txt",
                                                       "微信2.txt", "电话1.txt"}));
  EXPECT_EQ(test::TempDir::Read(dir.File("phones.txt")), "0755-23456789\r\n");

  dialogs.ClearHistory();
  dialogs.AnswerSave(dir.File("wechat.txt"));
  form->MenuItemWeChatClick();
  dialogs.AnswerSave(dir.File("tel.txt"));
  form->MenuItemPhoneClick();
  EXPECT_EQ(ProposedNames(), (std::vector<std::string>{"微信2.txt", "电话1.txt"}));
  EXPECT_EQ(test::TempDir::Read(dir.File("wechat.txt")), "kefu_01\r\n13912345678\r\n");
}

TEST_F(LaterKindsExportTest, SpreadsheetsHoldThemOnlyWhenTheyHaveRows) {
  FillThree();
  dialogs.AnswerSave(dir.File("three.xlsx"));
  form->SpeedButton5Click();
  const std::string three = test::TempDir::Read(dir.File("three.xlsx"));
  EXPECT_NE(three.find("xl/worksheets/sheet3.xml"), std::string::npos);
  EXPECT_EQ(three.find("xl/worksheets/sheet4.xml"), std::string::npos);

  FillLater();
  dialogs.AnswerSave(dir.File("five.xlsx"));
  form->SpeedButton5Click();
  EXPECT_NE(test::TempDir::Read(dir.File("five.xlsx")).find("xl/worksheets/sheet5.xml"),
            std::string::npos);
  dialogs.AnswerSave(dir.File("five.csv"));
  form->SpeedButton5Click();
  const std::string csv = test::TempDir::Read(dir.File("five.csv"));
  // A telephone number is kept as text, as digits-only rows are.
  for (const char* line : {"\r\n微信,kefu_01,http://p/4,", "\r\n微信,=\"13912345678\",http://p/4,",
                           "\r\n电话,=\"0755-23456789\",http://p/5,"}) {
    EXPECT_NE(csv.find(line), std::string::npos) << line << "\n" << csv;
  }
}

TEST(StoredLaterKindsExport, TextFilesAreNamedAsTheWindowNamesThem) {
  test::TempDir dir;
  const std::string path = dir.File("results.db");
  auto store = OpenSqliteStore(path);
  const int64_t run = store->BeginRun("list.txt", "", 0);
  store->Write({run,
                {},
                {{0, "a@b.cn", "http://p/1", "http://p/1", 1, 1700000000000},
                 {3, "kefu_01", "http://p/1", "http://p/1", 1, 1700000000000},
                 {4, "0755-23456789", "http://p/1", "http://p/1", 1, 1700000000000},
                 {4, "400-123-4567", "http://p/1", "http://p/1", 1, 1700000000000}},
                1});
  ExportStoredRows(*store, run, TStoredRowsFormat::Text, dir.File("out"));
  EXPECT_EQ(test::TempDir::Read(dir.File("out/电话2.txt")), "0755-23456789\r\n400-123-4567\r\n");
  EXPECT_EQ(test::TempDir::Read(dir.File("out/微信1.txt")), "kefu_01\r\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("out/电邮1.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out/手机0.txt")));
}

}  // namespace
}  // namespace qm
