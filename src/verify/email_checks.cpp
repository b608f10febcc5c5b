#include "verify/email_checks.h"

#include <algorithm>
#include <array>
#include <string>

namespace qm::verify {
namespace {

constexpr size_t kMaxAddress = 254;
constexpr size_t kMaxLocalPart = 64;
constexpr size_t kMaxDomain = 255;
constexpr size_t kMaxLabel = 63;

// Without separators, lower case.
constexpr std::array<std::string_view, 52> kRoleNames = {
    "abuse",      "account",     "accounts",  "admin",     "administrator", "billing",
    "bounce",     "bounces",     "business",  "careers",   "contact",       "contactus",
    "customerservice", "daemon", "donotreply", "enquiries", "enquiry",      "feedback",
    "finance",    "help",        "helpdesk",  "hostmaster", "hr",           "info",
    "information", "jobs",       "kefu",      "legal",     "mail",          "mailerdaemon",
    "marketing",  "media",       "news",      "newsletter", "noc",          "noreply",
    "notifications", "office",   "postmaster", "press",    "privacy",       "reply",
    "root",       "sales",       "security",  "service",   "support",       "sysadmin",
    "team",       "webmaster",   "www",       "zhaopin",
};

static_assert(std::is_sorted(kRoleNames.begin(), kRoleNames.end()));

constexpr size_t kLongestRoleName = [] {
  size_t longest = 0;
  for (std::string_view name : kRoleNames) longest = std::max(longest, name.size());
  return longest;
}();

}  // namespace

bool SplitEmail(std::string_view address, TEmailParts& parts) {
  const size_t at = address.rfind('@');
  if (at == std::string_view::npos) return false;
  parts.Local = address.substr(0, at);
  parts.Domain = address.substr(at + 1);
  return true;
}

bool EmailTooLong(std::string_view address, const TEmailParts& parts) {
  if (address.size() > kMaxAddress || parts.Local.size() > kMaxLocalPart ||
      parts.Domain.size() > kMaxDomain) {
    return true;
  }
  std::string_view rest = parts.Domain;
  if (rest.ends_with('.')) rest.remove_suffix(1);  // the root's dot
  while (true) {
    const size_t dot = rest.find('.');
    const size_t label = dot == std::string_view::npos ? rest.size() : dot;
    if (label == 0 || label > kMaxLabel) return true;
    if (dot == std::string_view::npos) return false;
    rest.remove_prefix(dot + 1);
  }
}

bool IsRoleLocalPart(std::string_view local) {
  const size_t plus = local.find('+');
  if (plus != std::string_view::npos) local = local.substr(0, plus);
  char name[kLongestRoleName];
  size_t size = 0;
  for (char c : local) {
    if (c == '-' || c == '_' || c == '.') continue;
    if (size == sizeof name) return false;
    name[size++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return std::binary_search(kRoleNames.begin(), kRoleNames.end(), std::string_view(name, size));
}

}  // namespace qm::verify
