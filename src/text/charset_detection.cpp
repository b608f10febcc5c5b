#include "text/charset_detection.h"

#include <uchardet/uchardet.h>

#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "text/byte_blocks.h"
#include "text/charset_conversion.h"
#include "text/processor_features.h"
#include "text/trim.h"

namespace qm {
namespace {

// The detector reads no further: a page's first bytes tell its charset.
constexpr size_t kDetectedBytes = 256u << 10;

bool Between(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

bool IsDigitByte(unsigned char byte) {
  return Between(byte, 0x30, 0x39);
}

// Past the run of ASCII bytes from `at`, eight at a time.
size_t AsciiRunEnd(const unsigned char* bytes, size_t at, size_t size) {
  while (at + 8 <= size) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    if ((word & 0x8080808080808080u) != 0) break;
    at += 8;
  }
  while (at < size && bytes[at] < 0x80) ++at;
  return at;
}

// Reads the character at bytes[i] into the tally; where the next one starts. With
// `findFourByte`, stops (at `size`) at the first place where HasGb18030FourByteCharacter
// would find one, which may also start on the second byte of a two-byte character.
size_t Step(const unsigned char* bytes, size_t size, size_t i, bool findFourByte,
            TGb18030Tally& tally) {
  const auto lead = [bytes](size_t at) { return Between(bytes[at], 0x81, 0xFE); };
  const auto digit = [bytes](size_t at) { return IsDigitByte(bytes[at]); };
  if (bytes[i] < 0x80) return AsciiRunEnd(bytes, i, size);
  if (!lead(i) || i + 1 >= size) {
    ++tally.Broken;
    return i + 1;
  }
  const unsigned char first = bytes[i];
  const unsigned char trail = bytes[i + 1];
  if (digit(i + 1)) {
    // A four-byte character: lead, digit, lead, digit.
    if (i + 3 < size && lead(i + 2) && digit(i + 3)) {
      if (findFourByte) {
        tally.FourByteCharacter = true;
        return size;
      }
      return i + 4;
    }
    ++tally.Broken;
    return i + 1;
  }
  if (!Between(trail, 0x40, 0xFE) || trail == 0x7F) {
    ++tally.Broken;
    return i + 1;
  }
  if (findFourByte && lead(i + 1) && i + 4 < size && digit(i + 2) && lead(i + 3) && digit(i + 4)) {
    tally.FourByteCharacter = true;
    return size;
  }
  ++tally.Pairs;
  if (Between(first, 0xA1, 0xF7) && Between(trail, 0xA1, 0xFE)) ++tally.Gb2312Area;
  if (Between(first, 0xC9, 0xF7)) ++tally.PastHangulRows;
  return i + 2;
}

#if defined(__SSE2__)
// Bit k of each mask stands for byte k of 64.
struct TBlockMasks {
  uint64_t High = 0;  // 0x80-0xFF
  uint64_t Odd = 0;   // 0x80 and 0xFF, which the blocks leave to the byte walk
  uint64_t Digit = 0;
  uint64_t LeadArea = 0;    // 0xA1-0xF7, GB2312's lead bytes
  uint64_t TrailArea = 0;   // 0xA1-0xFE
  uint64_t PastHangul = 0;  // 0xC9-0xF7
};

// The signed comparisons below pick out ranges of bytes above 0x7F, which compare as
// negative numbers below every ASCII byte.
constexpr char Signed(unsigned char byte) {
  return static_cast<char>(byte);
}

// Most of a page in GB18030 is ASCII markup around runs of two-byte characters. In a run
// that starts at a character's start and holds only lead bytes (0x81-0xFE), every other
// byte leads a pair; a run of even length ends on a pair's trail, so the byte after it
// starts a character again. A block of 64 bytes from a character's start is counted from
// masks up to the first place where that does not hold (a stray byte, a trail below 0x80,
// a run of odd length, a four-byte character), and the byte walk reads the rest of it.
// Returns where it stopped, at a character's start.
template <typename Classify>
inline __attribute__((always_inline)) size_t WalkBlocks(const unsigned char* bytes, size_t size,
                                                        bool findFourByte, TGb18030Tally& tally,
                                                        Classify classify) {
  constexpr uint64_t kEven = 0x5555555555555555u;
  size_t i = 0;
  // The byte after a block is looked at too.
  while (i + 65 <= size) {
    const size_t start = i;
    TBlockMasks m;
    if (!classify(bytes + start, m)) {
      i += 64;
      continue;
    }
    const uint64_t high = m.High;
    // Runs of high bytes by the parity of their first byte: adding a run's first bit
    // carries through the run and clears it, so only the runs starting at odd bits stay.
    const uint64_t runStarts = high & ~(high << 1);
    const uint64_t oddRuns = (high + (runStarts & kEven)) & high;
    const uint64_t leads = ((high ^ oddRuns) & kEven) | (oddRuns & ~kEven);
    uint64_t stops = m.Odd | ((leads << 1) & ~high);
    if (findFourByte) {
      // A pair followed by a digit may begin a four-byte character on its trail.
      stops |= high & ((m.Digit >> 1) | (uint64_t{IsDigitByte(bytes[start + 64])} << 63));
    }
    size_t counted = stops == 0 ? 64 : static_cast<size_t>(__builtin_ctzll(stops));
    // A pair cut by the stop (or by the block's end) is left to what follows.
    if (counted > 0 && ((leads >> (counted - 1)) & 1) != 0) --counted;
    const uint64_t countedLeads = counted == 64 ? leads : leads & ((uint64_t{1} << counted) - 1);
    tally.Pairs += static_cast<size_t>(__builtin_popcountll(countedLeads));
    tally.PastHangulRows += static_cast<size_t>(__builtin_popcountll(countedLeads & m.PastHangul));
    tally.Gb2312Area +=
        static_cast<size_t>(__builtin_popcountll(countedLeads & m.LeadArea & (m.TrailArea >> 1)));
    i = start + counted;
    if (stops != 0) {
      while (i < start + 64) {
        i = Step(bytes, size, i, findFourByte, tally);
        if (tally.FourByteCharacter) return size;
      }
    }
  }
  return i;
}

uint64_t Mask16(__m128i bytes, unsigned shift) {
  return uint64_t{blocks::Mask(bytes)} << shift;
}

struct TClassifySse2 {
  __m128i A0 = _mm_set1_epi8(Signed(0xA0)), F8 = _mm_set1_epi8(Signed(0xF8)),
          FF = _mm_set1_epi8(Signed(0xFF)), C8 = _mm_set1_epi8(Signed(0xC8)),
          X80 = _mm_set1_epi8(Signed(0x80));

