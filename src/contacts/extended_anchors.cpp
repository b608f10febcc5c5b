#include "contacts/extended_anchors.h"

#include <algorithm>
#include <cstring>

#include "contacts/contact_anchors.h"
#include "contacts/extended_anchor_nibbles.h"
#include "contacts/wide_line_check.h"
#include "text/byte_blocks.h"
#include "text/charset_conversion.h"

namespace qm {
namespace {

#if defined(__SSE2__)
using namespace blocks;

inline __m128i Or(__m128i a, __m128i b) {
  return _mm_or_si128(a, b);
}
inline __m128i And(__m128i a, __m128i b) {
  return _mm_and_si128(a, b);
}
inline __m128i Is(__m128i bytes, unsigned char c) {
  return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(c)));
}
// 0xFF where lo <= byte <= hi (unsigned).
inline __m128i InRange(__m128i bytes, unsigned char lo, unsigned char hi) {
  const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(lo)));
  return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(hi - lo))), shifted);
}

// 0xFF at byte k where a mobile's anchor starts at p[k], as for the plain scanners; reads
// 16 + 10 bytes.
inline __attribute__((always_inline)) __m128i MobileAnchorBytes(const char* p) {
  return And(Is(Load16(p), '1'), And(Digits(Load16(p + 5)), Digits(Load16(p + 10))));
}

// The same for every other anchor; reads 16 + 3 bytes.
inline __attribute__((always_inline)) __m128i OtherAnchorBytes(const char* p) {
  const __m128i b0 = Load16(p), b1 = Load16(p + 1), b2 = Load16(p + 2), b3 = Load16(p + 3);
  const __m128i case20 = _mm_set1_epi8(0x20);
  const __m128i low0 = Or(b0, case20), low1 = Or(b1, case20), low2 = Or(b2, case20);
  // "@", "&#", "&com", "&per" (not the "&copy;" of every footer), "%4".
  const __m128i low3 = Or(b3, case20);
  __m128i any = Is(b0, '@');
  const __m128i com = And(Is(low1, 'c'), And(Is(low2, 'o'), Is(low3, 'm')));
  const __m128i per = And(Is(low1, 'p'), And(Is(low2, 'e'), Is(low3, 'r')));
  any = Or(any, And(Is(b0, '&'), Or(Is(b1, '#'), Or(com, per))));
  any = Or(any, And(Is(b0, '%'), Is(b1, '4')));
  // "[at", "(at", "{at", "[do", "(do", "{do".
  const __m128i opener = Or(Is(b0, '['), Or(Is(b0, '('), Is(b0, '{')));
  const __m128i spelled = Or(And(Is(low1, 'a'), Is(low2, 't')), And(Is(low1, 'd'), Is(low2, 'o')));
  any = Or(any, And(opener, spelled));
  // "cf", "n#", "qq" in any case, "uin=" (not the "n=" of align=).
  any = Or(any, And(Is(b0, 'c'), Is(b1, 'f')));
  any = Or(any, And(Is(b0, 'n'), Is(b1, '#')));
  any = Or(any, And(Is(low0, 'q'), Is(low1, 'q')));
  const __m128i equals = Or(Is(b3, '='), Or(Is(b3, 0xEF), Is(b3, 0xA3)));  // or ＝
  any = Or(any, And(And(Is(low0, 'u'), Is(low1, 'i')), And(Is(low2, 'n'), equals)));
  // Full-width digits, ＠, letters, （, ［, ＃, － in UTF-8 (EF BC xx), letters and ｛ (EF BD xx).
  const __m128i fullWidthLow = Or(Or(InRange(b2, 0x90, 0x99), InRange(b2, 0xA0, 0xBB)),
                                  Or(Or(Is(b2, 0x88), Is(b2, 0x8D)), Is(b2, 0x83)));
  const __m128i fullWidthHigh = InRange(b2, 0x81, 0x9B);
  any = Or(any, And(Is(b0, 0xEF),
                    Or(And(Is(b1, 0xBC), fullWidthLow), And(Is(b1, 0xBD), fullWidthHigh))));
  // The same in code page 936 (A3 xx); the letters only before ASCII or another full-width
  // form, for the reason extended_anchor_nibbles.h gives.
  const __m128i gbk = Or(Or(Or(InRange(b1, 0xB0, 0xB9), Or(Is(b1, 0xA3), Is(b1, 0xAD))),
                            Or(Or(Is(b1, 0xA8), Is(b1, 0xDB)), Or(Is(b1, 0xFB), Is(b1, 0xC0)))),
                         Or(Is(b1, 0xD1), Is(b1, 0xF1)));
  const __m128i beforeAsciiOrForm = Or(_mm_cmpgt_epi8(b2, _mm_set1_epi8(-1)), Is(b2, 0xA3));
  const __m128i letter =
      And(Or(InRange(b1, 0xC1, 0xDA), InRange(b1, 0xE1, 0xFA)), beforeAsciiOrForm);
  return Or(any, And(Is(b0, 0xA3), Or(gbk, letter)));
}

