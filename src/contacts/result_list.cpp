#include "contacts/result_list.h"

#include <chrono>

#include "contacts/row_tally.h"

namespace qm {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TResultList::TResultList(ui::ChangeNotifier& notifier)
    : notifier_(notifier), rows_(1), origins_(1, RowOrigin{0, 0}), sources_(1) {
  sourceIds_.emplace(sources_.front(), 0);
}

bool TResultList::AcceptCandidate(std::string_view candidate, std::string_view suffix,
                                  std::string_view source) {
  const bool excluding = anyExcluded_.load(std::memory_order_acquire);
  if (uniqueValues_.load(std::memory_order_acquire)) {
    // The value accepted last is among those seen, so the set alone decides; whoever
    // inserts a value first appends it.
    if (excluding && excluded_.Contains(candidate)) return false;
    if (!seen_.Insert(candidate)) return false;
    std::lock_guard lock(mutex_);
    AppendLocked(candidate, suffix, source, NowMs());
    lastAccepted_.assign(candidate);
  } else {
    std::lock_guard lock(mutex_);
    if (candidate == lastAccepted_) return false;
    if (excluding && excluded_.Contains(candidate)) return false;
    AppendLocked(candidate, suffix, source, NowMs());
    lastAccepted_.assign(candidate);
  }
  notifier_.Changed();
  return true;
}

void TResultList::AppendResult(std::string_view text) { AppendResult(text, {}); }

void TResultList::AppendResult(std::string_view text, std::string_view source) {
  {
    std::lock_guard lock(mutex_);
    AppendLocked(text, {}, source, NowMs());
  }
  notifier_.Changed();
}

void TResultList::RestoreRow(std::string_view row, std::string_view suffix,
                             std::string_view source, int64_t foundAtMs) {
  {
    std::lock_guard lock(mutex_);
    const std::string_view candidate =
        !suffix.empty() && row.ends_with(suffix) ? row.substr(0, row.size() - suffix.size()) : row;
    if (uniqueValues_.load(std::memory_order_relaxed)) seen_.Insert(candidate);
    AppendLocked(candidate, row.substr(candidate.size()), source, foundAtMs);
  }
  notifier_.Changed();
}

void TResultList::ExcludeCandidates(std::unordered_set<std::string> candidates) {
  std::lock_guard lock(mutex_);
  excluded_.Clear();
  for (const std::string& candidate : candidates) excluded_.Insert(candidate);
  anyExcluded_.store(!candidates.empty(), std::memory_order_release);
}

void TResultList::BeginRun(bool uniqueValues) {
  std::lock_guard lock(mutex_);
  lastAccepted_.clear();
  uniqueValues_.store(uniqueValues, std::memory_order_release);
  seen_.Clear();
  excluded_.Clear();
  anyExcluded_.store(false, std::memory_order_release);
}

uint32_t TResultList::SourceIdLocked(std::string_view source) {
  if (auto found = sourceIds_.find(source); found != sourceIds_.end()) return found->second;
  const auto id = static_cast<uint32_t>(sources_.size());
  sourceIds_.emplace(sources_.emplace_back(source), id);
  return id;
}

void TResultList::AppendLocked(std::string_view text, std::string_view suffix,
                               std::string_view source, int64_t foundAtMs) {
  std::string* row;
  const RowOrigin origin{SourceIdLocked(source), foundAtMs};
  if (rows_.front().empty()) {
    rows_.resize(1);
    origins_.resize(1);
    origins_.front() = origin;
    row = &rows_.front();
  } else {
    row = &rows_.emplace_back();
    origins_.push_back(origin);
  }
  row->reserve(text.size() + suffix.size());
  row->assign(text);
  row->append(suffix);
  entryCount_.store(rows_.front().empty() ? 0 : static_cast<int32_t>(rows_.size()),
                    std::memory_order_release);
  TRowTally::NoteAppended(*this, *row, origin.FoundAtMs);
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
    origins_.assign(1, RowOrigin{0, 0});
    // Sources are kept only for rows: a long session's addresses do not pile up.
    sourceIds_.clear();
    sources_.resize(1);
    sourceIds_.emplace(sources_.front(), 0);
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

std::vector<TResultEntry> TResultList::EntriesFrom(size_t from, size_t& rowCount) const {
  std::lock_guard lock(mutex_);
  rowCount = rows_.size();
  std::vector<TResultEntry> entries;
  if (rows_.front().empty() || from >= rows_.size()) return entries;
  entries.reserve(rows_.size() - from);
  for (size_t i = from; i < rows_.size(); ++i) {
    entries.push_back({rows_[i], sources_[origins_[i].SourceId], origins_[i].FoundAtMs});
  }
  return entries;
}

std::string TResultList::SourceOfRow(size_t row) const {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return {};
  return sources_[origins_[row].SourceId];
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
