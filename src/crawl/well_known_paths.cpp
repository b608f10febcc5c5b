#include "crawl/well_known_paths.h"

#include "http/url_resolve.h"

namespace qm {

const std::vector<std::string_view>& WellKnownContactPaths() {
  // English names first, then the pinyin ones Chinese sites use (联系我们, 关于我们).
  static const std::vector<std::string_view> paths = {
      "/contact",     "/contact.html", "/contact-us", "/contactus",   "/contact.php",
      "/contact.htm", "/lianxi",       "/lxwm",       "/lianxi.html", "/about",
      "/about.html",  "/aboutus",      "/about-us",   "/gywm"};
  return paths;
}

std::vector<std::string> WellKnownContactAddresses(std::string_view absoluteAddress) {
  TUriReference parts = ParseUriReference(absoluteAddress);
  parts.Query.reset();
  parts.Fragment.reset();
  std::vector<std::string> addresses;
  for (const std::string_view path : WellKnownContactPaths()) {
    parts.Path = std::string(path);
    addresses.push_back(ComposeUriReference(parts));
  }
  return addresses;
}

}  // namespace qm
