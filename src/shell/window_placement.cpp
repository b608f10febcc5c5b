#include "shell/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace qm::shell {

void CentreWindow(QWidget& window, TPlacement where) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = where == TPlacement::ScreenCentre ? screen->availableGeometry()
                                                       : screen->availableVirtualGeometry();
  QRect outer = window.frameGeometry();
  outer.moveCenter(area.center());
  window.move(outer.topLeft());
}

}  // namespace qm::shell
