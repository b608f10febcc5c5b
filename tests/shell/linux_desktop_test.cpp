// The program on a Linux desktop: the toolkit's dialogs in Chinese, window buttons as drawn,
// a minimum size that hides nothing, and no way to strand the window where there is no tray.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include "shell/application_setup.h"
#include "shell/qt_dialogs.h"
#include "shell/result_grid.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

bool HasChinese(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
  }
  return false;
}

TEST(ChineseTranslations, FileDialogAndItsOverwriteQuestionSpeakChinese) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  const QList<QTranslator*> before = app->findChildren<QTranslator*>();
  ASSERT_TRUE(InstallChineseTranslations(*app)) << "qt6-translations-l10n is not installed";
  QTranslator* installed = nullptr;
  for (QTranslator* t : app->findChildren<QTranslator*>())
    if (!before.contains(t)) installed = t;
  ASSERT_NE(installed, nullptr);

  ui::FileDialogOptions options;
  options.Title = "搜索结果保存为";
  options.Filter = "Text files(*.txt)|*.txt";
  auto dialog = MakeFileDialog(nullptr, options, true);
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  for (QAbstractButton* button : buttons->buttons())
    EXPECT_TRUE(HasChinese(button->text())) << button->text().toStdString();
  const QString overwrite = QFileDialog::tr("%1 already exists.\nDo you want to replace it?");
  EXPECT_TRUE(HasChinese(overwrite)) << overwrite.toStdString();
  EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Text files(*.txt)")});

  QCoreApplication::removeTranslator(installed);
  delete installed;
}

TEST(WindowButtons, GeneratorHasOnlyACloseBoxAboutAndWaitDialogNoMaximise) {
  ShellWindows w;
  const Qt::WindowFlags generator = w.bbsForm->windowFlags();
  EXPECT_TRUE(generator & Qt::CustomizeWindowHint);
  EXPECT_TRUE(generator & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(generator & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                            Qt::WindowContextHelpButtonHint));
  for (QWidget* window :
       {static_cast<QWidget*>(w.form2.get()), static_cast<QWidget*>(w.form3.get())}) {
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint) << window->objectName().toStdString();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint) << window->objectName().toStdString();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint) << window->objectName().toStdString();
    EXPECT_FALSE(flags & (Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint))
        << window->objectName().toStdString();
  }
}

TEST(MainWindowMinimumSize, NoControlIsCutAtTheSmallestSize) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  const QSize least = f.minimumSize();
  EXPECT_LT(least.width(), 624);
  EXPECT_LT(least.height(), 521);
  f.resize(100, 100);  // the window keeps its minimum
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return f.size() == least; }, 5000)) << f.width();
  for (QWidget* bar : {static_cast<QWidget*>(f.CoolBar1), static_cast<QWidget*>(f.Panel2),
                       static_cast<QWidget*>(f.StatusBar1), static_cast<QWidget*>(f.Panel1)}) {
    EXPECT_LE(bar->geometry().right(), f.rect().right());
    for (QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isHidden()) continue;
      const QRect placed = child->geometry();
      EXPECT_TRUE(bar->rect().contains(placed))
          << child->objectName().toStdString() << " is cut at the minimum width " << least.width();
    }
  }
  EXPECT_GE(f.Edit5->width(), 100);
  for (TStringGrid* grid : {f.StringGrid1, f.StringGrid2, f.StringGrid3}) {
    EXPECT_GT(grid->width(), 100);
    EXPECT_GE(grid->height(), 60);
  }
}

TEST(MinimiseWithoutTray, WindowStaysMinimisedAndComesBack) {
  ShellWindows w;
  w.tray.Available = false;
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.showMinimized();
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return f.isMinimized(); }, 5000));
  // Whatever the state change queued has run.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.isMinimized());
  EXPECT_FALSE(f.N17->isEnabled());
  EXPECT_TRUE(f.N18->isEnabled());
  EXPECT_TRUE(w.core->Window.Visible());

  f.showNormal();
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return !f.isMinimized(); }, 5000));
  EXPECT_TRUE(f.isVisible());

  // The tray menu's own item minimises too, rather than hiding.
  f.N18->trigger();
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.isMinimized());
}

}  // namespace
}  // namespace qm::shell
