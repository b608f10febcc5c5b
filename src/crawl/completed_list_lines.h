#pragma once
#include <mutex>
#include <set>

namespace qm {

// The position a search that follows links saves: list lines are taken in order but their
// sites end out of order, so it is the number of lines, counted from the start of the list
// without a gap, whose sites are completely searched; resuming from it never skips a site
// that was cut short. Any thread may call it.
class TCompletedListLines {
 public:
  // The lines before `firstLine` (where a resumed search starts) count as complete.
  explicit TCompletedListLines(long firstLine) : Position(firstLine) {}

  // `line` counts from 0 at the start of the list.
  void MarkComplete(long line);
  long SavedPosition() const;

 private:
  mutable std::mutex Lock;
  long Position;
  std::set<long> CompleteBeyondGap;
};

}  // namespace qm
