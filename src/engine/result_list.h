#pragma once
// One of the three result lists (StringGrid1, StringGrid2, StringGrid3) with its
// last-accepted value. Every operation takes the list's one mutex, so the comparison with
// the last-accepted value, the append and the update form one indivisible step, and a
// reader always sees whole rows.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ui/change_notifier.h"

namespace qm {

class TResultList {
 public:
  explicit TResultList(ui::ChangeNotifier& notifier);

  // A candidate found by an extractor: unless it equals the last-accepted value, appends
  // candidate + suffix and makes candidate the last-accepted value. True when appended.
  bool AcceptCandidate(std::string_view candidate, std::string_view suffix = {});

  // Appends one row: fills the single empty row of an empty list, else adds a row.
  void AppendResult(std::string_view text);

  // 0 when the first row is empty, else the number of rows.
  int32_t EntryCount() const;
  // The number of rows; an empty list has one (empty) row.
  int32_t RowCount() const;

  // Row count 1, the single row emptied.
  void Clear();
  void ClearLastAccepted();
  std::string LastAccepted() const;

  // A consistent copy of the rows (one empty row for an empty list).
  std::vector<std::string> Snapshot() const;
  // The entries (none for an empty list), each followed by terminator, joined into one
  // string under the lock: a consistent copy for an export at one allocation, not one per row.
  std::string JoinedEntries(std::string_view terminator) const;
  // Copies of rows [from, RowCount()) for a renderer that keeps what it has shown; also
  // returns the row count they were taken at and, if asked, the number of clearings before
  // them, by which a renderer knows the rows it holds belong to the same list.
  std::vector<std::string> RowsFrom(size_t from, size_t& rowCount,
                                    uint32_t* clearCount = nullptr) const;
  // How often the list has been cleared.
  uint32_t ClearCount() const { return clearCount_.load(std::memory_order_acquire); }

 private:
  void AppendLocked(std::string_view text, std::string_view suffix);

  ui::ChangeNotifier& notifier_;
  mutable std::mutex mutex_;
  std::vector<std::string> rows_;  // never empty
  std::string lastAccepted_;
  // EntryCount of rows_, written under the mutex: the workers read the counts after every
  // line, and four of them taking the list's lock for it would cost more than the scan.
  std::atomic<int32_t> entryCount_{0};
  std::atomic<uint32_t> clearCount_{0};  // written under the mutex
};

}  // namespace qm
