#include "shell/wait_dialog.h"

#include <QCloseEvent>
#include <QProgressBar>

#include "engine/main_form.h"
#include "shell/error_box.h"
#include "shell/window_placement.h"

namespace qm::shell {

TForm3Window::TForm3Window(TForm1& core, QWidget* parent) : QDialog(parent), core_(core) {
  setObjectName("TForm3");
  setWindowTitle(QString::fromUtf8("正在关闭线程，请稍候..."));
  // Without the customize hint the window manager is offered a maximise button as well.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setFixedSize(417, 72);
  setModal(false);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(8, 8, 393, 25);
  ProgressBar1->setMinimum(0);
  ProgressBar1->setMaximum(0);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
}

void TForm3Window::SetStayOnTop(bool stayOnTop) {
  if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == stayOnTop) return;
  const bool wasVisible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop);
  // Changing the flags hides a shown window.
  if (wasVisible) show();
}

void TForm3Window::Refresh() {
  const int max = core_.Form3.ProgressBar1.Max();
  // A bar whose maximum equals its minimum shows a busy animation; keep a plain empty bar.
  ProgressBar1->setMaximum(max > 0 ? max : 1);
  ProgressBar1->setValue(core_.Form3.ProgressBar1.Position());
  SetStayOnTop(core_.Form3.Window.StayOnTop());
  const bool visible = core_.Form3.Window.Visible();
  if (visible && !isVisible()) {
    show();
  } else if (!visible && isVisible()) {
    hide();
  }
}

void TForm3Window::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreWindow(*this, TPlacement::ScreenCentre);
}

void TForm3Window::closeEvent(QCloseEvent* event) {
  // The user closed the dialog: manual close of the run, then the progress save.
  RunGuarded([this] { core_.Form3Close(); });
  event->accept();
}

}  // namespace qm::shell
