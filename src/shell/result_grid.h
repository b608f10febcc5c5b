#pragma once
// A result list on screen. During a search the model follows only the core list's row count
// and copies rows when they are first shown: the rows in view are copied once, and the
// thousands the workers append below them each second are not copied under the list's lock
// (where every worker would wait for the copy) unless the user scrolls to them.
#include <QAbstractScrollArea>
#include <QAbstractTableModel>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "contacts/result_list.h"

namespace qm::shell {

class TResultListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TResultListModel(const TResultList& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QString RowText(int row) const;
  // The address of the page the row was found on; empty when it has none.
  QString RowSource(int row) const;

  // Brings the model up to the core list: new rows, a filled first row, or a new list when
  // the list shrank.
  void Refresh();
  // A copy of all rows, for tests.
  std::vector<std::string> Rows() const;
  // How many rows have been copied from the list so far.
  size_t RowsHeld() const { return rows_.size(); }

 private:
  void Verify();
  // Copies rows up to `row` unless held already; false when the list no longer has it.
  bool Fetch(size_t row) const;

  const TResultList& list_;
  size_t count_ = 1;  // rows the views know of; never 0, like the list
  // Copies of the list's first rows. A deque grows without moving the rows it holds, which
  // a vector of a million rows would do on every doubling.
  mutable std::deque<std::string> rows_;
  mutable bool verify_ = true;
  // The list's clear count when the rows held were copied.
  mutable uint32_t clears_ = 0;
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
  // What a row's tooltip says of its checks, given the row's text; none when not set.
  using CheckText = std::function<QString(const std::string& row)>;
  void SetCheckText(CheckText checkText) { checkText_ = std::move(checkText); }
  // A row's tooltip: the page it was found on and its checks; empty for no row.
  QString RowToolTip(int row) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  // A row's tooltip names the page it was found on and the row's checks.
  bool viewportEvent(QEvent* event) override;

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
  CheckText checkText_;
};

}  // namespace qm::shell
