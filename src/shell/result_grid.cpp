#include "shell/result_grid.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyleOptionViewItem>
#include <QToolTip>
#include <algorithm>
#include <optional>
#include <utility>

#include "text/cp936.h"

namespace qm::shell {
namespace {

// A list growing by thousands of rows a second changes the scroll bar's range on every
// refresh, and each change repaints the bar and what lies under it, although once the
// thumb is as short as it gets no pixel changes. This bar repaints for a new range only
// when the thumb or the arrows would look different.
class TGridScrollBar : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

 protected:
  void sliderChange(SliderChange change) override {
    if ((change == SliderRangeChange || change == SliderStepsChange) && painted_ &&
        Now() == *painted_)
      return;
    QScrollBar::sliderChange(change);
  }

  void paintEvent(QPaintEvent* event) override {
    painted_ = Now();
    QScrollBar::paintEvent(event);
  }

 private:
  struct Look {
    QRect thumb;
    bool atMinimum, atMaximum;
    bool operator==(const Look&) const = default;
  };

  Look Now() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() <= minimum(), value() >= maximum()};
  }

  std::optional<Look> painted_;
};

}  // namespace

TResultListModel::TResultListModel(const TResultList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
  Refresh();
}

int TResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(count_);
}

int TResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant TResultListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0) return {};
  if (static_cast<size_t>(index.row()) >= count_) return {};
  return RowText(index.row());
}

QString TResultListModel::RowSource(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= count_) return {};
  std::string source = list_.SourceOfRow(static_cast<size_t>(row));
  // Addresses come from the list file, which may be code page 936 text.
  if (!IsValidUtf8(source)) source = Cp936ToUtf8(source);
  return QString::fromUtf8(source.data(), qsizetype(source.size()));
}

QString TResultListModel::RowText(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= count_ || !Fetch(static_cast<size_t>(row))) return {};
  const std::string& text = rows_[static_cast<size_t>(row)];
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool TResultListModel::Fetch(size_t row) const {
  if (row < rows_.size()) return true;
  // Rows of a list that may have been refilled must not extend the rows held of the old one.
  if (verify_) return false;
  size_t total = 0;
  uint32_t clears = 0;
  std::vector<std::string> fresh = list_.RowsFrom(rows_.size(), total, &clears);
  if (clears != clears_) {
    // Rows of a list cleared since the rows held were copied.
    verify_ = true;
    return false;
  }
  rows_.insert(rows_.end(), std::make_move_iterator(fresh.begin()),
               std::make_move_iterator(fresh.end()));
  if (row < rows_.size()) return true;
  // Shorter than shown: the list was cleared since; the next refresh starts again.
  verify_ = true;
  return false;
}

std::vector<std::string> TResultListModel::Rows() const {
  if (count_ > 0) Fetch(count_ - 1);
  return {rows_.begin(), rows_.begin() + static_cast<ptrdiff_t>(std::min(count_, rows_.size()))};
}

void TResultListModel::Refresh() {
  const size_t rows = static_cast<size_t>(std::max<int32_t>(1, list_.RowCount()));
  // A single row may have been the empty row of an empty list, filled since.
  if (verify_ || rows < count_ || count_ == 1 || list_.ClearCount() != clears_) {
    Verify();
    return;
  }
  if (rows > count_) {
    beginInsertRows({}, static_cast<int>(count_), static_cast<int>(rows - 1));
    count_ = rows;
    endInsertRows();
  }
}

void TResultListModel::Verify() {
  verify_ = false;
  // The last row held is read again: if it changed, the list was cleared (and perhaps
  // refilled) since, or its single empty row was filled.
  const size_t held = rows_.size();
  size_t total = 0;
  uint32_t clears = 0;
  std::vector<std::string> fresh = list_.RowsFrom(held == 0 ? 0 : held - 1, total, &clears);
  const bool lastSame = held > 0 && !fresh.empty() && fresh.front() == rows_.back();
  if (held == 0 || total < count_ || fresh.empty() || (!lastSame && held > 1) ||
      clears != clears_) {
    beginResetModel();
    if (held != 0) fresh = list_.RowsFrom(0, total, &clears);
    clears_ = clears;
    rows_.assign(std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    if (rows_.empty()) rows_.resize(1);
    count_ = rows_.size();
    endResetModel();
    return;
  }
  if (!lastSame) {
    rows_.back() = std::move(fresh.front());
    const QModelIndex changed = index(static_cast<int>(held - 1), 0);
    emit dataChanged(changed, changed);
  }
  rows_.insert(rows_.end(), std::make_move_iterator(fresh.begin() + 1),
               std::make_move_iterator(fresh.end()));
  if (total > count_) {
    beginInsertRows({}, static_cast<int>(count_), static_cast<int>(total - 1));
    count_ = total;
    endInsertRows();
  }
}

TStringGrid::TStringGrid(const TResultList& list, int defaultRowHeight, QWidget* parent)
    : QAbstractScrollArea(parent), model_(list, this) {
  setVerticalScrollBar(new TGridScrollBar(Qt::Vertical, this));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  setToolTip(QString::fromUtf8("网址搜索显示区"));
  verticalScrollBar()->setSingleStep(1);
  connect(&model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { RowsAppended(first, last); });
  connect(&model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& from, const QModelIndex& to) {
            RowsChanged(from.row(), to.row());
          });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
    currentRow_ = -1;
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
  });
  SetDefaultRowHeight(defaultRowHeight);
}

