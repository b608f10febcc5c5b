#pragma once
// A Dialogs that answers from a script and records everything that was shown, so that
// every handler runs unattended in a test.
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialogs.h"

namespace qm::test {

class ScriptedDialogs : public ui::Dialogs {
 public:
  struct Shown {
    std::string Kind;  // "information", "confirm", "message", "input", "open", "save", "pause"
    std::string Text;  // the message, the input prompt, or the file dialog's title
    ui::FileDialogOptions FileOptions;  // for "open" and "save"
    std::string InputCaption;           // for "input"
    std::string InputInitial;           // for "input"
  };

  // Answers, taken in order by the matching kind of dialog. A dialog with no answer left
  // gives: Confirm false, InputBox/OpenFile/SaveFile nothing (Cancel).
  void AnswerConfirm(bool yes);
  void AnswerInput(std::optional<std::string> text);
  void AnswerOpen(std::optional<std::string> path);
  void AnswerSave(std::optional<std::string> path);

  // Everything shown so far, in order (pauses included).
  std::vector<Shown> History() const;
  // The texts of the message boxes shown so far (information, confirmation and plain).
  std::vector<std::string> Messages() const;
  // The kinds of every dialog shown so far, pauses excluded.
  std::vector<std::string> Kinds() const;
  void ClearHistory();

  void ShowInformation(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initialText) override;
  std::optional<std::string> OpenFile(const ui::FileDialogOptions& options) override;
  std::optional<std::string> SaveFile(const ui::FileDialogOptions& options) override;
  // Records the pause and returns at once: tests do not wait for it.
  void PauseUi(int milliseconds) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Shown> history_;
  std::deque<bool> confirms_;
  std::deque<std::optional<std::string>> inputs_;
  std::deque<std::optional<std::string>> opens_;
  std::deque<std::optional<std::string>> saves_;
};

}  // namespace qm::test
