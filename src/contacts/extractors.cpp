#include "contacts/extractors.h"

#include <array>
#include <cstring>

#include "contacts/contact_anchors.h"
#include "contacts/extended_contacts.h"
#include "contacts/labelled_kinds.h"
#include "text/byte_blocks.h"
#include "text/cp936.h"

namespace qm {
namespace {

// A line is read as UTF-8 when it is valid UTF-8, else as code page 936. Every member of
// a token set is ASCII, so a token is always a run of set bytes; the two readings differ
// only when such a run follows a code page 936 lead byte and starts with a byte that can
// be a second byte (a letter or "@", never a digit, "." or "-"), which the lead byte then
// takes. The scanners work on bytes and ask for the verdict only where the two readings
// would give different candidates, so most lines are never validated.
class LineReading {
 public:
  explicit LineReading(std::string_view line) : line_(line) {}

  // True when the byte at `pos` is the trail of a double-byte character in the code page
  // 936 reading. The bytes before it are walked back only over lead-range bytes: a byte
  // outside that range always ends a character, and from there lead-range bytes, each of
  // which can also be a second byte, pair up.
  bool IsCp936Trail(size_t pos) const {
    if (!IsCp936TrailByte(Byte(pos))) return false;
    size_t run = 0;
    while (pos > run && IsCp936LeadByte(Byte(pos - run - 1))) ++run;
    return (run & 1) != 0;
  }

  bool IsUtf8() {
    if (utf8_ < 0) utf8_ = IsValidUtf8(line_) ? 1 : 0;
    return utf8_ == 1;
  }

  unsigned char Byte(size_t pos) const { return static_cast<unsigned char>(line_[pos]); }

 private:
  std::string_view line_;
  int utf8_ = -1;
};

using ByteSet = std::array<bool, 256>;

constexpr ByteSet MakeSet(std::string_view members) {
  ByteSet set{};
  for (char c : members) set[static_cast<unsigned char>(c)] = true;
  return set;
}

constexpr ByteSet EmailSet = MakeSet("abcdefghijklmnopqrstuvwxyz0123456789.@-");
constexpr ByteSet DigitSet = MakeSet("0123456789");

// The run of set bytes around `pos` (which holds a set byte): [begin, end).
void RunAround(std::string_view line, const ByteSet& set, size_t pos, size_t& begin, size_t& end) {
  begin = pos;
  while (begin > 0 && set[static_cast<unsigned char>(line[begin - 1])]) --begin;
  end = pos + 1;
  while (end < line.size() && set[static_cast<unsigned char>(line[end])]) ++end;
}

// Offers the token of the run [begin, end) if it passes `test`. The code page 936 reading
// may start the token one byte later; the verdict on the encoding is sought only when
// exactly one of the two tokens passes, or both pass and differ.
template <typename Test>
void OfferRun(std::string_view line, LineReading& reading, size_t begin, size_t end, Test test,
              TResultList& list, std::string_view suffix, std::string_view source) {
  std::string_view token = line.substr(begin, end - begin);
  if (begin > 0 && IsCp936LeadByte(reading.Byte(begin - 1)) && reading.IsCp936Trail(begin)) {
    std::string_view gbkToken = token.substr(1);
    const bool utf8Passes = test(token);
    const bool gbkPasses = test(gbkToken);
    if (!utf8Passes && !gbkPasses) return;
    if (!reading.IsUtf8()) {
      if (gbkPasses) list.AcceptCandidate(test.Candidate(gbkToken), suffix, source);
      return;
    }
    if (!utf8Passes) return;
  } else if (!test(token)) {
    return;
  }
  list.AcceptCandidate(test.Candidate(token), suffix, source);
}

// Each test also tells from the bytes around an anchor whether the anchor can belong to
// a passing token at all: most anchors (a "1" in a date, an "@" that is a trail byte) are
// dismissed without finding their run.
struct EmailTest {
  bool operator()(std::string_view token) const {
    if (token.size() <= 7) return false;
    const size_t at = token.find('@');
    if (at == std::string_view::npos || at < 2) return false;
    const std::string_view after = token.substr(at + 1, 255);
    const size_t dot = after.find('.');
    return dot != std::string_view::npos && dot >= 2;
  }
  std::string_view Candidate(std::string_view token) const { return token; }

