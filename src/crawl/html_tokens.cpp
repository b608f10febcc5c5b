#include "crawl/html_tokens.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "text/trim.h"

namespace qm {
namespace {

constexpr size_t kNone = std::string_view::npos;

// What the tag reader asks of a byte.
enum : uint8_t {
  kBlank = 1,
  kEndsTagName = 2,        // a blank, "/" or ">"
  kEndsAttributeName = 4,  // a blank, "/", ">" or "="
  kEndsUnquotedValue = 8,  // a blank or ">"
  kLetter = 16,
};

constexpr std::array<uint8_t, 256> kByteClasses = [] {
  std::array<uint8_t, 256> classes{};
  // Carriage returns count too: a browser has made every CR LF and CR an LF before this.
  for (const char blank : {' ', '\t', '\n', '\f', '\r'}) {
    classes[static_cast<unsigned char>(blank)] =
        kBlank | kEndsTagName | kEndsAttributeName | kEndsUnquotedValue;
  }
  classes['/'] = kEndsTagName | kEndsAttributeName;
  classes['>'] = kEndsTagName | kEndsAttributeName | kEndsUnquotedValue;
  classes['='] = kEndsAttributeName;
  for (char c = 'a'; c <= 'z'; ++c) {
    classes[static_cast<unsigned char>(c)] = kLetter;
    classes[static_cast<unsigned char>(c - 'a' + 'A')] = kLetter;
  }
  return classes;
}();

constexpr std::array<char, 256> kLowerCase = [] {
  std::array<char, 256> lower{};
  for (size_t c = 0; c < lower.size(); ++c) lower[c] = AsciiLower(static_cast<char>(c));
  return lower;
}();

bool IsAny(char c, uint8_t classes) {
  return (kByteClasses[static_cast<unsigned char>(c)] & classes) != 0;
}

bool IsHtmlSpace(char c) {
  return IsAny(c, kBlank);
}

bool IsAsciiAlpha(char c) {
  return IsAny(c, kLetter);
}

bool EndsTagName(char c) {
  return IsAny(c, kEndsTagName);
}

// Where the run from `at` of bytes of none of `classes` ends.
size_t RunEnd(std::string_view html, size_t at, uint8_t classes) {
  while (at < html.size() && !IsAny(html[at], classes)) ++at;
  return at;
}

// The first `c` from `from`, or the end of `text`. Most spans between tags and quotes are
// a few bytes, too short to be worth a call to memchr: they are read eight bytes at a time.
inline size_t FindByte(std::string_view text, char c, size_t from) {
  const char* const data = text.data();
  const size_t size = text.size();
  const size_t shortEnd = std::min(size, from + 64);
  size_t at = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(c);
    for (; at + 8 <= shortEnd; at += 8) {
      uint64_t word = 0;
      std::memcpy(&word, data + at, 8);
      // The lowest byte that is 0 in `word ^ pattern` has its top bit set here.
      const uint64_t differences = word ^ pattern;
      const uint64_t zeros = (differences - kOnes) & ~differences & (kOnes << 7);
      if (zeros != 0) return at + static_cast<size_t>(std::countr_zero(zeros)) / 8;
    }
  }
  for (; at < shortEnd; ++at) {
    if (data[at] == c) return at;
  }
  if (at >= size) return size;
  const void* found = std::memchr(data + at, c, size - at);
  return found == nullptr ? size : static_cast<size_t>(static_cast<const char*>(found) - data);
}

// A "<" at `at` that a letter, "!", "?" or "/" follows; any other is text.
bool StartsMarkup(std::string_view html, size_t at) {
  if (at + 1 >= html.size()) return false;
  const char next = html[at + 1];
  return IsAsciiAlpha(next) || next == '!' || next == '?' || (next == '/' && at + 2 < html.size());
}

// The first "<" from `from` that starts markup, or the page's end.
size_t MarkupStart(std::string_view html, size_t from) {
  size_t at = FindByte(html, '<', from);
  while (at < html.size() && !StartsMarkup(html, at)) at = FindByte(html, '<', at + 1);
  return at;
}

// The end of the run of ASCII letters from `at`.
size_t LettersEnd(std::string_view html, size_t at) {
  while (at < html.size() && IsAsciiAlpha(html[at])) ++at;
  return at;
}

// "</name" and a blank, "/" or ">" at `at`: the end tag that ends raw text.
bool IsEndTagOf(std::string_view html, size_t at, std::string_view name) {
  const size_t nameEnd = at + 2 + name.size();
  return nameEnd < html.size() && html[at + 1] == '/' &&
         EqualsAsciiLower(html.substr(at + 2, name.size()), name) && EndsTagName(html[nameEnd]);
}

size_t FindEndTag(std::string_view html, size_t from, std::string_view name) {
  for (size_t at = html.find('<', from); at != kNone; at = html.find('<', at + 1)) {
    if (IsEndTagOf(html, at, name)) return at;
  }
  return html.size();
}

// Where a script's text ends. Inside "<!--" a "<script" begins a stretch in which
// "</script>" does not end it, up to the next "</script>" or "-->", as browsers read it.
size_t FindScriptEnd(std::string_view html, size_t from) {
  enum class EState {
    Data,
    Escaped,
    EscapedDash,
    EscapedDashDash,
    Double,
    DoubleDash,
    DoubleDashDash
  };
  EState state = EState::Data;
  const size_t size = html.size();
  size_t at = from;
  while (at < size) {
    const char c = html[at];
    switch (state) {
      case EState::Data: {
        const size_t open = html.find('<', at);
        if (open == kNone) return size;
        if (IsEndTagOf(html, open, "script")) return open;
        if (html.compare(open, 4, "<!--") == 0) {
          state = EState::EscapedDashDash;
          at = open + 4;
        } else {
          at = open + 1;
        }
        break;
      }
      case EState::Escaped:
      case EState::EscapedDash:
      case EState::EscapedDashDash:
        if (c == '-') {
          state = state == EState::Escaped ? EState::EscapedDash : EState::EscapedDashDash;
          ++at;
        } else if (c == '<') {
          if (IsEndTagOf(html, at, "script")) return at;
          const size_t nameEnd = LettersEnd(html, at + 1);
          if (nameEnd < size && EndsTagName(html[nameEnd]) &&
              EqualsAsciiLower(html.substr(at + 1, nameEnd - at - 1), "script")) {
            state = EState::Double;
            at = nameEnd + 1;
          } else {
            state = EState::Escaped;
            at = std::max(nameEnd, at + 1);
          }
        } else {
          state = c == '>' && state == EState::EscapedDashDash ? EState::Data : EState::Escaped;
          ++at;
        }
        break;
      case EState::Double:
      case EState::DoubleDash:
      case EState::DoubleDashDash:
        if (c == '-') {
          state = state == EState::Double ? EState::DoubleDash : EState::DoubleDashDash;
          ++at;
        } else if (c == '<' && at + 1 < size && html[at + 1] == '/') {
          const size_t nameEnd = LettersEnd(html, at + 2);
          if (nameEnd < size && EndsTagName(html[nameEnd]) &&
              EqualsAsciiLower(html.substr(at + 2, nameEnd - at - 2), "script")) {
            state = EState::Escaped;
            at = nameEnd + 1;
          } else {
            state = EState::Double;
            at = nameEnd;
          }
        } else {
          state = c == '>' && state == EState::DoubleDashDash ? EState::Data : EState::Double;
          ++at;
        }
        break;
    }
  }
  return size;
}

// Past the comment whose text starts at `from`: "-->", "--!>", or at once ">" or "->".
size_t CommentEnd(std::string_view html, size_t from) {
  const size_t size = html.size();
  if (from < size && html[from] == '>') return from + 1;
  if (from + 1 < size && html[from] == '-' && html[from + 1] == '>') return from + 2;
  for (size_t at = from;;) {
    const size_t dashes = html.find("--", at);
    if (dashes == kNone) return size;
    at = dashes + 2;
    while (at < size && html[at] == '-') ++at;
    if (at < size && html[at] == '>') return at + 1;
    if (at + 1 < size && html[at] == '!' && html[at + 1] == '>') return at + 2;
  }
}

// Past the ">" that ends a bogus comment or a doctype.
size_t BogusCommentEnd(std::string_view html, size_t from) {
  const size_t close = html.find('>', from);
  return close == kNone ? html.size() : close + 1;
}

// A name of up to eight bytes as a number, to compare tag names at once.
uint64_t NameKey(std::string_view name) {
  uint64_t key = 0;
  for (size_t i = 0; i < std::min<size_t>(name.size(), 8); ++i) {
    key |= uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
  }
  return key;
}

// One of 64 bits for a name's key: most tags' bits are none of the few wanted tags'.
uint64_t KeyBit(uint64_t key) {
  return uint64_t{1} << ((key * 0x9E3779B97F4A7C15) >> 58);
}

enum class ERawKind { None, RcData, RawText, Script, PlainText };

ERawKind RawKindOf(std::string_view tagName) {
  switch (tagName.size()) {
    case 3:
      return tagName == "xmp" ? ERawKind::RawText : ERawKind::None;
    case 5:
      if (tagName == "title") return ERawKind::RcData;
      return tagName == "style" ? ERawKind::RawText : ERawKind::None;
    case 6:
      if (tagName == "script") return ERawKind::Script;
      return tagName == "iframe" ? ERawKind::RawText : ERawKind::None;
    case 7:
      return tagName == "noembed" ? ERawKind::RawText : ERawKind::None;
    case 8:
      if (tagName == "textarea") return ERawKind::RcData;
      return tagName == "noframes" ? ERawKind::RawText : ERawKind::None;
    case 9:
      return tagName == "plaintext" ? ERawKind::PlainText : ERawKind::None;
    default:
      return ERawKind::None;
  }
}

}  // namespace

