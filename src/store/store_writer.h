#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/result_store.h"

namespace qm {

// Writes one run's pages and rows to a store on a thread of its own, in batched
// transactions, so the workers hand them over and go on. Any thread may call it.
class TStoreWriter {
 public:
  // Fills in the check flags of a batch's rows on the writing thread, before they are
  // written; it may wait (for lookups), never the workers.
  using TRowChecker = std::function<void(std::vector<TStoredRow>&)>;

  TStoreWriter(TResultStore& store, int64_t run, TRowChecker checkRows = {});
  ~TStoreWriter();  // writes what is left, then ends its thread
  TStoreWriter(const TStoreWriter&) = delete;
  TStoreWriter& operator=(const TStoreWriter&) = delete;

  void AddPage(TStoredPage page);
  void AddRow(TStoredRow row);
  // The run may save `position` once everything added before this call is stored.
  void MarkPosition(int64_t position);
  // The last position marked whose pages and rows are all stored; -1 before any.
  int64_t DurablePosition() const;
  // Waits until everything added so far is stored, or writing has failed.
  void Flush();
  // Empty while all is well; else why writing failed. After a failure nothing more is
  // written, and the durable position stays where it was.
  std::string Failure() const;

 private:
  void Queued();  // called under mutex_ for every addition kept
  void WriteBatches();

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
  // stored, every one up to flushUpTo_ is waited for.
  uint64_t addedUpTo_ = 0;
  uint64_t storedUpTo_ = 0;
  uint64_t flushUpTo_ = 0;
  std::string failure_;
  bool stopping_ = false;
  std::atomic<int64_t> durablePosition_{-1};

  std::thread thread_;  // last, so that it starts after everything it reads is made
};

}  // namespace qm
