#include "engine/extended_anchors.h"

#include <algorithm>
#include <cstring>

#include "text/byte_blocks.h"

namespace qm {
namespace {

#if defined(__SSE2__)
using namespace blocks;

inline __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
inline __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
inline __m128i Is(__m128i bytes, unsigned char c) {
  return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(c)));
}
// 0xFF where lo <= byte <= hi (unsigned).
inline __m128i InRange(__m128i bytes, unsigned char lo, unsigned char hi) {
  const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(lo)));
  return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(hi - lo))),
                        shifted);
}

// 0xFF at byte k where an anchor starts at p[k]; reads 16 + 10 bytes.
inline __m128i AnchorBytes(const char* p) {
  const __m128i b0 = Load16(p), b1 = Load16(p + 1), b2 = Load16(p + 2);
  const __m128i low0 = Or(b0, _mm_set1_epi8(0x20)), low1 = Or(b1, _mm_set1_epi8(0x20));
  // Mobiles, as the plain scanners.
  __m128i any = And(Is(b0, '1'), And(Digits(Load16(p + 5)), Digits(Load16(p + 10))));
  // "@", "&#", "&c", "%4".
  any = Or(any, Is(b0, '@'));
  any = Or(any, And(Is(b0, '&'), Or(Is(b1, '#'), Is(low1, 'c'))));
  any = Or(any, And(Is(b0, '%'), Is(b1, '4')));
  // "[at", "(at", "{at".
  const __m128i opener = Or(Is(b0, '['), Or(Is(b0, '('), Is(b0, '{')));
  any = Or(any, And(opener, And(Is(low1, 'a'), Is(Or(b2, _mm_set1_epi8(0x20)), 't'))));
  // "cf", "n#", "qq" in any case, "n=".
  any = Or(any, And(Is(b0, 'c'), Is(b1, 'f')));
  any = Or(any, And(Is(low0, 'n'), Or(Is(b1, '#'), Is(b1, '='))));
  any = Or(any, And(Is(low0, 'q'), Is(low1, 'q')));
  // 换 in UTF-8 and code page 936.
  any = Or(any, And(Is(b0, 0xE6), And(Is(b1, 0x8D), Is(b2, 0xA2))));
  any = Or(any, And(Is(b0, 0xBB), Is(b1, 0xBB)));
  // Full-width digits, ＠, （, ［, Ｑ in UTF-8 (EF BC xx), ｑ and ｛ (EF BD xx).
  const __m128i fullWidthLow =
      Or(Or(InRange(b2, 0x90, 0x99), Is(b2, 0xA0)),
         Or(Or(Is(b2, 0x88), Is(b2, 0xBB)), Is(b2, 0xB1)));
  const __m128i fullWidthHigh = Or(Is(b2, 0x91), Is(b2, 0x9B));
  any = Or(any, And(Is(b0, 0xEF), Or(And(Is(b1, 0xBC), fullWidthLow),
                                     And(Is(b1, 0xBD), fullWidthHigh))));
  // The same in code page 936 (A3 xx).
  const __m128i gbk = Or(Or(InRange(b1, 0xB0, 0xB9), Is(b1, 0xC0)),
                         Or(Or(Is(b1, 0xA8), Is(b1, 0xDB)),
                            Or(Is(b1, 0xFB), Or(Is(b1, 0xD1), Is(b1, 0xF1)))));
  return Or(any, And(Is(b0, 0xA3), gbk));
}
#endif

}  // namespace

uint64_t ExtendedAnchorWord(const char* p) {
#if defined(__SSE2__)
  uint64_t word = 0;
  for (int block = 0; block < 4; ++block) {
    word |= static_cast<uint64_t>(Mask(AnchorBytes(p + 16 * block))) << (16 * block);
  }
  return word;
#else
  (void)p;
  return ~uint64_t{0};
#endif
}

bool HasExtendedAnchor(std::string_view text) {
#if defined(__SSE2__)
  constexpr size_t kReach = 16 + kExtendedAnchorLookAhead;
  const char* const p = text.data();
  const size_t n = text.size();
  size_t i = 0;
  for (; i + kReach <= n; i += 16) {
    if (Mask(AnchorBytes(p + i)) != 0) return true;
  }
  // The rest from a copy padded with zero bytes, which make no anchor.
  while (i < n) {
    char padded[2 * kReach] = {};
    const size_t count = std::min(n - i, sizeof padded);
    std::memcpy(padded, p + i, count);
    if (Mask(AnchorBytes(padded)) != 0) return true;
    i += 16;
  }
  return false;
#else
  (void)text;
  return true;
#endif
}

}  // namespace qm
