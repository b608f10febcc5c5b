#include "crawl/character_references.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

namespace qm {
namespace {

struct TNamedReference {
  std::string_view Name;
  char32_t CodePoint;
  bool WithoutSemicolon;  // the old names browsers still read without ";"
};

// U+00A0 to U+00FF in order; all of them are read without ";" too.
// clang-format off
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect",  // U+00A0
    "uml", "copy", "ordf", "laquo", "not", "shy", "reg", "macr",  // U+00A8
    "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para", "middot",  // U+00B0
    "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest",  // U+00B8
    "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil",  // U+00C0
    "Egrave", "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml",  // U+00C8
    "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc", "Otilde", "Ouml", "times",  // U+00D0
    "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig",  // U+00D8
    "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil",  // U+00E0
    "egrave", "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml",  // U+00E8
    "eth", "ntilde", "ograve", "oacute", "ocirc", "otilde", "ouml", "divide",  // U+00F0
    "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml",  // U+00F8
};

constexpr TNamedReference kOtherNames[] = {
    {"amp", '&', true}, {"AMP", '&', true}, {"lt", '<', true},
    {"LT", '<', true}, {"gt", '>', true}, {"GT", '>', true},
    {"quot", '"', true}, {"QUOT", '"', true}, {"COPY", 0xA9, true},
    {"REG", 0xAE, true}, {"apos", '\'', false}, {"Tab", '\t', false},
    {"NewLine", '\n', false}, {"excl", '!', false}, {"num", '#', false},
    {"dollar", '$', false}, {"percnt", '%', false}, {"lpar", '(', false},
    {"rpar", ')', false}, {"ast", '*', false}, {"midast", '*', false},
    {"plus", '+', false}, {"comma", ',', false}, {"period", '.', false},
    {"sol", '/', false},
    {"colon", ':', false}, {"semi", ';', false}, {"equals", '=', false},
    {"quest", '?', false}, {"commat", '@', false}, {"lsqb", '[', false},
    {"lbrack", '[', false}, {"bsol", '\\', false}, {"rsqb", ']', false},
    {"rbrack", ']', false}, {"Hat", '^', false}, {"lowbar", '_', false},
    {"grave", '`', false}, {"lcub", '{', false}, {"lbrace", '{', false},
    {"verbar", '|', false}, {"vert", '|', false}, {"VerticalLine", '|', false},
    {"rcub", '}', false}, {"rbrace", '}', false}, {"OElig", 0x152, false},
    {"oelig", 0x153, false}, {"Scaron", 0x160, false}, {"scaron", 0x161, false},
    {"Yuml", 0x178, false}, {"fnof", 0x192, false}, {"circ", 0x2C6, false},
    {"tilde", 0x2DC, false}, {"ensp", 0x2002, false}, {"emsp", 0x2003, false},
    {"thinsp", 0x2009, false}, {"zwnj", 0x200C, false}, {"zwj", 0x200D, false},
    {"lrm", 0x200E, false}, {"rlm", 0x200F, false}, {"hyphen", 0x2010, false},
    {"dash", 0x2010, false}, {"ndash", 0x2013, false}, {"mdash", 0x2014, false},
    {"lsquo", 0x2018, false}, {"rsquo", 0x2019, false}, {"sbquo", 0x201A, false},
    {"ldquo", 0x201C, false}, {"rdquo", 0x201D, false}, {"bdquo", 0x201E, false},
    {"dagger", 0x2020, false}, {"Dagger", 0x2021, false}, {"bull", 0x2022, false},
    {"hellip", 0x2026, false}, {"permil", 0x2030, false}, {"prime", 0x2032, false},
    {"Prime", 0x2033, false}, {"lsaquo", 0x2039, false}, {"rsaquo", 0x203A, false},
    {"oline", 0x203E, false}, {"euro", 0x20AC, false}, {"trade", 0x2122, false},
    {"larr", 0x2190, false}, {"uarr", 0x2191, false}, {"rarr", 0x2192, false},
    {"darr", 0x2193, false}, {"harr", 0x2194, false}, {"minus", 0x2212, false},
};
// clang-format on

// Longer names than any in the tables are no reference; reading further would only cost.
constexpr size_t kMaxNameLength = 12;

constexpr bool NameBefore(const TNamedReference& a, const TNamedReference& b) {
  return a.Name < b.Name;
}

constexpr auto kNamedReferences = [] {
  std::array<TNamedReference, std::size(kOtherNames) + kLatin1Names.size()> all{};
  size_t count = 0;
  for (const TNamedReference& named : kOtherNames) all[count++] = named;
  for (size_t i = 0; i < kLatin1Names.size(); ++i) {
    all[count++] = {kLatin1Names[i], static_cast<char32_t>(0xA0 + i), true};
  }
  std::sort(all.begin(), all.end(), NameBefore);
  return all;
}();
static_assert(std::adjacent_find(kNamedReferences.begin(), kNamedReferences.end(),
                                 [](const TNamedReference& a, const TNamedReference& b) {
                                   return a.Name == b.Name;
                                 }) == kNamedReferences.end(),
              "a name twice in the tables");

// Where the names of each first byte begin in the sorted table; those of byte c end where
// those of c + 1 begin.
constexpr auto kFirstByteStarts = [] {
  std::array<uint8_t, 129> starts{};
  size_t entry = 0;
  for (size_t c = 0; c <= 128; ++c) {
    while (entry < kNamedReferences.size() &&
           static_cast<unsigned char>(kNamedReferences[entry].Name[0]) < c) {
      ++entry;
    }
    starts[c] = static_cast<uint8_t>(entry);
  }
  return starts;
}();
static_assert(kNamedReferences.size() < 256 &&
              static_cast<unsigned char>(kNamedReferences.back().Name[0]) < 128);

// The names of a first byte are few: a look at each one's length finds the name sooner
// than a search comparing strings.
const TNamedReference* FindName(std::string_view name) {
  if (name.empty() || static_cast<unsigned char>(name[0]) >= 128) return nullptr;
  const unsigned char first = static_cast<unsigned char>(name[0]);
  for (size_t i = kFirstByteStarts[first]; i < kFirstByteStarts[first + 1]; ++i) {
    const TNamedReference& entry = kNamedReferences[i];
    if (entry.Name.size() == name.size() &&
        std::equal(name.begin(), name.end(), entry.Name.begin())) {
      return &entry;
    }
  }
  return nullptr;
}

// What numeric references to the C1 controls mean: the windows-1252 characters of those
// bytes, which pages wrote when they meant them. Zero: the control stays.
constexpr std::array<char16_t, 32> kC1Replacements = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsAsciiAlphanumeric(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int HexDigitValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

size_t ReadNumericReference(std::string_view text, char32_t& codePoint) {
  size_t at = 2;  // after "&#"
  const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
  if (hex) ++at;
  const size_t digitsStart = at;
  // Held just above the largest code point, so that no run of digits overflows it.
  constexpr char32_t kTooLarge = 0x110000;
  char32_t value = 0;
  for (; at < text.size(); ++at) {
    const int digit =
        hex ? HexDigitValue(text[at]) : (IsAsciiDigit(text[at]) ? text[at] - '0' : -1);
    if (digit < 0) break;
    value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(digit), kTooLarge);
  }
  if (at == digitsStart) return 0;
  if (at < text.size() && text[at] == ';') ++at;
  if (value == 0 || value >= kTooLarge || (value >= 0xD800 && value <= 0xDFFF)) {
    value = 0xFFFD;
  } else if (value >= 0x80 && value <= 0x9F && kC1Replacements[value - 0x80] != 0) {
    value = kC1Replacements[value - 0x80];
  }
  codePoint = value;
  return at;
}

size_t ReadNamedReference(std::string_view text, bool inAttribute, char32_t& codePoint) {
  size_t nameEnd = 1;
  while (nameEnd < text.size() && nameEnd - 1 < kMaxNameLength &&
         IsAsciiAlphanumeric(text[nameEnd])) {
    ++nameEnd;
  }
  const std::string_view name = text.substr(1, nameEnd - 1);
  if (nameEnd < text.size() && text[nameEnd] == ';') {
    if (const TNamedReference* whole = FindName(name)) {
      codePoint = whole->CodePoint;
      return nameEnd + 1;
    }
  }
  // Without ";", the longest of the old names the text begins with.
  for (size_t length = std::min(name.size(), kMaxNameLength); length >= 2; --length) {
    const TNamedReference* prefix = FindName(name.substr(0, length));
    if (prefix == nullptr || !prefix->WithoutSemicolon) continue;
    const size_t end = 1 + length;
    if (inAttribute && end < text.size() && (text[end] == '=' || IsAsciiAlphanumeric(text[end]))) {
      return 0;
    }
    codePoint = prefix->CodePoint;
    return end;
  }
  return 0;
}

}  // namespace

size_t EncodeUtf8(char32_t codePoint, char* out) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  char bytes[kMaxUtf8Bytes];
  out.append(bytes, EncodeUtf8(codePoint, bytes));
}

size_t ReadCharacterReference(std::string_view text, bool inAttribute, char32_t& codePoint) {
  if (text.size() < 2 || text.front() != '&') return 0;
  if (text[1] == '#') return ReadNumericReference(text, codePoint);
  return ReadNamedReference(text, inAttribute, codePoint);
}

size_t AppendCharacterReference(std::string_view text, bool inAttribute, std::string& out) {
  char32_t codePoint = 0;
  const size_t taken = ReadCharacterReference(text, inAttribute, codePoint);
  if (taken > 0) AppendUtf8(codePoint, out);
  return taken;
}

std::string DecodeCharacterReferences(std::string_view text, bool inAttribute) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const size_t amp = text.find('&', at);
    if (amp == std::string_view::npos) {
      out.append(text.substr(at));
      break;
    }
    out.append(text.substr(at, amp - at));
    const size_t taken = AppendCharacterReference(text.substr(amp), inAttribute, out);
    if (taken == 0) out += '&';
    at = amp + (taken == 0 ? 1 : taken);
  }
  return out;
}

}  // namespace qm
