#include "store/store_writer.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace qm {
namespace {

// A row is on disk within about this long of being added, while the batches stay large
// enough that the cost of a commit is shared by many rows. Flags that settle later are
// looked for as often.
constexpr auto kBatchInterval = std::chrono::milliseconds(200);
// A queue this long is written at once rather than at the end of the interval.
constexpr size_t kLargeBatch = 10000;
// The queues keep the capacity of batches up to this size for the next ones; a larger one
// (after a slow disk) gives its memory back.
constexpr size_t kKeptCapacity = 2 * kLargeBatch;
// Rows awaiting their flags: every one leaves the list by its lookup's deadline, so only a
// resolver that never answers a flood of rows reaches this. The oldest then stay unchecked.
constexpr size_t kMaxAwaited = 100000;
// Lookups end about in the order they were asked, a few dozen out at once: past this many
// awaited rows still pending, the later ones are pending too and wait for the next look.
// So a row is looked at about once, not at every interval until its lookup ends.
constexpr size_t kLookAhead = 256;
// At a run's end, how long the oldest row still pending is waited for before the others
// are looked at again.
constexpr auto kSettleSlice = std::chrono::milliseconds(20);

template <typename T>
void KeepCapacity(std::vector<T>& queue, std::vector<T>& written) {
  if (queue.empty() && written.capacity() <= kKeptCapacity &&
      written.capacity() > queue.capacity()) {
    queue.swap(written);
  }
}

}  // namespace

TStoreWriter::TStoreWriter(TResultStore& store, int64_t run, TRowChecker checkRows)
    : store_(store), run_(run), checkRows_(std::move(checkRows)),
      thread_([this] { WriteBatches(); }) {}

TStoreWriter::~TStoreWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TStoreWriter::Queued() {
  ++addedUpTo_;
  // The thread is woken only when its wait must change: the first item starts the
  // interval, a large queue ends it. Waking it for every row would cost a system call each.
  if (++queued_ == 1) firstQueuedAt_ = std::chrono::steady_clock::now();
  if (queued_ == 1 || queued_ == kLargeBatch) wake_.notify_one();
}

void TStoreWriter::AddPage(TStoredPage page) {
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) return;
  pages_.push_back(std::move(page));
  Queued();
}

void TStoreWriter::AddRow(TStoredRow row) {
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) return;
  rows_.push_back(std::move(row));
  Queued();
}

void TStoreWriter::MarkPosition(int64_t position) {
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) return;
  markedPosition_ = position;
  Queued();
}

int64_t TStoreWriter::DurablePosition() const {
  return durablePosition_.load();
}

void TStoreWriter::Flush() {
  std::unique_lock lock(mutex_);
  const uint64_t target = addedUpTo_;
  if (storedUpTo_ >= target || !failure_.empty()) return;
  flushUpTo_ = std::max(flushUpTo_, target);
  wake_.notify_one();
  stored_.wait(lock, [&] { return storedUpTo_ >= target || !failure_.empty(); });
}

void TStoreWriter::AwaitChecks() {
  std::unique_lock lock(mutex_);
  const uint64_t target = addedUpTo_;
  if (!failure_.empty() || (checkedUpTo_ >= target && awaitedCount_ == 0)) return;
  flushUpTo_ = std::max(flushUpTo_, target);
  awaitChecksUpTo_ = std::max(awaitChecksUpTo_, target);
  wake_.notify_one();
  stored_.wait(lock, [&] { return checkedUpTo_ >= target || !failure_.empty(); });
}

size_t TStoreWriter::RowsAwaitingChecks() const {
  std::lock_guard lock(mutex_);
  return awaitedCount_;
}

std::string TStoreWriter::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::vector<TStoreWriter::TAwaitedRow> TStoreWriter::FlagSettledRows(
    std::vector<TStoredRow>& rows) const {
  std::vector<TAwaitedRow> unsettled;
  if (!checkRows_.Settled) return unsettled;
  for (TStoredRow& row : rows) {
    // A row whose check fails is stored all the same, without flags.
    try {
      if (std::optional<std::string> flags = checkRows_.Settled(row.Kind, row.Value)) {
        row.Checks = std::move(*flags);
      } else {
        unsettled.push_back({row.Kind, row.Value});
      }
    } catch (...) {
    }
  }
  return unsettled;
}

void TStoreWriter::Await(std::vector<TAwaitedRow> rows) {
  for (TAwaitedRow& row : rows) awaited_.push_back(std::move(row));
  while (awaited_.size() > kMaxAwaited) awaited_.pop_front();
}

