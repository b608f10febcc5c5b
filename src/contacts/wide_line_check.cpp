#include "contacts/wide_line_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "contacts/contact_anchors.h"
#include "contacts/extended_anchors.h"
#include "text/byte_blocks.h"
#include "text/cp936.h"

namespace qm {
namespace {

constexpr unsigned kMobileOnly = kExtendedMobileAnchor;
constexpr unsigned kBoth = kExtendedMobileAnchor | kExtendedOtherAnchor;

// What a full-width form of an ASCII character does, by that character.
enum FullWidthRole : uint8_t {
  kNoRole,
  kSeed,          // a digit, letter, "@" or hyphen: a row may hold it
  kSpoilsMobile,  // "(", ")", "+", ".", "_": a mobile reads differently beside it
  kOpener,        // "(", "[", "{": a spelled sign may follow
};

constexpr std::array<uint8_t, 128> MakeRoles() {
  std::array<uint8_t, 128> roles{};
  for (char c = '0'; c <= '9'; ++c) roles[static_cast<unsigned char>(c)] = kSeed;
  for (char c = 'a'; c <= 'z'; ++c) {
    roles[static_cast<unsigned char>(c)] = kSeed;
    roles[static_cast<unsigned char>(c - 32)] = kSeed;
  }
  roles['@'] = roles['-'] = kSeed;
  roles[')'] = roles['+'] = roles['.'] = roles['_'] = kSpoilsMobile;
  roles['('] = roles['['] = roles['{'] = kOpener;
  return roles;
}

constexpr std::array<uint8_t, 128> kRoles = MakeRoles();

class WideLine {
 public:
  explicit WideLine(std::string_view line)
      : p_(reinterpret_cast<const unsigned char*>(line.data())), n_(line.size()) {}

  // Looks at the candidate at `i`; true when the line must be read in full.
  bool NeedsPlainText(size_t i) {
    const unsigned next = At(i + 1);
    if (IsHexLetter(next) && EndsCharacterReadAsAsciiOrNot(i)) spoilsMobile_ = true;
    switch (p_[i]) {
      case '@':
        return true;
      case '&':  // &#...; and &commat; can be anything; &period; is a point
        if (next == '#' || Folded(i + 1, "com")) return true;
        if (Folded(i + 1, "per")) spoilsMobile_ = true;
        return false;
      case '%':
        return next == '4' && At(i + 2) == '0';
      case '[':
      case '(':
      case '{':  // [at], (dot) ...
        if ((next | 0x20) == 'a') return true;
        if ((next | 0x20) == 'd') spoilsMobile_ = true;
        return false;
      case 'c':
        return next == 'f';
      case 'n':
        return next == '#' || FullWidthAt(i + 1) == '#';
      case 'q':
      case 'Q':
        return (next | 0x20) == 'q';
      case 'u':
      case 'U':
        return (next | 0x20) == 'i' && (At(i + 2) | 0x20) == 'n';
      case '1':
        if (IsDigit(At(i + 5)) && IsDigit(At(i + 10))) mobile_ = true;
        return false;
      default: {  // 0xEF or 0xA3: a full-width form
        // Whether the line's reading makes a character of the bytes is asked only where a
        // row may follow; a mobile is left to the plain text beside any that may spoil it.
        size_t length = 0;
        const unsigned c = FullWidthAt(i, &length);
        switch (c == 0 ? uint8_t{kNoRole} : kRoles[c]) {
          case kSeed:
            return ReadsAsCharacter(i);
          case kOpener:
            if ((At(i + length) | 0x20) == 'a' && ReadsAsCharacter(i)) return true;
            spoilsMobile_ = true;
            return false;
          case kSpoilsMobile:
            spoilsMobile_ = true;
            return false;
          default:
            return false;
        }
      }
    }
  }

  unsigned Kinds() const { return !mobile_ ? 0u : spoilsMobile_ ? kBoth : kMobileOnly; }

