#pragma once
// A line of page text as the scanners of WeChat IDs and telephone numbers read it: one byte
// per character, read as UTF-8 when the line is valid UTF-8, else as code page 936. ASCII
// letters in lower case; full-width forms, ideographic and no-break spaces, dashes and the
// enumeration comma as their ASCII counterparts; the few Chinese characters that labels and
// their surroundings are made of as bytes of their own (below); any other character
// kOtherByte. Labels are matched on this text, so "微信", "ＷＸ" and "WX" are one label in
// either encoding.
#include <string>
#include <string_view>

namespace qm::labelled {

inline constexpr char kOtherByte = '\xFF';

// The Chinese characters with a byte of their own, in order from 0x80.
enum : unsigned char {
  kWei = 0x80,  // 微
  kWeiMight,    // 威
  kWeiRose,     // 薇
  kXin,         // 信
  kHao,         // 号
  kMa,          // 码
  kTong,        // 同
  kZhuan,       // 转 (an extension: 0755-12345678转801)
  kFen,         // 分 (分机, an extension)
  kJi,          // 机
  kBei,         // 备 (ICP备)
  kZheng,       // 证
  kDi,          // 第
  kBian,        // 编
  kDan,         // 单
  kKnownCharEnd
};

// The text of `line` in the form above, in `text`.
void LabelledTextOfLine(std::string_view line, std::string& text);

enum class TLabelKind { WeChat, Telephone, Mobile, QQ };

// A label starting at text[pos]: its kind and the position after it, or false. A label
// that begins or ends with an ASCII letter stands apart from other letters ("tel" is no
// label inside "hotel"); the longest label wins.
bool LabelAt(std::string_view text, size_t pos, TLabelKind& kind, size_t& end);
// True when the label is written in ASCII letters only ("wx", "wechat"): such a label
// introduces a value only with a colon or an equals sign between them.
bool AsciiLabel(std::string_view text, size_t begin, size_t end);

// False for a byte no label starts with, so the scanners pass over most bytes without
// asking LabelAt.
inline bool MayStartLabel(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x80 && c != kOtherByte) || c == 'f' || c == 'h' || c == 'm' || c == 'p' ||
         c == 'q' || c == 't' || c == 'v' || c == 'w';
}
// The same for WeChat labels.
inline bool MayStartWeChatLabel(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= kWei && u <= kWeiRose) || c == 'v' || c == 'w';
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

}  // namespace qm::labelled
