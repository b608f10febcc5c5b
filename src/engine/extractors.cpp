#include "engine/extractors.h"

#include <array>
#include <cstring>

#include "text/cp936.h"

namespace qm {
namespace {

// A line is read as UTF-8 when it is valid UTF-8, else as code page 936. Every member of
// a token set is ASCII, so a token is always a run of set bytes; the two readings differ
// only when such a run follows a code page 936 lead byte, which then swallows the run's
// first byte as its trail. The scanners work on bytes and ask for the verdict only where
// the two readings would give different candidates, so most lines are never validated.
class LineReading {
 public:
  explicit LineReading(std::string_view line) : line_(line) {}

  // True when the byte at `pos` (a set byte) is the trail of a double-byte character in
  // the code page 936 reading. The bytes before it are walked back only over lead-range
  // bytes: a byte outside that range always ends a character, and from there lead-range
  // bytes pair up.
  bool IsCp936Trail(size_t pos) const {
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
void RunAround(std::string_view line, const ByteSet& set, size_t pos, size_t& begin,
               size_t& end) {
  begin = pos;
  while (begin > 0 && set[static_cast<unsigned char>(line[begin - 1])]) --begin;
  end = pos + 1;
  while (end < line.size() && set[static_cast<unsigned char>(line[end])]) ++end;
}

// Offers the token of the run [begin, end) if it passes `test`. The code page 936 reading
// may start the token one byte later; the verdict on the encoding is sought only when
// exactly one of the two tokens passes, or both pass and differ.
template <typename Test>
void OfferRun(std::string_view line, LineReading& reading, size_t begin, size_t end,
              Test test, TResultList& list, std::string_view suffix) {
  std::string_view token = line.substr(begin, end - begin);
  if (begin > 0 && IsCp936LeadByte(reading.Byte(begin - 1)) && reading.IsCp936Trail(begin)) {
    std::string_view gbkToken = token.substr(1);
    const bool utf8Passes = test(token);
    const bool gbkPasses = test(gbkToken);
    if (!utf8Passes && !gbkPasses) return;
    if (!reading.IsUtf8()) {
      if (gbkPasses) list.AcceptCandidate(test.Candidate(gbkToken), suffix);
      return;
    }
    if (!utf8Passes) return;
  } else if (!test(token)) {
    return;
  }
  list.AcceptCandidate(test.Candidate(token), suffix);
}

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
};

// Every accepted token holds `anchor` (e-mail: "@"; mobile: "1" as its first or second
// digit), so the scan hops from one anchor byte to the next with memchr and examines only
// the runs around them, each run once, in the order in which they end.
template <typename Test>
void ScanAnchoredRuns(std::string_view line, const ByteSet& set, char anchor, Test test,
                      TResultList& list, std::string_view suffix) {
  LineReading reading(line);
  const char* const data = line.data();
  size_t from = 0;
  while (from < line.size()) {
    const void* hit = std::memchr(data + from, anchor, line.size() - from);
    if (!hit) return;
    const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - data);
    size_t begin, end;
    RunAround(line, set, pos, begin, end);
    OfferRun(line, reading, begin, end, test, list, suffix);
    from = end;
  }
}

bool ContainsPair(std::string_view line, char c) {
  const char* p = line.data();
  const char* const last = p + line.size() - 1;  // a pair must start before the last byte
  while (p < last) {
    p = static_cast<const char*>(std::memchr(p, c, static_cast<size_t>(last - p)));
    if (!p) return false;
    if (p[1] == c) return true;
    p += 2;
  }
  return false;
}

}  // namespace

void ExtractEmails(std::string_view line, TResultList& emails) {
  // An accepted token alone has more than 7 characters and holds "@", so testing bytes
  // here gives the same results as testing characters.
  if (line.size() <= 7 || !std::memchr(line.data(), '@', line.size())) return;
  ScanAnchoredRuns(line, EmailSet, '@', EmailTest{}, emails, {});
}

void ExtractMobiles(std::string_view line, TResultList& mobiles) {
  if (line.empty() || !std::memchr(line.data(), '1', line.size())) return;
  ScanAnchoredRuns(line, DigitSet, '1', MobileTest{}, mobiles, {});
}

void ExtractQQNumbers(std::string_view line, TResultList& qqNumbers) {
  if (line.size() <= 4) return;
  if (!ContainsPair(line, 'q') && !ContainsPair(line, 'Q') &&
      line.find("tencent") == std::string_view::npos) {
    return;
  }
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
      qqNumbers.AcceptCandidate(line.substr(begin, length), QQMailSuffix);
    }
  }
}

}  // namespace qm