void TStringGrid::SetColumnWidth(int width) {
  if (width == columnWidth_) return;
  columnWidth_ = std::max(0, width);
  viewport()->update();
}

void TStringGrid::SetDefaultRowHeight(int height) {
  rowHeight_ = std::max(1, height);
  UpdateScrollRange();
  viewport()->update();
}

int TStringGrid::TopRow() const {
  return verticalScrollBar()->value();
}

void TStringGrid::SetTopRow(int row) {
  verticalScrollBar()->setValue(row);
}

int TStringGrid::VisibleRowCount() const {
  return std::max(1, viewport()->height() / rowHeight_);
}

void TStringGrid::ScrollToBottom() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TStringGrid::SetCurrentRow(int row) {
  if (row < 0 || row >= model_.rowCount()) return;
  const int previous = std::exchange(currentRow_, row);
  if (previous >= 0) viewport()->update(RowRect(previous));
  viewport()->update(RowRect(row));
  if (row < TopRow())
    SetTopRow(row);
  else if (row >= TopRow() + VisibleRowCount())
    SetTopRow(row - VisibleRowCount() + 1);
}

int TStringGrid::RowAt(QPoint viewportPoint) const {
  if (viewportPoint.y() < 0 || viewportPoint.x() < 0 || viewportPoint.x() >= columnWidth_)
    return -1;
  const int row = TopRow() + viewportPoint.y() / rowHeight_;
  return row < model_.rowCount() ? row : -1;
}

QRect TStringGrid::RowRect(int row) const {
  return QRect(0, (row - TopRow()) * rowHeight_, columnWidth_, rowHeight_);
}

void TStringGrid::UpdateScrollRange() {
  const int full = VisibleRowCount();
  verticalScrollBar()->setPageStep(full);
  verticalScrollBar()->setRange(0, std::max(0, model_.rowCount() - full));
}

void TStringGrid::RowsAppended(int first, int last) {
  UpdateScrollRange();
  // Rows on screen stay where they are; only rows that land in view are painted.
  const int top = TopRow();
  const int end = top + viewport()->height() / rowHeight_ + 1;
  if (last < top || first >= end) return;
  const int from = std::max(first, top);
  const int to = std::min(last, end);
  viewport()->update(
      QRect(0, (from - top) * rowHeight_, viewport()->width(), (to - from + 1) * rowHeight_));
}

void TStringGrid::RowsChanged(int first, int last) {
  for (int row = first; row <= last; ++row) viewport()->update(RowRect(row));
}

void TStringGrid::paintEvent(QPaintEvent* event) {
  ++paintCount_;
  QPainter painter(viewport());
  const QRect dirty = event->rect();
  const int top = TopRow();
  const int first = top + std::max(0, dirty.top()) / rowHeight_;
  const int last = std::min(model_.rowCount() - 1, top + dirty.bottom() / rowHeight_);
  QStyleOptionViewItem option;
  option.initFrom(this);
  const QColor grid(
      static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
  const bool active = hasFocus();
  const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
  for (int row = first; row <= last; ++row) {
    const QRect cell = RowRect(row);
    QColor text = palette().color(group, QPalette::Text);
    if (row == currentRow_) {
      painter.fillRect(cell, palette().brush(group, QPalette::Highlight));
      text = palette().color(group, QPalette::HighlightedText);
    }
    painter.setPen(text);
    painter.drawText(cell.adjusted(2, 0, -3, -1),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, model_.RowText(row));
    painter.setPen(grid);
    painter.drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
    painter.drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
  }
}

void TStringGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

bool TStringGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const int row = RowAt(help->pos());
    const QString tip = row >= 0 ? RowToolTip(row) : QString();
    if (!tip.isEmpty()) {
      QToolTip::showText(help->globalPos(), tip, viewport(), RowRect(row));
      return true;
    }
  }
  return QAbstractScrollArea::viewportEvent(event);
}

QString TStringGrid::RowToolTip(int row) const {
  const QString source = model_.RowSource(row);
  QString checks;
  if (checkText_) {
    const QString text = model_.RowText(row);
    if (!text.isEmpty()) checks = checkText_(text.toStdString());
  }
  QString tip;
  if (!source.isEmpty()) tip = QString::fromUtf8("来源：") + source;
  if (!checks.isEmpty()) {
    if (!tip.isEmpty()) tip += QLatin1Char('\n');
    tip += QString::fromUtf8("检查：") + checks;
  }
  return tip;
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint());
  if (event->button() != Qt::LeftButton || row < 0) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  SetCurrentRow(row);
  event->accept();
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
  const int rows = model_.rowCount();
  const int current = currentRow_ < 0 ? TopRow() : currentRow_;
  int target = -1;
  switch (event->key()) {
    case Qt::Key_Up:
      target = current - (currentRow_ < 0 ? 0 : 1);
      break;
    case Qt::Key_Down:
      target = current + (currentRow_ < 0 ? 0 : 1);
      break;
    case Qt::Key_PageUp:
      target = current - VisibleRowCount();
      break;
    case Qt::Key_PageDown:
      target = current + VisibleRowCount();
      break;
    case Qt::Key_Home:
      target = 0;
      break;
    case Qt::Key_End:
      target = rows - 1;
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  SetCurrentRow(std::clamp(target, 0, rows - 1));
  event->accept();
}

void TStringGrid::scrollContentsBy(int, int dy) {
  if (dy != 0) viewport()->update();
}

}  // namespace qm::shell