 private:
  unsigned At(size_t i) const { return i < n_ ? p_[i] : 0u; }
  static bool IsDigit(unsigned c) { return c - '0' < 10; }
  static bool IsHexLetter(unsigned c) { return (c | 0x20) - 'a' < 6; }

  // A mobile's digits after letters that could all be hexadecimal digits are taken unless
  // the character before those letters is ASCII. True when at `i` ends a character whose
  // last byte and whose plain text differ in that: a full-width form or 、 (ASCII in the
  // plain text), &nbsp; (a soft space there), or a code page 936 character whose second
  // byte is an ASCII sign.
  bool EndsCharacterReadAsAsciiOrNot(size_t i) const {
    const unsigned c = p_[i];
    if (c >= 0x80) {
      if (i >= 2 &&
          (FullWidthAt(i - 2) != 0 || (p_[i - 2] == 0xE3 && p_[i - 1] == 0x80 && c == 0x81))) {
        return true;
      }
      return i >= 1 && (FullWidthAt(i - 1) != 0 || (p_[i - 1] == 0xA1 && c == 0xA2));
    }
    if (c == ';') return i >= 5 && Folded(i - 5, "&nbsp");
    return i >= 1 && p_[i - 1] >= 0x81 && c >= 0x40;  // "@", "[", "`", "{" ... after a lead byte
  }
  bool Folded(size_t i, std::string_view word) const {
    for (size_t k = 0; k < word.size(); ++k) {
      if ((At(i + k) | 0x20) != static_cast<unsigned char>(word[k])) return false;
    }
    return true;
  }
  // The ASCII character a full-width form at `i` stands for (UTF-8 EF BC xx or EF BD xx,
  // code page 936 A3 xx), or 0.
  unsigned FullWidthAt(size_t i, size_t* length = nullptr) const {
    const unsigned lead = At(i), second = At(i + 1);
    unsigned c = 0;
    size_t size = 0;
    if (lead == 0xEF && (second == 0xBC || second == 0xBD)) {
      const unsigned third = At(i + 2);
      if ((third & 0xC0) != 0x80) return 0;
      c = 0x20 + ((second & 1) << 6 | (third & 0x3F));  // U+FF00 + k stands for 0x20 + k
      size = 3;
    } else if (lead == 0xA3 && second >= 0xA1 && second <= 0xFE) {
      c = 0x21 + (second - 0xA1);
      size = 2;
    }
    if (c < 0x21 || c > 0x7E) return 0;
    if (length != nullptr) *length = size;
    return c;
  }

  // True when the full-width form at `i` is a character in the line's reading: UTF-8 forms
  // in a line of UTF-8, code page 936 forms at a character's start in any other line. Most
  // bytes A3 of a Chinese page are the last of a UTF-8 character or a second byte.
  bool ReadsAsCharacter(size_t i) {
    if (p_[i] == 0xA3) return !IsUtf8() && !IsCp936Trail(i);
    return IsUtf8();
  }
  bool IsUtf8() {
    if (utf8_ < 0) utf8_ = IsUtf8Line() ? 1 : 0;
    return utf8_ == 1;
  }
  // IsValidUtf8, with runs of ASCII and the three-byte characters of Chinese text read
  // quickly.
  bool IsUtf8Line() const {
    const std::string_view text(reinterpret_cast<const char*>(p_), n_);
    size_t i = 0;
    while (i < n_) {
      uint64_t eight;
      if (i + 8 <= n_ && (std::memcpy(&eight, p_ + i, 8), (eight & 0x8080808080808080u) == 0)) {
        i += 8;
        continue;
      }
      const unsigned c = p_[i];
      if (c < 0x80) {
        ++i;
      } else if (c >= 0xE1 && c <= 0xEF && c != 0xED && i + 2 < n_ && (p_[i + 1] & 0xC0) == 0x80 &&
                 (p_[i + 2] & 0xC0) == 0x80) {
        i += 3;
      } else {
        const size_t length = Utf8CharacterLength(text, i);
        if (length == 0) return false;
        i += length;
      }
    }
    return true;
  }
  // In the code page 936 reading, read on from the last character start found: candidates
  // come in order, so a line is read at most once however many it holds.
  bool IsCp936Trail(size_t i) {
    size_t at = cp936Start_;
    if (at > i) at = 0;
    while (at < i) {
      at += IsCp936LeadByte(p_[at]) && at + 1 < n_ && IsCp936TrailByte(p_[at + 1]) ? 2 : 1;
    }
    cp936Start_ = at;
    return at != i;
  }

