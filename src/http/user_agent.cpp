#include "http/user_agent.h"

#include "text/trim.h"

namespace qm {
namespace {

constexpr std::string_view kProgramToken = "qmharvest";

bool IsTokenChar(char c) {
  // RFC 9309: a product token is letters, "_" and "-".
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

std::string LeadingToken(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && IsTokenChar(text[end])) ++end;
  return AsciiLower(text.substr(0, end));
}

}  // namespace

std::string DefaultUserAgent() {
  return std::string(kProgramToken) + "/" + QM_VERSION;
}

std::string UserAgentHeaderValue(std::string_view configured) {
  std::string value;
  for (const char c : configured) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) continue;
    value.push_back(c);
  }
  value = Trim(value);
  if (value.size() > kMaxUserAgentBytes) value.resize(kMaxUserAgentBytes);
  return value.empty() ? DefaultUserAgent() : value;
}

std::string RobotsProductToken(std::string_view userAgent) {
  const std::string value = UserAgentHeaderValue(userAgent);
  std::string token = LeadingToken(value);
  if (token == "mozilla") {
    const std::string lower = AsciiLower(value);
    const size_t compatible = lower.find("compatible;");
    if (compatible != std::string::npos) {
      size_t at = compatible + 11;
      while (at < value.size() && value[at] == ' ') ++at;
      if (std::string named = LeadingToken(std::string_view(value).substr(at)); !named.empty()) {
        return named;
      }
    }
  }
  return token.empty() ? std::string(kProgramToken) : token;
}

}  // namespace qm
