#include "text/cp936.h"

#include <iconv.h>

#include <cerrno>

namespace qm {
namespace {

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// How many input bytes one unconvertible character takes.
using BadInputStep = size_t (*)(const char* in, size_t left);

size_t OneByte(const char*, size_t) { return 1; }

size_t OneUtf8Character(const char* in, size_t left) {
  const size_t len = Utf8SequenceLength(static_cast<unsigned char>(*in));
  return (len == 0 || len > left) ? 1 : len;
}

// Runs iconv over the whole text, putting `replacement` in for every character the target
// cannot take or the source does not hold.
std::string Convert(const char* to, const char* from, std::string_view text,
                    std::string_view replacement, BadInputStep step) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 3 / 2 + 16);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc == static_cast<size_t>(-1) && error != E2BIG) {
      out.append(replacement);
      const size_t skip = error == EINVAL ? inLeft : step(in, inLeft);
      in += skip;
      inLeft -= skip;
    }
  }
  char* outPtr = buffer;
  size_t outLeft = sizeof(buffer);
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Cp936ToUtf8(std::string_view text) {
  return Convert("UTF-8", "CP936", text, "\xEF\xBF\xBD", OneByte);
}

std::string Utf8ToCp936(std::string_view text) {
  return Convert("CP936", "UTF-8", text, "?", OneUtf8Character);
}

size_t Utf8CharacterLength(std::string_view text, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
  const size_t left = text.size() - at;
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  const size_t len = Utf8SequenceLength(c);
  if (len == 0 || len > left) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
  }
  if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
  if (c == 0xED && p[1] > 0x9F) return 0;  // surrogates
  if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
  if (c == 0xF4 && p[1] > 0x8F) return 0;  // beyond U+10FFFF
  return len;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = Utf8CharacterLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace qm
