// Captions as the window manager reads them (_NET_WM_NAME), on a real X server: run by the
// CTest entry shell_captions_under_xvfb; skipped on other platforms or without xprop.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/app_title.h"
#include "shell/application_setup.h"
#include "shell/message_boxes.h"
#include "shell/qt_dialogs.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

// xprop prints `_NET_WM_NAME = "..."`, with non-ASCII bytes as octal escapes in some locales.
std::string QuotedValue(const std::string& line) {
  const size_t open = line.find('"');
  const size_t close = line.rfind('"');
  if (open == std::string::npos || close <= open) return {};
  std::string out;
  for (size_t i = open + 1; i < close; ++i) {
    if (line[i] == '\\' && i + 3 < close && line[i + 1] >= '0' && line[i + 1] <= '7') {
      out += static_cast<char>(std::stoi(line.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else if (line[i] == '\\' && i + 1 < close) {
      out += line[++i];
    } else {
      out += line[i];
    }
  }
  return out;
}

std::string WindowManagerName(const QWidget& window) {
  const std::string command = "LC_ALL=C.UTF-8 xprop -notype -id " +
                              std::to_string(static_cast<unsigned long>(window.winId())) +
                              " _NET_WM_NAME 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "(xprop did not start)";
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  return QuotedValue(output);
}

TEST(WindowCaptions, WindowManagerShowsEachCaptionAsItIs) {
  if (QGuiApplication::platformName() != QLatin1String("xcb"))
    GTEST_SKIP() << "needs an X server (ctest runs this under Xvfb)";
  if (std::system("command -v xprop > /dev/null 2>&1") != 0) GTEST_SKIP() << "xprop is missing";
  SetUpApplication(*qobject_cast<QApplication*>(QCoreApplication::instance()));

  ShellWindows w;
  auto information = MakeInformationBox(nullptr, QStringLiteral("x"));
  auto confirmation = MakeConfirmationBox(nullptr, QStringLiteral("x"));
  auto plain = MakePlainMessageBox(nullptr, QStringLiteral("x"));
  auto error = MakeErrorBox(nullptr, QStringLiteral("x"));
  auto input = MakeInputBox(nullptr, "继续搜索提示", "请输入您上次搜索断点位置", "0");
  struct Shown {
    QWidget* window;
    std::string caption;
  };
  const std::string title = kApplicationTitle;
  const Shown shown[] = {
      {w.form1.get(), w.form1->windowTitle().toStdString()},
      {w.form2.get(), "关于本软件"},
      {w.form3.get(), "正在关闭线程，请稍候..."},
      {w.bbsForm.get(), "生成URL页面地址列表"},
      {information.get(), "信息"},
      {confirmation.get(), "确认"},
      {plain.get(), title},
      {error.get(), title},
      {input.get(), "继续搜索提示"},
  };
  EXPECT_EQ(shown[0].caption.rfind(title + " —主页: ", 0), 0u);
  for (const Shown& s : shown) {
    s.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(s.window)) << s.caption;
    EXPECT_EQ(WindowManagerName(*s.window), s.caption);
    s.window->hide();
  }
}

}  // namespace
}  // namespace qm::shell
