#include "crawl/percent_encoding.h"

#include "text/integer_syntax.h"

namespace qm {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The byte a "%XX" at `at` stands for, or -1.
int EncodedByteAt(std::string_view text, size_t at) {
  if (text[at] != '%' || at + 2 >= text.size()) return -1;
  const int high = HexDigitValue(text[at + 1]);
  const int low = HexDigitValue(text[at + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool IsUnreserved(int byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

void AppendEncoded(std::string& out, int byte) {
  out += '%';
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0x0F];
}

}  // namespace

std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int byte = EncodedByteAt(text, i);
    if (byte >= 0) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string WithCanonicalPercentEncoding(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int encoded = EncodedByteAt(text, i);
    const auto byte = static_cast<unsigned char>(text[i]);
    if (encoded >= 0) {
      if (IsUnreserved(encoded)) {
        out += static_cast<char>(encoded);
      } else {
        AppendEncoded(out, encoded);
      }
      i += 2;
    } else if (byte <= 0x20 || byte >= 0x7F) {
      AppendEncoded(out, byte);
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace qm
