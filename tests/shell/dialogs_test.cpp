#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "modal_helper.h"
#include "shell/message_boxes.h"
#include "shell/qt_dialogs.h"
#include "support/temp_dir.h"

namespace qm::shell {
namespace {

TEST(ConvertFileFilter, TurnsPipeListsIntoNameFilters) {
  struct Row {
    std::string filter;
    QStringList expected;
  };
  const Row rows[] = {
      {"Text files(*.txt)|*.txt|All files(*.*)|*.*", {"Text files(*.txt)", "All files(*.*)"}},
      {"Pages (*.htm; *.html)|*.htm;*.html", {"Pages (*.htm; *.html)"}},
      {"Text files(*.txt)|*.text", {"Text files(*.txt) (*.text)"}},
      {"Text files|*.txt|All files|*.*", {"Text files (*.txt)", "All files (*.*)"}},
      {"Pages|*.htm;*.html", {"Pages (*.htm *.html)"}},
      {"Dangling|*.txt|Name only", {"Dangling (*.txt)"}},
      {"", {}},
  };
  for (const Row& row : rows) EXPECT_EQ(ConvertFileFilter(row.filter), row.expected) << row.filter;
}

// Choosing a file type in the save dialog gives a typed name that type's extension.
TEST(MakeFileDialog, ChosenFileTypeSetsTheDefaultSuffix) {
  const std::pair<const char*, const char*> rows[] = {
      {"CSV UTF-8(*.csv)", "csv"}, {"Excel workbook(*.xlsx)", "xlsx"},
      {"Text files(*.txt)", "txt"}, {"All files(*.*)", ""}, {"Pages (*.htm *.html)", ""}};
  for (const auto& [filter, extension] : rows) {
    EXPECT_EQ(FilterExtension(QString::fromUtf8(filter)), QString::fromUtf8(extension)) << filter;
  }
  ui::FileDialogOptions options;
  options.Filter = "Text files(*.txt)|*.txt|CSV UTF-8(*.csv)|*.csv|All files(*.*)|*.*";
  options.DefaultExtension = "txt";
  auto save = MakeFileDialog(nullptr, options, true);
  save->selectNameFilter(QStringLiteral("CSV UTF-8(*.csv)"));
  emit save->filterSelected(QStringLiteral("CSV UTF-8(*.csv)"));
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("csv"));
  emit save->filterSelected(QStringLiteral("All files(*.*)"));
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("txt"));
}

