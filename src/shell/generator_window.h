#pragma once
// The URL list generator window (TbbsForm) over its core: the fields, the two generation
// buttons and the count labels, which grow visibly while a list is written.
#include <QDialog>
#include <QElapsedTimer>
#include <map>

class QLabel;
class QLineEdit;
class QToolButton;
class QFrame;

namespace qm {
class TbbsForm;
namespace ui {
class TEditModel;
}
}  // namespace qm

namespace qm::shell {

class TbbsFormWindow : public QDialog {
  Q_OBJECT
 public:
  TbbsFormWindow(TbbsForm& core, QWidget* parent = nullptr);
  ~TbbsFormWindow() override;

  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10,
      *Label11, *Label12, *Label13, *Label14, *Label15;
  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6, *Edit7, *Edit8, *Edit9, *Edit10,
      *Edit11, *Edit12;
  QToolButton *SpeedButton1, *SpeedButton2;
  QFrame* Bevel1;

  // Reads the models into the widgets (on the GUI thread).
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* AddEdit(const char* name, ui::TEditModel& model, int left, int top, int width);
  void Changed();

  TbbsForm& core_;
  std::map<QLineEdit*, ui::TEditModel*> edits_;
  QElapsedTimer sinceRepaint_;
  bool refreshQueued_ = false;
};

}  // namespace qm::shell