  const unsigned char* p_;
  size_t n_;
  int utf8_ = -1;
  size_t cp936Start_ = 0;  // a character start of the code page 936 reading
  bool mobile_ = false;
  bool spoilsMobile_ = false;
};

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

// Bit k set where WideLine has a look to take at p[k]; reads 16 + 10 bytes.
inline unsigned CandidateMask(const char* p) {
  const __m128i b0 = Load16(p), b1 = Load16(p + 1);
  const __m128i low0 = Or(b0, _mm_set1_epi8(0x20)), low1 = Or(b1, _mm_set1_epi8(0x20));
  __m128i any = Is(b0, '@');
  any = Or(any, And(Is(b0, '&'), Or(Is(b1, '#'), Or(Is(low1, 'c'), Is(low1, 'p')))));
  any = Or(any, And(Is(b0, '%'), Is(b1, '4')));
  const __m128i opener = Or(Is(b0, '['), Or(Is(b0, '('), Is(b0, '{')));
  any = Or(any, And(opener, Or(Is(low1, 'a'), Is(low1, 'd'))));
  any = Or(any, And(Is(b0, 'c'), Is(b1, 'f')));
  any = Or(any, And(Is(b0, 'n'), Or(Is(b1, '#'), Or(Is(b1, 0xEF), Is(b1, 0xA3)))));
  any = Or(any, And(Is(low0, 'q'), Is(low1, 'q')));
  any = Or(any, And(Is(low0, 'u'), Is(low1, 'i')));
  any = Or(any, And(Is(b0, 0xEF), Or(Is(b1, 0xBC), Is(b1, 0xBD))));
  // A3 A1..A3 FE: the second byte, less 0xA1, is below 0x5E.
  const __m128i second = _mm_sub_epi8(b1, _mm_set1_epi8(static_cast<char>(0xA1)));
  any =
      Or(any, And(Is(b0, 0xA3), _mm_cmpeq_epi8(_mm_min_epu8(second, _mm_set1_epi8(0x5D)), second)));
  // A byte beyond ASCII, ";" or an ASCII sign that can be a second byte, before a letter that
  // could be a hexadecimal digit.
  const __m128i hexLetter =
      _mm_cmpeq_epi8(_mm_min_epu8(_mm_sub_epi8(low1, _mm_set1_epi8('a')), _mm_set1_epi8(5)),
                     _mm_sub_epi8(low1, _mm_set1_epi8('a')));
  const __m128i signs =
      Or(Or(Is(b0, ';'), Is(b0, '`')),
         Or(And(_mm_cmpgt_epi8(b0, _mm_set1_epi8('Z')), _mm_cmplt_epi8(b0, _mm_set1_epi8('_'))),
            _mm_cmpgt_epi8(b0, _mm_set1_epi8('z'))));
  any = Or(any, And(hexLetter, Or(signs, _mm_cmplt_epi8(b0, _mm_setzero_si128()))));
  const __m128i mobile = And(Is(b0, '1'), And(Digits(Load16(p + 5)), Digits(Load16(p + 10))));
  return Mask(Or(any, mobile));
}
#endif

#if defined(__x86_64__)
#define QM_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

QM_AVX2_INLINE __m256i Load32(const char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
QM_AVX2_INLINE __m256i Or32(__m256i a, __m256i b) {
  return _mm256_or_si256(a, b);
}
QM_AVX2_INLINE __m256i And32(__m256i a, __m256i b) {
  return _mm256_and_si256(a, b);
}
QM_AVX2_INLINE __m256i Is32(__m256i bytes, unsigned char c) {
  return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(c)));
}
QM_AVX2_INLINE __m256i Below32(__m256i bytes, unsigned char from, unsigned char count) {
  const __m256i shifted = _mm256_sub_epi8(bytes, _mm256_set1_epi8(static_cast<char>(from)));
  return _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, _mm256_set1_epi8(static_cast<char>(count - 1))),
                           shifted);
}

