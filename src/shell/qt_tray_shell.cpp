#include "shell/qt_tray_shell.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>

#include "text/cp936.h"

namespace qm::shell {

TWindowHandle QtTrayShell::CreateHiddenWindow(MessageHandler handler) {
  const TWindowHandle window = nextWindow_++;
  windows_[window] = std::move(handler);
  return window;
}

void QtTrayShell::DestroyHiddenWindow(TWindowHandle window) {
  windows_.erase(window);
  // The shell drops the icons of a window that goes away.
  for (auto it = icons_.begin(); it != icons_.end();) {
    if (it->first.first == window)
      it = icons_.erase(it);
    else
      ++it;
  }
}

void QtTrayShell::Apply(QSystemTrayIcon& icon, const TNotifyIconData& data) {
  if (data.Flags & NIF_ICON) icon.setIcon(data.Icon);
  if (data.Flags & NIF_TIP) icon.setToolTip(QString::fromStdString(Cp936ToUtf8(data.TipBytes())));
}

bool QtTrayShell::ShellNotifyIcon(uint32_t message, const TNotifyIconData& data) {
  const auto key = std::make_pair(data.Wnd, data.ID);
  auto found = icons_.find(key);
  switch (message) {
    case NIM_ADD: {
      if (found != icons_.end()) return false;
      // A child of the shell as well, so that the icons can be found by their owner; the map
      // still decides when each goes.
      auto icon = std::make_unique<QSystemTrayIcon>(this);
      Apply(*icon, data);
      if (data.Flags & NIF_MESSAGE) {
        const TWindowHandle window = data.Wnd;
        const uint32_t callback = data.CallbackMessage;
        const uint32_t id = data.ID;
        connect(icon.get(), &QSystemTrayIcon::activated, this,
                [this, window, callback, id](QSystemTrayIcon::ActivationReason reason) {
                  auto send = [&](uint32_t mouse) { Deliver(window, callback, id, mouse); };
                  switch (reason) {
                    case QSystemTrayIcon::Trigger:
                      send(WM_LBUTTONDOWN);
                      send(WM_LBUTTONUP);
                      break;
                    case QSystemTrayIcon::DoubleClick:
                      send(WM_LBUTTONDBLCLK);
                      send(WM_LBUTTONUP);
                      break;
                    case QSystemTrayIcon::Context:
                      send(WM_RBUTTONDOWN);
                      send(WM_RBUTTONUP);
                      break;
                    default:
                      send(WM_MBUTTONDOWN);
                      break;
                  }
                });
      }
      if (!icon->icon().isNull()) icon->show();
      icons_.emplace(key, std::move(icon));
      return true;
    }
    case NIM_MODIFY:
      if (found == icons_.end()) return false;
      Apply(*found->second, data);
      if (!found->second->icon().isNull()) found->second->show();
      return true;
    case NIM_DELETE:
      if (found == icons_.end()) return false;
      icons_.erase(found);
      return true;
    default:
      return false;
  }
}

QPoint QtTrayShell::CursorPos() {
  return QCursor::pos();
}

TShiftState QtTrayShell::KeyState() {
  const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  TShiftState state = 0;
  if (mods & Qt::ShiftModifier) state |= ssShift;
  if (mods & Qt::ControlModifier) state |= ssCtrl;
  if (mods & Qt::AltModifier) state |= ssAlt;
  return state;
}

void QtTrayShell::SetForegroundWindow(TWindowHandle window) {
  if (window == kApplicationWindow && ActivateApplication) ActivateApplication();
}

void QtTrayShell::PopupMenu(QMenu& menu, QPoint at) {
  menu.exec(at);
}

void QtTrayShell::PostMessage(TWindowHandle window, uint32_t message, uintptr_t wParam,
                              intptr_t lParam) {
  QTimer::singleShot(0, this, [this, window, message, wParam, lParam] {
    Deliver(window, message, wParam, lParam);
  });
}

void QtTrayShell::Deliver(TWindowHandle window, uint32_t message, uintptr_t wParam,
                          intptr_t lParam) {
  auto found = windows_.find(window);
  if (found == windows_.end()) return;
  // Copied: the handler may destroy its own window.
  MessageHandler handler = found->second;
  handler(message, wParam, lParam);
}

}  // namespace qm::shell
