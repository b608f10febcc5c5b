#include "crawl/robots_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

constexpr const char* kAgent = "qmharvest";

struct MatchRow {
  const char* robotsTxt;
  const char* path;
  bool allowed;
};

TEST(RobotsRules, GroupsAndPrecedence) {
  const MatchRow rows[] = {
      // No rules, or none for us: everything is allowed.
      {"", "/x", true},
      {"User-agent: other\nDisallow: /\n", "/x", true},
      {"Disallow: /\n", "/x", true},  // a rule outside any group
      // The "*" group, and our own group instead of it when there is one.
      {"User-agent: *\nDisallow: /private\n", "/private/a.html", false},
      {"User-agent: *\nDisallow: /private\n", "/privately", false},
      {"User-agent: *\nDisallow: /private\n", "/public", true},
      {"User-agent: *\nDisallow: /\n\nUser-agent: QMHarvest\nDisallow: /x\n", "/y", true},
      {"User-agent: *\nDisallow: /\n\nUser-agent: qmharvest/2.0\nDisallow:\n", "/y", true},
      {"User-agent: *\nDisallow: /y\n\nUser-agent: qmharvest\nAllow: /\n", "/y", true},
      // Several agents share a group; groups for the same agent combine.
      {"User-agent: a\nUser-agent: qmharvest\nDisallow: /a\n", "/a", false},
      {"User-agent: qmharvest\nDisallow: /a\n\nUser-agent: qmharvest\nDisallow: /b\n", "/b", false},
      // A user-agent line after rules starts a new group.
      {"User-agent: qmharvest\nDisallow: /a\nUser-agent: other\nDisallow: /b\n", "/b", true},
      // Other records do not end a group.
      {"User-agent: *\nCrawl-delay: 5\nDisallow: /a\n", "/a", false},
      // Longest match decides; Allow wins a tie.
      {"User-agent: *\nDisallow: /shop\nAllow: /shop/contact\n", "/shop/contact.html", true},
      {"User-agent: *\nAllow: /shop\nDisallow: /shop/cart\n", "/shop/cart", false},
      {"User-agent: *\nDisallow: /page\nAllow: /page\n", "/page", true},
      {"User-agent: *\nAllow: /$\nDisallow: /\n", "/", true},
      {"User-agent: *\nAllow: /$\nDisallow: /\n", "/index.html", false},
      // Wildcards.
      {"User-agent: *\nDisallow: /*.php$\n", "/a/b.php", false},
      {"User-agent: *\nDisallow: /*.php$\n", "/a/b.php?x=1", true},
      {"User-agent: *\nDisallow: /*?\n", "/list?page=2", false},
      {"User-agent: *\nDisallow: /*/print/*\n", "/news/print/7", false},
      {"User-agent: *\nDisallow: /*/print/*\n", "/print/7", true},
      {"User-agent: *\nDisallow: /a$b\n", "/a$b", false},
      // Syntax: case of field names, blanks, comments, CR LF and lone CR, a byte order mark.
      {"\xEF\xBB\xBFuser-AGENT : *\r\nDISALLOW:/x # no\r\n", "/x", false},
      {"User-agent: *\rDisallow: /x\r", "/x", false},
      {"User-agent: * # everyone\nDisallow: /x#y\n", "/x", false},
      // Percent-encoding is compared in one spelling.
      {"User-agent: *\nDisallow: /%7euser\n", "/~user/a", false},
      {"User-agent: *\nDisallow: /联系\n", "/%E8%81%94%E7%B3%BB/", false},
      {"User-agent: *\nDisallow: /a%2fb\n", "/a%2Fb", false},
      {"User-agent: *\nDisallow: /a%2fb\n", "/a/b", true},
      // robots.txt itself is always allowed.
      {"User-agent: *\nDisallow: /\n", "/robots.txt", true},
  };
  for (const MatchRow& row : rows) {
    SCOPED_TRACE(std::string(row.robotsTxt) + " -> " + row.path);
    EXPECT_EQ(TRobotsRules::Parse(row.robotsTxt, kAgent).Allows(row.path), row.allowed);
  }
}

