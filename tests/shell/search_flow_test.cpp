// Whole searches driven by clicks on the windows, with scripted dialogs.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "shell/error_box.h"
#include "shell/result_grid.h"
#include "shell_fixture.h"
#include "support/nginx_fixture.h"

namespace qm::shell {
namespace {

std::string Page(int i) {
  return "<html><body>\n<p>联系: user" + std::to_string(i) + "@example.com</p>\n<p>手机 1380013" +
         std::to_string(1000 + i) + "</p>\n<p>QQ:" + std::to_string(123456700 + i) +
         "</p>\n</body></html>\n";
}

TEST(SearchFlow, SearchAgainstLocalSiteThenExport) {
  test::NginxServer server;
  constexpr int kPages = 12;
  std::string list;
  for (int i = 0; i < kPages; ++i) {
    server.WriteFile("p" + std::to_string(i) + ".html", Page(i));
    list += server.Url("p" + std::to_string(i) + ".html") + "\r\n";
  }
  ShellWindows w;
  const std::string listPath = w.dir.Write("list.txt", list);
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

  QTest::keyClicks(f.Edit5, QString::fromStdString(listPath));
  f.CheckBox3->setChecked(true);
  f.CheckBox4->setChecked(true);
  f.SpinEdit1->setValue(2);
  QTest::mouseClick(f.SpeedButtons[1], Qt::LeftButton);  // 搜索
  ASSERT_TRUE(ShellWindows::PumpUntil(
      [&] { return f.Label6->text() == QString::fromUtf8("搜索已经结束!"); }));
  ShellWindows::PumpUntil([&] { return !w.core->Changes.Pending(); }, 2000);
  QCoreApplication::processEvents();

  EXPECT_EQ(f.Label4->text(), QString::number(kPages));
  EXPECT_EQ(f.Label5->text(), QString::number(kPages));
  EXPECT_EQ(f.StatusPanels[1]->text(), QString::number(kPages));
  EXPECT_EQ(f.StatusPanels[3]->text(), QString::number(kPages));
  EXPECT_EQ(f.StatusPanels[5]->text(), QString::number(kPages));
  EXPECT_EQ(f.StringGrid1->Model().rowCount(), kPages);
  EXPECT_EQ(f.StringGrid3->Model().Rows().size(), size_t(kPages));
  EXPECT_TRUE(f.SpeedButtons[1]->isEnabled());
  EXPECT_FALSE(f.SpeedButtons[2]->isEnabled());
  EXPECT_TRUE(f.SpeedButtons[3]->isEnabled());
  EXPECT_FALSE(w.form3->isVisible());

  // A picture of the window after the search, kept in the build folder.
  f.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/main_window_after_search_%1.png")
                    .arg(QGuiApplication::platformName()));

  // Save all: three dialogs, one per list.
  const std::string emails = w.dir.File("emails.txt");
  w.dialogs.AnswerSave(emails);
  w.dialogs.AnswerSave(w.dir.File("mobiles.txt"));
  w.dialogs.AnswerSave(w.dir.File("qq.txt"));
  QTest::mouseClick(f.SpeedButtons[4], Qt::LeftButton);  // 保存
  const std::string saved = test::TempDir::Read(emails);
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), kPages);
  EXPECT_NE(saved.find("user0@example.com\r\n"), std::string::npos);
  EXPECT_NE(test::TempDir::Read(w.dir.File("qq.txt")).find("123456700@qq.com\r\n"),
            std::string::npos);

  // The close query after the run asks the exit question.
  bool closed = false;
  QObject::connect(&f, &TForm1Window::Closed, [&] { closed = true; });
  w.dialogs.AnswerConfirm(true);
  f.close();
  EXPECT_TRUE(closed);
}

// A fetch that holds every page until the test lets it go.
struct HeldFetch {
  std::mutex mutex;
  std::condition_variable released;
  bool open = false;
  std::atomic<int> waiting{0};

  bool Fetch(const std::string&, qm::TPageLines& lines) {
    ++waiting;
    std::unique_lock lock(mutex);
    released.wait(lock, [&] { return open; });
    lines = {"mail: held@example.com"};
    return true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex);
      open = true;
    }
    released.notify_all();
  }
};

