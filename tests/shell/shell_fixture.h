#pragma once
// The program's four windows as the program entry builds them, over scripted dialogs, a fake
// tray shell and a settings file in a temporary directory.
#include <QApplication>
#include <QElapsedTimer>
#include <memory>
#include <vector>

#include "engine/main_form.h"
#include "fake_tray_shell.h"
#include "shell/about_dialog.h"
#include "shell/generator_window.h"
#include "shell/main_window.h"
#include "shell/wait_dialog.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "urllists/generator_form.h"

namespace qm::shell {

struct ShellWindows {
  explicit ShellWindows(TForm1Environment environment = {}) {
    if (environment.ProgramPath.empty()) environment.ProgramPath = dir.File("qmharvest");
    if (!environment.LocalAddress)
      environment.LocalAddress = [] { return std::string("192.0.2.10"); };
    core = std::make_unique<TForm1>(dialogs, std::move(environment));
    form1 = std::make_unique<TForm1Window>(*core, tray,
                                           [this](const QUrl& url) { opened.push_back(url); });
    core->FormCreate();
    form1->FormCreate();
    form3 = std::make_unique<TForm3Window>(*core, form1.get());
    form2 =
        std::make_unique<TForm2>(form1.get(), [this](const QUrl& url) { opened.push_back(url); });
    bbsCore = std::make_unique<TbbsForm>(dialogs);
    bbsForm = std::make_unique<TbbsFormWindow>(*bbsCore, form1.get());
    form1->SetWindows(form3.get(), form2.get(), bbsForm.get());
  }
  ~ShellWindows() {
    bbsForm.reset();
    form2.reset();
    form3.reset();
    form1.reset();
    core.reset();
  }

  // Lets queued refreshes run until the condition holds (at most `ms`).
  static bool PumpUntil(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
      if (timer.elapsed() > ms) return condition();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
  }

  test::TempDir dir;
  test::ScriptedDialogs dialogs;
  FakeTrayShell tray;
  std::vector<QUrl> opened;
  std::unique_ptr<TForm1> core;
  std::unique_ptr<TForm1Window> form1;
  std::unique_ptr<TForm3Window> form3;
  std::unique_ptr<TForm2> form2;
  std::unique_ptr<TbbsForm> bbsCore;
  std::unique_ptr<TbbsFormWindow> bbsForm;
};

}  // namespace qm::shell
