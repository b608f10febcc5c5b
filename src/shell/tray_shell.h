#pragma once
// What the tray icon component needs from the desktop: a hidden message window, the shell's
// notify-icon call and a few input queries. QtTrayShell implements it with QSystemTrayIcon;
// tests use a fake that records every call.
#include <QIcon>
#include <QPoint>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

class QMenu;

namespace qm::shell {

using TWindowHandle = std::uintptr_t;

inline constexpr uint32_t NIM_ADD = 0;
inline constexpr uint32_t NIM_MODIFY = 1;
inline constexpr uint32_t NIM_DELETE = 2;
inline constexpr uint32_t NIF_MESSAGE = 1;
inline constexpr uint32_t NIF_ICON = 2;
inline constexpr uint32_t NIF_TIP = 4;

inline constexpr uint32_t WM_NULL = 0;
inline constexpr uint32_t WM_USER = 0x400;
inline constexpr uint32_t WM_LBUTTONDOWN = 513;
inline constexpr uint32_t WM_LBUTTONUP = 514;
inline constexpr uint32_t WM_LBUTTONDBLCLK = 515;
inline constexpr uint32_t WM_RBUTTONDOWN = 516;
inline constexpr uint32_t WM_RBUTTONUP = 517;
inline constexpr uint32_t WM_MBUTTONDOWN = 519;
inline constexpr uint32_t WM_MOUSEMOVE = 512;

// The shell record in its first, 88-byte layout: the tool tip is code page 936 text of at
// most 63 bytes with its terminating zero.
struct TNotifyIconData {
  uint32_t cbSize = 88;
  TWindowHandle Wnd = 0;
  uint32_t ID = 0;
  uint32_t Flags = 0;
  uint32_t CallbackMessage = 0;
  QIcon Icon;
  std::array<char, 64> Tip{};

  std::string TipBytes() const;  // up to the terminating zero
};

enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16 };
using TShiftState = unsigned;

class TTrayShell {
 public:
  using MessageHandler =
      std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
  virtual ~TTrayShell() = default;

  virtual TWindowHandle CreateHiddenWindow(MessageHandler handler) = 0;
  virtual void DestroyHiddenWindow(TWindowHandle window) = 0;
  virtual bool ShellNotifyIcon(uint32_t message, const TNotifyIconData& data) = 0;
  virtual QPoint CursorPos() = 0;
  // Shift, Ctrl and Alt as they are down now.
  virtual TShiftState KeyState() = 0;
  // The hidden top-level window that carries the program's taskbar button.
  virtual TWindowHandle ApplicationWindow() = 0;
  virtual void SetForegroundWindow(TWindowHandle window) = 0;
  // Shows the menu at a screen position; returns when it has closed.
  virtual void PopupMenu(QMenu& menu, QPoint at) = 0;
  virtual void PostMessage(TWindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) = 0;
  virtual intptr_t DefWindowProc(TWindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) = 0;
  // Whether the desktop shows tray icons at all; a window hidden to the tray where none is
  // shown could never be brought back.
  virtual bool TrayAvailable() { return true; }
};

}  // namespace qm::shell
