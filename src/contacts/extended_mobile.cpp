// Mobile numbers as pages write them: 13812345678, 138-1234-5678, 138 1234 5678,
// 138-12345678, 1381234-5678, after +86, (+86), (86), 0086 or a trunk "0".
#include "contacts/contact_chars.h"
#include "contacts/extended_contacts.h"

namespace qm {
namespace {

using namespace contact_chars;

bool IsSeparator(char c) {
  return c == ' ' || c == '-';
}

bool ValidMobile(std::string_view digits) {
  return digits.size() == 11 && digits[0] == '1' && digits[1] >= '3' && digits[1] <= '9';
}

// True when the number ending at plain[end] goes on: a hyphen or a decimal point and a
// digit, as in an order number, a longer grouped number or an amount. A blank and digits
// are another number.
bool GoesOn(std::string_view plain, size_t end) {
  if (end + 1 >= plain.size() || !IsDigit(plain[end + 1])) return false;
  return plain[end] == '.' || plain[end] == '-';
}

// The same for the number starting at plain[begin], looking back.
bool ComesAfterNumber(std::string_view plain, size_t begin) {
  if (begin < 2 || !IsDigit(plain[begin - 2])) return false;
  return plain[begin - 1] == '.' || plain[begin - 1] == '-';
}

// True when the digits at plain[begin, end) stand inside a word: a letter or "_" follows, or
// letters that could all be hexadecimal digits come before (an identifier, a hash, the hex
// of a protected address). "Tel13812345678" is a number; "c13812345678f" is not.
bool InsideWord(std::string_view plain, size_t begin, size_t end) {
  if (end < plain.size() && (IsLetter(plain[end]) || plain[end] == '_')) return true;
  if (begin == 0 || !(IsLetter(plain[begin - 1]) || plain[begin - 1] == '_')) return false;
  size_t i = begin;
  for (; i > 0 && (IsLetter(plain[i - 1]) || plain[i - 1] == '_'); --i) {
    const char c = AsciiLower(plain[i - 1]);
    if (c < 'a' || c > 'f') return false;
  }
  // Letters right after a character beyond ASCII are left alone: in code page 936 text read
  // byte by byte they may be its second byte.
  return i == 0 || static_cast<unsigned char>(plain[i - 1]) < 0x80;
}

// The national number whose digits start at plain[begin] (the start of a run of digits):
// its 11 digits in `digits` and the end of what it took, or 0. With a country prefix
// before it, what comes before has been read already.
size_t NationalNumber(std::string_view plain, size_t begin, bool prefixed, std::string& digits) {
  const size_t first = DigitRun(plain, begin);
  digits.clear();
  if (first == 11 || (first == 12 && !prefixed && plain[begin] == '0')) {
    const size_t skip = first - 11;
    if (!prefixed && ComesAfterNumber(plain, begin)) return 0;
    if (GoesOn(plain, begin + first)) return 0;
    if (InsideWord(plain, prefixed ? begin + first : begin, begin + first)) return 0;
    digits.assign(plain.substr(begin + skip, 11));
    return begin + first;
  }
  if (first != 3 && first != 7) return 0;
  size_t pos = begin + first;
  if (pos >= plain.size() || !IsSeparator(plain[pos])) return 0;
  const char separator = plain[pos];
  if (!prefixed && ComesAfterNumber(plain, begin)) return 0;
  digits.assign(plain.substr(begin, first));
  ++pos;
  const size_t second = DigitRun(plain, pos);
  if (first == 7 && second != 4) return 0;
  if (first == 3 && second != 4 && second != 8) return 0;
  digits.append(plain.substr(pos, second));
  pos += second;
  if (first == 3 && second == 4) {
    if (pos >= plain.size() || plain[pos] != separator) return 0;
    ++pos;
    if (DigitRun(plain, pos) != 4) return 0;
    digits.append(plain.substr(pos, 4));
    pos += 4;
  }
  if (GoesOn(plain, pos)) return 0;
  if (InsideWord(plain, prefixed ? pos : begin, pos)) return 0;
  return pos;
}

size_t SkipSeparators(std::string_view plain, size_t pos) {
  for (int n = 0; n < 2 && pos < plain.size() && IsSeparator(plain[pos]); ++n) ++pos;
  return pos;
}

// The number at the run of digits starting at plain[begin], with the country prefixes
// read first; the end of what it took, or 0.
size_t MobileAt(std::string_view plain, size_t begin, std::string& digits) {
  const size_t run = DigitRun(plain, begin);
  const std::string_view digitsHere = plain.substr(begin, run);
  const char before = begin > 0 ? plain[begin - 1] : ' ';
  const bool plus = before == '+';
  size_t national = std::string_view::npos;
  if (digitsHere.starts_with("86") && (plus || before == '(')) {
    if (run == 13 && plus) {
      digits.assign(digitsHere.substr(2));
      return ValidMobile(digits) && !GoesOn(plain, begin + run) ? begin + run : 0;
    }
    if (run == 2) {
      size_t pos = begin + 2;
      if (pos < plain.size() && plain[pos] == ')')
        ++pos;
      else if (before == '(')
        return 0;
      national = SkipSeparators(plain, pos);
    }
  } else if (digitsHere.starts_with("0086")) {
    if (run == 15) {
      digits.assign(digitsHere.substr(4));
      return ValidMobile(digits) && !GoesOn(plain, begin + run) ? begin + run : 0;
    }
    if (run == 4) national = SkipSeparators(plain, begin + 4);
  }
  if (national != std::string_view::npos) {
    if (national >= plain.size() || !IsDigit(plain[national]) || IsDigit(plain[national - 1])) {
      return 0;
    }
    const size_t end = NationalNumber(plain, national, true, digits);
    return end != 0 && ValidMobile(digits) ? end : 0;
  }
  const size_t end = NationalNumber(plain, begin, false, digits);
  return end != 0 && ValidMobile(digits) ? end : 0;
}

// The most a run of digits may start before the "1" of the number it prefixes: "0086" and
// two separators.
constexpr size_t kLongestPrefix = 6;

// The first position from `from` on of a "1" with digits five and ten bytes on: every
// number taken has one at its "1", however it is grouped.
size_t NextMobileAnchor(std::string_view plain, size_t from) {
  for (size_t one = plain.find('1', from); one != std::string_view::npos && one + 10 < plain.size();
       one = plain.find('1', one + 1)) {
    if (IsDigit(plain[one + 5]) && IsDigit(plain[one + 10])) return one;
  }
  return std::string_view::npos;
}

}  // namespace

void ExtractMobilesExtended(std::string_view plain, TResultList& mobiles, std::string_view source) {
  std::string digits;
  for (size_t i = 0; i < plain.size();) {
    // Runs of digits before the next anchor less its longest prefix take nothing, so they
    // are passed over unread; the run holding that point is read from its start.
    const size_t anchor = NextMobileAnchor(plain, i);
    if (anchor == std::string_view::npos) return;
    size_t from = anchor >= i + kLongestPrefix ? anchor - kLongestPrefix : i;
    while (from > i && IsDigit(plain[from - 1])) --from;
    for (i = from; i <= anchor;) {
      if (!IsDigit(plain[i])) {
        ++i;
        continue;
      }
      const size_t end = MobileAt(plain, i, digits);
      if (end != 0) {
        mobiles.AcceptCandidate(digits, {}, source);
        i = end;
      } else {
        i += DigitRun(plain, i);
      }
    }
  }
}

}  // namespace qm
