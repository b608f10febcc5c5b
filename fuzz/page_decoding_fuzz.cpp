// Any bytes as a page body with a content coding and a Content-Type, taken as a fetched page
// is: the codings undone within a cap, the charset found and the text converted to UTF-8
// within a cap. Neither step may write past its cap, and converted text is UTF-8.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/content_decoding.h"
#include "text/charset_conversion.h"
#include "text/cp936.h"
#include "text/page_charset.h"

namespace {

constexpr size_t kCap = 1u << 20;
constexpr std::array<std::string_view, 8> kCodings = {
    "gzip", "deflate", "br", "x-gzip", "deflate, gzip", "gzip, br", "identity", "chunked, gzip"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qm;
  using fuzz::Check;
  FuzzedDataProvider input(data, size);
  const size_t coding = input.ConsumeIntegralInRange<size_t>(0, kCodings.size());
  const std::string contentType = input.ConsumeRandomLengthString(64);
  const std::string codings = coding < kCodings.size() ? std::string(kCodings[coding])
                                                       : input.ConsumeRandomLengthString(32);
  const std::string body = input.ConsumeRemainingBytesAsString();

  std::string decoded;
  const TContentDecoding result = DecodeContent(codings, body, kCap, decoded);
  Check(decoded.size() <= kCap, "decoding wrote past its cap");
  const std::string_view page = result == TContentDecoding::AsReceived ? body : decoded;

  const TPageCharset charset = FindPageCharset(contentType, page);
  Check(charset.ByteOrderMarkLength <= page.size(), "byte-order mark longer than the page");
  // A page declared UTF-8 is kept as it came: its lines are read one by one.
  const std::string name = CharsetForLabel(charset.Label);
  if (name.empty() || name == "UTF-8") return 0;
  std::string text;
  if (ConvertToUtf8(page.substr(charset.ByteOrderMarkLength), name, kCap, text)) {
    Check(text.size() <= kCap, "conversion wrote past its cap");
    Check(IsValidUtf8(text), "converted text is not UTF-8");
  }
  return 0;
}