TEST(MakeFileDialog, CarriesTitleFilterExtensionAndOverwriteQuestion) {
  test::TempDir dir;
  ui::FileDialogOptions options;
  options.Title = "搜索结果保存为";
  options.Filter = "Text files(*.txt)|*.txt|All files(*.*)|*.*";
  options.DefaultExtension = "txt";
  options.FileName = "电邮57.txt";
  options.InitialDir = dir.Path().string();
  options.ConfirmOverwrite = true;
  auto save = MakeFileDialog(nullptr, options, true);
  EXPECT_EQ(save->windowTitle(), QString::fromUtf8("搜索结果保存为"));
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("txt"));
  EXPECT_EQ(save->nameFilters().size(), 2);
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(QDir(save->directory()).canonicalPath(),
            QDir(QString::fromStdString(options.InitialDir)).canonicalPath());

  options.ConfirmOverwrite = false;
  auto open = MakeFileDialog(nullptr, options, false);
  EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_TRUE(open->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST(QtDialogs, MessageBoxesHaveTheirCaptionsIconsAndButtons) {
  auto info = MakeInformationBox(nullptr, QStringLiteral("x"));
  EXPECT_EQ(info->windowTitle(), QString::fromUtf8("信息"));
  EXPECT_EQ(info->icon(), QMessageBox::Information);
  ASSERT_EQ(info->buttons().size(), 1);
  EXPECT_EQ(info->buttons().front()->text(), QString::fromUtf8("确定"));

  auto confirm = MakeConfirmationBox(nullptr, QStringLiteral("x"));
  EXPECT_EQ(confirm->windowTitle(), QString::fromUtf8("确认"));
  EXPECT_EQ(confirm->icon(), QMessageBox::Question);
  ASSERT_NE(confirm->findChild<QPushButton*>(kYesButtonName), nullptr);
  EXPECT_EQ(confirm->findChild<QPushButton*>(kYesButtonName)->text(), QString::fromUtf8("是[&Y]"));
  EXPECT_EQ(confirm->findChild<QPushButton*>(kNoButtonName)->text(), QString::fromUtf8("否[&N]"));

  auto plain = MakePlainMessageBox(nullptr, QStringLiteral("x"));
  EXPECT_EQ(plain->windowTitle(), QString::fromUtf8("Quillmoth网页信息采集器 V2.0"));
  EXPECT_EQ(plain->icon(), QMessageBox::NoIcon);
}

TEST(QtDialogs, ConfirmAnswersByTheButtonPressed) {
  QtDialogs dialogs;
  test::ClickInNextModal(kYesButtonName);
  EXPECT_TRUE(dialogs.Confirm("退出Quillmoth网页信息采集器?"));
  test::ClickInNextModal(kNoButtonName);
  EXPECT_FALSE(dialogs.Confirm("退出Quillmoth网页信息采集器?"));
}

TEST(QtDialogs, InputBoxReturnsTextOrNothingOnCancel) {
  QtDialogs dialogs;
  test::WhenModal([](QWidget& box) {
    EXPECT_EQ(box.windowTitle(), QString::fromUtf8("继续搜索提示"));
    auto* input = dynamic_cast<QInputDialog*>(&box);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->textValue(), QStringLiteral("17"));
    input->setTextValue(QStringLiteral("25"));
    input->accept();
  });
  EXPECT_EQ(dialogs.InputBox("继续搜索提示", "请输入您上次搜索断点位置", "17"),
            std::optional<std::string>("25"));
  test::WhenModal([](QWidget& box) { dynamic_cast<QDialog&>(box).reject(); });
  EXPECT_EQ(dialogs.InputBox("继续搜索提示", "请输入您上次搜索断点位置", "17"), std::nullopt);
}

TEST(QtDialogs, SaveDialogAddsTheDefaultExtension) {
  test::TempDir dir;
  QtDialogs dialogs;
  ui::FileDialogOptions options;
  options.Title = "BBS页面地址列表";
  options.Filter = "Text files|*.txt|All files|*.*";
  options.DefaultExtension = "txt";
  options.InitialDir = dir.Path().string();
  options.ConfirmOverwrite = true;
  const QString typed = QString::fromStdString(dir.File("list"));
  test::WhenModal([typed](QWidget& box) {
    auto& dialog = dynamic_cast<QFileDialog&>(box);
    dialog.selectFile(typed);
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  EXPECT_EQ(dialogs.SaveFile(options), std::optional<std::string>(dir.File("list.txt")));
  test::WhenModal([](QWidget& box) { dynamic_cast<QDialog&>(box).reject(); });
  EXPECT_EQ(dialogs.SaveFile(options), std::nullopt);
}

TEST(QtDialogs, PauseKeepsDeliveringQueuedWorkForItsWholeLength) {
  QtDialogs dialogs;
  bool delivered = false;
  QMetaObject::invokeMethod(
      qApp, [&] { delivered = true; }, Qt::QueuedConnection);
  QElapsedTimer timer;
  timer.start();
  dialogs.PauseUi(50);
  EXPECT_TRUE(delivered);
  EXPECT_GE(timer.elapsed(), 45);
}

TEST(QtDialogs, WorkerThreadDialogRunsOnTheGuiThread) {
  QtDialogs dialogs;
  std::atomic<bool> answer{false};
  std::thread worker([&] { answer = dialogs.Confirm("?"); });
  test::ClickInNextModal(kYesButtonName);
  QElapsedTimer timer;
  timer.start();
  while (!answer && timer.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_TRUE(answer);
}

}  // namespace
}  // namespace qm::shell
