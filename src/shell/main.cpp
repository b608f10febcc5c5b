// Program entry: the application title, the four windows created in order, the message loop.
#include <QTimer>
#include <optional>

#include "engine/main_form.h"
#include "engine/page_memory_release.h"
#include "shell/about_dialog.h"
#include "shell/app_title.h"
#include "shell/application_setup.h"
#include "shell/error_box.h"
#include "shell/generator_window.h"
#include "shell/main_window.h"
#include "shell/pictures.h"
#include "shell/program_command_line.h"
#include "shell/qt_dialogs.h"
#include "shell/qt_tray_shell.h"
#include "shell/wait_dialog.h"
#include "urllists/generator_form.h"

int main(int argc, char** argv) {
  using namespace qm::shell;
  qm::ReturnPageBuffersToTheSystem();
  if (const auto answered = AnswerCommandLine(argc, argv, stdout, stderr)) return *answered;
  std::optional<TDisplayStartGuard> startGuard(std::in_place);
  TApplication app(argc, argv);
  startGuard.reset();
  InitShellResources();
  SetUpApplication(app);

  QtDialogs dialogs;
  QtTrayShell trayShell;

  qm::TForm1 form1Core(dialogs);
  TForm1Window form1(form1Core, trayShell);
  dialogs.SetParentWindow(&form1);
  RunGuarded([&] { form1Core.FormCreate(); });
  form1.FormCreate();
  trayShell.ActivateApplication = [&form1] {
    if (form1.isVisible()) form1.activateWindow();
  };

  TForm3Window form3(form1Core, &form1);
  TForm2 form2(&form1);
  qm::TbbsForm bbsCore(dialogs);
  TbbsFormWindow bbsForm(bbsCore, &form1);
  form1.SetWindows(&form3, &form2, &bbsForm);

  // exit(), not quit(): quit() would offer every window another close, and the exit question
  // has been answered already.
  QObject::connect(
      &form1, &TForm1Window::Closed, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  form1.show();
  const int code = app.exec();
  form1Core.FormDestroy();
  return code;
}
