#include "store/store_writer.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace qm {
namespace {

// A row is on disk within about this long of being added, while the batches stay large
// enough that the cost of a commit is shared by many rows.
constexpr auto kBatchInterval = std::chrono::milliseconds(200);
// A queue this long is written at once rather than at the end of the interval.
constexpr size_t kLargeBatch = 10000;
// The queues keep the capacity of batches up to this size for the next ones; a larger one
// (after a slow disk) gives its memory back.
constexpr size_t kKeptCapacity = 2 * kLargeBatch;

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

std::string TStoreWriter::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TStoreWriter::WriteBatches() {
  TStoreBatch batch;
  batch.Run = run_;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || queued_ > 0; });
    if (queued_ == 0) return;
    wake_.wait_until(lock, firstQueuedAt_ + kBatchInterval, [&] {
      return stopping_ || queued_ >= kLargeBatch || flushUpTo_ > storedUpTo_;
    });

    batch.Pages.swap(pages_);
    batch.Rows.swap(rows_);
    batch.SavedPosition = std::exchange(markedPosition_, std::nullopt);
    const uint64_t upTo = addedUpTo_;
    queued_ = 0;
    lock.unlock();

    bool written = false;
    std::string failure;
    if (checkRows_ && !batch.Rows.empty()) {
      // Rows whose checks failed are stored all the same, without flags.
      try {
        checkRows_(batch.Rows);
      } catch (...) {
      }
    }
    try {
      store_.Write(batch);
      written = true;
    } catch (const std::exception& error) {
      failure = error.what();
    } catch (...) {
    }
    // An empty Failure() reads as success.
    if (!written && failure.empty()) failure = "Writing the result store failed";
    batch.Pages.clear();
    batch.Rows.clear();

    lock.lock();
    KeepCapacity(pages_, batch.Pages);
    KeepCapacity(rows_, batch.Rows);
    if (written) {
      storedUpTo_ = upTo;
      if (batch.SavedPosition) durablePosition_.store(*batch.SavedPosition);
    } else {
      failure_ = std::move(failure);
      // Nothing more is written, so nothing more is kept.
      std::vector<TStoredPage>().swap(pages_);
      std::vector<TStoredRow>().swap(rows_);
      markedPosition_.reset();
      queued_ = 0;
    }
    stored_.notify_all();
  }
}

}  // namespace qm
