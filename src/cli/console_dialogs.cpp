#include "cli/console_dialogs.h"

#include <cstdio>

namespace qm::cli {

void ConsoleDialogs::Message(const std::string& text) {
  std::fprintf(stderr, "qmharvest-cli: %s\n", text.c_str());
  messageShown_.store(true);
}

void ConsoleDialogs::ShowInformation(const std::string& text) {
  Message(text);
}
void ConsoleDialogs::ShowMessage(const std::string& text) {
  Message(text);
}

bool ConsoleDialogs::Confirm(const std::string& text) {
  Message(text);
  return false;
}

std::optional<std::string> ConsoleDialogs::InputBox(const std::string&, const std::string&,
                                                    const std::string&) {
  return inputAnswer_;
}

std::optional<std::string> ConsoleDialogs::OpenFile(const ui::FileDialogOptions&) {
  return std::nullopt;
}

std::optional<std::string> ConsoleDialogs::SaveFile(const ui::FileDialogOptions&) {
  return std::nullopt;
}

void ConsoleDialogs::PauseUi(int) {}

}  // namespace qm::cli
