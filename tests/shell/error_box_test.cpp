#include "shell/error_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <stdexcept>

#include "shell/message_boxes.h"
#include "text/errors.h"

namespace qm::shell {
namespace {

TEST(ErrorBoxText, AddsFullStopOnlyAfterCharactersSortingAfterDot) {
  struct Row {
    const char* message;
    const char* shown;
  };
  const Row rows[] = {
      {"'' is not a valid integer value", "'' is not a valid integer value."},
      {"File access denied", "File access denied."},
      {"I/O error 5", "I/O error 5."},
      {"Disk full.", "Disk full."},
      {"Cannot create file /tmp/a b/", "Cannot create file /tmp/a b/."},  // '/' sorts after '.'
      {"ends with a dash-", "ends with a dash-"},                         // '-' sorts before '.'
      {"ends with a blank ", "ends with a blank "},
      {"Ready!", "Ready!"},
      {"文件无法创建", "文件无法创建."},  // a Chinese character, not its last byte
      {"结束！", "结束！."},              // full-width "!" is a character after "."
      {"", ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ErrorBoxText(std::string(row.message)).toStdString(), row.shown) << row.message;
}

TEST(ErrorBox, HasStopIconTitleCaptionAndOneOkButton) {
  auto box = MakeErrorBox(nullptr, ErrorBoxText(QStringLiteral("Disk full")));
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("Quillmoth网页信息采集器 V2.0"));
  EXPECT_EQ(box->text(), QStringLiteral("Disk full."));
  ASSERT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(box->buttons().front()->text(), QString::fromUtf8("确定"));
}

TEST(RunGuarded, ShowsEscapedExceptionAndGoesOn) {
  std::vector<QString> shown;
  SetErrorBoxSink([&](const QString& text) { shown.push_back(text); });
  EXPECT_FALSE(RunGuarded([] { throw EConvertError("'abc' is not a valid integer value"); }));
  EXPECT_FALSE(RunGuarded([] { throw std::runtime_error("File not found"); }));
  bool ran = false;
  EXPECT_TRUE(RunGuarded([&] { ran = true; }));
  SetErrorBoxSink(nullptr);
  EXPECT_TRUE(ran);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], QStringLiteral("'abc' is not a valid integer value."));
  EXPECT_EQ(shown[1], QStringLiteral("File not found."));
}

class ThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw EAppError("Unable to write to x.ini");
    return QObject::event(e);
  }
};

TEST(TApplicationNotify, ExceptionFromAnEventHandlerReachesTheErrorBox) {
  std::vector<QString> shown;
  SetErrorBoxSink([&](const QString& text) { shown.push_back(text); });
  ThrowingObject object;
  QEvent event(QEvent::User);
  QCoreApplication::sendEvent(&object, &event);
  SetErrorBoxSink(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], QStringLiteral("Unable to write to x.ini."));
}

}  // namespace
}  // namespace qm::shell
