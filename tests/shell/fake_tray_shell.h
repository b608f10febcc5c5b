#pragma once
// A tray shell that records every call of the tray icon component and lets a test send it
// the shell's mouse messages.
#include <QMenu>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/tray_icon.h"
#include "shell/tray_shell.h"

namespace qm::shell {

// Records every call the component makes to the desktop.
class FakeTrayShell : public TTrayShell {
 public:
  struct Call {
    uint32_t Message;
    TNotifyIconData Data;
  };
  std::vector<Call> Calls;
  std::vector<std::string> Log;  // foreground, popup, post, default
  MessageHandler Handler;
  QPoint Cursor{100, 200};
  TShiftState Keys = 0;
  bool ThrowOnNotify = false;
  bool Destroyed = false;
  bool Available = true;

  TWindowHandle CreateHiddenWindow(MessageHandler handler) override {
    Handler = std::move(handler);
    return 0x77;
  }
  void DestroyHiddenWindow(TWindowHandle) override { Destroyed = true; }
  bool ShellNotifyIcon(uint32_t message, const TNotifyIconData& data) override {
    if (ThrowOnNotify) throw std::runtime_error("shell gone");
    Calls.push_back({message, data});
    return true;
  }
  QPoint CursorPos() override { return Cursor; }
  TShiftState KeyState() override { return Keys; }
  TWindowHandle ApplicationWindow() override { return 0x11; }
  void SetForegroundWindow(TWindowHandle window) override {
    Log.push_back(window == 0x11 ? "foreground app" : "foreground hidden");
  }
  void PopupMenu(QMenu& menu, QPoint at) override {
    Log.push_back("popup " + menu.objectName().toStdString() + " at " + std::to_string(at.x()) +
                  "," + std::to_string(at.y()));
  }
  void PostMessage(TWindowHandle, uint32_t message, uintptr_t, intptr_t) override {
    Log.push_back("post " + std::to_string(message));
  }
  intptr_t DefWindowProc(TWindowHandle, uint32_t, uintptr_t, intptr_t) override {
    Log.push_back("default");
    return 42;
  }
  bool TrayAvailable() override { return Available; }

  std::vector<uint32_t> Messages() const {
    std::vector<uint32_t> out;
    for (const Call& c : Calls) out.push_back(c.Message);
    return out;
  }
  intptr_t Mouse(uint32_t mouseMessage) {
    return Handler(TTrayIcon::kCallbackMessage, 0, mouseMessage);
  }
};

}  // namespace qm::shell