TEST(SearchFlow, StopShowsTheWaitDialogUntilTheWorkersHaveFinished) {
  HeldFetch held;
  TForm1Environment environment;
  environment.FetchPage = [&](const std::string& url, qm::TPageLines& lines) {
    return held.Fetch(url, lines);
  };
  {
    ShellWindows w(environment);
    TForm1Window& f = *w.form1;
    w.core->Edit5.SetText(
        w.dir.Write("list.txt", "http://127.0.0.1:9/a\r\nhttp://127.0.0.1:9/b\r\n"));
    w.core->SpinEdit1.SetValue(2);
    f.show();
    QTest::mouseClick(f.SpeedButtons[1], Qt::LeftButton);
    ASSERT_TRUE(ShellWindows::PumpUntil([&] { return held.waiting.load() == 2; }));

    // The run is active: the main window refuses to close and asks nothing.
    f.close();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(w.dialogs.Messages().empty());

    QTest::mouseClick(f.SpeedButtons[2], Qt::LeftButton);  // 终止
    ASSERT_TRUE(ShellWindows::PumpUntil([&] { return w.form3->isVisible(); }));
    EXPECT_FALSE(f.SpeedButtons[2]->isEnabled());
    EXPECT_EQ(w.form3->ProgressBar1->maximum(), 2);
    held.Release();
    ASSERT_TRUE(ShellWindows::PumpUntil([&] { return !w.form3->isVisible(); }));
    ASSERT_TRUE(ShellWindows::PumpUntil(
        [&] { return f.Label6->text() == QString::fromUtf8("搜索已经结束!"); }));
    EXPECT_TRUE(f.SpeedButtons[1]->isEnabled());
    EXPECT_TRUE(f.SpeedButtons[3]->isEnabled());
  }
}

TEST(SearchFlow, ClosingTheWaitDialogEndsTheRunAtOnce) {
  HeldFetch held;
  TForm1Environment environment;
  environment.FetchPage = [&](const std::string& url, qm::TPageLines& lines) {
    return held.Fetch(url, lines);
  };
  ShellWindows w(environment);
  TForm1Window& f = *w.form1;
  w.core->Edit5.SetText(w.dir.Write("list.txt", "http://127.0.0.1:9/a\r\n"));
  f.show();
  QTest::mouseClick(f.SpeedButtons[1], Qt::LeftButton);
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return held.waiting.load() == 1; }));
  QTest::mouseClick(f.SpeedButtons[2], Qt::LeftButton);
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return w.form3->isVisible(); }));
  w.form3->close();  // the user's close box
  ASSERT_TRUE(ShellWindows::PumpUntil(
      [&] { return f.Label6->text() == QString::fromUtf8("搜索已经结束!"); }));
  EXPECT_FALSE(w.form3->isVisible());
  EXPECT_TRUE(f.SpeedButtons[1]->isEnabled());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(w.core->SettingsFilePath())));
  held.Release();  // the busy worker ends quietly; the window's core joins it
}

TEST(SearchFlow, ResumeAsksForThePositionAndSearchesTheRest) {
  std::atomic<int> fetched{0};
  TForm1Environment environment;
  environment.FetchPage = [&](const std::string& url, qm::TPageLines& lines) {
    ++fetched;
    lines = {"mail user" + url.substr(url.rfind('/') + 1) + "@example.com"};
    return true;
  };
  ShellWindows w(environment);
  TForm1Window& f = *w.form1;
  f.show();
  w.core->Edit5.SetText(w.dir.Write(
      "list.txt", "http://127.0.0.1:9/a\r\nhttp://127.0.0.1:9/b\r\nhttp://127.0.0.1:9/c\r\n"));
  QTest::mouseClick(f.SpeedButtons[1], Qt::LeftButton);
  ASSERT_TRUE(ShellWindows::PumpUntil(
      [&] { return f.Label6->text() == QString::fromUtf8("搜索已经结束!"); }));
  ASSERT_EQ(fetched.load(), 3);

  // Continue from position 2: only the third address is fetched again.
  w.dialogs.AnswerInput(std::string("2"));
  QTest::mouseClick(f.SpeedButtons[3], Qt::LeftButton);  // 继续
  // The widgets still show the first run's end until the window refreshes: wait for the
  // core's second completion first.
  ASSERT_TRUE(ShellWindows::PumpUntil([&] {
    return w.core->SearchState.CompletedRuns.load() == 2 && fetched.load() == 4 &&
           f.Label6->text() == QString::fromUtf8("搜索已经结束!") && f.SpeedButtons[1]->isEnabled();
  }));
  const auto history = w.dialogs.History();
  const auto input =
      std::find_if(history.begin(), history.end(), [](const auto& s) { return s.Kind == "input"; });
  ASSERT_NE(input, history.end());
  EXPECT_EQ(input->InputCaption, "继续搜索提示");
  EXPECT_EQ(input->InputInitial, "3");
  EXPECT_EQ(w.core->StringGrid1.Snapshot(), std::vector<std::string>{"userc@example.com"});
  ShellWindows::PumpUntil(
      [&] { return f.StringGrid1->Model().Rows().front() == "userc@example.com"; }, 2000);
  EXPECT_EQ(f.StringGrid1->Model().Rows(), std::vector<std::string>{"userc@example.com"});
}

