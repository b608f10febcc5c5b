#include "http/page_memory.h"

namespace qm {

bool TPageMemory::Start() {
  if (!Budgeted() || Overhead > 0) return true;
  if (!Cover(kFetchOverheadBytes)) return false;
  Overhead = kFetchOverheadBytes;
  return true;
}

bool TPageMemory::Cover(size_t bufferBytes) {
  if (!Budgeted()) return true;
  const size_t total = Overhead + bufferBytes;
  if (WaitedInVain) return Reservation.TryGrowTo(total);
  if (Reservation.GrowTo(total, std::chrono::steady_clock::now() + kWait)) return true;
  WaitedInVain = true;
  return false;
}

bool TPageMemory::TryCover(size_t bufferBytes) {
  if (!Budgeted()) return true;
  return Reservation.TryGrowTo(Overhead + bufferBytes);
}

void TPageMemory::ShrinkTo(size_t bufferBytes) {
  if (!Budgeted()) return;
  Reservation.ShrinkTo(Overhead + bufferBytes);
}

void TPageMemory::Finish(size_t bufferBytes) {
  if (!Budgeted()) return;
  Overhead = 0;
  Reservation.ShrinkTo(bufferBytes);
  // A few bytes may have come in beside the budget (a reply's first line without a status).
  Reservation.TryGrowTo(bufferBytes);
}

}  // namespace qm
