#include "shell/result_grid.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <string>
#include <vector>

#include "ui/change_notifier.h"

namespace qm::shell {
namespace {

// A result list on its own, shown as a top-level window of a few rows.
struct ShownGrid {
  ShownGrid() : list(notifier), grid(list, 18) {
    grid.resize(220, 200);
    grid.SetColumnWidth(200);
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
    Settle();
  }

  void Append(int from, int count) {
    for (int i = from; i < from + count; ++i)
      list.AppendResult("user" + std::to_string(i) + "@example.com");
  }

  // Lets the posted layouts and repaints run; they need no waiting, only the event loop.
  static void Settle() {
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }

  // What the window shows now, against the grid painted afresh from its model.
  bool ScreenMatchesAFreshPainting() {
    const QImage shown = grid.screen()
                             ->grabWindow(grid.winId(), 0, 0, grid.width(), grid.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = grid.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return !shown.isNull() && shown == fresh;
  }

  ui::ChangeNotifier notifier;
  TResultList list;
  TStringGrid grid;
};

// Counts the paint events a widget receives while it lives.
class PaintCounter : public QObject {
 public:
  PaintCounter(QWidget& widget, int& count) : widget_(widget), count_(count) {
    widget_.installEventFilter(this);
  }
  ~PaintCounter() override { widget_.removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count_;
    return false;
  }

 private:
  QWidget& widget_;
  int& count_;
};

TEST(ResultGrid, TheScreenFollowsTheListStepByStep) {
  struct Step {
    const char* what;
    int append;  // rows appended before the refresh
    bool clear;  // the list cleared first
    bool scrollToBottom;
  };
  const Step steps[] = {
      {"the single empty row is filled", 1, false, false},
      {"rows appended within the visible area", 3, false, false},
      {"the visible area fills up and overflows", 40, false, false},
      {"rows appended below the visible ones", 500, false, false},
      {"the user scrolled to the end, more rows arrive below", 0, false, true},
      {"more rows below the end the user sees", 200, false, false},
      {"cleared and refilled past the old length", 900, true, false},
      {"cleared to a single row", 1, true, false},
  };
  ShownGrid g;
  int next = 0;
  for (const Step& step : steps) {
    if (step.clear) {
      g.list.Clear();
    }
    g.Append(next, step.append);
    next += step.append;
    if (step.scrollToBottom) g.grid.ScrollToBottom();
    g.grid.Model().Refresh();
    ShownGrid::Settle();
    EXPECT_EQ(g.grid.Model().rowCount(), g.list.RowCount()) << step.what;
    EXPECT_TRUE(g.ScreenMatchesAFreshPainting()) << step.what;
    EXPECT_EQ(g.grid.Model().Rows(), g.list.Snapshot()) << step.what;
  }
}

TEST(ResultGrid, RowsAreCopiedWhenFirstShownNotWhileTheyArriveOutOfSight) {
  ShownGrid g;
  g.Append(0, 50);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  const size_t held = g.grid.Model().RowsHeld();
  EXPECT_GE(held, size_t(g.grid.VisibleRowCount()));

  g.Append(50, 10000);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  EXPECT_EQ(g.grid.Model().rowCount(), 10050);
  EXPECT_EQ(g.grid.Model().RowsHeld(), held);

  g.grid.ScrollToBottom();
  ShownGrid::Settle();
  EXPECT_EQ(g.grid.Model().RowsHeld(), size_t(10050));
  EXPECT_EQ(g.grid.Model().RowText(10049), QStringLiteral("user10049@example.com"));
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());
}

// A list cleared and refilled between refreshes is a new list, told apart by the list's
// clear count: also when the last row held stands at the same place in the new list.
TEST(ResultGrid, AListRefilledBeforeTheRefreshIsNotMixedWithTheOldOne) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  for (const char* row : {"a@b.cn", "c@d.cn"}) list.AppendResult(row);
  TResultListModel model(list);
  ASSERT_EQ(model.RowsHeld(), 2u);
  for (const char* row : {"e@f.cn", "g@h.cn"}) list.AppendResult(row);
  model.Refresh();  // four rows known, two held
  ASSERT_EQ(model.RowsHeld(), 2u);

