#include "contacts/wechat_ids.h"

#include <algorithm>
#include <string>

#include "contacts/labelled_text.h"

namespace qm {
namespace {

using namespace labelled;

constexpr size_t kMaxFiller = 64;
constexpr size_t kMaxTag = 256;

bool IsIdChar(char c) { return IsDigit(c) || IsLower(c) || c == '_' || c == '-'; }

// A mobile number at text[pos], after +86, (+86) or 0086 or not, grouped 3-4-4 or not: its
// 11 digits and where it ends.
bool MobileAt(std::string_view text, size_t pos, std::string& digits, size_t& end) {
  size_t i = pos;
  const std::string_view rest = text.substr(i);
  for (std::string_view prefix : {"(+86)", "+86", "0086"}) {
    if (rest.starts_with(prefix)) {
      i += prefix.size();
      while (i < text.size() && i - pos < 8 && (text[i] == ' ' || text[i] == '-')) ++i;
      break;
    }
  }
  digits.clear();
  while (i < text.size() && IsDigit(text[i]) && digits.size() < 12) {
    digits += text[i++];
    // One blank or dash between groups.
    if (i + 1 < text.size() && (text[i] == ' ' || text[i] == '-') && IsDigit(text[i + 1]) &&
        (digits.size() == 3 || digits.size() == 7)) {
      ++i;
    }
  }
  if (digits.size() != 11 || digits[0] != '1' || digits[1] < '3') return false;
  if (i < text.size() && (IsIdChar(text[i]) || text[i] == '@' || text[i] == '.')) {
    if (text[i] != '.' || (i + 1 < text.size() && IsIdChar(text[i + 1]))) return false;
  }
  end = i;
  return true;
}

// An ID at text[pos]: a letter, then 5 to 19 letters, digits, "_" or "-"; not the start of
// an address, a domain or a link.
bool IdAt(std::string_view text, size_t pos, size_t& end) {
  if (pos >= text.size() || !IsLower(text[pos])) return false;
  size_t i = pos;
  while (i < text.size() && IsIdChar(text[i])) ++i;
  const size_t length = i - pos;
  if (length < 6 || length > 20) return false;
  if (i < text.size()) {
    const char c = text[i];
    const bool more = i + 1 < text.size() && (IsIdChar(text[i + 1]) || text[i + 1] == '/');
    if (c == '@' || c == '=' || c == '(' || ((c == '.' || c == ':') && more)) return false;
  }
  end = i;
  return true;
}

// "同号" after the label: the ID is the mobile number the page gives beside it.
bool SameAsNumberAt(std::string_view text, size_t pos) {
  return pos + 1 < text.size() && static_cast<unsigned char>(text[pos]) == kTong &&
         static_cast<unsigned char>(text[pos + 1]) == kHao;
}

// The mobile number that ends right before a label at text[labelBegin], brackets and
// blanks between.
bool MobileBefore(std::string_view text, size_t labelBegin, std::string& digits) {
  size_t i = labelBegin;
  while (i > 0 && labelBegin - i < 4 &&
         (text[i - 1] == ' ' || text[i - 1] == '(' || text[i - 1] == '/' || text[i - 1] == ',')) {
    --i;
  }
  const size_t numberEnd = i;
  while (i > 0 && numberEnd - i < 18 &&
         (IsDigit(text[i - 1]) || text[i - 1] == ' ' || text[i - 1] == '-' || text[i - 1] == '+')) {
    --i;
  }
  while (i < numberEnd && !IsDigit(text[i]) && text[i] != '+') ++i;
  if (i == numberEnd || (i > 0 && (IsIdChar(text[i - 1]) || text[i - 1] == '.'))) return false;
  size_t end;
  if (!MobileAt(text, i, digits, end)) return false;
  while (end < numberEnd && text[end] == ' ') ++end;
  return end == numberEnd;
}

// The ID after a label at [labelBegin, labelEnd), if any; where the scan goes on.
size_t TakeId(std::string_view text, size_t labelBegin, size_t labelEnd, TResultList& wechatIds,
              std::string_view source) {
  size_t pos = labelEnd;
  bool colon = false, sameAsNumber = false, crossedTag = false;
  const size_t limit = std::min(text.size(), pos + kMaxFiller);
  while (pos < limit) {
    const char c = text[pos];
    const auto u = static_cast<unsigned char>(c);
    TLabelKind kind;
    size_t end;
    if (c == ':' || c == '=') {
      colon = true;
      ++pos;
    } else if (c == ' ' || c == '(' || c == ')' || c == '/' || c == '|' || c == ',' ||
               u == kHao || u == kMa) {
      ++pos;
    } else if (SameAsNumberAt(text, pos)) {
      sameAsNumber = true;
      pos += 2;
    } else if (text.substr(pos).starts_with("id") &&
               (pos + 2 >= text.size() || !IsIdChar(text[pos + 2]))) {
      pos += 2;
    } else if (c == '<') {
      const size_t close = text.substr(pos, kMaxTag).find('>');
      if (close == std::string_view::npos) break;
      pos += close + 1;
      crossedTag = true;
    } else if (!crossedTag && !sameAsNumber && LabelAt(text, pos, kind, end)) {
      // 手机/微信: labels side by side share the value; one in the next cell or paragraph,
      // or after 同号, has a value of its own.
      pos = end;
    } else {
      break;
    }
  }
  std::string digits;
  size_t end;
  // A label of ASCII letters only is a word of markup or prose without a colon ("wx.config").
  if (colon || !AsciiLabel(text, labelBegin, labelEnd)) {
    if (MobileAt(text, pos, digits, end)) {
      wechatIds.AcceptCandidate(digits, {}, source);
      return end;
    }
    if (IdAt(text, pos, end)) {
      wechatIds.AcceptCandidate(text.substr(pos, end - pos), {}, source);
      return end;
    }
  }
  if (sameAsNumber && MobileBefore(text, labelBegin, digits)) {
    wechatIds.AcceptCandidate(digits, {}, source);
  }
  return labelEnd;
}

}  // namespace

void ExtractWeChatIds(std::string_view text, TResultList& wechatIds, std::string_view source) {
  size_t i = 0;
  while (i < text.size()) {
    TLabelKind kind;
    size_t end;
    if (MayStartWeChatLabel(text[i]) && LabelAt(text, i, kind, end)) {
      i = kind == TLabelKind::WeChat ? TakeId(text, i, end, wechatIds, source) : end;
    } else {
      ++i;
    }
  }
}

}  // namespace qm
