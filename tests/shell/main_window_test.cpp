#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <thread>

#include "shell/result_grid.h"
#include "shell_fixture.h"

namespace qm::shell {
namespace {

TEST(MainWindow, LayoutFollowsTheDesign) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  EXPECT_EQ(f.size(), QSize(624, 521));
  EXPECT_TRUE(
      f.windowTitle().startsWith(QString::fromUtf8("Quillmoth网页信息采集器 V2.0 —主页: ")));
  EXPECT_TRUE(f.windowTitle().contains(QStringLiteral(" QQ:")));
  const char* captions[] = {"网址", "搜索", "终止", "继续", "保存", "创建", "进程", "关于"};
  const char* hints[] = {"选择网址列表", "开始网址搜索", "终止网址搜索", "继续搜索网址",
                         "保存搜索结果", "创建网址列表", "保存搜索进程", "软件版本信息"};
  for (int i = 0; i < 8; ++i) {
    auto* button = f.findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(i + 1));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QString::fromUtf8(captions[i]));
    EXPECT_EQ(button->toolTip(), QString::fromUtf8(hints[i]));
    EXPECT_EQ(button->geometry(), QRect(2 + 68 * i, 4, 63, 57));
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_TRUE(button->autoRaise());
  }
  EXPECT_EQ(f.CoolBar1->height(), 65);
  EXPECT_EQ(f.Panel2->height(), 130);
  EXPECT_EQ(f.StatusBar1->height(), 19);
  EXPECT_EQ(f.Panel1->height(), 25);
  const int widths[] = {40, 60, 40, 60, 40, 50};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(f.StatusPanels[i]->width(), widths[i]);
  EXPECT_EQ(f.StatusPanels[0]->text(), QString::fromUtf8("邮箱："));
  EXPECT_EQ(f.StatusPanels[2]->text(), QString::fromUtf8("手机："));
  EXPECT_EQ(f.StatusPanels[4]->text(), QString::fromUtf8("QQ号："));
  // e-mail, QQ, mobile from left to right
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_LT(f.StringGrid1->x(), f.StringGrid3->x());
  EXPECT_LT(f.StringGrid3->x(), f.StringGrid2->x());
  EXPECT_EQ(f.StringGrid1->DefaultRowHeight(), 20);
  EXPECT_EQ(f.StringGrid2->DefaultRowHeight(), 18);
  EXPECT_EQ(f.StringGrid1->toolTip(), QString::fromUtf8("网址搜索显示区"));
  EXPECT_EQ(f.PopupMenu2->actions().front()->text(), QString::fromUtf8("导出电邮保存"));
  EXPECT_EQ(f.PopupMenu3->actions().front()->text(), QString::fromUtf8("导出手机号码"));
  EXPECT_EQ(f.PopupMenu4->actions().front()->text(), QString::fromUtf8("导出QQ号保存"));
  EXPECT_EQ(f.Label6->styleSheet(), QStringLiteral("color: #ff0000"));
  EXPECT_FALSE(f.N17->isEnabled());
  EXPECT_TRUE(f.N18->isEnabled());
  // Settings defaults of a first run reach the widgets.
  EXPECT_TRUE(f.CheckBox2->isChecked());
  EXPECT_FALSE(f.CheckBox3->isChecked());
  EXPECT_EQ(f.SpinEdit1->value(), 1);
  // The tray icon is in the tray with the title as its tip.
  ASSERT_FALSE(w.tray.Calls.empty());
  EXPECT_EQ(w.tray.Calls.back().Message, NIM_ADD);  // added again when loaded
  EXPECT_TRUE(w.form1->TrayIcon1->Visible());
  EXPECT_EQ(w.form1->TrayIcon1->Hint(), "Quillmoth网页信息采集器 V2.0");
}