inline __attribute__((always_inline)) __m128i AnchorBytes(const char* p) {
  return Or(MobileAnchorBytes(p), OtherAnchorBytes(p));
}
#endif

#if defined(__x86_64__)
#define QM_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

QM_AVX2_INLINE __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
QM_AVX2_INLINE __m256i Is32(__m256i bytes, unsigned char c) {
  return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(c)));
}
QM_AVX2_INLINE __m256i Or32(__m256i a, __m256i b) {
  return _mm256_or_si256(a, b);
}
QM_AVX2_INLINE __m256i And32(__m256i a, __m256i b) {
  return _mm256_and_si256(a, b);
}
QM_AVX2_INLINE __m256i Digits32(__m256i bytes) {
  const __m256i shifted = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0x80 - '0')));
  return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 10)), shifted);
}

// MobileAnchorBytes for thirty-two bytes; reads 32 + 10 bytes.
QM_AVX2_INLINE __m256i MobileAnchorBytes32(const char* p) {
  return And32(Is32(Load32(p), '1'), And32(Digits32(Load32(p + 5)), Digits32(Load32(p + 10))));
}

QM_AVX2_INLINE __m256i NibbleTable(const uint8_t (&table)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

// Bit k set where the nibble test (extended_anchor_nibbles.h) passes at p[k], k < 32;
// reads 32 + 3 bytes. Far cheaper than OtherAnchorBytes, and it passes little else.
QM_AVX2_INLINE uint32_t MaybeOtherAnchorMask32(const char* p) {
  using extended_nibbles::kTables;
  const __m256i lowHalf = _mm256_set1_epi8(0x0F);
  __m256i groups[2] = {_mm256_set1_epi8(-1), _mm256_set1_epi8(-1)};
#pragma GCC unroll 4
  for (size_t place = 0; place < 4; ++place) {
    const __m256i bytes = Load32(p + place);
    const __m256i low = And32(bytes, lowHalf);
    const __m256i high = And32(_mm256_srli_epi16(bytes, 4), lowHalf);
#pragma GCC unroll 2
    for (size_t set = 0; set < 2; ++set) {
      if (place >= extended_nibbles::kPlaces[set]) continue;
      groups[set] = And32(groups[set],
                          And32(_mm256_shuffle_epi8(NibbleTable(kTables.Low[set][place]), low),
                                _mm256_shuffle_epi8(NibbleTable(kTables.High[set][place]), high)));
    }
  }
  const __m256i none = _mm256_cmpeq_epi8(Or32(groups[0], groups[1]), _mm256_setzero_si256());
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(none));
}

// Bit k set where an anchor may start at p[k], k < 32: a mobile's, or where the nibble
// test passes (the few positions it passes needlessly only cost their line a closer look);
// reads 32 + 10 bytes.
QM_AVX2_INLINE uint32_t AnchorMask32(const char* p) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(MobileAnchorBytes32(p))) |
         MaybeOtherAnchorMask32(p);
}

