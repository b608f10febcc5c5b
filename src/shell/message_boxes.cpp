#include "shell/message_boxes.h"

#include <QPushButton>

#include "shell/app_title.h"

namespace qm::shell {
namespace {

std::unique_ptr<QMessageBox> MakeBox(QWidget* parent, const QString& caption,
                                     QMessageBox::Icon icon, const QString& text) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(caption);
  box->setIcon(icon);
  box->setText(text);
  box->setTextFormat(Qt::PlainText);
  box->setObjectName("MessageBox");
  return box;
}

void AddOk(QMessageBox& box) {
  QPushButton* ok = box.addButton(QString::fromUtf8("确定"), QMessageBox::AcceptRole);
  ok->setObjectName(kOkButtonName);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
}

}  // namespace

std::unique_ptr<QMessageBox> MakeInformationBox(QWidget* parent, const QString& text) {
  auto box = MakeBox(parent, QString::fromUtf8("信息"), QMessageBox::Information, text);
  AddOk(*box);
  return box;
}

std::unique_ptr<QMessageBox> MakeConfirmationBox(QWidget* parent, const QString& text) {
  auto box = MakeBox(parent, QString::fromUtf8("确认"), QMessageBox::Question, text);
  QPushButton* yes = box->addButton(QString::fromUtf8("是[&Y]"), QMessageBox::YesRole);
  yes->setObjectName(kYesButtonName);
  QPushButton* no = box->addButton(QString::fromUtf8("否[&N]"), QMessageBox::NoRole);
  no->setObjectName(kNoButtonName);
  box->setDefaultButton(yes);
  box->setEscapeButton(no);
  return box;
}

std::unique_ptr<QMessageBox> MakePlainMessageBox(QWidget* parent, const QString& text) {
  auto box = MakeBox(parent, QString::fromUtf8(kApplicationTitle), QMessageBox::NoIcon, text);
  AddOk(*box);
  return box;
}

std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const QString& text) {
  auto box = MakeBox(parent, QString::fromUtf8(kApplicationTitle), QMessageBox::Critical, text);
  AddOk(*box);
  return box;
}

bool AnsweredYes(const QMessageBox& box) {
  const QAbstractButton* clicked = box.clickedButton();
  return clicked != nullptr && clicked->objectName() == QLatin1String(kYesButtonName);
}

}  // namespace qm::shell