  inline __attribute__((always_inline)) void Quarter(__m128i x, unsigned shift,
                                                     TBlockMasks& m) const {
    using namespace blocks;
    const __m128i above = _mm_cmpgt_epi8(x, A0);
    const __m128i belowF8 = _mm_cmpgt_epi8(F8, x);
    m.High |= Mask16(x, shift);
    m.Odd |= Mask16(_mm_or_si128(_mm_cmpeq_epi8(x, X80), _mm_cmpeq_epi8(x, FF)), shift);
    m.Digit |= Mask16(Digits(x), shift);
    m.LeadArea |= Mask16(_mm_and_si128(above, belowF8), shift);
    m.TrailArea |= Mask16(_mm_and_si128(above, _mm_cmpgt_epi8(FF, x)), shift);
    m.PastHangul |= Mask16(_mm_and_si128(_mm_cmpgt_epi8(x, C8), belowF8), shift);
  }

  // False when the 64 bytes at `p` are all ASCII.
  inline __attribute__((always_inline)) bool operator()(const unsigned char* p,
                                                        TBlockMasks& m) const {
    const char* c = reinterpret_cast<const char*>(p);
    const __m128i x0 = blocks::Load16(c), x1 = blocks::Load16(c + 16), x2 = blocks::Load16(c + 32),
                  x3 = blocks::Load16(c + 48);
    if (blocks::Mask(_mm_or_si128(_mm_or_si128(x0, x1), _mm_or_si128(x2, x3))) == 0) {
      return false;
    }
    Quarter(x0, 0, m);
    Quarter(x1, 16, m);
    Quarter(x2, 32, m);
    Quarter(x3, 48, m);
    return true;
  }
};

size_t WalkBlocksSse2(const unsigned char* bytes, size_t size, bool findFourByte,
                      TGb18030Tally& tally) {
  return WalkBlocks(bytes, size, findFourByte, tally, TClassifySse2{});
}
#endif

#if defined(__x86_64__)
#define QM_AVX2_INLINE __attribute__((target("avx2,popcnt"), always_inline)) inline

QM_AVX2_INLINE __m256i Set32(unsigned char byte) {
  return _mm256_set1_epi8(Signed(byte));
}

QM_AVX2_INLINE uint64_t Mask32(__m256i bytes, unsigned shift) {
  return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(bytes))} << shift;
}

struct TClassifyAvx2 {
  // Bytes moved by kBias compare as signed numbers in the order of the bytes from 0xA1 on:
  // 0xA1 becomes the least, so each of the areas is one comparison.
  static constexpr unsigned char kBias = 0x100 - 0x21;
  __m256i Bias, LeadAreaEnd, TrailAreaEnd, PastHangulStart, X80, FF, DigitShift, DigitTop;

