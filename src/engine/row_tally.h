#pragma once
// Counts the rows the calling thread appends to each of three result lists while a tally
// is open on it: what one page added, for the page's status record, with other threads
// appending to the same lists at the same time.
#include <array>
#include <cstdint>

namespace qm {

class TResultList;

class TRowTally {
 public:
  // Opens the tally on the calling thread; a null list is not counted.
  TRowTally(const TResultList* first, const TResultList* second, const TResultList* third);
  ~TRowTally();  // closes it; a tally open before it counts again
  TRowTally(const TRowTally&) = delete;
  TRowTally& operator=(const TRowTally&) = delete;

  // Rows appended since opening, per list in the order given.
  const std::array<int32_t, 3>& Counts() const { return counts_; }

  // Called by a result list for each row it appends, on the appending thread.
  static void NoteAppended(const TResultList& list);

 private:
  std::array<const TResultList*, 3> lists_;
  std::array<int32_t, 3> counts_{};
  TRowTally* previous_;
};

}  // namespace qm