THtmlTokenizer::THtmlTokenizer(std::string_view html,
                               std::initializer_list<std::string_view> keptAttributes,
                               std::initializer_list<std::string_view> wantedTags)
    : Html(html),
      KeptCount(std::min(keptAttributes.size(), kMaxKeptAttributes)),
      WantedCount(std::min(wantedTags.size(), kMaxWantedTags)) {
  std::copy_n(keptAttributes.begin(), KeptCount, KeptNames.begin());
  std::copy_n(wantedTags.begin(), WantedCount, WantedTags.begin());
  for (size_t i = 0; i < WantedCount; ++i) {
    WantedKeys[i] = NameKey(WantedTags[i]);
    WantedKeyBits |= KeyBit(WantedKeys[i]);
  }
}

// Each kind of token has a reader of its own, so that the most frequent, short texts and
// tags, cost little more than their reading.
inline EHtmlToken THtmlTokenizer::ReadToken() {
  if (Mode != EMode::Data) return ReadRawText();
  Text_ = {};
  const size_t open = Position_;
  const size_t size = Html.size();
  if (open >= size) return EHtmlToken::End;
  // A "<" that a letter, "!", "?" or "/" follows starts markup; any other is text.
  if (Html[open] == '<' && open + 1 < size) {
    const char next = Html[open + 1];
    if (IsAsciiAlpha(next)) return ReadTag(open + 1, false);
    if (next == '/' && open + 2 < size) {
      // "</>", "</ x>" and the like end at the first ">".
      return IsAsciiAlpha(Html[open + 2]) ? ReadTag(open + 2, true) : ReadOther(open + 2);
    }
    if (next == '!' && Html.compare(open, 4, "<!--") == 0) return ReadComment(open + 4);
    // "<!DOCTYPE ...>", "<?...>".
    if (next == '!' || next == '?') return ReadOther(open + 2);
  }
  return ReadText(open);
}

