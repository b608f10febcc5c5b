#pragma once
#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace qm {

enum class EHtmlToken {
  Text,     // character data, its character references not yet decoded
  RawText,  // what a script, style, xmp, iframe, noembed, noframes or plaintext element holds
  StartTag,
  EndTag,
  Other,  // a comment, a doctype, a processing instruction, "</>"
  End,
};

// Splits an HTML page into tokens as a browser's tokenizer does: tags and their attributes
// (quoted or not), comments (with the abrupt "<!-->" and "<!--->" and the "--!>" ending),
// bogus comments ("<!DOCTYPE ...>", "<?...>"), the text of raw-text elements and of the
// RCDATA elements textarea and title, which is no markup, and text. It builds no tree and
// never goes back: every byte is read a bounded number of times, and a token is views into
// the page, so any page costs the same small memory.
class THtmlTokenizer {
 public:
  static constexpr size_t kMaxKeptAttributes = 8;

  // Only the attributes named in `keptAttributes` (lower case; views that outlive the
  // tokenizer) are kept, the first of each name, so a tag of countless attributes holds
  // nothing.
  THtmlTokenizer(std::string_view html, std::initializer_list<std::string_view> keptAttributes);

  EHtmlToken Next();
  // How far the page has been read.
  size_t Position() const { return Position_; }

  // The last token's bytes, for Text and RawText.
  std::string_view Text() const { return Text_; }
  // The last tag's name in lower case; empty when longer than any element's name.
  std::string_view TagName() const { return {TagName_.data(), TagNameLength}; }
  bool SelfClosing() const { return SelfClosing_; }
  // The value of the `index`-th kept attribute of the last tag, as written (character
  // references not decoded): nothing when the tag has no such attribute, empty when it has
  // one without a value.
  std::optional<std::string_view> Attribute(size_t index) const { return Values[index]; }

 private:
  enum class EMode { Data, RcData, RawText };

  EHtmlToken ReadTag(size_t nameStart, bool endTag);
  void KeepAttribute(std::string_view name, std::string_view value);
  bool StartsMarkup(size_t at) const;

  std::string_view Html;
  size_t Position_ = 0;
  EMode Mode = EMode::Data;
  size_t RawTextEnd = 0;
  std::string_view Text_;
  std::array<char, 12> TagName_{};
  size_t TagNameLength = 0;
  bool SelfClosing_ = false;
  std::array<std::string_view, kMaxKeptAttributes> KeptNames{};
  size_t KeptCount = 0;
  std::array<std::optional<std::string_view>, kMaxKeptAttributes> Values{};
};

}  // namespace qm
