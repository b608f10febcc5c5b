#include "engine/contact_text.h"

#include <cstdint>

#include "text/cp936.h"

namespace qm {
namespace {

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// True when `text` starts with `word` in any case of its ASCII letters.
bool StartsWithFolded(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[i]) != word[i]) return false;
  }
  return true;
}

void AppendCodePoint(uint32_t cp, std::string& plain) {
  if (cp < 0x80) {
    plain.push_back(static_cast<char>(cp));
  } else if (cp >= 0xFF01 && cp <= 0xFF5E) {
    plain.push_back(static_cast<char>(cp - 0xFEE0));  // full-width forms of ASCII
  } else if (cp == 0xA0 || cp == 0x3000) {
    plain.push_back(kSoftSpace);
  } else if (cp == 0x3001) {
    plain.push_back(',');
  } else if (cp == 0x53F7) {
    plain.push_back(kHaoChar);
  } else if (cp == 0x7801) {
    plain.push_back(kMaChar);
  } else if (cp == 0x6362) {
    plain.push_back(kHuanChar);
  } else {
    plain.push_back(kOtherChar);
  }
}

// A character reference at text[0] ("&"): its code point and length, or 0.
size_t CharacterReference(std::string_view text, uint32_t& cp) {
  if (StartsWithFolded(text, "&commat;")) {
    cp = '@';
    return 8;
  }
  if (StartsWithFolded(text, "&period;")) {
    cp = '.';
    return 8;
  }
  if (StartsWithFolded(text, "&nbsp;")) {
    cp = 0xA0;
    return 6;
  }
  if (text.size() < 4 || text[1] != '#') return 0;
  const bool hex = text[2] == 'x' || text[2] == 'X';
  size_t i = hex ? 3 : 2;
  const size_t first = i;
  uint32_t value = 0;
  while (i < text.size() && i - first < 7 && (hex ? IsHexDigit(text[i]) : IsAsciiDigit(text[i]))) {
    const char c = text[i];
    const uint32_t digit = IsAsciiDigit(c) ? static_cast<uint32_t>(c - '0')
                                           : static_cast<uint32_t>(Lower(c) - 'a' + 10);
    value = value * (hex ? 16 : 10) + digit;
    ++i;
  }
  if (i == first || value > 0x10FFFF) return 0;
  if (i < text.size() && text[i] == ';') ++i;
  cp = value;
  return i;
}

void AppendAscii(std::string_view line, size_t& i, std::string& plain) {
  const char c = line[i];
  if (c == '&') {
    uint32_t cp;
    if (const size_t length = CharacterReference(line.substr(i), cp); length != 0) {
      AppendCodePoint(cp, plain);
      i += length;
      return;
    }
  } else if (c == '%' && i + 2 < line.size()) {
    if (line[i + 1] == '4' && line[i + 2] == '0') {
      plain.push_back('@');
      i += 3;
      return;
    }
  }
  plain.push_back(c);
  ++i;
}

// False when the bytes at line[i] are no UTF-8 character.
bool AppendUtf8(std::string_view line, size_t& i, std::string& plain) {
  const size_t length = Utf8CharacterLength(line, i);
  if (length == 0) return false;
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(line[k]); };
  uint32_t cp = byte(i) & (0x7Fu >> length);
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  AppendCodePoint(cp, plain);
  i += length;
  return true;
}

void AppendCp936(std::string_view line, size_t& i, std::string& plain) {
  const auto lead = static_cast<unsigned char>(line[i]);
  if (!IsCp936LeadByte(lead) || i + 1 >= line.size() ||
      !IsCp936TrailByte(static_cast<unsigned char>(line[i + 1]))) {
    plain.push_back(kOtherChar);
    ++i;
    return;
  }
  const auto trail = static_cast<unsigned char>(line[i + 1]);
  i += 2;
  const unsigned code = lead << 8 | trail;
  if (lead == 0xA3 && trail >= 0xA1) {
    plain.push_back(static_cast<char>(0x21 + (trail - 0xA1)));  // full-width forms of ASCII
  } else if (code == 0xA1A1) {
    plain.push_back(kSoftSpace);
  } else if (code == 0xA1A2) {
    plain.push_back(',');
  } else if (code == 0xBAC5) {
    plain.push_back(kHaoChar);
  } else if (code == 0xC2EB) {
    plain.push_back(kMaChar);
  } else if (code == 0xBBBB) {
    plain.push_back(kHuanChar);
  } else {
    plain.push_back(kOtherChar);
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

// Rewrites the spelled signs in place; blanks around them go too.
void ReplaceSpelledSigns(std::string& plain) {
  // Three searches for one byte each cost less than one for any of three.
  if (plain.find('[') == std::string::npos && plain.find('(') == std::string::npos &&
      plain.find('{') == std::string::npos) {
    return;
  }
  size_t write = 0;
  for (size_t read = 0; read < plain.size();) {
    char sign;
    if (const size_t length = SpelledSign(std::string_view(plain).substr(read), sign)) {
      while (write > 0 && IsBlank(plain[write - 1])) --write;
      plain[write++] = sign;
      read += length;
      while (read < plain.size() && IsBlank(plain[read])) ++read;
      continue;
    }
    plain[write++] = plain[read++];
  }
  plain.resize(write);
}

// Reads the line as UTF-8 or as code page 936; false when it is no UTF-8.
bool AppendLine(std::string_view line, bool utf8, std::string& plain) {
  const auto plainAscii = [&](size_t k) {
    const char c = line[k];
    return static_cast<unsigned char>(c) < 0x80 && c != '&' && c != '%';
  };
  for (size_t i = 0; i < line.size();) {
    if (plainAscii(i)) {
      size_t end = i + 1;
      while (end < line.size() && plainAscii(end)) ++end;
      plain.append(line.substr(i, end - i));
      i = end;
    } else if (static_cast<unsigned char>(line[i]) < 0x80) {
      AppendAscii(line, i, plain);
    } else if (!utf8) {
      AppendCp936(line, i, plain);
    } else if (!AppendUtf8(line, i, plain)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void ContactTextOfLine(std::string_view line, std::string& plain) {
  plain.clear();
  plain.reserve(line.size());
  // Read as UTF-8 while it is valid; a line that is not is read again from the start.
  if (!AppendLine(line, true, plain)) {
    plain.clear();
    AppendLine(line, false, plain);
  }
  ReplaceSpelledSigns(plain);
}

}  // namespace qm
