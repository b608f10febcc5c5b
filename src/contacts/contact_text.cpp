#include "contacts/contact_text.h"

#include <cstdint>

#include "contacts/contact_chars.h"
#include "text/byte_blocks.h"
#include "text/cp936.h"
#include "text/integer_syntax.h"
#include "text/trim.h"

namespace qm {
namespace {

using contact_chars::IsDigit;
using contact_chars::StartsWithFolded;

char PlainChar(uint32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp >= 0xFF01 && cp <= 0xFF5E) return static_cast<char>(cp - 0xFEE0);  // full-width ASCII
  switch (cp) {
    case 0xA0:
    case 0x3000:
      return kSoftSpace;
    case 0x3001:
      return ',';
    case 0x53F7:
      return kHaoChar;
    case 0x7801:
      return kMaChar;
    case 0x6362:
      return kHuanChar;
    default:
      return kOtherChar;
  }
}

// A character reference at text[0] ("&"): its code point and length, or 0.
size_t CharacterReference(std::string_view text, uint32_t& cp) {
  // The names differ in their first letter: one comparison at most.
  switch (text.size() < 2 ? '\0' : AsciiLower(text[1])) {
    case 'c':
      if (!StartsWithFolded(text, "&commat;")) return 0;
      cp = '@';
      return 8;
    case 'p':
      if (!StartsWithFolded(text, "&period;")) return 0;
      cp = '.';
      return 8;
    case 'n':
      if (!StartsWithFolded(text, "&nbsp;")) return 0;
      cp = 0xA0;
      return 6;
    default:
      break;
  }
  if (text.size() < 4 || text[1] != '#') return 0;
  const bool hex = text[2] == 'x' || text[2] == 'X';
  size_t i = hex ? 3 : 2;
  const size_t first = i;
  uint32_t value = 0;
  while (i < text.size() && i - first < 7 &&
         (hex ? HexDigitValue(text[i]) >= 0 : IsDigit(text[i]))) {
    value = value * (hex ? 16 : 10) + static_cast<uint32_t>(HexDigitValue(text[i]));
    ++i;
  }
  if (i == first || value > 0x10FFFF) return 0;
  if (i < text.size() && text[i] == ';') ++i;
  cp = value;
  return i;
}

// The functions below write the plain text at `out` and move it on; no character of the
// line becomes more than one byte.
void WriteAscii(std::string_view line, size_t& i, char*& out) {
  const char c = line[i];
  if (c == '&') {
    uint32_t cp;
    if (const size_t length = CharacterReference(line.substr(i), cp); length != 0) {
      *out++ = PlainChar(cp);
      i += length;
      return;
    }
  } else if (c == '%' && i + 2 < line.size()) {
    if (line[i + 1] == '4' && line[i + 2] == '0') {
      *out++ = '@';
      i += 3;
      return;
    }
  }
  *out++ = c;
  ++i;
}

// False when the bytes at line[i] are no UTF-8 character.
bool WriteUtf8(std::string_view line, size_t& i, char*& out) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(line[k]); };
  // Three bytes whose lead byte asks for no further check (most characters of a Chinese
  // page) are read here; the rest as the text library reads them.
  const unsigned lead = byte(i);
  if (lead >= 0xE1 && lead != 0xED && i + 2 < line.size() && (byte(i + 1) & 0xC0) == 0x80 &&
      (byte(i + 2) & 0xC0) == 0x80 && lead <= 0xEF) {
    *out++ = PlainChar((lead & 0x0Fu) << 12 | (byte(i + 1) & 0x3Fu) << 6 | (byte(i + 2) & 0x3Fu));
    i += 3;
    return true;
  }
  const size_t length = Utf8CharacterLength(line, i);
  if (length == 0) return false;
  uint32_t cp = byte(i) & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  *out++ = PlainChar(cp);
  i += length;
  return true;
}