  list.Clear();
  for (const char* row : {"1@x.cn", "2@x.cn", "3@x.cn", "4@x.cn", "5@x.cn"}) list.AppendResult(row);
  // Painted before the refresh: rows of the new list are not put after those of the old.
  EXPECT_TRUE(model.RowText(3).isEmpty());
  EXPECT_EQ(model.RowsHeld(), 2u);
  model.Refresh();
  EXPECT_EQ(model.Rows(), list.Snapshot());

  // Refilled again with the last row held, "5@x.cn", at the same place.
  ASSERT_EQ(model.RowsHeld(), 5u);
  list.Clear();
  for (const char* row : {"x@y.cn", "2@x.cn", "3@x.cn", "4@x.cn", "5@x.cn", "6@x.cn"})
    list.AppendResult(row);
  EXPECT_TRUE(model.RowText(5).isEmpty());
  model.Refresh();
  EXPECT_EQ(model.Rows(), list.Snapshot());
}

TEST(ResultGrid, RowsAppendedOutOfSightRepaintOnlyTheScrollBar) {
  ShownGrid g;
  g.Append(0, 100);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  const int paints = g.grid.PaintCount();
  const int scrollRange = g.grid.verticalScrollBar()->maximum();

  g.Append(100, 100);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  EXPECT_EQ(g.grid.PaintCount(), paints);
  EXPECT_GT(g.grid.verticalScrollBar()->maximum(), scrollRange);
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());

  // Once the thumb is as short as it gets, a longer list leaves the scroll bar as it is.
  g.Append(200, 5000);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  int barPaints = 0;
  PaintCounter counter(*g.grid.verticalScrollBar(), barPaints);
  g.Append(5200, 100);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  EXPECT_EQ(barPaints, 0);
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());
  // Scrolling moves the thumb and is painted.
  g.grid.SetTopRow(2000);
  ShownGrid::Settle();
  EXPECT_GT(barPaints, 0);
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());

  // A change of a visible row does repaint.
  g.grid.SetTopRow(0);
  g.list.Clear();
  g.Append(5000, 1);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  EXPECT_GT(g.grid.PaintCount(), paints);
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());
}

TEST(ResultGrid, ClicksAndKeysSelectOneRowAndKeepItInView) {
  ShownGrid g;
  g.Append(0, 100);
  g.grid.Model().Refresh();
  ShownGrid::Settle();
  const int rowHeight = g.grid.DefaultRowHeight();
  const int visible = g.grid.VisibleRowCount();
  ASSERT_GT(visible, 3);
  EXPECT_EQ(g.grid.CurrentRow(), -1);

  QTest::mouseClick(g.grid.viewport(), Qt::LeftButton, {}, QPoint(10, 2 * rowHeight + 3));
  EXPECT_EQ(g.grid.CurrentRow(), 2);
  EXPECT_TRUE(g.grid.hasFocus());
  // Beyond the column nothing is hit, and the right button leaves the selection to the menu.
  QTest::mouseClick(g.grid.viewport(), Qt::LeftButton, {}, QPoint(g.grid.ColumnWidth() + 2, 3));
  QTest::mouseClick(g.grid.viewport(), Qt::RightButton, {}, QPoint(10, 3));
  EXPECT_EQ(g.grid.CurrentRow(), 2);

  struct Row {
    Qt::Key key;
    int current;
    int top;
  };
  const Row rows[] = {
      {Qt::Key_Up, 1, 0},
      {Qt::Key_Up, 0, 0},
      {Qt::Key_Up, 0, 0},  // stays at the first row
      {Qt::Key_PageDown, visible, 1},
      {Qt::Key_End, 99, 100 - visible},
      {Qt::Key_Down, 99, 100 - visible},  // stays at the last row
      {Qt::Key_Home, 0, 0},
      {Qt::Key_Down, 1, 0},
  };
  for (const Row& row : rows) {
    QTest::keyClick(&g.grid, row.key);
    EXPECT_EQ(g.grid.CurrentRow(), row.current) << row.key;
    EXPECT_EQ(g.grid.TopRow(), row.top) << row.key;
  }
  ShownGrid::Settle();
  EXPECT_TRUE(g.ScreenMatchesAFreshPainting());

  // A new list forgets the selection.
  g.list.Clear();
  g.grid.Model().Refresh();
  EXPECT_EQ(g.grid.CurrentRow(), -1);
  EXPECT_EQ(g.grid.RowAt(QPoint(10, 3)), 0);
  EXPECT_EQ(g.grid.RowAt(QPoint(10, rowHeight + 3)), -1);
}

