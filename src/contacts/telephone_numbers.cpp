#include "contacts/telephone_numbers.h"

#include <algorithm>
#include <array>

#include "contacts/labelled_text.h"

namespace qm {
namespace {

using namespace labelled;

constexpr size_t kMaxFiller = 64;
constexpr size_t kMaxTag = 256;
constexpr size_t kMaxGroups = 5;

bool IsIdChar(char c) { return IsDigit(c) || IsLower(c) || c == '_'; }

// The characters before a number that make it part of something else: a longer number, a
// word, a decimal, a path or a query. Without a label, also the characters that introduce
// numbers of other kinds (ICP备, 许可证, 第...号, 编号, 订单).
bool StartsApart(std::string_view text, size_t pos, bool labelled) {
  if (pos == 0) return true;
  const char c = text[pos - 1];
  if (IsIdChar(c) || c == '.' || c == '/' || c == '\\' || c == '%' || c == '#' || c == '&' ||
      c == '@' || c == '+') {
    return false;
  }
  if (c == '-' && pos >= 2 && IsDigit(text[pos - 2])) return false;
  if (labelled) return true;
  const auto u = static_cast<unsigned char>(c);
  return u != kBei && u != kZheng && u != kDi && u != kBian && u != kDan && u != kHao &&
         c != '=' && c != '?';
}

// What follows a number that makes it part of something else.
bool EndsApart(std::string_view text, size_t end, bool labelled) {
  if (end >= text.size()) return true;
  const char c = text[end];
  if (IsIdChar(c) || c == '@' || c == '%') return false;
  if ((c == '.' || c == '-' || c == '/') && end + 1 < text.size() && IsIdChar(text[end + 1])) {
    return false;
  }
  return labelled || static_cast<unsigned char>(c) != kHao;
}

struct Group {
  size_t Begin, End;
  size_t Length() const { return End - Begin; }
};

// A gap between two groups of digits: blanks with at most one dash among them, at most
// three characters.
size_t GapAt(std::string_view text, size_t pos) {
  size_t i = pos, dashes = 0;
  while (i < text.size() && i - pos < 3 && (text[i] == ' ' || text[i] == '-')) {
    dashes += text[i] == '-';
    ++i;
  }
  if (i == pos || dashes > 1 || i >= text.size() || !IsDigit(text[i])) return 0;
  return i - pos;
}

size_t DigitRunEnd(std::string_view text, size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos;
}

struct Reading {
  std::array<Group, kMaxGroups> Groups;
  size_t Count = 0;
  bool International = false;  // after +86, (+86) or 0086
  bool Bracketed = false;       // the first group stood in brackets
};

// The groups of digits at text[pos]: an international prefix, an area code in brackets,
// then groups with gaps between them. False when no digit follows.
bool ReadGroups(std::string_view text, size_t pos, Reading& r, size_t& begin) {
  size_t i = pos;
  bool open = false;
  if (i < text.size() && text[i] == '(') {
    open = true;
    ++i;
  }
  const std::string_view rest = text.substr(i);
  size_t prefix = 0;
  if (rest.starts_with("+86")) {
    prefix = 3;
  } else if (rest.starts_with("0086") && rest.size() > 4 && !IsDigit(rest[4])) {
    prefix = 4;
  }
  if (prefix != 0) {
    r.International = true;
    i += prefix;
    if (open) {
      if (i >= text.size() || text[i] != ')') return false;
      open = false;
      ++i;
    }
    while (i < text.size() && i - pos < 12 && (text[i] == ' ' || text[i] == '-')) ++i;
    if (text.substr(i).starts_with("(0)")) i += 3;
    if (i < text.size() && text[i] == '(') {
      open = true;
      ++i;
    }
  }
  if (i >= text.size() || !IsDigit(text[i])) return false;
  begin = i;
  while (r.Count < kMaxGroups) {
    const size_t end = DigitRunEnd(text, i);
    r.Groups[r.Count++] = {i, end};
    i = end;
    if (open) {
      // Only the first group stands in brackets.
      if (r.Count != 1 || i >= text.size() || text[i] != ')') return false;
      open = false;
      r.Bracketed = true;
      ++i;
      if (i < text.size() && IsDigit(text[i])) continue;
    }
    const size_t gap = GapAt(text, i);
    if (gap == 0) break;
    i += gap;
  }
  return !open;
}

std::string Digits(std::string_view text, const Reading& r, size_t count) {
  std::string digits;
  for (size_t g = 0; g < count; ++g) {
    digits.append(text.substr(r.Groups[g].Begin, r.Groups[g].Length()));
  }
  return digits;
}

// A service number (400, 800): the first groups holding ten digits.
bool ServiceNumber(std::string_view text, const Reading& r, bool labelled, std::string& row,
                   size_t& end) {
  if (r.International || r.Bracketed || r.Groups[0].Length() < 3) return false;
  size_t total = 0, count = 0;
  while (count < r.Count && total < 10) total += r.Groups[count++].Length();
  if (total != 10) return false;
  const std::string digits = Digits(text, r, count);
  if (!digits.starts_with("400") && !digits.starts_with("800")) return false;
  // Ten digits in a row may be anything; in groups, or after a label, they are this.
  if (count == 1 && !labelled) return false;
  row = digits.substr(0, 3) + "-" + digits.substr(3, 3) + "-" + digits.substr(6);
  end = r.Groups[count - 1].End;
  return true;
}

// The length of the area code at the start of `digits` (without its 0): 10 and 20 to 29
// are two digits long, 3xx to 9xx three; 0 when it is none.
size_t AreaCodeLength(std::string_view digits) {
  if (digits.size() < 2) return 0;
  if (digits[0] == '1') return digits[1] == '0' ? 2 : 0;
  if (digits[0] == '2') return 2;
  return digits[0] >= '3' && digits[0] <= '9' && digits.size() >= 3 ? 3 : 0;
}

bool SubscriberFits(std::string_view subscriber, size_t areaLength) {
  if (subscriber.empty() || subscriber[0] == '0') return false;
  return subscriber.size() == 8 || (subscriber.size() == 7 && areaLength == 3);
}

// An extension after text[end]: "-801", "转801", "分机801", "ext. 801", "x801".
size_t Extension(std::string_view text, size_t end, std::string& digits) {
  const auto at = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  size_t i = end;
  while (at(i) == ' ' && i - end < 2) ++i;
  const bool dash = i == end && at(i) == '-';
  if (i == end && (dash || at(i) == 'x' || at(i) == '#')) {
    ++i;
  } else if (at(i) == kZhuan) {
    ++i;
  } else if (at(i) == kFen && at(i + 1) == kJi) {
    i += 2;
  } else if (text.substr(i).starts_with("ext")) {
    i += 3;
    if (at(i) == '.') ++i;
  } else {
    return end;
  }
  if (!dash) {
    while ((at(i) == ' ' || at(i) == ':') && i - end < 12) ++i;
  }
  const size_t digitsEnd = DigitRunEnd(text, i);
  if (digitsEnd == i || digitsEnd - i > 5) return end;
  digits = text.substr(i, digitsEnd - i);
  return digitsEnd;
}

// A landline: the area code as its own group (or the first group holding area code and
// number), then the number in one group or two.
bool Landline(std::string_view text, const Reading& r, bool labelled, std::string& row,
              size_t& end) {
  const std::string_view first = text.substr(r.Groups[0].Begin, r.Groups[0].Length());
  // The trunk prefix 0 is written in the country, and by some after +86 too.
  const bool trunk = !first.empty() && first[0] == '0';
  if (!trunk && !r.International) return false;
  const std::string_view area = trunk ? first.substr(1) : first;
  const size_t areaLength = AreaCodeLength(area);
  if (areaLength == 0) return false;
  std::string subscriber;
  size_t last;
  if (area.size() == areaLength) {
    if (r.Count < 2) return false;
    last = 1;
    subscriber = text.substr(r.Groups[1].Begin, r.Groups[1].Length());
    const auto fourAtMost = [&](size_t g) {
      return r.Groups[g].Length() >= 3 && r.Groups[g].Length() <= 4;
    };
    if (!SubscriberFits(subscriber, areaLength) && r.Count >= 3 && fourAtMost(1) &&
        fourAtMost(2)) {
      last = 2;
      subscriber += text.substr(r.Groups[2].Begin, r.Groups[2].Length());
    }
  } else {
    // Area code and number in one run: only after a label, +86 or brackets can it be told
    // from other long numbers.
    if (!labelled && !r.International) return false;
    last = 0;
    subscriber = area.substr(areaLength);
  }
  if (!SubscriberFits(subscriber, areaLength)) return false;
  row = "0" + std::string(area.substr(0, areaLength)) + "-" + subscriber;
  end = r.Groups[last].End;
  std::string extension;
  if (const size_t after = Extension(text, end, extension); after != end) {
    row += "-" + extension;
    end = after;
  }
  return true;
}

// The number at text[pos], if any: its row and where it ends.
bool TelephoneAt(std::string_view text, size_t pos, bool labelled, std::string& row,
                 size_t& end) {
  if (!StartsApart(text, pos, labelled)) return false;
  Reading r;
  size_t begin;
  if (!ReadGroups(text, pos, r, begin)) return false;
  if (!ServiceNumber(text, r, labelled, row, end) && !Landline(text, r, labelled, row, end)) {
    return false;
  }
  return EndsApart(text, end, labelled);
}

bool IsFiller(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == ' ' || c == ':' || c == '=' || c == '.' || c == '/' || c == '|' || c == ',' ||
         c == '(' || c == ')' || c == '-' || u == kHao || u == kMa;
}

// The numbers after a label ending at text[pos]: fillers, tags and further labels (电话/传真)
// may stand between; more numbers may follow, set apart by blanks, commas, slashes or
// semicolons. Returns where the scan goes on.
size_t TakeLabelledNumbers(std::string_view text, size_t pos, TResultList& telephones,
                           std::string_view source) {
  std::string row;
  size_t end;
  const size_t limit = std::min(text.size(), pos + kMaxFiller);
  bool crossedTag = false;
  while (pos < limit && !TelephoneAt(text, pos, true, row, end)) {
    TLabelKind kind;
    size_t labelEnd;
    if (LabelAt(text, pos, kind, labelEnd)) {
      // "客服QQ：..." gives a QQ number; a label in the next cell or paragraph is its own.
      if (kind == TLabelKind::QQ || crossedTag) return pos;
      pos = labelEnd;
    } else if (text[pos] == '<') {
      const size_t close = text.substr(pos, kMaxTag).find('>');
      if (close == std::string_view::npos) return pos + 1;
      pos += close + 1;
      crossedTag = true;
    } else if (IsFiller(text[pos])) {
      ++pos;
    } else {
      return pos;
    }
  }
  if (pos >= limit) return pos;
  for (;;) {
    telephones.AcceptCandidate(row, {}, source);
    pos = end;
    size_t next = pos;
    while (next < text.size() && next - pos < 4 &&
           (text[next] == ' ' || text[next] == ',' || text[next] == '/' || text[next] == ';' ||
            text[next] == '|')) {
      ++next;
    }
    if (next == pos || !TelephoneAt(text, next, true, row, end)) return pos;
  }
}

}  // namespace

void ExtractTelephoneNumbers(std::string_view text, TResultList& telephones,
                             std::string_view source) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (!IsDigit(c) && c != '+' && c != '(' && !MayStartLabel(c)) {
      ++i;
      continue;
    }
    TLabelKind kind;
    size_t labelEnd;
    if (LabelAt(text, i, kind, labelEnd)) {
      i = kind == TLabelKind::Telephone ? TakeLabelledNumbers(text, labelEnd, telephones, source)
                                        : labelEnd;
      continue;
    }
    if (IsDigit(c) || c == '+' || c == '(') {
      std::string row;
      size_t end;
      if (TelephoneAt(text, i, false, row, end)) {
        telephones.AcceptCandidate(row, {}, source);
        i = end;
        continue;
      }
      if (IsDigit(c)) {
        i = DigitRunEnd(text, i);
        continue;
      }
    }
    ++i;
  }
}

std::string CanonicalTelephone(std::string_view text, bool labelled) {
  std::string row;
  size_t end;
  return TelephoneAt(text, 0, labelled, row, end) ? row : std::string();
}

}  // namespace qm
