#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
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
  static constexpr size_t kMaxWantedTags = 8;
  static constexpr size_t kMaxWantedTagLength = 8;
  static constexpr size_t kOtherTag = static_cast<size_t>(-1);

  // Only the attributes named in `keptAttributes` (lower case; views that outlive the
  // tokenizer) are kept, the first of each name, so a tag of countless attributes holds
  // nothing. When `wantedTags` (lower case, of up to kMaxWantedTagLength letters) names any,
  // only those tags keep attributes, and the others' are read past without a look at their
  // names.
  THtmlTokenizer(std::string_view html, std::initializer_list<std::string_view> keptAttributes,
                 std::initializer_list<std::string_view> wantedTags = {});

  EHtmlToken Next();
  // The next token of use to a caller of `wantedTags` only: a wanted tag, the page's end and,
  // when `withText`, text. What else it reads past, it gives as Other once it has read as far
  // as `until`, so that the caller still looks at how far the page has been read.
  EHtmlToken NextWanted(bool withText, size_t until);
  // How far the page has been read.
  size_t Position() const { return Position_; }

  // The last token's bytes, for Text and RawText.
  std::string_view Text() const { return Text_; }
  // The last tag's name in lower case; empty when longer than any element's name.
  std::string_view TagName() const { return {TagName_.data(), TagNameLength}; }
  // Which of `wantedTags` the last tag is, or kOtherTag.
  size_t WantedTag() const { return WantedTag_; }
  bool SelfClosing() const { return SelfClosing_; }
  // The value of the `index`-th kept attribute of the last tag, as written (character
  // references not decoded): nothing when the tag has no such attribute, empty when it has
  // one without a value.
  std::optional<std::string_view> Attribute(size_t index) const {
    if ((ValuesSet >> index & 1) == 0) return std::nullopt;
    return Values[index];
  }

 private:
  enum class EMode { Data, RcData, RawText };

  EHtmlToken ReadToken();
  EHtmlToken ReadRawText();
  EHtmlToken ReadText(size_t start);
  EHtmlToken ReadComment(size_t textStart);
  EHtmlToken ReadOther(size_t from);
  EHtmlToken ReadTag(size_t nameStart, bool endTag);
  size_t FindWantedTag(uint64_t key) const;
  EHtmlToken ReadAttributes(size_t at, bool endTag);
  EHtmlToken EndOfTag(size_t close, bool endTag);
  EHtmlToken StartRawText();
  void KeepAttribute(std::string_view name, std::string_view value);

  std::string_view Html;
  size_t Position_ = 0;
  EMode Mode = EMode::Data;
  size_t RawTextEnd = 0;
  std::string_view Text_;
  std::array<char, 12> TagName_{};
  size_t TagNameLength = 0;
  size_t WantedTag_ = kOtherTag;
  bool SelfClosing_ = false;
  std::array<std::string_view, kMaxKeptAttributes> KeptNames{};
  size_t KeptCount = 0;
  std::array<std::string_view, kMaxWantedTags> WantedTags{};
  // The wanted tags' names as numbers, and a bit of each.
  std::array<uint64_t, kMaxWantedTags> WantedKeys{};
  uint64_t WantedKeyBits = 0;
  size_t WantedCount = 0;
  // Bit i: the i-th kept attribute has a value in Values.
  uint32_t ValuesSet = 0;
  std::array<std::string_view, kMaxKeptAttributes> Values{};
};

}  // namespace qm
