#include "engine/result_list.h"

namespace qm {

TResultList::TResultList(ui::ChangeNotifier& notifier) : notifier_(notifier), rows_(1) {}

bool TResultList::AcceptCandidate(std::string_view candidate, std::string_view suffix) {
  {
    std::lock_guard lock(mutex_);
    if (candidate == lastAccepted_) return false;
    AppendLocked(candidate, suffix);
    lastAccepted_.assign(candidate);
  }
  notifier_.Changed();
  return true;
}

void TResultList::AppendResult(std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    AppendLocked(text, {});
  }
  notifier_.Changed();
}

void TResultList::AppendLocked(std::string_view text, std::string_view suffix) {
  std::string* row;
  if (rows_.front().empty()) {
    rows_.resize(1);
    row = &rows_.front();
  } else {
    row = &rows_.emplace_back();
  }
  row->reserve(text.size() + suffix.size());
  row->assign(text);
  row->append(suffix);
  entryCount_.store(rows_.front().empty() ? 0 : static_cast<int32_t>(rows_.size()),
                    std::memory_order_release);
}

int32_t TResultList::EntryCount() const {
  return entryCount_.load(std::memory_order_acquire);
}

int32_t TResultList::RowCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(rows_.size());
}

void TResultList::Clear() {
  {
    std::lock_guard lock(mutex_);
    rows_.clear();
    rows_.emplace_back();
    entryCount_.store(0, std::memory_order_release);
    clearCount_.fetch_add(1, std::memory_order_acq_rel);
  }
  notifier_.Changed();
}

void TResultList::ClearLastAccepted() {
  std::lock_guard lock(mutex_);
  lastAccepted_.clear();
}

std::string TResultList::LastAccepted() const {
  std::lock_guard lock(mutex_);
  return lastAccepted_;
}

std::vector<std::string> TResultList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::string TResultList::JoinedEntries(std::string_view terminator) const {
  std::lock_guard lock(mutex_);
  std::string joined;
  if (rows_.front().empty()) return joined;
  size_t size = 0;
  for (const auto& row : rows_) size += row.size() + terminator.size();
  joined.reserve(size);
  for (const auto& row : rows_) {
    joined.append(row);
    joined.append(terminator);
  }
  return joined;
}

std::vector<std::string> TResultList::RowsFrom(size_t from, size_t& rowCount,
                                               uint32_t* clearCount) const {
  std::lock_guard lock(mutex_);
  rowCount = rows_.size();
  if (clearCount != nullptr) *clearCount = clearCount_.load(std::memory_order_relaxed);
  if (from >= rows_.size()) return {};
  return std::vector<std::string>(rows_.begin() + static_cast<ptrdiff_t>(from), rows_.end());
}

}  // namespace qm
