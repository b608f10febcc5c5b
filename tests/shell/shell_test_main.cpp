// One QApplication for the whole offscreen test program.
#include <gtest/gtest.h>

#include "shell/error_box.h"
#include "shell/pictures.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  testing::InitGoogleTest(&argc, argv);
  qm::shell::TApplication app(argc, argv);
  qm::shell::InitShellResources();
  return RUN_ALL_TESTS();
}
