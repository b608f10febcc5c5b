#include "crawl/completed_list_lines.h"

namespace qm {

void TCompletedListLines::MarkComplete(long line) {
  const std::lock_guard<std::mutex> guard(Lock);
  if (line < Position) return;
  CompleteBeyondGap.insert(line);
  while (!CompleteBeyondGap.empty() && *CompleteBeyondGap.begin() == Position) {
    CompleteBeyondGap.erase(CompleteBeyondGap.begin());
    ++Position;
  }
}

long TCompletedListLines::SavedPosition() const {
  const std::lock_guard<std::mutex> guard(Lock);
  return Position;
}

}  // namespace qm
