#include "contacts/labelled_kinds.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "contacts/labelled_text.h"
#include "contacts/telephone_numbers.h"
#include "contacts/wechat_ids.h"
#include "text/byte_blocks.h"
#include "text/processor_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qm {
namespace {

// Every anchor at a position reads one byte before it and two after it.
constexpr size_t kLookBehind = 1;
constexpr size_t kLookAhead = 2;

struct AnchorMasks {
  unsigned Telephone = 0, WeChat = 0;
};

#if defined(__SSE2__)
// The anchors at the sixteen positions from p; reads p[-1] to p[17].
inline __attribute__((always_inline)) AnchorMasks Masks16(const char* p) {
  using namespace blocks;
  const __m128i before = Load16(p - 1), b0 = Load16(p), b1 = Load16(p + 1), b2 = Load16(p + 2);
  const __m128i area = _mm_and_si128(Equal(b0, '0'), _mm_and_si128(Digits(b1), Digits(b2)));
  const __m128i service = _mm_and_si128(_mm_or_si128(Equal(b0, '4'), Equal(b0, '8')),
                                        _mm_and_si128(Equal(b1, '0'), Equal(b2, '0')));
  __m128i telephone = _mm_andnot_si128(Digits(before), _mm_or_si128(area, service));
  telephone = _mm_or_si128(
      telephone, _mm_and_si128(Equal(b0, '+'), _mm_and_si128(Equal(b1, '8'), Equal(b2, '6'))));
  telephone =
      _mm_or_si128(telephone, _mm_or_si128(_mm_and_si128(Equal(b0, '\xBC'), Equal(b1, '\x90')),
                                           _mm_and_si128(Equal(b0, '\xA3'), Equal(b1, '\xB0'))));
  const __m128i caseBit = _mm_set1_epi8(0x20);
  const __m128i l0 = _mm_or_si128(b0, caseBit), l1 = _mm_or_si128(b1, caseBit),
                l2 = _mm_or_si128(b2, caseBit);
  const __m128i x = _mm_and_si128(
      Equal(l1, 'x'), _mm_or_si128(_mm_or_si128(Equal(l0, 'w'), Equal(l0, 'v')), Equal(l0, 'i')));
  const __m128i ech = _mm_and_si128(Equal(l0, 'e'), _mm_and_si128(Equal(l1, 'c'), Equal(l2, 'h')));
  const __m128i xin = _mm_or_si128(_mm_and_si128(Equal(b0, '\xBF'), Equal(b1, '\xA1')),
                                   _mm_and_si128(Equal(b0, '\xD0'), Equal(b1, '\xC5')));
  return {Mask(telephone), Mask(_mm_or_si128(x, _mm_or_si128(ech, xin)))};
}
#endif

#if defined(__x86_64__)
#define QM_LABELLED_AVX2 __attribute__((target("avx2")))

QM_LABELLED_AVX2 inline __attribute__((always_inline)) __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
QM_LABELLED_AVX2 inline __attribute__((always_inline)) __m256i Is(__m256i bytes, char c) {
  return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}
QM_LABELLED_AVX2 inline __attribute__((always_inline)) __m256i IsDigit32(__m256i bytes) {
  const __m256i shifted = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0x80 - '0')));
  return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(0x80 + 10)), shifted);
}

