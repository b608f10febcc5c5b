#pragma once
// The modal interactions the core asks of the user. The shell implements them with Qt;
// tests use a scripted implementation that answers from a script and records what was shown.
#include <optional>
#include <string>

namespace qm::ui {

struct FileDialogOptions {
  std::string Title;
  // In the form "Text files(*.txt)|*.txt|All files(*.*)|*.*".
  std::string Filter;
  // Added to a chosen name that has no extension ("txt").
  std::string DefaultExtension;
  // The proposed file name; may be empty.
  std::string FileName;
  // The folder the dialog starts in; empty means the working directory.
  std::string InitialDir;
  // Ask before an existing file is replaced (save dialogs).
  bool ConfirmOverwrite = false;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Information box: caption "信息", information icon, one button "确定".
  virtual void ShowInformation(const std::string& text) = 0;
  // Confirmation box: caption "确认", question icon, "是[&Y]" / "否[&N]"; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // Plain message box: caption the application title, no icon, one button "确定".
  virtual void ShowMessage(const std::string& text) = 0;
  // Input box with OK and Cancel; the entered text, or nothing on Cancel.
  virtual std::optional<std::string> InputBox(const std::string& caption,
                                              const std::string& prompt,
                                              const std::string& initialText) = 0;
  // Open and save file dialogs: the chosen full path (default extension applied), or
  // nothing when the user cancels.
  virtual std::optional<std::string> OpenFile(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> SaveFile(const FileDialogOptions& options) = 0;
  // Pauses the UI thread: the windows keep painting but take no input.
  virtual void PauseUi(int milliseconds) = 0;
};

// A chosen name without an extension gets ".ext" added.
std::string ApplyDefaultExtension(const std::string& path, const std::string& extension);

}  // namespace qm::ui
