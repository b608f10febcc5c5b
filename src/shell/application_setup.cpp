#include "shell/application_setup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "shell/pictures.h"

namespace qm::shell {

bool InstallChineseTranslations(QApplication& app) {
  // Whatever the user's locale: the program's own texts are Chinese, and its dialogs' buttons
  // and questions must not be English beside them.
  auto* translator = new QTranslator(&app);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
    delete translator;
    return false;
  }
  QApplication::installTranslator(translator);
  return true;
}

void SetUpApplication(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("qmharvest"));
  QApplication::setWindowIcon(ApplicationIcon());
  // The main window may be hidden in the tray; only its close ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  InstallChineseTranslations(app);
}

}  // namespace qm::shell
