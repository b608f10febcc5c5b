#include "cli/verify_options.h"

#include "verify/mail_domain_resolver.h"

namespace qm::cli {

std::string ResolverOption(const ParsedCommand& parsed) {
  const std::optional<std::string> resolver = parsed.Value("--resolver");
  if (!resolver) return {};
  if (!verify::ParseResolverAddress(*resolver)) {
    throw UsageError("option --resolver takes ADDR:PORT (an IPv4 address, or an IPv6 one in "
                     "brackets, and a port from 1 to 65535), not '" + *resolver + "'");
  }
  return *resolver;
}

}  // namespace qm::cli