// CandidateMask for thirty-two bytes; reads 32 + 10 bytes.
QM_AVX2_INLINE uint32_t CandidateMask32(const char* p) {
  const __m256i b0 = Load32(p), b1 = Load32(p + 1);
  const __m256i low0 = Or32(b0, _mm256_set1_epi8(0x20)), low1 = Or32(b1, _mm256_set1_epi8(0x20));
  __m256i any = Is32(b0, '@');
  any =
      Or32(any, And32(Is32(b0, '&'), Or32(Is32(b1, '#'), Or32(Is32(low1, 'c'), Is32(low1, 'p')))));
  any = Or32(any, And32(Is32(b0, '%'), Is32(b1, '4')));
  const __m256i opener = Or32(Is32(b0, '['), Or32(Is32(b0, '('), Is32(b0, '{')));
  any = Or32(any, And32(opener, Or32(Is32(low1, 'a'), Is32(low1, 'd'))));
  any = Or32(any, And32(Is32(b0, 'c'), Is32(b1, 'f')));
  any = Or32(any, And32(Is32(b0, 'n'), Or32(Is32(b1, '#'), Or32(Is32(b1, 0xEF), Is32(b1, 0xA3)))));
  any = Or32(any, And32(Is32(low0, 'q'), Is32(low1, 'q')));
  any = Or32(any, And32(Is32(low0, 'u'), Is32(low1, 'i')));
  // Only the full-width forms WideLine looks at: （ ） ＋ － ． digits ＠ letters ［ ＿ ｛.
  const __m256i b2 = Load32(p + 2);
  const __m256i utf8Low =
      Or32(Or32(Or32(Is32(b2, 0x88), Is32(b2, 0x89)), Or32(Is32(b2, 0x8B), Below32(b2, 0x8D, 2))),
           Or32(Or32(Below32(b2, 0x90, 10), Below32(b2, 0xA0, 0x1C)), Is32(b2, 0xBF)));
  any = Or32(any, And32(Is32(b0, 0xEF), Or32(And32(Is32(b1, 0xBC), utf8Low),
                                             And32(Is32(b1, 0xBD), Below32(b2, 0x81, 0x1B)))));
  const __m256i cp936 = Or32(
      Or32(Or32(Below32(b1, 0xA8, 2), Is32(b1, 0xAB)), Or32(Below32(b1, 0xAD, 2), Is32(b1, 0xDF))),
      Or32(Or32(Below32(b1, 0xB0, 10), Below32(b1, 0xC0, 0x1C)), Below32(b1, 0xE1, 0x1B)));
  any = Or32(any, And32(Is32(b0, 0xA3), cp936));
  const __m256i signs =
      Or32(Or32(Is32(b0, ';'), Is32(b0, '`')), Or32(Below32(b0, '[', 4), Below32(b0, '{', 0x85)));
  any = Or32(any, And32(Below32(low1, 'a', 6), signs));
  const __m256i digits = And32(Below32(Load32(p + 5), '0', 10), Below32(Load32(p + 10), '0', 10));
  any = Or32(any, And32(Is32(b0, '1'), digits));
  return static_cast<uint32_t>(_mm256_movemask_epi8(any));
}

#define QM_AVX512_INLINE __attribute__((target("avx512bw"), always_inline)) inline

