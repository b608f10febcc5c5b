// The window's WeChat and telephone controls: two boxes in the fourth row of options, off
// by default; their lists in a second row below the three, shown while either kind is
// collected or holds rows; their counts in the status bar; each list saved from its menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include "shell/result_grid.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

TEST(LabelledKindsWindow, BoxesFollowTheirModelsInTheFourthRow) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  const std::pair<const char*, const char*> boxes[] = {{"CheckBoxWeChat", "微信号"},
                                                       {"CheckBoxPhone", "电话号码"}};
  for (const auto& [name, caption] : boxes) {
    auto* box = f.findChild<QCheckBox*>(name);
    ASSERT_NE(box, nullptr) << name;
    EXPECT_EQ(box->text(), QString::fromUtf8(caption));
    EXPECT_FALSE(box->isChecked());
    EXPECT_GT(box->y(), f.CheckBoxNewOnly->y());
    EXPECT_LE(box->geometry().bottom(), f.Panel2->height());
  }
  EXPECT_EQ(f.CheckBoxWeChat->y(), f.CheckBoxPhone->y());
  EXPECT_GT(f.CheckBoxPhone->x(), f.CheckBoxWeChat->geometry().right());
  f.CheckBoxWeChat->setChecked(true);
  f.CheckBoxPhone->setChecked(true);
  EXPECT_TRUE(w.core->CheckBoxWeChat.Checked());
  EXPECT_TRUE(w.core->CheckBoxPhone.Checked());
  w.core->CheckBoxWeChat.SetChecked(false);
  EXPECT_TRUE(ShellWindows::PumpUntil([&] { return !f.CheckBoxWeChat->isChecked(); }));
  EXPECT_TRUE(f.CheckBoxPhone->isChecked());
}

TEST(LabelledKindsWindow, SecondRowOfListsShowsWhileTheKindsAreCollected) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  QWidget* row = f.findChild<QWidget*>("ResultRow2");
  ASSERT_NE(row, nullptr);
  EXPECT_FALSE(row->isVisible());
  const int firstRowHeight = f.StringGrid1->height();

  w.core->CheckBoxPhone.SetChecked(true);
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return row->isVisible(); }));
  auto* wechat = f.findChild<TStringGrid*>("StringGrid4");
  auto* phones = f.findChild<TStringGrid*>("StringGrid5");
  ASSERT_NE(wechat, nullptr);
  ASSERT_NE(phones, nullptr);
  // The three keep their order, above the two.
  EXPECT_LT(f.StringGrid1->x(), f.StringGrid3->x());
  EXPECT_LT(f.StringGrid3->x(), f.StringGrid2->x());
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return f.StringGrid1->height() < firstRowHeight; }));
  EXPECT_GT(phones->mapTo(&f, QPoint(0, 0)).y(), f.StringGrid1->mapTo(&f, QPoint(0, 0)).y());
  EXPECT_LT(wechat->x(), phones->x());

  w.core->StringGrid5.AppendResult("0755-23456789", "http://a.cn/contact");
  w.core->StringGrid4.AppendResult("kefu_01", "http://a.cn/contact");
  w.core->StatusBar1.SetPanel(9, "1");
  w.core->StatusBar1.SetPanel(11, "1");
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return phones->Model().RowText(0) == QStringLiteral("0755-23456789") &&
           wechat->Model().RowText(0) == QStringLiteral("kefu_01") &&
           f.StatusPanels[9]->text() == "1" && f.StatusPanels[11]->text() == "1";
  }));
  EXPECT_EQ(f.StatusPanels[8]->text(), QString::fromUtf8("微信："));
  EXPECT_EQ(f.StatusPanels[10]->text(), QString::fromUtf8("电话："));

  // Rows keep the row shown after the box is unticked; emptied, the row goes.
  w.core->CheckBoxPhone.SetChecked(false);
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return !f.CheckBoxPhone->isChecked(); }));
  EXPECT_TRUE(row->isVisible());
  w.core->StringGrid4.Clear();
  w.core->StringGrid5.Clear();
  EXPECT_TRUE(ShellWindows::PumpUntil([&] { return !row->isVisible(); }));
}

TEST(LabelledKindsWindow, EachListIsSavedFromItsOwnMenu) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  w.core->StringGrid4.AppendResult("kefu_01");
  w.core->StringGrid5.AppendResult("400-123-4567");
  w.core->StringGrid5.AppendResult("0755-23456789");
  const std::pair<QMenu*, std::string> menus[] = {{f.PopupMenu5, "微信1.txt"},
                                                  {f.PopupMenu6, "电话2.txt"}};
  for (const auto& [menu, proposed] : menus) {
    ASSERT_NE(menu, nullptr);
    w.dialogs.ClearHistory();
    w.dialogs.AnswerSave(std::nullopt);
    menu->actions().front()->trigger();
    ASSERT_EQ(w.dialogs.History().size(), 1u);
    EXPECT_EQ(w.dialogs.History()[0].FileOptions.FileName, proposed);
  }
  EXPECT_EQ(f.PopupMenu5->actions().front()->text(), QString::fromUtf8("导出微信号保存"));
  EXPECT_EQ(f.PopupMenu6->actions().front()->text(), QString::fromUtf8("导出电话号码保存"));
}

}  // namespace
}  // namespace qm::shell
