#pragma once
// The tray shell on this desktop: QSystemTrayIcon per icon identifier, and the icon's
// activations delivered to the component as the mouse messages of the hidden window.
#include <QObject>
#include <QSystemTrayIcon>
#include <map>
#include <memory>

#include "shell/tray_shell.h"

namespace qm::shell {

class QtTrayShell : public QObject, public TTrayShell {
  Q_OBJECT
 public:
  // Brings the program's windows forward when the component asks for the application window.
  std::function<void()> ActivateApplication;

  TWindowHandle CreateHiddenWindow(MessageHandler handler) override;
  void DestroyHiddenWindow(TWindowHandle window) override;
  bool ShellNotifyIcon(uint32_t message, const TNotifyIconData& data) override;
  QPoint CursorPos() override;
  TShiftState KeyState() override;
  TWindowHandle ApplicationWindow() override { return kApplicationWindow; }
  void SetForegroundWindow(TWindowHandle window) override;
  void PopupMenu(QMenu& menu, QPoint at) override;
  void PostMessage(TWindowHandle window, uint32_t message, uintptr_t wParam,
                   intptr_t lParam) override;
  intptr_t DefWindowProc(TWindowHandle, uint32_t, uintptr_t, intptr_t) override { return 0; }
  bool TrayAvailable() override { return QSystemTrayIcon::isSystemTrayAvailable(); }

 private:
  static constexpr TWindowHandle kApplicationWindow = 1;
  void Deliver(TWindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
  void Apply(QSystemTrayIcon& icon, const TNotifyIconData& data);

  std::map<TWindowHandle, MessageHandler> windows_;
  TWindowHandle nextWindow_ = 0x100;
  std::map<std::pair<TWindowHandle, uint32_t>, std::unique_ptr<QSystemTrayIcon>> icons_;
};

}  // namespace qm::shell
