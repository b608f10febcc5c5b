#pragma once
// Sixteen-byte comparisons for the scanners that run over every byte of a page. Without
// SSE2 the callers fall back to byte loops.
#if defined(__SSE2__)
#include <emmintrin.h>

namespace qm::blocks {

inline __m128i Load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i Equal(__m128i bytes, char c) {
  return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c));
}

// 0xFF where the byte is an ASCII digit: "0".."9" are moved to the bottom of the signed
// range, so one signed comparison picks them out.
inline __m128i Digits(__m128i bytes) {
  return _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
                        _mm_set1_epi8(static_cast<char>(0x80 + 10)));
}

// Bit k set where byte k of the sixteen is 0xFF.
inline unsigned Mask(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(bytes));
}

}  // namespace qm::blocks
#endif
