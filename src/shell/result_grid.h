#pragma once
// A result list on screen: a one-column table over a model that copies only the rows the
// core list has gained since the last refresh, so a list of millions of rows stays cheap.
#include <QAbstractScrollArea>
#include <QAbstractTableModel>
#include <deque>
#include <string>
#include <vector>

#include "engine/result_list.h"

namespace qm::shell {

class TResultListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TResultListModel(const TResultList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QString RowText(int row) const;

  // Brings the model up to the core list: appends new rows, or starts again when the list
  // was cleared.
  void Refresh();
  // A copy of the rows shown, for tests.
  std::vector<std::string> Rows() const { return {rows_.begin(), rows_.end()}; }

 private:
  const TResultList& list_;
  // Mirrors the core list; never empty, like it. A deque grows without moving the rows it
  // holds, which a vector of a million rows would do on every doubling.
  std::deque<std::string> rows_;
};

// StringGrid1/2/3: one column, grid lines, a vertical scroll bar only, one selected row.
// Drawn by hand rather than by a table view: a table view keeps a record per row in its
// header and walks all of them on every append, which a search adding thousands of rows a
// second pays for on every refresh. This grid keeps nothing per row and paints only the rows
// that come into view.
class TStringGrid : public QAbstractScrollArea {
  Q_OBJECT
 public:
  TStringGrid(const TResultList& list, int defaultRowHeight, QWidget* parent = nullptr);
  TResultListModel& Model() { return model_; }
  void SetColumnWidth(int width);
  int ColumnWidth() const { return columnWidth_; }
  int DefaultRowHeight() const { return rowHeight_; }
  void SetDefaultRowHeight(int height);

  // The first row in view, and the rows that fit wholly in view.
  int TopRow() const;
  void SetTopRow(int row);
  int VisibleRowCount() const;
  void ScrollToBottom();
  // The selected row, or -1; selecting scrolls it into view.
  int CurrentRow() const { return currentRow_; }
  void SetCurrentRow(int row);
  // The row under a point of the viewport, or -1.
  int RowAt(QPoint viewportPoint) const;
  // Viewport paint events so far, for tests and the benchmark.
  int PaintCount() const { return paintCount_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void RowsAppended(int first, int last);
  void RowsChanged(int first, int last);
  void UpdateScrollRange();
  QRect RowRect(int row) const;

  TResultListModel model_;
  int rowHeight_ = 18;
  int columnWidth_ = 300;
  int currentRow_ = -1;
  int paintCount_ = 0;
};

}  // namespace qm::shell