TEST(SearchFlow, EndOfRunSaveFailureShowsInTheErrorBoxAfterTheEnd) {
  TForm1Environment environment;
  environment.FetchPage = [](const std::string&, TPageLines& lines) {
    lines.clear();
    return true;
  };
  ShellWindows w(std::move(environment));
  const std::string settings = w.core->SettingsFilePath();
  std::ofstream(settings) << "[config]\r\n";
  std::filesystem::permissions(settings, std::filesystem::perms::owner_read);
  std::vector<QString> shown;
  SetErrorBoxSink([&](const QString& text) { shown.push_back(text); });
  w.core->Edit5.SetText(w.dir.Write("list.txt", "http://h/1\n"));
  QTest::mouseClick(w.form1->SpeedButtons[1], Qt::LeftButton);
  ShellWindows::PumpUntil([&] { return !shown.empty(); });
  SetErrorBoxSink(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], QString::fromStdString("Unable to write to " + settings + "."));
  EXPECT_EQ(w.form1->Label6->text(), QString::fromUtf8("搜索已经结束!"));
  EXPECT_TRUE(w.core->SpeedButton2.Enabled());
}

TEST(SearchFlow, StartWithoutAListSaysSo) {
  ShellWindows w;
  QTest::mouseClick(w.form1->SpeedButtons[1], Qt::LeftButton);
  ASSERT_EQ(w.dialogs.Messages().size(), 1u);
  EXPECT_EQ(w.dialogs.Messages()[0], "您还没有选择网址列表文件!");
}

TEST(GeneratorWindow, WritesAListAndShowsTheCount) {
  ShellWindows w;
  TbbsFormWindow& g = *w.bbsForm;
  EXPECT_EQ(g.windowTitle(), QString::fromUtf8("生成URL页面地址列表"));
  EXPECT_EQ(g.size(), QSize(546, 238));
  EXPECT_EQ(g.Edit1->text(), QStringLiteral("http://"));
  EXPECT_EQ(g.Label7->text(), QString::fromUtf8("页面总数"));
  EXPECT_EQ(g.Edit4->geometry(), QRect(328, 72, 201, 21));
  // Tab order Edit1 .. Edit12.
  QWidget* at = g.Edit1;
  for (QWidget* next : {g.Edit2, g.Edit3, g.Edit4, g.Edit5, g.Edit6, g.Edit7, g.Edit8, g.Edit9,
                        g.Edit10, g.Edit11, g.Edit12}) {
    EXPECT_EQ(at->nextInFocusChain(), next) << at->objectName().toStdString();
    at = next;
  }

  g.Edit1->setText(QStringLiteral("http://bbs.example/t"));
  g.Edit2->setText(QStringLiteral("1"));
  g.Edit3->setText(QStringLiteral("3"));
  g.Edit4->setText(QStringLiteral(".html"));
  g.Edit12->setText(QStringLiteral("20"));
  const std::string out = w.dir.File("bbs.txt");
  w.dialogs.AnswerSave(out);
  QTest::mouseClick(g.SpeedButton1, Qt::LeftButton);
  EXPECT_EQ(test::TempDir::Read(out),
            "http://bbs.example/t20.html\r\nhttp://bbs.example/t40.html\r\n"
            "http://bbs.example/t60.html\r\n");
  ShellWindows::PumpUntil([&] { return g.Label2->text() == QStringLiteral("3"); }, 2000);
  EXPECT_EQ(g.Label2->text(), QStringLiteral("3"));
  g.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
  g.grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/generator_window.png"));
}

TEST(GeneratorWindow, EmptyEndCountEndsInTheErrorBox) {
  ShellWindows w;
  std::vector<QString> shown;
  SetErrorBoxSink([&](const QString& text) { shown.push_back(text); });
  w.dialogs.AnswerSave(w.dir.File("empty.txt"));
  QTest::mouseClick(w.bbsForm->SpeedButton1, Qt::LeftButton);
  SetErrorBoxSink(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], QStringLiteral("'' is not a valid integer value."));
}

}  // namespace
}  // namespace qm::shell
