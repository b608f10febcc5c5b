#include "shell/generator_window.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QToolButton>

#include "shell/error_box.h"
#include "shell/pictures.h"
#include "shell/placed_label.h"
#include "shell/window_placement.h"
#include "urllists/generator_form.h"

namespace qm::shell {
namespace {

QToolButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(QString::fromUtf8(text));
  button->setIcon(PictureIcon(QStringLiteral("glyph_generate")));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(left, top, 209, 25);
  return button;
}

}  // namespace

TbbsFormWindow::TbbsFormWindow(TbbsForm& core, QWidget* parent) : QDialog(parent), core_(core) {
  setObjectName("TbbsForm");
  setWindowTitle(QString::fromUtf8("生成URL页面地址列表"));
  // Without the customize hint the window manager is offered its default buttons as well.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(546, 238);
  QFont simSun(QString::fromUtf8("宋体"));
  simSun.setPixelSize(12);
  setFont(simSun);

  Label1 = MakeLabel(this, "Label1", "页面总数", 16, 16);
  Label2 = MakeLabel(this, "Label2", "", 72, 32);
  SpeedButton1 = MakeButton(this, "SpeedButton1", "生成URL页面地址列表[一组计数]", 184, 8);
  Label15 = MakeLabel(this, "Label15", "增长率", 456, 16);
  Label3 = MakeLabel(this, "Label3", "URL网址前缀", 48, 48);
  Label4 = MakeLabel(this, "Label4", "初始计数", 160, 48);
  Label5 = MakeLabel(this, "Label5", "结束计数", 248, 48);
  Label6 = MakeLabel(this, "Label6", "URL网址后缀", 384, 48);
  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  Bevel1->setGeometry(16, 96, 513, 2);
  Label7 = MakeLabel(this, "Label7", "", 16, 120);
  SpeedButton2 = MakeButton(this, "SpeedButton2", "生成URL页面地址列表[两组计数]", 184, 120);
  Label8 = MakeLabel(this, "Label8", "URL网址前段", 16, 160);
  Label9 = MakeLabel(this, "Label9", "初始计数", 112, 160);
  Label10 = MakeLabel(this, "Label10", "结束计数", 168, 160);
  Label12 = MakeLabel(this, "Label12", "URL网址中部", 232, 160);
  Label13 = MakeLabel(this, "Label13", "初始计数", 320, 160);
  Label14 = MakeLabel(this, "Label14", "结束计数", 376, 160);
  Label11 = MakeLabel(this, "Label11", "URL网址后段", 448, 160);

  // Created in tab order.
  Edit1 = AddEdit("Edit1", core_.Edit1, 16, 72, 121);
  Edit2 = AddEdit("Edit2", core_.Edit2, 152, 72, 73);
  Edit3 = AddEdit("Edit3", core_.Edit3, 240, 72, 73);
  Edit4 = AddEdit("Edit4", core_.Edit4, 328, 72, 201);
  Edit5 = AddEdit("Edit5", core_.Edit5, 16, 184, 89);
  Edit6 = AddEdit("Edit6", core_.Edit6, 112, 184, 49);
  Edit7 = AddEdit("Edit7", core_.Edit7, 168, 183, 49);
  Edit8 = AddEdit("Edit8", core_.Edit8, 440, 184, 89);
  Edit9 = AddEdit("Edit9", core_.Edit9, 224, 183, 89);
  Edit10 = AddEdit("Edit10", core_.Edit10, 320, 183, 49);
  Edit11 = AddEdit("Edit11", core_.Edit11, 376, 184, 49);
  Edit12 = AddEdit("Edit12", core_.Edit12, 496, 12, 33);
  QWidget* previous = Edit1;
  for (QLineEdit* next :
       {Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Edit10, Edit11, Edit12}) {
    setTabOrder(previous, next);
    previous = next;
  }

  connect(SpeedButton1, &QToolButton::clicked, this,
          [this] { RunGuarded([this] { core_.SpeedButton1Click(); }); });
  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { RunGuarded([this] { core_.SpeedButton2Click(); }); });

  sinceRepaint_.start();
  core_.Changes.SetListener([this] { Changed(); });
  Refresh();
}

TbbsFormWindow::~TbbsFormWindow() {
  core_.Changes.SetListener({});
}

QLineEdit* TbbsFormWindow::AddEdit(const char* name, ui::TEditModel& model, int left, int top,
                                   int width) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  edit->setGeometry(left, top, width, 21);
  edit->setText(QString::fromStdString(model.Text()));
  connect(edit, &QLineEdit::textChanged, this,
          [&model](const QString& text) { model.SetText(text.toStdString()); });
  edits_[edit] = &model;
  return edit;
}

void TbbsFormWindow::Changed() {
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
    return;
  }
  // A generation runs on this thread and does not return to the event loop between lines:
  // the count labels are repainted from here, a few times a second, so the total grows
  // visibly without a repaint per line.
  core_.Changes.Acknowledge();
  if (sinceRepaint_.elapsed() >= 40) {
    Refresh();
    Label2->repaint();
    Label7->repaint();
    sinceRepaint_.restart();
  } else if (!refreshQueued_) {
    refreshQueued_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
  }
}

void TbbsFormWindow::Refresh() {
  refreshQueued_ = false;
  core_.Changes.Acknowledge();
  for (auto [edit, model] : edits_) {
    const QString text = QString::fromStdString(model->Text());
    if (edit->text() != text) edit->setText(text);
  }
  const QString label2 = QString::fromStdString(core_.Label2.Caption());
  if (Label2->text() != label2) {
    Label2->setText(label2);
    Label2->adjustSize();
  }
  const QString label7 = QString::fromStdString(core_.Label7.Caption());
  if (Label7->text() != label7) {
    Label7->setText(label7);
    Label7->adjustSize();
  }
}

void TbbsFormWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreWindow(*this, TPlacement::DesktopCentre);
}

}  // namespace qm::shell
