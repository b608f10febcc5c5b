// Any bytes as a page, as a link address, as a robots.txt and as a path. Nothing may fail;
// a normalised address must be one a request line can carry and normalise to itself.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crawl/crawl_address.h"
#include "crawl/page_links.h"
#include "crawl/robots_rules.h"
#include "fuzz_check.h"

namespace {

void CheckNormalised(std::string_view address) {
  using qm::fuzz::Check;
  const std::optional<std::string> normalised = qm::NormaliseCrawlAddress(address);
  if (!normalised) return;
  Check(normalised->starts_with("http://") || normalised->starts_with("https://"),
        "normalised address is not http or https");
  for (char c : *normalised) {
    const auto byte = static_cast<unsigned char>(c);
    Check(byte > 0x20 && byte < 0x7F, "normalised address holds a blank or non-ASCII byte");
  }
  Check(qm::NormaliseCrawlAddress(*normalised) == normalised,
        "normalising a normalised address changes it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using qm::fuzz::Check;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  for (const qm::TPageLink& link : qm::ExtractPageLinks(text, "http://example.com/d/p.html")) {
    CheckNormalised(link.Address);
  }
  CheckNormalised(text);
  qm::IsObviouslyNotText(text);

  const qm::TRobotsRules rules = qm::TRobotsRules::Parse(text, "qmharvest");
  rules.Allows("/");
  rules.Allows("/a/b.html?x=1");
  Check(rules.Allows("/robots.txt"), "robots.txt itself forbidden");
  const qm::TRobotsRules fixed =
      qm::TRobotsRules::Parse("User-agent: *\nDisallow: /a*b$\nAllow: /a\nDisallow: /%7e", "x");
  fixed.Allows(text);
  return 0;
}
