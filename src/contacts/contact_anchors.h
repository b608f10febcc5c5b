#pragma once
// The bytes that make text worth a closer look by one of the scanners: an "@" followed by
// a byte that may stand in an address for e-mail, a "1" with digits five and ten bytes on
// for mobiles, a "qq", "QQ" or "nc" pair for QQ numbers (the pair "nc" stands inside
// "tencent"). Every token a scanner accepts holds its anchor, so text without anchors can
// be passed over. Sixteen bytes at a time with SSE2, and
// thirty-two where the processor has AVX2 (chosen when the program runs).
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#define QM_AVX2 __attribute__((target("avx2")))
#endif

#include "text/byte_blocks.h"
#include "text/processor_features.h"

namespace qm {

enum : unsigned { kEmailAnchor = 1, kMobileAnchor = 2, kQQAnchor = 4 };

#if defined(__SSE2__)
// Byte k set where "qq", "QQ" or "nc" starts at byte k of `first`; `second` is the same
// bytes one further on.
inline __attribute__((always_inline)) __m128i QQPairBytes(__m128i first, __m128i second) {
  const __m128i q = _mm_and_si128(blocks::Equal(_mm_or_si128(first, _mm_set1_epi8(0x20)), 'q'),
                                  _mm_cmpeq_epi8(first, second));
  return _mm_or_si128(q, _mm_and_si128(blocks::Equal(first, 'n'), blocks::Equal(second, 'c')));
}

struct AnchorBytes16 {
  __m128i At = _mm_setzero_si128(), Mobile = _mm_setzero_si128(), QQ = _mm_setzero_si128();

  // Adds the anchors starting in the sixteen bytes at `p`; reads 26 bytes.
  inline __attribute__((always_inline)) void Add(const char* p) {
    AddShort(p);
    const __m128i digits = _mm_and_si128(blocks::Digits(blocks::Load16(p + 5)),
                                         blocks::Digits(blocks::Load16(p + 10)));
    Mobile = _mm_or_si128(Mobile, _mm_and_si128(blocks::Equal(blocks::Load16(p), '1'), digits));
  }
  // The same without mobiles; reads 17 bytes.
  inline __attribute__((always_inline)) void AddShort(const char* p) {
    const __m128i first = blocks::Load16(p), second = blocks::Load16(p + 1);
    // Every byte of an address lies between "-" and "z": not a blank, not a byte above 127.
    At = _mm_or_si128(
        At, _mm_and_si128(blocks::Equal(first, '@'), _mm_cmpgt_epi8(second, _mm_set1_epi8(','))));
    QQ = _mm_or_si128(QQ, QQPairBytes(first, second));
  }
  unsigned Kinds() const {
    return (blocks::Mask(At) != 0 ? kEmailAnchor : 0u) |
           (blocks::Mask(Mobile) != 0 ? kMobileAnchor : 0u) |
           (blocks::Mask(QQ) != 0 ? kQQAnchor : 0u);
  }
  // Bit k set where an anchor of any kind was added at byte k.
  unsigned AnyMask() const { return blocks::Mask(_mm_or_si128(At, _mm_or_si128(Mobile, QQ))); }
};
#endif

#if defined(__x86_64__)
struct AnchorBytes32 {
  __m256i At, Mobile, QQ;

  QM_AVX2 static __m256i Load32(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  QM_AVX2 static __m256i Equal(__m256i bytes, char c) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
  }
  // As blocks::Digits.
  QM_AVX2 static __m256i Digits(__m256i bytes) {
    const __m256i shifted = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0x80 - '0')));
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 10)), shifted);
  }
  QM_AVX2 static __m256i Pairs(__m256i first, __m256i second) {
    const __m256i q = _mm256_and_si256(Equal(_mm256_or_si256(first, _mm256_set1_epi8(0x20)), 'q'),
                                       _mm256_cmpeq_epi8(first, second));
    return _mm256_or_si256(q, _mm256_and_si256(Equal(first, 'n'), Equal(second, 'c')));
  }

  QM_AVX2 void Clear() { At = Mobile = QQ = _mm256_setzero_si256(); }
  // Adds the anchors starting in the thirty-two bytes at `p`; reads 42 bytes.
  QM_AVX2 inline __attribute__((always_inline)) void Add(const char* p) {
    AddShort(p);
    const __m256i digits = _mm256_and_si256(Digits(Load32(p + 5)), Digits(Load32(p + 10)));
    Mobile = _mm256_or_si256(Mobile, _mm256_and_si256(Equal(Load32(p), '1'), digits));
  }
  // The same without mobiles; reads 33 bytes.
  QM_AVX2 inline __attribute__((always_inline)) void AddShort(const char* p) {
    const __m256i first = Load32(p), second = Load32(p + 1);
    At = _mm256_or_si256(
        At, _mm256_and_si256(Equal(first, '@'), _mm256_cmpgt_epi8(second, _mm256_set1_epi8(','))));
    QQ = _mm256_or_si256(QQ, Pairs(first, second));
  }
  QM_AVX2 unsigned Kinds() const {
    return (_mm256_testz_si256(At, At) ? 0u : kEmailAnchor) |
           (_mm256_testz_si256(Mobile, Mobile) ? 0u : kMobileAnchor) |
           (_mm256_testz_si256(QQ, QQ) ? 0u : kQQAnchor);
  }
  QM_AVX2 uint32_t AnyMask() const {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(At, _mm256_or_si256(Mobile, QQ))));
  }
};
#endif

}  // namespace qm
