#include <gtest/gtest.h>

#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "modal_helper.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

// The centre of the outer frame against the centre of the available area, to a pixel.
::testing::AssertionResult CentredOn(const QWidget& window, const QRect& area) {
  const QPoint offset = window.frameGeometry().center() - area.center();
  if (offset.manhattanLength() <= 1) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << window.objectName().toStdString() << " frame " << window.frameGeometry().x() << ","
         << window.frameGeometry().y() << " centre off by " << offset.x() << "," << offset.y();
}

struct Placement : ::testing::Test {
  void SetUp() override {
    // The main window away from the screen's centre, so that a dialog placed over its
    // parent would be seen.
    w.form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form1.get()));
    w.form1->move(0, 0);
    ShellWindows::PumpUntil([&] { return w.form1->frameGeometry().topLeft() == QPoint(); }, 2000);
    screen = w.form1->screen()->availableGeometry();
    desktop = w.form1->screen()->availableVirtualGeometry();
    ASSERT_FALSE(CentredOn(*w.form1, screen));
  }

  // Shows a modal dialog, notes whether it was centred on `area`, and closes it.
  ::testing::AssertionResult ModalCentredOn(QDialog& dialog, const QRect& area) {
    ::testing::AssertionResult result = ::testing::AssertionFailure() << "never shown";
    test::WhenModal([&](QWidget& modal) {
      result = CentredOn(modal, area);
      dynamic_cast<QDialog&>(modal).reject();
    });
    dialog.exec();
    return result;
  }

  ShellWindows w;
  QRect screen, desktop;
};

TEST_F(Placement, MainWindowStartsCentredOnTheScreen) {
  ShellWindows fresh;
  fresh.form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fresh.form1.get()));
  EXPECT_TRUE(CentredOn(*fresh.form1, fresh.form1->screen()->availableGeometry()));
}

TEST_F(Placement, WaitDialogIsCentredOnTheScreenEachTimeItIsShown) {
  for (int round = 0; round < 2; ++round) {
    w.core->Form3.Window.SetVisible(true);
    w.form1->Refresh();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form3.get()));
    EXPECT_TRUE(CentredOn(*w.form3, screen)) << round;
    w.form3->move(3, 3);  // moved by the user, then hidden
    w.core->Form3.Window.SetVisible(false);
    w.form1->Refresh();
    EXPECT_FALSE(w.form3->isVisible());
  }
}

TEST_F(Placement, AboutDialogIsCentredOnTheScreen) {
  EXPECT_TRUE(ModalCentredOn(*w.form2, screen));
}

TEST_F(Placement, GeneratorWindowIsCentredOnTheDesktop) {
  EXPECT_TRUE(ModalCentredOn(*w.bbsForm, desktop));
}

}  // namespace
}  // namespace qm::shell
