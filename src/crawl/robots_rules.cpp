#include "crawl/robots_rules.h"

#include "crawl/percent_encoding.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The next line of `text` without its end (LF, CR LF or a lone CR); `text` moves past it.
std::string_view TakeLine(std::string_view& text) {
  const size_t end = text.find_first_of("\r\n");
  const std::string_view line = text.substr(0, end);
  if (end == std::string_view::npos) {
    text = {};
  } else {
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
  }
  return line;
}

// "*" stands for any run of bytes; a "$" at the end anchors the pattern at the path's end;
// otherwise the pattern needs to match only the path's beginning.
// `reachable` is scratch space, kept by the caller across rules.
bool PatternMatches(std::string_view pattern, std::string_view path, std::string& reachable) {
  const bool anchored = !pattern.empty() && pattern.back() == '$';
  if (anchored) pattern.remove_suffix(1);
  // reachable[i]: the pattern read so far can match exactly the first i bytes of the path.
  reachable.assign(path.size() + 1, 0);
  reachable[0] = 1;
  for (char p : pattern) {
    bool any = false;
    if (p == '*') {
      for (size_t i = 1; i <= path.size(); ++i) reachable[i] |= reachable[i - 1];
      any = true;  // position 0 or later stays reachable
    } else {
      for (size_t i = path.size(); i >= 1; --i) {
        reachable[i] = reachable[i - 1] && path[i - 1] == p;
        any = any || reachable[i];
      }
      reachable[0] = 0;
    }
    if (!any) return false;
  }
  if (anchored) return reachable[path.size()] != 0;
  for (char r : reachable) {
    if (r) return true;
  }
  return false;
}

}  // namespace

TRobotsRules TRobotsRules::Parse(std::string_view text, std::string_view agentName) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string agent = AsciiLower(agentName);
  std::vector<TRule> ourRules;
  std::vector<TRule> starRules;
  bool foundOurGroup = false;
  bool groupIsOurs = false;
  bool groupIsStar = false;
  bool inGroup = false;
  bool lastWasAgentLine = false;
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    line = line.substr(0, line.find('#'));
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string key = AsciiLower(TrimBlanks(line.substr(0, colon)));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (key == "user-agent") {
      if (!lastWasAgentLine) groupIsOurs = groupIsStar = false;
      // The product token: "Name/1.0 (details)" names "name".
      const std::string token = AsciiLower(value.substr(0, value.find_first_of(" \t/")));
      if (token == "*") {
        groupIsStar = true;
      } else if (!token.empty() && token == agent) {
        groupIsOurs = foundOurGroup = true;
      }
      inGroup = lastWasAgentLine = true;
    } else if (key == "allow" || key == "disallow") {
      lastWasAgentLine = false;
      // An empty value forbids nothing.
      if (!inGroup || value.empty()) continue;
      const TRule rule{WithCanonicalPercentEncoding(value), key == "allow"};
      if (groupIsOurs) ourRules.push_back(rule);
      if (groupIsStar) starRules.push_back(rule);
    }
    // Other records (Sitemap, Crawl-delay, ...) neither end a group nor join one.
  }
  TRobotsRules rules;
  rules.Rules = foundOurGroup ? std::move(ourRules) : std::move(starRules);
  return rules;
}

TRobotsRules TRobotsRules::DisallowAll() {
  TRobotsRules rules;
  rules.Rules.push_back({"/", false});
  return rules;
}

TRobotsRules TRobotsRules::FromAnswer(int statusCode, std::string_view body,
                                      std::string_view agentName) {
  if (statusCode >= 200 && statusCode <= 299) return Parse(body, agentName);
  if (statusCode >= 300 && statusCode <= 499) return TRobotsRules();
  return DisallowAll();
}

bool TRobotsRules::Allows(std::string_view pathAndQuery) const {
  std::string path = WithCanonicalPercentEncoding(pathAndQuery);
  if (path.empty()) path.push_back('/');
  if (path == "/robots.txt") return true;
  const TRule* decisive = nullptr;
  std::string reachable;
  for (const TRule& rule : Rules) {
    if (!PatternMatches(rule.Pattern, path, reachable)) continue;
    if (decisive == nullptr || rule.Pattern.size() > decisive->Pattern.size() ||
        (rule.Pattern.size() == decisive->Pattern.size() && rule.Allow)) {
      decisive = &rule;
    }
  }
  return decisive == nullptr || decisive->Allow;
}

std::string RobotsTxtAddressOf(std::string_view absoluteAddress) {
  TUriReference parts = ParseUriReference(absoluteAddress);
  parts.Path = "/robots.txt";
  parts.Query.reset();
  parts.Fragment.reset();
  return ComposeUriReference(parts);
}

}  // namespace qm