TEST(ResultGrid, ARowsTooltipNamesItsPage) {
  ShownGrid shown;
  shown.list.AppendResult("a@b.cn", "http://first.cn/contact");
  shown.list.AppendResult("c@d.cn", std::string("http://second.cn/\xC1\xAA"));  // 936 "联"
  shown.grid.Model().Refresh();
  ShownGrid::Settle();
  EXPECT_EQ(shown.grid.Model().RowSource(0), QStringLiteral("http://first.cn/contact"));
  EXPECT_EQ(shown.grid.Model().RowSource(1), QString::fromUtf8("http://second.cn/联"));
  EXPECT_EQ(shown.grid.Model().RowSource(2), QString());

  QHelpEvent help(QEvent::ToolTip, QPoint(10, 18 + 5),
                  shown.grid.viewport()->mapToGlobal(QPoint(10, 18 + 5)));
  QCoreApplication::sendEvent(shown.grid.viewport(), &help);
  EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 5000));
  EXPECT_EQ(QToolTip::text(), QString::fromUtf8("来源：http://second.cn/联"));
  QToolTip::hideText();
}

TEST(ResultGrid, ContextMenuRequestsComeInViewportCoordinates) {
  ShownGrid g;
  g.grid.setContextMenuPolicy(Qt::CustomContextMenu);
  QPoint requested(-1, -1);
  QObject::connect(&g.grid, &QWidget::customContextMenuRequested,
                   [&](const QPoint& at) { requested = at; });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(12, 7),
                          g.grid.viewport()->mapToGlobal(QPoint(12, 7)));
  QCoreApplication::sendEvent(g.grid.viewport(), &event);
  EXPECT_EQ(requested, QPoint(12, 7));
}

TEST(ResultGrid, ModelInsertsWhatWasAppendedAndResetsWhatWasCleared) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  TResultListModel model(list);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

  model.Refresh();  // nothing new
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(inserted.count() + reset.count() + changed.count(), 0);

  list.AppendResult("a@b.cn");  // fills the single empty row
  model.Refresh();
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(inserted.count(), 0);

  list.AppendResult("c@d.cn");
  list.AppendResult("e@f.cn");
  model.Refresh();
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted.front().at(1).toInt(), 1);
  EXPECT_EQ(inserted.front().at(2).toInt(), 2);
  EXPECT_EQ(model.Rows(), (std::vector<std::string>{"a@b.cn", "c@d.cn", "e@f.cn"}));
  EXPECT_EQ(model.data(model.index(2, 0), Qt::DisplayRole).toString(), QStringLiteral("e@f.cn"));
  EXPECT_FALSE(model.data(model.index(3, 0), Qt::DisplayRole).isValid());
  EXPECT_EQ(reset.count(), 0);

  // Cleared and refilled to the same length: a new list.
  list.Clear();
  for (const char* row : {"x@y.cn", "z@w.cn", "q@r.cn"}) list.AppendResult(row);
  model.Refresh();
  EXPECT_EQ(reset.count(), 1);
  EXPECT_EQ(model.Rows(), (std::vector<std::string>{"x@y.cn", "z@w.cn", "q@r.cn"}));

  list.Clear();
  model.Refresh();
  EXPECT_EQ(reset.count(), 2);
  EXPECT_EQ(model.Rows(), std::vector<std::string>{""});
}

}  // namespace
}  // namespace qm::shell