QM_AVX512_INLINE __m512i Load64(const char* p) {
  return _mm512_loadu_si512(p);
}
QM_AVX512_INLINE uint64_t Is64(__m512i bytes, unsigned char c) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(c)));
}
QM_AVX512_INLINE uint64_t Below64(__m512i bytes, unsigned char from, unsigned char count) {
  return _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(static_cast<char>(from))),
                                _mm512_set1_epi8(static_cast<char>(count)));
}

// CandidateMask for sixty-four bytes; reads 64 + 10 bytes.
QM_AVX512_INLINE uint64_t CandidateMask64(const char* p) {
  const __m512i b0 = Load64(p), b1 = Load64(p + 1), b2 = Load64(p + 2);
  const __m512i low0 = _mm512_or_si512(b0, _mm512_set1_epi8(0x20));
  const __m512i low1 = _mm512_or_si512(b1, _mm512_set1_epi8(0x20));
  uint64_t any = Is64(b0, '@');
  any |= Is64(b0, '&') & (Is64(b1, '#') | Is64(low1, 'c') | Is64(low1, 'p'));
  any |= Is64(b0, '%') & Is64(b1, '4');
  any |= (Is64(b0, '[') | Is64(b0, '(') | Is64(b0, '{')) & (Is64(low1, 'a') | Is64(low1, 'd'));
  any |= Is64(b0, 'c') & Is64(b1, 'f');
  any |= Is64(b0, 'n') & (Is64(b1, '#') | Is64(b1, 0xEF) | Is64(b1, 0xA3));
  any |= Is64(low0, 'q') & Is64(low1, 'q');
  any |= Is64(low0, 'u') & Is64(low1, 'i');
  const uint64_t utf8Low = Below64(b2, 0x88, 2) | Is64(b2, 0x8B) | Below64(b2, 0x8D, 2) |
                           Below64(b2, 0x90, 10) | Below64(b2, 0xA0, 0x1C) | Is64(b2, 0xBF);
  any |= Is64(b0, 0xEF) & ((Is64(b1, 0xBC) & utf8Low) | (Is64(b1, 0xBD) & Below64(b2, 0x81, 0x1B)));
  const uint64_t cp936 = Below64(b1, 0xA8, 2) | Is64(b1, 0xAB) | Below64(b1, 0xAD, 2) |
                         Is64(b1, 0xDF) | Below64(b1, 0xB0, 10) | Below64(b1, 0xC0, 0x1C) |
                         Below64(b1, 0xE1, 0x1B);
  any |= Is64(b0, 0xA3) & cp936;
  const uint64_t signs =
      Is64(b0, ';') | Is64(b0, '`') | Below64(b0, '[', 4) | Below64(b0, '{', 0x85);
  any |= Below64(low1, 'a', 6) & signs;
  any |= Is64(b0, '1') & Below64(Load64(p + 5), '0', 10) & Below64(Load64(p + 10), '0', 10);
  return any;
}

__attribute__((target("avx512bw"))) void CandidateWordsAvx512(const char* p, uint64_t* words,
                                                              size_t count) {
  for (size_t w = 0; w < count; ++w, p += 64) words[w] = CandidateMask64(p);
}

bool CpuHasAvx512bw() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") != 0;
  }();
  return has;
}

__attribute__((target("avx2"))) void CandidateWordsAvx2(const char* p, uint64_t* words,
                                                        size_t count) {
  for (size_t w = 0; w < count; ++w, p += 64) {
    words[w] = CandidateMask32(p) | static_cast<uint64_t>(CandidateMask32(p + 32)) << 32;
  }
}

template <typename Visit>
__attribute__((target("avx2"))) bool AnyCandidateAvx2(const char* p, size_t n, Visit visit) {
  constexpr size_t kReach = 32 + kExtendedAnchorLookAhead;
  size_t i = 0;
  for (; i + kReach <= n; i += 32) {
    if (visit(CandidateMask32(p + i), i)) return true;
  }
  for (; i < n; i += 32) {
    char padded[2 * kReach] = {};
    std::memcpy(padded, p + i, std::min(n - i, sizeof padded));
    if (visit(CandidateMask32(padded), i)) return true;
  }
  return false;
}
#endif

}  // namespace

