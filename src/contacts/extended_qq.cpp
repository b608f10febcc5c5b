// QQ numbers that the page itself introduces: after the label "QQ" (any case, "QQ号",
// "QQ号码", a colon, tags between), after "uin=" (tencent://message/?uin=..., the web chat
// links), or as the mail address NUMBER@qq.com.
#include <algorithm>

#include "contacts/contact_chars.h"
#include "contacts/contact_text.h"
#include "contacts/extended_contacts.h"

namespace qm {
namespace {

using namespace contact_chars;

constexpr size_t kMaxFiller = 64;
constexpr size_t kMaxTag = 256;

bool IsFiller(char c) {
  return c == ' ' || c == '\t' || c == kSoftSpace || c == ':' || c == '=' || c == '-' ||
         c == kHaoChar || c == kMaChar;
}

// A QQ number: 5 to 10 digits, not beginning with "0", the whole run and no decimal.
bool QQNumberAt(std::string_view plain, size_t begin, size_t& length) {
  length = DigitRun(plain, begin);
  if (length < 5 || length > 10 || plain[begin] == '0') return false;
  const size_t end = begin + length;
  return !(end + 1 < plain.size() && plain[end] == '.' && IsDigit(plain[end + 1]));
}

// True when the address's domain goes on at plain[pos] (qq.com.cn, qq.comx); a full stop
// that ends a sentence does not count.
bool DomainGoesOn(std::string_view plain, size_t pos) {
  if (pos >= plain.size()) return false;
  const char c = plain[pos];
  if (c == '.') return pos + 1 < plain.size() && IsAlnum(plain[pos + 1]);
  return IsAlnum(c) || c == '-' || c == '_';
}

void AcceptQQ(std::string_view number, TResultList& qqNumbers, std::string_view source) {
  qqNumbers.AcceptCandidate(number, QQMailSuffix, source);
}

// The numbers after a label ending at plain[pos]: blanks, colons, 号 and tags may stand
// between; further numbers may follow after ",", "/" or ";".
void TakeLabelledNumbers(std::string_view plain, size_t pos, TResultList& qqNumbers,
                         std::string_view source) {
  const size_t fillerEnd = std::min(plain.size(), pos + kMaxFiller);
  while (pos < fillerEnd) {
    if (IsFiller(plain[pos])) {
      ++pos;
    } else if (plain[pos] == '<') {
      const size_t close = plain.substr(pos, kMaxTag).find('>');
      if (close == std::string_view::npos) return;
      pos += close + 1;
    } else {
      break;
    }
  }
  for (;;) {
    size_t length;
    if (pos >= plain.size() || !QQNumberAt(plain, pos, length)) return;
    AcceptQQ(plain.substr(pos, length), qqNumbers, source);
    pos += length;
    while (pos < plain.size() && (plain[pos] == ' ' || plain[pos] == kSoftSpace)) ++pos;
    if (pos >= plain.size() || (plain[pos] != ',' && plain[pos] != '/' && plain[pos] != ';')) {
      return;
    }
    ++pos;
    while (pos < plain.size() && (plain[pos] == ' ' || plain[pos] == kSoftSpace)) ++pos;
  }
}

// The first "qq" or "uin=", in any case: every form holds one (QQ, qq号, uin=, @qq.com),
// and most lines hold none.
size_t FirstQQAnchor(std::string_view plain) {
  size_t first = std::string_view::npos;
  for (char q : {'q', 'Q'}) {
    for (size_t at = plain.find(q); at < first && at + 1 < plain.size();
         at = plain.find(q, at + 1)) {
      if (AsciiLower(plain[at + 1]) == 'q') {
        first = at;
        break;
      }
    }
  }
  for (size_t equals = plain.find('=', 3); equals != std::string_view::npos && equals - 3 < first;
       equals = plain.find('=', equals + 1)) {
    if (StartsWithFolded(plain.substr(equals - 3), "uin")) {
      first = equals - 3;
      break;
    }
  }
  return first;
}

}  // namespace

void ExtractQQNumbersExtended(std::string_view plain, TResultList& qqNumbers,
                              std::string_view source) {
  const size_t first = FirstQQAnchor(plain);
  if (first == std::string_view::npos) return;
  // Nothing before it can start a finding but the digits of a NUMBER@qq.com.
  size_t start = first;
  if (start > 0 && plain[start - 1] == '@') {
    --start;
    while (start > 0 && IsDigit(plain[start - 1])) --start;
  }
  for (size_t i = start; i < plain.size(); ++i) {
    const char c = AsciiLower(plain[i]);
    const bool wordStart = i == 0 || !IsLetter(plain[i - 1]);
    if (c == 'q' && wordStart && i + 1 < plain.size() && AsciiLower(plain[i + 1]) == 'q' &&
        (i + 2 >= plain.size() || !IsLetter(plain[i + 2]))) {
      TakeLabelledNumbers(plain, i + 2, qqNumbers, source);
      ++i;
    } else if (c == 'u' && wordStart && StartsWithFolded(plain.substr(i), "uin=")) {
      TakeLabelledNumbers(plain, i + 4, qqNumbers, source);
    } else if (IsDigit(c) && (i == 0 || !IsLocal(plain[i - 1]))) {
      size_t length;
      if (QQNumberAt(plain, i, length) && StartsWithFolded(plain.substr(i + length), "@qq.com") &&
          !DomainGoesOn(plain, i + length + 7)) {
        AcceptQQ(plain.substr(i, length), qqNumbers, source);
      }
      i += DigitRun(plain, i) - 1;
    }
  }
}

}  // namespace qm
