#include "shell/tray_icon.h"

#include <algorithm>
#include <cstring>

#include "text/cp936.h"

namespace qm::shell {

std::string TNotifyIconData::TipBytes() const {
  const auto end = std::find(Tip.begin(), Tip.end(), '\0');
  return std::string(Tip.begin(), end);
}

std::string CutCp936(std::string_view text, size_t maxBytes) {
  size_t i = 0;
  while (i < text.size()) {
    const bool pair = IsCp936LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
    const size_t width = pair ? 2 : 1;
    if (i + width > maxBytes) break;
    i += width;
  }
  return std::string(text.substr(0, i));
}

TTrayIcon::TTrayIcon(TTrayShell& shell, std::string name) : shell_(shell), name_(std::move(name)) {
  window_ = shell_.CreateHiddenWindow([this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return HandleIconMessage(message, wParam, lParam);
  });
}

TTrayIcon::~TTrayIcon() {
  try {
    SetVisible(false);
  } catch (...) {
    // Nothing can be shown from a destructor; the shell forgets the icon with the window.
  }
  shell_.DestroyHiddenWindow(window_);
}

void TTrayIcon::SetIcon(const QIcon& icon) {
  icon_ = icon;
  UpDate();
}

void TTrayIcon::SetImageList(const TImageList* list) {
  imageList_ = list;
  ImageChanged();
}

void TTrayIcon::SetImageIndex(int32_t index) {
  imageIndex_ = index;
  ImageChanged();
}

void TTrayIcon::SetIconID(int32_t id) {
  if (id == iconId_) return;
  const bool wasVisible = visible_;
  SetVisible(false);
  iconId_ = id;
  SetVisible(wasVisible);
}

void TTrayIcon::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (visible)
    ShowIcon();
  else
    HideIcon();
}

std::string TTrayIcon::Hint() const {
  return Cp936ToUtf8(hintCp936_);
}

void TTrayIcon::SetHint(const std::string& utf8) {
  hintCp936_ = CutCp936(Utf8ToCp936(utf8), kMaxHintBytes);
  UpDate();
}

void TTrayIcon::Loaded() {
  if (visible_) ShowIcon();
}

TNotifyIconData TTrayIcon::FillNotifyData() const {
  TNotifyIconData data;
  data.cbSize = 88;
  data.Wnd = window_;
  data.ID = static_cast<uint32_t>(iconId_);
  data.Flags = flags_;
  data.CallbackMessage = kCallbackMessage;
  data.Icon = icon_;
  const size_t n = std::min(hintCp936_.size(), data.Tip.size() - 1);
  std::memcpy(data.Tip.data(), hintCp936_.data(), n);
  data.Tip[n] = '\0';
  return data;
}

void TTrayIcon::Notify(uint32_t message, const char* failure) {
  try {
    // The shell's answer is not examined: an icon that is not in the tray simply stays away.
    shell_.ShellNotifyIcon(message, FillNotifyData());
  } catch (...) {
    throw ETrayIcon(name_ + failure);
  }
}

void TTrayIcon::UpDate() {
  Notify(NIM_MODIFY, ".UpDate failed");
}
void TTrayIcon::AddToTaskbar() {
  Notify(NIM_ADD, ".AddToTaskbar failed");
}
void TTrayIcon::DeleteFromTaskbar() {
  Notify(NIM_DELETE, ".DeleteFromTaskbar failed");
}

void TTrayIcon::ImageChanged() {
  if (imageList_ == nullptr) return;
  icon_ = QIcon();
  if (imageIndex_ >= 0 && static_cast<size_t>(imageIndex_) < imageList_->size())
    icon_ = (*imageList_)[static_cast<size_t>(imageIndex_)];
  UpDate();
}

void TTrayIcon::ShowIcon() {
  flags_ |= NIF_ICON;
  AddToTaskbar();
  visible_ = true;
  if (OnShow) OnShow(*this);
}

void TTrayIcon::HideIcon() {
  flags_ &= ~NIF_ICON;
  DeleteFromTaskbar();
  visible_ = false;
  if (OnHide) OnHide(*this);
}

intptr_t TTrayIcon::HandleIconMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message != kCallbackMessage || !enabled_)
    return shell_.DefWindowProc(window_, message, wParam, lParam);
  const QPoint at = shell_.CursorPos();
  const TShiftState shift = shell_.KeyState() & (ssShift | ssCtrl | ssAlt);
  switch (static_cast<uint32_t>(lParam)) {
    case WM_LBUTTONDOWN:
      leftPressed_ = true;
      MouseDown(TMouseButton::mbLeft, shift | ssLeft, at);
      break;
    case WM_LBUTTONUP:
      MouseUp(TMouseButton::mbLeft, shift | ssLeft, at);
      if (leftPressed_) Click();
      leftPressed_ = false;
      break;
    case WM_LBUTTONDBLCLK:
      DblClick();
      break;
    case WM_RBUTTONDOWN:
      shell_.SetForegroundWindow(window_);
      MouseDown(TMouseButton::mbRight, shift | ssRight, at);
      break;
    case WM_RBUTTONUP:
      DoPopupMenu();
      MouseUp(TMouseButton::mbRight, shift | ssRight, at);
      break;
    default:
      break;
  }
  return 0;
}

void TTrayIcon::MouseDown(TMouseButton button, TShiftState shift, QPoint at) {
  if (OnMouseDown) OnMouseDown(*this, button, shift, at.x(), at.y());
}

void TTrayIcon::MouseUp(TMouseButton button, TShiftState shift, QPoint at) {
  shell_.SetForegroundWindow(shell_.ApplicationWindow());
  if (OnMouseUp) OnMouseUp(*this, button, shift, at.x(), at.y());
}

void TTrayIcon::Click() {
  if (OnClick) OnClick(*this);
}

void TTrayIcon::DblClick() {
  if (OnDblClick) OnDblClick(*this);
}

void TTrayIcon::DoPopupMenu() {
  QMenu* menu = popupMenu_.data();
  if (menu == nullptr) return;
  shell_.PopupMenu(*menu, shell_.CursorPos());
  shell_.PostMessage(window_, WM_NULL, 0, 0);
  if (OnPopupMenu) OnPopupMenu(*this);
}

}  // namespace qm::shell