std::vector<TRowChecks> TStoreWriter::TakeSettledChecks() {
  std::vector<TRowChecks> settled;
  std::vector<TAwaitedRow> pending;
  while (!awaited_.empty() && pending.size() < kLookAhead) {
    TAwaitedRow row = std::move(awaited_.front());
    awaited_.pop_front();
    std::optional<std::string> flags;
    try {
      flags = checkRows_.Settled(row.Kind, row.Value);
    } catch (...) {
      continue;  // stays without flags, as at a failing first check
    }
    if (flags) {
      settled.push_back({row.Kind, std::move(row.Value), std::move(*flags)});
    } else {
      pending.push_back(std::move(row));
    }
  }
  for (auto row = pending.rbegin(); row != pending.rend(); ++row) {
    awaited_.push_front(std::move(*row));
  }
  return settled;
}

void TStoreWriter::SettleAll() {
  while (!awaited_.empty()) {
    std::vector<TRowChecks> checks = TakeSettledChecks();
    if (!awaited_.empty()) {
      if (!checkRows_.Wait) break;
      // The oldest is waited for a slice at a time, so that the flags of the others go in
      // as they settle rather than all after the slowest.
      TAwaitedRow& oldest = awaited_.front();
      std::optional<std::string> flags;
      try {
        flags = checkRows_.Wait(oldest.Kind, oldest.Value,
                                std::chrono::steady_clock::now() + kSettleSlice);
      } catch (...) {
        awaited_.pop_front();
        continue;
      }
      if (flags) {
        checks.push_back({oldest.Kind, std::move(oldest.Value), std::move(*flags)});
        awaited_.pop_front();
      }
    }
    if (!checks.empty()) store_.UpdateChecks(run_, checks);
  }
}

void TStoreWriter::WriteBatches() {
  TStoreBatch batch;
  batch.Run = run_;
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto hasWork = [&] {
      return stopping_ || queued_ > 0 || awaitChecksUpTo_ > checkedUpTo_;
    };
    // Rows awaiting their flags are looked at every interval, whether or not more come.
    if (awaited_.empty()) {
      wake_.wait(lock, hasWork);
    } else {
      wake_.wait_for(lock, kBatchInterval, hasWork);
    }
    if (queued_ > 0) {
      wake_.wait_until(lock, firstQueuedAt_ + kBatchInterval, [&] {
        return stopping_ || queued_ >= kLargeBatch || flushUpTo_ > storedUpTo_;
      });
    }
    // At the end of a run every lookup still out is waited for; when the writer goes,
    // none is.
    const bool settleAll = awaitChecksUpTo_ > checkedUpTo_ && !stopping_;

    batch.Pages.swap(pages_);
    batch.Rows.swap(rows_);
    batch.SavedPosition = std::exchange(markedPosition_, std::nullopt);
    const uint64_t upTo = addedUpTo_;
    queued_ = 0;
    lock.unlock();

    std::vector<TAwaitedRow> unsettled = FlagSettledRows(batch.Rows);
    bool written = false;
    bool updated = false;
    std::string failure;
    try {
      if (!batch.Pages.empty() || !batch.Rows.empty() || batch.SavedPosition) {
        store_.Write(batch);
      }
      written = true;
      Await(std::move(unsettled));
      if (settleAll) {
        SettleAll();
      } else if (!awaited_.empty()) {
        const std::vector<TRowChecks> checks = TakeSettledChecks();
        if (!checks.empty()) store_.UpdateChecks(run_, checks);
      }
      updated = true;
    } catch (const std::exception& error) {
      failure = error.what();
    } catch (...) {
    }
    // An empty Failure() reads as success.
    if (!updated && failure.empty()) failure = "Writing the result store failed";
    batch.Pages.clear();
    batch.Rows.clear();

    lock.lock();
    KeepCapacity(pages_, batch.Pages);
    KeepCapacity(rows_, batch.Rows);
    if (written) {
      storedUpTo_ = upTo;
      if (batch.SavedPosition) durablePosition_.store(*batch.SavedPosition);
    }
    if (updated) {
      // Flags not settled by the writer's end stay unchecked.
      if (awaited_.empty() || stopping_ || settleAll) checkedUpTo_ = upTo;
    } else {
      failure_ = std::move(failure);
      // Nothing more is written, so nothing more is kept.
      std::vector<TStoredPage>().swap(pages_);
      std::vector<TStoredRow>().swap(rows_);
      markedPosition_.reset();
      queued_ = 0;
      awaited_.clear();
    }
    awaitedCount_ = awaited_.size();
    stored_.notify_all();
    if (stopping_ && queued_ == 0) return;
    if (!failure_.empty()) {
      // Only the end is left to wait for.
      wake_.wait(lock, [&] { return stopping_; });
      return;
    }
  }
}

}  // namespace qm
