#include "contacts/labelled_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "text/byte_blocks.h"
#include "text/cp936.h"

namespace qm::labelled {
namespace {

// The characters with a byte of their own: first those the enumeration names, in its
// order, then those that only labels are made of.
constexpr std::string_view kKnownChars[] = {
    "微", "威", "薇", "信", "号", "码", "同", "转", "分", "机", "备", "证", "第", "编", "单",
    "电", "话", "座", "传", "真", "热", "线", "客", "服", "固", "总", "联", "系", "方", "式",
    "咨", "询", "手", "移", "动"};
static_assert(std::size(kKnownChars) + 0x80 < 0xFF);
static_assert(kKnownCharEnd - 0x80 <= std::size(kKnownChars));

struct LabelSpelling {
  std::string_view Text;  // UTF-8, lower case
  TLabelKind Kind;
};

constexpr LabelSpelling kLabels[] = {
    {"微信", TLabelKind::WeChat},     {"威信", TLabelKind::WeChat},
    {"薇信", TLabelKind::WeChat},     {"v信", TLabelKind::WeChat},
    {"wechat", TLabelKind::WeChat},   {"weixin", TLabelKind::WeChat},
    {"wx", TLabelKind::WeChat},       {"vx", TLabelKind::WeChat},
    {"电话", TLabelKind::Telephone},  {"电 话", TLabelKind::Telephone},
    {"座机", TLabelKind::Telephone},  {"传真", TLabelKind::Telephone},
    {"传 真", TLabelKind::Telephone}, {"热线", TLabelKind::Telephone},
    {"客服", TLabelKind::Telephone},  {"固话", TLabelKind::Telephone},
    {"总机", TLabelKind::Telephone},  {"联系方式", TLabelKind::Telephone},
    {"咨询", TLabelKind::Telephone},  {"tel", TLabelKind::Telephone},
    {"telephone", TLabelKind::Telephone}, {"phone", TLabelKind::Telephone},
    {"fax", TLabelKind::Telephone},   {"hotline", TLabelKind::Telephone},
    {"手机", TLabelKind::Mobile},     {"移动电话", TLabelKind::Mobile},
    {"mobile", TLabelKind::Mobile},   {"qq", TLabelKind::QQ},
};

// Dashes, blanks and punctuation written in other forms than ASCII.
constexpr std::pair<uint32_t, char> kSpecialChars[] = {
    {0x00A0, ' '}, {0x3000, ' '}, {0x3001, ','}, {0x2010, '-'}, {0x2011, '-'},
    {0x2012, '-'}, {0x2013, '-'}, {0x2014, '-'}, {0x2015, '-'}, {0x2212, '-'},
};

struct Tables {
  // The byte of each character of the Basic Multilingual Plane, 0 for kOtherByte; and of
  // each double-byte code of code page 936.
  std::array<char, 0x10000> ByCodePoint{};
  std::array<char, 0x10000> ByCp936Code{};
  // The labels in the form of the text by their first byte, longest first.
  std::array<std::vector<std::pair<std::string, TLabelKind>>, 256> LabelsByFirstByte;
};

uint32_t CodePointOf(std::string_view utf8) {
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(utf8[i])); };
  if (utf8.size() == 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
}

void Assign(Tables& tables, uint32_t cp, std::string_view utf8, char byte) {
  tables.ByCodePoint[cp] = byte;
  const std::string gbk = Utf8ToCp936(utf8);
  if (gbk.size() == 2) {
    tables.ByCp936Code[static_cast<unsigned char>(gbk[0]) << 8 |
                       static_cast<unsigned char>(gbk[1])] = byte;
  }
}

std::string Utf8Of(uint32_t cp) {
  std::string out;
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
  } else {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

void WriteLine(std::string_view line, bool utf8, std::string& text, const Tables& tables);

std::unique_ptr<Tables> BuildTables() {
  auto tables = std::make_unique<Tables>();
  for (size_t i = 0; i < std::size(kKnownChars); ++i) {
    Assign(*tables, CodePointOf(kKnownChars[i]), kKnownChars[i], static_cast<char>(0x80 + i));
  }
  for (const auto& [cp, byte] : kSpecialChars) Assign(*tables, cp, Utf8Of(cp), byte);
  for (uint32_t cp = 0xFF01; cp <= 0xFF5E; ++cp) {
    char ascii = static_cast<char>(cp - 0xFEE0);
    if (ascii >= 'A' && ascii <= 'Z') ascii = static_cast<char>(ascii + 32);
    Assign(*tables, cp, Utf8Of(cp), ascii);
  }
  for (const LabelSpelling& label : kLabels) {
    std::string text;
    WriteLine(label.Text, true, text, *tables);
    // The scanners' quick tests must let every label through.
    if (!MayStartLabel(text[0]) ||
        (label.Kind == TLabelKind::WeChat && !MayStartWeChatLabel(text[0]))) {
      std::abort();
    }
    tables->LabelsByFirstByte[static_cast<unsigned char>(text[0])].emplace_back(std::move(text),
                                                                                label.Kind);
  }
  for (auto& labels : tables->LabelsByFirstByte) {
    std::stable_sort(labels.begin(), labels.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  }
  return tables;
}

const Tables& TheTables() {
  static const std::unique_ptr<Tables> tables = BuildTables();
  return *tables;
}

bool IsWordChar(char c) { return IsLower(c) || IsDigit(c) || c == '_'; }

char AsciiByte(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c + 32);
  if (c == '\t' || c == '\r' || c == '\n') return ' ';
  return c;
}

// Character references a page writes for a blank.
size_t BlankReference(std::string_view rest) {
  for (std::string_view blank : {"&nbsp;", "&#160;", "&#xa0;", "&#12288;"}) {
    if (rest.size() >= blank.size()) {
      bool same = true;
      for (size_t i = 0; i < blank.size() && same; ++i) same = AsciiByte(rest[i]) == blank[i];
      if (same) return blank.size();
    }
  }
  return 0;
}

// False when the line is no UTF-8 but was to be read as such. No character becomes more
// than one byte, so `out` has room for the line.
bool WriteLineChecked(std::string_view line, bool utf8, std::string& text,
                      const Tables& tables) {
  text.resize(line.size());
  char* out = text.data();
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(line[k]); };
  for (size_t i = 0; i < line.size();) {
#if defined(__SSE2__)
    // Sixteen bytes of ASCII without "&" or control characters at a time, the letters
    // lowered; the byte-high characters compare as negative, so they count as control ones.
    if (i + 16 <= line.size()) {
      using namespace blocks;
      const __m128i bytes = Load16(line.data() + i);
      const __m128i special =
          _mm_or_si128(Equal(bytes, '&'), _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
      if (Mask(special) == 0) {
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('A' - 1)),
                                            _mm_cmplt_epi8(bytes, _mm_set1_epi8('Z' + 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_or_si128(bytes, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
        out += 16;
        i += 16;
        continue;
      }
    }
#endif
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
      if (lead == '&') {
        if (const size_t length = BlankReference(line.substr(i)); length != 0) {
          *out++ = ' ';
          i += length;
          continue;
        }
      }
      *out++ = AsciiByte(static_cast<char>(lead));
      ++i;
      continue;
    }
    char mapped = 0;
    if (utf8) {
      const size_t length = Utf8CharacterLength(line, i);
      if (length == 0) return false;
      uint32_t cp = lead & (0x7Fu >> length);
      for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(i + k) & 0x3Fu);
      if (cp < 0x10000) mapped = tables.ByCodePoint[cp];
      i += length;
    } else if (IsCp936LeadByte(lead) && i + 1 < line.size() && IsCp936TrailByte(byte(i + 1))) {
      mapped = tables.ByCp936Code[lead << 8 | byte(i + 1)];
      i += 2;
    } else {
      ++i;
    }
    *out++ = mapped != 0 ? mapped : kOtherByte;
  }
  text.resize(static_cast<size_t>(out - text.data()));
  return true;
}

void WriteLine(std::string_view line, bool utf8, std::string& text, const Tables& tables) {
  if (!WriteLineChecked(line, utf8, text, tables)) WriteLineChecked(line, false, text, tables);
}

}  // namespace

void LabelledTextOfLine(std::string_view line, std::string& text) {
  text.reserve(line.size());
  WriteLine(line, true, text, TheTables());
}

bool LabelAt(std::string_view text, size_t pos, TLabelKind& kind, size_t& end) {
  if (pos >= text.size()) return false;
  const auto& labels = TheTables().LabelsByFirstByte[static_cast<unsigned char>(text[pos])];
  if (labels.empty()) return false;
  if (IsLower(text[pos]) && pos > 0 && IsWordChar(text[pos - 1])) return false;
  for (const auto& [label, labelKind] : labels) {
    if (text.compare(pos, label.size(), label) != 0) continue;
    const size_t after = pos + label.size();
    if (IsLower(label.back()) && after < text.size() && IsWordChar(text[after])) continue;
    kind = labelKind;
    end = after;
    return true;
  }
  return false;
}

bool AsciiLabel(std::string_view text, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (!IsLower(text[i])) return false;
  }
  return end > begin;
}

}  // namespace qm::labelled
