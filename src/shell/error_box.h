#pragma once
// The one place where an exception that escaped a handler is shown: the error box, after
// which the program goes on.
#include <QApplication>
#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace qm::shell {

// The error text as the box shows it: a full stop is added when the last character sorts
// after "." (letters, digits, Chinese characters); compared as characters, not bytes.
QString ErrorBoxText(const QString& message);
QString ErrorBoxText(const std::string& utf8Message);

// Shows the error box for a message (modal).
void ShowErrorBox(QWidget* parent, const QString& message);
// Shows a failure that no handler raised as an escaped exception is shown (through the
// sink when one is installed).
void ReportError(const QString& message);

// Where the error box is shown instead of on screen; tests install one to see the texts.
using ErrorBoxSink = std::function<void(const QString& boxText)>;
void SetErrorBoxSink(ErrorBoxSink sink);

// Runs a handler; an exception escaping it ends only the handler and is shown in the error
// box. Returns false when one did.
bool RunGuarded(const std::function<void()>& handler);

// Catches what escapes event handlers that are not wrapped in RunGuarded.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace qm::shell
