#include "crawl/html_tokens.h"

#include <algorithm>

#include "text/trim.h"

namespace qm {
namespace {

constexpr size_t kNone = std::string_view::npos;

// Carriage returns count too: a browser has made every CR LF and CR an LF before this.
bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool EndsTagName(char c) {
  return IsHtmlSpace(c) || c == '/' || c == '>';
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

enum class ERawKind { None, RcData, RawText, Script, PlainText };

ERawKind RawKindOf(std::string_view tagName) {
  if (tagName == "script") return ERawKind::Script;
  if (tagName == "textarea" || tagName == "title") return ERawKind::RcData;
  if (tagName == "plaintext") return ERawKind::PlainText;
  if (tagName == "style" || tagName == "xmp" || tagName == "iframe" || tagName == "noembed" ||
      tagName == "noframes") {
    return ERawKind::RawText;
  }
  return ERawKind::None;
}

}  // namespace

THtmlTokenizer::THtmlTokenizer(std::string_view html,
                               std::initializer_list<std::string_view> keptAttributes)
    : Html(html), KeptCount(std::min(keptAttributes.size(), kMaxKeptAttributes)) {
  std::copy_n(keptAttributes.begin(), KeptCount, KeptNames.begin());
}

// A "<" that a letter, "!", "?" or "/" follows; any other is text.
bool THtmlTokenizer::StartsMarkup(size_t at) const {
  if (at + 1 >= Html.size()) return false;
  const char next = Html[at + 1];
  return IsAsciiAlpha(next) || next == '!' || next == '?' || (next == '/' && at + 2 < Html.size());
}

EHtmlToken THtmlTokenizer::Next() {
  Text_ = {};
  const size_t size = Html.size();
  if (Mode != EMode::Data) {
    if (Position_ < RawTextEnd) {
      Text_ = Html.substr(Position_, RawTextEnd - Position_);
      Position_ = RawTextEnd;
      return Mode == EMode::RcData ? EHtmlToken::Text : EHtmlToken::RawText;
    }
    Mode = EMode::Data;
  }
  if (Position_ >= size) return EHtmlToken::End;

  size_t textEnd = Html.find('<', Position_);
  while (textEnd != kNone && !StartsMarkup(textEnd)) textEnd = Html.find('<', textEnd + 1);
  if (textEnd != Position_) {
    textEnd = std::min(textEnd, size);
    Text_ = Html.substr(Position_, textEnd - Position_);
    Position_ = textEnd;
    return EHtmlToken::Text;
  }

  const size_t open = Position_;
  const char next = Html[open + 1];
  if (IsAsciiAlpha(next)) return ReadTag(open + 1, false);
  if (next == '!' && Html.compare(open, 4, "<!--") == 0) {
    Position_ = CommentEnd(Html, open + 4);
  } else if (next == '/' && IsAsciiAlpha(Html[open + 2])) {
    return ReadTag(open + 2, true);
  } else {
    // "<!DOCTYPE ...>", "<?...>", "</>", "</ x>" and the like end at the first ">".
    Position_ = BogusCommentEnd(Html, open + 2);
  }
  return EHtmlToken::Other;
}

EHtmlToken THtmlTokenizer::ReadTag(size_t nameStart, bool endTag) {
  const size_t size = Html.size();
  size_t at = nameStart;
  while (at < size && !EndsTagName(Html[at])) ++at;
  const size_t nameLength = at - nameStart;
  TagNameLength = nameLength <= TagName_.size() ? nameLength : 0;
  for (size_t i = 0; i < TagNameLength; ++i) TagName_[i] = AsciiLower(Html[nameStart + i]);
  SelfClosing_ = false;
  // Only the kept names' values are ever set.
  std::fill_n(Values.begin(), KeptCount, std::nullopt);

  for (;;) {
    if (at >= size) {
      // A tag the page never closes is no tag.
      Position_ = size;
      return EHtmlToken::End;
    }
    const char c = Html[at];
    if (IsHtmlSpace(c)) {
      ++at;
      continue;
    }
    if (c == '/') {
      SelfClosing_ = at + 1 < size && Html[at + 1] == '>';
      ++at;
      continue;
    }
    if (c == '>') break;
    SelfClosing_ = false;
    // An attribute's name may begin with "=".
    const size_t attributeStart = at++;
    while (at < size && !EndsTagName(Html[at]) && Html[at] != '=') ++at;
    const std::string_view name = Html.substr(attributeStart, at - attributeStart);
    while (at < size && IsHtmlSpace(Html[at])) ++at;
    if (at >= size || Html[at] != '=') {
      KeepAttribute(name, {});
      continue;
    }
    ++at;
    while (at < size && IsHtmlSpace(Html[at])) ++at;
    if (at >= size) continue;
    if (Html[at] == '"' || Html[at] == '\'') {
      const size_t close = Html.find(Html[at], at + 1);
      if (close == kNone) {
        at = size;
        continue;
      }
      KeepAttribute(name, Html.substr(at + 1, close - at - 1));
      at = close + 1;
    } else {
      // Quotes, "<" and "=" belong to an unquoted value.
      const size_t valueStart = at;
      while (at < size && !IsHtmlSpace(Html[at]) && Html[at] != '>') ++at;
      KeepAttribute(name, Html.substr(valueStart, at - valueStart));
    }
  }
  Position_ = at + 1;
  if (endTag) return EHtmlToken::EndTag;

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
      RawTextEnd = size;
      break;
  }
  return EHtmlToken::StartTag;
}

void THtmlTokenizer::KeepAttribute(std::string_view name, std::string_view value) {
  for (size_t i = 0; i < KeptCount; ++i) {
    if (!Values[i] && EqualsAsciiLower(name, KeptNames[i])) {
      Values[i] = value;
      return;
    }
  }
}

}  // namespace qm
