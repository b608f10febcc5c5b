#include "text/charset_conversion.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>

#include "text/cp936.h"
#include "text/trim.h"

namespace qm {
namespace {

struct LabelAlias {
  const char* Label;
  const char* Charset;
};

constexpr LabelAlias kAliases[] = {
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"gb2312", "GB18030"},
    {"gbk", "GB18030"},
    {"x-gbk", "GB18030"},
    {"gb_2312", "GB18030"},
    {"gb_2312-80", "GB18030"},
    {"csgb2312", "GB18030"},
    {"chinese", "GB18030"},
    {"iso-ir-58", "GB18030"},
    {"csiso58gb231280", "GB18030"},
    {"cp936", "GB18030"},
    {"windows-936", "GB18030"},
    {"ms936", "GB18030"},
    {"euc-cn", "GB18030"},
    {"gb18030", "GB18030"},
    {"big5", "BIG5-HKSCS"},
    {"big5-hkscs", "BIG5-HKSCS"},
    {"cn-big5", "BIG5-HKSCS"},
    {"csbig5", "BIG5-HKSCS"},
    {"x-x-big5", "BIG5-HKSCS"},
    {"cp950", "BIG5-HKSCS"},
    {"iso-8859-1", "WINDOWS-1252"},
    {"iso8859-1", "WINDOWS-1252"},
    {"latin1", "WINDOWS-1252"},
    {"l1", "WINDOWS-1252"},
    {"us-ascii", "WINDOWS-1252"},
    {"ascii", "WINDOWS-1252"},
    {"cp1252", "WINDOWS-1252"},
    {"windows-1252", "WINDOWS-1252"},
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"windows-31j", "CP932"},
    {"x-sjis", "CP932"},
    {"euc-kr", "CP949"},
    {"ks_c_5601-1987", "CP949"},
    {"windows-949", "CP949"},
    {"utf-16", "UTF-16LE"},
};

// Conversion descriptors opened once per thread and charset; opening one costs more than
// converting a small page.
class ConverterCache {
 public:
  ~ConverterCache() { CloseAll(); }
  // Null when iconv knows no such charset.
  iconv_t For(const std::string& charset) {
    auto found = converters_.find(charset);
    if (found == converters_.end()) {
      // Pages name whatever charsets they like; a thread keeps no more than a few.
      if (converters_.size() >= kMaxConverters) CloseAll();
      iconv_t cd = iconv_open("UTF-8", charset.c_str());
      if (cd == reinterpret_cast<iconv_t>(-1)) cd = nullptr;
      found = converters_.emplace(charset, cd).first;
    }
    if (found->second != nullptr) iconv(found->second, nullptr, nullptr, nullptr, nullptr);
    return found->second;
  }

 private:
  static constexpr size_t kMaxConverters = 32;

  void CloseAll() {
    // A charset iconv does not know is remembered as null, which must not be closed.
    for (auto& entry : converters_) {
      if (entry.second != nullptr) iconv_close(entry.second);
    }
    converters_.clear();
  }

  std::map<std::string, iconv_t> converters_;
};

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Puts U+FFFD in for every byte of `text` that starts no well-formed UTF-8 character.
// False when the text would then be longer than `maxBytes`.
bool ReplaceMalformedUtf8(std::string& text, size_t maxBytes) {
  std::string mended;
  mended.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      mended.append(kReplacement);
      ++i;
    } else {
      mended.append(text, i, length);
      i += length;
    }
  }
  if (mended.size() > maxBytes) return false;
  text.swap(mended);
  return true;
}

}  // namespace

std::string CharsetForLabel(std::string_view label) {
  const std::string lower = AsciiLower(TrimView(label));
  if (lower.empty()) return {};
  for (const LabelAlias& alias : kAliases) {
    if (lower == alias.Label) return alias.Charset;
  }
  return AsciiUpper(lower);
}

bool IsAsciiCompatible(std::string_view charset) {
  for (std::string_view prefix :
       {"UTF-16", "UTF-32", "UCS-", "UTF-7", "HZ", "ISO-2022", "CSISO2022"}) {
    if (charset.substr(0, prefix.size()) == prefix) return false;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  uint64_t any = 0;
  for (; n >= 32; p += 32, n -= 32) {
    uint64_t w[4];
    std::memcpy(w, p, 32);
    any |= w[0] | w[1] | w[2] | w[3];
    if (any & 0x8080808080808080ull) return false;
  }
  for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p);
  return (any & 0x8080808080808080ull) == 0;
}

bool ConvertToUtf8(std::string_view text, const std::string& charset, size_t maxBytes,
                   std::string& out) {
  thread_local ConverterCache cache;
  iconv_t cd = cache.For(charset);
  if (cd == nullptr) return false;
  out.clear();
  out.reserve(std::min(maxBytes, text.size() + text.size() / 2 + 16));
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[16384];
  // A character the source does not hold takes one unit of it.
  const size_t invalidStep = charset.rfind("UTF-16", 0) == 0 ? 2 : 1;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    const size_t produced = static_cast<size_t>(outPtr - buffer);
    if (out.size() + produced > maxBytes) return false;
    out.append(buffer, produced);
    if (rc == static_cast<size_t>(-1) && error != E2BIG) {
      if (out.size() + 3 > maxBytes) return false;
      out.append(kReplacement);
      // An incomplete character at the end takes the rest.
      const size_t skip = error == EINVAL ? inLeft : std::min(invalidStep, inLeft);
      in += skip;
      inLeft -= skip;
    }
  }
  // A charset that holds back a character until it knows the next one gives it up now.
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  const size_t produced = static_cast<size_t>(outPtr - buffer);
  if (out.size() + produced > maxBytes) return false;
  out.append(buffer, produced);
  // iconv writes values beyond U+10FFFF (which UCS-4 text can hold) in the long forms that
  // UTF-8 does not allow.
  if (!IsValidUtf8(out)) return ReplaceMalformedUtf8(out, maxBytes);
  return true;
}

}  // namespace qm