TEST(MainWindow, ResizeDividesTheWidthAmongTheLists) {
  ShellWindows w;
  w.form1->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.form1.get()));
  struct Row {
    int outer, grid, column;
  };
  for (const Row& row : {Row{624, 201, 196}, Row{800, 260, 255}, Row{624, 201, 196}}) {
    const int frame = w.form1->frameGeometry().width() - w.form1->width();
    w.form1->resize(row.outer - frame, 521);
    ShellWindows::PumpUntil([&] { return w.form1->frameGeometry().width() == row.outer; }, 2000);
    ASSERT_EQ(w.form1->frameGeometry().width(), row.outer);
    for (TStringGrid* grid : {w.form1->StringGrid1, w.form1->StringGrid3}) {
      EXPECT_EQ(grid->width(), row.grid) << row.outer;
      EXPECT_EQ(grid->ColumnWidth(), row.column) << row.outer;
    }
    EXPECT_EQ(w.form1->StringGrid2->ColumnWidth(), row.column);
    // Edit5 grows and shrinks with the window.
    EXPECT_EQ(w.form1->Edit5->geometry().right(), w.form1->Panel2->width() - 14);
  }
}

TEST(MainWindow, HidingAndShowingKeepsExactlyOneOfTheTrayItemsEnabled) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  for (int round = 0; round < 3; ++round) {
    f.N18->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(f.N17->isEnabled());
    EXPECT_FALSE(f.N18->isEnabled());
    EXPECT_FALSE(w.core->Form3.Window.StayOnTop());
    EXPECT_FALSE(w.form3->windowFlags() & Qt::WindowStaysOnTopHint);
    // A left click on the tray icon brings the window back.
    w.tray.Mouse(WM_LBUTTONDOWN);
    w.tray.Mouse(WM_LBUTTONUP);
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.N17->isEnabled());
    EXPECT_TRUE(f.N18->isEnabled());
    EXPECT_TRUE(w.form3->windowFlags() & Qt::WindowStaysOnTopHint);
  }
  // A click while shown leaves everything as it is.
  w.tray.Mouse(WM_LBUTTONDOWN);
  w.tray.Mouse(WM_LBUTTONUP);
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.N17->isEnabled());
  EXPECT_TRUE(f.N18->isEnabled());
}

TEST(MainWindow, MinimisingHidesToTheTray) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.showMinimized();
  EXPECT_TRUE(ShellWindows::PumpUntil([&] { return !f.isVisible(); }, 5000));
  EXPECT_TRUE(f.N17->isEnabled());
  EXPECT_FALSE(f.N18->isEnabled());
  f.N17->trigger();
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.isMinimized());
}

TEST(MainWindow, TrayMenuOpensTheMakerAddressesAndAbout) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.N19->trigger();
  f.N20->trigger();
  ASSERT_EQ(w.opened.size(), 2u);
  EXPECT_EQ(w.opened[0].scheme(), QStringLiteral("mailto"));
  EXPECT_EQ(w.opened[1].scheme(), QStringLiteral("http"));
  // N21 and SpeedButton8 open the same About dialog.
  int shown = 0;
  for (int i = 0; i < 2; ++i) {
    QTimer::singleShot(0, [&] {
      if (w.form2->isVisible()) ++shown;
      w.form2->OKButton->click();
    });
    if (i == 0)
      f.N21->trigger();
    else
      f.SpeedButtons[7]->click();
  }
  EXPECT_EQ(shown, 2);
}

TEST(MainWindow, ExitAsksAndNoKeepsTheProgramRunning) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  bool closed = false;
  QObject::connect(&f, &TForm1Window::Closed, [&] { closed = true; });
  f.show();
  w.dialogs.AnswerConfirm(false);
  f.N23->trigger();
  EXPECT_FALSE(closed);
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(w.dialogs.Messages().back(), "退出Quillmoth网页信息采集器?");
  w.dialogs.AnswerConfirm(true);
  f.N23->trigger();
  EXPECT_TRUE(closed);
}

