#pragma once
// The program's message boxes, built by functions so that a test can inspect a box or press
// its buttons by object name without a user.
#include <QMessageBox>
#include <QString>
#include <memory>

namespace qm::shell {

// Object names of the buttons, for tests.
inline constexpr const char* kOkButtonName = "OKButton";
inline constexpr const char* kYesButtonName = "YesButton";
inline constexpr const char* kNoButtonName = "NoButton";

// Information box: caption "信息", information icon, one button "确定".
std::unique_ptr<QMessageBox> MakeInformationBox(QWidget* parent, const QString& text);
// Confirmation box: caption "确认", question icon, "是[&Y]" and "否[&N]".
std::unique_ptr<QMessageBox> MakeConfirmationBox(QWidget* parent, const QString& text);
// Plain message box: caption the application title, no icon, one button "确定".
std::unique_ptr<QMessageBox> MakePlainMessageBox(QWidget* parent, const QString& text);
// Error box: caption the application title, stop icon, one button "确定"; the text as given.
std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const QString& text);

// True when the box was answered with its Yes button.
bool AnsweredYes(const QMessageBox& box);

}  // namespace qm::shell
