#include "urllists/generator_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "text/errors.h"

namespace qm {
namespace {

class GeneratorTest : public testing::Test {
 protected:
  std::string Run(void (TbbsForm::*click)(), const std::string& name = "list.txt") {
    const std::string path = dir.File(name);
    dialogs.AnswerSave(path);
    (form.*click)();
    return test::TempDir::Read(path);
  }

  test::TempDir dir;
  test::ScriptedDialogs dialogs;
  TbbsForm form{dialogs};
};

TEST_F(GeneratorTest, StartsWithTheInitialTexts) {
  EXPECT_EQ(form.Edit1.Text(), "http://");
  EXPECT_EQ(form.Edit2.Text(), "0");
  EXPECT_EQ(form.Edit3.Text(), "");
  EXPECT_EQ(form.Edit12.Text(), "1");
  EXPECT_EQ(form.Edit5.Text(), "http://");
  EXPECT_EQ(form.Edit6.Text(), "0");
  EXPECT_EQ(form.Edit10.Text(), "0");
  for (auto* edit : {&form.Edit4, &form.Edit7, &form.Edit8, &form.Edit9, &form.Edit11}) {
    EXPECT_EQ(edit->Text(), "");
  }
  EXPECT_EQ(form.Label2.Caption(), "");
  EXPECT_EQ(form.Label7.Caption(), "页面总数");
}

TEST_F(GeneratorTest, OneCounterWritesEveryValueTimesTheMultiplier) {
  struct Case {
    std::string prefix, start, end, suffix, multiplier;
    std::string bytes;
    std::string label;
  };
  const Case cases[] = {
      {"p", "5", "5", "", "1", "p5\r\n", "1"},
      {"p", "1", "3", "", "20", "p20\r\np40\r\np60\r\n", "3"},
      {"", "3", "4", "", "10", "30\r\n40\r\n", "2"},
      {"n", "-2", "0", ".htm", "1", "n-2.htm\r\nn-1.htm\r\nn0.htm\r\n", "3"},
      {"z", "1", "3", "", "0", "z0\r\nz0\r\nz0\r\n", "3"},
      {"m", "1", "2", "", "-3", "m-3\r\nm-6\r\n", "2"},
      {"h", "$10", "0x11", "", "1", "h16\r\nh17\r\n", "2"},
      // Fields are written exactly as typed; the reader cuts the line at the blank.
      {"http://a b/", "1", "1", " x", "1", "http://a b/1 x\r\n", "1"},
      {"http://论坛/", "7", "7", "页", "1", "http://\xC2\xDB\xCC\xB3/7\xD2\xB3\r\n", "1"},
      // The range ends although its end is the largest counter; the product is exact.
      {"", "2147483645", "2147483647", "", "1", "2147483645\r\n2147483646\r\n2147483647\r\n", "3"},
      {"", "2147483646", "2147483647", "", "4", "8589934584\r\n8589934588\r\n", "2"},
      {"", "-2147483648", "-2147483647", "", "-2147483648",
       "4611686018427387904\r\n4611686016279904256\r\n", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix + " " + c.start + ".." + c.end + " x" + c.multiplier);
    form.Label2.SetCaption("before");
    form.Edit1.SetText(c.prefix);
    form.Edit2.SetText(c.start);
    form.Edit3.SetText(c.end);
    form.Edit4.SetText(c.suffix);
    form.Edit12.SetText(c.multiplier);
    EXPECT_EQ(Run(&TbbsForm::SpeedButton1Click), c.bytes);
    EXPECT_EQ(form.Label2.Caption(), c.label);
  }
}

TEST_F(GeneratorTest, TwoCountersAdvanceTogetherOverTheFirstRange) {
  struct Case {
    std::string front, start, end, middle, secondStart, secondEnd, back;
    std::string bytes;
  };
  const Case cases[] = {
      {"a", "1", "3", "m", "10", "", "", "a1m10\r\na2m11\r\na3m12\r\n"},
      // The second counter's end is never read, whatever it holds.
      {"t", "0", "2", "-", "5", "not a number", ".html", "t0-5.html\r\nt1-6.html\r\nt2-7.html\r\n"},
      {"", "-1", "-1", "/", "-5", "0", "", "-1/-5\r\n"},
      {"", "2147483646", "2147483647", "_", "2147483647", "", "",
       "2147483646_2147483647\r\n2147483647_2147483648\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.front + c.start + c.middle + c.secondStart);
    form.Edit5.SetText(c.front);
    form.Edit6.SetText(c.start);
    form.Edit7.SetText(c.end);
    form.Edit9.SetText(c.middle);
    form.Edit10.SetText(c.secondStart);
    form.Edit11.SetText(c.secondEnd);
    form.Edit8.SetText(c.back);
    form.Edit12.SetText("100");  // applies to the one-counter form only
    const std::string bytes = Run(&TbbsForm::SpeedButton2Click);
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(form.Label7.Caption(), std::to_string(std::count(bytes.begin(), bytes.end(), '\n')));
  }
}

TEST_F(GeneratorTest, EndBeforeStartLeavesAnEmptyFileAndTheLabels) {
  form.Edit2.SetText("7");
  form.Edit3.SetText("3");
  form.Edit12.SetText("never read");
  form.Label2.SetCaption("12");
  const std::string path = dir.Write("old.txt", "old content\r\n");
  dialogs.AnswerSave(path);
  form.SpeedButton1Click();
  EXPECT_EQ(test::TempDir::Read(path), "");
  EXPECT_EQ(form.Label2.Caption(), "12");

  form.Edit6.SetText("0");
  form.Edit7.SetText("-1");
  EXPECT_EQ(Run(&TbbsForm::SpeedButton2Click), "");
  EXPECT_EQ(form.Label7.Caption(), "页面总数");
}

TEST_F(GeneratorTest, ABadNumberLeavesAnExistingFileAsItWas) {
  struct Case {
    void (TbbsForm::*click)();
    ui::TEditModel TbbsForm::*field;
    std::string text;
  };
  const Case cases[] = {
      {&TbbsForm::SpeedButton1Click, &TbbsForm::Edit2, "1O"},
      {&TbbsForm::SpeedButton1Click, &TbbsForm::Edit3, ""},
      {&TbbsForm::SpeedButton1Click, &TbbsForm::Edit12, "2x"},
      {&TbbsForm::SpeedButton1Click, &TbbsForm::Edit3, "2147483648"},
      {&TbbsForm::SpeedButton2Click, &TbbsForm::Edit10, " "},
      {&TbbsForm::SpeedButton2Click, &TbbsForm::Edit6, "abc"},
      {&TbbsForm::SpeedButton2Click, &TbbsForm::Edit7, "9 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TbbsForm fresh(dialogs);
    fresh.Edit3.SetText("5");
    fresh.Edit7.SetText("5");
    (fresh.*c.field).SetText(c.text);
    const std::string path = dir.Write("keep.txt", "kept\r\n");
    dialogs.AnswerSave(path);
    try {
      (fresh.*c.click)();
      ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
    }
    EXPECT_EQ(test::TempDir::Read(path), "kept\r\n");
    EXPECT_EQ(fresh.Label2.Caption(), "");
    EXPECT_EQ(fresh.Label7.Caption(), "页面总数");
  }
}

TEST_F(GeneratorTest, InitialFieldsStopAtTheEmptyEndCount) {
  for (auto click : {&TbbsForm::SpeedButton1Click, &TbbsForm::SpeedButton2Click}) {
    dialogs.AnswerSave(dir.File("new.txt"));
    EXPECT_THROW((form.*click)(), EConvertError);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.txt")));
  }
}

TEST_F(GeneratorTest, CancelCreatesNothing) {
  form.Edit3.SetText("3");
  form.SpeedButton1Click();
  form.SpeedButton2Click();
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  EXPECT_EQ(form.Label2.Caption(), "");
  EXPECT_EQ(form.SaveDialogFileName(), "");
}

TEST_F(GeneratorTest, SaveDialogOffersTheLastChosenName) {
  form.Edit3.SetText("0");
  form.Edit7.SetText("0");
  Run(&TbbsForm::SpeedButton1Click, "first");  // the default extension is the dialog's job
  Run(&TbbsForm::SpeedButton2Click, "second.txt");
  const auto history = dialogs.History();
  ASSERT_EQ(history.size(), 2u);
  for (const auto& shown : history) {
    EXPECT_EQ(shown.Kind, "save");
    EXPECT_EQ(shown.FileOptions.Title, "BBS页面地址列表");
    EXPECT_EQ(shown.FileOptions.Filter, "Text files|*.txt|All files|*.*");
    EXPECT_EQ(shown.FileOptions.DefaultExtension, "txt");
    EXPECT_TRUE(shown.FileOptions.ConfirmOverwrite);
  }
  EXPECT_EQ(history[0].FileOptions.FileName, "");
  EXPECT_EQ(history[1].FileOptions.FileName, dir.File("first.txt"));
  EXPECT_EQ(form.SaveDialogFileName(), dir.File("second.txt"));
}

// Answers every save dialog with one path, taken as it is.
class FixedPathDialogs : public test::ScriptedDialogs {
 public:
  std::string Path;
  std::optional<std::string> SaveFile(const ui::FileDialogOptions&) override { return Path; }
};

TEST(GeneratorFileErrors, CarryTheRunTimeText) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.Path() / "folder");
  const std::string plainFile = dir.Write("plain", "");
  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {dir.File("missing/list.txt"), "File not found"},
      {dir.File("folder"), "File access denied"},
      {plainFile + "/list.txt", "Invalid filename"},
      {"/dev/full", "Disk full"},
  };
  FixedPathDialogs dialogs;
  TbbsForm form(dialogs);
  form.Edit3.SetText("3");
  form.Edit7.SetText("3");
  for (const auto& c : cases) {
    for (auto click : {&TbbsForm::SpeedButton1Click, &TbbsForm::SpeedButton2Click}) {
      SCOPED_TRACE(c.path);
      dialogs.Path = c.path;
      try {
        (form.*click)();
        ADD_FAILURE() << "no file error";
      } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
      }
    }
  }
  EXPECT_EQ(form.Label2.Caption(), "");
  EXPECT_EQ(form.Label7.Caption(), "页面总数");
}

TEST_F(GeneratorTest, LongListsArriveWholeAcrossWritePieces) {
  form.Edit1.SetText("http://bbs.example/thread-");
  form.Edit2.SetText("-50000");
  form.Edit3.SetText("149999");
  form.Edit4.SetText("-1.html");
  std::string expected;
  for (int i = -50000; i <= 149999; ++i) {
    expected += "http://bbs.example/thread-" + std::to_string(i) + "-1.html\r\n";
  }
  EXPECT_EQ(Run(&TbbsForm::SpeedButton1Click), expected);
  EXPECT_EQ(form.Label2.Caption(), "200000");
}

}  // namespace
}  // namespace qm