TEST(MainWindow, UserEditsReachTheModels) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  f.CheckBox3->setChecked(true);
  EXPECT_TRUE(w.core->CheckBox3.Checked());
  f.SpinEdit1->setValue(3);
  EXPECT_EQ(w.core->SpinEdit1.Value(), 3);
  QTest::keyClicks(f.Edit5, "/tmp/list.txt");
  EXPECT_EQ(w.core->Edit5.Text(), "/tmp/list.txt");
  f.SpinEdit1->stepBy(5);
  EXPECT_EQ(f.SpinEdit1->value(), 4);

  // The second row: each control writes its own model; the in-flight arrows stop at 32.
  f.CheckBoxRedirects->setChecked(false);
  f.CheckBoxExtended->setChecked(false);
  EXPECT_FALSE(w.core->CheckBoxRedirects.Checked());
  EXPECT_FALSE(w.core->CheckBoxExtended.Checked());
  EXPECT_TRUE(w.core->CheckBoxUnique.Checked());
  EXPECT_EQ(f.SpinEditInFlight->value(), 1024);
  f.SpinEditInFlight->stepBy(5000);
  EXPECT_EQ(w.core->SpinEditInFlight.Value(), 4096);
}

// Keeping connections alive and the limit of connections to one host, in the third row:
// the arrows stop at 1 and 64, and values set on the models show.
TEST(MainWindow, ConnectionControlsAndModelsFollowEachOther) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  ASSERT_EQ(f.findChild<QCheckBox*>("CheckBoxKeepAlive"), f.CheckBoxKeepAlive);
  ASSERT_EQ(f.findChild<QSpinBox*>("SpinEditHostLimit"), f.SpinEditHostLimit);
  EXPECT_EQ(f.CheckBoxKeepAlive->text(), QString::fromUtf8("保持连接"));
  EXPECT_EQ(f.findChild<QLabel*>("LabelHostLimit")->text(), QString::fromUtf8("每站连接："));
  EXPECT_TRUE(f.CheckBoxKeepAlive->isChecked());
  EXPECT_EQ(f.SpinEditHostLimit->value(), 8);
  EXPECT_EQ(f.CheckBoxKeepAlive->y(), f.CheckBoxNewOnly->y());
  EXPECT_GT(f.CheckBoxKeepAlive->x(), f.CheckBoxNewOnly->geometry().right());
  EXPECT_GT(f.LabelHostLimit->x(), f.CheckBoxKeepAlive->geometry().right());
  EXPECT_LT(f.SpinEditHostLimit->geometry().right(), f.LabelMemoryLimit->x());
  f.CheckBoxKeepAlive->setChecked(false);
  EXPECT_FALSE(w.core->CheckBoxKeepAlive.Checked());
  f.SpinEditHostLimit->stepBy(100);
  EXPECT_EQ(w.core->SpinEditHostLimit.Value(), 64);
  f.SpinEditHostLimit->stepBy(-100);
  EXPECT_EQ(w.core->SpinEditHostLimit.Value(), 1);
  w.core->CheckBoxKeepAlive.SetChecked(true);
  w.core->SpinEditHostLimit.SetValue(12);
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return f.CheckBoxKeepAlive->isChecked() && f.SpinEditHostLimit->value() == 12;
  }));
}

