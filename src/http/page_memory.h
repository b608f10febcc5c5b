#pragma once
#include <chrono>
#include <cstddef>

#include "http/memory_budget.h"

namespace qm {

// What one page fetch holds of a memory budget: the fixed overhead of a fetch while it
// runs, and its buffers by their capacity, reserved before they grow. Room that is not
// there is waited for once; after that wait came to nothing the page takes only room that
// is free at once, so pages in flight that wait for each other hold each other up for
// about `kWait`, never for good.
class TPageMemory {
 public:
  // Sockets, the response head, the decoders' state.
  static constexpr size_t kFetchOverheadBytes = size_t{64} << 10;
  static constexpr std::chrono::milliseconds kWait{2000};

  explicit TPageMemory(TMemoryReservation& reservation) : Reservation(reservation) {}
  TPageMemory(const TPageMemory&) = delete;
  TPageMemory& operator=(const TPageMemory&) = delete;

  // False when there is no budget: then every growth is free and nothing is counted.
  bool Budgeted() const { return Reservation.Owner() != nullptr; }
  // Reserves the overhead as the fetch starts; false when the room did not come.
  bool Start();
  // Makes the reservation cover buffers of `bufferBytes` in all beside the overhead; false
  // (nothing changed) when the room did not come.
  bool Cover(size_t bufferBytes);
  // The same without waiting, for growth that may as well not happen.
  bool TryCover(size_t bufferBytes);
  // Gives back what is held beyond buffers of `bufferBytes` and the overhead.
  void ShrinkTo(size_t bufferBytes);
  // The fetch is over: the reservation covers buffers of `bufferBytes` and nothing more.
  void Finish(size_t bufferBytes);

 private:
  TMemoryReservation& Reservation;
  size_t Overhead = 0;
  bool WaitedInVain = false;
};

}  // namespace qm
