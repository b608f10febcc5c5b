#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "store/result_store.h"

namespace qm {

// Writes one run's pages and rows to a store on a thread of its own, in batched
// transactions, so the workers hand them over and go on. Any thread may call it.
//
// A row goes in with its check flags when its checks have settled by the time its batch is
// written; else it goes in without them (read as unchecked) and its flags are filled in by
// a later update once its lookup answers or passes its deadline. Writing never waits for a
// lookup, so rows, pages and the saved position reach the store as promptly with checks as
// without.
class TStoreWriter {
 public:
  // The check flags of rows, asked on the writing thread.
  struct TRowChecker {
    // The row's flags once nothing is left to wait for; nullopt while a lookup is out.
    // Never waits.
    std::function<std::optional<std::string>(int kind, std::string_view value)> Settled;
    // The row's flags, waiting for its lookup until `until`; nullopt when it is still out
    // then. Past the lookup's own deadline a row always has its flags.
    std::function<std::optional<std::string>(int kind, std::string_view value,
                                             std::chrono::steady_clock::time_point until)>
        Wait;
  };

  TStoreWriter(TResultStore& store, int64_t run, TRowChecker checkRows = {});
  // Writes what is queued and the flags that have settled, then ends its thread; rows whose
  // lookups are still out stay unchecked.
  ~TStoreWriter();
  TStoreWriter(const TStoreWriter&) = delete;
  TStoreWriter& operator=(const TStoreWriter&) = delete;

  void AddPage(TStoredPage page);
  void AddRow(TStoredRow row);
  // The run may save `position` once everything added before this call is stored.
  void MarkPosition(int64_t position);
  // The last position marked whose pages and rows are all stored; -1 before any.
  int64_t DurablePosition() const;
  // Waits until everything added so far is stored, or writing has failed. It never waits
  // for a lookup.
  void Flush();
  // Flush, then waits until the flags of every row stored so far are in the store: for the
  // end of a run, bounded by the deadline of the last lookup.
  void AwaitChecks();
  // Rows stored without their flags, waiting for their lookups.
  size_t RowsAwaitingChecks() const;
  // Empty while all is well; else why writing failed. After a failure nothing more is
  // written, and the durable position stays where it was.
  std::string Failure() const;

 private:
  struct TAwaitedRow {
    int Kind = 0;
    std::string Value;
  };

  void Queued();  // called under mutex_ for every addition kept
  void WriteBatches();
  // Gives the batch's rows the flags that have settled; the others are returned.
  std::vector<TAwaitedRow> FlagSettledRows(std::vector<TStoredRow>& rows) const;
  // The flags of the awaited rows that have settled, oldest first, taken off the list.
  std::vector<TRowChecks> TakeSettledChecks();
  // Stores the flags of every awaited row, waiting for their lookups.
  void SettleAll();
  void Await(std::vector<TAwaitedRow> rows);

  TResultStore& store_;
  const int64_t run_;
  const TRowChecker checkRows_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;    // the writing thread waits on it for work
  std::condition_variable stored_;  // Flush waits on it for a batch to be stored
  std::vector<TStoredPage> pages_;
  std::vector<TStoredRow> rows_;
  std::optional<int64_t> markedPosition_;
  size_t queued_ = 0;  // pages, rows and marks waiting for the next batch
  std::chrono::steady_clock::time_point firstQueuedAt_;
  // Additions are numbered in the order they were made: every one up to storedUpTo_ is
  // stored, every one up to flushUpTo_ is waited for, and the flags of every row up to
  // checkedUpTo_ are stored once AwaitChecks asks for those up to awaitChecksUpTo_.
  uint64_t addedUpTo_ = 0;
  uint64_t storedUpTo_ = 0;
  uint64_t flushUpTo_ = 0;
  uint64_t awaitChecksUpTo_ = 0;
  uint64_t checkedUpTo_ = 0;
  size_t awaitedCount_ = 0;  // mirrors awaited_.size() for other threads
  std::string failure_;
  bool stopping_ = false;
  std::atomic<int64_t> durablePosition_{-1};

  // Rows stored without their flags, oldest first (the writing thread only).
  std::deque<TAwaitedRow> awaited_;

  std::thread thread_;  // last, so that it starts after everything it reads is made
};

}  // namespace qm
