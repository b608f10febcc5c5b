#include "crawl/robots_rules.h"

#include <gtest/gtest.h>

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
