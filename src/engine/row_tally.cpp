#include "engine/row_tally.h"

#include <cstddef>

namespace qm {
namespace {

thread_local TRowTally* openTally = nullptr;

}  // namespace

TRowTally::TRowTally(const TResultList* first, const TResultList* second, const TResultList* third)
    : lists_{first, second, third}, previous_(openTally) {
  openTally = this;
}

TRowTally::~TRowTally() {
  openTally = previous_;
}

void TRowTally::NoteAppended(const TResultList& list) {
  TRowTally* tally = openTally;
  if (tally == nullptr) return;
  for (std::size_t i = 0; i < tally->lists_.size(); ++i) {
    if (tally->lists_[i] == &list) ++tally->counts_[i];
  }
}

}  // namespace qm
