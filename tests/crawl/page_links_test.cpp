#include "crawl/page_links.h"

#include <gtest/gtest.h>

#include "crawl/html_nesting_guard.h"

namespace qm {
namespace {

std::string Describe(const std::vector<TPageLink>& links) {
  std::string out;
  for (const TPageLink& link : links) out += link.Address + " [" + link.Text + "]\n";
  return out;
}

TEST(ExtractPageLinks, Table) {
  const char* page = "http://example.com/dir/index.html";
  struct Row {
    const char* html;
    const char* expected;  // "address [text]" per line
  };
  const Row rows[] = {
      {"<a href=contact.html>Contact</a>", "http://example.com/dir/contact.html [Contact]\n"},
      {"<a href='/about'>关于 <b>我们</b></a><a href=\"../x?a=1&amp;b=2\">X</a>",
       "http://example.com/about [关于 我们]\nhttp://example.com/x?a=1&b=2 [X]\n"},
      {"<A HREF=\"//other.org/p\" title=\"联系方式\">\n  more\n  </A>",
       "http://other.org/p [more 联系方式]\n"},
      {"<a href=\"  /a\tb\n.html \"><img src=i.png alt=\"Kontakt\"></a>",
       "http://example.com/ab.html [Kontakt]\n"},
      {"<a href=\"news\\list.html\">News</a>", "http://example.com/dir/news/list.html [News]\n"},
      {"<a href=\"&#x2F;team&period;html\">T</a>", "http://example.com/team.html [T]\n"},
      // <base href>, itself relative, applies to links before it too; only the first counts.
      {"<a href=x.html>X</a><base href=\"/sub/\"><base href=\"http://wrong/\">",
       "http://example.com/sub/x.html [X]\n"},
      // A refresh sends the visitor on.
      {"<meta http-equiv=Refresh content=\"0; URL = 'cn/index.asp'\">",
       "http://example.com/dir/cn/index.asp []\n"},
      {"<meta http-equiv=\"refresh\" content=\"3;/next\"><meta http-equiv=refresh content=5>",
       "http://example.com/next []\n"},
      // Image maps and frames.
      {"<map><area href=\"/c\" alt=\"Contact\" title=\"Write\"></map>",
       "http://example.com/c [Contact Write]\n"},
      {"<frameset><frame src=\"top.html\"><frame src=\"main.html\"></frameset>",
       "http://example.com/dir/top.html []\nhttp://example.com/dir/main.html []\n"},
      // Same-page fragments, anchors without href, and links inside comments or scripts
      // are no links; other schemes come out as written for the caller to judge.
      {"<a href=\"#top\">Top</a><a name=x>X</a><!-- <a href=c.html>c</a> -->"
       "<script>var s = '<a href=d.html>d</a>';</script><a href=\"mailto:a@b.cn\">M</a>",
       "mailto:a@b.cn [M]\n"},
      // Unclosed and misnested tags as real pages have them.
      {"<table><tr><td><a href=a.html>A<td><a href=b.html>B</table>",
       "http://example.com/dir/a.html [A]\nhttp://example.com/dir/b.html [B]\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.html);
    EXPECT_EQ(Describe(ExtractPageLinks(row.html, page)), row.expected);
  }
}

TEST(ExtractPageLinks, UnclosedAnchorTextIsCutAtACharacter) {
  std::string html = "<a href=/a>";
  for (int i = 0; i < 1000; ++i) html += "联系 ";
  const std::vector<TPageLink> links = ExtractPageLinks(html, "http://example.com/");
  ASSERT_EQ(links.size(), 1u);
  EXPECT_LE(links[0].Text.size(), 256u);
  EXPECT_GE(links[0].Text.size(), 250u);
  EXPECT_TRUE(links[0].Text.ends_with("联") || links[0].Text.ends_with("系")) << links[0].Text;
}

TEST(LengthWithinNestingDepth, Table) {
  struct Row {
    std::string html;
    size_t expected;  // npos: the whole page
  };
  const std::string deep = "<div><div><div>";
  const Row rows[] = {
      {"<div><div></div></div><div>", std::string::npos},
      {"<div><div><div><div>", 15},
      {deep + "x", std::string::npos},
      // Void elements, omitted end tags and self-closing foreign elements do not deepen.
      {"<p><p><li><li><br><img src=a><td><div>", std::string::npos},
      {"<svg><path/><path/><path/></svg><div>", std::string::npos},
      // Elsewhere "/>" is ignored, as the parser does.
      {"<div/><div/><div/><div/>", 18},
      // Tags in comments, scripts and attribute values are text.
      {"<!-- <div><div><div><div> --><div>", std::string::npos},
      {"<script>'<div><div><div><div>'</SCRIPT><div>", std::string::npos},
      {"<div title='><div><div><div>'>", std::string::npos},
      {"<", std::string::npos},
      {"a < b <!DOCTYPE html> <? x ?>", std::string::npos},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.html);
    const size_t expected = row.expected == std::string::npos ? row.html.size() : row.expected;
    EXPECT_EQ(LengthWithinNestingDepth(row.html, 3), expected);
  }
}

TEST(ExtractPageLinks, DeeplyNestedPageKeepsLinksBeforeTheCut) {
  std::string html = "<a href=/first>First</a>";
  for (int i = 0; i < 200000; ++i) html += "<div>";
  html += "<a href=/deep>Deep</a>";
  EXPECT_EQ(Describe(ExtractPageLinks(html, "http://example.com/")),
            "http://example.com/first [First]\n");
}

}  // namespace
}  // namespace qm
