#include "crawl/link_text.h"

#include <algorithm>
#include <array>

namespace qm {
namespace {

bool IsHtmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// A blank or "&": where a run of bytes that go in as they are ends.
constexpr std::array<bool, 256> kEndsRun = [] {
  std::array<bool, 256> ends{};
  for (const char c : {' ', '\t', '\n', '\r', '\f', '&'})
    ends[static_cast<unsigned char>(c)] = true;
  return ends;
}();

bool EndsRun(char c) {
  return kEndsRun[static_cast<unsigned char>(c)];
}

}  // namespace

void TLinkText::AppendBlank() {
  if (Size > 0 && Bytes[Size - 1] != ' ') Bytes[Size++] = ' ';
}

void TLinkText::AppendCollapsed(std::string_view raw, bool inAttribute) {
  size_t size = Size;
  for (size_t at = 0; at < raw.size() && size <= kMaxLinkText;) {
    if (IsHtmlBlank(raw[at])) {
      if (size > 0 && Bytes[size - 1] != ' ') Bytes[size++] = ' ';
      while (++at < raw.size() && IsHtmlBlank(raw[at])) {
      }
      continue;
    }
    if (raw[at] == '&') {
      char32_t codePoint = 0;
      const size_t taken = ReadCharacterReference(raw.substr(at), inAttribute, codePoint);
      if (taken > 0) {
        // A reference to a blank is a blank.
        if (codePoint >= 0x80 || !IsHtmlBlank(static_cast<char>(codePoint))) {
          size += EncodeUtf8(codePoint, Bytes.data() + size);
        } else if (size > 0 && Bytes[size - 1] != ' ') {
          Bytes[size++] = ' ';
        }
        at += taken;
        continue;
      }
    }
    // A run of other bytes, up to one byte past the cap.
    const size_t most = std::min(raw.size(), at + (kMaxLinkText + 1 - size));
    Bytes[size++] = raw[at++];
    while (at < most && !EndsRun(raw[at])) Bytes[size++] = raw[at++];
  }
  Size = size;
}

void TLinkText::AppendPhrase(std::string_view rawAttribute) {
  if (rawAttribute.empty() || Size > kMaxLinkText) return;
  AppendBlank();
  AppendCollapsed(rawAttribute, true);
}

std::string TLinkText::Take() {
  size_t end = Size;
  if (end > kMaxLinkText) {
    end = kMaxLinkText;
    while (end > 0 && (static_cast<unsigned char>(Bytes[end]) & 0xC0) == 0x80) --end;
  }
  if (end > 0 && Bytes[end - 1] == ' ') --end;
  Size = 0;
  return std::string(Bytes.data(), end);
}

}  // namespace qm