// The reply timeout, rendering and the User-Agent in the fourth row, after the two kinds:
// edits reach the models, the arrows stop at 1 and 120 s, and values set on the models show.
TEST(MainWindow, FetchControlsAndModelsFollowEachOther) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  ASSERT_EQ(f.findChild<QSpinBox*>("SpinEditTimeout"), f.SpinEditTimeout);
  ASSERT_EQ(f.findChild<QCheckBox*>("CheckBoxRender"), f.CheckBoxRender);
  ASSERT_EQ(f.findChild<QLineEdit*>("EditUserAgent"), f.EditUserAgent);
  EXPECT_EQ(f.findChild<QLabel*>("LabelTimeout")->text(), QString::fromUtf8("超时(秒)："));
  EXPECT_EQ(f.CheckBoxRender->text(), QString::fromUtf8("渲染网页"));
  EXPECT_EQ(f.SpinEditTimeout->value(), 20);
  EXPECT_EQ(f.CheckBoxRender->isChecked(), w.core->CheckBoxRender.Checked());
  EXPECT_TRUE(f.EditUserAgent->text().isEmpty());
  EXPECT_EQ(f.LabelTimeout->y() - 2, f.CheckBoxPhone->y());
  EXPECT_GT(f.LabelTimeout->x(), f.CheckBoxPhone->geometry().right());
  EXPECT_GT(f.CheckBoxRender->x(), f.SpinEditTimeout->geometry().right());
  EXPECT_GT(f.EditUserAgent->x(), f.CheckBoxRender->geometry().right());
  EXPECT_LE(f.EditUserAgent->geometry().right(), f.width());

  f.SpinEditTimeout->stepBy(500);
  EXPECT_EQ(w.core->SpinEditTimeout.Value(), 120);
  f.SpinEditTimeout->stepBy(-500);
  EXPECT_EQ(w.core->SpinEditTimeout.Value(), 1);
  f.CheckBoxRender->setChecked(!f.CheckBoxRender->isChecked());
  EXPECT_EQ(w.core->CheckBoxRender.Checked(), f.CheckBoxRender->isChecked());
  QTest::keyClicks(f.EditUserAgent, "Firm/1.0");
  EXPECT_EQ(w.core->EditUserAgent.Text(), "Firm/1.0");

  w.core->SpinEditTimeout.SetValue(45);
  w.core->CheckBoxRender.SetChecked(false);
  w.core->EditUserAgent.SetText("Other/2.0");
  f.EditUserAgent->clearFocus();
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return f.SpinEditTimeout->value() == 45 && !f.CheckBoxRender->isChecked() &&
           f.EditUserAgent->text() == "Other/2.0";
  }));
}

// Depth beside the thread count, page limit, robots and the memory limit: the arrows stop at
// the models' ranges, and values set on the models (a loaded settings file) show.
TEST(MainWindow, LinkFollowingControlsAndModelsFollowEachOther) {
  ShellWindows w;
  TForm1Window& f = *w.form1;
  EXPECT_EQ(f.SpinEditDepth->x() - f.SpinEdit1->x(), 96);
  ASSERT_EQ(f.findChild<QSpinBox*>("SpinEditMemoryLimit"), f.SpinEditMemoryLimit);
  EXPECT_EQ(f.findChild<QLabel*>("LabelMemoryLimit")->text(), QString::fromUtf8("内存上限(MB)："));
  EXPECT_EQ(f.SpinEditMemoryLimit->value(), 1024);
  // Beneath the page limit, after its own caption.
  EXPECT_EQ(f.LabelMemoryLimit->x(), f.LabelPageLimit->x());
  EXPECT_GT(f.LabelMemoryLimit->y(), f.LabelPageLimit->y());
  EXPECT_GT(f.SpinEditMemoryLimit->x(), f.LabelMemoryLimit->geometry().right());
  // "只要新结果" opens the third row, off until asked for.
  ASSERT_EQ(f.findChild<QCheckBox*>("CheckBoxNewOnly"), f.CheckBoxNewOnly);
  EXPECT_EQ(f.CheckBoxNewOnly->text(), QString::fromUtf8("只要新结果"));
  EXPECT_FALSE(f.CheckBoxNewOnly->isChecked());
  EXPECT_EQ(f.CheckBoxNewOnly->y() + 2, f.LabelMemoryLimit->y());
  f.CheckBoxNewOnly->setChecked(true);
  EXPECT_TRUE(w.core->CheckBoxNewOnly.Checked());
  const struct {
    int depthSteps, pageLimitSteps, memorySteps;
    bool robots;
    int depth, pageLimit, memoryLimit;
  } edits[] = {{9, 2000, 2000000, false, 3, 1000, 1048576}, {-9, -2000, -2000000, true, 0, 1, 64}};
  for (const auto& edit : edits) {
    f.SpinEditDepth->stepBy(edit.depthSteps);
    f.SpinEditPageLimit->stepBy(edit.pageLimitSteps);
    f.SpinEditMemoryLimit->stepBy(edit.memorySteps);
    f.CheckBoxRobots->setChecked(edit.robots);
    EXPECT_EQ(w.core->SpinEditDepth.Value(), edit.depth);
    EXPECT_EQ(w.core->SpinEditPageLimit.Value(), edit.pageLimit);
    EXPECT_EQ(w.core->SpinEditMemoryLimit.Value(), edit.memoryLimit);
    EXPECT_EQ(w.core->CheckBoxRobots.Checked(), edit.robots);
  }
  // A value typed past the range is brought back when the box is left.
  f.SpinEditMemoryLimit->setValue(2000000);
  EXPECT_EQ(w.core->SpinEditMemoryLimit.Text(), "2000000");
  emit f.SpinEditMemoryLimit->editingFinished();
  EXPECT_EQ(w.core->SpinEditMemoryLimit.Value(), 1048576);

  w.core->SpinEditDepth.SetValue(2);
  w.core->SpinEditPageLimit.SetValue(300);
  w.core->SpinEditMemoryLimit.SetValue(4096);
  w.core->CheckBoxRobots.SetChecked(false);
  w.core->CheckBoxNewOnly.SetChecked(false);
  EXPECT_TRUE(ShellWindows::PumpUntil([&] {
    return f.SpinEditDepth->value() == 2 && f.SpinEditPageLimit->value() == 300 &&
           f.SpinEditMemoryLimit->value() == 4096 && !f.CheckBoxRobots->isChecked() &&
           !f.CheckBoxNewOnly->isChecked();
  }));
}

