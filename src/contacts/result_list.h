#pragma once
// One of the three result lists (StringGrid1, StringGrid2, StringGrid3) with its
// last-accepted value. Every operation takes the list's one mutex, so the comparison with
// the last-accepted value, the append and the update form one indivisible step, and a
// reader always sees whole rows. Each row also keeps the address of the page it was first
// found on and when it was appended.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "contacts/unique_values.h"
#include "ui/change_notifier.h"

namespace qm {

// One row with where and when it was found.
struct TResultEntry {
  std::string Value;
  std::string Source;  // the page's address; empty when none was given
  int64_t FoundAtMs = 0;  // milliseconds since 1970-01-01 UTC
  std::string Checks = {};  // the row's check flags, where an export has them; else empty
};

// A row as the list holds it, valid only while the list's lock is held.
struct TResultEntryView {
  std::string_view Value;
  std::string_view Source;
  int64_t FoundAtMs = 0;
};

class TResultList {
 public:
  explicit TResultList(ui::ChangeNotifier& notifier);

  // A candidate found by an extractor: unless it equals the last-accepted value (or, with
  // unique values, any value accepted since BeginRun), appends candidate + suffix, found on
  // the page `source`, and makes candidate the last-accepted value. True when appended.
  bool AcceptCandidate(std::string_view candidate, std::string_view suffix = {},
                       std::string_view source = {});

  // Appends one row: fills the single empty row of an empty list, else adds a row.
  void AppendResult(std::string_view text);
  void AppendResult(std::string_view text, std::string_view source);

  // A new run: the last-accepted value and the values seen are forgotten; with
  // uniqueValues, a value is accepted once per run, else only an immediate repeat is dropped.
  void BeginRun(bool uniqueValues);

  // A row found by an earlier part of the same run (a resumed one): appended with its source
  // and time, and, with unique values, counted as accepted. `suffix` is what the row adds
  // to its candidate (a QQ number's mail suffix).
  void RestoreRow(std::string_view row, std::string_view suffix, std::string_view source,
                  int64_t foundAtMs);
  // Candidates never to be accepted in this run (found by earlier runs); kept until the
  // next BeginRun.
  void ExcludeCandidates(std::unordered_set<std::string> candidates);

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
  // The entries (none for an empty list) from row `from` on, with their sources and times;
  // also returns the row count they were taken at.
  std::vector<TResultEntry> EntriesFrom(size_t from, size_t& rowCount) const;
  // Calls visit(TResultEntryView) for the entries (none for an empty list) from row `from`
  // on, under the list's lock, without copying them; also returns the row count they were
  // taken at. Appends wait for the visit: it must be short and must not call the list.
  template <typename Visit>
  void VisitEntriesFrom(size_t from, size_t& rowCount, Visit&& visit) const {
    std::lock_guard lock(mutex_);
    rowCount = rows_.size();
    if (rows_.front().empty()) return;
    for (size_t i = from; i < rows_.size(); ++i) {
      const RowOrigin& origin = origins_[i];
      visit(TResultEntryView{rows_[i], sources_[origin.SourceId], origin.FoundAtMs});
    }
  }
  std::vector<TResultEntry> Entries() const {
    size_t rowCount;
    return EntriesFrom(0, rowCount);
  }
  // The address row `row` was found on; empty for a row out of range or without one.
  std::string SourceOfRow(size_t row) const;
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
  void AppendLocked(std::string_view text, std::string_view suffix, std::string_view source,
                    int64_t foundAtMs);
  uint32_t SourceIdLocked(std::string_view source);

  struct RowOrigin {
    uint32_t SourceId;  // index into sources_
    int64_t FoundAtMs;
  };

  ui::ChangeNotifier& notifier_;
  mutable std::mutex mutex_;
  std::vector<std::string> rows_;  // never empty
  std::vector<RowOrigin> origins_;  // one per row
  // Each address once: a page gives many rows. A deque keeps the strings in place for the
  // index's keys.
  std::deque<std::string> sources_;
  std::unordered_map<std::string_view, uint32_t> sourceIds_;
  std::string lastAccepted_;
  // Set by BeginRun, before the run's workers start.
  std::atomic<bool> uniqueValues_{false};
  // With uniqueValues_: every value of this run. It has locks of its own: a repeat, which
  // most candidates are, is dropped without the list's lock.
  TUniqueValues seen_;
  TUniqueValues excluded_;
  std::atomic<bool> anyExcluded_{false};
  // EntryCount of rows_, written under the mutex: the workers read the counts after every
  // line, and four of them taking the list's lock for it would cost more than the scan.
  std::atomic<int32_t> entryCount_{0};
  std::atomic<uint32_t> clearCount_{0};  // written under the mutex
};

}  // namespace qm
