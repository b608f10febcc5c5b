#include <gtest/gtest.h>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(TForm1SpeedButton1Click, PutsTheChosenPathIntoEdit5AsItIs) {
  test::ScriptedDialogs dialogs;
  TForm1Environment environment;
  environment.ProgramPath = "/opt/Quill/qmharvest";
  environment.LocalAddress = [] { return std::string(); };
  TForm1 form(dialogs, std::move(environment));
  form.Edit5.SetText("/old/list.txt");
  dialogs.AnswerOpen(std::nullopt);
  form.SpeedButton1Click();
  EXPECT_EQ(form.Edit5.Text(), "/old/list.txt");

  // Capitals stay: on this file system a lower-cased path would name another file.
  dialogs.AnswerOpen("/Home/Lists/网址.TXT");
  form.SpeedButton1Click();
  EXPECT_EQ(form.Edit5.Text(), "/Home/Lists/网址.TXT");

  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 2u);
  const auto& options = history[0].FileOptions;
  EXPECT_EQ(history[0].Kind, "open");
  EXPECT_EQ(options.Title, "选择网址列表文件");
  EXPECT_EQ(options.Filter, "Text files(*.txt)|*.txt|All files(*.*)|*.*");
  EXPECT_EQ(options.DefaultExtension, "txt");
  EXPECT_EQ(options.InitialDir, "/opt/Quill/");
}

TEST(TForm1SpeedButton1Click, InstalledProgramOpensTheChooserInTheHomeFolder) {
  test::TempDir home;
  const std::string homePath = home.Path().string();
  test::ScriptedDialogs dialogs;
  TForm1Environment environment;
  environment.ProgramPath = "/usr/bin/qmharvest";
  environment.LocalAddress = [] { return std::string(); };
  environment.Environment = [&homePath](const char* name) -> const char* {
    return std::string_view(name) == "HOME" ? homePath.c_str() : nullptr;
  };
  environment.DirectoryWritable = [](const std::string&) { return false; };
  TForm1 form(dialogs, std::move(environment));
  form.FormCreate();
  form.SpeedButton1Click();
  ASSERT_EQ(dialogs.History().size(), 1u);
  EXPECT_EQ(dialogs.History()[0].FileOptions.InitialDir, homePath + "/");
}

}  // namespace
}  // namespace qm
