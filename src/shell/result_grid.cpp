#include "shell/result_grid.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QScrollBar>
#include <utility>

namespace qm::shell {

TResultListModel::TResultListModel(const TResultList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), rows_(1) {
  Refresh();
}

int TResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TResultListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0) return {};
  const auto row = static_cast<size_t>(index.row());
  if (row >= rows_.size()) return {};
  return QString::fromUtf8(rows_[row].data(), qsizetype(rows_[row].size()));
}

void TResultListModel::Refresh() {
  // The last row shown is read again: if it changed, the list was cleared (and perhaps
  // refilled) since, or its single empty row was filled.
  const size_t shown = rows_.size();
  size_t count = 0;
  std::vector<std::string> fresh = list_.RowsFrom(shown - 1, count);
  const bool lastSame = !fresh.empty() && fresh.front() == rows_.back();
  if (count < shown || fresh.empty() || (!lastSame && shown > 1)) {
    beginResetModel();
    std::vector<std::string> all = list_.RowsFrom(0, count);
    rows_.assign(std::make_move_iterator(all.begin()), std::make_move_iterator(all.end()));
    if (rows_.empty()) rows_.resize(1);
    endResetModel();
    return;
  }
  if (!lastSame) {
    rows_.back() = std::move(fresh.front());
    const QModelIndex changed = index(static_cast<int>(shown - 1), 0);
    emit dataChanged(changed, changed);
  }
  if (fresh.size() > 1) {
    beginInsertRows({}, static_cast<int>(shown), static_cast<int>(shown + fresh.size() - 2));
    rows_.insert(rows_.end(), std::make_move_iterator(fresh.begin() + 1),
                 std::make_move_iterator(fresh.end()));
    endInsertRows();
  }
}

TStringGrid::TStringGrid(const TResultList& list, int defaultRowHeight, QWidget* parent)
    : QTableView(parent), model_(list, this) {
  setModel(&model_);
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  SetDefaultRowHeight(defaultRowHeight);
  setColumnWidth(0, 300);
  setShowGrid(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setToolTip(QString::fromUtf8("网址搜索显示区"));
}

void TStringGrid::rowsInserted(const QModelIndex& parent, int start, int end) {
  QTableView::rowsInserted(parent, start, end);
  if (appendedFrom_ < 0 || start < appendedFrom_) appendedFrom_ = start;
}

void TStringGrid::reset() {
  appendedFrom_ = -1;
  QTableView::reset();
}

void TStringGrid::doItemsLayout() {
  // The workers append while the view shows the top of the list: the rows already on
  // screen stay as they are, so only the newly visible ones (if any) are painted, not the
  // whole viewport on every refresh.
  const int from = std::exchange(appendedFrom_, -1);
  if (from <= 0) {
    QTableView::doItemsLayout();
    return;
  }
  const int scrolledTo = verticalScrollBar()->value();
  updateGeometries();
  if (verticalScrollBar()->value() != scrolledTo) {
    QTableView::doItemsLayout();
    return;
  }
  const int top = rowViewportPosition(from);
  const QRect area = viewport()->rect();
  if (top < area.bottom()) viewport()->update(area.adjusted(0, std::max(0, top - 1), 0, 0));
}

void TStringGrid::paintEvent(QPaintEvent* event) {
  ++paintCount_;
  QTableView::paintEvent(event);
}

int TStringGrid::DefaultRowHeight() const {
  return verticalHeader()->defaultSectionSize();
}

void TStringGrid::SetDefaultRowHeight(int height) {
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(height);
}

}  // namespace qm::shell
