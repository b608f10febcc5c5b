#pragma once
// Whether a line holding bytes beyond ASCII can give a row of extended recognition, told
// from its bytes without making its plain text (contact_text.h). Every row needs in the
// plain text an "@", "cfemail=", "protection#", "qq" or "uin=" (any case), or a "1" with
// digits five and ten on; each of those comes from a few byte patterns in either reading of
// the line (UTF-8 or code page 936), which this looks for. A pattern that only one reading
// makes still counts: the line is then read in full.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qm {

// As ExtendedAnchorKinds (extended_anchors.h): 0 when the line gives no row; the mobile bit
// alone when it can only give mobiles and nothing on it reads differently for them in its
// bytes and in its plain text (no full-width digit, letter, bracket, sign or point, no
// character reference, no spelled sign), so its bytes may be scanned as they are; both
// bits otherwise.
unsigned WideLineKinds(std::string_view line);

// WideLineKinds for the lines of a whole text, whatever bytes they hold: one pass over the
// text marks where a look is to be taken, so a line without marks (most lines of a Chinese
// page, whose full-width punctuation gives no row) costs nothing more.
class TWideLineMarks {
 public:
  // Marks `text`, which must stay alive while Kinds is asked.
  void Find(std::string_view text);
  // WideLineKinds of text[begin, end).
  unsigned Kinds(size_t begin, size_t end) const;

 private:
  std::string_view text_;
  std::vector<uint64_t> words_;  // bit k of word w: position 64 w + k
};

}  // namespace qm
