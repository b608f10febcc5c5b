#pragma once
// TTrayIcon: one icon in the notification area, its tool tip kept up to date, and the
// shell's mouse messages for it turned into events and a context menu.
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "shell/tray_shell.h"
#include "text/errors.h"

namespace qm::shell {

class ETrayIcon : public EAppError {
 public:
  using EAppError::EAppError;
};

using TImageList = std::vector<QIcon>;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TTrayIcon {
 public:
  using TNotifyEvent = std::function<void(TTrayIcon& sender)>;
  using TMouseEvent =
      std::function<void(TTrayIcon& sender, TMouseButton button, TShiftState shift, int x, int y)>;

  static constexpr uint32_t kCallbackMessage = WM_USER + 1;
  static constexpr size_t kMaxHintBytes = 63;

  TTrayIcon(TTrayShell& shell, std::string name);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  const std::string& Name() const { return name_; }

  const QIcon& Icon() const { return icon_; }
  void SetIcon(const QIcon& icon);
  const TImageList* ImageList() const { return imageList_; }
  void SetImageList(const TImageList* list);
  int32_t ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int32_t index);
  int32_t IconID() const { return iconId_; }
  void SetIconID(int32_t id);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  // UTF-8; kept to at most 63 bytes of code page 936 text, never half a character.
  std::string Hint() const;
  void SetHint(const std::string& utf8);
  QMenu* PopupMenu() const { return popupMenu_.data(); }
  // Freeing the menu clears the reference by itself.
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }

  TMouseEvent OnMouseDown, OnMouseUp;
  TNotifyEvent OnClick, OnDblClick, OnPopupMenu, OnShow, OnHide;

  // The owner has set the stored properties.
  void Loaded();
  // The hidden window's procedure.
  intptr_t HandleIconMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  // Sends the current icon and tip to the shell.
  void UpDate();

  uint32_t Flags() const { return flags_; }
  TNotifyIconData FillNotifyData() const;

 private:
  void AddToTaskbar();
  void DeleteFromTaskbar();
  void Notify(uint32_t message, const char* failure);
  void ImageChanged();
  void ShowIcon();
  void HideIcon();
  void MouseDown(TMouseButton button, TShiftState shift, QPoint at);
  void MouseUp(TMouseButton button, TShiftState shift, QPoint at);
  void Click();
  void DblClick();
  void DoPopupMenu();

  TTrayShell& shell_;
  std::string name_;
  QIcon icon_;
  const TImageList* imageList_ = nullptr;
  int32_t imageIndex_ = 0;
  int32_t iconId_ = 0;
  uint32_t flags_ = NIF_MESSAGE | NIF_TIP;
  bool visible_ = false;
  bool enabled_ = true;
  std::string hintCp936_;
  bool leftPressed_ = false;
  QPointer<QMenu> popupMenu_;
  TWindowHandle window_ = 0;
};

// The first bytes of code page 936 text, at most maxBytes, ending on a character boundary.
std::string CutCp936(std::string_view text, size_t maxBytes);

}  // namespace qm::shell