  // A passing token's first "@" has two set bytes before it and three after it.
  static bool MayPass(std::string_view line, size_t at) {
    if (at < 2 || at + 3 >= line.size()) return false;
    auto in = [&](size_t i) { return EmailSet[static_cast<unsigned char>(line[i])]; };
    return in(at - 2) && in(at - 1) && in(at + 1) && in(at + 2) && in(at + 3);
  }
};

struct MobileTest {
  static std::string_view Digits(std::string_view token) {
    if (token.size() > 11 && token.front() == '0') token.remove_prefix(1);
    return token;
  }
  bool operator()(std::string_view token) const {
    const std::string_view digits = Digits(token);
    return digits.size() == 11 && digits.front() == '1';
  }
  std::string_view Candidate(std::string_view token) const { return Digits(token); }

  // A passing token's leading "1" has ten digits after it.
  static bool MayPass(std::string_view line, size_t one) {
    return one + 10 < line.size() && DigitSet[static_cast<unsigned char>(line[one + 10])];
  }
};

#if defined(__SSE2__)
using blocks::Load16;
using blocks::Mask;

// Bit k set where block[k] == c, for 32 bytes.
inline unsigned Mask32(const char* block, __m128i c) {
  return Mask(_mm_cmpeq_epi8(Load16(block), c)) |
         (Mask(_mm_cmpeq_epi8(Load16(block + 16), c)) << 16);
}
#endif

// Calls `visit(pos)` for the positions of `c` (not NUL) in `line`, in order; `visit`
// returns the position from which the search goes on (greater than pos). Thirty-two bytes
// are compared at a time, the last block overlapping the one before, so there is no byte
// loop and a line without hits costs a few instructions per block.
template <typename Visit>
void ForEachByte(std::string_view line, char c, Visit visit) {
  const char* const p = line.data();
  const size_t n = line.size();
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(c);
  while (i < n) {
    unsigned mask;  // bit k: position i + k
    size_t next;
    if (i + 32 <= n) {
      mask = Mask32(p + i, wanted);
      next = i + 32;
    } else if (n >= 32) {
      mask = Mask32(p + n - 32, wanted) >> (i - (n - 32));
      next = n;
    } else {
      char padded[32] = {};
      std::memcpy(padded, p + i, n - i);
      mask = Mask32(padded, wanted);
      next = n;
    }
    while (mask != 0) {
      const size_t resume = visit(i + static_cast<size_t>(__builtin_ctz(mask)));
      if (resume >= next) {
        next = resume;
        break;
      }
      mask &= ~0u << (resume - i);
    }
    i = next;
  }
#else
  while (i < n) i = p[i] == c ? visit(i) : i + 1;
#endif
}

// Offers the run around `pos` and returns where it ends. Kept out of line so that the
// scanning loop, which rarely gets here, stays small.
template <typename Test>
[[gnu::noinline]] size_t ExamineRun(std::string_view line, LineReading& reading, const ByteSet& set,
                                    size_t pos, Test test, TResultList& list,
                                    std::string_view suffix, std::string_view source) {
  size_t begin, end;
  RunAround(line, set, pos, begin, end);
  OfferRun(line, reading, begin, end, test, list, suffix, source);
  return end;
}

// Every accepted token holds `anchor` (e-mail: its first "@"; mobile: its leading "1"),
// so the scan goes from one anchor byte to the next and examines only the runs around
// those that may pass, each run once, in the order in which they end.
template <typename Test>
void ScanAnchoredRuns(std::string_view line, const ByteSet& set, char anchor, Test test,
                      TResultList& list, std::string_view suffix, std::string_view source) {
  LineReading reading(line);
  ForEachByte(line, anchor, [&](size_t pos) {
    if (!Test::MayPass(line, pos)) return pos + 1;
    return ExamineRun(line, reading, set, pos, test, list, suffix, source);
  });
}

// True when `c` occurs in the line. Most lines hold no "@" at all: gathering the
// comparisons over the whole line and branching once dismisses them for less than the
// anchor scan costs.
bool HasByte(std::string_view line, char c) {
  const char* const p = line.data();
  const size_t n = line.size();
#if defined(__SSE2__)
  if (n >= 16) {
    const __m128i wanted = _mm_set1_epi8(c);
    __m128i any = _mm_cmpeq_epi8(Load16(p + n - 16), wanted);
    for (size_t i = 0; i + 32 <= n; i += 32) {
      any = _mm_or_si128(any, _mm_or_si128(_mm_cmpeq_epi8(Load16(p + i), wanted),
                                           _mm_cmpeq_epi8(Load16(p + i + 16), wanted)));
    }
    if ((n & 16) != 0)
      any = _mm_or_si128(any, _mm_cmpeq_epi8(Load16(p + (n & ~size_t{31})), wanted));
    return Mask(any) != 0;
  }
#endif
  return std::memchr(p, c, n) != nullptr;
}

constexpr std::string_view kTencent = "tencent";

// A pair "qq", "QQ" or "nc" starts at `pos` (the pair "nc" stands inside "tencent", where
// it is rarer in markup than the "te" of "date" or "style").
bool IsQQTriggerAt(std::string_view line, size_t pos) {
  if (line[pos] != 'n') return true;
  return pos >= 2 && line.substr(pos - 2, kTencent.size()) == kTencent;
}

#if defined(__SSE2__)
// The same for the block at `block` (17 bytes are read).
inline __attribute__((always_inline)) __m128i QQPairBytesAt(const char* block) {
  return QQPairBytes(Load16(block), Load16(block + 1));
}
inline __attribute__((always_inline)) unsigned QQPairMask(const char* block) {
  return Mask(QQPairBytesAt(block));
}
#endif

// False when the line holds no "qq", "QQ" or "nc" pair; most lines hold none, and the
// pairs gathered over the whole line with one branch cost less than the search below.
bool MayHaveQQTrigger(std::string_view line) {
#if defined(__SSE2__)
  const size_t n = line.size();
  if (n >= 17) {
    const char* const p = line.data();
    __m128i any = QQPairBytesAt(p + n - 17);
    for (size_t i = 0; i + 17 <= n; i += 16) any = _mm_or_si128(any, QQPairBytesAt(p + i));
    return Mask(any) != 0;
  }
#endif
  (void)line;
  return true;
}

// True when the line holds "qq", "QQ" or "tencent".
bool HasQQTrigger(std::string_view line) {
  if (!MayHaveQQTrigger(line)) return false;
  const size_t n = line.size();
#if defined(__SSE2__)
  size_t i = 0;
  for (; i + 17 <= n; i += 16) {
    for (unsigned mask = QQPairMask(line.data() + i); mask != 0; mask &= mask - 1) {
      if (IsQQTriggerAt(line, i + static_cast<size_t>(__builtin_ctz(mask)))) return true;
    }
  }
  if (i + 1 >= n) return false;
  unsigned mask;
  if (n >= 17) {
    // The last seventeen bytes, shifted so that bit k stands for the pair at i + k.
    mask = QQPairMask(line.data() + n - 17) >> (i - (n - 17));
  } else {
    char padded[32] = {};  // zero padding makes no pair
    std::memcpy(padded, line.data(), n);
    mask = QQPairMask(padded);
  }
  for (; mask != 0; mask &= mask - 1) {
    if (IsQQTriggerAt(line, i + static_cast<size_t>(__builtin_ctz(mask)))) return true;
  }
  return false;
#else
  for (size_t i = 0; i + 1 < n; ++i) {
    const char a = line[i], b = line[i + 1];
    if (((a == 'q' || a == 'Q') && b == a) || (a == 'n' && b == 'c' && IsQQTriggerAt(line, i))) {
      return true;
    }
  }
  return false;
#endif
}

#if defined(__x86_64__)
// Lines of at least 42 bytes.
QM_AVX2 unsigned FindAnchorsAvx2(std::string_view line) {
  const char* const p = line.data();
  const size_t n = line.size();
  AnchorBytes32 anchors;
  anchors.Clear();
  for (size_t i = 0; i + 42 <= n; i += 32) anchors.Add(p + i);
  // The last anchor positions: a "1" up to n - 11, an "@" or a pair up to n - 2.
  anchors.Add(p + n - 42);
  anchors.AddShort(p + n - 33);
  return anchors.Kinds();
}

#endif

// The scanners whose anchors occur in the line. Blocks may overlap: finding an anchor
// twice changes nothing.
unsigned FindAnchors(std::string_view line) {
#if defined(__x86_64__)
  if (ProcessorHasAvx2() && line.size() >= 42) return FindAnchorsAvx2(line);
#endif
#if defined(__SSE2__)
  const char* const p = line.data();
  const size_t n = line.size();
  AnchorBytes16 anchors;
  if (n >= 26) {
    size_t i = 0;
    for (; i + 26 <= n; i += 16) anchors.Add(p + i);
    // The last anchor positions: a "1" up to n - 11, an "@" or a pair up to n - 2.
    anchors.Add(p + n - 26);
    anchors.AddShort(p + n - 17);
  } else {
    char padded[48] = {};  // zero bytes make no anchor
    std::memcpy(padded, p, n);
    anchors.Add(padded);
    anchors.Add(padded + 16);
  }
  return anchors.Kinds();
#else
  (void)line;
  return kEmailAnchor | kMobileAnchor | kQQAnchor;
#endif
}

}  // namespace

void ExtractContacts(std::string_view line, const TContactLists& lists) {
  if (lists.WeChatIds != nullptr || lists.Telephones != nullptr) {
    ExtractLabelledContacts(line, lists);
  }
  if (lists.Extended) return ExtractExtendedContacts(line, lists);
  const unsigned found = FindAnchors(line);
  if (found == 0) return;
  if (lists.Emails != nullptr && (found & kEmailAnchor) != 0) {
    ExtractEmails(line, *lists.Emails, lists.Source);
  }
  if (lists.Mobiles != nullptr && (found & kMobileAnchor) != 0) {
    ExtractMobiles(line, *lists.Mobiles, lists.Source);
  }
  if (lists.QQNumbers != nullptr && (found & kQQAnchor) != 0) {
    ExtractQQNumbers(line, *lists.QQNumbers, lists.Source);
  }
}

void ExtractEmails(std::string_view line, TResultList& emails, std::string_view source) {
  // An accepted token alone has more than 7 characters, so testing bytes here gives the
  // same results as testing characters.
  if (line.size() <= 7) return;
  if (!HasByte(line, '@')) return;
  ScanAnchoredRuns(line, EmailSet, '@', EmailTest{}, emails, {}, source);
}

void ExtractMobiles(std::string_view line, TResultList& mobiles, std::string_view source) {
  ScanAnchoredRuns(line, DigitSet, '1', MobileTest{}, mobiles, {}, source);
}

void ExtractQQNumbers(std::string_view line, TResultList& qqNumbers, std::string_view source) {
  if (line.size() <= 4 || !HasQQTrigger(line)) return;
  const auto* p = reinterpret_cast<const unsigned char*>(line.data());
  const size_t n = line.size();
  size_t i = 0;
  while (i < n) {
    if (!DigitSet[p[i]]) {
      ++i;
      continue;
    }
    const size_t begin = i;
    while (i < n && DigitSet[p[i]]) ++i;
    const size_t length = i - begin;
    if (p[begin] != '0' && length > 4 && length < 11) {
      qqNumbers.AcceptCandidate(line.substr(begin, length), QQMailSuffix, source);
    }
  }
}

}  // namespace qm