TEST(MainWindow, RowsFromWorkerThreadsArriveCoalesced) {
  ShellWindows w;
  constexpr int kRows = 20000;
  const int refreshesBefore = w.form1->RefreshCount();
  std::thread worker([&] {
    for (int i = 0; i < kRows; ++i)
      w.core->StringGrid1.AppendResult("user" + std::to_string(i) + "@example.com");
  });
  worker.join();
  ASSERT_TRUE(
      ShellWindows::PumpUntil([&] { return w.form1->StringGrid1->Model().rowCount() == kRows; }));
  EXPECT_EQ(w.form1->StringGrid1->Model().Rows().back(), "user19999@example.com");
  EXPECT_LT(w.form1->RefreshCount() - refreshesBefore, 10);
  // Clearing and refilling is seen as a new list, not as more rows.
  w.core->StringGrid1.Clear();
  w.core->StringGrid1.AppendResult("a@b.cn");
  ASSERT_TRUE(
      ShellWindows::PumpUntil([&] { return w.form1->StringGrid1->Model().rowCount() == 1; }));
  EXPECT_EQ(w.form1->StringGrid1->Model().Rows().front(), "a@b.cn");
}

// While refreshes keep to their pace, the end of a run is shown with the next pass of the
// event loop, not after the pause.
TEST(MainWindow, AnUrgentChangeIsShownWithoutWaitingForThePace) {
  ShellWindows w;
  w.core->Label6.SetCaption("first");
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return w.form1->Label6->text() == "first"; }));
  w.core->Label6.SetCaption("second");  // within the pace: a refresh is scheduled for later
  w.core->Label6.SetCaption("搜索已经结束!");
  w.core->Changes.ChangedUrgently();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(w.form1->Label6->text(), QString::fromUtf8("搜索已经结束!"));
}

// Beside the design's six panels, two count the addresses of the run that failed.
TEST(MainWindow, StatusBarShowsTheFailedAddresses) {
  ShellWindows w;
  EXPECT_EQ(w.form1->StatusPanels[6]->text(), QString::fromUtf8("失败："));
  w.core->StatusBar1.SetPanel(kFailedCountPanel, "3");
  ASSERT_TRUE(ShellWindows::PumpUntil([&] { return w.form1->StatusPanels[7]->text() == "3"; }));
}

}  // namespace
}  // namespace qm::shell