void WriteCp936(std::string_view line, size_t& i, char*& out) {
  const auto lead = static_cast<unsigned char>(line[i]);
  if (!IsCp936LeadByte(lead) || i + 1 >= line.size() ||
      !IsCp936TrailByte(static_cast<unsigned char>(line[i + 1]))) {
    *out++ = kOtherChar;
    ++i;
    return;
  }
  const auto trail = static_cast<unsigned char>(line[i + 1]);
  i += 2;
  const unsigned code = lead << 8 | trail;
  if (lead == 0xA3 && trail >= 0xA1) {
    *out++ = static_cast<char>(0x21 + (trail - 0xA1));  // full-width forms of ASCII
  } else if (code == 0xA1A1) {
    *out++ = kSoftSpace;
  } else if (code == 0xA1A2) {
    *out++ = ',';
  } else if (code == 0xBAC5) {
    *out++ = kHaoChar;
  } else if (code == 0xC2EB) {
    *out++ = kMaChar;
  } else if (code == 0xBBBB) {
    *out++ = kHuanChar;
  } else {
    *out++ = kOtherChar;
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == kSoftSpace || c == '\t';
}

char Closer(char opener) {
  switch (opener) {
    case '[':
      return ']';
    case '(':
      return ')';
    case '{':
      return '}';
    default:
      return 0;
  }
}

// "[at]" and the like at plain[r]: the character it stands for and its length, or 0.
size_t SpelledSign(std::string_view text, char& sign) {
  const char closer = Closer(text[0]);
  if (closer == 0) return 0;
  for (std::string_view word : {std::string_view("at"), std::string_view("dot")}) {
    if (StartsWithFolded(text.substr(1), word) && text.size() > word.size() + 1 &&
        text[word.size() + 1] == closer) {
      sign = word == "at" ? '@' : '.';
      return word.size() + 2;
    }
  }
  return 0;
}

// True when `text` holds a "[", "(" or "{".
bool HasOpener(std::string_view text) {
#if defined(__SSE2__)
  using namespace blocks;
  const auto any = [](const char* p) {
    const __m128i bytes = Load16(p);
    // "[" differs from "{" only in the bit 0x20.
    return Mask(_mm_or_si128(Equal(bytes, '('),
                             Equal(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), '{'))) != 0;
  };
  if (text.size() >= 16) {
    for (size_t i = 0; i + 16 < text.size(); i += 16) {
      if (any(text.data() + i)) return true;
    }
    // The last sixteen bytes, some of them looked at already.
    return any(text.data() + text.size() - 16);
  }
#endif
  for (const char c : text) {
    if (c == '[' || c == '(' || c == '{') return true;
  }
  return false;
}

// Rewrites the spelled signs of the `size` bytes at `plain` in place, blanks around them
// too; the new size.
size_t ReplaceSpelledSigns(char* plain, size_t size) {
  const std::string_view text(plain, size);
  if (!HasOpener(text)) return size;
  size_t write = 0;
  for (size_t read = 0; read < size;) {
    char sign;
    if (const size_t length = SpelledSign(text.substr(read), sign)) {
      while (write > 0 && IsBlank(plain[write - 1])) --write;
      plain[write++] = sign;
      read += length;
      while (read < size && IsBlank(plain[read])) ++read;
      continue;
    }
    plain[write++] = plain[read++];
  }
  return write;
}

bool StandsForItself(char c) {
  return static_cast<unsigned char>(c) < 0x80 && c != '&' && c != '%';
}

// Copies the run of ASCII bytes at line[i] that stand for themselves, sixteen at a time
// where it can: markup holds long runs of them.
void CopyPlainAscii(std::string_view line, size_t& i, char*& out) {
#if defined(__SSE2__)
  using namespace blocks;
  // The plain text is never longer than what it was read from, so the sixteen bytes
  // written at `out` stay inside the room for the line.
  while (i + 16 <= line.size()) {
    const __m128i bytes = Load16(line.data() + i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    const unsigned others = Mask(bytes) | Mask(Equal(bytes, '&')) | Mask(Equal(bytes, '%'));
    if (others != 0) {
      const auto run = static_cast<size_t>(__builtin_ctz(others));
      i += run;
      out += run;
      return;
    }
    i += 16;
    out += 16;
  }
#endif
  while (i < line.size() && StandsForItself(line[i])) *out++ = line[i++];
}

// Where a line's first byte beyond ASCII lies, and its text: up to there both readings
// write the same.
struct TFirstOther {
  size_t At = std::string_view::npos;
  char* Out = nullptr;
};

// Reads line[i...] as UTF-8 or as code page 936; the end of what it wrote, or null when the
// line is no UTF-8.
char* WriteLine(std::string_view line, size_t i, bool utf8, char* out, TFirstOther& first) {
  while (i < line.size()) {
    const char c = line[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      if (first.Out == nullptr) first = {i, out};
      if (!utf8) {
        WriteCp936(line, i, out);
      } else if (!WriteUtf8(line, i, out)) {
        return nullptr;
      }
    } else if (c == '&' || c == '%') {
      WriteAscii(line, i, out);
    } else {
      CopyPlainAscii(line, i, out);
    }
  }
  return out;
}

}  // namespace

size_t ContactTextOfLine(std::string_view line, char* plain) {
  // Read as UTF-8 while it is valid; a line that is not is read again from its first byte
  // beyond ASCII.
  TFirstOther first;
  char* end = WriteLine(line, 0, true, plain, first);
  if (end == nullptr) end = WriteLine(line, first.At, false, first.Out, first);
  return ReplaceSpelledSigns(plain, static_cast<size_t>(end - plain));
}

void ContactTextOfLine(std::string_view line, std::string& plain) {
  plain.resize(line.size());
  plain.resize(ContactTextOfLine(line, plain.data()));
}

}  // namespace qm