  QM_AVX2_INLINE TClassifyAvx2()
      : Bias(Set32(kBias)),
        LeadAreaEnd(Set32(static_cast<unsigned char>(0xF8 + kBias))),
        TrailAreaEnd(Set32(static_cast<unsigned char>(0xFF + kBias))),
        PastHangulStart(Set32(static_cast<unsigned char>(0xC8 + kBias))),
        X80(Set32(0x80)),
        FF(Set32(0xFF)),
        DigitShift(Set32(0x80 - '0')),
        DigitTop(Set32(0x80 + 10)) {
    // Kept in registers as they are: the compiler would otherwise make them afresh for
    // every block.
    for (__m256i* c : {&Bias, &LeadAreaEnd, &TrailAreaEnd, &PastHangulStart, &X80, &FF, &DigitShift,
                       &DigitTop}) {
      asm("" : "+x"(*c));
    }
  }

  QM_AVX2_INLINE void Half(__m256i x, unsigned shift, TBlockMasks& m) const {
    const __m256i biased = _mm256_add_epi8(x, Bias);
    const __m256i leadArea = _mm256_cmpgt_epi8(LeadAreaEnd, biased);
    // As blocks::Digits.
    const __m256i digits = _mm256_cmpgt_epi8(DigitTop, _mm256_add_epi8(x, DigitShift));
    m.High |= Mask32(x, shift);
    m.Odd |= Mask32(_mm256_or_si256(_mm256_cmpeq_epi8(x, X80), _mm256_cmpeq_epi8(x, FF)), shift);
    m.Digit |= Mask32(digits, shift);
    m.LeadArea |= Mask32(leadArea, shift);
    m.TrailArea |= Mask32(_mm256_cmpgt_epi8(TrailAreaEnd, biased), shift);
    m.PastHangul |=
        Mask32(_mm256_and_si256(_mm256_cmpgt_epi8(biased, PastHangulStart), leadArea), shift);
  }

  // Inlined once WalkBlocks is, into an AVX2 function.
  __attribute__((target("avx2"))) bool operator()(const unsigned char* p, TBlockMasks& m) const {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    if (_mm256_movemask_epi8(_mm256_or_si256(low, high)) == 0) return false;
    Half(low, 0, m);
    Half(high, 32, m);
    return true;
  }
};

__attribute__((target("avx2,popcnt"))) size_t WalkBlocksAvx2(const unsigned char* bytes,
                                                             size_t size, bool findFourByte,
                                                             TGb18030Tally& tally) {
  return WalkBlocks(bytes, size, findFourByte, tally, TClassifyAvx2{});
}
#endif

}  // namespace

TGb18030Tally TallyGb18030(std::string_view text, bool findFourByte, TGb18030Blocks blocks) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  TGb18030Tally tally;
  size_t i = 0;
#if defined(__x86_64__)
  if (blocks == TGb18030Blocks::Widest && ProcessorHasAvx2()) {
    i = WalkBlocksAvx2(bytes, size, findFourByte, tally);
    blocks = TGb18030Blocks::None;
  }
#endif
#if defined(__SSE2__)
  if (blocks != TGb18030Blocks::None) i = WalkBlocksSse2(bytes, size, findFourByte, tally);
#endif
  while (i < size) i = Step(bytes, size, i, findFourByte, tally);
  return tally;
}

namespace {

TGb18030Reading WalkGb18030(std::string_view text, bool findFourByte) {
  const TGb18030Tally tally = TallyGb18030(text, findFourByte);
  if (tally.FourByteCharacter) return TGb18030Reading::FourByteCharacters;
  const size_t pairs = tally.Pairs;
  const bool plausible =
      tally.Broken <= 2 + pairs / 50 &&
      (pairs < 16 || (2 * tally.Gb2312Area >= pairs && 10 * tally.PastHangulRows >= pairs));
  return plausible ? TGb18030Reading::Plausible : TGb18030Reading::Implausible;
}

}  // namespace

bool IsPlausibleGb18030(std::string_view text) {
  return WalkGb18030(text, false) == TGb18030Reading::Plausible;
}

TGb18030Reading ReadAsGb18030(std::string_view text) {
  return WalkGb18030(text, true);
}

std::string DetectNonChineseCharset(std::string_view text) {
  const std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
      uchardet_new(), uchardet_delete);
  if (!detector) return {};
  text = text.substr(0, kDetectedBytes);
  if (uchardet_handle_data(detector.get(), text.data(), text.size()) != 0) return {};
  uchardet_data_end(detector.get());
  const char* found = uchardet_get_charset(detector.get());
  if (found == nullptr || *found == '\0') return {};
  const std::string label = AsciiUpper(found);
  if (label == "ASCII" || label == "UTF-8" || label.starts_with("GB") || label == "HZ-GB-2312") {
    return {};
  }
  return CharsetForLabel(label);
}

}  // namespace qm
