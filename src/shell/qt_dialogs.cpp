#include "shell/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <thread>

#include "shell/message_boxes.h"

namespace qm::shell {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

bool OnGuiThread() {
  return QCoreApplication::instance() != nullptr &&
         QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs `work` on the GUI thread and returns its result; the calling thread waits.
template <class Result, class Work>
Result OnGui(Work work) {
  if (OnGuiThread()) return work();
  Result result{};
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { result = work(); }, Qt::BlockingQueuedConnection);
  return result;
}

QStringList SplitPatterns(const QString& patterns) {
  QStringList out;
  for (const QString& p : patterns.split(';', Qt::SkipEmptyParts)) out << p.trimmed();
  return out;
}

}  // namespace

QString FilterExtension(const QString& nameFilter) {
  const qsizetype open = nameFilter.lastIndexOf(QStringLiteral("(*."));
  if (open < 0 || !nameFilter.endsWith(QLatin1Char(')'))) return {};
  const QString extension = nameFilter.mid(open + 3, nameFilter.size() - open - 4);
  for (QChar c : extension) {
    if (!c.isLetterOrNumber()) return {};
  }
  return extension;
}

QStringList ConvertFileFilter(const std::string& filter) {
  const QStringList parts = Text(filter).split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = SplitPatterns(parts[i + 1]);
    if (patterns.isEmpty()) continue;
    // A description that ends in its own patterns in brackets is a whole name filter already;
    // a second bracket would show the patterns twice.
    const QString& description = parts[i];
    const qsizetype open = description.lastIndexOf('(');
    if (open >= 0 && description.trimmed().endsWith(')')) {
      const QString inside = description.mid(open + 1).trimmed().chopped(1);
      if (SplitPatterns(QString(inside).replace(' ', ';')) == patterns) {
        out << description.trimmed();
        continue;
      }
    }
    out << QStringLiteral("%1 (%2)").arg(description, patterns.join(' '));
  }
  return out;
}

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const ui::FileDialogOptions& options,
                                            bool save) {
  auto dialog = std::make_unique<QFileDialog>(parent, Text(options.Title));
  dialog->setObjectName(save ? "SaveDialog" : "OpenDialog");
  // One look on every platform, and no desktop portal that a test cannot reach.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  dialog->setOption(QFileDialog::DontConfirmOverwrite, !(save && options.ConfirmOverwrite));
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // A typed name need not exist for the open dialog either.
  dialog->setFileMode(QFileDialog::AnyFile);
  const QStringList filters = ConvertFileFilter(options.Filter);
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  dialog->setDefaultSuffix(Text(options.DefaultExtension));
  // Choosing a file type gives a name typed without an extension that type's extension.
  QObject::connect(dialog.get(), &QFileDialog::filterSelected, dialog.get(),
                   [d = dialog.get(), fallback = Text(options.DefaultExtension)](const QString& type) {
                     const QString extension = FilterExtension(type);
                     d->setDefaultSuffix(extension.isEmpty() ? fallback : extension);
                   });
  dialog->setDirectory(options.InitialDir.empty() ? QDir::currentPath() : Text(options.InitialDir));
  if (!options.FileName.empty()) dialog->selectFile(Text(options.FileName));
  dialog->setSizeGripEnabled(true);
  return dialog;
}

std::unique_ptr<QInputDialog> MakeInputBox(QWidget* parent, const std::string& caption,
                                           const std::string& prompt,
                                           const std::string& initialText) {
  auto box = std::make_unique<QInputDialog>(parent);
  box->setObjectName("InputBox");
  box->setInputMode(QInputDialog::TextInput);
  box->setWindowTitle(Text(caption));
  box->setLabelText(Text(prompt));
  box->setTextValue(Text(initialText));
  box->setOkButtonText(QString::fromUtf8("确定"));
  box->setCancelButtonText(QString::fromUtf8("取消"));
  return box;
}

QWidget* QtDialogs::Parent() const {
  QWidget* parent = parent_.data();
  return parent != nullptr && parent->isVisible() ? parent : nullptr;
}

void QtDialogs::ShowInformation(const std::string& text) {
  OnGui<int>([&] { return MakeInformationBox(Parent(), Text(text))->exec(); });
}

bool QtDialogs::Confirm(const std::string& text) {
  return OnGui<bool>([&] {
    auto box = MakeConfirmationBox(Parent(), Text(text));
    box->exec();
    return AnsweredYes(*box);
  });
}

void QtDialogs::ShowMessage(const std::string& text) {
  OnGui<int>([&] { return MakePlainMessageBox(Parent(), Text(text))->exec(); });
}

std::optional<std::string> QtDialogs::InputBox(const std::string& caption,
                                               const std::string& prompt,
                                               const std::string& initialText) {
  return OnGui<std::optional<std::string>>([&]() -> std::optional<std::string> {
    auto box = MakeInputBox(Parent(), caption, prompt, initialText);
    if (box->exec() != QDialog::Accepted) return std::nullopt;
    return box->textValue().toStdString();
  });
}

std::optional<std::string> QtDialogs::RunFileDialog(const ui::FileDialogOptions& options,
                                                    bool save) {
  return OnGui<std::optional<std::string>>([&]() -> std::optional<std::string> {
    auto dialog = MakeFileDialog(Parent(), options, save);
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    const std::string path =
        QFile::encodeName(QDir::toNativeSeparators(chosen.front())).toStdString();
    return ui::ApplyDefaultExtension(path, options.DefaultExtension);
  });
}

std::optional<std::string> QtDialogs::OpenFile(const ui::FileDialogOptions& options) {
  return RunFileDialog(options, false);
}

std::optional<std::string> QtDialogs::SaveFile(const ui::FileDialogOptions& options) {
  return RunFileDialog(options, true);
}

void QtDialogs::PauseUi(int milliseconds) {
  if (milliseconds <= 0) return;
  if (!OnGuiThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace qm::shell
