#include "shell/app_title.h"
#include "shell/error_box.h"
#include "shell/pictures.h"

int main(int argc, char** argv) {
  qm::shell::TApplication app(argc, argv);
  qm::shell::InitShellResources();
  QApplication::setApplicationDisplayName(QString::fromUtf8(qm::shell::kApplicationTitle));
  return 0;
}