unsigned WideLineKinds(std::string_view line) {
  WideLine wide(line);
  const char* const p = line.data();
  const size_t n = line.size();
#if defined(__SSE2__)
  constexpr size_t kReach = 16 + kExtendedAnchorLookAhead;
  auto visit = [&](uint32_t mask, size_t base) {
    for (; mask != 0; mask &= mask - 1) {
      const size_t i = base + static_cast<size_t>(__builtin_ctz(mask));
      if (i < n && wide.NeedsPlainText(i)) return true;
    }
    return false;
  };
#if defined(__x86_64__)
  if (ProcessorHasAvx2()) return AnyCandidateAvx2(p, n, visit) ? kBoth : wide.Kinds();
#endif
  size_t i = 0;
  for (; i + kReach <= n; i += 16) {
    if (visit(CandidateMask(p + i), i)) return kBoth;
  }
  // The rest from a copy padded with zero bytes, which make no candidate.
  for (; i < n; i += 16) {
    char padded[2 * kReach] = {};
    std::memcpy(padded, p + i, std::min(n - i, sizeof padded));
    if (visit(CandidateMask(padded), i)) return kBoth;
  }
#else
  for (size_t i = 0; i < n; ++i) {
    if (wide.NeedsPlainText(i)) return kBoth;
  }
#endif
  return wide.Kinds();
}

namespace {

// Bit k of each word set where WideLine takes a look at p[64 w + k]; reads 64 + 10 bytes a
// word.
void CandidateWords(const char* p, uint64_t* words, size_t count) {
#if defined(__x86_64__)
  if (CpuHasAvx512bw()) return CandidateWordsAvx512(p, words, count);
  if (ProcessorHasAvx2()) return CandidateWordsAvx2(p, words, count);
#endif
  for (size_t w = 0; w < count; ++w, p += 64) {
#if defined(__SSE2__)
    uint64_t word = 0;
    for (int block = 0; block < 4; ++block) {
      word |= static_cast<uint64_t>(CandidateMask(p + 16 * block)) << (16 * block);
    }
    words[w] = word;
#else
    words[w] = ~uint64_t{0};
#endif
  }
}

}  // namespace

void TWideLineMarks::Find(std::string_view text) {
  constexpr size_t kReach = 64 + kExtendedAnchorLookAhead;
  text_ = text;
  const size_t n = text.size();
  words_.resize((n + 63) / 64);
  const size_t inPlace = n >= kReach ? (n - kReach) / 64 + 1 : 0;
  CandidateWords(text.data(), words_.data(), inPlace);
  for (size_t w = inPlace; w < words_.size(); ++w) {
    char padded[2 * kReach] = {};
    std::memcpy(padded, text.data() + 64 * w, std::min(n - 64 * w, sizeof padded));
    CandidateWords(padded, &words_[w], 1);
  }
}

unsigned TWideLineMarks::Kinds(size_t begin, size_t end) const {
  end = std::min(end, text_.size());
  if (begin >= end) return 0;
  // Marks are taken with the bytes after the line in view, so they are at least those of
  // the line alone; WideLine reads no byte past the line's end.
  WideLine wide(text_.substr(begin, end - begin));
  for (size_t w = begin / 64; w <= (end - 1) / 64; ++w) {
    uint64_t word = words_[w];
    if (w == begin / 64) word &= ~uint64_t{0} << (begin % 64);
    if (w == (end - 1) / 64) word &= ~uint64_t{0} >> (63 - (end - 1) % 64);
    for (; word != 0; word &= word - 1) {
      const size_t i = 64 * w + static_cast<size_t>(__builtin_ctzll(word));
      if (wide.NeedsPlainText(i - begin)) return kBoth;
    }
  }
  return wide.Kinds();
}

}  // namespace qm