TEST(RobotsRules, WildcardsAnchorsAndPrefixes) {
  const MatchRow rows[] = {
      // Segments found in order, each after the one before.
      {"User-agent: *\nDisallow: /a*a*b\n", "/aab", false},
      {"User-agent: *\nDisallow: /a*a*b\n", "/ab", true},
      {"User-agent: *\nDisallow: /*aab\n", "/aaab", false},
      {"User-agent: *\nDisallow: *\n", "/anything", false},
      // An anchored last segment ends the path and starts after the segment before it.
      {"User-agent: *\nDisallow: /*ab$\n", "/abab", false},
      {"User-agent: *\nDisallow: /*ab$\n", "/aba", true},
      {"User-agent: *\nDisallow: /*ab*ba$\n", "/aba", true},
      {"User-agent: *\nDisallow: /*ab*ba$\n", "/abba", false},
      {"User-agent: *\nDisallow: $\n", "/", true},
      {"User-agent: *\nDisallow: /a$$\n", "/a$", false},
      // A "*" in the path is a byte like any other; an encoded one in a pattern is no wildcard.
      {"User-agent: *\nDisallow: /a*c\n", "/a*c", false},
      {"User-agent: *\nDisallow: /a%2Ab\n", "/axb", true},
      {"User-agent: *\nDisallow: /a%2Ab\n", "/a%2ab", false},
      // The longest pattern decides whatever its literal beginning.
      {"User-agent: *\nAllow: /shop/\nDisallow: /*/contact-us/page\n", "/shop/contact-us/page",
       false},
      {"User-agent: *\nDisallow: /ab*\nAllow: /*bc\n", "/abc", true},
      {"User-agent: *\nAllow: /*bc\nDisallow: /ab*\n", "/abc", true},
      {"User-agent: *\nAllow: /a$\nDisallow: /a\n", "/a", true},
      {"User-agent: *\nDisallow: /x\nAllow: /x\nDisallow: /x\n", "/x", true},
      // A longer pattern that fails leaves the decision to shorter ones.
      {"User-agent: *\nAllow: /abc*zz\nDisallow: /ab\nAllow: /a\n", "/abcd", false},
      // Prefixes beside the path's own are passed over.
      {"User-agent: *\nDisallow: /a\nAllow: /ab\nAllow: /ac\n", "/ad", false},
      {"User-agent: *\nDisallow: /a\nAllow: /ab\nAllow: /ac\n", "/acx", true},
  };
  for (const MatchRow& row : rows) {
    SCOPED_TRACE(std::string(row.robotsTxt) + " -> " + row.path);
    EXPECT_EQ(TRobotsRules::Parse(row.robotsTxt, kAgent).Allows(row.path), row.allowed);
  }
}

// Whether `pattern` matches the beginning of `path` (all of it with a final "$"), by trying
// every split: slow and plainly right.
bool NaiveMatches(std::string_view pattern, std::string_view path, bool anchored) {
  if (pattern.empty()) return !anchored || path.empty();
  if (pattern.front() == '*') {
    for (size_t skip = 0; skip <= path.size(); ++skip) {
      if (NaiveMatches(pattern.substr(1), path.substr(skip), anchored)) return true;
    }
    return false;
  }
  return !path.empty() && path.front() == pattern.front() &&
         NaiveMatches(pattern.substr(1), path.substr(1), anchored);
}

TEST(RobotsRules, AgreesWithTryingEverySplit) {
  std::mt19937 random(5);
  const auto text = [&random](size_t maxLength) {
    std::string out;
    for (size_t n = random() % (maxLength + 1); n > 0; --n) out += "ab/*$"[random() % 5];
    return out;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string robotsTxt = "User-agent: *\n";
    std::vector<std::pair<std::string, bool>> rules;
    for (int i = random() % 6; i >= 0; --i) {
      rules.emplace_back((random() % 4 ? "/" : "") + text(6), random() % 2 == 0);
      if (rules.back().first.empty()) rules.back().first = "*";
      robotsTxt += (rules.back().second ? "Allow: " : "Disallow: ") + rules.back().first + "\n";
    }
    const std::string path = "/" + text(8);
    const std::pair<std::string, bool>* decisive = nullptr;
    for (const auto& rule : rules) {
      std::string_view pattern = rule.first;
      const bool anchored = pattern.ends_with('$');
      if (anchored) pattern.remove_suffix(1);
      if (!NaiveMatches(pattern, path, anchored)) continue;
      if (decisive == nullptr || rule.first.size() > decisive->first.size() ||
          (rule.first.size() == decisive->first.size() && rule.second)) {
        decisive = &rule;
      }
    }
    const bool expected = decisive == nullptr || decisive->second || path == "/robots.txt";
    ASSERT_EQ(TRobotsRules::Parse(robotsTxt, kAgent).Allows(path), expected)
        << robotsTxt << " -> " << path;
  }
}

