#pragma once
// A result list on screen: a one-column table over a model that copies only the rows the
// core list has gained since the last refresh, so a list of millions of rows stays cheap.
#include <QAbstractTableModel>
#include <QTableView>
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
  const std::vector<std::string>& Rows() const { return rows_; }

 private:
  const TResultList& list_;
  std::vector<std::string> rows_;  // mirrors the core list; never empty, like it
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

 private:
  TResultListModel model_;
};

}  // namespace qm::shell
