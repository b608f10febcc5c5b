#pragma once
// The main window's dialogs without a window: every message goes to standard error and
// counts as a failure of the command; the input box answers from the command line.
#include <atomic>
#include <optional>
#include <string>

#include "ui/dialogs.h"

namespace qm::cli {

class ConsoleDialogs : public ui::Dialogs {
 public:
  // The answer of every input box; none means Cancel.
  void SetInputAnswer(std::optional<std::string> answer) { inputAnswer_ = std::move(answer); }
  // True once a message has been shown.
  bool MessageShown() const { return messageShown_.load(); }

  void ShowInformation(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initialText) override;
  std::optional<std::string> OpenFile(const ui::FileDialogOptions& options) override;
  std::optional<std::string> SaveFile(const ui::FileDialogOptions& options) override;
  // Nobody watches the hint line here, so the pauses that let it be read are skipped.
  void PauseUi(int milliseconds) override;

 private:
  void Message(const std::string& text);

  std::optional<std::string> inputAnswer_;
  std::atomic<bool> messageShown_{false};
};

}  // namespace qm::cli
