#include "crawl/robots_rules.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "crawl/percent_encoding.h"
#include "crawl/sitemap.h"
#include "http/url_resolve.h"
#include "text/trim.h"

namespace qm {
namespace {

constexpr uint32_t kNoPrefix = UINT32_MAX;

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

// The whole lines within the first `limit` bytes; a line whose end is the byte just past the
// limit is whole too.
std::string_view WholeLinesWithin(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  const size_t lastEnd = text.substr(0, limit + 1).find_last_of("\r\n");
  return lastEnd == std::string_view::npos ? std::string_view() : text.substr(0, lastEnd);
}

bool IsAnchored(std::string_view pattern) {
  return pattern.ends_with('$');
}

// The bytes before the first "*" (a "$" is an anchor only at the very end).
size_t LiteralPrefixLength(std::string_view pattern) {
  if (IsAnchored(pattern)) pattern.remove_suffix(1);
  return std::min(pattern.find('*'), pattern.size());
}

// Which bytes a path holds: a pattern needing any other byte cannot match, found without
// searching the path once per rule.
class TPathBytes {
 public:
  explicit TPathBytes(std::string_view path) {
    for (const char c : path) Set(c);
  }
  bool HasAll(std::string_view bytes) const {
    return std::all_of(bytes.begin(), bytes.end(), [this](char c) { return c == '*' || Has(c); });
  }

 private:
  void Set(char c) {
    const auto byte = static_cast<unsigned char>(c);
    Words[byte / 64] |= uint64_t{1} << (byte % 64);
  }
  bool Has(char c) const {
    const auto byte = static_cast<unsigned char>(c);
    return (Words[byte / 64] >> (byte % 64) & 1) != 0;
  }
  std::array<uint64_t, 4> Words{};
};

size_t FindFrom(std::string_view text, std::string_view needle, size_t from) {
  if (needle.empty()) return from;
  // glibc's memmem takes time linear in the text whatever the needle, unlike a naive search.
  const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// Whether `pattern` matches `path`, which starts with the pattern's literal prefix. Finding
// each "*"-separated segment leftmost, in order, leaves the most room for the next ones, so
// no backtracking is needed; an anchored pattern's last segment must end the path instead.
bool MatchesAfterLiteralPrefix(std::string_view pattern, size_t prefixLength, std::string_view path,
                               const TPathBytes& pathBytes) {
  const bool anchored = IsAnchored(pattern);
  if (anchored) pattern.remove_suffix(1);
  if (prefixLength == pattern.size()) return !anchored || path.size() == prefixLength;
  std::string_view rest = pattern.substr(prefixLength + 1);
  if (!pathBytes.HasAll(rest)) return false;
  size_t at = prefixLength;
  for (;;) {
    const size_t star = rest.find('*');
    const std::string_view segment = rest.substr(0, star);
    if (star == std::string_view::npos && anchored) {
      return path.size() - at >= segment.size() && path.ends_with(segment);
    }
    const size_t found = FindFrom(path, segment, at);
    if (found == std::string_view::npos) return false;
    if (star == std::string_view::npos) return true;
    at = found + segment.size();
    rest.remove_prefix(star + 1);
  }
}

struct TPendingRule {
  uint32_t Offset;
  uint32_t Length;
  bool Allow;
};

}  // namespace

// Rules grouped by literal prefix: a path is compared only with the rules whose prefix it
// starts with, and those are tried longest first so that a match usually ends the search.
struct TRobotsRules::TCompiled {
  struct TRule {
    uint32_t Offset;
    uint32_t Length : 31;
    uint32_t Allow : 1;
  };
  // The rules of one literal prefix are Rules[FirstRule, next prefix's FirstRule), longest
  // first, Allow before Disallow; the prefix is the first Length bytes of each.
  struct TPrefix {
    uint32_t FirstRule;
    uint32_t Length;
    // The longest prefix of this one that is a prefix too, or kNoPrefix.
    uint32_t Parent;
    // The longest pattern here or at any parent: the walk to the parents ends below it.
    uint32_t LongestInChain;
  };

  std::string Patterns;  // every pattern, in the order of Rules
  std::vector<TRule> Rules;
  std::vector<TPrefix> Prefixes;  // sorted by their bytes

