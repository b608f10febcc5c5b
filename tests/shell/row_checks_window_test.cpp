// The row checks in the window: the box "检查" beside the third row's limits, "只导出有效" in
// every list's menu, and a row's tooltip telling its checks.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QMenu>

#include "shell/result_grid.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

TEST(RowChecksWindow, TheCheckBoxAndTheMenuItemsFollowTheirModels) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  ASSERT_EQ(f.findChild<QCheckBox*>("CheckBoxVerify"), f.CheckBoxVerify);
  EXPECT_EQ(f.CheckBoxVerify->text(), QString::fromUtf8("检查"));
  EXPECT_TRUE(f.CheckBoxVerify->isChecked());
  // Inside the window, clear of every other control of the options bar.
  EXPECT_LE(f.CheckBoxVerify->geometry().right(), f.width());
  for (QWidget* other : f.Panel2->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other == f.CheckBoxVerify || !other->isVisibleTo(f.Panel2)) continue;
    EXPECT_FALSE(other->geometry().intersects(f.CheckBoxVerify->geometry()))
        << other->objectName().toStdString();
  }
  f.CheckBoxVerify->setChecked(false);
  EXPECT_FALSE(w.core->CheckBoxVerify.Checked());
  w.core->CheckBoxVerify.SetChecked(true);
  EXPECT_TRUE(ShellWindows::PumpUntil([&] { return f.CheckBoxVerify->isChecked(); }));

  QMenu* menus[3] = {f.PopupMenu2, f.PopupMenu3, f.PopupMenu4};
  for (QMenu* menu : menus) {
    auto* item = menu->findChild<QAction*>(menu->objectName() + QStringLiteral("ValidOnly"));
    ASSERT_NE(item, nullptr) << menu->objectName().toStdString();
    EXPECT_EQ(item->text(), QString::fromUtf8("只导出有效"));
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());
  }
  f.ValidOnlyItems[1]->setChecked(true);
  EXPECT_TRUE(w.core->CheckBoxValidOnly.Checked());
  // One switch for every export: the other menus show it too.
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return f.ValidOnlyItems[0]->isChecked() && f.ValidOnlyItems[2]->isChecked();
  }));
}

TEST(RowChecksWindow, ARowsTooltipTellsItsChecks) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  // No lookups: what needs none is told at once.
  w.core->CheckBoxVerify.SetChecked(false);
  w.core->StringGrid1.AppendResult("info@example.com", "http://p/1");
  w.core->StringGrid2.AppendResult("15412345678", "http://p/2");
  // An empty list shows one empty row until the refresh that follows the append.
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return f.StringGrid1->Model().RowText(0) == QStringLiteral("info@example.com") &&
           f.StringGrid2->Model().RowText(0) == QStringLiteral("15412345678");
  }));
  EXPECT_EQ(f.StringGrid2->RowToolTip(0),
            QString::fromUtf8("来源：http://p/2\n检查：bad-range"));
  EXPECT_EQ(f.StringGrid1->RowToolTip(0),
            QString::fromUtf8("来源：http://p/1\n检查：role,unchecked (lookups are off)"));
}

}  // namespace
}  // namespace qm::shell
