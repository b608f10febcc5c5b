#pragma once
// Counts the rows the calling thread appends to each of the result lists while a tally
// is open on it: what one page added, for the page's status record, with other threads
// appending to the same lists at the same time.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_kinds.h"

namespace qm {

class TResultList;

// A row a tally saw appended: which of its lists, the row, and when.
struct TTalliedRow {
  int List = 0;
  std::string Value;
  int64_t FoundAtMs = 0;
};

class TRowTally {
 public:
  // Opens the tally on the calling thread; a null list is not counted. The lists in the
  // order of their kinds (contact_kinds.h).
  TRowTally(const TResultList* first, const TResultList* second, const TResultList* third,
            const TResultList* fourth = nullptr, const TResultList* fifth = nullptr);
  ~TRowTally();  // closes it; a tally open before it counts again
  TRowTally(const TRowTally&) = delete;
  TRowTally& operator=(const TRowTally&) = delete;

  // Rows appended since opening, per list in the order given.
  const TKindCounts& Counts() const { return counts_; }
  // From now on the rows themselves are kept too, for whoever stores them.
  void KeepRows() { keepRows_ = true; }
  std::vector<TTalliedRow>& Rows() { return rows_; }

  // Called by a result list for each row it appends, on the appending thread.
  static void NoteAppended(const TResultList& list, std::string_view row, int64_t foundAtMs);

 private:
  std::array<const TResultList*, kContactKindCount> lists_;
  TKindCounts counts_{};
  bool keepRows_ = false;
  std::vector<TTalliedRow> rows_;
  TRowTally* previous_;
};

}  // namespace qm
