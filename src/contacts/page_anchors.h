#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qm {

// Where on a page the scanners have anything to look at, found in one pass over the whole
// page: most lines hold no anchor, and asking this costs less than looking at the line.
class TPageAnchors {
 public:
  // Marks every position of `text` where an anchor starts (contact_anchors.h). A mobile's
  // look-ahead may reach into the next line; that only marks a line needlessly.
  void Find(std::string_view text);
  // The same for the anchors of extended recognition (extended_anchors.h), and a few
  // positions that only look like one; the line's own check tells them apart.
  void FindExtended(std::string_view text);
  // True when an anchor starts in [begin, end) of the text last given to Find.
  bool AnyIn(size_t begin, size_t end) const;
  // True when the anchors were found by FindExtended.
  bool Extended() const { return extended_; }

 private:
  std::vector<uint64_t> words_;  // bit k of word w: position 64 w + k
  bool extended_ = false;
};

}  // namespace qm