EHtmlToken THtmlTokenizer::Next() {
  return ReadToken();
}

EHtmlToken THtmlTokenizer::NextWanted(bool withText, size_t until) {
  for (;;) {
    const EHtmlToken token = ReadToken();
    switch (token) {
      case EHtmlToken::Text:
        if (withText) return token;
        break;
      case EHtmlToken::StartTag:
      case EHtmlToken::EndTag:
        if (WantedTag_ != kOtherTag) return token;
        break;
      case EHtmlToken::RawText:
      case EHtmlToken::Other:
        break;
      case EHtmlToken::End:
        return token;
    }
    if (Position_ >= until) return EHtmlToken::Other;
  }
}

EHtmlToken THtmlTokenizer::ReadRawText() {
  if (Position_ < RawTextEnd) {
    Text_ = Html.substr(Position_, RawTextEnd - Position_);
    Position_ = RawTextEnd;
    return Mode == EMode::RcData ? EHtmlToken::Text : EHtmlToken::RawText;
  }
  Mode = EMode::Data;
  return ReadToken();
}

EHtmlToken THtmlTokenizer::ReadText(size_t start) {
  const size_t end = MarkupStart(Html, start + 1);
  Text_ = Html.substr(start, end - start);
  Position_ = end;
  return EHtmlToken::Text;
}

EHtmlToken THtmlTokenizer::ReadComment(size_t textStart) {
  Position_ = CommentEnd(Html, textStart);
  return EHtmlToken::Other;
}

EHtmlToken THtmlTokenizer::ReadOther(size_t from) {
  Position_ = BogusCommentEnd(Html, from);
  return EHtmlToken::Other;
}

// Which wanted tag the name in TagName_ is, given its NameKey.
inline size_t THtmlTokenizer::FindWantedTag(uint64_t key) const {
  if (TagNameLength == 0 || TagNameLength > kMaxWantedTagLength) return kOtherTag;
  if ((WantedKeyBits & KeyBit(key)) == 0) return kOtherTag;
  for (size_t i = 0; i < WantedCount; ++i) {
    if (WantedKeys[i] == key && WantedTags[i].size() == TagNameLength) return i;
  }
  return kOtherTag;
}

