#pragma once
// WeChat IDs and telephone numbers beside the three plain kinds: the bytes that make a line
// worth reading for them, found a page or a line at a time, and the two scanners run over
// a line (wechat_ids.h, telephone_numbers.h).
//
// Every number a telephone row is made of holds one of: a "0" after a byte that is no digit
// with two digits after it (an area code), a "400" or "800" after such a byte, "+86", or a
// full-width zero. Every WeChat label holds "信", "wx", "vx", "ix" (weixin) or "ech"
// (wechat), in any case.
#include <cstdint>
#include <string_view>
#include <vector>

#include "contacts/extractors.h"

namespace qm {

enum : unsigned { kTelephoneAnchor = 1, kWeChatAnchor = 2 };

// The kinds whose anchors occur in the line.
unsigned LabelledAnchorKinds(std::string_view line);

// Where on a page the anchors above stand, found in one pass over the whole page.
class TLabelledAnchors {
 public:
  void Find(std::string_view text);
  // No anchor anywhere.
  void Clear() { words_.clear(); }
  // True when an anchor starts in [begin, end) of the text last given to Find.
  bool AnyIn(size_t begin, size_t end) const;

 private:
  std::vector<uint64_t> words_;  // bit k of word w: position 64 w + k
};

// The WeChat IDs and telephone numbers of one line into the lists that ask for them.
void ExtractLabelledContacts(std::string_view line, const TContactLists& lists);

}  // namespace qm