// Masks16 for the 32 positions from p; reads p[-1] to p[33].
QM_LABELLED_AVX2 inline __attribute__((always_inline)) uint32_t AnyMask32(const char* p) {
  const __m256i before = Load32(p - 1), b0 = Load32(p), b1 = Load32(p + 1), b2 = Load32(p + 2);
  const __m256i area =
      _mm256_and_si256(Is(b0, '0'), _mm256_and_si256(IsDigit32(b1), IsDigit32(b2)));
  const __m256i service = _mm256_and_si256(_mm256_or_si256(Is(b0, '4'), Is(b0, '8')),
                                           _mm256_and_si256(Is(b1, '0'), Is(b2, '0')));
  __m256i any = _mm256_andnot_si256(IsDigit32(before), _mm256_or_si256(area, service));
  any = _mm256_or_si256(any,
                        _mm256_and_si256(Is(b0, '+'), _mm256_and_si256(Is(b1, '8'), Is(b2, '6'))));
  any = _mm256_or_si256(any, _mm256_or_si256(_mm256_and_si256(Is(b0, '\xBC'), Is(b1, '\x90')),
                                             _mm256_and_si256(Is(b0, '\xA3'), Is(b1, '\xB0'))));
  const __m256i caseBit = _mm256_set1_epi8(0x20);
  const __m256i l0 = _mm256_or_si256(b0, caseBit), l1 = _mm256_or_si256(b1, caseBit);
  const __m256i x = _mm256_and_si256(
      Is(l1, 'x'), _mm256_or_si256(_mm256_or_si256(Is(l0, 'w'), Is(l0, 'v')), Is(l0, 'i')));
  const __m256i ech = _mm256_and_si256(
      Is(l0, 'e'), _mm256_and_si256(Is(l1, 'c'), Is(_mm256_or_si256(b2, caseBit), 'h')));
  const __m256i xin = _mm256_or_si256(_mm256_and_si256(Is(b0, '\xBF'), Is(b1, '\xA1')),
                                      _mm256_and_si256(Is(b0, '\xD0'), Is(b1, '\xC5')));
  any = _mm256_or_si256(any, _mm256_or_si256(x, _mm256_or_si256(ech, xin)));
  return static_cast<uint32_t>(_mm256_movemask_epi8(any));
}

QM_LABELLED_AVX2 uint64_t WordAvx2(const char* p) {
  return AnyMask32(p) | static_cast<uint64_t>(AnyMask32(p + 32)) << 32;
}

QM_LABELLED_AVX2 void WordsAvx2(const char* p, uint64_t* words, size_t count) {
  for (size_t w = 0; w < count; ++w, p += 64) {
    words[w] = AnyMask32(p) | static_cast<uint64_t>(AnyMask32(p + 32)) << 32;
  }
}
#endif

// The same a byte at a time.
[[maybe_unused]] AnchorMasks MasksOneByOne(const char* p, size_t count) {
  const auto at = [&](ptrdiff_t k) { return static_cast<unsigned char>(p[k]); };
  const auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  AnchorMasks masks;
  for (size_t k = 0; k < count; ++k) {
    const auto i = static_cast<ptrdiff_t>(k);
    const unsigned char b0 = at(i), b1 = at(i + 1), b2 = at(i + 2);
    const bool telephone =
        (!digit(at(i - 1)) && ((b0 == '0' && digit(b1) && digit(b2)) ||
                               ((b0 == '4' || b0 == '8') && b1 == '0' && b2 == '0'))) ||
        (b0 == '+' && b1 == '8' && b2 == '6') || (b0 == 0xBC && b1 == 0x90) ||
        (b0 == 0xA3 && b1 == 0xB0);
    const unsigned char l0 = b0 | 0x20, l1 = b1 | 0x20, l2 = b2 | 0x20;
    const bool wechat = (l1 == 'x' && (l0 == 'w' || l0 == 'v' || l0 == 'i')) ||
                        (l0 == 'e' && l1 == 'c' && l2 == 'h') || (b0 == 0xBF && b1 == 0xA1) ||
                        (b0 == 0xD0 && b1 == 0xC5);
    masks.Telephone |= static_cast<unsigned>(telephone) << k;
    masks.WeChat |= static_cast<unsigned>(wechat) << k;
  }
  return masks;
}

// The anchors at the 64 positions from p; reads p[-1] to p[65].
uint64_t Word(const char* p) {
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) return WordAvx2(p);
#endif
  uint64_t word = 0;
  for (int block = 0; block < 4; ++block) {
#if defined(__SSE2__)
    const AnchorMasks masks = Masks16(p + 16 * block);
#else
    const AnchorMasks masks = MasksOneByOne(p + 16 * block, 16);
#endif
    word |= static_cast<uint64_t>(masks.Telephone | masks.WeChat) << (16 * block);
  }
  return word;
}

