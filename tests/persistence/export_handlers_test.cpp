// The main window's save commands: the save-all button and the grids' menu items.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class ExportHandlersTest : public testing::Test {
 protected:
  ExportHandlersTest() : previousDirectory(std::filesystem::current_path()) {
    TForm1Environment environment;
    environment.ProgramPath = dir.File("qmharvest");
    environment.LocalAddress = [] { return std::string("192.0.2.1"); };
    form = std::make_unique<TForm1>(dialogs, std::move(environment));
  }
  ~ExportHandlersTest() override {
    form.reset();
    std::filesystem::current_path(previousDirectory);
  }

  std::filesystem::path previousDirectory;
  test::TempDir dir;
  test::ScriptedDialogs dialogs;
  std::unique_ptr<TForm1> form;
};

TEST_F(ExportHandlersTest, SaveAllOffersEachFilledListFromTheProgramFolder) {
  form->StringGrid1.AppendResult("a@b.cn");
  form->StringGrid3.AcceptCandidate("10001", "@qq.com");
  form->StringGrid3.AcceptCandidate("10002", "@qq.com");
  dialogs.AnswerSave(dir.File("mail.txt"));
  dialogs.AnswerSave(dir.File("qq"));
  form->SpeedButton5Click();

  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].FileOptions.FileName, "电邮1.txt");
  EXPECT_EQ(history[1].FileOptions.FileName, "QQ邮2.txt");
  for (const auto& shown : history)
    EXPECT_EQ(shown.FileOptions.InitialDir, form->ProgramDirectory());
  EXPECT_EQ(test::TempDir::Read(dir.File("mail.txt")), "a@b.cn\r\n");
  EXPECT_EQ(test::TempDir::Read(dir.File("qq.txt")), "10001@qq.com\r\n10002@qq.com\r\n");
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), dir.Path()));
}

TEST_F(ExportHandlersTest, EachMenuItemSavesItsOwnList) {
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
    for (auto grid : {&TForm1::StringGrid1, &TForm1::StringGrid2, &TForm1::StringGrid3}) {
      ((*form).*grid).Clear();
    }
    ((*form).*c.grid).AppendResult("first");
    ((*form).*c.grid).AppendResult("second");
    dialogs.ClearHistory();
    dialogs.AnswerSave(dir.File("one.txt"));
    ((*form).*c.click)();
    const auto history = dialogs.History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].FileOptions.FileName, c.proposed);
    EXPECT_EQ(test::TempDir::Read(dir.File("one.txt")), "first\r\nsecond\r\n");

    ((*form).*c.grid).Clear();
    ((*form).*c.click)();
    EXPECT_EQ(dialogs.History().size(), 1u) << "an empty list shows no dialog";
  }
}

}  // namespace
}  // namespace qm
