#pragma once
// TForm3, the wait dialog shown while the workers finish their pages after a stop. Closing
// it by hand ends the run at once and saves the progress.
#include <QDialog>

class QProgressBar;

namespace qm {
class TForm1;
}

namespace qm::shell {

class TForm3Window : public QDialog {
  Q_OBJECT
 public:
  TForm3Window(TForm1& core, QWidget* parent = nullptr);

  QProgressBar* ProgressBar1;

  // Reads the wait dialog's models (on the GUI thread).
  void Refresh();
  // The stay-on-top style, kept while the dialog is hidden or shown.
  void SetStayOnTop(bool stayOnTop);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  TForm1& core_;
};

}  // namespace qm::shell
