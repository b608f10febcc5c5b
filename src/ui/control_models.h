#pragma once
// Thread-safe models of the window controls the core reads and writes. A setter stores the
// value under a lock and tells the window's notifier; it never waits for the GUI. The shell
// renders the models and writes user edits back into them.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "ui/change_notifier.h"

namespace qm::ui {

template <class T>
class Property {
 public:
  Property(ChangeNotifier& notifier, T initial) : notifier_(notifier), value_(std::move(initial)) {}
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;

  T Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void Set(T value) {
    {
      std::lock_guard lock(mutex_);
      if (value_ == value) return;
      value_ = std::move(value);
    }
    notifier_.Changed();
  }

 private:
  ChangeNotifier& notifier_;
  mutable std::mutex mutex_;
  T value_;
};

// A label's caption (UTF-8).
class TLabelModel {
 public:
  TLabelModel(ChangeNotifier& n, std::string caption = {}) : caption_(n, std::move(caption)) {}
  std::string Caption() const { return caption_.Get(); }
  void SetCaption(std::string text) { caption_.Set(std::move(text)); }

 private:
  Property<std::string> caption_;
};

// A button or menu item: only its enabled state matters to the core.
class TButtonModel {
 public:
  TButtonModel(ChangeNotifier& n, bool enabled = true) : enabled_(n, enabled) {}
  bool Enabled() const { return enabled_.Get(); }
  void SetEnabled(bool enabled) { enabled_.Set(enabled); }

 private:
  Property<bool> enabled_;
};
using TMenuItemModel = TButtonModel;

// Lock-free: the workers read the three collect boxes for every line of every page.
class TCheckBoxModel {
 public:
  TCheckBoxModel(ChangeNotifier& n, bool checked = false) : notifier_(n), checked_(checked) {}
  TCheckBoxModel(const TCheckBoxModel&) = delete;
  TCheckBoxModel& operator=(const TCheckBoxModel&) = delete;
  bool Checked() const { return checked_.load(std::memory_order_relaxed); }
  void SetChecked(bool checked) {
    if (checked_.exchange(checked, std::memory_order_relaxed) != checked) notifier_.Changed();
  }

 private:
  ChangeNotifier& notifier_;
  std::atomic<bool> checked_;
};

// A one-line edit field (UTF-8 text).
class TEditModel {
 public:
  TEditModel(ChangeNotifier& n, std::string text = {}) : text_(n, std::move(text)) {}
  std::string Text() const { return text_.Get(); }
  void SetText(std::string text) { text_.Set(std::move(text)); }

 private:
  Property<std::string> text_;
};

// A spin box over a range (the thread count's is 1 to 4). Its value is its text read as a
// decimal integer, or the range's minimum when the text is not one; a typed value is brought
// into range only when the box loses the focus (the shell calls ClampToRange then).
class TSpinEditModel {
 public:
  TSpinEditModel(ChangeNotifier& n, int32_t minValue = 1, int32_t maxValue = 4,
                 int32_t initial = 1)
      : minValue_(minValue), maxValue_(maxValue), text_(n, std::to_string(initial)) {}
  std::string Text() const { return text_.Get(); }
  void SetText(std::string text) { text_.Set(std::move(text)); }
  int32_t Value() const;
  int32_t MinValue() const { return minValue_; }
  int32_t MaxValue() const { return maxValue_; }
  // Sets the value brought into the range.
  void SetValue(int32_t value);
  void ClampToRange() { SetValue(Value()); }

 private:
  const int32_t minValue_;
  const int32_t maxValue_;
  Property<std::string> text_;
};

// The main window's status bar: six panels of text, and two more for the failed addresses.
class TStatusBarModel {
 public:
  // Captions and counts: e-mail, mobile, QQ, failed addresses, WeChat, telephone.
  static constexpr int kPanelCount = 12;
  explicit TStatusBarModel(ChangeNotifier& n);
  std::string Panel(int index) const;
  void SetPanel(int index, std::string text);

 private:
  ChangeNotifier& notifier_;
  mutable std::mutex mutex_;
  std::array<std::string, kPanelCount> panels_;
};

class TProgressBarModel {
 public:
  TProgressBarModel(ChangeNotifier& n) : position_(n, 0), max_(n, 0) {}
  int32_t Position() const { return position_.Get(); }
  void SetPosition(int32_t v) { position_.Set(v); }
  int32_t Max() const { return max_.Get(); }
  void SetMax(int32_t v) { max_.Set(v); }

 private:
  Property<int32_t> position_;
  Property<int32_t> max_;
};

// A window's visibility and stay-on-top style.
class TWindowModel {
 public:
  TWindowModel(ChangeNotifier& n, bool visible, bool stayOnTop = false)
      : visible_(n, visible), stayOnTop_(n, stayOnTop) {}
  bool Visible() const { return visible_.Get(); }
  void SetVisible(bool v) { visible_.Set(v); }
  bool StayOnTop() const { return stayOnTop_.Get(); }
  void SetStayOnTop(bool v) { stayOnTop_.Set(v); }

 private:
  Property<bool> visible_;
  Property<bool> stayOnTop_;
};

}  // namespace qm::ui
