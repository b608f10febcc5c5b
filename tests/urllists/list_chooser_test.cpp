#include "urllists/list_chooser.h"

#include <gtest/gtest.h>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"

namespace qm {
namespace {

TEST(ChooseUrlList, StartsInTheProgramFolderAndKeepsTheLetterCase) {
  test::ScriptedDialogs dialogs;
  dialogs.AnswerOpen("/Data/Lists/BBS.TXT");
  dialogs.AnswerOpen("/data/Forum");
  dialogs.AnswerOpen(std::nullopt);
  EXPECT_EQ(ChooseUrlList(dialogs, "/opt/qm/"), "/Data/Lists/BBS.TXT");
  EXPECT_EQ(ChooseUrlList(dialogs, "/opt/qm/"), "/data/Forum.txt");
  EXPECT_EQ(ChooseUrlList(dialogs, "/opt/qm/"), std::nullopt);
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 3u);
  const auto& options = history[0].FileOptions;
  EXPECT_EQ(history[0].Kind, "open");
  EXPECT_EQ(options.Title, "选择网址列表文件");
  EXPECT_EQ(options.Filter, "Text files(*.txt)|*.txt|All files(*.*)|*.*");
  EXPECT_EQ(options.DefaultExtension, "txt");
  EXPECT_EQ(options.InitialDir, "/opt/qm/");
}

TEST(TForm1SpeedButton1Click, PutsTheChosenPathIntoEdit5) {
  test::ScriptedDialogs dialogs;
  TForm1Environment environment;
  environment.ProgramPath = "/opt/Quill/qmharvest";
  environment.LocalAddress = [] { return std::string(); };
  TForm1 form(dialogs, std::move(environment));
  form.Edit5.SetText("/old/list.txt");
  dialogs.AnswerOpen(std::nullopt);
  form.SpeedButton1Click();
  EXPECT_EQ(form.Edit5.Text(), "/old/list.txt");
  dialogs.AnswerOpen("/Home/Lists/网址.TXT");
  form.SpeedButton1Click();
  EXPECT_EQ(form.Edit5.Text(), "/Home/Lists/网址.TXT");
  EXPECT_EQ(dialogs.History().back().FileOptions.InitialDir, "/opt/Quill/");
}

}  // namespace
}  // namespace qm
