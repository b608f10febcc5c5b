#include "ui/control_models.h"

#include <algorithm>

#include "text/integer_syntax.h"

namespace qm::ui {

int32_t TSpinEditModel::Value() const {
  // The box reads its text as a plain decimal integer; anything else counts as the minimum.
  const std::string text = Text();
  if (text.empty() || text.find_first_of("$xX") != std::string::npos) return minValue_;
  return ParseInteger(text).value_or(minValue_);
}

void TSpinEditModel::SetValue(int32_t value) {
  SetText(std::to_string(std::clamp(value, minValue_, maxValue_)));
}

TStatusBarModel::TStatusBarModel(ChangeNotifier& n) : notifier_(n) {}

std::string TStatusBarModel::Panel(int index) const {
  std::lock_guard lock(mutex_);
  return panels_.at(static_cast<size_t>(index));
}

void TStatusBarModel::SetPanel(int index, std::string text) {
  {
    std::lock_guard lock(mutex_);
    auto& panel = panels_.at(static_cast<size_t>(index));
    if (panel == text) return;
    panel = std::move(text);
  }
  notifier_.Changed();
}

}  // namespace qm::ui