inline void THtmlTokenizer::KeepAttribute(std::string_view name, std::string_view value) {
  const auto sameLetter = [](char written, char lower) { return AsciiLower(written) == lower; };
  for (size_t i = 0; i < KeptCount; ++i) {
    if ((ValuesSet >> i & 1) == 0 && name.size() == KeptNames[i].size() &&
        std::equal(name.begin(), name.end(), KeptNames[i].begin(), sameLetter)) {
      Values[i] = value;
      ValuesSet |= 1u << i;
      return;
    }
  }
}

// After the ">" at `close`: the raw text a start tag may begin.
inline EHtmlToken THtmlTokenizer::EndOfTag(size_t close, bool endTag) {
  Position_ = close + 1;
  if (endTag) return EHtmlToken::EndTag;
  return RawKindOf(TagName()) == ERawKind::None ? EHtmlToken::StartTag : StartRawText();
}

EHtmlToken THtmlTokenizer::StartRawText() {
  switch (RawKindOf(TagName())) {
    case ERawKind::None:
      break;
    case ERawKind::Script:
      Mode = EMode::RawText;
      RawTextEnd = FindScriptEnd(Html, Position_);
      break;
    case ERawKind::RcData:
      Mode = EMode::RcData;
      RawTextEnd = FindEndTag(Html, Position_, TagName());
      break;
    case ERawKind::RawText:
      Mode = EMode::RawText;
      RawTextEnd = FindEndTag(Html, Position_, TagName());
      break;
    case ERawKind::PlainText:
      Mode = EMode::RawText;
      RawTextEnd = Html.size();
      break;
  }
  return EHtmlToken::StartTag;
}

// Reads the attributes from `at` to the ">" that ends the tag, keeping those asked for.
EHtmlToken THtmlTokenizer::ReadAttributes(size_t at, bool endTag) {
  const std::string_view html = Html;
  const size_t size = html.size();
  const bool keep = KeptCount > 0 && (WantedCount == 0 || WantedTag_ != kOtherTag);
  bool selfClosing = false;
  for (;;) {
    while (at < size && IsHtmlSpace(html[at])) ++at;
    if (at >= size) break;
    const char c = html[at];
    if (c == '/') {
      selfClosing = at + 1 < size && html[at + 1] == '>';
      ++at;
      continue;
    }
    if (c == '>') {
      SelfClosing_ = selfClosing;
      return EndOfTag(at, endTag);
    }
    selfClosing = false;
    // An attribute's name may begin with "=".
    const size_t attributeStart = at;
    at = RunEnd(html, at + 1, kEndsAttributeName);
    const std::string_view name = html.substr(attributeStart, at - attributeStart);
    while (at < size && IsHtmlSpace(html[at])) ++at;
    if (at >= size || html[at] != '=') {
      if (keep) KeepAttribute(name, {});
      continue;
    }
    ++at;
    while (at < size && IsHtmlSpace(html[at])) ++at;
    if (at >= size) break;
    if (html[at] == '"' || html[at] == '\'') {
      const size_t close = FindByte(html, html[at], at + 1);
      if (close >= size) break;
      if (keep) KeepAttribute(name, html.substr(at + 1, close - at - 1));
      at = close + 1;
    } else {
      // Quotes, "<" and "=" belong to an unquoted value.
      const size_t valueStart = at;
      at = RunEnd(html, at, kEndsUnquotedValue);
      if (keep) KeepAttribute(name, html.substr(valueStart, at - valueStart));
    }
  }
  // A tag the page never closes is no tag.
  Position_ = size;
  return EHtmlToken::End;
}

EHtmlToken THtmlTokenizer::ReadTag(size_t nameStart, bool endTag) {
  // Locals, not members, so that storing the name's bytes makes nothing be read again.
  const std::string_view html = Html;
  const size_t at = RunEnd(html, nameStart, kEndsTagName);
  const size_t nameLength = at - nameStart <= TagName_.size() ? at - nameStart : 0;
  // The key is made as the bytes go by: read back from TagName_, they would wait on the
  // stores.
  uint64_t key = 0;
  for (size_t i = 0; i < nameLength; ++i) {
    const char lower = kLowerCase[static_cast<unsigned char>(html[nameStart + i])];
    TagName_[i] = lower;
    if (i < sizeof key) key |= uint64_t{static_cast<unsigned char>(lower)} << (8 * i);
  }
  TagNameLength = nameLength;
  WantedTag_ = FindWantedTag(key);
  ValuesSet = 0;
  // Most tags have no attributes.
  if (at >= html.size() || html[at] != '>') return ReadAttributes(at, endTag);
  SelfClosing_ = false;
  return EndOfTag(at, endTag);
}

}  // namespace qm
