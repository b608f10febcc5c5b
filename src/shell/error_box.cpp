#include "shell/error_box.h"

#include <exception>
#include <mutex>

#include "shell/message_boxes.h"

namespace qm::shell {
namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}
ErrorBoxSink& Sink() {
  static ErrorBoxSink sink;
  return sink;
}

void Report(const QString& message) {
  ErrorBoxSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
  }
  if (sink) {
    sink(ErrorBoxText(message));
    return;
  }
  ShowErrorBox(QApplication::activeWindow(), message);
}

}  // namespace

QString ErrorBoxText(const QString& message) {
  if (message.isEmpty()) return message;
  // The last whole character: a surrogate pair sorts after "." as well.
  if (message.back().unicode() > u'.') return message + u'.';
  return message;
}

QString ErrorBoxText(const std::string& utf8Message) {
  return ErrorBoxText(QString::fromUtf8(utf8Message.data(), qsizetype(utf8Message.size())));
}

void ShowErrorBox(QWidget* parent, const QString& message) {
  MakeErrorBox(parent, ErrorBoxText(message))->exec();
}

void ReportError(const QString& message) {
  Report(message);
}

void SetErrorBoxSink(ErrorBoxSink sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

bool RunGuarded(const std::function<void()>& handler) {
  QString message;
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
  } catch (...) {
    message = QStringLiteral("Unknown error");
  }
  Report(message);
  return false;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  RunGuarded([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace qm::shell
