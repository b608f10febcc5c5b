#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/byte_blocks.h"

namespace qm {

// Bit k set where text[at + k] is CR or LF, for the 64 bytes from `at` (fewer at the end of
// the text; the bits past it are clear).
inline uint64_t LineBreakMask(std::string_view text, size_t at) {
  const size_t n = text.size();
#if defined(__SSE2__)
  using namespace blocks;
  auto mask16 = [](const char* p) -> uint64_t {
    const __m128i bytes = Load16(p);
    return Mask(_mm_or_si128(Equal(bytes, '\n'), Equal(bytes, '\r')));
  };
  auto mask64 = [&](const char* p) {
    return mask16(p) | (mask16(p + 16) << 16) | (mask16(p + 32) << 32) | (mask16(p + 48) << 48);
  };
  if (at + 64 <= n) return mask64(text.data() + at);
  if (n >= 64) return mask64(text.data() + n - 64) >> (at - (n - 64));
  char padded[64] = {};
  std::memcpy(padded, text.data() + at, n - at);
  return mask64(padded);
#else
  uint64_t mask = 0;
  for (size_t k = 0; k < 64 && at + k < n; ++k) {
    if (text[at + k] == '\n' || text[at + k] == '\r') mask |= uint64_t{1} << k;
  }
  return mask;
#endif
}

// Calls `visit(begin, end)` with the offsets of each line of `text`, in order. A line ends
// at CR LF, at LF or at a lone CR; the break is not part of the line; text after the last
// break is a last line when it is not empty. NUL bytes are ordinary bytes.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  // One pass over the text finds every CR and LF; the LF of a CR LF pair, which lies
  // before the start of the next line, is passed over.
  const size_t n = text.size();
  size_t lineStart = 0;
  for (size_t at = 0; at < n; at += 64) {
    for (uint64_t mask = LineBreakMask(text, at); mask != 0; mask &= mask - 1) {
      const size_t pos = at + static_cast<size_t>(__builtin_ctzll(mask));
      if (pos < lineStart) continue;
      visit(lineStart, pos);
      lineStart = pos + 1;
      if (text[pos] == '\r' && lineStart < n && text[lineStart] == '\n') ++lineStart;
    }
  }
  if (lineStart < n) visit(lineStart, n);
}

// Replaces the content of `lines` with copies of the lines of `text` (as ForEachLine cuts
// them). The strings already in `lines` are reused.
void SplitLines(std::string_view text, std::vector<std::string>& lines);

}  // namespace qm