  TCompiled(std::string_view patterns, std::vector<TPendingRule> pending);
  bool Allows(std::string_view path) const;

  std::string_view PatternOf(const TRule& rule) const {
    return std::string_view(Patterns).substr(rule.Offset, rule.Length);
  }
  std::string_view BytesOf(const TPrefix& prefix) const {
    return std::string_view(Patterns).substr(Rules[prefix.FirstRule].Offset, prefix.Length);
  }
  uint32_t EndRule(size_t prefixIndex) const {
    return prefixIndex + 1 < Prefixes.size() ? Prefixes[prefixIndex + 1].FirstRule
                                             : static_cast<uint32_t>(Rules.size());
  }
};

TRobotsRules::TCompiled::TCompiled(std::string_view patterns, std::vector<TPendingRule> pending) {
  const auto patternOf = [patterns](const TPendingRule& rule) {
    return patterns.substr(rule.Offset, rule.Length);
  };
  // A pattern given twice decides as its Allow would.
  std::sort(pending.begin(), pending.end(), [&](const TPendingRule& a, const TPendingRule& b) {
    const int order = patternOf(a).compare(patternOf(b));
    return order != 0 ? order < 0 : a.Allow > b.Allow;
  });
  pending.erase(std::unique(pending.begin(), pending.end(),
                            [&](const TPendingRule& a, const TPendingRule& b) {
                              return patternOf(a) == patternOf(b);
                            }),
                pending.end());
  const auto prefixOf = [&](const TPendingRule& rule) {
    const std::string_view pattern = patternOf(rule);
    return pattern.substr(0, LiteralPrefixLength(pattern));
  };
  std::sort(pending.begin(), pending.end(), [&](const TPendingRule& a, const TPendingRule& b) {
    const int order = prefixOf(a).compare(prefixOf(b));
    if (order != 0) return order < 0;
    return a.Length != b.Length ? a.Length > b.Length : a.Allow > b.Allow;
  });

  size_t bytes = 0;
  for (const TPendingRule& rule : pending) bytes += rule.Length;
  Patterns.reserve(bytes);
  Rules.reserve(pending.size());
  std::vector<uint32_t> openPrefixes;  // the current prefix and its parents
  for (const TPendingRule& rule : pending) {
    const std::string_view prefix = prefixOf(rule);
    if (Prefixes.empty() || prefix != BytesOf(Prefixes.back())) {
      while (!openPrefixes.empty() && !prefix.starts_with(BytesOf(Prefixes[openPrefixes.back()]))) {
        openPrefixes.pop_back();
      }
      const uint32_t parent = openPrefixes.empty() ? kNoPrefix : openPrefixes.back();
      const uint32_t longest =
          std::max(rule.Length, parent == kNoPrefix ? 0 : Prefixes[parent].LongestInChain);
      Prefixes.push_back({static_cast<uint32_t>(Rules.size()), static_cast<uint32_t>(prefix.size()),
                          parent, longest});
      openPrefixes.push_back(static_cast<uint32_t>(Prefixes.size() - 1));
    }
    Rules.push_back({static_cast<uint32_t>(Patterns.size()), rule.Length, rule.Allow ? 1u : 0u});
    Patterns += patternOf(rule);
  }
  Prefixes.shrink_to_fit();
}

bool TRobotsRules::TCompiled::Allows(std::string_view path) const {
  // The prefixes the path starts with are the last prefix not after it and some of its parents.
  const auto after = std::upper_bound(
      Prefixes.begin(), Prefixes.end(), path,
      [this](std::string_view p, const TPrefix& prefix) { return p < BytesOf(prefix); });
  if (after == Prefixes.begin()) return true;
  uint32_t at = static_cast<uint32_t>(after - Prefixes.begin() - 1);
  const std::string_view nearest = BytesOf(Prefixes[at]);
  const size_t shared = static_cast<size_t>(
      std::mismatch(nearest.begin(), nearest.end(), path.begin(), path.end()).first -
      nearest.begin());
  while (at != kNoPrefix && Prefixes[at].Length > shared) at = Prefixes[at].Parent;

  const TRule* decisive = nullptr;
  const auto beats = [&decisive](uint32_t length, bool allow) {
    return decisive == nullptr || length > decisive->Length ||
           (length == decisive->Length && allow && !decisive->Allow);
  };
  const TPathBytes pathBytes(path);
  for (; at != kNoPrefix; at = Prefixes[at].Parent) {
    const TPrefix& prefix = Prefixes[at];
    if (!beats(prefix.LongestInChain, true)) break;
    for (uint32_t i = prefix.FirstRule; i < EndRule(at); ++i) {
      const TRule& rule = Rules[i];
      if (decisive != nullptr && rule.Length < decisive->Length) break;
      if (beats(rule.Length, rule.Allow) &&
          MatchesAfterLiteralPrefix(PatternOf(rule), prefix.Length, path, pathBytes)) {
        decisive = &rule;
      }
    }
  }
  return decisive == nullptr || decisive->Allow;
}

TRobotsRules TRobotsRules::Parse(std::string_view text, std::string_view agentName) {
  text = WholeLinesWithin(text, kMaxRobotsTxtBytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string_view wholeText = text;
  const std::string agent = AsciiLower(agentName);
  std::string ourPatterns;
  std::string starPatterns;
  std::vector<TPendingRule> ourRules;
  std::vector<TPendingRule> starRules;
  bool foundOurGroup = false;
  bool groupIsOurs = false;
  bool groupIsStar = false;
  bool inGroup = false;
  bool lastWasAgentLine = false;
  const auto keep = [](std::string& patterns, std::vector<TPendingRule>& rules,
                       std::string_view pattern, bool allow) {
    rules.push_back(
        {static_cast<uint32_t>(patterns.size()), static_cast<uint32_t>(pattern.size()), allow});
    patterns += pattern;
  };
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
      const std::string pattern = WithCanonicalPercentEncoding(value);
      if (groupIsOurs) keep(ourPatterns, ourRules, pattern, key == "allow");
      if (groupIsStar) keep(starPatterns, starRules, pattern, key == "allow");
    }
    // Other records (Sitemap, Crawl-delay, ...) neither end a group nor join one.
  }
  TRobotsRules rules;
  if (std::vector<std::string> sitemaps = RobotsTxtSitemaps(wholeText, kMaxSitemapLines);
      !sitemaps.empty()) {
    rules.SitemapLines = std::make_shared<const std::vector<std::string>>(std::move(sitemaps));
  }
  if (foundOurGroup ? ourRules.empty() : starRules.empty()) return rules;
  rules.Compiled = foundOurGroup
                       ? std::make_shared<const TCompiled>(ourPatterns, std::move(ourRules))
                       : std::make_shared<const TCompiled>(starPatterns, std::move(starRules));
  return rules;
}

TRobotsRules TRobotsRules::DisallowAll() {
  TRobotsRules rules;
  rules.Compiled = std::make_shared<const TCompiled>("/", std::vector<TPendingRule>{{0, 1, false}});
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
  return Compiled == nullptr || Compiled->Allows(path);
}

const std::vector<std::string>& TRobotsRules::Sitemaps() const {
  static const std::vector<std::string> none;
  return SitemapLines ? *SitemapLines : none;
}

size_t TRobotsRules::MemoryBytes() const {
  size_t sitemapBytes = 0;
  if (SitemapLines) {
    for (const std::string& line : *SitemapLines) sitemapBytes += sizeof(line) + line.capacity();
  }
  if (Compiled == nullptr) return sitemapBytes;
  // The shared block's counts and allocator overhead are a guess.
  return sitemapBytes + sizeof(TCompiled) + 32 + Compiled->Patterns.capacity() +
         Compiled->Rules.capacity() * sizeof(TCompiled::TRule) +
         Compiled->Prefixes.capacity() * sizeof(TCompiled::TPrefix);
}

std::string RobotsTxtAddressOf(std::string_view absoluteAddress) {
  TUriReference parts = ParseUriReference(absoluteAddress);
  parts.Path = "/robots.txt";
  parts.Query.reset();
  parts.Fragment.reset();
  return ComposeUriReference(parts);
}

}  // namespace qm
