#pragma once
#include <chrono>
#include <cstddef>
#include <mutex>

#include "http/fiber_scheduler.h"

namespace qm {

// The bytes the whole process may hold for pages: bodies as they arrive, decoded and
// converted text, link parsing and robots rules. A page reserves before it grows; when the
// budget is spent, new pages wait and a growing page waits a little, then stops growing.
// Any thread may call it.
class TMemoryBudget {
 public:
  static constexpr size_t kDefaultLimit = size_t{1} << 30;

  explicit TMemoryBudget(size_t limitBytes = kDefaultLimit) : Limit_(limitBytes) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  // Takes `bytes` at once if they fit.
  bool TryReserve(size_t bytes);
  // Waits until `bytes` fit, the deadline passes or Cancel is called; false unless reserved.
  // A request larger than the whole limit never fits.
  bool Reserve(size_t bytes, std::chrono::steady_clock::time_point deadline);
  void Release(size_t bytes);
  // Wakes every waiter for good: they return false (the run is ending).
  void Cancel();

  size_t Limit() const { return Limit_; }
  size_t InUse() const;
  // The most ever held at once.
  size_t PeakInUse() const;

 private:
  const size_t Limit_;
  mutable std::mutex Lock;
  // Fibers wait here too: a page that waits must not stop the pages of its thread.
  TWaitCondition Freed;
  size_t InUse_ = 0;
  size_t Peak_ = 0;
  bool Cancelled = false;
};

// What one page holds of a budget, given back when it goes. Without a budget it holds
// nothing and every growth succeeds.
class TMemoryReservation {
 public:
  TMemoryReservation() = default;
  explicit TMemoryReservation(TMemoryBudget* budget) : Budget(budget) {}
  ~TMemoryReservation() { Reset(); }
  TMemoryReservation(TMemoryReservation&& other) noexcept;
  TMemoryReservation& operator=(TMemoryReservation&& other) noexcept;
  TMemoryReservation(const TMemoryReservation&) = delete;
  TMemoryReservation& operator=(const TMemoryReservation&) = delete;

  // Makes the reservation at least `totalBytes`, waiting until `deadline` for room; false
  // (the reservation unchanged) when the room did not come.
  bool GrowTo(size_t totalBytes, std::chrono::steady_clock::time_point deadline);
  bool TryGrowTo(size_t totalBytes);
  // Gives back what is held beyond `totalBytes`.
  void ShrinkTo(size_t totalBytes);
  void Reset();
  size_t Bytes() const { return Held; }
  TMemoryBudget* Owner() const { return Budget; }

 private:
  TMemoryBudget* Budget = nullptr;
  size_t Held = 0;
};

}  // namespace qm
