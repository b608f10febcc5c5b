// A search of many local pages with 4 workers, in rounds that alternate between the main
// window's core alone and the real window (offscreen). Both sides time the run the same way:
// a plain thread polls the core's hint line until it reads the end text. For the window it
// also prints how long the widget took to show that text after the core had it, the GUI
// thread's CPU time and its longest busy stretch (the 1000 ms pauses of a start are cut short).
// Usage: bench_gui [PAGES] [ROUNDS]; on a shared machine single rounds vary by tens of per
// cent, so compare the medians, and the GUI thread's CPU time, which load does not stretch.
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "common/bench_common.h"
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

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Polls the core's hint line every millisecond on its own thread, the same for both sides,
// and notes when it first reads the end text.
class EndWatch {
 public:
  // `onEnd` runs on the watching thread once the end is seen.
  explicit EndWatch(const qm::TForm1& core, std::function<void()> onEnd = {})
      : thread_([this, &core, onEnd = std::move(onEnd)] {
          while (!quit_.load()) {
            if (core.Label6.Caption() == kEnded) {
              end_ = Clock::now();
              ended_.store(true);
              if (onEnd) onEnd();
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~EndWatch() {
    quit_.store(true);
    thread_.join();
  }
  bool Ended() const { return ended_.load(); }
  // Valid once Ended() was true.
  Clock::time_point End() const { return end_; }
  void Wait() {
    while (!Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  std::atomic<bool> quit_{false};
  std::atomic<bool> ended_{false};
  Clock::time_point end_;
  std::thread thread_;
};

// Times every event the GUI thread handles, at no cost when idle (a polling timer on the GUI
// thread would wake it a thousand times a second and be measured as GUI cost). Events less
// than a millisecond apart count as one busy stretch. A stretch is timed on the clock and in
// the thread's CPU time: on a loaded machine the first also holds the time the thread waited
// for a core in the middle of its work.
class BenchApplication : public QApplication {
 public:
  using QApplication::QApplication;

  // Called after each outermost event while watching.
  std::function<void()> AfterEvent;

  void StartWatching() {
    watching_ = true;
    longestBusy_ = Clock::duration::zero();
    longestBusyCpu_ = longestCpu_ = 0;
    stretchStart_ = stretchEnd_ = Clock::time_point();
    over50_ = 0;
  }
  void StopWatching() { watching_ = false; }
  double LongestBusyMs() const { return Seconds(longestBusy_) * 1e3; }
  // The GUI-thread CPU time of that longest stretch, and the most CPU time of any stretch.
  double LongestBusyCpuMs() const { return longestBusyCpu_ * 1e3; }
  double LongestCpuMs() const { return longestCpu_ * 1e3; }
  int StretchesOver50Ms() const { return over50_; }

  bool notify(QObject* receiver, QEvent* event) override {
    if (!watching_ || depth_ > 0) {
      ++depth_;
      const bool result = QApplication::notify(receiver, event);
      --depth_;
      return result;
    }
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    ++depth_;
    const bool result = QApplication::notify(receiver, event);
    --depth_;
    const auto end = Clock::now();
    const double cpuEnd = ThreadCpuSeconds();
    if (start - stretchEnd_ > std::chrono::milliseconds(1)) {
      stretchStart_ = start;
      stretchCpu_ = 0;
      counted_ = false;
    }
    stretchEnd_ = end;
    stretchCpu_ += cpuEnd - cpuStart;
    longestCpu_ = std::max(longestCpu_, stretchCpu_);
    if (stretchEnd_ - stretchStart_ > longestBusy_) {
      longestBusy_ = stretchEnd_ - stretchStart_;
      longestBusyCpu_ = stretchCpu_;
    }
    if (!counted_ && stretchEnd_ - stretchStart_ > std::chrono::milliseconds(50)) {
      counted_ = true;
      ++over50_;
    }
    if (AfterEvent) AfterEvent();
    return result;
  }

 private:
  bool watching_ = false;
  int depth_ = 0;
  Clock::time_point stretchStart_, stretchEnd_;
  double stretchCpu_ = 0;
  bool counted_ = false;
  Clock::duration longestBusy_{};
  double longestBusyCpu_ = 0;
  double longestCpu_ = 0;
  int over50_ = 0;
};

struct CoreRound {
  double seconds = 0;
  double processCpu = 0;
};

struct WindowRound {
  double seconds = 0;
  double processCpu = 0;
  double displayLatencyMs = 0;
  double guiCpu = 0;
  double startCpu = 0;  // the search button's own handler, which the core side runs too
  double refreshCpu = 0;
  double refreshSeconds = 0;
  double longestBusyMs = 0;
  double longestBusyCpuMs = 0;
  double longestStretchCpuMs = 0;
  int stretchesOver50 = 0;
  qint64 longestRefreshUs = 0;
  qint64 longestRefreshCpuUs = 0;
  int refreshes = 0;
  int rowsShown = 0;
};

CoreRound RunCore(qm::ui::Dialogs& dialogs, const qm::test::TempDir& dir,
                  const std::string& listPath) {
  qm::TForm1 core(dialogs, Environment(dir));
  Prepare(core, listPath);
  CoreRound round;
  EndWatch watch(core);
  const double cpuStart = qm::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  core.SpeedButton2Click();
  watch.Wait();
  round.seconds = Seconds(watch.End() - start);
  round.processCpu = qm::bench::ProcessCpuSeconds() - cpuStart;
  return round;
}

WindowRound RunWindow(BenchApplication& app, qm::ui::Dialogs& dialogs, const qm::test::TempDir& dir,
                      const std::string& listPath) {
  NoTray tray;
  qm::TForm1 core(dialogs, Environment(dir));
  qm::shell::TForm1Window window(core, tray, [](const QUrl&) {});
  Prepare(core, listPath);
  window.FormCreate();
  window.show();
  app.processEvents();

  WindowRound round;
  const QString ended = QString::fromUtf8(kEnded);
  Clock::time_point start;
  double cpuStart = 0;
  double guiCpuStart = 0;
  std::unique_ptr<EndWatch> watch;
  // The widget may show the end before the watching thread, which looks every millisecond,
  // has seen it in the core; then the latency counts as none.
  std::optional<Clock::time_point> shownAt;
  app.AfterEvent = [&] {
    if (!shownAt && window.Label6->text() == ended) shownAt = Clock::now();
    if (!watch || !watch->Ended() || !shownAt) return;
    round.displayLatencyMs = std::max(0.0, Seconds(*shownAt - watch->End()) * 1e3);
    round.guiCpu = ThreadCpuSeconds() - guiCpuStart;
    round.processCpu = qm::bench::ProcessCpuSeconds() - cpuStart;
    app.StopWatching();
    app.AfterEvent = nullptr;
    QCoreApplication::exit(0);
  };
  const qint64 refreshCpuBefore = window.TotalRefreshCpuNs();
  const qint64 refreshBefore = window.TotalRefreshNs();
  const int refreshesBefore = window.RefreshCount();
  QTimer::singleShot(0, [&] {
    // Wakes the GUI thread when the watch sees the end, which the window may have shown.
    watch = std::make_unique<EndWatch>(core, [&app] {
      QMetaObject::invokeMethod(
          &app, [] {}, Qt::QueuedConnection);
    });
    cpuStart = qm::bench::ProcessCpuSeconds();
    guiCpuStart = ThreadCpuSeconds();
    start = Clock::now();
    window.SpeedButtons[1]->click();
    round.startCpu = ThreadCpuSeconds() - guiCpuStart;
    app.StartWatching();
  });
  app.exec();
  round.longestBusyMs = app.LongestBusyMs();
  round.longestBusyCpuMs = app.LongestBusyCpuMs();
  round.longestStretchCpuMs = app.LongestCpuMs();
  round.stretchesOver50 = app.StretchesOver50Ms();
  round.seconds = Seconds(watch->End() - start);
  round.refreshCpu = double(window.TotalRefreshCpuNs() - refreshCpuBefore) / 1e9;
  round.refreshSeconds = double(window.TotalRefreshNs() - refreshBefore) / 1e9;
  round.refreshes = window.RefreshCount() - refreshesBefore;
  round.longestRefreshUs = window.LongestRefreshNs() / 1000;
  round.longestRefreshCpuUs = window.LongestRefreshCpuNs() / 1000;
  round.rowsShown = window.StringGrid1->Model().rowCount();
  watch.reset();
  core.Changes.SetListener({});
  return round;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  BenchApplication app(argc, argv);
  qm::shell::InitShellResources();
  const int pages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

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

  std::printf("pages: %d, workers: 4, rounds: %d\n", pages, rounds);
  // Rounds that warm the server, the page cache and the toolkit's font and glyph caches, not
  // counted.
  RunCore(dialogs, dir, listPath);
  RunWindow(app, dialogs, dir, listPath);
  std::vector<double> coreSeconds, windowSeconds, pairCosts;
  double longestBusyMs = 0;
  double longestStretchCpuMs = 0;
  for (int i = 0; i < rounds; ++i) {
    // Alternate which side goes first, so neither always runs after the other.
    CoreRound c;
    WindowRound w;
    if (i % 2 == 0) {
      c = RunCore(dialogs, dir, listPath);
      w = RunWindow(app, dialogs, dir, listPath);
    } else {
      w = RunWindow(app, dialogs, dir, listPath);
      c = RunCore(dialogs, dir, listPath);
    }
    coreSeconds.push_back(c.seconds);
    windowSeconds.push_back(w.seconds);
    // Each pair ran back to back under much the same load from the rest of the machine.
    pairCosts.push_back(100.0 * (w.seconds - c.seconds) / c.seconds);
    longestBusyMs = std::max(longestBusyMs, w.longestBusyMs);
    longestStretchCpuMs = std::max(longestStretchCpuMs, w.longestStretchCpuMs);
    std::printf("round %d core alone: %.3f s, %.0f pages/s, process CPU %.3f s\n", i + 1, c.seconds,
                pages / c.seconds, c.processCpu);
    std::printf(
        "round %d in window: %.3f s, %.0f pages/s, process CPU %.3f s, GUI thread CPU %.3f s "
        "(start %.3f s, refreshes %.3f s), shown %.1f ms after the core's end\n",
        i + 1, w.seconds, pages / w.seconds, w.processCpu, w.guiCpu, w.startCpu, w.refreshCpu,
        w.displayLatencyMs);
    // Refreshes copy new rows under the result lists' locks: their time on the clock, not
    // their CPU time, is what the workers may wait.
    std::printf("round %d refreshes took %.3f s on the clock for %.3f s of CPU\n", i + 1,
                w.refreshSeconds, w.refreshCpu);
    std::printf(
        "round %d refreshes: %d, longest %lld us (%lld us CPU), GUI busy longest %.1f ms "
        "(%.1f ms CPU; most CPU in one stretch %.1f ms), stretches over 50 ms: %d, "
        "e-mail rows %d\n",
        i + 1, w.refreshes, static_cast<long long>(w.longestRefreshUs),
        static_cast<long long>(w.longestRefreshCpuUs), w.longestBusyMs, w.longestBusyCpuMs,
        w.longestStretchCpuMs, w.stretchesOver50, w.rowsShown);
  }
  const double coreBest = *std::min_element(coreSeconds.begin(), coreSeconds.end());
  const double windowBest = *std::min_element(windowSeconds.begin(), windowSeconds.end());
  const double coreMedian = Median(coreSeconds);
  const double windowMedian = Median(windowSeconds);
  std::printf("core alone:       best %.3f s (%.0f pages/s), median %.3f s (%.0f pages/s)\n",
              coreBest, pages / coreBest, coreMedian, pages / coreMedian);
  std::printf("in the window:    best %.3f s (%.0f pages/s), median %.3f s (%.0f pages/s)\n",
              windowBest, pages / windowBest, windowMedian, pages / windowMedian);
  std::printf("GUI cost:         best %.1f %%, median %.1f %%\n",
              100.0 * (windowBest - coreBest) / coreBest,
              100.0 * (windowMedian - coreMedian) / coreMedian);
  std::printf("GUI cost:         median of the rounds' own costs %.1f %%\n", Median(pairCosts));
  std::printf(
      "GUI thread busy:  longest %.1f ms at once; most GUI-thread CPU in one stretch %.1f ms\n",
      longestBusyMs, longestStretchCpuMs);
  return 0;
}
