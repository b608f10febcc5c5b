#include "text/charset_detection.h"

#include <uchardet/uchardet.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "text/charset_conversion.h"
#include "text/trim.h"

namespace qm {
namespace {

// The detector reads no further: a page's first bytes tell its charset.
constexpr size_t kDetectedBytes = 256u << 10;

bool Between(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

// Past the run of ASCII bytes from `at`, eight at a time.
size_t AsciiRunEnd(const unsigned char* bytes, size_t at, size_t size) {
  while (at + 8 <= size) {
    uint64_t word;
    std::memcpy(&word, bytes + at, 8);
    if ((word & 0x8080808080808080u) != 0) break;
    at += 8;
  }
  while (at < size && bytes[at] < 0x80) ++at;
  return at;
}

// Reads `text` as GB18030 characters. With `findFourByte`, stops at the first place where
// HasGb18030FourByteCharacter would find one, which may also start on the second byte of a
// two-byte character.
TGb18030Reading WalkGb18030(std::string_view text, bool findFourByte) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  const auto lead = [bytes](size_t at) { return Between(bytes[at], 0x81, 0xFE); };
  const auto digit = [bytes](size_t at) { return Between(bytes[at], 0x30, 0x39); };
  size_t broken = 0;
  size_t pairs = 0;
  size_t gb2312Area = 0;
  size_t pastHangulRows = 0;
  for (size_t i = 0; i < size;) {
    if (bytes[i] < 0x80) {
      i = AsciiRunEnd(bytes, i, size);
      continue;
    }
    if (!lead(i) || i + 1 >= size) {
      ++broken;
      ++i;
      continue;
    }
    const unsigned char first = bytes[i];
    const unsigned char trail = bytes[i + 1];
    if (digit(i + 1)) {
      // A four-byte character: lead, digit, lead, digit.
      if (i + 3 < size && lead(i + 2) && digit(i + 3)) {
        if (findFourByte) return TGb18030Reading::FourByteCharacters;
        i += 4;
        continue;
      }
      ++broken;
      ++i;
      continue;
    }
    if (!Between(trail, 0x40, 0xFE) || trail == 0x7F) {
      ++broken;
      ++i;
      continue;
    }
    if (findFourByte && lead(i + 1) && i + 4 < size && digit(i + 2) && lead(i + 3) &&
        digit(i + 4)) {
      return TGb18030Reading::FourByteCharacters;
    }
    ++pairs;
    if (Between(first, 0xA1, 0xF7) && Between(trail, 0xA1, 0xFE)) ++gb2312Area;
    if (Between(first, 0xC9, 0xF7)) ++pastHangulRows;
    i += 2;
  }
  const bool plausible = broken <= 2 + pairs / 50 &&
                         (pairs < 16 || (2 * gb2312Area >= pairs && 10 * pastHangulRows >= pairs));
  return plausible ? TGb18030Reading::Plausible : TGb18030Reading::Implausible;
}

}  // namespace

bool IsPlausibleGb18030(std::string_view text) {
  return WalkGb18030(text, false) == TGb18030Reading::Plausible;
}

TGb18030Reading ReadAsGb18030(std::string_view text) {
  return WalkGb18030(text, true);
}

std::string DetectNonChineseCharset(std::string_view text) {
  const std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
      uchardet_new(), uchardet_delete);
  if (!detector) return {};
  text = text.substr(0, kDetectedBytes);
  if (uchardet_handle_data(detector.get(), text.data(), text.size()) != 0) return {};
  uchardet_data_end(detector.get());
  const char* found = uchardet_get_charset(detector.get());
  if (found == nullptr || *found == '\0') return {};
  const std::string label = AsciiUpper(found);
  if (label == "ASCII" || label == "UTF-8" || label.starts_with("GB") || label == "HZ-GB-2312") {
    return {};
  }
  return CharsetForLabel(label);
}

}  // namespace qm
