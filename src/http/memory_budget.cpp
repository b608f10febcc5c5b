#include "http/memory_budget.h"

#include <algorithm>
#include <utility>

namespace qm {

bool TMemoryBudget::TryReserve(size_t bytes) {
  const std::lock_guard<std::mutex> guard(Lock);
  if (Cancelled || bytes > Limit_ - std::min(InUse_, Limit_)) return false;
  InUse_ += bytes;
  Peak_ = std::max(Peak_, InUse_);
  return true;
}

bool TMemoryBudget::Reserve(size_t bytes, std::chrono::steady_clock::time_point deadline) {
  if (bytes > Limit_) return false;
  std::unique_lock<std::mutex> lock(Lock);
  const bool fits = Freed.wait_until(
      lock, deadline, [&] { return Cancelled || bytes <= Limit_ - std::min(InUse_, Limit_); });
  if (!fits || Cancelled) return false;
  InUse_ += bytes;
  Peak_ = std::max(Peak_, InUse_);
  return true;
}

void TMemoryBudget::Release(size_t bytes) {
  {
    const std::lock_guard<std::mutex> guard(Lock);
    InUse_ -= std::min(bytes, InUse_);
  }
  Freed.notify_all();
}

void TMemoryBudget::Cancel() {
  {
    const std::lock_guard<std::mutex> guard(Lock);
    Cancelled = true;
  }
  Freed.notify_all();
}

size_t TMemoryBudget::InUse() const {
  const std::lock_guard<std::mutex> guard(Lock);
  return InUse_;
}

size_t TMemoryBudget::PeakInUse() const {
  const std::lock_guard<std::mutex> guard(Lock);
  return Peak_;
}

TMemoryReservation::TMemoryReservation(TMemoryReservation&& other) noexcept
    : Budget(other.Budget), Held(std::exchange(other.Held, 0)) {}

TMemoryReservation& TMemoryReservation::operator=(TMemoryReservation&& other) noexcept {
  if (this != &other) {
    Reset();
    Budget = other.Budget;
    Held = std::exchange(other.Held, 0);
  }
  return *this;
}

bool TMemoryReservation::GrowTo(size_t totalBytes, std::chrono::steady_clock::time_point deadline) {
  if (totalBytes <= Held) return true;
  if (Budget != nullptr && !Budget->Reserve(totalBytes - Held, deadline)) return false;
  Held = totalBytes;
  return true;
}

bool TMemoryReservation::TryGrowTo(size_t totalBytes) {
  if (totalBytes <= Held) return true;
  if (Budget != nullptr && !Budget->TryReserve(totalBytes - Held)) return false;
  Held = totalBytes;
  return true;
}

void TMemoryReservation::ShrinkTo(size_t totalBytes) {
  if (totalBytes >= Held) return;
  if (Budget != nullptr) Budget->Release(Held - totalBytes);
  Held = totalBytes;
}

void TMemoryReservation::Reset() {
  ShrinkTo(0);
}

}  // namespace qm