TEST(RobotsRules, ReadsOnlyWholeLinesOfTheFirst500KiB) {
  constexpr size_t limit = TRobotsRules::kMaxRobotsTxtBytes;
  // Filler comments bring the next line to `end` bytes from the start.
  const auto fileWithLineEndingAt = [](size_t end, const std::string& line) {
    std::string text = "User-agent: *\n";
    while (text.size() + 100 < end - line.size()) text += "# " + std::string(97, 'x') + "\n";
    text += "#" + std::string(end - line.size() - text.size() - 2, 'x') + "\n";
    return text + line;
  };
  struct Row {
    size_t end;
    const char* line;
    const char* path;
    bool allowed;
  };
  const Row rows[] = {
      {limit, "Disallow: /in\n", "/in", false},
      {limit + 1, "Disallow: /in\n", "/in", false},  // only its line end past the limit
      {limit + 1, "Disallow: /in\r\n", "/in", false},
      {limit, "Disallow: /in", "/in", false},         // the file's end is a line's end
      {limit + 4, "Disallow: /abcd\n", "/ab", true},  // cut, it would read "/ab"
      {limit + 4, "Disallow: /abcd\n", "/abcd", true},
  };
  for (const Row& row : rows) {
    const std::string text = fileWithLineEndingAt(row.end, row.line);
    ASSERT_EQ(text.size(), row.end);
    SCOPED_TRACE(std::string(row.line) + " ending at " + std::to_string(row.end));
    EXPECT_EQ(TRobotsRules::Parse(text, kAgent).Allows(row.path), row.allowed);
  }
  // Lines past the limit count for nothing, even when no line ends within it.
  const std::string past = fileWithLineEndingAt(limit, "Allow: /x\n") + "Disallow: /\n";
  EXPECT_TRUE(TRobotsRules::Parse(past, kAgent).Allows("/y"));
  const std::string longFirstLine = std::string(limit + 1, '#') + "\nUser-agent: *\nDisallow: /\n";
  EXPECT_TRUE(TRobotsRules::Parse(longFirstLine, kAgent).Allows("/y"));
}

// 27,000 distinct rules of many stars against 64 KiB paths: each rule ends in two bytes that
// are not "a", so a path of "a" ends where each rule needs its last bytes.
TEST(RobotsRules, HostileFileAnswersLongPathsFromEveryThread) {
  const std::string lastBytes = "bcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string text = "User-agent: *\n";
  for (size_t n = 0; n < 27000; ++n) {
    std::string pattern = "/";
    for (size_t bit = 0; bit < 5; ++bit) pattern += (n >> bit) & 1 ? '*' : 'a';
    pattern += lastBytes[(n / 32) % lastBytes.size()];
    pattern += lastBytes[n / (32 * lastBytes.size())];
    text += "Disallow:" + pattern + "\n";
  }
  // The file's last line outweighs them all for paths ending in "cb".
  text += "Allow:/*a*a*a*a*a*a*a*cb\n";
  ASSERT_LT(text.size(), TRobotsRules::kMaxRobotsTxtBytes);
  const std::string as(65530, 'a');
  const std::array<std::pair<std::string, bool>, 5> queries = {{
      {"/" + as, true},
      {"/" + as + "db", false},
      {"/" + as + "cb", true},
      {"/" + as + "zz", true},
      {"/%61" + as + "%64b?q", false},
  }};
  const TRobotsRules rules = TRobotsRules::Parse(text, kAgent);
  const size_t memory = rules.MemoryBytes();
  EXPECT_GT(memory, 27000u * 7);
  EXPECT_LT(memory, 2 * text.size());

  std::array<std::array<bool, 5>, 4> answers{};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < answers.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t q = 0; q < queries.size(); ++q) answers[t][q] = rules.Allows(queries[q].first);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < answers.size(); ++t) {
    for (size_t q = 0; q < queries.size(); ++q) {
      EXPECT_EQ(answers[t][q], queries[q].second) << "thread " << t << ", query " << q;
    }
  }
  EXPECT_EQ(rules.MemoryBytes(), memory);
  EXPECT_EQ(TRobotsRules().MemoryBytes(), 0u);
}

TEST(RobotsRules, FromAnswerStatus) {
  const char* forbidAll = "User-agent: *\nDisallow: /\n";
  struct Row {
    int status;
    bool allowed;
  };
  const Row rows[] = {{200, false}, {404, true},  {403, true}, {301, true},
                      {500, false}, {503, false}, {0, false}};
  for (const Row& row : rows) {
    // The body counts only for a success; an error page's text is no robots.txt.
    const char* body = row.status == 200 ? forbidAll : "<html>error</html>";
    EXPECT_EQ(TRobotsRules::FromAnswer(row.status, body, kAgent).Allows("/a"), row.allowed)
        << row.status;
  }
}

TEST(RobotsTxtAddressOf, SchemeAndAuthorityKept) {
  EXPECT_EQ(RobotsTxtAddressOf("https://user@example.com:8443/a/b?c#d"),
            "https://user@example.com:8443/robots.txt");
  EXPECT_EQ(RobotsTxtAddressOf("http://example.com"), "http://example.com/robots.txt");
}

}  // namespace
}  // namespace qm