// The sixteen positions from text[from], read from a copy padded with zero bytes (which
// make no anchor) where the reads would leave the text.
AnchorMasks BlockAt(std::string_view text, size_t from) {
  constexpr size_t kReach = 16 + kLookAhead;
  if (from >= kLookBehind && from + kReach <= text.size()) {
#if defined(__SSE2__)
    return Masks16(text.data() + from);
#else
    return MasksOneByOne(text.data() + from, 16);
#endif
  }
  char padded[kLookBehind + kReach + 14] = {};
  if (from > 0) padded[0] = text[from - 1];
  std::memcpy(padded + kLookBehind, text.data() + from, std::min(text.size() - from, kReach));
#if defined(__SSE2__)
  return Masks16(padded + kLookBehind);
#else
  return MasksOneByOne(padded + kLookBehind, 16);
#endif
}

}  // namespace

unsigned LabelledAnchorKinds(std::string_view line) {
  unsigned kinds = 0;
  for (size_t i = 0; i < line.size() && kinds != (kTelephoneAnchor | kWeChatAnchor); i += 16) {
    const AnchorMasks masks = BlockAt(line, i);
    if (masks.Telephone != 0) kinds |= kTelephoneAnchor;
    if (masks.WeChat != 0) kinds |= kWeChatAnchor;
  }
  return kinds;
}

void TLabelledAnchors::Find(std::string_view text) {
  constexpr size_t kReach = 64 + kLookAhead;
  const size_t n = text.size();
  words_.resize((n + 63) / 64);
  // Words 1 to inPlace - 1 read inside the text; the first and the last ones from a copy.
  const size_t inPlace = n >= kReach ? (n - kReach) / 64 + 1 : 0;
#if defined(__x86_64__)
  if (ProcessorHasAvx2() && inPlace > 1)
    WordsAvx2(text.data() + 64, words_.data() + 1, inPlace - 1);
#endif
  for (size_t w = 0; w < words_.size(); ++w) {
    const size_t from = 64 * w;
    if (w > 0 && w < inPlace) {
#if defined(__x86_64__)
      if (ProcessorHasAvx2()) continue;
#endif
      words_[w] = Word(text.data() + from);
      continue;
    }
    char padded[kLookBehind + kReach + 14] = {};
    if (from > 0) padded[0] = text[from - 1];
    std::memcpy(padded + kLookBehind, text.data() + from, std::min(n - from, kReach));
    words_[w] = Word(padded + kLookBehind);
  }
}

bool TLabelledAnchors::AnyIn(size_t begin, size_t end) const {
  end = std::min(end, 64 * words_.size());
  if (begin >= end) return false;
  const size_t first = begin / 64, last = (end - 1) / 64;
  const uint64_t head = words_[first] & (~uint64_t{0} << (begin % 64));
  const uint64_t tailMask = ~uint64_t{0} >> (63 - (end - 1) % 64);
  if (first == last) return (head & tailMask) != 0;
  if (head != 0) return true;
  for (size_t w = first + 1; w < last; ++w) {
    if (words_[w] != 0) return true;
  }
  return (words_[last] & tailMask) != 0;
}

void ExtractLabelledContacts(std::string_view line, const TContactLists& lists) {
  unsigned wanted = 0;
  if (lists.Telephones != nullptr) wanted |= kTelephoneAnchor;
  if (lists.WeChatIds != nullptr) wanted |= kWeChatAnchor;
  if (wanted == 0) return;
  const unsigned kinds = LabelledAnchorKinds(line) & wanted;
  if (kinds == 0) return;
  // One buffer per worker thread, reused line after line.
  thread_local std::string text;
  labelled::LabelledTextOfLine(line, text);
  if ((kinds & kTelephoneAnchor) != 0) {
    ExtractTelephoneNumbers(text, *lists.Telephones, lists.Source);
  }
  if ((kinds & kWeChatAnchor) != 0) ExtractWeChatIds(text, *lists.WeChatIds, lists.Source);
}

}  // namespace qm
