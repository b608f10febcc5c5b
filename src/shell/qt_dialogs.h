#pragma once
// The modal interactions of the core, with Qt widgets. Calls from a worker thread are carried
// out on the GUI thread while the worker waits.
#include <QFileDialog>
#include <QInputDialog>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "ui/dialogs.h"

namespace qm::shell {

// "Text files(*.txt)|*.txt|All files(*.*)|*.*" -> {"Text files(*.txt) (*.txt)", ...}; a
// pattern list "*.htm;*.html" becomes "*.htm *.html". A trailing name without a pattern is
// dropped.
QStringList ConvertFileFilter(const std::string& filter);
// The extension of a converted filter entry with one pattern ("CSV UTF-8(*.csv)" -> "csv");
// empty for "*.*" and pattern lists. Choosing that entry makes it the default suffix.
QString FilterExtension(const QString& nameFilter);

// The file dialogs, built apart from showing them so that tests can inspect them.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const ui::FileDialogOptions& options,
                                            bool save);
std::unique_ptr<QInputDialog> MakeInputBox(QWidget* parent, const std::string& caption,
                                           const std::string& prompt,
                                           const std::string& initialText);

class QtDialogs : public ui::Dialogs {
 public:
  // Boxes are centred on this window while it is shown.
  void SetParentWindow(QWidget* window) { parent_ = window; }

  void ShowInformation(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initialText) override;
  std::optional<std::string> OpenFile(const ui::FileDialogOptions& options) override;
  std::optional<std::string> SaveFile(const ui::FileDialogOptions& options) override;
  // On the GUI thread: runs the event loop for that long, painting and delivering queued
  // work but holding back the user's input. On any other thread: sleeps.
  void PauseUi(int milliseconds) override;

 private:
  QWidget* Parent() const;
  std::optional<std::string> RunFileDialog(const ui::FileDialogOptions& options, bool save);

  QPointer<QWidget> parent_;
};

}  // namespace qm::shell