__attribute__((target("avx2"))) void ExtendedAnchorWordsAvx2(const char* p, uint64_t* words,
                                                             size_t count) {
  for (size_t w = 0; w < count; ++w, p += 64) {
    words[w] = AnchorMask32(p) | static_cast<uint64_t>(AnchorMask32(p + 32)) << 32;
  }
}

// True when the nibble test passes in the thirty-two bytes at p; else adds their mobile
// anchors to `mobile`. Reads 32 + 10 bytes.
QM_AVX2_INLINE bool OtherAnchorIn32(const char* p, __m256i& mobile) {
  if (MaybeOtherAnchorMask32(p) != 0) return true;
  mobile = Or32(mobile, MobileAnchorBytes32(p));
  return false;
}

// ExtendedAnchorKinds thirty-two bytes at a time.
__attribute__((target("avx2"))) unsigned ExtendedAnchorKindsAvx2(std::string_view text) {
  constexpr size_t kReach = 32 + kExtendedAnchorLookAhead;
  constexpr unsigned kBoth = kExtendedMobileAnchor | kExtendedOtherAnchor;
  const char* const p = text.data();
  const size_t n = text.size();
  __m256i mobile = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + kReach <= n; i += 32) {
    if (OtherAnchorIn32(p + i, mobile)) return kBoth;
  }
  // The rest from a copy padded with zero bytes, which make no anchor.
  for (; i < n; i += 32) {
    char padded[2 * kReach] = {};
    std::memcpy(padded, p + i, std::min(n - i, sizeof padded));
    if (OtherAnchorIn32(padded, mobile)) return kBoth;
  }
  return _mm256_testz_si256(mobile, mobile) ? 0u : kExtendedMobileAnchor;
}
#endif

}  // namespace

void ExtendedAnchorWords(const char* p, uint64_t* words, size_t count) {
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) return ExtendedAnchorWordsAvx2(p, words, count);
#endif
  for (size_t w = 0; w < count; ++w) words[w] = ExtendedAnchorWord(p + 64 * w);
}

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

namespace {

unsigned AsciiLineKinds(std::string_view text) {
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) return ExtendedAnchorKindsAvx2(text);
#endif
#if defined(__SSE2__)
  constexpr size_t kReach = 16 + kExtendedAnchorLookAhead;
  const char* const p = text.data();
  const size_t n = text.size();
  // Once another anchor is seen, whether a mobile's is there too no longer matters.
  constexpr unsigned kBoth = kExtendedMobileAnchor | kExtendedOtherAnchor;
  __m128i mobile = _mm_setzero_si128();
  size_t i = 0;
  for (; i + kReach <= n; i += 16) {
    if (Mask(OtherAnchorBytes(p + i)) != 0) return kBoth;
    mobile = Or(mobile, MobileAnchorBytes(p + i));
  }
  // The rest from a copy padded with zero bytes, which make no anchor.
  for (; i < n; i += 16) {
    char padded[2 * kReach] = {};
    std::memcpy(padded, p + i, std::min(n - i, sizeof padded));
    if (Mask(OtherAnchorBytes(padded)) != 0) return kBoth;
    mobile = Or(mobile, MobileAnchorBytes(padded));
  }
  return Mask(mobile) != 0 ? kExtendedMobileAnchor : 0u;
#else
  (void)text;
  return kExtendedMobileAnchor | kExtendedOtherAnchor;
#endif
}

}  // namespace

unsigned ExtendedAnchorKinds(std::string_view text) {
  if (!IsAscii(text)) return WideLineKinds(text);
  const unsigned kinds = AsciiLineKinds(text);
  // Even a line of ASCII may read differently for mobiles in its plain text ("&nbsp;" before
  // the letters before a number); the wide check knows when.
  return kinds == kExtendedMobileAnchor ? WideLineKinds(text) : kinds;
}

}  // namespace qm
