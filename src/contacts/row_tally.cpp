#include "contacts/row_tally.h"

#include <cstddef>

namespace qm {
namespace {

thread_local TRowTally* openTally = nullptr;

}  // namespace

TRowTally::TRowTally(const TResultList* first, const TResultList* second, const TResultList* third,
                     const TResultList* fourth, const TResultList* fifth)
    : lists_{first, second, third, fourth, fifth}, previous_(openTally) {
  openTally = this;
}

TRowTally::~TRowTally() {
  openTally = previous_;
}

void TRowTally::NoteAppended(const TResultList& list, std::string_view row, int64_t foundAtMs) {
  TRowTally* tally = openTally;
  if (tally == nullptr) return;
  for (std::size_t i = 0; i < tally->lists_.size(); ++i) {
    if (tally->lists_[i] != &list) continue;
    ++tally->counts_[i];
    if (tally->keepRows_) {
      tally->rows_.push_back({static_cast<int>(i), std::string(row), foundAtMs});
    }
  }
}

}  // namespace qm
