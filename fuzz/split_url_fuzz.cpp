// Any text as a page address. Splitting must not fail, and the parts must be pieces of the
// address: the host, port and path are taken from it, never made up beyond the defaults.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/url_parts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using qm::fuzz::Check;
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const qm::TUrlParts parts = qm::SplitUrl(url);
  auto fromUrl = [&](const std::string& part, std::string_view fallback) {
    return part == fallback || url.find(part) != std::string_view::npos;
  };
  Check(fromUrl(parts.Protocol, "http"), "protocol not taken from the address");
  Check(fromUrl(parts.User, ""), "user not taken from the address");
  Check(fromUrl(parts.Password, ""), "password not taken from the address");
  Check(fromUrl(parts.Host, "localhost"), "host not taken from the address");
  Check(fromUrl(parts.Port, "80") || parts.Port == "443", "port not taken from the address");
  Check(fromUrl(parts.Query, ""), "query not taken from the address");
  Check(!parts.Path.empty() && parts.Path.front() == '/', "path does not start with /");
  Check(!parts.RequestUri.empty() && parts.RequestUri.starts_with(parts.Path),
        "request URI does not start with the path");
  Check(parts.Host.find_first_of("/?#") == std::string::npos, "host holds / ? or #");
  return 0;
}
