#include "support/scripted_dialogs.h"

namespace qm::test {
namespace {

template <class T, class Fallback>
T TakeFront(std::deque<T>& answers, Fallback fallback) {
  if (answers.empty()) return fallback;
  T answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

}  // namespace

void ScriptedDialogs::AnswerConfirm(bool yes) {
  std::lock_guard lock(mutex_);
  confirms_.push_back(yes);
}

void ScriptedDialogs::AnswerInput(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  inputs_.push_back(std::move(text));
}

void ScriptedDialogs::AnswerOpen(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  opens_.push_back(std::move(path));
}

void ScriptedDialogs::AnswerSave(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  saves_.push_back(std::move(path));
}

std::vector<ScriptedDialogs::Shown> ScriptedDialogs::History() const {
  std::lock_guard lock(mutex_);
  return history_;
}

std::vector<std::string> ScriptedDialogs::Messages() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& shown : history_) {
    if (shown.Kind == "information" || shown.Kind == "confirm" || shown.Kind == "message") {
      texts.push_back(shown.Text);
    }
  }
  return texts;
}

std::vector<std::string> ScriptedDialogs::Kinds() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> kinds;
  for (const auto& shown : history_) {
    if (shown.Kind != "pause") kinds.push_back(shown.Kind);
  }
  return kinds;
}

void ScriptedDialogs::ClearHistory() {
  std::lock_guard lock(mutex_);
  history_.clear();
}

void ScriptedDialogs::ShowInformation(const std::string& text) {
  std::lock_guard lock(mutex_);
  history_.push_back({"information", text, {}, {}, {}});
}

bool ScriptedDialogs::Confirm(const std::string& text) {
  std::lock_guard lock(mutex_);
  history_.push_back({"confirm", text, {}, {}, {}});
  return TakeFront(confirms_, false);
}

void ScriptedDialogs::ShowMessage(const std::string& text) {
  std::lock_guard lock(mutex_);
  history_.push_back({"message", text, {}, {}, {}});
}

std::optional<std::string> ScriptedDialogs::InputBox(const std::string& caption,
                                                     const std::string& prompt,
                                                     const std::string& initialText) {
  std::lock_guard lock(mutex_);
  history_.push_back({"input", prompt, {}, caption, initialText});
  return TakeFront(inputs_, std::optional<std::string>());
}

std::optional<std::string> ScriptedDialogs::OpenFile(const ui::FileDialogOptions& options) {
  std::lock_guard lock(mutex_);
  history_.push_back({"open", options.Title, options, {}, {}});
  auto path = TakeFront(opens_, std::optional<std::string>());
  if (path) *path = ui::ApplyDefaultExtension(*path, options.DefaultExtension);
  return path;
}

std::optional<std::string> ScriptedDialogs::SaveFile(const ui::FileDialogOptions& options) {
  std::lock_guard lock(mutex_);
  history_.push_back({"save", options.Title, options, {}, {}});
  auto path = TakeFront(saves_, std::optional<std::string>());
  if (path) *path = ui::ApplyDefaultExtension(*path, options.DefaultExtension);
  return path;
}

void ScriptedDialogs::PauseUi(int milliseconds) {
  std::lock_guard lock(mutex_);
  history_.push_back({"pause", std::to_string(milliseconds), {}, {}, {}});
}

}  // namespace qm::test
