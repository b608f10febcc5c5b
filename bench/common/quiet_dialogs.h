#pragma once
// Dialogs for a benchmark that drives the core unattended: every question is answered yes,
// input boxes are cancelled, and file dialogs give the one path chosen up front (or nothing).
#include <optional>
#include <string>
#include <utility>

#include "ui/dialogs.h"

namespace qm::bench {

class QuietDialogs : public qm::ui::Dialogs {
 public:
  QuietDialogs() = default;
  explicit QuietDialogs(std::string chosenFile) : chosenFile_(std::move(chosenFile)) {}

  void ShowInformation(const std::string&) override {}
  bool Confirm(const std::string&) override { return true; }
  void ShowMessage(const std::string&) override {}
  std::optional<std::string> InputBox(const std::string&, const std::string&,
                                      const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> OpenFile(const qm::ui::FileDialogOptions&) override {
    return chosenFile_;
  }
  std::optional<std::string> SaveFile(const qm::ui::FileDialogOptions&) override {
    return chosenFile_;
  }
  void PauseUi(int) override {}

 private:
  std::optional<std::string> chosenFile_;
};

}  // namespace qm::bench
