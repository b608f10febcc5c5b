#pragma once
// TForm2, the About dialog: product name, version, the banner and links to the maker.
#include <QDialog>

#include "shell/hyperlink_label.h"

class QFrame;
class QLabel;
class QPushButton;

namespace qm::shell {

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr, UrlOpener opener = DesktopUrlOpener());

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Image1;
  THyperLinkLabel* HyperLink1;
  THyperLinkLabel* HyperLink3;
  THyperLinkLabel* HyperLink2;
  QPushButton* OKButton;

  void OKButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace qm::shell
