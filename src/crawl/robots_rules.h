#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// What a site's robots.txt lets one agent fetch (RFC 9309): the groups naming the agent, or
// else the groups of "*", their Allow and Disallow rules combined; the longest matching
// pattern decides, Allow on a tie; "*" matches any run of bytes and a final "$" the end.
// Copies share the parsed rules, which never change, so any number of threads may ask at once.
class TRobotsRules {
 public:
  // RFC 9309 lets a crawler read no further; a file beyond it is cut at its last whole line.
  static constexpr size_t kMaxRobotsTxtBytes = 500 * 1024;

  // Allows everything.
  TRobotsRules() = default;

  static TRobotsRules Parse(std::string_view robotsTxt, std::string_view agentName);
  static TRobotsRules DisallowAll();
  // The rules that an answer to "GET /robots.txt" (after redirects) gives: its body's when it
  // succeeded; none when the file is not there (4xx, or redirects that never ended); every
  // path forbidden when the server failed (5xx) or gave no answer (status 0).
  static TRobotsRules FromAnswer(int statusCode, std::string_view body, std::string_view agentName);

  // `pathAndQuery` as in a request line: "/a/b?c". Time linear in the path plus the rules whose
  // literal beginning the path starts with.
  bool Allows(std::string_view pathAndQuery) const;

  // About the bytes the rules hold on the heap; every copy shares them.
  size_t MemoryBytes() const;

  // The file's "Sitemap:" addresses, at most kMaxSitemapLines, whatever group they stand in.
  static constexpr size_t kMaxSitemapLines = 8;
  const std::vector<std::string>& Sitemaps() const;

 private:
  struct TCompiled;
  std::shared_ptr<const TCompiled> Compiled;
  std::shared_ptr<const std::vector<std::string>> SitemapLines;
};

// Where the robots.txt of an address's site is: its scheme and authority, "/robots.txt".
std::string RobotsTxtAddressOf(std::string_view absoluteAddress);

}  // namespace qm
