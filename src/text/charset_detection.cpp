#include "text/charset_detection.h"

#include <uchardet/uchardet.h>

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

}  // namespace

bool IsPlausibleGb18030(std::string_view text) {
  size_t broken = 0;
  size_t pairs = 0;
  size_t gb2312Area = 0;
  size_t pastHangulRows = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (!Between(lead, 0x81, 0xFE) || i + 1 >= text.size()) {
      ++broken;
      ++i;
      continue;
    }
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    if (Between(trail, 0x30, 0x39)) {
      // A four-byte character: lead, digit, lead, digit.
      if (i + 3 < text.size() && Between(static_cast<unsigned char>(text[i + 2]), 0x81, 0xFE) &&
          Between(static_cast<unsigned char>(text[i + 3]), 0x30, 0x39)) {
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
    ++pairs;
    if (Between(lead, 0xA1, 0xF7) && Between(trail, 0xA1, 0xFE)) ++gb2312Area;
    if (Between(lead, 0xC9, 0xF7)) ++pastHangulRows;
    i += 2;
  }
  if (broken > 2 + pairs / 50) return false;
  if (pairs < 16) return true;
  return 2 * gb2312Area >= pairs && 10 * pastHangulRows >= pairs;
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
