#pragma once
// A result list on screen: a one-column table over a model that copies only the rows the
// core list has gained since the last refresh, so a list of millions of rows stays cheap.
#include <QAbstractTableModel>
#include <QTableView>
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

// StringGrid1/2/3: one column, grid lines, a vertical scroll bar only.
class TStringGrid : public QTableView {
  Q_OBJECT
 public:
  TStringGrid(const TResultList& list, int defaultRowHeight, QWidget* parent = nullptr);
  TResultListModel& Model() { return model_; }
  void SetColumnWidth(int width) { setColumnWidth(0, width); }
  int ColumnWidth() const { return columnWidth(0); }
  int DefaultRowHeight() const;
  void SetDefaultRowHeight(int height);
  // Lays out rows the model gained now rather than from a zero timer, so that their repaint
  // joins the one the rest of the window's refresh asked for.
  void LayOutNow() { executeDelayedItemsLayout(); }
  // Viewport paint events so far, for tests and the benchmark.
  int PaintCount() const { return paintCount_; }

 protected:
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void reset() override;
  void doItemsLayout() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  TResultListModel model_;
  // The first row appended since the last layout, or -1 when something else asked for one.
  int appendedFrom_ = -1;
  int paintCount_ = 0;
};

}  // namespace qm::shell
