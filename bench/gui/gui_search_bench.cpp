// A search of many local pages with 4 workers, once through the main window's core alone and
// once in the real window (offscreen): pages per second for both, and the longest stretch
// the GUI thread was busy at once while the run went on.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/main_form.h"
#include "shell/error_box.h"
#include "shell/main_window.h"
#include "shell/pictures.h"
#include "shell/qt_dialogs.h"
#include "shell/result_grid.h"
#include "shell/tray_shell.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr const char* kEnded = "搜索已经结束!";

// Pauses cut short in both runs so that only the crawl is timed.
class QuickDialogs : public qm::shell::QtDialogs {
 public:
  void PauseUi(int) override {}
  void ShowInformation(const std::string& text) override {
    std::fprintf(stderr, "information: %s\n", text.c_str());
  }
  void ShowMessage(const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }
  bool Confirm(const std::string& text) override {
    std::fprintf(stderr, "confirm: %s\n", text.c_str());
    return true;
  }
};

class NoTray : public qm::shell::TTrayShell {
 public:
  qm::shell::TWindowHandle CreateHiddenWindow(MessageHandler) override { return 1; }
  void DestroyHiddenWindow(qm::shell::TWindowHandle) override {}
  bool ShellNotifyIcon(uint32_t, const qm::shell::TNotifyIconData&) override { return true; }
  QPoint CursorPos() override { return {}; }
  qm::shell::TShiftState KeyState() override { return 0; }
  qm::shell::TWindowHandle ApplicationWindow() override { return 2; }
  void SetForegroundWindow(qm::shell::TWindowHandle) override {}
  void PopupMenu(QMenu&, QPoint) override {}
  void PostMessage(qm::shell::TWindowHandle, uint32_t, uintptr_t, intptr_t) override {}
  intptr_t DefWindowProc(qm::shell::TWindowHandle, uint32_t, uintptr_t, intptr_t) override {
    return 0;
  }
};

std::string Page(int i) {
  std::string page = "<html><head><title>page " + std::to_string(i) + "</title></head><body>\n";
  for (int line = 0; line < 40; ++line) {
    page += "<p>line " + std::to_string(line) + " contact user" + std::to_string(i * 40 + line) +
            "@example.com mobile 13" + std::to_string(100000000 + i * 40 + line) +
            " QQ:" + std::to_string(200000000 + i * 40 + line) + "</p>\n";
  }
  return page + "</body></html>\n";
}

qm::TForm1Environment Environment(const qm::test::TempDir& dir) {
  qm::TForm1Environment environment;
  environment.ProgramPath = dir.File("qmharvest");
  environment.LocalAddress = [] { return std::string("192.0.2.10"); };
  return environment;
}

void Prepare(qm::TForm1& core, const std::string& list) {
  core.FormCreate();
  core.Edit5.SetText(list);
  core.SpinEdit1.SetValue(4);
  core.CheckBox2.SetChecked(true);
  core.CheckBox3.SetChecked(true);
  core.CheckBox4.SetChecked(true);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  qm::shell::InitShellResources();
  const int pages = argc > 1 ? std::atoi(argv[1]) : 2000;

  qm::test::NginxServer server;
  qm::test::TempDir dir;
  std::string list;
  for (int i = 0; i < pages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    server.WriteFile(name, Page(i));
    list += server.Url(name) + "\r\n";
  }
  const std::string listPath = dir.Write("list.txt", list);
  QuickDialogs dialogs;
  qm::shell::SetErrorBoxSink(
      [](const QString& text) { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); });

  // The core alone: the models change, nobody renders them. Run before and after the window's
  // run, so that neither side alone pays for a cold server.
  auto coreRun = [&] {
    qm::TForm1 core(dialogs, Environment(dir));
    Prepare(core, listPath);
    const auto start = std::chrono::steady_clock::now();
    core.SpeedButton2Click();
    while (core.Label6.Caption() != kEnded)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  double coreSeconds = coreRun();

  // The real window, refreshed on the GUI thread as the models change.
  double guiSeconds = 0;
  qint64 longestBusyMs = 0;
  qint64 longestRefreshUs = 0;
  qint64 longestRefreshCpuUs = 0;
  int refreshes = 0;
  int rowsShown = 0;
  {
    NoTray tray;
    qm::TForm1 core(dialogs, Environment(dir));
    qm::shell::TForm1Window window(core, tray, [](const QUrl&) {});
    Prepare(core, listPath);
    window.FormCreate();
    window.show();
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(1);
    bool running = false;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      if (running) longestBusyMs = std::max(longestBusyMs, sinceTick.elapsed());
      sinceTick.restart();
    });
    QTimer::singleShot(0, [&] {
      clock.start();
      window.SpeedButtons[1]->click();
      sinceTick.start();
      running = true;
      ticker.start();
    });
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (window.Label6->text() == QString::fromUtf8(kEnded)) {
        guiSeconds = double(clock.nsecsElapsed()) / 1e9;
        QCoreApplication::exit(0);
      }
    });
    watch.start();
    app.exec();
    longestRefreshUs = window.LongestRefreshNs() / 1000;
    longestRefreshCpuUs = window.LongestRefreshCpuNs() / 1000;
    refreshes = window.RefreshCount();
    rowsShown = window.StringGrid1->model()->rowCount();
    core.Changes.SetListener({});
  }
  coreSeconds = std::min(coreSeconds, coreRun());

  std::printf("pages: %d, workers: 4\n", pages);
  std::printf("core alone:       %.2f s, %.0f pages/s\n", coreSeconds, pages / coreSeconds);
  std::printf("in the window:    %.2f s, %.0f pages/s\n", guiSeconds, pages / guiSeconds);
  std::printf("GUI cost:         %.1f %%\n", 100.0 * (guiSeconds - coreSeconds) / coreSeconds);
  std::printf("e-mail rows shown: %d\n", rowsShown);
  std::printf("refreshes:        %d, longest %lld us (%lld us of GUI-thread CPU)\n", refreshes,
              static_cast<long long>(longestRefreshUs),
              static_cast<long long>(longestRefreshCpuUs));
  std::printf("GUI thread busy:  longest %lld ms at once\n", static_cast<long long>(longestBusyMs));
  return 0;
}
